#pragma once

#include "conversion/MediaBackend.h"

// The thumbnail of a video through FFmpeg: the frame a tenth into the clip (at most 30 s in;
// the first frame of a clip under a second, or when seeking fails), upright after the stream's
// display rotation, with its pixel aspect applied, scaled down (never up) to fit
// maxSide × maxSide, as RGBA. Part of the audio/video module; runs on any thread.
bool videoThumbnail(const QByteArray &path, int maxSide, ThumbnailPixels *out, QString *error);
