#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QUrl>

// Small previews of image files, made on the thread pool and kept in a bounded cache.
// request() returns the image when it is ready and otherwise starts making it (once);
// `ready` tells when it arrived. Files that are not images (or fail to decode) are
// remembered as such and never tried again.
class ThumbnailCache : public QObject
{
    Q_OBJECT
public:
    explicit ThumbnailCache(QObject *parent = nullptr);
    ~ThumbnailCache() override;

    QImage request(const QUrl &url, int px);
    void clear();
    // Whether a file looks like something we can preview, by its name alone.
    static bool isPreviewable(const QString &fileName);
    // The preview itself (runs on any thread).
    static QImage makeThumbnail(const QByteArray &path, int px);

signals:
    void ready(const QUrl &url);

private:
    QCache<QString, QImage> m_cache;
    QSet<QString> m_pending;
    QSet<QString> m_failed;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
