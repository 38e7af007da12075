#include "account/AccountAccessor.h"
#include "account/GetUrlHandler.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
    juce::JUCEApplicationBase* noApplication() { return nullptr; }

    /** Records what reaches anotherInstanceStarted, and the account client's code at that moment. */
    class RecordingApplication final : public juce::JUCEApplication
    {
    public:
        explicit RecordingApplication (const AccountAccessor& accessorToWatch) : accessor (accessorToWatch) {}

        const juce::String getApplicationName() override    { return "Recording"; }
        const juce::String getApplicationVersion() override { return "0"; }
        void initialise (const juce::String&) override {}
        void shutdown() override {}

        void anotherInstanceStarted (const juce::String& commandLine) override
        {
            received.add (commandLine);
            codesSeen.push_back (accessor.authorizationCode);
        }

        juce::StringArray received;
        std::vector<std::string> codesSeen;

    private:
        const AccountAccessor& accessor;
    };

    class GetUrlHandlerTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            // The framework only lets an application object be made where a factory is installed.
            previousFactory = juce::JUCEApplicationBase::createInstance;
            juce::JUCEApplicationBase::createInstance = &noApplication;
            application = std::make_unique<RecordingApplication> (accessor);
            accessor.authorizationCode = "earlier";
        }

        void TearDown() override
        {
            application.reset();
            juce::JUCEApplicationBase::createInstance = previousFactory;
        }

        AccountAccessor accessor;
        std::unique_ptr<RecordingApplication> application;
        juce::JUCEApplicationBase::CreateInstanceFunction previousFactory = nullptr;
    };
}

TEST_F (GetUrlHandlerTest, HandsTheUrlToTheApplicationFirstThenSetsTheCode)
{
    getUrl ({ "at-zembrik-2-fennix://oauth2?code=abc" });

    ASSERT_EQ (application->received.size(), 1);
    EXPECT_EQ (application->received[0], "at-zembrik-2-fennix://oauth2?code=abc");
    EXPECT_EQ (application->codesSeen, std::vector<std::string> { "earlier" });
    EXPECT_EQ (accessor.authorizationCode, "abc");
}

TEST_F (GetUrlHandlerTest, UrlWithASpaceIsQuotedForTheApplicationOnly)
{
    getUrl ({ "at-zembrik-tesh://oauth2?code=a b" });

    EXPECT_EQ (application->received[0], "\"at-zembrik-tesh://oauth2?code=a b\"");
    EXPECT_EQ (accessor.authorizationCode, "a b");
}

TEST_F (GetUrlHandlerTest, AlreadyQuotedUrlGetsNoFurtherQuotes)
{
    getUrl ({ "\"at-zembrik-tesh://oauth2?code=a b\"" });

    EXPECT_EQ (application->received[0], "\"at-zembrik-tesh://oauth2?code=a b\"");
    EXPECT_EQ (accessor.authorizationCode, "a b\"");
}

TEST_F (GetUrlHandlerTest, EventWithoutTextGivesTheApplicationAnEmptyString)
{
    getUrl ({ std::nullopt });

    ASSERT_EQ (application->received.size(), 1);
    EXPECT_EQ (application->received[0], "");
    EXPECT_EQ (accessor.authorizationCode, "earlier");
}

TEST_F (GetUrlHandlerTest, UrlThatIsNotUtf8ReachesTheApplicationAsAnEmptyString)
{
    getUrl ({ "at-zembrik-2-fennix://oauth2?code=\xc0\xaf" });

    EXPECT_EQ (application->received[0], "");
    EXPECT_EQ (accessor.authorizationCode, "earlier");
}

TEST_F (GetUrlHandlerTest, LastOfTwoEventsWins)
{
    getUrl ({ "at-zembrik-2-fennix://oauth2?code=one" });
    getUrl ({ "at-zembrik-2-fennix://oauth2?code=two" });

    EXPECT_EQ (application->received.size(), 2);
    EXPECT_EQ (accessor.authorizationCode, "two");
}

TEST (GetUrlHandler, WithoutAnApplicationTheCodeStillArrives)
{
    ASSERT_EQ (juce::JUCEApplicationBase::getInstance(), nullptr);

    AccountAccessor accessor;
    getUrl ({ "at-zembrik-2-fennix://oauth2?code=abc" });
    EXPECT_EQ (accessor.authorizationCode, "abc");
}
