#include "platform/UserLanguage.h"

// Stub: to be built.
