#pragma once

/** True when a graphical display is there to put a window on: $DISPLAY names one and the
    framework found a monitor on it. Without one the framework would fail when a window asks for
    the monitor area. Call on the message thread.
*/
[[nodiscard]] bool hasGraphicalDisplay();
