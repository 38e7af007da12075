#include "account/AccountAccessor.h"
#include "app/InstanceHandOff.h"
#include "platform/InstanceChannel.h"
#include "support/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <set>

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
        EXPECT_EQ (messageForLaunch ({ url, "more" }), (Message { Kind::url, url }));

    for (const auto* other : { "at-zembrik-tesh", "https://at-zembrik-tesh:/", "" })   // no colon; another scheme
        EXPECT_EQ (messageForLaunch ({ other }), (Message { Kind::commandLine, other }));

    EXPECT_EQ (messageForLaunch ({ "ZembrikMac", "two words", "\"quoted already\"", "at-zembrik-tesh:x" }),
               (Message { Kind::commandLine, "ZembrikMac \"two words\" \"quoted already\" at-zembrik-tesh:x" }));
    EXPECT_EQ (messageForLaunch ({}), (Message { Kind::commandLine, "" }));
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
