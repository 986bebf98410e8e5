#include "conversion/VipsSupport.h"

#include <vips/vips.h>

#include <mutex>

namespace VipsSupport {

bool ensureStarted()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        ok = VIPS_INIT("perchbox") == 0;
        if (ok) {
            // Keep the operation cache small: conversions touch each image once.
            vips_cache_set_max(16);
        }
    });
    return ok;
}

double maxAlpha(const VipsImage *image)
{
    switch (vips_image_get_interpretation(const_cast<VipsImage *>(image))) {
    case VIPS_INTERPRETATION_RGB16:
    case VIPS_INTERPRETATION_GREY16: return 65535.0;
    default: return 255.0;
    }
}

} // namespace VipsSupport
