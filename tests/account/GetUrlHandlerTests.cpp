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
            calls.push_back (commandLine.toStdString() + " | code then: " + accessor.authorizationCode);
        }

        std::vector<std::string> calls;

    private:
        const AccountAccessor& accessor;
    };
}

TEST (GetUrlHandler, HandsTheUrlToTheApplicationFirstThenSetsTheCode)
{
    // The framework only lets an application object be made where a factory is installed.
    const auto previousFactory = std::exchange (juce::JUCEApplicationBase::createInstance, &noApplication);
    AccountAccessor accessor;
    auto application = std::make_unique<RecordingApplication> (accessor);

    struct Case { std::optional<std::string> url; std::string forApplication, code; };
    const std::vector<Case> cases {
        { "at-zembrik-2-fennix://oauth2?code=abc", "at-zembrik-2-fennix://oauth2?code=abc", "abc" },
        { "at-zembrik-tesh://oauth2?code=a b", "\"at-zembrik-tesh://oauth2?code=a b\"", "a b" },
        { "\"at-zembrik-tesh://oauth2?code=a b\"", "\"at-zembrik-tesh://oauth2?code=a b\"", "a b\"" },  // not quoted twice
        { std::nullopt, "", "earlier" },
        { "at-zembrik-2-fennix://oauth2?code=\xc0\xaf", "", "earlier" },   // not UTF-8
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.url.value_or ("(none)"));
        accessor.authorizationCode = "earlier";
        application->calls.clear();

        getUrl ({ c.url });
        EXPECT_EQ (application->calls, std::vector<std::string> { c.forApplication + " | code then: earlier" });
        EXPECT_EQ (accessor.authorizationCode, c.code);
    }

    getUrl ({ "at-zembrik-2-fennix://oauth2?code=one" });
    getUrl ({ "at-zembrik-2-fennix://oauth2?code=two" });
    EXPECT_EQ (accessor.authorizationCode, "two");

    application.reset();
    juce::JUCEApplicationBase::createInstance = previousFactory;
}

TEST (GetUrlHandler, WithoutAnApplicationTheCodeStillArrives)
{
    ASSERT_EQ (juce::JUCEApplicationBase::getInstance(), nullptr);

    AccountAccessor accessor;
    getUrl ({ "at-zembrik-2-fennix://oauth2?code=abc" });
    EXPECT_EQ (accessor.authorizationCode, "abc");
}
