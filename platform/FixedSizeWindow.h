#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** Tells the window manager that a desktop window cannot be resized: its minimum and maximum size
    both become its current size.

    The framework writes this on X11 only for resizable windows and overwrites the size hints
    whenever it sets the bounds (also on the first paint), so a window it should keep fixed would
    otherwise offer resizing and maximising. Call on the message thread once the window is visible
    and has its final bounds; this paints it once. Nothing happens when the component is not on
    the desktop or no X display is there.
*/
void keepWindowAtFixedSize (juce::Component& window);
