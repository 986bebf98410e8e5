#include "input/screenshots/ScreenshotFolder.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStandardPaths>
#include <QUrl>

#include <libintl.h>

namespace {

bool isFolder(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

QStringList currentDesktops()
{
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP").toUpper().split(u':', Qt::SkipEmptyParts);
}

// KConfig's "$HOME" / "${HOME}" expansion in entries marked [$e].
QString expandHome(QString value, const QString &home)
{
    value.replace(QStringLiteral("${HOME}"), home);
    if (value.startsWith(QStringLiteral("$HOME")))
        value.replace(0, 5, home);
    return value;
}

} // namespace

namespace ScreenshotFolder {

QString gnomeScreenshotsName()
{
    // GNOME Shell names the folder with its own translation of "Screenshots".
    const char *name = ::dgettext("gnome-shell", "Screenshots");
    const QString translated = QString::fromUtf8(name).trimmed();
    if (translated.isEmpty() || translated.contains(u'/') || translated == u"." || translated == u"..")
        return QStringLiteral("Screenshots");
    return translated;
}

QString spectacleFolder(const QByteArray &spectaclerc, const QString &home)
{
    // Newer Spectacle: [ImageSave] imageSaveLocation; older: [General] default-save-location.
    QString group;
    QString found;
    for (QByteArray raw : spectaclerc.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'[')) {
            group = line;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        QString key = line.left(eq).trimmed();
        const bool expand = key.endsWith(QStringLiteral("[$e]"));
        if (expand)
            key.chop(4);
        const bool wanted = (group == u"[ImageSave]" && key == u"imageSaveLocation")
                            || (group == u"[General]" && key == u"default-save-location" && found.isEmpty());
        if (!wanted)
            continue;
        QString value = line.mid(eq + 1).trimmed();
        if (expand)
            value = expandHome(value, home);
        const QUrl url(value);
        found = url.isLocalFile() ? url.toLocalFile() : (value.startsWith(u'/') ? value : QString());
        if (group == u"[ImageSave]" && !found.isEmpty())
            break;
    }
    while (found.size() > 1 && found.endsWith(u'/'))
        found.chop(1);
    return found;
}

Detected detect()
{
    const QString home = QDir::homePath();
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QStringList desktops = currentDesktops();
    const bool kde = desktops.contains(QStringLiteral("KDE"));
    const bool gnome = desktops.contains(QStringLiteral("GNOME")) || desktops.contains(QStringLiteral("UNITY"))
                       || desktops.contains(QStringLiteral("UBUNTU")) || desktops.contains(QStringLiteral("BUDGIE"));

    const QString gnomeFolder = pictures.isEmpty() ? QString() : pictures + u'/' + gnomeScreenshotsName();
    const QString englishFolder = pictures.isEmpty() ? QString() : pictures + QStringLiteral("/Screenshots");
    QFile rc(AppPaths::configHome() + QStringLiteral("/spectaclerc"));
    const QString spectacle = rc.open(QIODevice::ReadOnly) ? spectacleFolder(rc.read(1 << 20), home) : QString();

    QList<Detected> candidates;
    const QList<Detected> gnomeCandidates = {{gnomeFolder, Source::gnome}, {englishFolder, Source::gnome}};
    if (kde)
        candidates = QList<Detected>{{spectacle, Source::spectacle}} + gnomeCandidates;
    else
        candidates = gnomeCandidates + QList<Detected>{{spectacle, Source::spectacle}};
    for (const Detected &candidate : std::as_const(candidates))
        if (isFolder(candidate.path))
            return candidate;
    // The desktop's own folder, even before it exists: it appears with the first screenshot.
    if (gnome && !gnomeFolder.isEmpty())
        return {gnomeFolder, Source::gnome};
    if (kde && !spectacle.isEmpty())
        return {spectacle, Source::spectacle};
    if (isFolder(pictures))
        return {pictures, Source::pictures};
    return {desktop.isEmpty() ? home + QStringLiteral("/Desktop") : desktop, Source::desktop};
}

QString sourceDescription(Source source)
{
    switch (source) {
    case Source::gnome:
        return QStringLiteral("where GNOME saves screenshots");
    case Source::spectacle:
        return QStringLiteral("where Spectacle saves screenshots");
    case Source::pictures:
        return QStringLiteral("your Pictures folder");
    case Source::desktop:
        return QStringLiteral("your Desktop folder");
    }
    return {};
}

} // namespace ScreenshotFolder
