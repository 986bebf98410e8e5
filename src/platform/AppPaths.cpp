#include "platform/AppPaths.h"

#include <QDir>

namespace {

QString xdgDir(const char *variable, const char *fallbackBelowHome)
{
    const QByteArray value = qgetenv(variable);
    // The XDG spec says relative values are invalid and must be ignored.
    if (!value.isEmpty() && value.startsWith('/'))
        return QDir::cleanPath(QFile::decodeName(value));
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallbackBelowHome);
}

QString ensured(const QString &path)
{
    QDir().mkpath(path);
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

} // namespace AppPaths
