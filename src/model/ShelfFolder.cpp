#include "model/ShelfFolder.h"

#include "model/Shelf.h"
#include "platform/AppPaths.h"
#include "platform/FileModes.h"
#include "platform/FilePath.h"

#include <QFile>

#include <cerrno>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

QUrl shelfFolderURL(const QUuid &shelfId)
{
    const QByteArray path = ShelfFolder::folderBytes(shelfId);
    FileModes::makePrivatePath(path);
    return FilePath::urlFromBytes(path + '/');
}

namespace ShelfFolder {

QByteArray shelvesRootBytes()
{
    const QByteArray root = QFile::encodeName(AppPaths::appDataDir()) + "/Shelves";
    FileModes::makePrivatePath(root);
    return root;
}

QByteArray folderBytes(const QUuid &shelfId)
{
    return shelvesRootBytes() + '/' + uuidString(shelfId).toLatin1();
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
