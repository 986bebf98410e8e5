#include "shelf/ThumbnailCache.h"

#include "platform/BackgroundPriority.h"

#include "platform/FilePath.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
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

bool ThumbnailCache::isPreviewable(const QString &name)
{
    static const QStringList exts{"png", "jpg", "jpeg", "gif", "bmp", "webp", "tif", "tiff",
                                  "svg", "ico", "ppm", "pgm", "pbm", "xpm", "jp2", "tga"};
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && exts.contains(name.mid(dot + 1).toLower());
}

QImage ThumbnailCache::makeThumbnail(const QByteArray &path, int px)
{
    // Read through the raw path so that any file name works; refuse huge files.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 200 * 1024 * 1024) {
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
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
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
        const QImage image = makeThumbnail(path, px);
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
