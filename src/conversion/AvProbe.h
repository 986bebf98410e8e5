#pragma once

#include "conversion/MediaModel.h"

// The audio and video probe through FFmpeg. Part of the audio/video module; the rest of the
// program calls probeMedia(), which goes through the loaded module.
std::optional<MediaInfo> probeAudioVideoFile(const QUrl &url, MediaType type);
