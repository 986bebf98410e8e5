// Compiled into every program (and into the module itself) that links the audio/video code
// directly: its table is registered before main(), so nothing is loaded at run time.
#include "conversion/AvModuleEntry.h"
#include "conversion/MediaBackend.h"

namespace {
const bool g_registered = (registerAvBackend(perchbox_av_backend()), true);
}
