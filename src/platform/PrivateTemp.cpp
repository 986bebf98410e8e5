#include "platform/PrivateTemp.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray temporaryFolder()
{
    QByteArray temp = QFile::encodeName(QDir::tempPath());
    while (temp.size() > 1 && temp.endsWith('/'))
        temp.chop(1);
    return temp;
}

void removeTree(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        ::chmod(path.constData(), (st.st_mode & 07777) | 0700); // a folder we may not list
        if (DIR *dir = ::opendir(path.constData())) {
            QList<QByteArray> names;
            while (const dirent *entry = ::readdir(dir))
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    names.append(QByteArray(entry->d_name));
            ::closedir(dir);
            for (const QByteArray &name : names)
                removeTree(path + '/' + name);
        }
        ::rmdir(path.constData());
    } else {
        ::unlink(path.constData());
    }
}

// "<prefix>-<pid>-XXXXXX" of a process that is gone.
bool isStale(const QByteArray &name)
{
    const QList<QByteArray> parts = name.split('-');
    if (parts.size() < 3)
        return false;
    bool ok = false;
    const qint64 pid = parts.at(parts.size() - 2).toLongLong(&ok);
    if (!ok || pid <= 0 || pid == ::getpid())
        return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

void removeStaleRuns(const QByteArray &root)
{
    DIR *dir = ::opendir(root.constData());
    if (!dir)
        return;
    QList<QByteArray> stale;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != ".." && isStale(name))
            stale.append(name);
    }
    ::closedir(dir);
    for (const QByteArray &name : stale)
        removeTree(root + '/' + name);
}

QByteArray rootPath()
{
    return temporaryFolder() + "/perchbox-" + QByteArray::number(qulonglong(::getuid()));
}

} // namespace

namespace PrivateTemp {

QByteArray root()
{
    const QByteArray path = rootPath();
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return {}; // a link, a file, or someone else's folder: not ours to use
    if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return {};
    return path;
}

QByteArray makeRunFolder(const QByteArray &prefix)
{
    const QByteArray name = prefix + '-' + QByteArray::number(qint64(::getpid())) + "-XXXXXX";
    // The shared root may vanish between making it and using it (another run removing it
    // when it looked empty): try again once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QByteArray shared = root();
        if (shared.isEmpty())
            break;
        if (attempt == 0)
            removeStaleRuns(shared);
        QByteArray folder = shared + '/' + name;
        if (::mkdtemp(folder.data()))
            return folder;
    }
    QByteArray folder = temporaryFolder() + "/perchbox-" + name;
    if (::mkdtemp(folder.data()))
        return folder;
    return {};
}

void removeRunFolder(const QByteArray &folder)
{
    if (folder.isEmpty())
        return;
    removeTree(folder);
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash > 0 && folder.left(slash) == rootPath())
        ::rmdir(folder.left(slash).constData()); // only when empty
}

} // namespace PrivateTemp
