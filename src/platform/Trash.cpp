#include "platform/Trash.h"

#include "platform/AppPaths.h"
#include "platform/FilePath.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool makeDir(const QByteArray &path, mode_t mode)
{
    if (::mkdir(path.constData(), mode) == 0)
        return true;
    struct stat st;
    return errno == EEXIST && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates "<trash>", "<trash>/files" and "<trash>/info" (0700 as the trash layout asks).
bool ensureTrash(const QByteArray &trash)
{
    // Intermediate folders (e.g. a missing ~/.local/share) are created too.
    QByteArray partial;
    const QList<QByteArray> parts = trash.split('/');
    for (const QByteArray &part : parts) {
        if (part.isEmpty())
            continue;
        partial += '/' + part;
        if (!makeDir(partial, 0700))
            return false;
    }
    return makeDir(trash + "/files", 0700) && makeDir(trash + "/info", 0700);
}

// The mount point of `path`: the highest ancestor on the same device.
QByteArray mountPointOf(const QByteArray &path, dev_t device)
{
    QByteArray current = FilePath::parentPath(path);
    while (current != "/") {
        const QByteArray up = FilePath::parentPath(current);
        struct stat st;
        if (::lstat(up.constData(), &st) != 0 || st.st_dev != device)
            break;
        current = up;
    }
    return current;
}

// Writes the ".trashinfo" file under a name nobody uses yet (O_EXCL reserves it) and
// returns the chosen entry name in `entry`.
bool reserveEntry(const QByteArray &trash, const QByteArray &name, const QByteArray &infoPath,
                  QByteArray *entry, int *error)
{
    const QByteArray stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
    const QByteArray body = "[Trash Info]\nPath=" + infoPath.toPercentEncoding("/") + "\nDeletionDate=" + stamp + "\n";
    QByteArray stem = name;
    QByteArray ext;
    const int dot = name.lastIndexOf('.');
    if (dot > 0) {
        stem = name.left(dot);
        ext = name.mid(dot);
    }
    for (int n = 1; n < 10000; ++n) {
        const QByteArray candidate = n == 1 ? name : stem + ' ' + QByteArray::number(n) + ext;
        struct stat st;
        if (::lstat((trash + "/files/" + candidate).constData(), &st) == 0)
            continue;
        const QByteArray info = trash + "/info/" + candidate + ".trashinfo";
        const int fd = ::open(info.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            *error = errno;
            return false;
        }
        const ssize_t written = ::write(fd, body.constData(), size_t(body.size()));
        const int writeError = errno;
        ::close(fd);
        if (written != body.size()) {
            ::unlink(info.constData());
            *error = writeError;
            return false;
        }
        *entry = candidate;
        return true;
    }
    *error = EEXIST;
    return false;
}

bool moveInto(const QByteArray &trash, const QByteArray &path, const QByteArray &infoPath,
              QByteArray *trashedPath, int *error)
{
    if (!ensureTrash(trash)) {
        *error = errno;
        return false;
    }
    QByteArray entry;
    if (!reserveEntry(trash, FilePath::lastComponent(path), infoPath, &entry, error))
        return false;
    const QByteArray target = trash + "/files/" + entry;
    if (::rename(path.constData(), target.constData()) != 0) {
        *error = errno;
        ::unlink((trash + "/info/" + entry + ".trashinfo").constData());
        return false;
    }
    *trashedPath = target;
    return true;
}

} // namespace

namespace Trash {

QString homeTrashPath()
{
    return AppPaths::dataHome() + QStringLiteral("/Trash");
}

Result moveToTrash(const QUrl &fileUrl)
{
    Result result;
    result.url = fileUrl;
    const QByteArray raw = FilePath::bytes(fileUrl);
    if (raw.isEmpty() || !raw.startsWith('/')) {
        result.error = QStringLiteral("Not a local file");
        return result;
    }
    QByteArray path = FilePath::standardized(raw);
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) {
        result.error = errnoText(errno);
        return result;
    }
    if (path == "/") {
        result.error = QStringLiteral("The root folder cannot be moved to the trash");
        return result;
    }

    const QByteArray homeTrash = QFile::encodeName(homeTrashPath());
    QByteArray trashed;
    int error = 0;
    if (moveInto(homeTrash, path, path, &trashed, &error)) {
        result.ok = true;
        result.trashedUrl = FilePath::urlFromBytes(trashed);
        return result;
    }
    if (error == EXDEV) {
        // Another file system: use "$topdir/.Trash-$uid" there, with a path relative to topdir.
        const QByteArray top = mountPointOf(path, st.st_dev);
        const QByteArray volumeTrash = (top == "/" ? QByteArray() : top) + "/.Trash-" + QByteArray::number(::getuid());
        const QByteArray relative = top == "/" ? path.mid(1) : path.mid(top.size() + 1);
        if (moveInto(volumeTrash, path, relative, &trashed, &error)) {
            result.ok = true;
            result.trashedUrl = FilePath::urlFromBytes(trashed);
            return result;
        }
    }
    result.error = errnoText(error);
    return result;
}

QList<Result> moveToTrash(const QList<QUrl> &fileUrls)
{
    QList<Result> results;
    results.reserve(fileUrls.size());
    for (const QUrl &url : fileUrls)
        results.append(moveToTrash(url));
    return results;
}

} // namespace Trash
