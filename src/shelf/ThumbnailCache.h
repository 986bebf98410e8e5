#pragma once

#include <QCache>
#include <QImage>
#include <QMimeType>
#include <QObject>
#include <QSet>
#include <QUrl>

#include <memory>

// Previews of the files on a shelf, made on a thread pool and kept in a bounded memory cache.
// request() returns the image when it is ready and otherwise starts making it (once); `ready`
// tells when it arrived. A file without a preview is remembered as such and not tried again
// (until clear()).
//
// A preview comes from the desktop's thumbnail cache when a good one is there (any file type:
// a file manager may have left one for a PDF). Otherwise images (read by Qt, or by the image
// module: HEIC, AVIF, …) and videos (a frame through the audio/video module) get one made
// here, which is written back into that cache; where that fails, the cache gets our failure
// marker and the file is not tried again until it changes. Other types show their icon.
class ThumbnailCache : public QObject
{
    Q_OBJECT
public:
    explicit ThumbnailCache(QObject *parent = nullptr);
    ~ThumbnailCache() override;

    QImage request(const QUrl &url, int px);
    void clear();

    // What is made here for a type; `other` is only looked up in the desktop's cache.
    enum class Kind { image, video, other };
    static Kind kindOf(const QMimeType &type);
    // The preview of the file at `path` (raw bytes), at most px × px: looked up, else made and
    // stored as above. Blocking; runs on any thread. Null when there is none.
    static QImage thumbnail(const QByteArray &path, int px);
    // Waits up to `ms` for the thumbnails being made and written (at quit).
    static void finishWrites(int ms);

signals:
    void ready(const QUrl &url);

private:
    QCache<QString, QImage> m_cache;
    QSet<QString> m_pending;
    QSet<QString> m_failed;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
