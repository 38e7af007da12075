#include "account/EditionClientConfiguration.h"

// Stub: to be built.
