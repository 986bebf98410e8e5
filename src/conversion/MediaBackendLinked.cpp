// Compiled into every program (and into the module itself) that links the media code
// directly: the backend is registered before main(), so nothing is loaded at run time.
#include "conversion/MediaBackend.h"
#include "conversion/MediaModuleEntry.h"

namespace {
const bool g_registered = (registerMediaBackend(perchbox_media_backend()), true);
}
