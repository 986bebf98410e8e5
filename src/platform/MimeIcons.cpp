#include "platform/MimeIcons.h"

#include "platform/Icons.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

namespace {

// Makes sure file-type icons can be found at all.
void ensureThemeFallback()
{
    static const bool done = [] {
        // Platforms without a desktop theme (offscreen, some Wayland sessions) look only in
        // Qt's resources: add the desktop's icon folders.
        QStringList searchPaths = QIcon::themeSearchPaths();
        const QStringList dataDirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
        bool added = false;
        for (const QString &dir : dataDirs) {
            const QString icons = dir + QStringLiteral("/icons");
            if (!searchPaths.contains(icons) && QFileInfo(icons).isDir()) {
                searchPaths.append(icons);
                added = true;
            }
        }
        if (added)
            QIcon::setThemeSearchPaths(searchPaths);
        // Without any theme Qt looks nowhere (not even in the fallback); "hicolor" is the base
        // every theme inherits.
        if (QIcon::themeName().isEmpty())
            QIcon::setThemeName(QStringLiteral("hicolor"));
        // The fallback is asked only for what the theme (and the themes it inherits) lacks.
        const QString fallback = QIcon::fallbackThemeName();
        if (!fallback.isEmpty() && fallback != QLatin1String("hicolor"))
            return true;
        for (const QString &theme : {QStringLiteral("Adwaita"), QStringLiteral("breeze"), QStringLiteral("gnome")}) {
            for (const QString &base : searchPaths) {
                if (QFileInfo::exists(base + QLatin1Char('/') + theme + QStringLiteral("/index.theme"))) {
                    QIcon::setFallbackThemeName(theme);
                    return true;
                }
            }
        }
        return true;
    }();
    (void)done;
}

QIcon themeIcon(const QString &name)
{
    return name.isEmpty() ? QIcon() : QIcon::fromTheme(name);
}

} // namespace

QIcon iconForMimeType(const QMimeType &type)
{
    ensureThemeFallback();
    static QHash<QString, QIcon> cache;
    const QString key = type.name();
    const auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    QIcon icon;
    for (const QString &name : {type.iconName(), type.genericIconName(),
                                type.iconName() + QStringLiteral("-symbolic"),
                                type.genericIconName() + QStringLiteral("-symbolic")}) {
        icon = themeIcon(name);
        if (!icon.isNull())
            break;
    }
    if (icon.isNull())
        icon = symbolIcon(QStringLiteral("doc"));
    cache.insert(key, icon);
    return icon;
}

QIcon folderIcon()
{
    ensureThemeFallback();
    static const QIcon folder = [] {
        QIcon icon = QIcon::fromTheme(QStringLiteral("folder"));
        if (icon.isNull())
            icon = QIcon::fromTheme(QStringLiteral("folder-symbolic"));
        return icon.isNull() ? symbolIcon(QStringLiteral("folder")) : icon;
    }();
    return folder;
}
