// The entry of the audio/video module: the table of what FFmpeg serves.
#include "conversion/AvModuleEntry.h"
#include "conversion/AvProbe.h"
#include "conversion/MediaBackend.h"
#include "conversion/audio/AudioConverter.h"
#include "conversion/video/VideoConverter.h"
#include "conversion/video/VideoThumbnail.h"

namespace {

const AvBackend g_avBackend{
    kMediaBackendAbi,
    int(sizeof(AvBackend)),
    &probeAudioVideoFile,
    &makeLibavAudioConverter,
    &makeLibavVideoConverter,
    &videoThumbnail,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const AvBackend *perchbox_av_backend()
{
    return &g_avBackend;
}
