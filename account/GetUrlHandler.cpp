#include "account/GetUrlHandler.h"

// Stub: to be built.
void getUrl (const GetUrlEvent&) {}
