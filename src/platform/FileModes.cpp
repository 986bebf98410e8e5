#include "platform/FileModes.h"

#include <cerrno>
#include <sys/stat.h>

namespace FileModes {

bool makePrivatePath(const QByteArray &path)
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
        if (!part.isEmpty()) {
            if (::mkdir(part.constData(), 0700) == 0)
                ::chmod(part.constData(), 0700); // a umask such as 0200 must not leave it 0500
            else if (errno != EEXIST)
                return false;
        }
        if (slash < 0)
            break;
        from = slash + 1;
    }
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool restrictToOwner(const QByteArray &path)
{
    struct stat st;
    if (path.isEmpty() || ::lstat(path.constData(), &st) != 0 || S_ISLNK(st.st_mode))
        return false;
    if ((st.st_mode & 077) == 0)
        return true;
    return ::chmod(path.constData(), st.st_mode & 07700) == 0;
}

} // namespace FileModes
