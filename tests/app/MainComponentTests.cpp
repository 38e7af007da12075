#include "app/MainComponent.h"

#include "TestImageFolder.h"
#include "platform/UserLanguage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace juce
{
    // Readable failure messages for the lists of names and addresses compared below.
    inline void PrintTo (const StringArray& strings, std::ostream* stream)
    {
        *stream << "{ \"" << strings.joinIntoString ("\", \"") << "\" }";
    }
}

struct MainComponent::TestAccess
{
    static auto& registerOnlineButton (MainComponent& c) { return *c.registerOnlineButton; }
    static auto& enjoyButton (MainComponent& c)          { return *c.enjoyButton; }
    static auto& howToAuthButton (MainComponent& c)      { return *c.howToAuthButton; }
    static auto& retryButton (MainComponent& c)          { return *c.retryButton; }
    static auto& helpButton (MainComponent& c)           { return *c.helpButton; }
    static auto& backgrounds (MainComponent& c)          { return c.backgrounds; }
    static auto& background (MainComponent& c)           { return *c.background; }
    static auto& accessor (MainComponent& c)             { return *c.accessor; }
    static auto& imageResources (MainComponent& c)       { return *c.imageResources; }
    static int page (const MainComponent& c)             { return c.page; }
    static bool isJapanese (const MainComponent& c)      { return c.isJapanese; }
    static int productVariant (const MainComponent& c)   { return c.productVariant; }
};

namespace
{
    using Access = MainComponent::TestAccess;

    void setLanguage (const char* lang)
    {
        ::unsetenv ("LC_ALL");
        ::unsetenv ("LC_MESSAGES");
        ::setenv ("LANG", lang, 1);
    }

    void setArguments (std::vector<std::string> arguments)
    {
        arguments.insert (arguments.begin(), "zembrik-authorizer");
        setArgumentsForTesting (std::move (arguments));
    }

    /** The names of the visible children, back to front. */
    juce::StringArray getVisibleChildren (MainComponent& component)
    {
        juce::StringArray names;

        for (auto* child : component.getChildren())
            if (child->isVisible())
                names.add (child == &Access::background (component) ? "background" : child->getName());

        return names;
    }

    class MainComponentTest : public ::testing::Test
    {
    protected:
        MainComponentTest()
        {
            for (const std::string language : { "EN", "JP" })
            {
                for (const auto* background : { "P1_BG_Common_", "P1_BG_Common_PLUNDAR_", "P1_BG_Common_TESH_",
                                                "P3_BG_Common_" })
                    images.add (background + language + ".png", 900, 1200);

                // One background a pixel too large each way: halving truncates.
                images.add ("P4_BG_Common_" + language + ".png", 901, 1201);

                for (const auto* button : { "P1_BTN_SignIn_", "P3_BTN_Close_" })
                    images.add (button + language + ".png", 560, 112);

                for (const auto* button : { "P4_BTN_Help_", "P4_BTN_Retry_" })
                    images.add (button + language + ".png", 200, 100);
            }

            images.add ("BTN_question.png", 38, 38);

            setLanguage ("en_GB.UTF-8");
            setArguments ({});
        }

        ~MainComponentTest() override
        {
            setArgumentsForTesting (std::nullopt);
        }

        TestImageFolder images;
    };

    /** A temporary folder first on PATH with an "xdg-open" that writes down what it was asked to
        open, so that opening a page in the browser can be observed.
    */
    class RecordingBrowser final
    {
    public:
        RecordingBrowser()
            : folder (juce::File::createTempFile ("zembrik-browser"))
        {
            folder.createDirectory();
            const auto script = folder.getChildFile ("xdg-open");
            script.replaceWithText ("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record().getFullPathName() + "'\n",
                                 false, false, "\n");
            script.setExecutePermission (true);

            const auto* path = std::getenv ("PATH");
            originalPath = path != nullptr ? path : "";
            ::setenv ("PATH", (folder.getFullPathName() + ":" + originalPath).toRawUTF8(), 1);
        }

        ~RecordingBrowser()
        {
            ::setenv ("PATH", originalPath.toRawUTF8(), 1);
            folder.deleteRecursively();
        }

        /** The addresses opened so far, after waiting for the expected number to arrive. */
        juce::StringArray waitForAddresses (int count) const
        {
            juce::StringArray lines;

            for (int i = 0; i < 400; ++i)
            {
                lines = juce::StringArray::fromLines (record().loadFileAsString().trimEnd());
                lines.removeEmptyStrings();

                if (lines.size() >= count)
                    break;

                std::this_thread::sleep_for (std::chrono::milliseconds (50));
            }

            return lines;
        }

    private:
        juce::File record() const { return folder.getChildFile ("record"); }

        juce::File folder;
        juce::String originalPath;
    };
}

//==================================================================================================
TEST_F (MainComponentTest, FirstArgumentSelectsProductVariantAndEdition)
{
    struct Case { std::vector<std::string> arguments; int variant; Edition edition; const char* signInBackground; };

    for (const auto& c : { Case { { "ZembrikMac" }, 0, 1, "P1_BG_Common_EN.png" },
                           Case { { "ZembrikMacTesh", "more" }, 1, 3, "P1_BG_Common_TESH_EN.png" },
                           Case { { "ZembrikMacPlundar" }, 2, 2, "P1_BG_Common_PLUNDAR_EN.png" },
                           Case { {}, 3, 0, "P1_BG_Common_EN.png" },
                           Case { { "" }, 3, 0, "P1_BG_Common_EN.png" },
                           Case { { "zembrikmac" }, 3, 0, "P1_BG_Common_EN.png" },
                           Case { { "ZembrikMacTesh " }, 3, 0, "P1_BG_Common_EN.png" },
                           Case { { "ZembrikMa" }, 3, 0, "P1_BG_Common_EN.png" },
                           Case { { "other", "ZembrikMac" }, 3, 0, "P1_BG_Common_EN.png" } })
    {
        setArguments (c.arguments);
        MainComponent component;
        const auto label = c.arguments.empty() ? std::string ("(none)") : c.arguments.front();

        EXPECT_EQ (Access::productVariant (component), c.variant) << label;
        EXPECT_EQ (Access::accessor (component).editionIndex, c.edition) << label;
        EXPECT_EQ (Access::imageResources (component).edition, c.edition) << label;
        EXPECT_TRUE (TestImageFolder::cameFrom (Access::backgrounds (component)[0], c.signInBackground)) << label;
    }
}

TEST_F (MainComponentTest, JapaneseUserGetsJapaneseImagesAndTypeface)
{
    setLanguage ("ja_JP.UTF-8");
    setArguments ({ "ZembrikMacTesh" });
    MainComponent component;

    EXPECT_TRUE (Access::isJapanese (component));
    EXPECT_EQ (Access::imageResources (component).language, "JP");
    EXPECT_TRUE (TestImageFolder::cameFrom (Access::backgrounds (component)[0], "P1_BG_Common_TESH_JP.png"));
    EXPECT_TRUE (TestImageFolder::cameFrom (Access::backgrounds (component)[3], "P4_BG_Common_JP.png"));
    EXPECT_TRUE (TestImageFolder::cameFrom (Access::registerOnlineButton (component).getNormalImage(),
                                            "P1_BTN_SignIn_JP.png"));
    EXPECT_TRUE (TestImageFolder::cameFrom (Access::howToAuthButton (component).getNormalImage(),
                                            "BTN_question.png"));

    // The default look-and-feel now draws its default sans-serif text in a Japanese family.
    const auto japanese = findJapaneseTypefaceName();
    ASSERT_TRUE (japanese.isNotEmpty());
    auto& lookAndFeel = juce::LookAndFeel::getDefaultLookAndFeel();
    EXPECT_EQ (&component.getLookAndFeel(), &lookAndFeel);
    EXPECT_EQ (lookAndFeel.getTypefaceForFont (juce::Font (14.0f))->getName(), japanese);
}

TEST_F (MainComponentTest, OtherLanguagesGetEnglishAndKeepTheDefaultTypeface)
{
    auto& lookAndFeel = juce::LookAndFeel::getDefaultLookAndFeel();
    const auto defaultTypeface = lookAndFeel.getTypefaceForFont (juce::Font (14.0f))->getName();

    for (const auto* locale : { "en_US.UTF-8", "C", "jap_JP", "JA_JP", "" })
    {
        setLanguage (locale);
        MainComponent component;

        EXPECT_FALSE (Access::isJapanese (component)) << locale;
        EXPECT_EQ (Access::imageResources (component).language, "EN") << locale;
        EXPECT_TRUE (TestImageFolder::cameFrom (Access::retryButton (component).getNormalImage(),
                                                "P4_BTN_Retry_EN.png")) << locale;
    }

    // LC_ALL wins over a Japanese LANG.
    ::setenv ("LANG", "ja_JP.UTF-8", 1);
    ::setenv ("LC_ALL", "en_US.UTF-8", 1);
    EXPECT_FALSE (Access::isJapanese (MainComponent()));

    EXPECT_EQ (lookAndFeel.getTypefaceForFont (juce::Font (14.0f))->getName(), defaultTypeface);
}

TEST_F (MainComponentTest, ConstructionBuildsTheSignInPage)
{
    MainComponent component;

    EXPECT_EQ (component.getWidth(), 450);
    EXPECT_EQ (component.getHeight(), 600);
    EXPECT_EQ (Access::page (component), MainComponent::signIn);
    EXPECT_FALSE (component.isTimerRunning());

    // Back to front, every child once; the component does not own the buttons through children.
    const auto children = component.getChildren();
    ASSERT_EQ (children.size(), 6);
    EXPECT_EQ (children[0], &Access::background (component));
    EXPECT_EQ (children[1], &Access::registerOnlineButton (component));
    EXPECT_EQ (children[2], &Access::howToAuthButton (component));
    EXPECT_EQ (children[3], &Access::enjoyButton (component));
    EXPECT_EQ (children[4], &Access::retryButton (component));
    EXPECT_EQ (children[5], &Access::helpButton (component));

    EXPECT_EQ (getVisibleChildren (component),
               juce::StringArray ({ "background", "registerOnlineButton", "howToAuthButton" }));

    // Fixed layout, whatever size setImages gave the buttons from their images.
    using R = juce::Rectangle<int>;
    EXPECT_EQ (Access::background (component).getBounds(), R (0, 0, 450, 600));
    EXPECT_EQ (Access::background (component).getName(), "");
    EXPECT_EQ (Access::registerOnlineButton (component).getBounds(), R (85, 490, 280, 56));
    EXPECT_EQ (Access::howToAuthButton (component).getBounds(), R (374, 508, 19, 19));
    EXPECT_EQ (Access::enjoyButton (component).getBounds(), R (85, 490, 280, 56));
    EXPECT_EQ (Access::retryButton (component).getBounds(), R (98, 493, 100, 50));
    EXPECT_EQ (Access::helpButton (component).getBounds(), R (253, 493, 100, 50));

    EXPECT_EQ (Access::registerOnlineButton (component).getName(), "registerOnlineButton");
    EXPECT_EQ (Access::howToAuthButton (component).getName(), "howToAuthButton");
    EXPECT_EQ (Access::enjoyButton (component).getName(), "enjoyButton");
    EXPECT_EQ (Access::retryButton (component).getName(), "retryButton");
    EXPECT_EQ (Access::helpButton (component).getName(), "helpButton");

    auto& backgrounds = Access::backgrounds (component);
    ASSERT_EQ (backgrounds.size(), 4u);
    EXPECT_TRUE (backgrounds[1].isNull());

    for (const auto p : { 0, 2, 3 })
    {
        EXPECT_EQ (backgrounds[(size_t) p].getWidth(), 450) << p;
        EXPECT_EQ (backgrounds[(size_t) p].getHeight(), 600) << p;
    }

    EXPECT_TRUE (TestImageFolder::cameFrom (backgrounds[3], "P4_BG_Common_EN.png"));
    EXPECT_EQ (Access::background (component).getImage(), backgrounds[0]);
}

TEST_F (MainComponentTest, MissingOrTinyImagesLeaveNullBackgroundsAndTheLayoutIntact)
{
    {
        TestImageFolder empty;
        MainComponent component;

        for (const auto p : { 0, 2, 3 })
            EXPECT_TRUE (Access::backgrounds (component)[(size_t) p].isNull());

        EXPECT_EQ (Access::registerOnlineButton (component).getBounds(), juce::Rectangle<int> (85, 490, 280, 56));
        EXPECT_TRUE (static_cast<juce::Component&> (Access::registerOnlineButton (component)).hitTest (140, 28));
    }

    // Halving these leaves no pixel; they become null rather than zero-sized images.
    images.add ("P3_BG_Common_EN.png", 1, 1);
    images.add ("P4_BG_Common_EN.png", 3, 1);
    MainComponent component;

    EXPECT_TRUE (Access::backgrounds (component)[2].isNull());
    EXPECT_TRUE (Access::backgrounds (component)[3].isNull());
}

//==================================================================================================
TEST_F (MainComponentTest, PagesShowExactlyTheirButtonsAndBackground)
{
    MainComponent component;
    const auto signInSet = getVisibleChildren (component);

    component.showTransactionResult (0);
    EXPECT_EQ (Access::page (component), 2);
    EXPECT_EQ (getVisibleChildren (component), juce::StringArray ({ "background", "enjoyButton" }));
    EXPECT_EQ (Access::background (component).getImage(), Access::backgrounds (component)[2]);

    component.setPage (MainComponent::failed);
    EXPECT_EQ (Access::page (component), 3);
    EXPECT_EQ (getVisibleChildren (component), juce::StringArray ({ "background", "retryButton", "helpButton" }));
    EXPECT_EQ (Access::background (component).getImage(), Access::backgrounds (component)[3]);

    component.setPage (MainComponent::signIn);
    EXPECT_EQ (getVisibleChildren (component), signInSet);
    EXPECT_EQ (Access::background (component).getImage(), Access::backgrounds (component)[0]);

    EXPECT_FALSE (component.isTimerRunning());
}

TEST_F (MainComponentTest, SignInPollsUntilACodeArrivesAndKeepsThePage)
{
    MainComponent component;
    auto& accessor = Access::accessor (component);
    accessor.authorizationCode = "early-code";

    component.buttonClicked (&Access::registerOnlineButton (component));
    component.buttonClicked (&Access::registerOnlineButton (component));

    EXPECT_TRUE (component.isTimerRunning());
    EXPECT_EQ (component.getTimerInterval(), 1000);
    EXPECT_EQ (Access::page (component), MainComponent::signIn);
    EXPECT_EQ (accessor.authorizationCode, "early-code");

    // A tick without a code leaves the polling running.
    accessor.authorizationCode.clear();
    component.timerCallback();
    EXPECT_TRUE (component.isTimerRunning());
    EXPECT_EQ (Access::page (component), MainComponent::signIn);
}

TEST_F (MainComponentTest, RetryDiscardsTheCodeAndReturnsToSignInWithoutPolling)
{
    MainComponent component;
    component.setPage (MainComponent::failed);
    Access::accessor (component).authorizationCode = "late-code";

    component.buttonClicked (&Access::retryButton (component));

    EXPECT_TRUE (Access::accessor (component).authorizationCode.empty());
    EXPECT_EQ (Access::page (component), MainComponent::signIn);
    EXPECT_EQ (getVisibleChildren (component),
               juce::StringArray ({ "background", "registerOnlineButton", "howToAuthButton" }));
    EXPECT_FALSE (component.isTimerRunning());
}

TEST_F (MainComponentTest, HelpButtonsOpenTheirFixedSupportPages)
{
    const RecordingBrowser browser;

    for (const auto* locale : { "en_US.UTF-8", "ja_JP.UTF-8" })
    {
        setLanguage (locale);
        MainComponent component;
        component.buttonClicked (&Access::howToAuthButton (component));
        component.buttonClicked (&Access::helpButton (component));
    }

    // Each opening runs on its own; only the set of addresses is certain, not their order.
    auto addresses = browser.waitForAddresses (4);
    addresses.sort (false);

    EXPECT_EQ (addresses, juce::StringArray ({ "https://support.ostrel.example/hc/articles/115001010326",
                                               "https://support.ostrel.example/hc/articles/115001010326",
                                               "https://support.ostrel.example/hc/ja/sections/115001610366",
                                               "https://support.ostrel.example/hc/ja/sections/115001610366" }));
}

TEST_F (MainComponentTest, EnjoyWithoutAProductQuitsAndLaunchesNothing)
{
    MainComponent component;
    component.setPage (MainComponent::completed);
    ASSERT_FALSE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());

    component.buttonClicked (&Access::enjoyButton (component));

    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
}

//==================================================================================================
TEST (TransactionResultMessage, TextsAreExactInBothLanguages)
{
    const std::string english = "Get instant answers for the most common questions at Ostrel's help Center.";
    const std::string japanese = "ヘルプセンターのよく寄せられる質問をご確認ください。";

    EXPECT_EQ (MainComponent::getTransactionResultMessage (3, false).toStdString(), "Failed to get oauth.\n" + english);
    EXPECT_EQ (MainComponent::getTransactionResultMessage (4, false).toStdString(), "Failed to get user information.\n" + english);
    EXPECT_EQ (MainComponent::getTransactionResultMessage (3, true).toStdString(), "OAuthの取得に失敗しました。\n" + japanese);
    EXPECT_EQ (MainComponent::getTransactionResultMessage (4, true).toStdString(), "ユーザー情報の取得に失敗しました。\n" + japanese);
}
