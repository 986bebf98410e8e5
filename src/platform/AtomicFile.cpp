#include "platform/AtomicFile.h"

#include "platform/FilePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace {

QMutex g_hookMutex;
AtomicFileFaults::Hook g_hook;

// The fault a test asked for at this step (0: none).
int injectedFault(AtomicFileFaults::Step step, qint64 *bytes = nullptr)
{
    QMutexLocker lock(&g_hookMutex);
    if (!g_hook)
        return 0;
    qint64 scratch = 0;
    return g_hook(step, bytes ? bytes : &scratch);
}

// Runs a system call unless a fault is injected for its step; retries on EINTR.
template <typename Call>
int checkedCall(AtomicFileFaults::Step step, Call call)
{
    if (const int fault = injectedFault(step)) {
        errno = fault;
        return -1;
    }
    int result;
    do
        result = call();
    while (result < 0 && errno == EINTR);
    return result;
}

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        qint64 chunk = left;
        if (const int fault = injectedFault(AtomicFileFaults::Step::write, &chunk)) {
            errno = fault;
            return false;
        }
        chunk = std::clamp<qint64>(chunk, 0, left);
        if (chunk == 0) { // the hook let nothing through: a full disk
            errno = ENOSPC;
            return false;
        }
        const ssize_t n = ::write(fd, p, size_t(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// The mode of the new file: what the old one had (only its owner's bits for owner-only
// files), 0600 for a new owner-only file; -1 leaves a new standard file to the umask.
mode_t wantedMode(const QByteArray &target, FileAccess access, bool *keepUmask)
{
    struct stat st;
    const bool exists = ::stat(target.constData(), &st) == 0 && S_ISREG(st.st_mode);
    *keepUmask = !exists && access == FileAccess::standard;
    if (!exists)
        return 0600;
    return access == FileAccess::ownerOnly ? (st.st_mode & 0600) : (st.st_mode & 07777);
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error, FileAccess access)
{
    using AtomicFileFaults::Step;
    // A symbolic link (settings kept in a dotfiles folder) stays a link: its target is replaced.
    const QByteArray target = FilePath::resolvedIfLink(QFile::encodeName(path));
    const QByteArray folder = parentOf(target);
    const QByteArray name = target.mid(target.lastIndexOf('/') + 1);
    const auto fail = [&](const char *what) {
        if (error)
            *error = QStringLiteral("%1 %2: %3")
                         .arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    if (name.isEmpty()) {
        errno = EISDIR;
        return fail("Cannot write");
    }

    bool keepUmask = false;
    const mode_t mode = wantedMode(target, access, &keepUmask);
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = folder + '/' + '.' + name + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16)
               + QByteArrayLiteral(".tmp");
        fd = checkedCall(Step::create, [&] {
            return ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, keepUmask ? 0666 : 0600);
        });
        if (fd < 0 && errno != EEXIST)
            return fail("Cannot create a file beside");
    }
    if (fd < 0)
        return fail("Cannot create a file beside");

    const auto abandon = [&](const char *what) {
        const int saved = errno;
        if (fd >= 0)
            ::close(fd);
        ::unlink(temp.constData());
        errno = saved;
        return fail(what);
    };
    if (!keepUmask && ::fchmod(fd, mode) != 0)
        return abandon("Cannot set the permissions of");
    if (!writeAll(fd, data))
        return abandon("Cannot write");
    if (checkedCall(Step::syncFile, [&] { return ::fsync(fd); }) != 0)
        return abandon("Cannot save to disk");
    // A failed close may report a delayed write error; the descriptor is gone either way.
    const int closeFault = injectedFault(Step::close);
    const int closed = ::close(std::exchange(fd, -1));
    if (closeFault != 0 || closed != 0) {
        errno = closeFault != 0 ? closeFault : (errno == EINTR ? EIO : errno);
        return abandon("Cannot write");
    }
    if (checkedCall(Step::rename, [&] { return ::rename(temp.constData(), target.constData()); }) != 0)
        return abandon("Cannot replace");

    // The new name must reach the disk too, or a power cut could bring the old file back.
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return fail("Cannot save to disk the folder of");
    const int synced = checkedCall(Step::syncFolder, [&] { return ::fsync(dir); });
    const int saved = errno;
    ::close(dir);
    errno = saved;
    // Some file systems cannot sync a folder at all; that is not a failed write.
    if (synced != 0 && errno != EINVAL && errno != ENOTSUP)
        return fail("Cannot save to disk the folder of");
    return true;
}

bool readWholeFile(const QString &path, QByteArray *data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *data = file.readAll();
    return file.error() == QFile::NoError;
}

namespace AtomicFileFaults {

void setHook(Hook hook)
{
    QMutexLocker lock(&g_hookMutex);
    g_hook = std::move(hook);
}

} // namespace AtomicFileFaults

void removeLeftoverTemporaries(const QString &path)
{
    const QFileInfo target(path);
    const QString prefix = QLatin1Char('.') + target.fileName() + QLatin1Char('.');
    const QDir folder = target.absoluteDir();
    const QStringList candidates = folder.entryList({prefix + QStringLiteral("*.tmp")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : candidates) {
        // Exactly ".<name>.<hex>.tmp", as written above.
        const QStringView middle = QStringView(name).mid(prefix.size(), name.size() - prefix.size() - 4);
        const bool ours = !middle.isEmpty() && middle.size() <= 8
                          && std::all_of(middle.begin(), middle.end(), [](QChar c) {
                                 return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                                        || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
                             });
        if (ours)
            QFile::remove(folder.filePath(name));
    }
}
