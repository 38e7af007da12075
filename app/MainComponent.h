#pragma once

#include "account/AccountAccessor.h"
#include "app/ImageResources.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <vector>

/** The content of the main window: a fixed 450 x 600 area that shows one page at a time, a
    full-size background with image buttons over it. Everything here runs on the message thread.
*/
class MainComponent final : public juce::Component,
                            public juce::Button::Listener,
                            public juce::Timer
{
public:
    /** The pages; the value also indexes `backgrounds`. */
    enum Page : int
    {
        signIn = 0,
        completed = 2,
        failed = 3
    };

    /** Reads the product variant and the user's language, loads the images, builds the buttons
        and shows the sign-in page. The timer is not started.
    */
    MainComponent();
    ~MainComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    void buttonClicked (juce::Button* button) override;
    void timerCallback() override;

    /** Shows a page: the visibility of the five buttons and the prepared background. */
    void setPage (int newPage);

    /** Presents the account transaction's result: 0 the completed page; 3 or 4 the failed page
        and then a modal warning box, returning once the user has closed it.
    */
    void showTransactionResult (int result);

    /** Exchanges the code for tokens and checks the profile reply: 0 signed in, 3 token exchange
        failed, 4 profile reply rejected. Blocks the message thread for one or two requests.
    */
    [[nodiscard]] int contactAccountService();

    /** The warning box's text for a failed result (3 or 4): the result's message, a line feed,
        then the help-centre sentence, in Japanese or English.
    */
    [[nodiscard]] static juce::String getTransactionResultMessage (int result, bool japanese);

    /** Lets tests read the private state. */
    struct TestAccess;

private:
    std::unique_ptr<juce::ImageButton> registerOnlineButton;
    std::unique_ptr<juce::ImageButton> enjoyButton;
    std::unique_ptr<juce::ImageButton> howToAuthButton;
    std::unique_ptr<juce::ImageButton> retryButton;
    std::unique_ptr<juce::ImageButton> helpButton;
    std::vector<juce::Image> backgrounds;
    std::shared_ptr<juce::ImageComponent> background;
    std::unique_ptr<AccountAccessor> accessor;
    int page = signIn;
    std::unique_ptr<ImageResources> imageResources;
    bool isJapanese = false;
    int productVariant = 3;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
