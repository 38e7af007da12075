// The floor of the start-up benchmark: a framework application that maps one 450 x 600 window,
// and, given image files, first decodes them (halving the backgrounds) as the content does.

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

namespace
{
class MinimalWindowApp final : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override       { return "Minimal Window"; }
    const juce::String getApplicationVersion() override    { return "1.0.0"; }
    bool moreThanOneInstanceAllowed() override             { return true; }

    void initialise (const juce::String&) override
    {
        // Arguments: backgrounds, which are decoded and halved, then "--buttons" and the button
        // images, which are only decoded.
        bool halve = true;

        for (auto& argument : getCommandLineParameterArray())
        {
            if (argument == "--buttons")
            {
                halve = false;
                continue;
            }

            auto image = juce::ImageFileFormat::loadFrom (juce::File (argument));

            if (halve)
                image = image.rescaled (image.getWidth() / 2, image.getHeight() / 2,
                                        juce::Graphics::mediumResamplingQuality);

            images.push_back (image);
        }

        // Built as the application builds its window: on the desktop once it has size and place.
        window = std::make_unique<juce::DocumentWindow> ("Minimal Window", juce::Colours::lightgrey,
                                                         juce::DocumentWindow::minimiseButton
                                                             | juce::DocumentWindow::closeButton,
                                                         false);
        window->setUsingNativeTitleBar (true);
        auto* content = new juce::Component();
        content->setSize (450, 600);
        window->setContentOwned (content, true);
        window->centreWithSize (window->getWidth(), window->getHeight());
        window->addToDesktop();
        window->setVisible (true);
    }

    void shutdown() override
    {
        window.reset();
        images.clear();
    }

private:
    std::vector<juce::Image> images;
    std::unique_ptr<juce::DocumentWindow> window;
};
}

START_JUCE_APPLICATION (MinimalWindowApp)
