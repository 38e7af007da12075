#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The application object: its name and version, its one main window, and the way it quits. */
class QuillaneAuthorizerApplication final : public juce::JUCEApplication
{
public:
    QuillaneAuthorizerApplication() = default;
    ~QuillaneAuthorizerApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    void systemRequestedQuit() override;

    /** The one top-level window; it owns the content component. */
    class MainWindow final : public juce::DocumentWindow
    {
    public:
        explicit MainWindow (const juce::String& name);
        ~MainWindow() override;

        void closeButtonPressed() override;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

private:
    std::unique_ptr<MainWindow> mainWindow;
};
