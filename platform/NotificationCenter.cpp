#include "platform/NotificationCenter.h"

#include <algorithm>

// A registration is shared between the centre and every post that has taken a snapshot of it, so
// a post under way never touches a freed registration. `calling` is held while its handler runs:
// removeObserver takes it before it returns, so it waits for a call running on another thread,
// while the handler's own thread may still remove itself (the mutex is recursive).
struct NotificationCenter::Registration
{
    const void* observer = nullptr;
    std::string name;
    Handler handler;

    std::recursive_mutex calling;
    bool active = true;   // guarded by `calling`
};

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter centre;
    return centre;
}

void NotificationCenter::addObserver (const void* observer, const std::string& name, Handler handler)
{
    auto registration = std::make_shared<Registration>();
    registration->observer = observer;
    registration->name = name;
    registration->handler = std::move (handler);

    const std::scoped_lock guard (lock);
    registrations.push_back (std::move (registration));
}

void NotificationCenter::removeObserver (const void* observer)
{
    std::vector<std::shared_ptr<Registration>> removed;

    {
        const std::scoped_lock guard (lock);

        for (auto it = registrations.begin(); it != registrations.end();)
        {
            if ((*it)->observer == observer)
            {
                removed.push_back (std::move (*it));
                it = registrations.erase (it);
            }
            else
            {
                ++it;
            }
        }
    }

    // Outside the centre's lock: a handler running elsewhere may itself need that lock.
    for (auto& registration : removed)
    {
        const std::scoped_lock guard (registration->calling);
        registration->active = false;
    }
}

void NotificationCenter::postNotification (const std::string& name, std::optional<std::string> object)
{
    std::vector<std::shared_ptr<Registration>> receivers;

    {
        const std::scoped_lock guard (lock);

        for (const auto& registration : registrations)
            if (registration->name == name)
                receivers.push_back (registration);
    }

    const Notification notification { name, std::move (object) };

    for (const auto& registration : receivers)
    {
        const std::scoped_lock guard (registration->calling);

        if (registration->active)
            registration->handler (notification);
    }
}
