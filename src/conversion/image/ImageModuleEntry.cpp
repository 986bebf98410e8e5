// The entry of the image module: the table of what libvips, libheif and OpenCV serve.
#include "conversion/image/ImageModuleEntry.h"
#include "conversion/MediaBackend.h"
#include "conversion/VipsSupport.h"
#include "conversion/image/BackgroundRemover.h"
#include "conversion/image/ImageConverter.h"
#include "conversion/image/ImageProbe.h"
#include "conversion/image/ImageThumbnail.h"

namespace {

const ImageBackend g_imageBackend{
    kMediaBackendAbi,
    int(sizeof(ImageBackend)),
    &probeImageFile,
    &makeVipsImageConverter,
    &VipsSupport::writableImageFormats,
    &BackgroundRemover::isAvailable,
    &BackgroundRemover::unavailableHint,
    &BackgroundRemover::warmUp,
    &imageThumbnail,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const ImageBackend *perchbox_image_backend()
{
    return &g_imageBackend;
}
