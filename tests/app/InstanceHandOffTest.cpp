#include "account/AccountAccessor.h"
#include "app/InstanceHandOff.h"
#include "platform/InstanceChannel.h"
#include "support/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <signal.h>
#include <sys/stat.h>

using Message = InstanceChannel::Message;
using Kind = Message::Kind;

namespace
{
    /** An application object that records what reaches anotherInstanceStarted. */
    class RecordingApplication final : public juce::JUCEApplication
    {
    public:
        const juce::String getApplicationName() override   { return "Zembrik Authorizer"; }
        const juce::String getApplicationVersion() override { return "1.0.0"; }
        void initialise (const juce::String&) override {}
        void shutdown() override {}
        void anotherInstanceStarted (const juce::String& commandLine) override { commandLines.add (commandLine); }

        juce::StringArray commandLines;
    };

    /** This test process as the running instance, with an application object and an account
        client, and the real binary as the later launch that finds it in the channel folder.
    */
    class HandOffToRunningInstance : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            char pattern[] = "/tmp/zembrik-handoff-test-XXXXXX";
            folder = ::mkdtemp (pattern);
            channel = std::make_unique<InstanceChannel> (folder);
            ASSERT_EQ (channel->claimOrHandOff ({}), InstanceChannel::Outcome::becameInstance);
            channel->startListening (&deliverToApplication);
        }

        void TearDown() override
        {
            channel.reset();
            (void) std::system (("rm -rf '" + folder + "'").c_str());
        }

        pid_t startLaunch (std::vector<std::string> arguments)
        {
            arguments.insert (arguments.begin(), ZEMBRIK_APP_BINARY);
            return processlauncher::start (arguments, { { "XDG_RUNTIME_DIR", folder } });
        }

        int launch (const std::vector<std::string>& arguments) { return processlauncher::wait (startLaunch (arguments)); }

        template <typename Condition>
        static bool runLoopUntil (Condition condition)
        {
            for (int i = 0; i < 1000 && ! condition(); ++i)
                juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

            return condition();
        }

        std::string folder;
        std::unique_ptr<InstanceChannel> channel;
        RecordingApplication application;
        AccountAccessor accessor;
    };
}

//==================================================================================================
TEST (InstanceHandOff, LaunchHandsOverItsRedirectUrlInAnyLetterCaseOrItsCommandLineAsTheFrameworkFormsIt)
{
    for (const auto* url : { "at-zembrik-tesh://oauth2?code=a b", "AT-Zembrik-Tesh:x", "at-zembrik-2-fennix:" })
        EXPECT_EQ (messageForLaunch ({ url, "more" }).message, (Message { Kind::url, url }));

    for (const auto* other : { "at-zembrik-tesh", "https://at-zembrik-tesh:/", "" })   // no colon; another scheme
        EXPECT_EQ (messageForLaunch ({ other }).message, (Message { Kind::commandLine, other }));

    EXPECT_EQ (messageForLaunch ({ "ZembrikMac", "two words", "\"quoted already\"", "at-zembrik-tesh:x" }).message,
               (Message { Kind::commandLine, "ZembrikMac \"two words\" \"quoted already\" at-zembrik-tesh:x" }));
    EXPECT_EQ (messageForLaunch ({}).message, (Message { Kind::commandLine, "" }));
}

TEST (InstanceHandOff, LaunchWhoseMessageTheInstanceWouldDropHasNoneAndSaysWhyInOneLine)
{
    constexpr auto limit = InstanceChannel::maximumTextSize;
    const auto url = [] (std::size_t size) { std::string text ("at-zembrik-tesh:"); text.resize (size, 'x'); return text; };
    struct Case { std::vector<std::string> arguments; const char* problem; };   // no problem: sent

    for (const auto& [arguments, problem] : {
             Case { { "at-zembrik-tesh:\xff" }, "argument 1 is not valid UTF-8" },
             { { "ZembrikMac", "caf\xc3" }, "argument 2 is not valid UTF-8" },
             { { "ZembrikMac", "\xed\xa0\x80" }, "argument 2 is not valid UTF-8" },   // a surrogate
             { { "ZembrikMac", std::string ("a\0b", 3) }, "argument 2 contains a NUL byte" },
             { { url (limit + 1) }, "the redirect URL is 65537 bytes long" },
             { { std::string (limit - 2, 'a'), "b c" }, "the command line is 65540 bytes long" },   // with its quotes
             { { url (limit), "\xff" }, nullptr },   // only what is sent counts
             { { std::string (limit - 2, 'a'), "b" }, nullptr } })
    {
        const auto launch = messageForLaunch (arguments);
        const auto where = arguments.back().substr (0, 20);

        if (problem == nullptr)
        {
            EXPECT_TRUE (launch.message.has_value()) << where;
            EXPECT_LE (launch.message->text.size(), limit) << where;
            continue;
        }

        EXPECT_FALSE (launch.message.has_value()) << problem;
        EXPECT_NE (launch.problem.find (problem), std::string::npos) << launch.problem;
        EXPECT_EQ (launch.problem.find ('\n'), std::string::npos) << launch.problem;
    }
}

//==================================================================================================
TEST_F (HandOffToRunningInstance, LaunchesOfRealBinaryReachApplicationAndAccountClientAndTheLastCodeWins)
{
    // A plain second launch: its command line for the application object only.
    ASSERT_EQ (launch ({ "ZembrikMacTesh", "some file" }), 0);
    ASSERT_TRUE (runLoopUntil ([&] { return application.commandLines.size() == 1; }));
    EXPECT_EQ (application.commandLines[0], "ZembrikMacTesh \"some file\"");
    EXPECT_TRUE (accessor.authorizationCode.empty());

    // A URL with a space: quoted for the application, the code without quotes.
    ASSERT_EQ (launch ({ "at-zembrik-tesh://oauth2?code=a b" }), 0);
    ASSERT_TRUE (runLoopUntil ([&] { return ! accessor.authorizationCode.empty(); }));
    EXPECT_EQ (accessor.authorizationCode, "a b");
    ASSERT_EQ (application.commandLines.size(), 2);
    EXPECT_EQ (application.commandLines[1], "\"at-zembrik-tesh://oauth2?code=a b\"");

    ASSERT_EQ (launch ({ "at-zembrik-2-fennix://oauth2?code=first" }), 0);
    ASSERT_TRUE (runLoopUntil ([&] { return accessor.authorizationCode == "first"; }));
    ASSERT_EQ (launch ({ "at-zembrik-tesh://oauth2?code=second" }), 0);
    ASSERT_EQ (launch ({ "AT-ZEMBRIK-TESH://oauth2?code=third" }), 0);
    EXPECT_TRUE (runLoopUntil ([&] { return accessor.authorizationCode == "third"; }));
}

TEST_F (HandOffToRunningInstance, LaunchWithArgumentTheInstanceWouldDropFailsWithoutTryingAndNothingArrives)
{
    // 2, not the 1 of an instance that could not be reached: the launch does not retry for its
    // patience as if a later try could succeed.
    EXPECT_EQ (launch ({ "at-zembrik-tesh://oauth2?code=\xff" }), 2);
    EXPECT_EQ (launch ({ "ZembrikMac", std::string (InstanceChannel::maximumTextSize, 'a') }), 2);

    ASSERT_EQ (launch ({ "ZembrikMac" }), 0);
    ASSERT_TRUE (runLoopUntil ([&] { return application.commandLines.size() == 1; }));
    EXPECT_EQ (application.commandLines[0], "ZembrikMac");
    EXPECT_TRUE (accessor.authorizationCode.empty());
}

TEST (InstanceHandOff, FirstLaunchWithArgumentNoInstanceWouldTakeStillBecomesTheInstance)
{
    char pattern[] = "/tmp/zembrik-handoff-test-XXXXXX";
    const std::string folder = ::mkdtemp (pattern);
    const auto first = processlauncher::start ({ ZEMBRIK_APP_BINARY, "ZembrikMac", "\xff" }, { { "XDG_RUNTIME_DIR", folder } });
    ASSERT_GT (first, 0);

    bool answered = false;
    int status = 0;

    // It is the instance once it answers a launch; until then it is starting, unless it ended.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes (2);

    while (std::chrono::steady_clock::now() < giveUp && ::waitpid (first, &status, WNOHANG) == 0)
    {
        if ((answered = InstanceChannel::sendMessage (folder, { Kind::commandLine, "ZembrikMac" }, std::chrono::seconds (1))))
            break;

        ::usleep (20'000);
    }

    EXPECT_TRUE (answered);
    ::kill (first, SIGTERM);
    (void) processlauncher::wait (first);
    (void) std::system (("rm -rf '" + folder + "'").c_str());
}

TEST (InstanceHandOff, LaunchThatCannotMakeTheLockFileOrSocketSaysSoWithTheReason)
{
    // A folder in the way refuses even root, unlike mode bits.
    const std::pair<const char*, std::string> blocked[] { { "zembrik-authorizer.lock", "lock file" },
                                                          { "zembrik-authorizer.socket", "socket" } };

    for (const auto& [name, what] : blocked)
    {
        for (const auto* argument : { "at-zembrik-tesh://oauth2?code=x", "\xff" })   // sent, or none to send
        {
            char pattern[] = "/tmp/zembrik-handoff-test-XXXXXX";
            const std::string folder = ::mkdtemp (pattern);
            ASSERT_EQ (::mkdir ((folder + "/" + name).c_str(), 0700), 0);

            const auto errors = folder + "/errors";
            const auto status = processlauncher::run ({ "/bin/sh", "-c", "errors=$1; shift; exec \"$@\" 2> \"$errors\"", "sh",
                                                        errors, ZEMBRIK_APP_BINARY, argument },
                                                      { { "XDG_RUNTIME_DIR", folder } });
            std::ostringstream stream;
            stream << std::ifstream (errors).rdbuf();
            const auto printed = stream.str();

            // Its last line: a debug build's framework prints its version first.
            const auto reason = std::strerror (what == "socket" ? EADDRINUSE : EISDIR);
            EXPECT_EQ (status, 3) << what;
            EXPECT_EQ (printed.substr (printed.find_last_of ('\n', printed.size() - 2) + 1),
                       "Zembrik Authorizer could not make its " + what + " in " + folder + ": " + reason + "\n");
            std::filesystem::remove_all (folder);
        }
    }
}

TEST_F (HandOffToRunningInstance, BurstOfHundredUrlLaunchesIsHandledCompletelyAndLoopStaysResponsive)
{
    std::vector<pid_t> launches;

    for (int i = 0; i < 100; ++i)
        launches.push_back (startLaunch ({ "at-zembrik-tesh://oauth2?code=" + std::to_string (i) }));

    // The message thread keeps serving other work while the launches arrive.
    bool otherWorkDone = false;
    juce::MessageManager::callAsync ([&] { otherWorkDone = true; });
    EXPECT_TRUE (runLoopUntil ([&] { return otherWorkDone; }));

    for (auto pid : launches)
        EXPECT_EQ (processlauncher::wait (pid), 0);

    ASSERT_TRUE (runLoopUntil ([&] { return application.commandLines.size() == 100; }));
    EXPECT_EQ (std::set<juce::String> (application.commandLines.begin(), application.commandLines.end()).size(), 100u);
    EXPECT_EQ ("at-zembrik-tesh://oauth2?code=" + accessor.authorizationCode,
               application.commandLines[99].toStdString());   // the last delivered code wins
}
