#include "platform/UrlSession.h"

// Stub: to be built.
