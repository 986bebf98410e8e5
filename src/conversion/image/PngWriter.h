#pragma once

#include <QByteArray>
#include <QString>

typedef struct _VipsImage VipsImage;

// PNG with adaptive row filters at zlib level 3, the deflate stream cut into pieces that
// compress on all cores at once. The pieces make one zlib stream: each but the last ends
// in a sync flush, each starts primed with the 32 KB before it, and their checksums are
// combined, so any PNG reader sees an ordinary file.
//
// Takes 8- or 16-bit sRGB or grey images, with or without alpha (canWrite()); the colour
// profile, EXIF block (`exif`, as it should stand in the file), XMP packet and resolution
// go into iCCP, eXIf, iTXt and pHYs chunks.
namespace PngWriter {

bool canWrite(VipsImage *image);
bool write(VipsImage *image, const QByteArray &path, const QByteArray &exif, QString *error);

} // namespace PngWriter
