#include "platform/FreedesktopThumbnails.h"

#include "platform/AppPaths.h"
#include "platform/FilePath.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryFile>

#include <cstdio>
#include <sys/stat.h>

namespace FreedesktopThumbnails {

namespace {

const char kUriKey[] = "Thumb::URI";
const char kMTimeKey[] = "Thumb::MTime";
const char kSizeKey[] = "Thumb::Size";
const char kMimeKey[] = "Thumb::Mime";
const char kSoftwareKey[] = "Software";

// Creates `folder` and the folders above it up to the cache root with mode 0700.
bool ensureFolder(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    if (!QDir().mkpath(folder))
        return false;
    // mkpath honours the umask; the cache's folders are private.
    QString dir = folder;
    const QString root = QFileInfo(cacheRoot()).absoluteFilePath();
    while (dir.startsWith(root) && dir.size() >= root.size()) {
        ::chmod(QFile::encodeName(dir).constData(), 0700);
        if (dir.size() == root.size())
            break;
        dir = QFileInfo(dir).absolutePath();
    }
    return true;
}

// Writes the PNG beside its target and renames it over the target: readers never see half a file.
bool writePng(const QString &path, const QImage &image)
{
    if (!ensureFolder(QFileInfo(path).absolutePath()))
        return false;
    QTemporaryFile temp(path + QStringLiteral(".XXXXXX"));
    temp.setAutoRemove(true);
    if (!temp.open()) // created 0600
        return false;
    QImageWriter writer(&temp, "png");
    if (!writer.write(image) || !temp.flush())
        return false;
    temp.close();
    if (::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        return false;
    temp.setAutoRemove(false);
    return true;
}

QImage withKeys(QImage image, const Source &source)
{
    image.setText(QString::fromLatin1(kUriKey), QString::fromLatin1(source.uri));
    image.setText(QString::fromLatin1(kMTimeKey), QString::number(source.mtime));
    image.setText(QString::fromLatin1(kSizeKey), QString::number(source.size));
    if (!source.mime.isEmpty())
        image.setText(QString::fromLatin1(kMimeKey), source.mime);
    image.setText(QString::fromLatin1(kSoftwareKey), QStringLiteral("Perchbox " PERCHBOX_VERSION));
    return image;
}

// True when the keys of a thumbnail (or marker) say it was made from `source` as it is now.
bool matches(const QImage &image, const Source &source)
{
    if (image.text(QString::fromLatin1(kUriKey)).toLatin1() != source.uri)
        return false;
    bool ok = false;
    const qint64 mtime = image.text(QString::fromLatin1(kMTimeKey)).toLongLong(&ok);
    if (!ok || mtime != source.mtime)
        return false;
    const QString size = image.text(QString::fromLatin1(kSizeKey));
    return size.isEmpty() || size.toLongLong() == source.size;
}

QImage readPng(const QString &path)
{
    QImageReader reader(path, "png");
    reader.setAutoTransform(false);
    return reader.read();
}

} // namespace

int edge(Flavor flavor)
{
    switch (flavor) {
    case Flavor::normal: return 128;
    case Flavor::large: return 256;
    case Flavor::xLarge: return 512;
    case Flavor::xxLarge: return 1024;
    }
    return 128;
}

QString folderName(Flavor flavor)
{
    switch (flavor) {
    case Flavor::normal: return QStringLiteral("normal");
    case Flavor::large: return QStringLiteral("large");
    case Flavor::xLarge: return QStringLiteral("x-large");
    case Flavor::xxLarge: return QStringLiteral("xx-large");
    }
    return QStringLiteral("normal");
}

Flavor flavorFor(int px)
{
    for (Flavor f : {Flavor::normal, Flavor::large, Flavor::xLarge})
        if (px <= edge(f))
            return f;
    return Flavor::xxLarge;
}

QString cacheRoot()
{
    return AppPaths::cacheHome() + QStringLiteral("/thumbnails");
}

QByteArray canonicalUri(const QByteArray &absolutePath)
{
    return QByteArrayLiteral("file://") + absolutePath.toPercentEncoding("!$&'()*+,/:=@~");
}

QByteArray hashedName(const QByteArray &uri)
{
    return QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
}

QString thumbnailPath(const QByteArray &uri, Flavor flavor)
{
    return cacheRoot() + QLatin1Char('/') + folderName(flavor) + QLatin1Char('/') + QString::fromLatin1(hashedName(uri));
}

QString failureFolderName()
{
    return QStringLiteral("perchbox-" PERCHBOX_VERSION);
}

QString failurePath(const QByteArray &uri)
{
    return cacheRoot() + QStringLiteral("/fail/") + failureFolderName() + QLatin1Char('/')
        + QString::fromLatin1(hashedName(uri));
}

std::optional<Source> describe(const QByteArray &absolutePath, const QString &mime)
{
    struct stat st;
    if (!absolutePath.startsWith('/') || ::stat(absolutePath.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    Source source;
    source.path = absolutePath;
    source.uri = canonicalUri(absolutePath);
    source.mtime = qint64(st.st_mtim.tv_sec);
    source.size = qint64(st.st_size);
    source.mime = mime;
    return source;
}

bool isInsideCache(const QByteArray &absolutePath)
{
    const QByteArray root = FilePath::standardized(QFile::encodeName(cacheRoot()));
    return FilePath::standardized(absolutePath).startsWith(root + '/');
}

QImage find(const Source &source, int px)
{
    for (Flavor f : {Flavor::normal, Flavor::large, Flavor::xLarge, Flavor::xxLarge}) {
        if (edge(f) < px && f != Flavor::xxLarge)
            continue;
        const QString path = thumbnailPath(source.uri, f);
        if (!QFileInfo::exists(path))
            continue;
        const QImage image = readPng(path);
        if (!image.isNull() && matches(image, source))
            return image;
    }
    return {};
}

bool hasFailed(const Source &source)
{
    const QString path = failurePath(source.uri);
    if (!QFileInfo::exists(path))
        return false;
    const QImage marker = readPng(path);
    return !marker.isNull() && matches(marker, source);
}

bool store(const Source &source, const QImage &image, Flavor flavor)
{
    if (image.isNull() || isInsideCache(source.path))
        return false;
    QImage scaled = image;
    const int side = edge(flavor);
    if (scaled.width() > side || scaled.height() > side)
        scaled = scaled.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!scaled.hasAlphaChannel())
        scaled = scaled.convertToFormat(QImage::Format_RGB32);
    return writePng(thumbnailPath(source.uri, flavor), withKeys(scaled, source));
}

bool storeFailure(const Source &source)
{
    if (isInsideCache(source.path))
        return false;
    QImage marker(1, 1, QImage::Format_ARGB32);
    marker.fill(Qt::transparent);
    return writePng(failurePath(source.uri), withKeys(marker, source));
}

} // namespace FreedesktopThumbnails
