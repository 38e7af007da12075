#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

/** Our stand-in for the platform's notification centre: named notifications, each carrying an
    optional text object, delivered synchronously to every observer of the name.
*/
struct Notification
{
    std::string name;
    std::optional<std::string> object;
};

class NotificationCenter final
{
public:
    using Handler = std::function<void (const Notification&)>;

    /** The process's one default centre. */
    [[nodiscard]] static NotificationCenter& defaultCenter();

    NotificationCenter() = default;

    /** From now on every post of `name`, whatever its object, calls `handler` in the posting
        thread before the post returns. The centre does not own the observer.
    */
    void addObserver (const void* observer, const std::string& name, Handler handler);

    /** The observer stops observing every name; no later post reaches it, even one under way. */
    void removeObserver (const void* observer);

    /** Delivers the notification to every observer of the name before returning. Observers may be
        added or removed from inside a handler.
    */
    void postNotification (const std::string& name, std::optional<std::string> object);

private:
    struct Registration;

    std::mutex lock;
    std::vector<std::shared_ptr<Registration>> registrations;

    NotificationCenter (const NotificationCenter&) = delete;
    NotificationCenter& operator= (const NotificationCenter&) = delete;
};
