#include "platform/Utf8Text.h"

// Stub: to be built.
