#include "tools/flatten/FileOps.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileOps {

namespace {

// RAII for a file descriptor.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

int copyData(int in, int out, off_t size, const StopRequest &stop)
{
    off_t copied = 0;
    bool useRange = true;
    bool useSendfile = true;
    while (copied < size) {
        if (stop && stop())
            return ECANCELED;
        // Chunks small enough that a stop request is seen within a moment.
        const size_t chunk = size_t(std::min<off_t>(size - copied, off_t(16) << 20));
        ssize_t n = -1;
        if (useRange) {
            n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS
                          || errno == EOPNOTSUPP || errno == EPERM)) {
                useRange = false;
                continue;
            }
        } else if (useSendfile) {
            n = ::sendfile(out, in, nullptr, chunk);
            if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
                useSendfile = false;
                continue;
            }
        } else {
            // Made only where plain reads are needed: a buffer in static thread storage
            // would be set up, zeroed, in every thread the program starts.
            constexpr size_t kBuffer = 1 << 17;
            static thread_local std::unique_ptr<char[]> buffer;
            if (!buffer)
                buffer = std::make_unique_for_overwrite<char[]>(kBuffer);
            n = ::read(in, buffer.get(), std::min(chunk, kBuffer));
            if (n > 0) {
                ssize_t written = 0;
                while (written < n) {
                    const ssize_t w = ::write(out, buffer.get() + written, size_t(n - written));
                    if (w < 0) {
                        if (errno == EINTR)
                            continue;
                        return errno;
                    }
                    written += w;
                }
            }
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break; // the file shrank while we copied it
        copied += n;
    }
    // A file that grew while being copied: take the rest with plain reads.
    char tail[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, tail, sizeof tail);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;
        ssize_t written = 0;
        while (written < n) {
            const ssize_t w = ::write(out, tail + written, size_t(n - written));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            written += w;
        }
    }
    return 0;
}

int copySymlink(const QByteArray &from, const QByteArray &to, off_t size)
{
    QByteArray target(qMax<qsizetype>(size + 1, 256), '\0');
    for (;;) {
        const ssize_t n = ::readlink(from.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return errno;
        if (n < target.size()) {
            target.truncate(n);
            break;
        }
        target.resize(target.size() * 2);
    }
    if (::symlink(target.constData(), to.constData()) != 0)
        return errno;
    return 0;
}

// Copies a regular file into the already-open, empty `outFd`.
int copyIntoFd(const QByteArray &from, int outFd, const StopRequest &stop)
{
    // Non-blocking, so that a pipe put in the file's place is refused instead of waited on.
    Fd in(::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (in.fd < 0)
        return errno;
    struct stat st;
    if (::fstat(in.fd, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : EOPNOTSUPP;
    ::fcntl(in.fd, F_SETFL, ::fcntl(in.fd, F_GETFL) & ~O_NONBLOCK);
    if (const int err = copyData(in.fd, outFd, st.st_size, stop))
        return err;
    struct stat out;
    if (::fstat(outFd, &out) != 0)
        return errno;
    struct stat after;
    if (::fstat(in.fd, &after) != 0)
        return errno;
    if (out.st_size != after.st_size)
        return EIO; // the copy does not hold what the original holds
    ::fchmod(outFd, st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(outFd, times);
    return 0;
}

QByteArray temporarySibling(const QByteArray &target)
{
    static std::atomic<unsigned> counter{0};
    const QByteArray dir = parentPath(target);
    const QByteArray name = ".perchbox-" + QByteArray::number(qint64(::getpid())) + "-"
                            + QByteArray::number(counter.fetch_add(1)) + ".tmp";
    return dir == "/" ? "/" + name : dir + "/" + name;
}

// Copies the regular file `from` to the new file `to` (O_EXCL); with `sync` the copy is on
// the disk before this returns. A partial copy is removed.
int copyRegularExclusive(const QByteArray &from, const QByteArray &to, bool sync, const StopRequest &stop)
{
    Fd out(::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.fd < 0)
        return errno;
    int err = copyIntoFd(from, out.fd, stop);
    if (!err && sync && ::fsync(out.fd) != 0)
        err = errno;
    if (!err && ::close(out.fd) != 0)
        err = errno;
    out.fd = -1;
    if (err)
        ::unlink(to.constData()); // we created it: remove the partial copy
    return err;
}

// Puts a copy of the file or link `from` beside `target` under a hidden temporary name,
// on the disk before this returns; `*temp` is that name.
int copyBesideSynced(const QByteArray &from, const QByteArray &target, QByteArray *temp, const StopRequest &stop)
{
    struct stat st;
    if (::lstat(from.constData(), &st) != 0)
        return errno;
    *temp = temporarySibling(target);
    if (S_ISLNK(st.st_mode))
        return copySymlink(from, *temp, st.st_size);
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return EOPNOTSUPP;
    return copyRegularExclusive(from, *temp, true, stop);
}

// Drops the name `from` once `to` holds the file; when that fails, `to` goes again so that
// exactly one copy is left: the original.
int dropSource(const QByteArray &from, const QByteArray &to)
{
    if (::unlink(from.constData()) == 0)
        return 0;
    const int err = errno;
    ::unlink(to.constData());
    return err;
}

// renameNoReplace where the file system has no renameat2: see the header.
int renameWithoutRenameAt2(const QByteArray &from, const QByteArray &to, const StopRequest &stop)
{
    struct stat st;
    if (::lstat(from.constData(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode)) {
        // Claim the name with an empty folder of our own, which rename() may then replace.
        if (::mkdir(to.constData(), 0700) != 0)
            return errno;
        if (::rename(from.constData(), to.constData()) == 0)
            return 0;
        const int err = errno;
        ::rmdir(to.constData());
        return err;
    }
    if (S_ISLNK(st.st_mode)) {
        if (const int err = copySymlink(from, to, st.st_size))
            return err;
        return dropSource(from, to);
    }
    if (!S_ISREG(st.st_mode))
        return EOPNOTSUPP;
    if (::link(from.constData(), to.constData()) == 0)
        return dropSource(from, to);
    const int linkErr = errno;
    // Only a file system without hard links (or out of them) gets a copy; anything else
    // (the name is taken, no permission, another file system) is the answer.
    if (linkErr != EPERM && linkErr != EOPNOTSUPP && linkErr != ENOSYS && linkErr != EMLINK)
        return linkErr;
    if (const int err = copyRegularExclusive(from, to, true, stop))
        return err;
    return dropSource(from, to);
}

int renameNoReplaceStoppable(const QByteArray &from, const QByteArray &to, const StopRequest &stop)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
        return err;
    // EINVAL also answers a folder moved into itself; the fallback's own rename says so again.
    return renameWithoutRenameAt2(from, to, stop);
}

} // namespace


QString errorDescription(int err)
{
    char buffer[256];
    // GNU strerror_r returns a pointer that may or may not be `buffer`.
    const char *text = ::strerror_r(err, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    return renameNoReplaceStoppable(from, to, {});
}

int copyNew(const QByteArray &from, const QByteArray &to, const StopRequest &stop)
{
    struct stat st;
    if (::lstat(from.constData(), &st) != 0)
        return errno;
    if (S_ISLNK(st.st_mode))
        return copySymlink(from, to, st.st_size);
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return EOPNOTSUPP;
    return copyRegularExclusive(from, to, false, stop);
}

int moveNew(const QByteArray &from, const QByteArray &to, const StopRequest &stop)
{
    const int err = renameNoReplaceStoppable(from, to, stop);
    if (err != EXDEV)
        return err;
    QByteArray temp;
    if (const int copyErr = copyBesideSynced(from, to, &temp, stop))
        return copyErr;
    if (const int nameErr = renameNoReplaceStoppable(temp, to, stop)) {
        ::unlink(temp.constData());
        return nameErr;
    }
    return dropSource(from, to);
}

int moveReplacing(const QByteArray &from, const QByteArray &to, const StopRequest &stop)
{
    if (::rename(from.constData(), to.constData()) == 0)
        return 0;
    if (errno != EXDEV)
        return errno;
    QByteArray temp;
    if (const int err = copyBesideSynced(from, to, &temp, stop))
        return err;
    if (::rename(temp.constData(), to.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return err;
    }
    if (::unlink(from.constData()) != 0)
        return errno; // `to` holds the new content; the source could not be removed
    return 0;
}

int replaceExisting(const QByteArray &source, const QByteArray &target, bool consumeSource,
                    const StopRequest &stop)
{
    struct stat targetSt;
    if (::lstat(target.constData(), &targetSt) != 0)
        return errno;
    if (S_ISDIR(targetSt.st_mode))
        return EISDIR;
    if (consumeSource)
        return moveReplacing(source, target, stop);
    QByteArray temp;
    if (const int err = copyBesideSynced(source, target, &temp, stop))
        return err;
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return err;
    }
    return 0;
}

int makePath(const QByteArray &path)
{
    if (path.isEmpty())
        return ENOENT;
    struct stat st;
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const QByteArray parent = parentPath(path);
    if (parent != path && !parent.isEmpty())
        if (const int err = makePath(parent))
            return err;
    if (::mkdir(path.constData(), 0777) != 0 && errno != EEXIST)
        return errno;
    if (::stat(path.constData(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

QString decodeName(const QByteArray &name)
{
    QString out;
    out.reserve(name.size());
    const auto *s = reinterpret_cast<const unsigned char *>(name.constData());
    const qsizetype n = name.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            out.append(QChar(c));
            ++i;
            continue;
        }
        int len = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
            minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
            minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
            minimum = 0x10000;
        }
        bool valid = len > 0 && i + len <= n;
        for (int k = 1; valid && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        valid = valid && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            out.append(QChar(char16_t(0xDC00 + c))); // escape this one byte
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.append(QChar(char16_t(0xD800 + ((cp - 0x10000) >> 10))));
            out.append(QChar(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF))));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        i += len;
    }
    return out;
}

bool isEscapedByte(const QString &text, qsizetype index)
{
    const char16_t u = text.at(index).unicode();
    if (u < 0xDC80 || u > 0xDCFF)
        return false;
    return index == 0 || !text.at(index - 1).isHighSurrogate();
}

QByteArray encodeName(const QString &name)
{
    QByteArray out;
    out.reserve(name.size());
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = name.at(i).unicode();
        char32_t cp = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const char16_t low = name.at(i + 1).unicode();
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.append(char(u - 0xDC00)); // an escaped byte
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD; // any other lone surrogate
        if (cp < 0x80) {
            out.append(char(cp));
        } else if (cp < 0x800) {
            out.append(char(0xC0 | (cp >> 6)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(char(0xE0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else {
            out.append(char(0xF0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3F)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace FileOps
