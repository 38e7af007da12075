#include "platform/NotificationCenter.h"

// Stub: to be built.
