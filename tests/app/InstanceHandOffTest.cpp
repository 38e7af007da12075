#include "account/AccountAccessor.h"
#include "app/InstanceHandOff.h"
#include "platform/InstanceChannel.h"
#include "support/ProcessLauncher.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <set>

using Kind = InstanceChannel::Message::Kind;

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

    /** This test process as the running instance, on a channel folder of its own, and the real
        binary as the later launch that finds it there.
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

        int launch (const std::vector<std::string>& arguments)
        {
            return processlauncher::wait (startLaunch (arguments));
        }

        pid_t startLaunch (std::vector<std::string> arguments)
        {
            arguments.insert (arguments.begin(), ZEMBRIK_APP_BINARY);
            return processlauncher::start (arguments, { { "XDG_RUNTIME_DIR", folder } });
        }

        template <typename Condition>
        static bool runLoopUntil (Condition condition)
        {
            for (int i = 0; i < 1000 && ! condition(); ++i)
                juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

            return condition();
        }

        std::string folder;
        std::unique_ptr<InstanceChannel> channel;
    };
}

//==================================================================================================
TEST (InstanceHandOff, RedirectSchemesAreRecognisedInAnyLetterCase)
{
    EXPECT_TRUE (isRedirectUrl ("at-zembrik-2-fennix://oauth2?code=a"));
    EXPECT_TRUE (isRedirectUrl ("AT-Zembrik-Tesh:x"));
    EXPECT_FALSE (isRedirectUrl ("at-zembrik-tesh"));            // no colon: not a URL
    EXPECT_FALSE (isRedirectUrl ("https://at-zembrik-tesh:/"));
    EXPECT_FALSE (isRedirectUrl ("ZembrikMac"));
    EXPECT_FALSE (isRedirectUrl (""));
}

TEST (InstanceHandOff, LaunchHandsOverItsUrlOrItsCommandLineAsTheFrameworkFormsIt)
{
    EXPECT_EQ (messageForLaunch ({ "at-zembrik-tesh://oauth2?code=a b", "more" }),
               (InstanceChannel::Message { Kind::url, "at-zembrik-tesh://oauth2?code=a b" }));
    EXPECT_EQ (messageForLaunch ({ "ZembrikMac", "two words", "\"quoted already\"", "at-zembrik-tesh:x" }),
               (InstanceChannel::Message { Kind::commandLine, "ZembrikMac \"two words\" \"quoted already\" at-zembrik-tesh:x" }));
    EXPECT_EQ (messageForLaunch ({}), (InstanceChannel::Message { Kind::commandLine, "" }));
}

//==================================================================================================
TEST_F (HandOffToRunningInstance, UrlLaunchOfRealBinarySetsTheAuthorizationCodeAndTheLastCodeWins)
{
    AccountAccessor accessor;

    ASSERT_EQ (launch ({ "at-zembrik-2-fennix://oauth2?code=first" }), 0);
    ASSERT_TRUE (runLoopUntil ([&] { return accessor.authorizationCode == "first"; }));

    ASSERT_EQ (launch ({ "at-zembrik-tesh://oauth2?code=second" }), 0);
    ASSERT_EQ (launch ({ "AT-ZEMBRIK-TESH://oauth2?code=third" }), 0);
    EXPECT_TRUE (runLoopUntil ([&] { return accessor.authorizationCode == "third"; }));
}

TEST_F (HandOffToRunningInstance, UrlWithSpaceReachesApplicationQuotedAndCodeWithoutQuotes)
{
    RecordingApplication application;
    AccountAccessor accessor;

    ASSERT_EQ (launch ({ "at-zembrik-tesh://oauth2?code=a b" }), 0);
    ASSERT_TRUE (runLoopUntil ([&] { return ! accessor.authorizationCode.empty(); }));

    EXPECT_EQ (accessor.authorizationCode, "a b");
    ASSERT_EQ (application.commandLines.size(), 1);
    EXPECT_EQ (application.commandLines[0], "\"at-zembrik-tesh://oauth2?code=a b\"");
}

TEST_F (HandOffToRunningInstance, PlainSecondLaunchHandsItsCommandLineToApplicationOnly)
{
    RecordingApplication application;
    AccountAccessor accessor;

    ASSERT_EQ (launch ({ "ZembrikMacTesh", "some file" }), 0);
    ASSERT_TRUE (runLoopUntil ([&] { return application.commandLines.size() == 1; }));

    EXPECT_EQ (application.commandLines[0], "ZembrikMacTesh \"some file\"");
    EXPECT_TRUE (accessor.authorizationCode.empty());
}

TEST_F (HandOffToRunningInstance, BurstOfHundredUrlLaunchesIsHandledCompletelyAndLoopStaysResponsive)
{
    RecordingApplication application;
    AccountAccessor accessor;
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

    std::set<juce::String> received (application.commandLines.begin(), application.commandLines.end());
    EXPECT_EQ (received.size(), 100u);
    EXPECT_EQ ("at-zembrik-tesh://oauth2?code=" + accessor.authorizationCode,
               application.commandLines[99].toStdString());   // the last delivered code wins
}
