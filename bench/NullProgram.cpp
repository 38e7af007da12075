#include <juce_core/juce_core.h>

// Starts and ends, linked against the same libraries as the application: the floor under any
// launch of it.
int main()
{
    return juce::String ("0").getIntValue();
}
