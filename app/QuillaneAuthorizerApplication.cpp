#include "app/QuillaneAuthorizerApplication.h"

#include "app/MainComponent.h"
#include "platform/FixedSizeWindow.h"
#include "platform/GraphicalDisplay.h"

#include <iostream>

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
    // main() has already made this launch the user's one instance through the per-user channel.
    // The framework's own lock is one file in /var/tmp for every user of the machine, so another
    // user could hold it and keep us from starting; it must not be taken.
    return true;
}

void QuillaneAuthorizerApplication::initialise (const juce::String&)
{
    // Without a display the framework fails as soon as the window asks for the monitor area.
    if (! hasGraphicalDisplay())
    {
        std::cerr << "Zembrik Authorizer needs a graphical display, but none was found. "
                     "Start it from a desktop session (DISPLAY is not set or cannot be opened)."
                  << std::endl;
        setApplicationReturnValue (1);
        quit();
        return;
    }

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
                      false)
{
    // On X11 the framework maps a window that is already on the desktop as soon as its title bar
    // changes, so it would show at its default size while the pages load. It goes on the desktop
    // once it has its content, size and place instead.
    setUsingNativeTitleBar (true);
    setContentOwned (new MainComponent(), true);
    centreWithSize (getWidth(), getHeight());
    addToDesktop();
    setVisible (true);

    // Not resizable must also hold for the window manager, which the framework does not tell.
    keepWindowAtFixedSize (*this);
}

QuillaneAuthorizerApplication::MainWindow::~MainWindow() = default;

void QuillaneAuthorizerApplication::MainWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
