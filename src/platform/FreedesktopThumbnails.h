#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// The desktop's shared thumbnail cache ($XDG_CACHE_HOME/thumbnails, ~/.cache/thumbnails), as
// file managers read and write it:
//   - a thumbnail is "<size folder>/<MD5 of the file's URI>.png" with the keys Thumb::URI and
//     Thumb::MTime (and Thumb::Size, Thumb::Mime, Software) in its text chunks;
//   - it is good only while Thumb::MTime (and Thumb::Size, when given) match the file now;
//   - a program that failed to make one leaves a marker under "fail/<program>-<version>/" and
//     does not try again until the file changes; markers of other programs are not ours to
//     trust (they may lack a format we read);
//   - files inside the cache itself get no thumbnails; folders are created 0700, files 0600
//     and written whole (a temporary file renamed over the target).
// Everything here works on any thread.
namespace FreedesktopThumbnails {

enum class Flavor { normal, large, xLarge, xxLarge };

// 128, 256, 512, 1024: the longer side of a thumbnail of that folder.
int edge(Flavor flavor);
// "normal", "large", "x-large", "xx-large".
QString folderName(Flavor flavor);
// The smallest flavor whose thumbnails are at least `px` on their longer side (xxLarge past that).
Flavor flavorFor(int px);

// $XDG_CACHE_HOME/thumbnails.
QString cacheRoot();
// "file://" + the absolute path, escaped as the desktop's file URIs are (unreserved
// characters and "!$&'()*+,/:=@~" stay, everything else becomes %XX with capitals).
QByteArray canonicalUri(const QByteArray &absolutePath);
// The MD5 of the URI in lower-case hex, + ".png".
QByteArray hashedName(const QByteArray &uri);
QString thumbnailPath(const QByteArray &uri, Flavor flavor);
// "perchbox-<version>": our folder under "fail".
QString failureFolderName();
QString failurePath(const QByteArray &uri);

// What a thumbnail is checked against.
struct Source {
    QByteArray path;
    QByteArray uri;
    qint64 mtime = 0; // seconds
    qint64 size = 0;
    QString mime;
};
// The facts of a regular file (nothing for folders, devices, missing files).
std::optional<Source> describe(const QByteArray &absolutePath, const QString &mime = {});

// True for a file inside the cache folder (never thumbnailed).
bool isInsideCache(const QByteArray &absolutePath);

// The thumbnail of `source` made for at least `px`: the flavor for px, else a larger one;
// null when there is none, or only outdated or unreadable ones.
QImage find(const Source &source, int px);
// True when our own failure marker for `source` is there and was made for its current
// modification time.
bool hasFailed(const Source &source);

// Writes `image` as the thumbnail of `source` in `flavor`'s folder (scaled down when larger
// than its edge). False when it could not be written (read-only cache, full disk).
bool store(const Source &source, const QImage &image, Flavor flavor);
// Leaves our failure marker for `source`.
bool storeFailure(const Source &source);

} // namespace FreedesktopThumbnails
