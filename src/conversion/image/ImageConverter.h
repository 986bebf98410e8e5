#pragma once

#include "conversion/ConversionOptions.h"
#include "conversion/MediaConverter.h"

#include <QRect>
#include <QString>
#include <QUrl>

#include <optional>

// Converts one still image to PNG, JPEG, WebP, HEIC or TIFF with libvips (HEIC through
// libheif): orientation applied, optional background removal, optional centre crop to an
// aspect ratio (source pixels, never resampled), metadata kept or dropped. Blocking; call
// it off the UI thread. Returns outputURL on success; on failure nothing is left at
// outputURL and `error` (when given) says why.
std::optional<QUrl> runImageConversion(const QUrl &input, ImageOutputFormat format, int quality,
                                       ImageDimensionsPreset dimensions, bool preserveMetadata,
                                       bool removeBackground, const QUrl &outputURL,
                                       QString *error = nullptr);

// The centre crop for an image of w × h pixels: the full frame when nothing is to be cut.
// A portrait image gets the portrait form of the ratio.
QRect aspectCropRect(int width, int height, ImageDimensionsPreset dimensions);

// Lossy quality for JPEG, WebP and HEIC: clamp(quality, 0, 100) / 100.
double lossyQuality(int quality);

// Images larger than this many pixels are refused rather than decoded.
inline constexpr qint64 kMaxImagePixels = 500'000'000;

// The MediaConverter used by the conversion job for images.
class ImageConverter : public MediaConverter
{
public:
    ConversionResult convert(const ConversionRequest &request) override;
};

// The image converter of the media module (makeImageConverter() in MediaConverter.h reaches
// it through the media backend).
std::unique_ptr<MediaConverter> makeVipsImageConverter();
