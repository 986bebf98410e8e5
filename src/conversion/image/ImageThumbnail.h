#pragma once

#include "conversion/MediaBackend.h"

// The thumbnail of an image through libvips: any format it reads (HEIC and AVIF through
// libheif), turned upright by its orientation tag, in sRGB with alpha, scaled down (never up)
// to fit maxSide × maxSide. Part of the image module; runs on any thread.
bool imageThumbnail(const QByteArray &path, int maxSide, ThumbnailPixels *out, QString *error);
