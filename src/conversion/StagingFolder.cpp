#include "conversion/StagingFolder.h"

#include "model/ShelfFolder.h"
#include "platform/AppPaths.h"
#include "platform/FileModes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QMutex g_mutex;
QHash<QString, int> g_claims; // folder → descriptor of its locked claim file

QString root()
{
    return AppPaths::appDataDir() + QStringLiteral("/ConversionTemp");
}

QByteArray claimPath(const QString &folder)
{
    return QFile::encodeName(folder) + ".lock";
}

// Opens and locks a claim file; -1 when another process holds it (or it cannot be opened).
int claim(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

namespace StagingFolder {

QString create()
{
    const QString base = root();
    if (!FileModes::makePrivatePath(QFile::encodeName(base)))
        return {};
    const QString folder = base + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // The claim first: a clean-up running meanwhile never sees the folder unclaimed.
    const int fd = claim(claimPath(folder));
    if (fd < 0)
        return {};
    if (!FileModes::makePrivatePath(QFile::encodeName(folder))) {
        ::unlink(claimPath(folder).constData());
        ::close(fd);
        return {};
    }
    QMutexLocker lock(&g_mutex);
    g_claims.insert(folder, fd);
    return folder;
}

void remove(const QString &folder)
{
    if (folder.isEmpty())
        return;
    ShelfFolder::removeTree(QFile::encodeName(folder));
    QMutexLocker lock(&g_mutex);
    const auto it = g_claims.find(folder);
    if (it == g_claims.end())
        return;
    ::unlink(claimPath(folder).constData());
    ::close(*it);
    g_claims.erase(it);
}

int removeLeftovers()
{
    const QDir dir(root());
    int removed = 0;
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        const QString folder = dir.filePath(name);
        {
            QMutexLocker lock(&g_mutex);
            if (g_claims.contains(folder))
                continue; // ours, running
        }
        const int fd = claim(claimPath(folder));
        if (fd < 0)
            continue; // another process's running job
        ShelfFolder::removeTree(QFile::encodeName(folder));
        ::unlink(claimPath(folder).constData());
        ::close(fd);
        ++removed;
    }
    // Claim files whose folder is gone, unless someone still holds them.
    for (const QString &name : dir.entryList({QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden)) {
        const QString folder = dir.filePath(name.chopped(5));
        if (QFileInfo::exists(folder))
            continue;
        const int fd = claim(claimPath(folder));
        if (fd < 0)
            continue;
        ::unlink(claimPath(folder).constData());
        ::close(fd);
    }
    return removed;
}

} // namespace StagingFolder
