#include "app/ImageResources.h"

// Stub: to be built.
