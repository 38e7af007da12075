#include "platform/InstanceChannel.h"
#include "support/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using Message = InstanceChannel::Message;
using Kind = Message::Kind;
using namespace std::chrono_literals;

namespace
{
    constexpr auto nobody = "65534";

    /** A private folder per test, removed afterwards. */
    struct TemporaryFolder
    {
        TemporaryFolder()
        {
            char pattern[] = "/tmp/zembrik-channel-test-XXXXXX";
            path = ::mkdtemp (pattern);
        }

        ~TemporaryFolder()
        {
            (void) std::system (("rm -rf '" + path + "'").c_str());
        }

        std::string path;
    };

    int run (const std::string& command)
    {
        const auto status = std::system (command.c_str());
        return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
    }

    /** Collects what a listening channel delivers on the message thread. */
    struct Inbox
    {
        void listenOn (InstanceChannel& channel)
        {
            channel.startListening ([this] (const Message& message) { received.push_back (message); });
        }

        bool waitFor (std::size_t count)
        {
            for (int i = 0; i < 500 && received.size() < count; ++i)
                juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

            return received.size() >= count;
        }

        std::vector<Message> received;
    };

    /** Connects to the socket, writes the bytes, and reports whether an acknowledgement came. */
    bool sendRaw (const std::string& socketPath, const std::string& bytes)
    {
        const int fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf (address.sun_path, sizeof (address.sun_path), "%s", socketPath.c_str());

        bool acknowledged = false;

        if (::connect (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0)
        {
            (void) ::send (fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            ::shutdown (fd, SHUT_WR);
            char reply = 0;
            acknowledged = ::recv (fd, &reply, 1, 0) == 1;
        }

        ::close (fd);
        return acknowledged;
    }

    std::string header (char kind, std::uint32_t size)
    {
        std::string bytes = "ZAM1";
        bytes += kind;

        for (int shift = 24; shift >= 0; shift -= 8)
            bytes += (char) ((size >> shift) & 0xff);

        return bytes;
    }

    bool isRoot() { return ::geteuid() == 0; }
}

//==================================================================================================
TEST (InstanceChannel, FirstLaunchBecomesInstanceAndLaterLaunchesHandOffInOrder)
{
    TemporaryFolder folder;
    InstanceChannel instance (folder.path);
    ASSERT_EQ (instance.claimOrHandOff ({ Kind::commandLine, "" }), InstanceChannel::Outcome::becameInstance);
    ASSERT_TRUE (instance.isInstance());

    Inbox inbox;
    inbox.listenOn (instance);

    InstanceChannel second (folder.path);
    EXPECT_EQ (second.claimOrHandOff ({ Kind::url, "at-zembrik-tesh://oauth2?code=one" }), InstanceChannel::Outcome::handedOff);
    EXPECT_FALSE (second.isInstance());
    EXPECT_TRUE (InstanceChannel::sendMessage (folder.path, { Kind::commandLine, "ZembrikMac \"a b\"" }, 2s));

    ASSERT_TRUE (inbox.waitFor (2));
    EXPECT_EQ (inbox.received[0], (Message { Kind::url, "at-zembrik-tesh://oauth2?code=one" }));
    EXPECT_EQ (inbox.received[1], (Message { Kind::commandLine, "ZembrikMac \"a b\"" }));
}

TEST (InstanceChannel, BurstOfHundredDeliveriesArrivesCompleteAndInOrder)
{
    TemporaryFolder folder;
    InstanceChannel instance (folder.path);
    ASSERT_EQ (instance.claimOrHandOff ({}), InstanceChannel::Outcome::becameInstance);
    Inbox inbox;
    inbox.listenOn (instance);

    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE (InstanceChannel::sendMessage (folder.path, { Kind::url, "at-zembrik-2-fennix://oauth2?code=" + std::to_string (i) }, 2s));

    ASSERT_TRUE (inbox.waitFor (100));
    ASSERT_EQ (inbox.received.size(), 100u);

    for (int i = 0; i < 100; ++i)
        EXPECT_EQ (inbox.received[(size_t) i].text, "at-zembrik-2-fennix://oauth2?code=" + std::to_string (i));
}

TEST (InstanceChannel, MalformedAndOversizedMessagesAreDroppedAndChannelKeepsWorking)
{
    TemporaryFolder folder;
    InstanceChannel instance (folder.path);
    ASSERT_EQ (instance.claimOrHandOff ({}), InstanceChannel::Outcome::becameInstance);
    Inbox inbox;
    inbox.listenOn (instance);
    const auto socket = instance.getSocketPath();

    EXPECT_FALSE (sendRaw (socket, "GET / HTTP/1.0\r\n\r\n"));                       // wrong magic
    EXPECT_FALSE (sendRaw (socket, header ('X', 1) + "a"));                          // unknown kind
    EXPECT_FALSE (sendRaw (socket, header ('U', 64 * 1024 + 1) + std::string (100, 'a')));   // too long
    EXPECT_FALSE (sendRaw (socket, header ('U', 10) + "short"));                     // cut off
    EXPECT_FALSE (sendRaw (socket, header ('U', 3) + "a\xff" "b"));                  // not UTF-8
    EXPECT_FALSE (sendRaw (socket, header ('C', 3) + std::string ("a\0b", 3)));      // NUL inside
    EXPECT_FALSE (sendRaw (socket, ""));                                             // nothing at all

    // The sender refuses what the instance would drop.
    EXPECT_FALSE (InstanceChannel::sendMessage (folder.path, { Kind::url, std::string (64 * 1024 + 1, 'a') }, 1s));

    const Message largest { Kind::url, std::string (64 * 1024, 'z') };
    EXPECT_TRUE (InstanceChannel::sendMessage (folder.path, largest, 2s));
    EXPECT_TRUE (sendRaw (socket, header ('C', 2) + "ok"));

    ASSERT_TRUE (inbox.waitFor (2));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    ASSERT_EQ (inbox.received.size(), 2u);
    EXPECT_EQ (inbox.received[0], largest);
    EXPECT_EQ (inbox.received[1], (Message { Kind::commandLine, "ok" }));
}

TEST (InstanceChannel, SilentClientIsDroppedAfterTimeOutAndLaterMessagesStillArrive)
{
    TemporaryFolder folder;
    InstanceChannel instance (folder.path);
    ASSERT_EQ (instance.claimOrHandOff ({}), InstanceChannel::Outcome::becameInstance);
    Inbox inbox;
    inbox.listenOn (instance);

    // A client that connects and then says nothing holds the channel for the read time-out only.
    const int silent = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf (address.sun_path, sizeof (address.sun_path), "%s", instance.getSocketPath().c_str());
    ASSERT_EQ (::connect (silent, reinterpret_cast<const sockaddr*> (&address), sizeof (address)), 0);

    EXPECT_TRUE (InstanceChannel::sendMessage (folder.path, { Kind::url, "at-zembrik-tesh://oauth2?code=x" }, 5s));
    ::close (silent);

    ASSERT_TRUE (inbox.waitFor (1));
    EXPECT_EQ (inbox.received[0].text, "at-zembrik-tesh://oauth2?code=x");
}

TEST (InstanceChannel, StaleSocketAndLockOfKilledInstanceDoNotBlockNextStart)
{
    TemporaryFolder folder;
    InstanceChannel next (folder.path);

    // An instance that died left its socket file behind ...
    {
        const int stale = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf (address.sun_path, sizeof (address.sun_path), "%s", next.getSocketPath().c_str());
        ASSERT_EQ (::bind (stale, reinterpret_cast<const sockaddr*> (&address), sizeof (address)), 0);
        ::close (stale);
    }

    // ... and its lock was held by a process that is killed now.
    const auto holder = processlauncher::start ({ "/usr/bin/python3", "-c",
        "import fcntl, os, sys, time\n"
        "fd = os.open (sys.argv[1], os.O_RDWR | os.O_CREAT)\n"
        "fcntl.flock (fd, fcntl.LOCK_EX)\n"
        "time.sleep (60)", next.getLockPath() });
    ASSERT_GT (holder, 0);

    for (int i = 0; i < 500 && run ("/usr/bin/flock -n '" + next.getLockPath() + "' true") == 0; ++i)
        ::usleep (10'000);

    EXPECT_EQ (InstanceChannel (folder.path).claimOrHandOff ({}, 100ms), InstanceChannel::Outcome::failed);
    ASSERT_EQ (::kill (holder, SIGKILL), 0);
    (void) processlauncher::wait (holder);

    ASSERT_EQ (next.claimOrHandOff ({}, 1s), InstanceChannel::Outcome::becameInstance);
    Inbox inbox;
    inbox.listenOn (next);
    EXPECT_TRUE (InstanceChannel::sendMessage (folder.path, { Kind::commandLine, "after" }, 2s));
    ASSERT_TRUE (inbox.waitFor (1));
}

TEST (InstanceChannel, LockHeldByInstanceThatNeverAnswersFailsAfterPatience)
{
    TemporaryFolder folder;
    InstanceChannel mute (folder.path);
    ASSERT_EQ (mute.claimOrHandOff ({}), InstanceChannel::Outcome::becameInstance);   // never listens

    InstanceChannel launcher (folder.path);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ (launcher.claimOrHandOff ({ Kind::url, "at-zembrik-tesh://oauth2?code=x" }, 300ms),
               InstanceChannel::Outcome::failed);
    EXPECT_GE (std::chrono::steady_clock::now() - start, 300ms);
}

TEST (InstanceChannel, EndedInstanceFreesTheChannelForTheNextLaunch)
{
    TemporaryFolder folder;

    {
        InstanceChannel first (folder.path);
        ASSERT_EQ (first.claimOrHandOff ({}), InstanceChannel::Outcome::becameInstance);
        Inbox inbox;
        inbox.listenOn (first);
    }

    InstanceChannel second (folder.path);
    EXPECT_EQ (second.claimOrHandOff ({}, 500ms), InstanceChannel::Outcome::becameInstance);
}

//==================================================================================================
TEST (InstanceChannelFolder, UsesPrivateRuntimeDirectoryAndFallsBackWhenItIsNotOurs)
{
    TemporaryFolder runtime;
    TemporaryFolder base;
    ASSERT_EQ (::chmod (runtime.path.c_str(), 0700), 0);

    EXPECT_EQ (InstanceChannel::findChannelFolder (runtime.path.c_str(), base.path), runtime.path);

    const auto fallback = base.path + "/zembrik-authorizer-" + std::to_string (::geteuid());

    for (const char* unusable : { (const char*) nullptr, "", "relative/dir", "/nonexistent/zembrik" })
        EXPECT_EQ (InstanceChannel::findChannelFolder (unusable, base.path), fallback);

    ASSERT_EQ (::chmod (runtime.path.c_str(), 0755), 0);   // readable by others: not private
    EXPECT_EQ (InstanceChannel::findChannelFolder (runtime.path.c_str(), base.path), fallback);

    struct stat info {};
    ASSERT_EQ (::lstat (fallback.c_str(), &info), 0);
    EXPECT_TRUE (S_ISDIR (info.st_mode));
    EXPECT_EQ (info.st_mode & 0777, 0700u);
}

TEST (InstanceChannelFolder, TakenOrUnsafeNamesAreSkippedTheSameWayByEveryLaunch)
{
    TemporaryFolder base;
    const auto first = base.path + "/zembrik-authorizer-" + std::to_string (::geteuid());

    ASSERT_EQ (::symlink (base.path.c_str(), first.c_str()), 0);                    // a symlink
    ASSERT_EQ (::mkdir ((first + ".1").c_str(), 0755), 0);                          // not 0700
    ASSERT_EQ (::chmod ((first + ".1").c_str(), 0755), 0);

    const auto chosen = InstanceChannel::findChannelFolder (nullptr, base.path);
    EXPECT_EQ (chosen, first + ".2");

    // Once ours exists, freeing a name in front of it does not move later launches.
    ASSERT_EQ (::unlink (first.c_str()), 0);
    EXPECT_EQ (InstanceChannel::findChannelFolder (nullptr, base.path), first + ".2");
}

TEST (InstanceChannelFolder, AnotherUserCannotBlockOurFolder)
{
    if (! isRoot())
        GTEST_SKIP() << "needs root to act as another user";

    TemporaryFolder base;
    ASSERT_EQ (::chmod (base.path.c_str(), 01777), 0);
    const auto first = base.path + "/zembrik-authorizer-" + std::to_string (::geteuid());

    // Another user takes our first name, as a private folder of its own.
    ASSERT_EQ (run (std::string ("setpriv --reuid=") + nobody + " --regid=" + nobody
                    + " --clear-groups mkdir -m 700 '" + first + "'"), 0);

    EXPECT_EQ (InstanceChannel::findChannelFolder (nullptr, base.path), first + ".1");
}

TEST (InstanceChannel, AnotherUserCanNeitherDeliverNorAnswer)
{
    if (! isRoot())
        GTEST_SKIP() << "needs root to act as another user";

    // Open to everyone on purpose, so only the uid check stands between the users.
    TemporaryFolder folder;
    ASSERT_EQ (::chmod (folder.path.c_str(), 01777), 0);

    {
        InstanceChannel instance (folder.path);
        ASSERT_EQ (instance.claimOrHandOff ({}), InstanceChannel::Outcome::becameInstance);
        Inbox inbox;
        inbox.listenOn (instance);
        ASSERT_EQ (::chmod (instance.getSocketPath().c_str(), 0777), 0);

        const auto client = std::string ("setpriv --reuid=") + nobody + " --regid=" + nobody + " --clear-groups "
                          + "/usr/bin/python3 -c \"import socket,sys\n"
                            "s=socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])\n"
                            "try:\n s.sendall(b'ZAM1U\\x00\\x00\\x00\\x01x'); s.settimeout(5)\n"
                            " sys.exit(0 if s.recv(1)==b'A' else 3)\n"
                            "except OSError: sys.exit(3)\" '" + instance.getSocketPath() + "'";
        EXPECT_EQ (run (client), 3);

        juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
        EXPECT_TRUE (inbox.received.empty());
    }

    // Nor can a process of another user pose as the instance: we do not deliver to it.
    const auto socketPath = folder.path + "/zembrik-authorizer.socket";
    const auto readyFile = folder.path + "/ready";
    const auto server = std::string ("setpriv --reuid=") + nobody + " --regid=" + nobody + " --clear-groups "
                      + "/usr/bin/python3 -c \"import socket,sys\n"
                        "s=socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen(5)\n"
                        "open(sys.argv[2],'w').close(); s.settimeout(10)\n"
                        "c,_=s.accept(); c.sendall(b'A')\n"
                        "try: c.recv(100)\nexcept OSError: pass\" '" + socketPath + "' '" + readyFile + "' &";
    ASSERT_EQ (run (server), 0);

    for (int i = 0; i < 200 && ::access (readyFile.c_str(), F_OK) != 0; ++i)
        ::usleep (10'000);

    ASSERT_EQ (::access (readyFile.c_str(), F_OK), 0);
    EXPECT_FALSE (InstanceChannel::sendMessage (folder.path, { Kind::url, "at-zembrik-tesh://oauth2?code=x" }, 1s));
}
