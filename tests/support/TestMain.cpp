#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

// One framework initialisation for the whole process, as an application has.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    // The framework ignores X errors (a bare X server lacks some window-manager atoms) only in an
    // application; without this the X library's default would end the test process.
    XSetErrorHandler ([] (Display*, XErrorEvent*) { return 0; });

    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
