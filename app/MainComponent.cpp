#include "app/MainComponent.h"

#include "account/ReplyJson.h"
#include "BuildConfiguration.h"
#include "platform/SystemHelpers.h"
#include "platform/UserLanguage.h"

#include <string>

namespace
{
    constexpr int pageCount = MainComponent::failed + 1;

    /** The product variant named by the first command-line argument; anything else is 3. */
    int getProductVariant (const std::string& argument)
    {
        if (argument == "ZembrikMac")         return 0;
        if (argument == "ZembrikMacTesh")     return 1;
        if (argument == "ZembrikMacPlundar")  return 2;
        return 3;
    }

    Edition getEditionOfVariant (int productVariant)
    {
        static constexpr Edition editions[] = { 1, 3, 2 };
        return productVariant >= 0 && productVariant < 3 ? editions[productVariant] : 0;
    }

    /** The files hold twice the display resolution; halved here, once. */
    juce::Image halved (const juce::Image& image)
    {
        const auto width = image.getWidth() / 2;
        const auto height = image.getHeight() / 2;

        // A picture smaller than 2 x 2 has nothing left to show at display size.
        if (width < 1 || height < 1)
            return {};

        return image.rescaled (width, height, juce::Graphics::mediumResamplingQuality);
    }

    void openSupportPage (const char* path)
    {
        juce::URL (juce::String ("https://") + buildconfig::supportHost + path).launchInDefaultBrowser();
    }
}

MainComponent::MainComponent()
{
    productVariant = getProductVariant (getFirstArgument());

    accessor = std::make_unique<AccountAccessor>();
    const auto edition = getEditionOfVariant (productVariant);
    accessor->editionIndex = edition;

    page = signIn;
    isJapanese = getUserLanguage() == "ja";

    // The framework's default typeface has no Japanese glyphs. Set on the default look-and-feel
    // (this component has no parent yet), so every text of the application uses it; when no
    // Japanese family is installed the default stays, which at least draws the Latin text.
    if (isJapanese)
    {
        const auto typefaceName = findJapaneseTypefaceName();

        if (typefaceName.isNotEmpty())
            getLookAndFeel().setDefaultSansSerifTypefaceName (typefaceName);
    }

    imageResources = std::make_unique<ImageResources>();
    imageResources->setLanguage (isJapanese ? "JP" : "EN");
    imageResources->edition = edition;

    setSize (450, 600);

    backgrounds.resize (static_cast<size_t> (pageCount));

    for (const auto p : { signIn, completed, failed })
        backgrounds[static_cast<size_t> (p)] = halved (imageResources->getBackgroundImage (p));

    background = std::make_shared<juce::ImageComponent> (juce::String());
    background->setBounds (0, 0, 450, 600);
    addAndMakeVisible (*background);

    struct ButtonLayout
    {
        std::unique_ptr<juce::ImageButton>& member;
        const char* name;
        int imageIndex;
        juce::Rectangle<int> bounds;
    };

    const ButtonLayout layouts[] = {
        { registerOnlineButton, "registerOnlineButton", 0, { 85, 490, 280, 56 } },
        { howToAuthButton,      "howToAuthButton",      6, { 374, 508, 19, 19 } },
        { enjoyButton,          "enjoyButton",          3, { 85, 490, 280, 56 } },
        { retryButton,          "retryButton",          5, { 98, 493, 100, 50 } },
        { helpButton,           "helpButton",           4, { 253, 493, 100, 50 } }
    };

    for (const auto& layout : layouts)
    {
        const auto image = imageResources->getButtonImage (layout.imageIndex);

        layout.member = std::make_unique<juce::ImageButton> (layout.name);
        auto& button = *layout.member;
        addChildComponent (button);

        const auto none = juce::Colours::transparentWhite;
        button.setImages (true, true, true,
                          image, 1.0f, none,
                          image, 0.8f, none,
                          image, 0.6f, none,
                          0.0f);
        button.addListener (this);

        // setImages has just sized the button to its image; the layout decides.
        button.setBounds (layout.bounds);
    }

    setPage (signIn);
}

MainComponent::~MainComponent()
{
    // The buttons leave the children before anything they might still refer to goes.
    registerOnlineButton.reset();
    enjoyButton.reset();
    howToAuthButton.reset();
    retryButton.reset();
    helpButton.reset();
    imageResources.reset();
}

void MainComponent::paint (juce::Graphics&)
{
}

void MainComponent::resized()
{
}

void MainComponent::setPage (int newPage)
{
    page = newPage;

    registerOnlineButton->setVisible (page == signIn);
    howToAuthButton->setVisible (page == signIn);
    enjoyButton->setVisible (page == completed);
    retryButton->setVisible (page == failed);
    helpButton->setVisible (page == failed);

    // Only the three pages have a background; any other value keeps the one shown.
    if (page == signIn || page == completed || page == failed)
        background->setImage (backgrounds[static_cast<size_t> (page)]);
}

void MainComponent::buttonClicked (juce::Button* button)
{
    if (button == registerOnlineButton.get())
    {
        startTimer (1000);
        accessor->openAuthorizationPage();
    }
    else if (button == enjoyButton.get())
    {
        switch (productVariant)
        {
            case 0:  launchZembrikApp(); break;
            case 1:  launchZembrikTeshApp(); break;
            case 2:  launchZembrikPlundarApp(); break;
            default: break;
        }

        juce::JUCEApplicationBase::quit();
    }
    else if (button == howToAuthButton.get())
    {
        openSupportPage ("/hc/articles/115001010326");
    }
    else if (button == retryButton.get())
    {
        accessor->authorizationCode.clear();
        setPage (signIn);
    }
    else if (button == helpButton.get())
    {
        openSupportPage ("/hc/ja/sections/115001610366");
    }
}

juce::String MainComponent::getTransactionResultMessage (int result, bool japanese)
{
    const std::wstring message = result == 3
        ? (japanese ? L"OAuthの取得に失敗しました。" : L"Failed to get oauth.")
        : (japanese ? L"ユーザー情報の取得に失敗しました。" : L"Failed to get user information.");

    const std::wstring help = japanese
        ? L"ヘルプセンターのよく寄せられる質問をご確認ください。"
        : L"Get instant answers for the most common questions at Ostrel's help Center.";

    return juce::String ((message + L"\n" + help).c_str());
}

void MainComponent::showTransactionResult (int result)
{
    if (result == 0)
    {
        setPage (completed);
        return;
    }

    // The failed page stands behind the box while it is open.
    setPage (failed);

    juce::NativeMessageBox::showMessageBox (juce::AlertWindow::WarningIcon,
                                            "Zembrik Authorizer",
                                            getTransactionResultMessage (result, isJapanese),
                                            nullptr);
}

void MainComponent::timerCallback()
{
    if (accessor->authorizationCode.empty())
        return;

    // Stopped first: the transaction blocks the message thread and no tick may queue up behind it.
    stopTimer();
    showTransactionResult (contactAccountService());
}

int MainComponent::contactAccountService()
{
    if (! accessor->requestAccessToken())
        return 3;

    const auto body = accessor->getUserInfo();

    // No reply at all is a failed profile request, not a signed-in user.
    if (! body.has_value())
        return 4;

    // Any JSON object or array passes, whatever it holds; a body that is no document does not.
    juce::var profile;
    return parseReplyJson (*body, profile).wasOk() ? 0 : 4;
}
