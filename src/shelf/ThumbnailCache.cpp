#include "shelf/ThumbnailCache.h"

#include "conversion/MediaBackend.h"
#include "platform/BackgroundPriority.h"
#include "platform/FilePath.h"
#include "platform/FreedesktopThumbnails.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Thumbs = FreedesktopThumbnails;

namespace {

constexpr qint64 kMaxQtReadBytes = 200 * 1024 * 1024;

QThreadPool &thumbnailPool()
{
    static QThreadPool pool;
    static bool init = [] {
        pool.setMaxThreadCount(2);
        return true;
    }();
    (void)init;
    return pool;
}

// What came of making a preview: the image, or why there is none. `unavailable` (the module
// that reads the type is missing) leaves no failure marker: the file is not to blame.
struct Made {
    QImage image;
    bool unavailable = false;
};

QImage fromPixels(const ThumbnailPixels &pixels)
{
    if (pixels.width <= 0 || pixels.height <= 0 || pixels.rgba.size() != qsizetype(pixels.width) * pixels.height * 4)
        return {};
    return QImage(reinterpret_cast<const uchar *>(pixels.rgba.constData()), pixels.width, pixels.height,
                  pixels.width * 4, QImage::Format_RGBA8888)
        .convertToFormat(QImage::Format_ARGB32);
}

// Through Qt's own readers, by the raw path so that any file name works; huge files are refused.
QImage readWithQt(const QByteArray &path, int px)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxQtReadBytes) {
        ::close(fd);
        return {};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && !size.isEmpty()) {
        const QSize scaled = size.scaled(QSize(px, px), Qt::KeepAspectRatio);
        if (scaled.width() < size.width())
            reader.setScaledSize(scaled.expandedTo(QSize(1, 1)));
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() > px || image.height() > px)
        image = image.scaled(px, px, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

bool qtReads(const QMimeType &type)
{
    static const QList<QByteArray> types = QImageReader::supportedMimeTypes();
    if (types.contains(type.name().toLatin1()))
        return true;
    for (const QString &alias : type.aliases())
        if (types.contains(alias.toLatin1()))
            return true;
    return false;
}

Made makeImage(const QByteArray &path, const QMimeType &type, int px)
{
    if (qtReads(type)) {
        QImage image = readWithQt(path, px);
        if (!image.isNull())
            return {image};
    }
    // What Qt cannot read (HEIC, AVIF, JPEG XL, …), or failed to: libvips.
    const ImageBackend *backend = imageBackend();
    if (!backend)
        return {{}, true};
    ThumbnailPixels pixels;
    if (!backend->imageThumbnail(path, px, &pixels, nullptr))
        return {};
    return {fromPixels(pixels)};
}

Made makeVideoFrame(const QByteArray &path, int px)
{
    const AvBackend *backend = avBackend();
    if (!backend)
        return {{}, true};
    ThumbnailPixels pixels;
    if (!backend->videoThumbnail(path, px, &pixels, nullptr))
        return {};
    return {fromPixels(pixels)};
}

QImage fitted(const QImage &image, int px)
{
    QImage out = image;
    if (out.width() > px || out.height() > px)
        out = out.scaled(px, px, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

ThumbnailCache::ThumbnailCache(QObject *parent)
    : QObject(parent)
{
    m_cache.setMaxCost(64 * 1024 * 1024); // bytes of pixel data
}

ThumbnailCache::~ThumbnailCache()
{
    *m_alive = false;
}

void ThumbnailCache::finishWrites(int ms)
{
    thumbnailPool().waitForDone(ms);
}

ThumbnailCache::Kind ThumbnailCache::kindOf(const QMimeType &type)
{
    const QString name = type.name();
    if (name.startsWith(QLatin1String("image/")))
        return Kind::image;
    if (name.startsWith(QLatin1String("video/")))
        return Kind::video;
    return Kind::other;
}

QImage ThumbnailCache::thumbnail(const QByteArray &path, int px)
{
    if (px < 1)
        return {};
    static const QMimeDatabase db; // thread-safe
    const QMimeType type = db.mimeTypeForFile(QFile::decodeName(path));
    const Kind kind = kindOf(type);
    const auto source = Thumbs::describe(path, type.name());
    if (!source)
        return {};
    const Thumbs::Flavor flavor = Thumbs::flavorFor(px);
    if (Thumbs::isInsideCache(path)) {
        // A thumbnail itself: shown as it is, never thumbnailed.
        return kind == Kind::image ? fitted(makeImage(path, type, px).image, px) : QImage();
    }
    const QImage cached = Thumbs::find(*source, px);
    if (!cached.isNull())
        return fitted(cached, px);
    if (kind == Kind::other || Thumbs::hasFailed(*source))
        return {};
    const int side = Thumbs::edge(flavor);
    const Made made = kind == Kind::image ? makeImage(path, type, side) : makeVideoFrame(path, side);
    if (made.image.isNull()) {
        if (!made.unavailable)
            Thumbs::storeFailure(*source);
        return {};
    }
    Thumbs::store(*source, made.image, flavor);
    return fitted(made.image, px);
}

QImage ThumbnailCache::request(const QUrl &url, int px)
{
    const QString key = url.toString(QUrl::FullyEncoded) + QLatin1Char('@') + QString::number(px);
    if (QImage *img = m_cache.object(key))
        return *img;
    if (m_failed.contains(key) || m_pending.contains(key))
        return {};
    m_pending.insert(key);
    const QByteArray path = FilePath::bytes(url);
    QPointer<ThumbnailCache> self(this);
    auto alive = m_alive;
    (void)QtConcurrent::run(&thumbnailPool(), [self, alive, path, px, key, url] {
        if (!*alive)
            return;
        const BackgroundPriority background;
        const QImage image = thumbnail(path, px);
        QMetaObject::invokeMethod(
            qApp,
            [self, key, url, image] {
                if (!self)
                    return;
                self->m_pending.remove(key);
                if (image.isNull()) {
                    self->m_failed.insert(key);
                    return;
                }
                self->m_cache.insert(key, new QImage(image), int(image.sizeInBytes()));
                emit self->ready(url);
            },
            Qt::QueuedConnection);
    });
    return {};
}

void ThumbnailCache::clear()
{
    m_cache.clear();
    m_failed.clear();
}
