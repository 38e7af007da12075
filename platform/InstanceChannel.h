#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

/** The per-user single instance and the delivery of a later launch's URL or command line to it.

    Every launch of one user meets in one private folder: a lock file, whose flock marks the
    running instance, and a Unix stream socket on which that instance listens. The kernel drops the
    flock when its holder dies, so a crashed instance never blocks the next start. Both ends check
    the peer's uid on every connection, so only the same user can deliver or answer.
*/
class InstanceChannel final
{
public:
    /** What a later launch hands over. */
    struct Message
    {
        enum class Kind : char
        {
            url = 'U',
            commandLine = 'C'
        };

        Kind kind = Kind::commandLine;
        std::string text;

        bool operator== (const Message&) const = default;
    };

    /** The largest text that one message may carry; longer ones are refused on both ends. */
    static constexpr std::size_t maximumTextSize = 64 * 1024;

    /** How long the instance waits for one connection to deliver and confirm its message. */
    static constexpr std::chrono::milliseconds readTimeout { 2000 };

    /** How many connections the instance serves at once; further ones wait in the listen backlog. */
    static constexpr std::size_t maximumOpenConnections = 32;

    /** The folder of this user's channel: `runtimeDirectory` when it is a usable private folder
        (absolute, a real directory owned by us without group or other access, short enough for a
        socket path); otherwise `userRuntimeBase`/<uid> when that is usable, so that a launch whose
        environment lacks the variable meets an instance whose environment has it; otherwise the
        first of `temporaryBase`/zembrik-authorizer-<uid>, then "-<uid>.1", "-<uid>.2" … that is a
        0700 directory of ours and not a symlink, created when none is. Nothing when no name is
        usable.
    */
    [[nodiscard]] static std::optional<std::string> findChannelFolder (const char* runtimeDirectory,
                                                                       const std::string& userRuntimeBase = "/run/user",
                                                                       const std::string& temporaryBase = "/tmp");

    /** The folder for this process: from $XDG_RUNTIME_DIR, else /run/user/<uid>, else under /tmp. */
    [[nodiscard]] static std::optional<std::string> findDefaultChannelFolder();

    /** A channel in `folder`; nothing is opened yet. */
    explicit InstanceChannel (std::string folder);

    /** Stops listening, removes the socket and gives up the instance lock. */
    ~InstanceChannel();

    enum class Outcome
    {
        becameInstance,   // we hold the lock and listen; nothing was sent
        handedOff,        // the running instance acknowledged the message and it will be delivered
        failed            // an instance runs but did not take the message in time; or see getProblem
    };

    /** Becomes the instance when none runs; otherwise delivers `message` to the running one and
        waits for its acknowledgement, retrying for up to `patience` (an instance may be starting
        or ending right now).
    */
    [[nodiscard]] Outcome claimOrHandOff (const Message& message,
                                          std::chrono::milliseconds patience = std::chrono::seconds (5));

    /** Becomes the instance when none runs, and sends nothing: for a launch that has nothing the
        instance would take. False when an instance runs or the lock file or socket cannot be made.
    */
    [[nodiscard]] bool claim();

    /** Why the lock file or socket could not be made, in one line with the system's reason
        ("could not make its lock file in <folder>: <reason>"); empty while they could. No retry
        helps then, and claim and claimOrHandOff fail at once.
    */
    [[nodiscard]] const std::string& getProblem() const noexcept;

    /** True once this channel holds the instance lock. */
    [[nodiscard]] bool isInstance() const noexcept;

    /** Called on the message thread for each delivered message, in the order of confirmation. */
    using Handler = std::function<void (const Message&)>;

    /** Starts serving the socket on a thread of its own, all open connections side by side, each
        for readTimeout at most. A well-formed message is acknowledged, and posted to the message
        thread only once its sender confirms that it read the acknowledgement; a sender that gave
        up before never has its message delivered. Out of descriptors, the thread waits a moment
        and tries again; it ends only with stopListening. The handler is not called after this
        channel is destroyed. Only for the instance; call once.
    */
    void startListening (Handler handler);

    /** Ends the listening thread; the handler is not called any more. Safe to call twice. */
    void stopListening();

    /** Sends one message to the instance listening in `folder`, waits up to `patience` for its
        acknowledgement and confirms it. True when the message will be delivered (unless the
        instance ends first); false when nobody of our uid answered in time, and then it never is.
    */
    [[nodiscard]] static bool sendMessage (const std::string& folder, const Message& message,
                                           std::chrono::milliseconds patience);

    /** The paths inside the folder. */
    [[nodiscard]] std::string getSocketPath() const;
    [[nodiscard]] std::string getLockPath() const;

private:
    [[nodiscard]] bool tryTakeLock();
    [[nodiscard]] bool bindSocket();
    void listen();
    void post (Message message);

    struct SharedState;

    std::string folder;
    std::string problem;
    int lockFd = -1;
    int listenFd = -1;
    int wakeFd = -1;
    std::shared_ptr<SharedState> shared;
    std::thread listener;

    InstanceChannel (const InstanceChannel&) = delete;
    InstanceChannel& operator= (const InstanceChannel&) = delete;
};
