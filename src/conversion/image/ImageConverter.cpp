// vips (glib) before Qt: gio uses "signals" as a name.
#include <vips/vips.h>

#include "conversion/image/ImageConverter.h"

#include "conversion/VipsSupport.h"
#include "conversion/image/BackgroundRemover.h"
#include "conversion/image/ImageMetadata.h"
#include "conversion/image/PngWriter.h"
#include "platform/FilePath.h"

#include <QByteArray>
#include <QtGlobal>

#include <cmath>
#include <cstring>
#include <memory>

#include <unistd.h>

#include <libheif/heif.h>

namespace {

struct Unref {
    void operator()(VipsImage *image) const { if (image) g_object_unref(image); }
};
using ImagePtr = std::unique_ptr<VipsImage, Unref>;

QString takeVipsError(const char *what)
{
    QString text = QString::fromUtf8(vips_error_buffer()).trimmed();
    vips_error_clear();
    if (text.isEmpty())
        return QString::fromUtf8(what);
    return QString::fromUtf8(what) + QStringLiteral(": ") + text.section('\n', 0, 0);
}

// Sets the Orientation entry (tag 0x0112) of IFD0 in an EXIF block to 1, in place.
// The block may start with "Exif\0\0"; both byte orders are handled.
void setExifOrientationToOne(QByteArray &exif)
{
    qsizetype base = exif.indexOf("II*\0", 0);
    const qsizetype mm = exif.indexOf(QByteArray("MM\0*", 4));
    if (base < 0 || (mm >= 0 && mm < base))
        base = mm;
    if (base < 0 || base > 16 || exif.size() < base + 8)
        return;
    auto *d = reinterpret_cast<uchar *>(exif.data()) + base;
    const qsizetype size = exif.size() - base;
    const bool little = d[0] == 'I';
    auto rd16 = [&](qsizetype at) -> quint32 {
        return little ? (d[at] | (d[at + 1] << 8)) : ((d[at] << 8) | d[at + 1]);
    };
    auto rd32 = [&](qsizetype at) -> quint32 {
        return little ? (d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (quint32(d[at + 3]) << 24))
                      : ((quint32(d[at]) << 24) | (d[at + 1] << 16) | (d[at + 2] << 8) | d[at + 3]);
    };
    const quint32 ifd = rd32(4);
    if (ifd + 2 > quint32(size))
        return;
    const quint32 count = rd16(ifd);
    for (quint32 i = 0; i < count; ++i) {
        const qsizetype entry = ifd + 2 + qsizetype(i) * 12;
        if (entry + 12 > size)
            return;
        if (rd16(entry) == 0x0112 && rd16(entry + 2) == 3) { // SHORT
            if (little) {
                d[entry + 8] = 1;
                d[entry + 9] = 0;
            } else {
                d[entry + 8] = 0;
                d[entry + 9] = 1;
            }
            return;
        }
    }
}

// Drops the metadata entries (EXIF, XMP, IPTC, comments) and keeps the pixels and their
// colour profile.
void dropMetadata(VipsImage *image)
{
    gchar **fields = vips_image_get_fields(image);
    for (gchar **f = fields; f && *f; ++f) {
        const QByteArray name(*f);
        if (name.startsWith("exif-") || name.startsWith("xmp-") || name.startsWith("iptc-")
            || name.startsWith("png-comment-") || name == "gif-comment")
            vips_image_remove(image, *f);
    }
    g_strfreev(fields);
}

// Transparent pixels become white (the formats without transparency).
bool flattenOnWhite(ImagePtr &image, QString *error)
{
    if (!vips_image_hasalpha(image.get()))
        return true;
    const double max = VipsSupport::maxAlpha(image.get());
    VipsArrayDouble *background = vips_array_double_newv(1, max);
    VipsImage *t = nullptr;
    const int rc = vips_flatten(image.get(), &t, "background", background, "max_alpha", max, nullptr);
    vips_area_unref(VIPS_AREA(background));
    if (rc) {
        *error = takeVipsError("Could not flatten the transparency");
        return false;
    }
    // Flatten yields float; back to the source's sample format.
    VipsImage *c = nullptr;
    const VipsBandFormat fmt = max > 255 ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR;
    if (vips_cast(t, &c, fmt, nullptr)) {
        g_object_unref(t);
        *error = takeVipsError("Could not flatten the transparency");
        return false;
    }
    g_object_unref(t);
    image.reset(c);
    return true;
}

// HEIC through libheif with a fast x265 preset: vips' own HEIC path uses x265's slow
// default and takes many times as long for the same picture.
bool writeHeic(VipsImage *in, const QByteArray &path, int quality, bool keepMetadata, QString *error)
{
    VipsImage *t = nullptr;
    const bool wasRgb = vips_image_get_interpretation(in) == VIPS_INTERPRETATION_sRGB;
    if (vips_colourspace(in, &t, VIPS_INTERPRETATION_sRGB, nullptr)) {
        *error = takeVipsError("Could not convert to RGB");
        return false;
    }
    ImagePtr rgb(t);
    if (vips_cast_uchar(rgb.get(), &t, nullptr)) {
        *error = takeVipsError("Could not convert to 8 bits");
        return false;
    }
    rgb.reset(t);
    const int bands = vips_image_get_bands(rgb.get());
    if (bands > 3) {
        if (vips_extract_band(rgb.get(), &t, 0, "n", 3, nullptr)) {
            *error = takeVipsError("Could not convert to RGB");
            return false;
        }
        rgb.reset(t);
    }
    const int width = vips_image_get_width(rgb.get()), height = vips_image_get_height(rgb.get());
    size_t size = 0;
    std::unique_ptr<uchar, decltype(&g_free)> pixels(
        static_cast<uchar *>(vips_image_write_to_memory(rgb.get(), &size)), &g_free);
    if (!pixels || size != size_t(width) * height * 3) {
        *error = takeVipsError("Could not decode the image");
        return false;
    }

    heif_context *ctx = heif_context_alloc();
    std::unique_ptr<heif_context, decltype(&heif_context_free)> ctxGuard(ctx, &heif_context_free);
    heif_encoder *encoder = nullptr;
    heif_error err = heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder);
    if (err.code != heif_error_Ok || !encoder) {
        *error = QStringLiteral("No HEIC encoder: ") + QString::fromUtf8(err.message);
        return false;
    }
    std::unique_ptr<heif_encoder, decltype(&heif_encoder_release)> encGuard(encoder, &heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder, qBound(0, quality, 100));
    heif_encoder_set_parameter(encoder, "preset", "ultrafast"); // ignored when unknown

    heif_image *image = nullptr;
    err = heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    if (err.code != heif_error_Ok) {
        *error = QString::fromUtf8(err.message);
        return false;
    }
    std::unique_ptr<heif_image, decltype(&heif_image_release)> imgGuard(image, &heif_image_release);
    err = heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    if (err.code != heif_error_Ok) {
        *error = QString::fromUtf8(err.message);
        return false;
    }
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
        std::memcpy(plane + size_t(y) * stride, pixels.get() + size_t(y) * width * 3, size_t(width) * 3);
    pixels.reset();

    const QByteArray icc = VipsSupport::blobField(in, VIPS_META_ICC_NAME);
    if (wasRgb && !icc.isEmpty())
        heif_image_set_raw_color_profile(image, "prof", icc.constData(), size_t(icc.size()));

    heif_image_handle *handle = nullptr;
    err = heif_context_encode_image(ctx, image, encoder, nullptr, &handle);
    if (err.code != heif_error_Ok) {
        *error = QStringLiteral("HEIC encoding failed: ") + QString::fromUtf8(err.message);
        return false;
    }
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handleGuard(handle, &heif_image_handle_release);
    if (keepMetadata) {
        QByteArray exif = VipsSupport::blobField(in, VIPS_META_EXIF_NAME);
        if (!exif.isEmpty()) {
            setExifOrientationToOne(exif);
            heif_context_add_exif_metadata(ctx, handle, exif.constData(), int(exif.size()));
        }
        const QByteArray xmp = VipsSupport::blobField(in, VIPS_META_XMP_NAME);
        if (!xmp.isEmpty())
            heif_context_add_XMP_metadata(ctx, handle, xmp.constData(), int(xmp.size()));
    }
    err = heif_context_write_to_file(ctx, path.constData());
    if (err.code != heif_error_Ok) {
        *error = QStringLiteral("Could not write the file: ") + QString::fromUtf8(err.message);
        return false;
    }
    return true;
}

} // namespace

double lossyQuality(int quality)
{
    return qBound(0, quality, 100) / 100.0;
}

QRect aspectCropRect(int width, int height, ImageDimensionsPreset dimensions)
{
    const QRect full(0, 0, width, height);
    double r = 0;
    switch (dimensions) {
    case ImageDimensionsPreset::original: return full;
    case ImageDimensionsPreset::square: r = 1.0; break;
    case ImageDimensionsPreset::threeByTwo: r = 3.0 / 2.0; break;
    case ImageDimensionsPreset::fourByThree: r = 4.0 / 3.0; break;
    case ImageDimensionsPreset::fiveByFour: r = 5.0 / 4.0; break;
    case ImageDimensionsPreset::sixteenByNine: r = 16.0 / 9.0; break;
    }
    if (width < height)
        r = 1.0 / r;
    if (width <= 0 || height <= 0 || r <= 0)
        return full;
    const double w = width, h = height;
    if (std::fabs(w / h - r) < 0.001)
        return full;
    double x = 0, y = 0, cw = w, ch = h;
    if (w / h <= r) { // too tall
        ch = w / r;
        y = (h - ch) / 2.0;
    } else { // too wide
        cw = h * r;
        x = (w - cw) / 2.0;
    }
    // Outward to whole pixels, never beyond the image.
    const int x0 = qMax(0, int(std::floor(x + 1e-9))), y0 = qMax(0, int(std::floor(y + 1e-9)));
    const int x1 = qMin(width, int(std::ceil(x + cw - 1e-9))), y1 = qMin(height, int(std::ceil(y + ch - 1e-9)));
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

std::optional<QUrl> runImageConversion(const QUrl &input, ImageOutputFormat format, int quality,
                                       ImageDimensionsPreset dimensions, bool preserveMetadata,
                                       bool removeBackground, const QUrl &outputURL, QString *errorOut)
{
    QString scratch;
    QString *error = errorOut ? errorOut : &scratch;
    if (!VipsSupport::ensureStarted()) {
        *error = QStringLiteral("The image library could not be started");
        return std::nullopt;
    }
    const QByteArray inPath = FilePath::bytes(input);
    const QByteArray outPath = FilePath::bytes(outputURL);
    if (inPath.isEmpty() || outPath.isEmpty()) {
        *error = QStringLiteral("Not a local file");
        return std::nullopt;
    }
    if (!isRegularMediaFile(inPath)) { // a pipe would block the loader for ever
        *error = kNotRegularFileMessage;
        return std::nullopt;
    }

    // The network loads while the image is decoded.
    if (removeBackground)
        BackgroundRemover::startLoading();

    // 1–3. Open (random access: the rotation below reads out of order), single image only.
    // A file cut short fails instead of coming out with grey where its end should be.
    VipsImage *t = vips_image_new_from_file(inPath.constData(), "access", VIPS_ACCESS_RANDOM, "fail_on",
                                            VIPS_FAIL_ON_TRUNCATED, nullptr);
    if (!t) {
        *error = takeVipsError("Not a readable image");
        return std::nullopt;
    }
    ImagePtr image(t);
    if (vips_image_get_n_pages(image.get()) > 1) {
        *error = QStringLiteral("The file holds several images; only single images are converted");
        return std::nullopt;
    }
    if (qint64(vips_image_get_width(image.get())) * vips_image_get_height(image.get()) > kMaxImagePixels) {
        *error = QStringLiteral("The image is too large (%1 × %2 pixels)")
                     .arg(vips_image_get_width(image.get())).arg(vips_image_get_height(image.get()));
        return std::nullopt;
    }

    // 4. Upright pixels.
    if (vips_autorot(image.get(), &t, nullptr) == 0)
        image.reset(t);
    else
        vips_error_clear(); // keep the image as decoded

    // 5. Background removal. No subject leaves the image as it is; removal that was asked
    // for and cannot run (no model) fails the file with the reason, rather than writing an
    // unmasked picture as if all had gone well.
    if (removeBackground) {
        VipsImage *masked = nullptr;
        QString why;
        switch (BackgroundRemover::removeBackground(image.get(), &masked, &why)) {
        case BackgroundRemover::Outcome::masked:
            image.reset(masked);
            break;
        case BackgroundRemover::Outcome::noSubject:
            break;
        case BackgroundRemover::Outcome::unavailable:
            *error = QStringLiteral("Background removal is not possible: ") + why;
            return std::nullopt;
        case BackgroundRemover::Outcome::failed:
            *error = QStringLiteral("Background removal failed")
                     + (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
            return std::nullopt;
        }
    }

    // 6. Centre crop, source pixels only.
    const int w = vips_image_get_width(image.get()), h = vips_image_get_height(image.get());
    const QRect crop = aspectCropRect(w, h, dimensions);
    if (crop != QRect(0, 0, w, h)) {
        if (vips_extract_area(image.get(), &t, crop.x(), crop.y(), crop.width(), crop.height(), nullptr) == 0)
            image.reset(t);
        else
            vips_error_clear();
    }

    // 8. Properties: metadata kept or dropped, orientation 1, quality, white background.
    if (vips_copy(image.get(), &t, nullptr)) { // a private header to edit
        *error = takeVipsError("Could not prepare the image");
        return std::nullopt;
    }
    image.reset(t);
    if (!preserveMetadata)
        dropMetadata(image.get());
    // IPTC in the form the output format keeps it in (see ImageMetadata).
    const QByteArray iptc = ImageMetadata::iptcRecords(VipsSupport::blobField(image.get(), VIPS_META_IPTC_NAME));
    vips_image_remove(image.get(), VIPS_META_IPTC_NAME);
    if (!iptc.isEmpty() && format == ImageOutputFormat::jpeg) {
        const QByteArray block = ImageMetadata::photoshopSegment(iptc);
        vips_image_set_blob_copy(image.get(), VIPS_META_IPTC_NAME, block.constData(), size_t(block.size()));
    }
    vips_image_remove(image.get(), VIPS_META_ORIENTATION);
    vips_image_set_int(image.get(), VIPS_META_ORIENTATION, 1);
    if (!keepsTransparency(format) && !flattenOnWhite(image, error))
        return std::nullopt;

    const int q = int(std::lround(lossyQuality(quality) * 100)); // vips takes 1…100
    int rc = 0;
    bool ok = true;
    switch (format) {
    case ImageOutputFormat::png:
        if (PngWriter::canWrite(image.get())) {
            QByteArray exif = VipsSupport::blobField(image.get(), VIPS_META_EXIF_NAME);
            setExifOrientationToOne(exif);
            ok = PngWriter::write(image.get(), outPath, exif, error);
        } else { // other colour spaces and sample formats: the library converts them, same settings
            rc = vips_pngsave(image.get(), outPath.constData(), "compression", PngWriter::kCompressionLevel, "filter",
                              VIPS_FOREIGN_PNG_FILTER_ALL, nullptr);
        }
        break;
    case ImageOutputFormat::jpeg:
        rc = vips_jpegsave(image.get(), outPath.constData(), "Q", qMax(1, q), nullptr);
        break;
    case ImageOutputFormat::webp:
        rc = vips_webpsave(image.get(), outPath.constData(), "Q", q, nullptr);
        break;
    case ImageOutputFormat::tiff:
        rc = vips_tiffsave(image.get(), outPath.constData(), nullptr);
        break;
    case ImageOutputFormat::heic:
        ok = writeHeic(image.get(), outPath, quality, preserveMetadata, error);
        break;
    }
    if (rc != 0) {
        *error = takeVipsError("Could not write the image");
        ok = false;
    }
    // What the library leaves out of the file.
    if (ok && preserveMetadata && format == ImageOutputFormat::png && !iptc.isEmpty())
        ok = ImageMetadata::addPngTextChunk(outPath, "Raw profile type iptc", ImageMetadata::rawProfileText(iptc), error);
    if (ok && preserveMetadata && format == ImageOutputFormat::tiff)
        ok = ImageMetadata::addToTiff(outPath, VipsSupport::blobField(image.get(), VIPS_META_EXIF_NAME), iptc, error);
    if (!ok) {
        ::unlink(outPath.constData());
        return std::nullopt;
    }
    return outputURL;
}

ConversionResult ImageConverter::convert(const ConversionRequest &request)
{
    const ConversionJobOptions &o = request.options;
    QString error;
    const auto out = runImageConversion(request.source, o.imageFormat, o.imageQuality, o.imageDimensions,
                                        o.preserveImageMetadata, o.removeImageBackground,
                                        request.stagedOutput, &error);
    return out ? ConversionResult::success() : ConversionResult::failure(error);
}

std::unique_ptr<MediaConverter> makeVipsImageConverter()
{
    return std::make_unique<ImageConverter>();
}
