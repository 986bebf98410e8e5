#pragma once

#include "conversion/MediaModel.h"

// The image probe through libvips (header only: size, colour model, depth, alpha, metadata,
// several pages). Part of the image module; the rest of the program calls probeMedia().
std::optional<MediaInfo> probeImageFile(const QUrl &url);
