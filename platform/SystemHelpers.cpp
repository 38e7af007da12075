#include "platform/SystemHelpers.h"

// Stub: to be built.
