#include "platform/SystemHelpers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Prints what the helpers see in a real process of its own: the first argument, or, when
// ZEMBRIK_PROBE_RESOURCE names a file, that file's resource path. Nothing else goes to stdout.
int main()
{
    const auto* resourceName = std::getenv ("ZEMBRIK_PROBE_RESOURCE");
    const auto text = resourceName != nullptr ? getResourcePath (resourceName) : getFirstArgument();

    std::fwrite (text.data(), 1, text.size(), stdout);
    return 0;
}
