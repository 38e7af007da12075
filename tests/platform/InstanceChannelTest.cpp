#include "platform/InstanceChannel.h"
#include "support/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using Message = InstanceChannel::Message;
using Kind = Message::Kind;
using Outcome = InstanceChannel::Outcome;
using namespace std::chrono_literals;

namespace
{
    struct TemporaryFolder
    {
        TemporaryFolder()  { char pattern[] = "/tmp/zembrik-channel-test-XXXXXX"; path = ::mkdtemp (pattern); }
        ~TemporaryFolder() { std::error_code ignored; std::filesystem::remove_all (path, ignored); }

        std::string path;
    };

    /** Runs the message loop until `count` messages came, for 10 s at most. */
    bool waitFor (const std::vector<Message>& received, std::size_t count)
    {
        for (int i = 0; i < 1000 && received.size() < count; ++i)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

        return received.size() >= count;
    }

    /** A listening instance, and what it received. */
    struct RunningInstance
    {
        explicit RunningInstance (const std::string& folder) : channel (folder)
        {
            EXPECT_EQ (channel.claimOrHandOff ({}), Outcome::becameInstance);
            channel.startListening ([this] (const Message& message) { received.push_back (message); });
        }

        std::vector<Message> received;
        InstanceChannel channel;
    };

    sockaddr_un addressOf (const std::string& path)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf (address.sun_path, sizeof (address.sun_path), "%s", path.c_str());
        return address;
    }

    /** A socket not connected yet, or -1: made while descriptors can be, to connect once they cannot. */
    int unconnectedSocket()
    {
        return ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    }

    /** A connected socket, or -1. */
    int connectTo (const std::string& path)
    {
        const auto address = addressOf (path);
        const int fd = unconnectedSocket();

        if (::connect (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0)
            return fd;

        ::close (fd);
        return -1;
    }

    /** Writes the bytes, with the confirmation behind them unless told not to, and reports whether
        an acknowledgement came. The instance reads no further than a frame, so a confirmation sent
        ahead counts once the frame is acknowledged.
    */
    bool sendRaw (const std::string& socketPath, const std::string& bytes, bool confirm = true)
    {
        const int fd = connectTo (socketPath);

        if (fd < 0)
            return false;

        const auto sent = bytes + (confirm ? "C" : "");
        (void) ::send (fd, sent.data(), sent.size(), MSG_NOSIGNAL);
        ::shutdown (fd, SHUT_WR);
        char reply = 0;
        const bool acknowledged = ::recv (fd, &reply, 1, 0) == 1;
        ::close (fd);
        return acknowledged;
    }

    /** The channel's frame: magic, kind, big-endian text size. */
    std::string header (char kind, std::uint32_t size)
    {
        return std::string ("ZAM2") + kind + (char) (size >> 24) + (char) (size >> 16) + (char) (size >> 8) + (char) size;
    }

    /** What the instance sends until it ends the connection, and a note when it has not ended it
        within 10 s, five read time-outs.
    */
    std::string repliesUntilEnd (int socket)
    {
        const timeval patience { 10, 0 };
        ::setsockopt (socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof (patience));
        std::string replies;

        for (;;)
        {
            char reply = 0;
            const auto result = ::recv (socket, &reply, 1, 0);

            if (result == 1)
                replies += reply;
            else if (result == 0 || errno == ECONNRESET)
                return replies;
            else if (errno != EINTR)
                return replies + " (still open)";
        }
    }

    /** Sends a command line on a connected socket, with its confirmation behind it if told to. */
    bool sendCommandLine (int socket, const std::string& text, bool confirm)
    {
        const auto bytes = header ('C', (std::uint32_t) text.size()) + text + (confirm ? "C" : "");
        return ::send (socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) == (ssize_t) bytes.size();
    }

    /** Sends a command line without its confirmation and reads the acknowledgement. */
    bool isAcknowledged (int socket, const std::string& text)
    {
        char reply = 0;
        return sendCommandLine (socket, text, false) && ::recv (socket, &reply, 1, 0) == 1 && reply == 'A';
    }

    /** A sender that wrote a command line without its confirmation and read the acknowledgement,
        its socket still open; -1 when no acknowledgement came.
    */
    int acknowledgedButSilent (const std::string& socketPath, const std::string& text)
    {
        const int fd = connectTo (socketPath);

        if (fd >= 0 && isAcknowledged (fd, text))
            return fd;

        ::close (fd);
        return -1;
    }

    /** Connects `socket`, made earlier, and sends a command line with its confirmation behind it:
        once acknowledged, it will be delivered.
    */
    bool sendConfirmedOn (int socket, const std::string& socketPath, const std::string& text)
    {
        const auto address = addressOf (socketPath);

        return ::connect (socket, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0
            && sendCommandLine (socket, text, true);
    }

    /** The share of one processor that this process used while `wait` ran and for a second at
        least: a listener that retries at once for ever uses all of it.
    */
    template <typename Wait>
    double cpuShareDuring (Wait&& wait)
    {
        const auto cpuTime = []
        {
            timespec time {};
            ::clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &time);
            return std::chrono::duration<double> (time.tv_sec + time.tv_nsec * 1e-9);
        };

        const auto cpuBefore = cpuTime();
        const auto start = std::chrono::steady_clock::now();
        wait();
        std::this_thread::sleep_until (start + 1s);
        return (cpuTime() - cpuBefore) / (std::chrono::steady_clock::now() - start);
    }

    /** This process's soft descriptor limit lowered to `cap`, or to one above its highest open
        descriptor, with every free number below the limit taken first so that no new descriptor
        can be made; at the end the limit comes back and the fillers close.
    */
    struct LowDescriptorLimit
    {
        explicit LowDescriptorLimit (rlim_t cap = RLIM_INFINITY)
        {
            EXPECT_EQ (::getrlimit (RLIMIT_NOFILE, &original), 0);
            const int filler = ::open ("/dev/null", O_RDONLY | O_CLOEXEC);
            fillers.push_back (filler);
            int highest = filler;

            for (const auto& entry : std::filesystem::directory_iterator ("/proc/self/fd"))
                highest = std::max (highest, std::stoi (entry.path().filename()));

            rlimit lowered = original;
            lowered.rlim_cur = std::min (cap, (rlim_t) highest + 1);

            for (int fd = 0; fd < (int) lowered.rlim_cur; ++fd)
                if (::fcntl (fd, F_GETFD) < 0 && ::dup3 (filler, fd, O_CLOEXEC) == fd)
                    fillers.push_back (fd);

            EXPECT_EQ (::setrlimit (RLIMIT_NOFILE, &lowered), 0);
        }

        ~LowDescriptorLimit()
        {
            ::setrlimit (RLIMIT_NOFILE, &original);

            for (const auto fd : fillers)
                ::close (fd);
        }

        rlimit original {};
        std::vector<int> fillers;
    };

    std::string code (int i) { return "at-zembrik-2-fennix://oauth2?code=" + std::to_string (i); }

    pid_t startAsNobody (std::vector<std::string> command)
    {
        command.insert (command.begin(), { "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups" });
        return processlauncher::start (command);
    }
}

//==================================================================================================
TEST (InstanceChannel, LaterLaunchesHandOffInOrderAndAnEndedInstanceFreesTheChannel)
{
    TemporaryFolder folder;

    {
        RunningInstance instance (folder.path);
        EXPECT_TRUE (instance.channel.isInstance());

        InstanceChannel second (folder.path);
        EXPECT_EQ (second.claimOrHandOff ({ Kind::url, code (0) }), Outcome::handedOff);
        EXPECT_FALSE (second.isInstance());

        std::vector<Message> sent { { Kind::url, code (0) } };

        for (int i = 1; i <= 101; ++i)
        {
            sent.push_back (i < 100 ? Message { Kind::url, code (i) }
                                    : Message { Kind::commandLine, i == 100 ? "ZembrikMac \"a b\"" : "" });
            ASSERT_TRUE (InstanceChannel::sendMessage (folder.path, sent.back(), 10s));
        }

        ASSERT_TRUE (waitFor (instance.received, sent.size()));
        EXPECT_EQ (instance.received, sent);
    }

    EXPECT_EQ (InstanceChannel (folder.path).claimOrHandOff ({}, 500ms), Outcome::becameInstance);
}

TEST (InstanceChannel, StalledMalformedOversizedAndUnconfirmedMessagesAreDroppedAndDelayNoOtherLaunch)
{
    TemporaryFolder temporary;
    const auto& folder = temporary.path;
    RunningInstance instance (folder);
    const auto socket = instance.channel.getSocketPath();

    // Clients that say nothing, or stop halfway, wait out their time-out side by side: served in
    // turn, these alone would outlast a launch's patience.
    std::vector<int> stalled;

    for (int i = 0; i < 4; ++i)
        stalled.push_back (connectTo (socket));

    stalled.push_back (connectTo (socket));
    const auto halfway = header ('U', 40) + "at-zembrik";
    ASSERT_EQ (::send (stalled.back(), halfway.data(), halfway.size(), MSG_NOSIGNAL), (ssize_t) halfway.size());

    for (const auto fd : stalled)
        ASSERT_GE (fd, 0);

    EXPECT_EQ (InstanceChannel (folder).claimOrHandOff ({ Kind::url, "at-zembrik-tesh://oauth2?code=x" }), Outcome::handedOff);

    const std::pair<const char*, std::string> malformed[] {
        { "wrong magic", "GET / HTTP/1.0\r\n\r\n" },
        { "earlier version", "ZAM1U" + header ('U', 1).substr (5) + "a" },
        { "unknown kind", header ('X', 1) + "a" },
        { "too long", header ('U', InstanceChannel::maximumTextSize + 1) + std::string (InstanceChannel::maximumTextSize + 1, 'a') },
        { "cut off", header ('U', 10) + "short" },
        { "not UTF-8", header ('U', 3) + "a\xff" "b" },
        { "NUL inside", header ('C', 3) + std::string ("a\0b", 3) },
        { "nothing at all", "" },
    };

    for (const auto& [why, bytes] : malformed)
        EXPECT_FALSE (sendRaw (socket, bytes)) << why;

    // Senders that were told nothing: one read the acknowledgement but did not confirm, one left
    // before it came, one read it and then kept silent until its time was up.
    EXPECT_TRUE (sendRaw (socket, header ('C', 11) + "unconfirmed", false));
    const int leaving = connectTo (socket);
    const auto left = header ('C', 4) + "left";
    ASSERT_EQ (::send (leaving, left.data(), left.size(), MSG_NOSIGNAL), (ssize_t) left.size());
    ::close (leaving);
    const int silent = acknowledgedButSilent (socket, "silent");
    ASSERT_GE (silent, 0);

    // The sender refuses what the instance would drop.
    EXPECT_FALSE (InstanceChannel::sendMessage (folder, { Kind::url, std::string (InstanceChannel::maximumTextSize + 1, 'a') }, 1s));

    const Message largest { Kind::url, std::string (InstanceChannel::maximumTextSize, 'z') };
    EXPECT_TRUE (InstanceChannel::sendMessage (folder, largest, 10s));
    EXPECT_TRUE (sendRaw (socket, header ('C', 2) + "ok"));

    // A frame trickled in a byte at a time keeps its place no longer than one that stopped: the
    // instance ends it after its read time-out (about 5 bytes), not after 25.
    const int trickling = connectTo (socket);
    const auto trickled = header ('U', 40) + std::string (40, 'x');
    std::size_t bytesSent = 0;

    while (bytesSent < 25 && ::send (trickling, &trickled[bytesSent], 1, MSG_NOSIGNAL) == 1)
    {
        ++bytesSent;
        std::this_thread::sleep_for (400ms);
    }

    EXPECT_LT (bytesSent, 25u);
    ::close (trickling);

    // The silent sender's connection is ended, and a confirmation that late fails.
    EXPECT_EQ (repliesUntilEnd (silent), "");
    EXPECT_EQ (::send (silent, "C", 1, MSG_NOSIGNAL), -1);
    ::close (silent);

    ASSERT_TRUE (waitFor (instance.received, 3));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_EQ (instance.received, (std::vector<Message> { { Kind::url, "at-zembrik-tesh://oauth2?code=x" },
                                                          largest, { Kind::commandLine, "ok" } }));

    for (const auto fd : stalled)
        ::close (fd);
}

TEST (InstanceChannel, OutOfDescriptorsTheInstanceWaitsWithoutSpinningAndTakesTheLaunchOnceItHasOne)
{
    TemporaryFolder temporary;
    RunningInstance instance (temporary.path);
    const int launch = unconnectedSocket();
    ASSERT_GE (launch, 0);

    {
        LowDescriptorLimit limit;
        ASSERT_TRUE (sendConfirmedOn (launch, instance.channel.getSocketPath(), "pending"));

        // The waiting connection cannot be accepted; the listener must not retry it at once for ever.
        EXPECT_LT (cpuShareDuring ([] {}), 0.1);

        char reply = 0;
        EXPECT_EQ (::recv (launch, &reply, 1, MSG_DONTWAIT), -1) << "accepted: the limit did not bite";
    }

    EXPECT_EQ (repliesUntilEnd (launch), "A");
    ::close (launch);
    ASSERT_TRUE (waitFor (instance.received, 1));
    EXPECT_EQ (instance.received, (std::vector<Message> { { Kind::commandLine, "pending" } }));
}

TEST (InstanceChannel, PollFailingOverTheDescriptorLimitNeitherEndsNorSpinsTheListener)
{
    TemporaryFolder temporary;
    RunningInstance instance (temporary.path);
    const auto socketPath = instance.channel.getSocketPath();

    // While descriptors can be made, one delivery and one listener that ends: the sanitizer build
    // checks the types behind the first of each with a pipe, and takes a failure to make one for a
    // fault of ours.
    ASSERT_TRUE (InstanceChannel::sendMessage (temporary.path, { Kind::commandLine, "before" }, 10s));
    ASSERT_TRUE (waitFor (instance.received, 1));
    TemporaryFolder otherFolder;
    { RunningInstance ended (otherFolder.path); }

    // Two connections that will send later, then three that hold their places until their time is
    // up. Connections are taken in turn, so each acknowledgement shows the earlier ones taken.
    const int waker = connectTo (socketPath), early = connectTo (socketPath);
    std::vector<int> silent;

    for (int i = 0; i < 3; ++i)
        silent.push_back (acknowledgedButSilent (socketPath, "silent"));

    for (const auto fd : { waker, early, silent[0], silent[1], silent[2] })
        ASSERT_GE (fd, 0);

    const int launch = unconnectedSocket(), second = unconnectedSocket(), third = unconnectedSocket();
    ASSERT_TRUE (launch >= 0 && second >= 0 && third >= 0);

    {
        LowDescriptorLimit limit (3);

        // Once the waker's frame is acknowledged, the listener has left the poll it was in; each
        // poll from now on asks for seven descriptors, more than the limit allows.
        EXPECT_TRUE (isAcknowledged (waker, "waker"));

        // A frame and its confirmation that arrive while polls fail are served all the same; a
        // new launch waits, as nothing can be accepted; the others still end when their time is up.
        ASSERT_TRUE (sendCommandLine (early, "early", true));
        EXPECT_EQ (repliesUntilEnd (early), "A");
        ASSERT_TRUE (sendConfirmedOn (launch, socketPath, "pending"));

        EXPECT_LT (cpuShareDuring ([&]
        {
            for (const auto fd : { waker, silent[0], silent[1], silent[2] })
                EXPECT_EQ (repliesUntilEnd (fd), "");
        }), 0.1);
    }

    // The listener lives on: the launch is taken once descriptors can be made.
    EXPECT_EQ (repliesUntilEnd (launch), "A");
    EXPECT_TRUE (InstanceChannel::sendMessage (temporary.path, { Kind::commandLine, "after" }, 10s));

    // With no connection open, a failed poll waits only a moment too, so a launch that came
    // meanwhile is taken once the limit is back.
    {
        LowDescriptorLimit limit (1);
        ASSERT_TRUE (sendConfirmedOn (second, socketPath, "second"));
        EXPECT_LT (cpuShareDuring ([] {}), 0.1);
    }

    EXPECT_EQ (repliesUntilEnd (second), "A");
    ASSERT_TRUE (waitFor (instance.received, 5));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_EQ (instance.received, (std::vector<Message> { { Kind::commandLine, "before" }, { Kind::commandLine, "early" },
                                                          { Kind::commandLine, "pending" }, { Kind::commandLine, "after" },
                                                          { Kind::commandLine, "second" } }));

    // Where even the wait on the wake-up alone fails, the listener still ends when asked to; should
    // it not, the alarm ends the test (a thread to wait for it would need a descriptor in the
    // sanitizer build).
    {
        LowDescriptorLimit limit (0);
        ASSERT_TRUE (sendConfirmedOn (third, socketPath, "third"));   // wakes the listener into failing polls
        EXPECT_LT (cpuShareDuring ([] {}), 0.1);
        ::alarm (30);
        instance.channel.stopListening();
        ::alarm (0);
    }

    for (const auto fd : { waker, early, launch, second, third, silent[0], silent[1], silent[2] })
        ::close (fd);
}

TEST (InstanceChannel, SenderThatGaveUpBeforeTheAcknowledgementIsNeverDelivered)
{
    TemporaryFolder temporary;
    RunningInstance instance (temporary.path);

    // With the instance at its bound, the launch waits in the backlog until its patience ends ...
    const auto start = std::chrono::steady_clock::now();
    std::vector<int> silent;

    for (std::size_t i = 0; i < InstanceChannel::maximumOpenConnections; ++i)
        silent.push_back (connectTo (instance.channel.getSocketPath()));

    const auto handedOff = InstanceChannel::sendMessage (temporary.path, { Kind::url, code (1) }, 200ms);

    // Only a machine too slow to hold the bound for a read time-out lets it in, and then it counts.
    const auto boundHeld = std::chrono::steady_clock::now() - start < InstanceChannel::readTimeout;
    EXPECT_FALSE (handedOff && boundHeld);

    // ... and its message, read once a place is free, is not used.
    for (const auto fd : silent)
        ::close (fd);

    EXPECT_TRUE (InstanceChannel::sendMessage (temporary.path, { Kind::url, code (2) }, 10s));
    auto expected = std::vector<Message> { { Kind::url, code (2) } };

    if (handedOff)
        expected.insert (expected.begin(), { Kind::url, code (1) });

    ASSERT_TRUE (waitFor (instance.received, expected.size()));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_EQ (instance.received, expected);
}

TEST (InstanceChannel, StaleSocketAndLockOfKilledInstanceDoNotBlockNextStart)
{
    TemporaryFolder folder;
    std::vector<Message> received;
    InstanceChannel next (folder.path);

    // An instance that died left its socket file behind ...
    const auto address = addressOf (next.getSocketPath());
    const int stale = unconnectedSocket();
    ASSERT_EQ (::bind (stale, reinterpret_cast<const sockaddr*> (&address), sizeof (address)), 0);
    ::close (stale);

    // ... and its lock was held by a process that is killed now.
    const auto holder = processlauncher::start ({ "/usr/bin/python3", "-c",
        "import fcntl, os, sys, time\n"
        "fcntl.flock (os.open (sys.argv[1], os.O_RDWR | os.O_CREAT), fcntl.LOCK_EX)\n"
        "time.sleep (60)", next.getLockPath() });
    ASSERT_GT (holder, 0);

    for (int i = 0; i < 3000 && processlauncher::run ({ "/usr/bin/flock", "-n", next.getLockPath(), "/bin/true" }) == 0; ++i)
        ::usleep (10'000);

    EXPECT_EQ (InstanceChannel (folder.path).claimOrHandOff ({}, 100ms), Outcome::failed);
    ASSERT_EQ (::kill (holder, SIGKILL), 0);
    (void) processlauncher::wait (holder);

    ASSERT_EQ (next.claimOrHandOff ({}, 1s), Outcome::becameInstance);
    next.startListening ([&] (const Message& message) { received.push_back (message); });
    EXPECT_TRUE (InstanceChannel::sendMessage (folder.path, { Kind::commandLine, "after" }, 10s));

    ASSERT_TRUE (waitFor (received, 1));
    EXPECT_EQ (received, (std::vector<Message> { { Kind::commandLine, "after" } }));
}

TEST (InstanceChannel, InstanceThatNeverAnswersMakesTheLaunchFailAfterItsPatience)
{
    TemporaryFolder folder;
    InstanceChannel mute (folder.path);
    ASSERT_EQ (mute.claimOrHandOff ({}), Outcome::becameInstance);   // never listens

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ (InstanceChannel (folder.path).claimOrHandOff ({ Kind::url, code (1) }, 300ms), Outcome::failed);
    EXPECT_GE (std::chrono::steady_clock::now() - start, 300ms);
}

//==================================================================================================
TEST (InstanceChannelFolder, IsThePrivateRuntimeDirectoryElseTheSameSafeFallbackForEveryLaunch)
{
    TemporaryFolder runtime, noSessions, base;
    const auto fallback = base.path + "/zembrik-authorizer-" + std::to_string (::geteuid());
    ASSERT_EQ (::chmod (runtime.path.c_str(), 0700), 0);
    EXPECT_EQ (InstanceChannel::findChannelFolder (runtime.path.c_str(), noSessions.path, base.path), runtime.path);

    for (const char* unusable : { (const char*) nullptr, "", "relative/dir", "/nonexistent/zembrik" })
        EXPECT_EQ (InstanceChannel::findChannelFolder (unusable, noSessions.path, base.path), fallback) << (unusable ? unusable : "unset");

    ASSERT_EQ (::chmod (runtime.path.c_str(), 0755), 0);   // readable by others: not private
    EXPECT_EQ (InstanceChannel::findChannelFolder (runtime.path.c_str(), noSessions.path, base.path), fallback);

    // Without the variable, the session's own folder <base>/<uid> is the meeting place, when it is
    // a private real directory of ours.
    TemporaryFolder sessions, target;
    const auto session = sessions.path + "/" + std::to_string (::geteuid());
    const std::pair<const char*, std::function<bool()>> setups[] {
        { "private folder", [&] { return ::mkdir (session.c_str(), 0700) == 0 && ::chmod (session.c_str(), 0700) == 0; } },
        { "open to the group", [&] { return ::chmod (session.c_str(), 0750) == 0; } },
        { "another user's", [&] { return ::geteuid() == 0 && ::chmod (session.c_str(), 0700) == 0
                                         && ::chown (session.c_str(), 65534, 65534) == 0; } },
        { "symlink to a private folder", [&] { return ::chmod (target.path.c_str(), 0700) == 0 && ::rmdir (session.c_str()) == 0
                                                    && ::symlink (target.path.c_str(), session.c_str()) == 0; } },
        { "file", [&] { return ::unlink (session.c_str()) == 0 && ::close (::open (session.c_str(), O_CREAT | O_WRONLY, 0700)) == 0; } },
    };

    for (const auto& [setup, make] : setups)
    {
        if (! make())
        {
            EXPECT_EQ (setup, std::string ("another user's")) << "only this one needs root";
            continue;
        }

        const auto expected = std::string (setup) == "private folder" ? session : fallback;

        for (const char* unusable : { (const char*) nullptr, "", "relative/dir" })
            EXPECT_EQ (InstanceChannel::findChannelFolder (unusable, sessions.path, base.path), expected) << setup;
    }

    struct stat info {};
    ASSERT_EQ (::lstat (fallback.c_str(), &info), 0);
    EXPECT_TRUE (S_ISDIR (info.st_mode));
    EXPECT_EQ (info.st_mode & 0777, 0700u);

    // A symlink and a folder open to others are skipped; once ours exists, freeing a name in front
    // of it does not move later launches.
    TemporaryFolder other;
    const auto first = other.path + "/zembrik-authorizer-" + std::to_string (::geteuid());
    ASSERT_EQ (::symlink (other.path.c_str(), first.c_str()), 0);
    ASSERT_EQ (::mkdir ((first + ".1").c_str(), 0755), 0);
    ASSERT_EQ (::chmod ((first + ".1").c_str(), 0755), 0);
    EXPECT_EQ (InstanceChannel::findChannelFolder (nullptr, noSessions.path, other.path), first + ".2");
    ASSERT_EQ (::unlink (first.c_str()), 0);
    EXPECT_EQ (InstanceChannel::findChannelFolder (nullptr, noSessions.path, other.path), first + ".2");
}

TEST (InstanceChannel, AnotherUserCanNeitherBlockNorDeliverNorAnswer)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";

    // Folders open to everyone on purpose, so that only the channel's own checks stand between us.
    TemporaryFolder base;
    ASSERT_EQ (::chmod (base.path.c_str(), 01777), 0);
    const auto first = base.path + "/zembrik-authorizer-" + std::to_string (::geteuid());
    ASSERT_EQ (processlauncher::wait (startAsNobody ({ "/bin/mkdir", "-m", "700", first })), 0);
    EXPECT_EQ (InstanceChannel::findChannelFolder (nullptr, base.path + "/no-sessions", base.path), first + ".1");

    {
        TemporaryFolder open;
        ASSERT_EQ (::chmod (open.path.c_str(), 01777), 0);
        RunningInstance instance (open.path);
        ASSERT_EQ (::chmod (instance.channel.getSocketPath().c_str(), 0777), 0);

        const auto client = startAsNobody ({ "/usr/bin/python3", "-c",
            "import socket, sys\n"
            "s = socket.socket (socket.AF_UNIX); s.connect (sys.argv[1])\n"
            "try:\n s.sendall (b'ZAM2U\\x00\\x00\\x00\\x01xC'); s.settimeout (5)\n"
            " sys.exit (0 if s.recv (1) == b'A' else 3)\n"
            "except OSError: sys.exit (3)", instance.channel.getSocketPath() });
        EXPECT_EQ (processlauncher::wait (client), 3);

        juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
        EXPECT_TRUE (instance.received.empty());
    }

    // Nor can a process of another user pose as the instance: we do not deliver to it.
    const auto readyFile = base.path + "/ready";
    const auto impostor = startAsNobody ({ "/usr/bin/python3", "-c",
        "import socket, sys\n"
        "s = socket.socket (socket.AF_UNIX); s.bind (sys.argv[1]); s.listen (5)\n"
        "open (sys.argv[2], 'w').close(); s.settimeout (10)\n"
        "c, _ = s.accept(); c.sendall (b'A')\n"
        "try: c.recv (100)\n"
        "except OSError: pass", base.path + "/zembrik-authorizer.socket", readyFile });
    ASSERT_GT (impostor, 0);

    for (int i = 0; i < 3000 && ::access (readyFile.c_str(), F_OK) != 0; ++i)
        ::usleep (10'000);

    EXPECT_EQ (::access (readyFile.c_str(), F_OK), 0);
    EXPECT_FALSE (InstanceChannel::sendMessage (base.path, { Kind::url, "at-zembrik-tesh://oauth2?code=x" }, 1s));
    ::kill (impostor, SIGKILL);
    (void) processlauncher::wait (impostor);
}
