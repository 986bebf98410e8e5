#include "model/ShelfFolder.h"

#include "model/Shelf.h"
#include "platform/AppPaths.h"
#include "platform/FilePath.h"

#include <QFile>

#include <cerrno>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

QUrl shelfFolderURL(const QUuid &shelfId)
{
    const QByteArray path = ShelfFolder::shelvesRootBytes() + '/' + uuidString(shelfId).toLatin1();
    ShelfFolder::makePath(path);
    return FilePath::urlFromBytes(path + '/');
}

namespace ShelfFolder {

QByteArray shelvesRootBytes()
{
    const QByteArray root = QFile::encodeName(AppPaths::dataHome()) + "/Perchbox/Shelves";
    makePath(root);
    return root;
}

bool makePath(const QByteArray &path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode);
    // Create each missing component from the top down.
    qsizetype from = path.startsWith('/') ? 1 : 0;
    while (true) {
        const qsizetype slash = path.indexOf('/', from);
        const QByteArray part = slash < 0 ? path : path.left(slash);
        if (!part.isEmpty() && ::mkdir(part.constData(), 0755) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            break;
        from = slash + 1;
    }
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

static int removeEntry(const char *path, const struct stat *, int type, struct FTW *)
{
    if (type == FTW_DP)
        ::rmdir(path);
    else
        ::unlink(path);
    return 0; // keep going past failures
}

bool removeTree(const QByteArray &path)
{
    if (path.isEmpty())
        return true;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (S_ISDIR(st.st_mode))
        ::nftw(path.constData(), removeEntry, 32, FTW_DEPTH | FTW_PHYS);
    else
        ::unlink(path.constData());
    return ::lstat(path.constData(), &st) != 0 && errno == ENOENT;
}

} // namespace ShelfFolder
