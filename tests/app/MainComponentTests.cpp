#include "app/MainComponent.h"

#include "TestImageFolder.h"
#include "support/AccountService.h"
#include "support/BrowserRecorder.h"
#include "platform/UserLanguage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

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
    constexpr auto cameFrom = &TestImageFolder::cameFrom;

    void setLanguage (const char* lang)
    {
        for (const auto* name : { "LC_ALL", "LC_MESSAGES" })
            ::unsetenv (name);

        ::setenv ("LANG", lang, 1);
    }

    void setArguments (std::vector<std::string> arguments)
    {
        arguments.insert (arguments.begin(), "zembrik-authorizer");
        setArgumentsForTesting (std::move (arguments));
    }

    /** The names of the visible children, back to front. */
    std::string getVisibleChildren (MainComponent& component)
    {
        juce::StringArray names;

        for (auto* child : component.getChildren())
            if (child->isVisible())
                names.add (child == &Access::background (component) ? "background" : child->getName());

        return names.joinIntoString (" ").toStdString();
    }

    /** Closes every alert window that opens while it exists, keeping the title and the message
        that each one presented.
    */
    class AlertCloser final : private juce::Timer
    {
    public:
        AlertCloser()  { startTimer (20); }
        ~AlertCloser() override { stopTimer(); }

        std::vector<std::string> seen;

    private:
        void timerCallback() override
        {
            auto& desktop = juce::Desktop::getInstance();

            for (int i = desktop.getNumComponents(); --i >= 0;)
            {
                // Still on the desktop for a moment after it was told to close.
                if (auto* alert = dynamic_cast<juce::AlertWindow*> (desktop.getComponent (i)); alert != nullptr && alert->isCurrentlyModal())
                {
                    // The window describes itself as "<title>. <message>" to assistive technology.
                    seen.push_back (alert->getDescription().toStdString());
                    alert->exitModalState (0);
                }
            }
        }
    };

    /** Every image of both languages, the backgrounds and buttons at twice their display size. */
    class MainComponentTest : public ::testing::Test
    {
    protected:
        MainComponentTest()
        {
            for (const std::string language : { "EN", "JP" })
                for (const auto& [stem, width, height] : { std::tuple { "P1_BG_Common_", 900, 1200 },
                                                           { "P1_BG_Common_PLUNDAR_", 900, 1200 },
                                                           { "P1_BG_Common_TESH_", 900, 1200 }, { "P3_BG_Common_", 900, 1200 },
                                                           { "P4_BG_Common_", 901, 1201 },   // halving truncates
                                                           { "P1_BTN_SignIn_", 560, 112 }, { "P3_BTN_Close_", 560, 112 },
                                                           { "P4_BTN_Help_", 200, 100 }, { "P4_BTN_Retry_", 200, 100 } })
                    images.add (stem + language + ".png", width, height);

            images.add ("BTN_question.png", 38, 38);
            setLanguage ("en_GB.UTF-8");
            setArguments ({});
        }

        ~MainComponentTest() override   { setArgumentsForTesting (std::nullopt); }

        TestImageFolder images;
    };
}

TEST_F (MainComponentTest, FirstArgumentSelectsProductVariantAndEdition)
{
    struct Case { std::vector<std::string> arguments; int variant = 3; Edition edition = 0; };

    // Only an exact first argument names a product.
    for (const auto& c : { Case { { "ZembrikMac" }, 0, 1 }, Case { { "ZembrikMacTesh", "more" }, 1, 3 },
                           Case { { "ZembrikMacPlundar" }, 2, 2 }, Case { {} }, Case { { "" } }, Case { { "zembrikmac" } },
                           Case { { "ZembrikMacTesh " } }, Case { { "ZembrikMa" } }, Case { { "other", "ZembrikMac" } } })
    {
        SCOPED_TRACE (c.arguments.empty() ? "(none)" : c.arguments.front());
        setArguments (c.arguments);
        MainComponent component;

        EXPECT_EQ (Access::productVariant (component), c.variant);
        EXPECT_EQ (Access::accessor (component).editionIndex, c.edition);
        EXPECT_EQ (Access::imageResources (component).edition, c.edition);
    }
}

TEST_F (MainComponentTest, OnlyJapaneseUsersGetJapaneseImagesAndTypeface)
{
    auto& lookAndFeel = juce::LookAndFeel::getDefaultLookAndFeel();
    const auto typefaceName = [&] { return lookAndFeel.getTypefaceForFont (juce::Font (14.0f))->getName(); };
    const auto defaultTypeface = typefaceName();

    for (const auto* locale : { "en_US.UTF-8", "C", "jap_JP", "JA_JP", "" })
    {
        SCOPED_TRACE (locale);
        setLanguage (locale);
        MainComponent component;

        EXPECT_FALSE (Access::isJapanese (component));
        EXPECT_EQ (Access::imageResources (component).language, "EN");
        EXPECT_TRUE (cameFrom (Access::retryButton (component).getNormalImage(), "P4_BTN_Retry_EN.png"));
    }

    EXPECT_EQ (typefaceName(), defaultTypeface);

    setLanguage ("ja_JP.UTF-8");
    setArguments ({ "ZembrikMacTesh" });
    MainComponent component;

    EXPECT_TRUE (Access::isJapanese (component));
    EXPECT_EQ (Access::imageResources (component).language, "JP");

    // Loaded only once the edition and the language were set.
    EXPECT_TRUE (cameFrom (Access::backgrounds (component)[0], "P1_BG_Common_TESH_JP.png"));
    EXPECT_TRUE (cameFrom (Access::backgrounds (component)[3], "P4_BG_Common_JP.png"));
    EXPECT_TRUE (cameFrom (Access::registerOnlineButton (component).getNormalImage(), "P1_BTN_SignIn_JP.png"));
    EXPECT_TRUE (cameFrom (Access::howToAuthButton (component).getNormalImage(), "BTN_question.png"));

    // The default look-and-feel, which every text of the application uses, now draws in Japanese.
    const auto japanese = findJapaneseTypefaceName();
    ASSERT_TRUE (japanese.isNotEmpty());
    EXPECT_EQ (&component.getLookAndFeel(), &lookAndFeel);
    EXPECT_EQ (typefaceName(), japanese);
}

TEST_F (MainComponentTest, ConstructionBuildsTheSignInPage)
{
    MainComponent component;

    EXPECT_EQ (component.getBounds(), juce::Rectangle<int> (450, 600));
    EXPECT_EQ (Access::page (component), MainComponent::signIn);
    EXPECT_FALSE (component.isTimerRunning());

    // Back to front, every child once, laid out whatever size setImages gave the buttons.
    struct Child { juce::Component& child; const char* name; juce::Rectangle<int> bounds; };
    const Child expected[] { { Access::background (component),           "",                     { 0, 0, 450, 600 } },
                             { Access::registerOnlineButton (component), "registerOnlineButton", { 85, 490, 280, 56 } },
                             { Access::howToAuthButton (component),      "howToAuthButton",      { 374, 508, 19, 19 } },
                             { Access::enjoyButton (component),          "enjoyButton",          { 85, 490, 280, 56 } },
                             { Access::retryButton (component),          "retryButton",          { 98, 493, 100, 50 } },
                             { Access::helpButton (component),           "helpButton",           { 253, 493, 100, 50 } } };

    ASSERT_EQ (component.getNumChildComponents(), 6);

    for (int i = 0; i < 6; ++i)
    {
        SCOPED_TRACE (expected[i].name);
        EXPECT_EQ (component.getChildComponent (i), &expected[i].child);
        EXPECT_EQ (expected[i].child.getName(), expected[i].name);
        EXPECT_EQ (expected[i].child.getBounds(), expected[i].bounds);
    }

    EXPECT_EQ (getVisibleChildren (component), "background registerOnlineButton howToAuthButton");

    auto& backgrounds = Access::backgrounds (component);
    ASSERT_EQ (backgrounds.size(), 4u);
    EXPECT_TRUE (backgrounds[1].isNull());

    for (const auto p : { 0, 2, 3 })
        EXPECT_EQ (backgrounds[(size_t) p].getBounds(), juce::Rectangle<int> (450, 600)) << p;

    EXPECT_TRUE (cameFrom (backgrounds[3], "P4_BG_Common_EN.png"));
    EXPECT_EQ (Access::background (component).getImage(), backgrounds[0]);
}

TEST_F (MainComponentTest, MissingOrTinyImagesLeaveNullBackgroundsAndTheLayoutIntact)
{
    images.getFile ("P1_BG_Common_EN.png").deleteFile();
    images.getFile ("P1_BTN_SignIn_EN.png").deleteFile();

    // Halving these leaves no pixel; they become null rather than zero-sized images.
    images.add ("P3_BG_Common_EN.png", 1, 1);
    images.add ("P4_BG_Common_EN.png", 3, 1);
    MainComponent component;

    for (const auto p : { 0, 2, 3 })
        EXPECT_TRUE (Access::backgrounds (component)[(size_t) p].isNull()) << p;

    auto& signInButton = Access::registerOnlineButton (component);
    EXPECT_EQ (signInButton.getBounds(), juce::Rectangle<int> (85, 490, 280, 56));
    EXPECT_TRUE (static_cast<juce::Component&> (signInButton).hitTest (140, 28));

    // The other images are still read from this folder, so the nulls above are its doing.
    EXPECT_TRUE (cameFrom (Access::howToAuthButton (component).getNormalImage(), "BTN_question.png"));
}

TEST_F (MainComponentTest, PagesShowTheirButtonsAndBackgroundRetryDiscardsTheCodeAndSignInPolls)
{
    MainComponent component;
    auto& accessor = Access::accessor (component);

    const auto expectPage = [&component] (int page, const std::string& visibleChildren)
    {
        SCOPED_TRACE (page);
        EXPECT_EQ (Access::page (component), page);
        EXPECT_EQ (getVisibleChildren (component), visibleChildren);
        EXPECT_EQ (Access::background (component).getImage(), Access::backgrounds (component)[(size_t) page]);
    };

    component.showTransactionResult (0);
    expectPage (MainComponent::completed, "background enjoyButton");

    component.setPage (MainComponent::failed);
    expectPage (MainComponent::failed, "background retryButton helpButton");

    accessor.authorizationCode = "late-code";
    component.buttonClicked (&Access::retryButton (component));
    EXPECT_TRUE (accessor.authorizationCode.empty());
    expectPage (MainComponent::signIn, "background registerOnlineButton howToAuthButton");
    EXPECT_FALSE (component.isTimerRunning());

    // A code that came before the click waits for the first tick; a tick without one polls on.
    // Each click opens the authorization page.
    const BrowserRecorder browser;
    accessor.authorizationCode = "early-code";
    component.buttonClicked (&Access::registerOnlineButton (component));
    EXPECT_EQ (browser.waitForAddresses (1).size(), 1);
    component.buttonClicked (&Access::registerOnlineButton (component));
    const auto opened = browser.waitForAddresses (2);
    ASSERT_EQ (opened.size(), 2);
    EXPECT_TRUE (opened[1].startsWith ("https://account.ostrel.example/oauth/authorize?client_id="));
    EXPECT_TRUE (component.isTimerRunning());
    EXPECT_EQ (component.getTimerInterval(), 1000);
    EXPECT_EQ (accessor.authorizationCode, "early-code");

    accessor.authorizationCode.clear();
    component.timerCallback();
    EXPECT_TRUE (component.isTimerRunning());
    expectPage (MainComponent::signIn, "background registerOnlineButton howToAuthButton");
}

TEST (TransactionResultMessage, TextsAreExactInBothLanguages)
{
    const std::string english = "Get instant answers for the most common questions at Ostrel's help Center.";
    const std::string japanese = "ヘルプセンターのよく寄せられる質問をご確認ください。";

    EXPECT_EQ (MainComponent::getTransactionResultMessage (3, false).toStdString(), "Failed to get oauth.\n" + english);
    EXPECT_EQ (MainComponent::getTransactionResultMessage (4, false).toStdString(), "Failed to get user information.\n" + english);
    EXPECT_EQ (MainComponent::getTransactionResultMessage (3, true).toStdString(), "OAuthの取得に失敗しました。\n" + japanese);
    EXPECT_EQ (MainComponent::getTransactionResultMessage (4, true).toStdString(), "ユーザー情報の取得に失敗しました。\n" + japanese);
}

TEST_F (MainComponentTest, TransactionResultPicksThePageAndTheBoxInTheUsersLanguage)
{
    AccountService service;
    ASSERT_TRUE (service.isRunning());
    service.routeAccountHost();

    constexpr auto token = &AccountService::tokenScript;
    constexpr auto profile = &AccountService::profileScript;
    const auto abyss = R"({ "body": ")" + std::string (100000, '[') + R"(" })";
    std::string hidden;   // as deep, read by a lenient parser that takes "-]" for a number

    for (int i = 0; i < 400000; ++i)
        hidden += "[-],";

    struct Case { std::string language, script; int result; };
    const std::vector<Case> cases {
        { "en_GB.UTF-8", token (R"({ "status": 400, "body": "{}" })"), 3 },
        { "en_GB.UTF-8", token (abyss), 3 },
        { "en_GB.UTF-8", token (R"({ "body": "{\"access_token\":{\"a\":1}}" })"), 3 },
        { "en_GB.UTF-8", profile (abyss), 4 },
        { "en_GB.UTF-8", profile (R"({ "body": ")" + hidden + R"(" })"), 4 },
        { "en_GB.UTF-8", profile (R"({ "body": "" })"), 4 },
        { "en_GB.UTF-8", profile (R"({ "body": "  \r\n " })"), 4 },
        { "en_GB.UTF-8", profile (R"({ "status": 503, "content_type": "text/html", "body_base64": "PHA+ZXJyZXVyIOk8L3A+" })"), 4 },   // Latin-1
        { "en_GB.UTF-8", profile (R"({ "status": 500, "content_type": "text/html", "body": "<p>error</p>" })"), 4 },
        { "en_GB.UTF-8", profile (R"({ "drop": true })"), 4 },
        { "en_GB.UTF-8", profile (R"({ "status": 401, "body": "{\"error\":\"unauthorized\"}" })"), 0 },
        { "en_GB.UTF-8", profile (R"({ "body": " [] " })"), 0 },
        { "en_GB.UTF-8", profile (R"({ "body": "{\"name\":\"Test \\ud83d\\ude00\"}" })"), 0 },   // escaped as Python's json does
        { "ja_JP.UTF-8", token (R"({ "status": 500, "body": "{}" })"), 3 },
        { "ja_JP.UTF-8", profile (R"({ "body": "<html></html>" })"), 4 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.language + " " + c.script.substr (0, 100));
        setLanguage (c.language.c_str());
        service.setScript (c.script);
        MainComponent component;
        Access::accessor (component).authorizationCode = "the-code";

        const AlertCloser alerts;
        component.timerCallback();

        EXPECT_EQ (Access::page (component), c.result == 0 ? MainComponent::completed : MainComponent::failed);
        const auto expectedBoxes = c.result == 0
            ? std::vector<std::string>()
            : std::vector<std::string> { "Zembrik Authorizer. "
                                         + MainComponent::getTransactionResultMessage (c.result, c.language == "ja_JP.UTF-8").toStdString() };
        EXPECT_EQ (alerts.seen, expectedBoxes);
    }
}
