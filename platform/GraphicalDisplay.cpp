#include "platform/GraphicalDisplay.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>

bool hasGraphicalDisplay()
{
    // The framework falls back to ":0.0" when DISPLAY is unset; an unset DISPLAY means no display
    // to us, not someone else's server that happens to be at :0.
    const auto* name = std::getenv ("DISPLAY");

    if (name == nullptr || name[0] == '\0')
        return false;

    return juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() != nullptr;
}
