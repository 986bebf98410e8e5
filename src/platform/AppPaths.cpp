#include "platform/AppPaths.h"

#include "platform/FileModes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString xdgDir(const char *variable, const char *fallbackBelowHome)
{
    const QByteArray value = qgetenv(variable);
    // The XDG spec says relative values are invalid and must be ignored.
    if (!value.isEmpty() && value.startsWith('/'))
        return QDir::cleanPath(QFile::decodeName(value));
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallbackBelowHome);
}

// Our own folders are private: created 0700, and one left readable by others (an older
// version, a lax umask) loses the group's and others' bits.
QString ensured(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    FileModes::makePrivatePath(bytes);
    FileModes::restrictToOwner(bytes);
    return path;
}

} // namespace

namespace AppPaths {

QString dataHome() { return xdgDir("XDG_DATA_HOME", ".local/share"); }
QString configHome() { return xdgDir("XDG_CONFIG_HOME", ".config"); }
QString cacheHome() { return xdgDir("XDG_CACHE_HOME", ".cache"); }

QString appDataDir() { return ensured(dataHome() + QStringLiteral("/Perchbox")); }
QString shelvesDir() { return ensured(appDataDir() + QStringLiteral("/Shelves")); }
QString configDir() { return ensured(configHome() + QStringLiteral("/Perchbox")); }

QString executableFolder()
{
    const QString target = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
}

QStringList installedDataDirs()
{
    QStringList dirs;
    const QString exe = executableFolder();
    if (!exe.isEmpty())
        dirs << QDir::cleanPath(exe + QStringLiteral("/../share/perchbox"));
    dirs << QStringLiteral(PERCHBOX_DATA_DIR);
    dirs.removeDuplicates();
    QStringList existing;
    for (const QString &dir : dirs)
        if (QFileInfo(dir).isDir())
            existing << dir;
    return existing;
}

} // namespace AppPaths
