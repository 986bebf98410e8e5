// Compiled into every program (and into the module itself) that links the image code
// directly: its table is registered before main(), so nothing is loaded at run time.
#include "conversion/MediaBackend.h"
#include "conversion/image/ImageModuleEntry.h"

namespace {
const bool g_registered = (registerImageBackend(perchbox_image_backend()), true);
}
