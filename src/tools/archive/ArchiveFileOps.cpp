#include "tools/archive/ArchiveFileOps.h"

#include "platform/FilePath.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <dirent.h>

namespace ArchiveFileOps {

namespace {

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString displayName(const QByteArray &path)
{
    return QString::fromLocal8Bit(lastComponent(path));
}

QByteArray joinPath(const QByteArray &dir, const QByteArray &name)
{
    if (dir.endsWith('/'))
        return dir + name;
    return dir + '/' + name;
}

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    int release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Lists the names in a folder (without "." and ".."); false when it cannot be read.
bool listDirectory(const QByteArray &path, QList<QByteArray> *names)
{
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return false;
    while (dirent *entry = ::readdir(dir)) {
        const char *n = entry->d_name;
        if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0)
            continue;
        names->append(QByteArray(n));
    }
    ::closedir(dir);
    return true;
}

// Copies the bytes of an open file into another: a clone when the file system can share
// blocks, else copy_file_range, else plain reads and writes.
bool copyContents(int in, int out, QString *error)
{
    if (::ioctl(out, FICLONE, in) == 0)
        return true;
    bool useRange = true;
    char buffer[1 << 16];
    for (;;) {
        if (useRange) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return true;
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
                useRange = false;
                continue;
            }
            if (error)
                *error = errnoText(errno);
            return false;
        }
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (error)
                *error = errnoText(errno);
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                if (error)
                    *error = errnoText(errno);
                return false;
            }
            done += w;
        }
    }
}

// Copies a regular file to a new path (which must not exist).
bool copyRegularFile(const QByteArray &source, const QByteArray &target, const struct stat &st,
                     QString *error)
{
    Fd in(::open(source.constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        if (error)
            *error = errnoText(errno);
        return false;
    }
    Fd out(::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        if (error)
            *error = errnoText(errno);
        return false;
    }
    if (!copyContents(in.get(), out.get(), error)) {
        ::unlink(target.constData());
        return false;
    }
    ::fchmod(out.get(), st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
    if (::close(out.release()) != 0) {
        if (error)
            *error = errnoText(errno);
        ::unlink(target.constData());
        return false;
    }
    return true;
}

} // namespace

std::pair<QByteArray, QByteArray> splitExtension(const QByteArray &name)
{
    const qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0 || dot == name.size() - 1)
        return {name, {}};
    return {name.left(dot), name.mid(dot + 1)};
}

bool exists(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(path.constData(), &st) == 0;
}

bool isDirectory(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

qint64 countEntries(const QByteArray &path, const std::function<bool()> &stop)
{
    if (!isDirectory(path))
        return 1;
    qint64 count = 1;
    QList<QByteArray> pending{path};
    while (!pending.isEmpty()) {
        if (stop && stop())
            return count;
        const QByteArray dir = pending.takeLast();
        QList<QByteArray> names;
        if (!listDirectory(dir, &names))
            continue;
        for (const QByteArray &name : names) {
            ++count;
            const QByteArray child = joinPath(dir, name);
            struct stat st;
            if (::lstat(child.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                pending.append(child);
        }
    }
    return count;
}

bool stageCopy(const QByteArray &source, const QByteArray &target, QString *error,
               const std::function<bool()> &stop)
{
    if (stop && stop()) {
        if (error)
            *error = QStringLiteral("cancelled");
        return false;
    }
    struct stat st;
    if (::lstat(source.constData(), &st) != 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(displayName(source), errnoText(errno));
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        QByteArray link(static_cast<qsizetype>(st.st_size > 0 ? st.st_size + 1 : 4096), '\0');
        const ssize_t n = ::readlink(source.constData(), link.data(), static_cast<size_t>(link.size()));
        if (n < 0 || ::symlink(link.left(n).constData(), target.constData()) != 0) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(displayName(source), errnoText(errno));
            return false;
        }
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(target.constData(), 0700) != 0) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(displayName(source), errnoText(errno));
            return false;
        }
        QList<QByteArray> names;
        if (!listDirectory(source, &names)) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(displayName(source), errnoText(errno));
            return false;
        }
        for (const QByteArray &name : names)
            if (!stageCopy(joinPath(source, name), joinPath(target, name), error, stop))
                return false;
        ::chmod(target.constData(), (st.st_mode & 07777) | 0700);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, target.constData(), times, AT_SYMLINK_NOFOLLOW);
        return true;
    }
    if (S_ISREG(st.st_mode)) {
        if (::link(source.constData(), target.constData()) == 0)
            return true;
        QString why;
        if (!copyRegularFile(source, target, st, &why)) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(displayName(source), why);
            return false;
        }
        return true;
    }
    // Pipes, sockets and devices have no content to archive (and a pipe would stall zip).
    return true;
}

bool removeTree(const QByteArray &path)
{
    struct stat st;
    if (path.isEmpty() || ::lstat(path.constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.constData()) == 0;
    QList<QByteArray> names;
    if (!listDirectory(path, &names)) {
        // A folder we may not list (no read permission): make it ours again and retry once.
        ::chmod(path.constData(), 0700);
        listDirectory(path, &names);
    }
    for (const QByteArray &name : names) {
        const QByteArray child = joinPath(path, name);
        struct stat cst;
        if (::lstat(child.constData(), &cst) == 0 && S_ISDIR(cst.st_mode))
            ::chmod(child.constData(), (cst.st_mode & 07777) | 0700);
        removeTree(child);
    }
    return ::rmdir(path.constData()) == 0;
}

} // namespace ArchiveFileOps
