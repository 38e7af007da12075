#include "account/OCAccessGrantReceiver.h"

// Stub: to be built.
