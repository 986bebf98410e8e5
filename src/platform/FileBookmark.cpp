#include "platform/FileBookmark.h"

#include "platform/FilePath.h"

#include <QDataStream>
#include <QIODevice>

#include <dirent.h>
#include <sys/stat.h>

namespace {

constexpr quint32 kMagic = 0x50424B31; // "PBK1"
// Scanning the parent folder for a renamed file is cheap on a directory listing, but not
// unbounded: beyond this many entries we give up and report failure.
constexpr int kMaxScannedEntries = 20000;

QByteArray parentOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    if (slash <= 0)
        return QByteArray("/");
    return path.left(slash);
}

} // namespace

namespace FileBookmark {

QByteArray create(const QUrl &fileUrl)
{
    const QByteArray path = FilePath::bytes(fileUrl);
    if (path.isEmpty() || !path.startsWith('/'))
        return {};
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return {};
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_0);
    stream << kMagic << quint64(st.st_dev) << quint64(st.st_ino) << path;
    return out;
}

Resolution resolve(const QByteArray &bookmark)
{
    Resolution result;
    QDataStream stream(bookmark);
    stream.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    quint64 device = 0, inode = 0;
    QByteArray path;
    stream >> magic >> device >> inode >> path;
    // A NUL ends the path for the system but not for the URL made of it: such a bookmark
    // would lead one place and name another.
    if (stream.status() != QDataStream::Ok || magic != kMagic || !path.startsWith('/') || path.contains('\0'))
        return result;

    struct stat st;
    if (::stat(path.constData(), &st) == 0) {
        result.url = FilePath::urlFromBytes(path);
        result.stale = quint64(st.st_dev) != device || quint64(st.st_ino) != inode;
        return result;
    }

    // Not at its old place: look for the same inode in the same folder (a rename).
    const QByteArray parent = parentOf(path);
    DIR *dir = ::opendir(parent.constData());
    if (!dir)
        return result;
    int scanned = 0;
    while (struct dirent *entry = ::readdir(dir)) {
        if (++scanned > kMaxScannedEntries)
            break;
        if (quint64(entry->d_ino) != inode)
            continue;
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray candidate = (parent == "/" ? QByteArray() : parent) + '/' + name;
        if (::stat(candidate.constData(), &st) == 0 && quint64(st.st_dev) == device
            && quint64(st.st_ino) == inode) {
            result.url = FilePath::urlFromBytes(candidate);
            break;
        }
    }
    ::closedir(dir);
    return result;
}

QUrl resolvedUrl(const QByteArray &bookmark, const QUrl &fallback)
{
    if (bookmark.isEmpty())
        return fallback;
    const Resolution r = resolve(bookmark);
    return r.url.isEmpty() ? fallback : r.url;
}

} // namespace FileBookmark
