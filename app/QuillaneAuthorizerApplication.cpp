#include "app/QuillaneAuthorizerApplication.h"

#include "app/MainComponent.h"

QuillaneAuthorizerApplication::~QuillaneAuthorizerApplication()
{
    mainWindow.reset();
}

const juce::String QuillaneAuthorizerApplication::getApplicationName()
{
    return "Zembrik Authorizer";
}

const juce::String QuillaneAuthorizerApplication::getApplicationVersion()
{
    return "1.0.0";
}

bool QuillaneAuthorizerApplication::moreThanOneInstanceAllowed()
{
    return false;
}

void QuillaneAuthorizerApplication::initialise (const juce::String&)
{
    mainWindow = std::make_unique<MainWindow> (getApplicationName());
}

void QuillaneAuthorizerApplication::shutdown()
{
    // The field is already empty while the window's destructor runs.
    std::unique_ptr<MainWindow> window (mainWindow.release());
    window.reset();
}

void QuillaneAuthorizerApplication::systemRequestedQuit()
{
    quit();
}

//==================================================================================================
QuillaneAuthorizerApplication::MainWindow::MainWindow (const juce::String& name)
    : DocumentWindow (name,
                      juce::Colours::lightgrey,
                      DocumentWindow::minimiseButton | DocumentWindow::closeButton,
                      true)
{
    setUsingNativeTitleBar (true);
    setContentOwned (new MainComponent(), true);
    centreWithSize (getWidth(), getHeight());
    setVisible (true);
}

QuillaneAuthorizerApplication::MainWindow::~MainWindow() = default;

void QuillaneAuthorizerApplication::MainWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
