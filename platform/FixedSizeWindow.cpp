// The framework's own X connection must carry our hints: requests on a second connection could
// reach the server before the framework's buffered ones and be overwritten by them.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include "platform/FixedSizeWindow.h"

#include <cstdint>

void keepWindowAtFixedSize (juce::Component& window)
{
    auto* peer = window.getPeer();
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();

    if (peer == nullptr || windowSystem == nullptr || windowSystem->getDisplay() == nullptr)
        return;

    // The framework sets the window's bounds, and with them its size hints, once more on its first
    // paint; let that happen now so that it cannot overwrite ours later.
    window.repaint();
    peer->performAnyPendingRepaintsNow();

    auto* display = windowSystem->getDisplay();
    auto* x11 = juce::X11Symbols::getInstance();
    const auto handle = (::Window) reinterpret_cast<std::uintptr_t> (peer->getNativeHandle());
    const auto position = juce::Desktop::getInstance().getDisplays().logicalToPhysical (window.getScreenPosition());

    juce::XWindowSystemUtilities::ScopedXLock xLock;
    XWindowAttributes attributes {};

    if (handle == 0 || x11->xGetWindowAttributes (display, handle, &attributes) == 0)
        return;

    if (auto* hints = x11->xAllocSizeHints())
    {
        // The framework's own hints (position and size as asked for) stay; the limits are added.
        hints->flags = USPosition | USSize | PMinSize | PMaxSize;
        hints->x = position.x;
        hints->y = position.y;
        hints->width  = hints->min_width  = hints->max_width  = attributes.width;
        hints->height = hints->min_height = hints->max_height = attributes.height;

        x11->xSetWMNormalHints (display, handle, hints);
        x11->xFree (hints);
        x11->xFlush (display);
    }
}
