#pragma once

#include "conversion/MediaModel.h"

// The probe itself: audio and video through FFmpeg, images through libvips. Part of the
// media module; the rest of the program calls probeMedia(), which goes through the loaded
// media backend.
std::optional<MediaInfo> probeMediaFile(const QUrl &url, MediaType type);
