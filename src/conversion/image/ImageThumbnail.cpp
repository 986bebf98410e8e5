// vips (glib) before Qt: gio uses "signals" as a name.
#include <vips/vips.h>

#include "conversion/image/ImageThumbnail.h"

#include "conversion/VipsSupport.h"

#include <memory>

namespace {

struct Unref {
    void operator()(void *object) const
    {
        if (object)
            g_object_unref(object);
    }
};
using ImagePtr = std::unique_ptr<VipsImage, Unref>;

bool failed(QString *error, const char *fallback)
{
    if (error) {
        *error = QString::fromUtf8(vips_error_buffer()).trimmed();
        if (error->isEmpty())
            *error = QString::fromUtf8(fallback);
    }
    vips_error_clear();
    return false;
}

} // namespace

bool imageThumbnail(const QByteArray &path, int maxSide, ThumbnailPixels *out, QString *error)
{
    if (!VipsSupport::ensureStarted())
        return failed(error, "libvips could not start");
    if (maxSide < 1 || path.isEmpty())
        return failed(error, "nothing to read");
    // A source by path reads the name as it is (a file name holding "[…]" is not taken for
    // load options).
    std::unique_ptr<VipsSource, Unref> source(vips_source_new_from_file(path.constData()));
    if (!source)
        return failed(error, "the file cannot be opened");
    // Pictures only: libvips also reads text files as matrices.
    const char *loader = vips_foreign_find_load_source(source.get());
    if (!loader)
        return failed(error, "not an image libvips reads");
    const QByteArray loaderName(loader);
    if (loaderName.contains("Csv") || loaderName.contains("Matrix"))
        return failed(error, "not an image");
    VipsImage *t = nullptr;
    // Shrinks while it decodes where the format allows (JPEG, WebP, HEIC's own thumbnail).
    if (vips_thumbnail_source(source.get(), &t, maxSide, "height", maxSide, "size", VIPS_SIZE_DOWN, nullptr))
        return failed(error, "the image cannot be read");
    ImagePtr image(t);
    if (vips_image_get_interpretation(image.get()) != VIPS_INTERPRETATION_sRGB) {
        if (vips_colourspace(image.get(), &t, VIPS_INTERPRETATION_sRGB, nullptr))
            return failed(error, "the colours cannot be converted");
        image.reset(t);
    }
    if (vips_image_get_format(image.get()) != VIPS_FORMAT_UCHAR) {
        if (vips_cast_uchar(image.get(), &t, nullptr))
            return failed(error, "the image cannot be converted");
        image.reset(t);
    }
    // Exactly RGBA: three colour bands and an alpha band (opaque where the image has none).
    const int bands = vips_image_get_bands(image.get());
    const bool alpha = vips_image_hasalpha(image.get());
    if (bands > (alpha ? 4 : 3)) {
        // Extra bands (after a CMYK conversion, say): keep colour and alpha.
        VipsImage *colour = nullptr;
        if (vips_extract_band(image.get(), &colour, 0, "n", 3, nullptr))
            return failed(error, "the image cannot be converted");
        ImagePtr colourPtr(colour);
        if (alpha) {
            VipsImage *a = nullptr;
            if (vips_extract_band(image.get(), &a, bands - 1, nullptr))
                return failed(error, "the image cannot be converted");
            ImagePtr aPtr(a);
            if (vips_bandjoin2(colourPtr.get(), aPtr.get(), &t, nullptr))
                return failed(error, "the image cannot be converted");
            image.reset(t);
        } else {
            image = std::move(colourPtr);
        }
    }
    if (!vips_image_hasalpha(image.get()) || vips_image_get_bands(image.get()) < 4) {
        if (vips_bandjoin_const1(image.get(), &t, 255.0, nullptr))
            return failed(error, "the image cannot be converted");
        image.reset(t);
    }
    size_t size = 0;
    void *data = vips_image_write_to_memory(image.get(), &size);
    const int width = vips_image_get_width(image.get()), height = vips_image_get_height(image.get());
    if (!data || size != size_t(width) * height * 4) {
        g_free(data);
        return failed(error, "the image cannot be converted");
    }
    out->width = width;
    out->height = height;
    out->rgba = QByteArray(static_cast<const char *>(data), qsizetype(size));
    g_free(data);
    return true;
}
