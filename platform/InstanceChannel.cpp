#include "platform/InstanceChannel.h"

#include "platform/Utf8Text.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
    constexpr const char* lockName = "zembrik-authorizer.lock";
    constexpr const char* socketName = "zembrik-authorizer.socket";
    constexpr const char* temporaryFolderPrefix = "zembrik-authorizer-";

    // A message: the magic, the kind, the text's length (big-endian), the text. The instance
    // answers a well-formed one with the acknowledgement; the sender answers that with the
    // confirmation, and only a confirmed message is delivered, so a sender that gave up on the
    // way, and told its user so, never has its message used.
    constexpr char magic[4] = { 'Z', 'A', 'M', '2' };
    constexpr std::size_t headerSize = 9;
    constexpr char acknowledgement = 'A';
    constexpr char confirmation = 'C';

    // Alternative names that are tried when the first name under /tmp is taken by someone else.
    constexpr int numTemporaryFolderNames = 64;

    using Clock = std::chrono::steady_clock;

    struct FileDescriptor
    {
        explicit FileDescriptor (int fdToOwn) noexcept : fd (fdToOwn) {}
        ~FileDescriptor() { if (fd >= 0) ::close (fd); }
        FileDescriptor (FileDescriptor&& other) noexcept : fd (std::exchange (other.fd, -1)) {}

        FileDescriptor& operator= (FileDescriptor&& other) noexcept
        {
            if (this != &other)
            {
                if (fd >= 0)
                    ::close (fd);

                fd = std::exchange (other.fd, -1);
            }

            return *this;
        }

        int fd;
    };

    bool isPrivateFolder (const std::string& path)
    {
        struct stat info {};

        return ::lstat (path.c_str(), &info) == 0
            && S_ISDIR (info.st_mode)
            && info.st_uid == ::geteuid()
            && (info.st_mode & 0777) == 0700;
    }

    bool fitsSocketPath (const std::string& folder)
    {
        return folder.size() + 1 + std::strlen (socketName) < sizeof (sockaddr_un::sun_path);
    }

    std::optional<sockaddr_un> makeAddress (const std::string& path)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;

        if (path.size() >= sizeof (address.sun_path))
            return std::nullopt;

        std::memcpy (address.sun_path, path.c_str(), path.size() + 1);
        return address;
    }

    bool peerIsOurUser (int socket)
    {
        ucred credentials {};
        socklen_t size = sizeof (credentials);

        return ::getsockopt (socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0
            && size == sizeof (credentials)
            && credentials.uid == ::geteuid();
    }

    int millisecondsUntil (Clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - Clock::now()).count();
        return left > 0 ? (int) left : 0;
    }

    // Waits for the socket to become readable or writable; false on time-out or error.
    bool waitFor (int socket, short events, Clock::time_point deadline)
    {
        for (;;)
        {
            pollfd entry { socket, events, 0 };
            const auto result = ::poll (&entry, 1, millisecondsUntil (deadline));

            if (result > 0)
                return (entry.revents & events) != 0 || (entry.revents & POLLHUP) != 0;

            if (result == 0 || errno != EINTR)
                return false;
        }
    }

    // Non-blocking sockets throughout, so a stalled peer costs at most the deadline.
    bool readExactly (int socket, char* buffer, std::size_t size, Clock::time_point deadline)
    {
        std::size_t done = 0;

        while (done < size)
        {
            const auto result = ::recv (socket, buffer + done, size - done, 0);

            if (result > 0)
            {
                done += (std::size_t) result;
                continue;
            }

            if (result == 0)
                return false;

            if (errno == EINTR)
                continue;

            if ((errno != EAGAIN && errno != EWOULDBLOCK) || ! waitFor (socket, POLLIN, deadline))
                return false;
        }

        return true;
    }

    bool writeExactly (int socket, const char* buffer, std::size_t size, Clock::time_point deadline)
    {
        std::size_t done = 0;

        while (done < size)
        {
            const auto result = ::send (socket, buffer + done, size - done, MSG_NOSIGNAL);

            if (result > 0)
            {
                done += (std::size_t) result;
                continue;
            }

            if (result < 0 && errno == EINTR)
                continue;

            if (result == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || ! waitFor (socket, POLLOUT, deadline))
                return false;
        }

        return true;
    }

    std::string encode (const InstanceChannel::Message& message)
    {
        const auto size = (std::uint32_t) message.text.size();
        std::string bytes (magic, sizeof (magic));
        bytes += (char) message.kind;

        for (int shift = 24; shift >= 0; shift -= 8)
            bytes += (char) ((size >> shift) & 0xff);

        return bytes + message.text;
    }

    // One line for the user, with the system's reason for the failure that just happened.
    std::string describeFailure (const char* what, const std::string& folder)
    {
        return std::string ("could not make its ") + what + " in " + folder + ": " + std::strerror (errno);
    }

    // The text of a launch: UTF-8 without NUL bytes, as an argument vector can carry.
    bool isAcceptableText (std::string_view text)
    {
        return text.find ('\0') == std::string_view::npos && isValidUtf8 (text);
    }

    // One sender as the instance serves it: its frame arrives, is acknowledged, then confirmed.
    struct Connection
    {
        FileDescriptor socket;
        Clock::time_point deadline;
        std::string frame = std::string (headerSize, '\0');
        std::size_t received = 0;
        bool hasHeader = false;
        bool acknowledged = false;
    };

    enum class Progress
    {
        waiting,     // more is to come
        dropped,     // ended, malformed or unconfirmed: nothing to deliver
        confirmed    // the frame holds a message its sender knows to be delivered
    };

    // Reads what has arrived without waiting, acknowledging a complete, well-formed message.
    Progress serve (Connection& connection)
    {
        const auto fd = connection.socket.fd;
        auto& frame = connection.frame;

        while (! connection.acknowledged)
        {
            if (connection.received < frame.size())
            {
                // Never more than the frame, so that its end is known without a second buffer.
                const auto result = ::recv (fd, frame.data() + connection.received, frame.size() - connection.received, 0);

                if (result < 0 && errno == EINTR)
                    continue;

                if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                    return Progress::waiting;

                if (result <= 0)
                    return Progress::dropped;

                connection.received += (std::size_t) result;
                continue;
            }

            if (! connection.hasHeader)
            {
                const auto kind = (InstanceChannel::Message::Kind) frame[4];
                std::uint32_t size = 0;

                for (std::size_t i = 5; i < headerSize; ++i)
                    size = (size << 8) | (std::uint8_t) frame[i];

                if (std::memcmp (frame.data(), magic, sizeof (magic)) != 0
                    || (kind != InstanceChannel::Message::Kind::url && kind != InstanceChannel::Message::Kind::commandLine)
                    || size > InstanceChannel::maximumTextSize)
                    return Progress::dropped;

                connection.hasHeader = true;
                frame.resize (headerSize + size);
                continue;
            }

            if (! isAcceptableText (std::string_view (frame).substr (headerSize))
                || ::send (fd, &acknowledgement, 1, MSG_NOSIGNAL) != 1)
                return Progress::dropped;

            connection.acknowledged = true;
        }

        for (;;)
        {
            char reply = 0;
            const auto result = ::recv (fd, &reply, 1, 0);

            if (result == 1)
                return reply == confirmation ? Progress::confirmed : Progress::dropped;

            if (result < 0 && errno == EINTR)
                continue;

            return result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? Progress::waiting : Progress::dropped;
        }
    }

    // The connection's time is up: delivered only when its confirmation came before that.
    Progress expire (Connection& connection)
    {
        if (! connection.acknowledged)
            return Progress::dropped;

        // After this the sender's confirmation fails with EPIPE, telling it that nothing was
        // delivered; a confirmation written before is still read here. One lock in the kernel
        // orders the two, so sender and instance never disagree.
        (void) ::shutdown (connection.socket.fd, SHUT_RD);
        const auto progress = serve (connection);
        return progress == Progress::confirmed ? progress : Progress::dropped;
    }
}

//==================================================================================================
struct InstanceChannel::SharedState
{
    Handler handler;
    std::atomic<bool> alive { true };
};

std::optional<std::string> InstanceChannel::findChannelFolder (const char* runtimeDirectory,
                                                               const std::string& userRuntimeBase,
                                                               const std::string& temporaryBase)
{
    const auto isUsable = [] (const std::string& folder)
    {
        return ! folder.empty() && folder[0] == '/' && fitsSocketPath (folder) && isPrivateFolder (folder);
    };

    if (runtimeDirectory != nullptr && isUsable (runtimeDirectory))
        return std::string (runtimeDirectory);

    // Where the session manager puts $XDG_RUNTIME_DIR, for launches from a shell or launcher that
    // dropped the variable.
    if (const auto folder = userRuntimeBase + "/" + std::to_string (::geteuid()); isUsable (folder))
        return folder;

    const auto nameOf = [&temporaryBase] (int index)
    {
        auto name = temporaryBase + "/" + temporaryFolderPrefix + std::to_string (::geteuid());
        return index == 0 ? name : name + "." + std::to_string (index);
    };

    if (! fitsSocketPath (nameOf (numTemporaryFolderNames - 1)))
        return std::nullopt;

    // A folder of ours made earlier wins over a free name, so every launch of the user arrives at
    // the same one even when another user has taken or freed a name in front of it.
    for (int index = 0; index < numTemporaryFolderNames; ++index)
        if (isPrivateFolder (nameOf (index)))
            return nameOf (index);

    for (int index = 0; index < numTemporaryFolderNames; ++index)
    {
        const auto name = nameOf (index);

        if (::mkdir (name.c_str(), 0700) == 0)
        {
            // The umask may have taken more than we asked; the folder is ours, so set it exactly.
            const FileDescriptor folder (::open (name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));

            if (folder.fd >= 0)
                (void) ::fchmod (folder.fd, 0700);
        }

        // Also covers another launch of ours creating it at the same moment.
        if (isPrivateFolder (name))
            return name;
    }

    return std::nullopt;
}

std::optional<std::string> InstanceChannel::findDefaultChannelFolder()
{
    return findChannelFolder (std::getenv ("XDG_RUNTIME_DIR"));
}

InstanceChannel::InstanceChannel (std::string folderToUse)
    : folder (std::move (folderToUse)),
      shared (std::make_shared<SharedState>())
{
}

InstanceChannel::~InstanceChannel()
{
    stopListening();

    if (wakeFd >= 0)
        ::close (wakeFd);

    if (listenFd >= 0)
    {
        ::close (listenFd);
        ::unlink (getSocketPath().c_str());   // still under our lock, so it is our socket
    }

    if (lockFd >= 0)
        ::close (lockFd);   // releases the flock
}

const std::string& InstanceChannel::getProblem() const noexcept
{
    return problem;
}

std::string InstanceChannel::getSocketPath() const { return folder + "/" + socketName; }
std::string InstanceChannel::getLockPath() const   { return folder + "/" + lockName; }

bool InstanceChannel::isInstance() const noexcept
{
    return listenFd >= 0;
}

bool InstanceChannel::tryTakeLock()
{
    problem.clear();

    if (lockFd < 0)
    {
        lockFd = ::open (getLockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);

        if (lockFd < 0)
        {
            problem = describeFailure ("lock file", folder);
            return false;
        }
    }

    while (::flock (lockFd, LOCK_EX | LOCK_NB) != 0)
        if (errno != EINTR)
            return false;

    return true;
}

bool InstanceChannel::bindSocket()
{
    const auto address = makeAddress (getSocketPath());
    const auto fail = [this] { problem = describeFailure ("socket", folder); return false; };

    if (! address)
    {
        errno = ENAMETOOLONG;
        return fail();
    }

    FileDescriptor socket (::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));

    if (socket.fd < 0)
        return fail();

    // We hold the lock, so whatever socket file is there was left by an instance that died.
    ::unlink (address->sun_path);

    if (::bind (socket.fd, reinterpret_cast<const sockaddr*> (&*address), sizeof (*address)) != 0
        || ::listen (socket.fd, SOMAXCONN) != 0)
        return fail();

    listenFd = std::exchange (socket.fd, -1);
    return true;
}

bool InstanceChannel::claim()
{
    return isInstance() || (tryTakeLock() && bindSocket());
}

InstanceChannel::Outcome InstanceChannel::claimOrHandOff (const Message& message,
                                                          std::chrono::milliseconds patience)
{
    const auto deadline = Clock::now() + patience;

    for (;;)
    {
        if (tryTakeLock())
            return bindSocket() ? Outcome::becameInstance : Outcome::failed;

        if (lockFd < 0)
            return Outcome::failed;

        if (sendMessage (folder, message, std::chrono::milliseconds (millisecondsUntil (deadline))))
            return Outcome::handedOff;

        if (Clock::now() >= deadline)
            return Outcome::failed;

        // The instance may be binding its socket or just ending; look again shortly.
        std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }
}

bool InstanceChannel::sendMessage (const std::string& folder, const Message& message,
                                   std::chrono::milliseconds patience)
{
    const auto deadline = Clock::now() + patience;

    if (message.text.size() > maximumTextSize)
        return false;

    const auto address = makeAddress (folder + "/" + socketName);

    if (! address)
        return false;

    const FileDescriptor socket (::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));

    if (socket.fd < 0)
        return false;

    // A Unix socket connects at once or not at all (EAGAIN when the backlog is full).
    if (::connect (socket.fd, reinterpret_cast<const sockaddr*> (&*address), sizeof (*address)) != 0)
        return false;

    if (! peerIsOurUser (socket.fd))
        return false;

    const auto bytes = encode (message);
    char reply = 0;

    // The confirmation is written even when the deadline passed while the acknowledgement was
    // read: it is one byte into an empty buffer, and whether it arrives decides the delivery.
    return writeExactly (socket.fd, bytes.data(), bytes.size(), deadline)
        && readExactly (socket.fd, &reply, 1, deadline)
        && reply == acknowledgement
        && writeExactly (socket.fd, &confirmation, 1, deadline);
}

void InstanceChannel::startListening (Handler handler)
{
    if (listenFd < 0 || listener.joinable())
        return;

    wakeFd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);

    if (wakeFd < 0)
        return;

    shared->handler = std::move (handler);
    listener = std::thread ([this] { listen(); });
}

void InstanceChannel::stopListening()
{
    shared->alive = false;

    if (listener.joinable())
    {
        const std::uint64_t one = 1;
        (void) ::write (wakeFd, &one, sizeof (one));
        listener.join();
    }
}

void InstanceChannel::listen()
{
    // All open connections are served side by side, each with its own deadline, so a silent or
    // slow one holds up no other.
    std::vector<Connection> connections;
    std::vector<pollfd> entries;

    // After accept failed (mostly: out of descriptors), the listening socket is not watched until
    // then or until a connection ends and frees one; its waiting connection would wake us at once
    // for ever.
    auto acceptAgain = Clock::time_point();
    constexpr auto pause = std::chrono::milliseconds (100);

    for (;;)
    {
        // At the bound, further launches wait in the listen backlog until a connection ends.
        const auto accepting = connections.size() < maximumOpenConnections && Clock::now() >= acceptAgain;
        entries.assign ({ { wakeFd, POLLIN, 0 }, { accepting ? listenFd : -1, POLLIN, 0 } });
        auto timeout = -1;

        const auto wakeAt = [&timeout] (Clock::time_point time)
        {
            const auto left = (int) std::max<std::chrono::milliseconds::rep> (0,
                std::chrono::ceil<std::chrono::milliseconds> (time - Clock::now()).count());
            timeout = timeout < 0 ? left : std::min (timeout, left);
        };

        if (! accepting && connections.size() < maximumOpenConnections)
            wakeAt (acceptAgain);

        for (const auto& connection : connections)
        {
            entries.push_back ({ connection.socket.fd, POLLIN, 0 });
            wakeAt (connection.deadline);
        }

        if (::poll (entries.data(), (nfds_t) entries.size(), timeout) < 0)
        {
            if (errno == EINTR)
                continue;

            // More descriptors than the limit allows, or no memory: wait a moment for the wake-up
            // alone, then look at every connection; serving one never blocks, and deadlines pass.
            const auto wait = timeout < 0 ? (int) pause.count() : std::min (timeout, (int) pause.count());

            if (::poll (entries.data(), 1, wait) < 0)
                std::this_thread::sleep_for (std::chrono::milliseconds (wait));

            entries[1].revents = 0;

            for (auto entry = entries.begin() + 2; entry != entries.end(); ++entry)
                entry->revents = POLLIN;
        }

        // The flag covers a wake-up that the failed poll could not see.
        if (entries[0].revents != 0 || ! shared->alive)
            return;

        const auto now = Clock::now();
        auto connection = connections.begin();

        for (auto entry = entries.begin() + 2; entry != entries.end(); ++entry)
        {
            auto progress = entry->revents != 0 ? serve (*connection) : Progress::waiting;

            if (progress == Progress::waiting && now >= connection->deadline)
                progress = expire (*connection);

            if (progress == Progress::confirmed)
                post ({ (Message::Kind) connection->frame[4], connection->frame.substr (headerSize) });

            if (progress == Progress::waiting)
            {
                ++connection;
                continue;
            }

            connection = connections.erase (connection);
            acceptAgain = {};
        }

        if ((entries[1].revents & POLLIN) == 0)
            continue;

        while (connections.size() < maximumOpenConnections)
        {
            FileDescriptor accepted (::accept4 (listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));

            if (accepted.fd >= 0)
            {
                if (peerIsOurUser (accepted.fd))
                    connections.push_back ({ std::move (accepted), Clock::now() + readTimeout });

                continue;
            }

            if (errno == EINTR || errno == ECONNABORTED)
                continue;

            if (errno != EAGAIN && errno != EWOULDBLOCK)
                acceptAgain = Clock::now() + pause;

            break;
        }
    }
}

void InstanceChannel::post (Message message)
{
    auto state = shared;

    (void) juce::MessageManager::callAsync ([state, message = std::move (message)]
    {
        if (state->alive && state->handler != nullptr)
            state->handler (message);
    });
}
