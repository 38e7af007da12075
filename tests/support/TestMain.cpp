#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

#include <cstdlib>

// One framework initialisation for the whole process, as an application has.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    // The framework ignores X errors (a bare X server lacks some window-manager atoms) only in an
    // application; without this the X library's default would end the test process.
    XSetErrorHandler ([] (Display*, XErrorEvent*) { return 0; });

    // The framework asks gsettings for the desktop's theme and scale, and leaves it running when it
    // is slow to answer; with the dconf backend it would write the user's cache or a test's runtime
    // folder, even after the test has removed it. The memory backend writes nothing. Programs
    // that the tests start inherit it.
    ::setenv ("GSETTINGS_BACKEND", "memory", 1);

    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
