// vips (glib) before Qt: gio uses "signals" as a name.
#include <vips/vips.h>

#include "conversion/image/ImageProbe.h"

#include "conversion/VipsSupport.h"
#include "platform/FilePath.h"

std::optional<MediaInfo> probeImageFile(const QUrl &url)
{
    if (!VipsSupport::ensureStarted())
        return std::nullopt;
    const QByteArray path = FilePath::bytes(url);
    if (!isRegularMediaFile(path)) // a pipe would block the loader for ever
        return std::nullopt;
    VipsImage *image = vips_image_new_from_file(path.constData(), nullptr); // header only
    if (!image) {
        vips_error_clear();
        return std::nullopt;
    }
    MediaInfo info;
    const int width = vips_image_get_width(image), height = vips_image_get_height(image);
    info.resolution = QString::number(width) + QChar(0x00D7) + QString::number(height);

    QString model;
    switch (vips_image_get_interpretation(image)) {
    case VIPS_INTERPRETATION_B_W:
    case VIPS_INTERPRETATION_GREY16: model = QStringLiteral("gray"); break;
    case VIPS_INTERPRETATION_CMYK: model = QStringLiteral("cmyk"); break;
    case VIPS_INTERPRETATION_sRGB:
    case VIPS_INTERPRETATION_RGB:
    case VIPS_INTERPRETATION_RGB16:
    case VIPS_INTERPRETATION_scRGB: model = QStringLiteral("rgb"); break;
    case VIPS_INTERPRETATION_LAB:
    case VIPS_INTERPRETATION_LABS: model = QStringLiteral("lab"); break;
    default: {
        const char *nick = vips_enum_nick(VIPS_TYPE_INTERPRETATION, vips_image_get_interpretation(image));
        model = nick ? QString::fromLatin1(nick) : QString();
    }
    }
    if (!model.isEmpty())
        info.colorModel = colorModelText(model);

    int bits = 0;
    int bitsPerSample = 0;
    if (vips_image_get_typeof(image, "bits-per-sample")
        && vips_image_get_int(image, "bits-per-sample", &bitsPerSample) == 0 && bitsPerSample > 0) {
        bits = bitsPerSample;
    } else {
        bits = int(vips_format_sizeof(vips_image_get_format(image))) * 8;
    }
    if (bits > 0)
        info.bitDepth = bitDepthText(bits);

    if (vips_image_hasalpha(image))
        info.alpha = QStringLiteral("Alpha");
    if (vips_image_get_typeof(image, VIPS_META_EXIF_NAME) || vips_image_get_typeof(image, VIPS_META_XMP_NAME)
        || vips_image_get_typeof(image, VIPS_META_IPTC_NAME))
        info.metadata = QStringLiteral("Metadata");

    QString format = imageFormatNameForExtension(mediaFileExtension(path));
    if (vips_image_get_n_pages(image) > 1)
        format += QStringLiteral(" · Animated");
    info.imageFormat = format;
    g_object_unref(image);
    return info;
}

