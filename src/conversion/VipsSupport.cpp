#include <vips/vips.h>

#include "conversion/VipsSupport.h"

#include <QLoggingCategory>

#include <mutex>

namespace {

Q_LOGGING_CATEGORY(lcMediaLibraries, "perchbox.media", QtInfoMsg)

// libvips' own warnings ("rounding up IPTC data length", loader complaints) go to our log at
// debug level instead of standard error.
void logToCategory(const gchar *domain, GLogLevelFlags, const gchar *message, gpointer)
{
    qCDebug(lcMediaLibraries, "%s: %s", domain ? domain : "vips", message ? message : "");
}

} // namespace

namespace VipsSupport {

bool ensureStarted()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        for (const char *domain : {"VIPS", "GLib-GObject"})
            g_log_set_handler(domain, GLogLevelFlags(G_LOG_LEVEL_MASK & ~G_LOG_LEVEL_ERROR), &logToCategory, nullptr);
        ok = VIPS_INIT("perchbox") == 0;
        if (ok) {
            // No operation cache: it keeps loaded images by file name, so a picture edited
            // between two conversions (or thumbnails) would come back as it was. Each image
            // is read once a run anyway.
            vips_cache_set_max(0);
        }
    });
    return ok;
}

double maxAlpha(const VipsImage *image)
{
    switch (vips_image_get_interpretation(const_cast<VipsImage *>(image))) {
    case VIPS_INTERPRETATION_RGB16:
    case VIPS_INTERPRETATION_GREY16: return 65535.0;
    default: return 255.0;
    }
}

QList<ImageOutputFormat> writableImageFormats()
{
    static const QList<ImageOutputFormat> formats = [] {
        QList<ImageOutputFormat> out;
        if (!ensureStarted()) {
            vips_error_clear();
            return out;
        }
        for (ImageOutputFormat format : allCases<ImageOutputFormat>()) {
            const QByteArray probeName = "probe." + fileExtension(format).toLatin1();
            if (vips_foreign_find_save(probeName.constData()))
                out.append(format);
            else
                vips_error_clear();
        }
        return out;
    }();
    return formats;
}

QByteArray blobField(VipsImage *image, const char *name)
{
    if (!vips_image_get_typeof(image, name))
        return {};
    const void *data = nullptr;
    size_t length = 0;
    if (vips_image_get_blob(image, name, &data, &length) || !data)
        return {};
    return QByteArray(static_cast<const char *>(data), qsizetype(length));
}

} // namespace VipsSupport
