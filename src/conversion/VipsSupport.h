#pragma once

#include "conversion/ConversionOptions.h"

#include <QByteArray>
#include <QList>

// libvips is started once per process (thread-safe) before any image work.
namespace VipsSupport {
bool ensureStarted();
// The value of an opaque alpha sample for the image (65535 for 16-bit images, else 255).
double maxAlpha(const struct _VipsImage *image);
// A binary metadata field ("icc-profile-data", "exif-data", …), empty when absent.
QByteArray blobField(struct _VipsImage *image, const char *name);
// The output formats whose savers this libvips build has, in their listed order.
QList<ImageOutputFormat> writableImageFormats();
}
