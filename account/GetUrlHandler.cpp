#include "account/GetUrlHandler.h"

// Stub: to be built.
