#include "platform/SendToIntegration.h"

#include "platform/AppBus.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/GeneratedFiles.h"
#include "platform/PresetFileManagerEntries.h"
#include "platform/ThunarActions.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

using GeneratedFiles::marker;
using GeneratedFiles::readExisting;
using GeneratedFiles::removeIfOurs;
using GeneratedFiles::shellQuote;
using GeneratedFiles::writeFile;
using GeneratedFiles::writeIfChanged;

QString nautilusScriptPath() { return AppPaths::dataHome() + QStringLiteral("/nautilus/scripts/Send to Perchbox"); }
QString dolphin6Path() { return AppPaths::dataHome() + QStringLiteral("/kio/servicemenus/perchbox-send.desktop"); }
QString dolphin5Path() { return AppPaths::dataHome() + QStringLiteral("/kservices5/ServiceMenus/perchbox-send.desktop"); }
QString nemoPath() { return AppPaths::dataHome() + QStringLiteral("/nemo/actions/perchbox-send.nemo_action"); }
QString desktopEntryPath() { return AppPaths::dataHome() + QStringLiteral("/applications/perchbox.desktop"); }

QByteArray nautilusScript(const QString &executable)
{
    // Nautilus runs scripts in the folder shown, with the selected names as arguments.
    return "#!/bin/sh\n# " + marker + "\n# Puts the selected files on a Perchbox shelf.\nexec "
        + shellQuote(executable).toUtf8() + " --send \"$@\"\n";
}

QByteArray dolphinMenu(const QString &executable)
{
    return "[Desktop Entry]\n"
           "Type=Service\n"
           "MimeType=all/all;\n"
           "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
           "Actions=sendToPerchbox;\n"
           + marker + "\n\n"
           "[Desktop Action sendToPerchbox]\n"
           "Name=Send to Perchbox\n"
           "Icon=" + AppBus::appId.toUtf8() + "\n"
           "Exec=" + SendToIntegration::quoteExecArgument(executable).toUtf8() + " --send %F\n";
}

QByteArray nemoAction(const QString &executable)
{
    return "[Nemo Action]\n"
           "Name=Send to Perchbox\n"
           "Comment=Put the selected files on a Perchbox shelf\n"
           "Exec=" + SendToIntegration::quoteExecArgument(executable).toUtf8() + " --send %F\n"
           "Icon-Name=" + AppBus::appId.toUtf8() + "\n"
           "Selection=notnone\n"
           "Extensions=any;\n"
           + marker + "\n";
}

// The launcher of a Perchbox that is not installed (run from its build folder). Without files
// it starts Perchbox; with files it sends them. It lists no MIME types, so it never becomes
// what opens a folder or a file.
QByteArray desktopEntry(const QString &executable)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Perchbox\n"
           "GenericName=File Shelves\n"
           "Comment=Floating shelves for the files you are working with\n"
           "Icon=" + AppBus::appId.toUtf8() + "\n"
           "Exec=" + SendToIntegration::quoteExecArgument(executable).toUtf8() + " --send %F\n"
           "Terminal=false\n"
           "Categories=Utility;FileTools;\n"
           "StartupNotify=false\n"
           + marker + "\n";
}

// Writes our per-user copy of an entry, unless the installed program has a system-wide one:
// then a copy of ours is removed.
bool writeUnlessInstalled(const QString &path, const QByteArray &content, bool executable, const QString &systemPath,
                          QStringList *errors)
{
    if (!SendToIntegration::findSystemFile(systemPath).isEmpty())
        return removeIfOurs(path, errors);
    return writeIfChanged(path, content, executable, errors);
}

QByteArray thunarAction(const QString &executable)
{
    return ThunarActions::actionElement(QStringLiteral("Send to Perchbox"), QString(), SendToIntegration::thunarActionId,
                                        SendToIntegration::quoteExecArgument(executable) + QStringLiteral(" --send %F"),
                                        QStringLiteral("Put the selected files on a Perchbox shelf"));
}

// The system's default Thunar actions, which a new user file starts from (Thunar reads only
// the user's file once it exists).
QByteArray systemThunarActions()
{
    QStringList dirs = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_DIRS")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (dirs.isEmpty())
        dirs = {QStringLiteral("/etc/xdg")};
    for (const QString &dir : dirs) {
        QByteArray data;
        if (readWholeFile(dir + QStringLiteral("/Thunar/uca.xml"), &data))
            return data;
    }
    return {};
}

} // namespace

namespace SendToIntegration {

QString quoteExecArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=%");
    bool needsQuotes = argument.isEmpty();
    for (QChar c : argument)
        if (reserved.contains(c))
            needsQuotes = true;
    QString out;
    for (QChar c : argument) {
        if (c == QLatin1Char('%'))
            out += QLatin1String("%%");
        else if (needsQuotes && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\')))
            out += QLatin1Char('\\') + c;
        else
            out += c;
    }
    return needsQuotes ? QLatin1Char('"') + out + QLatin1Char('"') : out;
}

QString systemLauncherPath() { return QStringLiteral("applications/") + AppBus::appId + QStringLiteral(".desktop"); }
QString systemDolphinMenuPath() { return QStringLiteral("kio/servicemenus/") + AppBus::appId + QStringLiteral(".send.desktop"); }
QString systemNemoActionPath() { return QStringLiteral("nemo/actions/") + AppBus::appId + QStringLiteral(".send.nemo_action"); }

QString findSystemFile(const QString &relativePath)
{
    QByteArray dirs = qgetenv("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = "/usr/local/share:/usr/share";
    for (const QByteArray &dir : dirs.split(':')) {
        if (dir.isEmpty())
            continue;
        const QString path = QFile::decodeName(dir) + QLatin1Char('/') + relativePath;
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

QString thunarActionsPath()
{
    return AppPaths::configHome() + QStringLiteral("/Thunar/uca.xml");
}

QStringList entryPaths()
{
    return {nautilusScriptPath(), dolphin6Path(), dolphin5Path(), nemoPath(), desktopEntryPath(), thunarActionsPath()};
}

bool mergeThunarActions(const QByteArray &existing, const QString &executable, QByteArray *result)
{
    return ThunarActions::replaceOurs(
        existing, [](const QString &id) { return id == thunarActionId; },
        executable.isEmpty() ? QByteArray() : thunarAction(executable), result);
}

bool install(const QString &executable, QStringList *errors)
{
    bool ok = writeIfChanged(nautilusScriptPath(), nautilusScript(executable), true, errors);
    // KF6 runs only per-user service menus that are executable.
    ok &= writeUnlessInstalled(dolphin6Path(), dolphinMenu(executable), true, systemDolphinMenuPath(), errors);
    ok &= writeUnlessInstalled(dolphin5Path(), dolphinMenu(executable), false, systemDolphinMenuPath(), errors);
    ok &= writeUnlessInstalled(nemoPath(), nemoAction(executable), false, systemNemoActionPath(), errors);
    ok &= writeUnlessInstalled(desktopEntryPath(), desktopEntry(executable), false, systemLauncherPath(), errors);

    const QString thunar = thunarActionsPath();
    QByteArray existing;
    bool exists = false;
    if (!readExisting(thunar, &existing, &exists, errors))
        return false;
    if (!exists)
        existing = systemThunarActions();
    QByteArray merged;
    if (!mergeThunarActions(existing, executable, &merged)) {
        if (errors)
            errors->append(QStringLiteral("%1: not a Thunar actions file; left alone").arg(thunar));
        return false;
    }
    if ((merged != existing || !exists) && !writeFile(thunar, merged, errors))
        ok = false;
    ok &= PresetFileManagerEntries::install(executable, errors);
    return ok;
}

bool uninstall(QStringList *errors)
{
    bool ok = true;
    for (const QString &path : {nautilusScriptPath(), dolphin6Path(), dolphin5Path(), nemoPath(), desktopEntryPath()})
        ok &= removeIfOurs(path, errors);

    const QString thunar = thunarActionsPath();
    QByteArray existing;
    if (QFileInfo::exists(thunar) && readWholeFile(thunar, &existing)) {
        QByteArray merged;
        if (mergeThunarActions(existing, QString(), &merged) && merged != existing)
            ok &= writeFile(thunar, merged, errors);
    }
    ok &= PresetFileManagerEntries::uninstall(errors);
    return ok;
}

} // namespace SendToIntegration
