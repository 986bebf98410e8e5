// The entry of the media module: the table of what the media libraries serve.
#include "conversion/MediaBackend.h"
#include "conversion/MediaModuleEntry.h"
#include "conversion/MediaProbe.h"
#include "conversion/VipsSupport.h"
#include "conversion/audio/AudioConverter.h"
#include "conversion/image/BackgroundRemover.h"
#include "conversion/image/ImageConverter.h"
#include "conversion/video/VideoConverter.h"

namespace {

const MediaBackend g_mediaBackend{
    kMediaBackendAbi,
    int(sizeof(MediaBackend)),
    &probeMediaFile,
    &makeLibavAudioConverter,
    &makeLibavVideoConverter,
    &makeVipsImageConverter,
    &VipsSupport::writableImageFormats,
    &BackgroundRemover::isAvailable,
    &BackgroundRemover::unavailableHint,
    &BackgroundRemover::warmUp,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const MediaBackend *perchbox_media_backend()
{
    return &g_mediaBackend;
}
