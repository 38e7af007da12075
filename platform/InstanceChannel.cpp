#include "platform/InstanceChannel.h"

// Stub: to be built.
