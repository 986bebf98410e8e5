#include "platform/PresetFileManagerEntries.h"

#include "platform/AppPaths.h"
#include "platform/GeneratedFiles.h"
#include "platform/SendToIntegration.h"
#include "platform/ThunarActions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>

#include <optional>

namespace {

using GeneratedFiles::marker;
using GeneratedFiles::readExisting;
using GeneratedFiles::removeIfOurs;
using GeneratedFiles::shellQuote;
using GeneratedFiles::writeFile;
using GeneratedFiles::writeIfChanged;

QMutex g_lock;
std::optional<QList<PresetMenuEntry>> g_entries;

// A preset name with a line break cannot be carried by a desktop entry's Exec line.
bool usable(const PresetMenuEntry &e)
{
    for (QChar c : e.presetName)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            return false;
    return !e.presetName.isEmpty();
}

QList<PresetMenuEntry> usableEntries(const QList<PresetMenuEntry> &entries)
{
    QList<PresetMenuEntry> out;
    for (const PresetMenuEntry &e : entries)
        if (usable(e))
            out << e;
    return out;
}

QString execLine(const QString &executable, const PresetMenuEntry &e)
{
    QStringList parts{SendToIntegration::quoteExecArgument(executable)};
    for (const QString &a : PresetFileManagerEntries::arguments(e))
        parts << SendToIntegration::quoteExecArgument(a);
    parts << QStringLiteral("%F");
    return parts.join(QLatin1Char(' '));
}

// A desktop-entry value: backslashes and line breaks escaped.
QByteArray desktopValue(const QString &text)
{
    QString v = text;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    return v.toUtf8();
}

// The script's file name: the entry's label, made safe as one path component.
QString scriptName(const PresetMenuEntry &e)
{
    QString name = PresetFileManagerEntries::label(e);
    name.replace(QLatin1Char('/'), QChar(0x2215)); // DIVISION SLASH looks like "/"
    return name;
}

QByteArray nautilusScript(const QString &executable, const PresetMenuEntry &e)
{
    QStringList parts{shellQuote(executable)};
    for (const QString &a : PresetFileManagerEntries::arguments(e))
        parts << shellQuote(a);
    // Nautilus runs scripts in the folder shown, with the selected names as arguments.
    return "#!/bin/sh\n# " + marker + "\n# " + PresetFileManagerEntries::label(e).toUtf8()
        + "\nexec " + parts.join(QLatin1Char(' ')).toUtf8() + " \"$@\"\n";
}

QByteArray dolphinMenu(const QString &executable, const QList<PresetMenuEntry> &entries)
{
    QByteArray actions;
    QByteArray body;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QByteArray id = "perchboxPreset" + QByteArray::number(i);
        actions += id + ';';
        body += "\n[Desktop Action " + id + "]\n"
                "Name=" + desktopValue(PresetFileManagerEntries::label(entries.at(i))) + "\n"
                "Icon=perchbox\n"
                "Exec=" + desktopValue(execLine(executable, entries.at(i))) + "\n";
    }
    return "[Desktop Entry]\n"
           "Type=Service\n"
           "MimeType=all/all;\n"
           "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
           "X-KDE-Submenu=" + PresetFileManagerEntries::submenuTitle.toUtf8() + "\n"
           "Actions=" + actions + "\n"
           + marker + "\n" + body;
}

QByteArray nemoAction(const QString &executable, const PresetMenuEntry &e)
{
    return "[Nemo Action]\n"
           "Name=" + desktopValue(PresetFileManagerEntries::label(e)) + "\n"
           "Comment=Perchbox: run the " + desktopValue(e.toolTitle) + " preset on the selected files\n"
           "Exec=" + desktopValue(execLine(executable, e)) + "\n"
           "Icon-Name=perchbox\n"
           "Selection=notnone\n"
           "Extensions=any;\n"
           + marker + "\n";
}

QByteArray thunarActions(const QString &executable, const QList<PresetMenuEntry> &entries)
{
    QByteArray out;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const PresetMenuEntry &e = entries.at(i);
        out += ThunarActions::actionElement(
            PresetFileManagerEntries::label(e), PresetFileManagerEntries::submenuTitle,
            PresetFileManagerEntries::thunarIdPrefix + QString::number(i), execLine(executable, e),
            QStringLiteral("Run the %1 preset on the selected files").arg(e.toolTitle));
    }
    return out;
}

// Removes our files in `folder` (matching `filter`) that are not in `keep`.
bool removeStale(const QString &folder, const QStringList &filter, const QSet<QString> &keep, QStringList *errors)
{
    bool ok = true;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(filter, QDir::Files | QDir::Hidden | QDir::System))
        if (!keep.contains(name))
            ok &= removeIfOurs(dir.filePath(name), errors);
    return ok;
}

bool writeThunar(const QString &executable, const QList<PresetMenuEntry> &entries, QStringList *errors)
{
    const QString path = SendToIntegration::thunarActionsPath();
    QByteArray existing;
    bool exists = false;
    if (!readExisting(path, &existing, &exists, errors))
        return false;
    if (!exists && entries.isEmpty())
        return true;
    QByteArray merged;
    if (!PresetFileManagerEntries::mergeThunarActions(existing, executable, entries, &merged)) {
        if (errors)
            errors->append(QStringLiteral("%1: not a Thunar actions file; left alone").arg(path));
        return false;
    }
    if (exists && merged == existing)
        return true;
    return writeFile(path, merged, errors);
}

} // namespace

namespace PresetFileManagerEntries {

void setEntries(const QList<PresetMenuEntry> &list)
{
    QMutexLocker locker(&g_lock);
    g_entries = list;
}

QList<PresetMenuEntry> entries()
{
    QMutexLocker locker(&g_lock);
    return g_entries.value_or(QList<PresetMenuEntry>());
}

QString label(const PresetMenuEntry &e)
{
    return e.toolTitle + QStringLiteral(": ") + e.presetName;
}

QStringList arguments(const PresetMenuEntry &e)
{
    QStringList args{QStringLiteral("run"), e.tool, QStringLiteral("--preset"), e.presetName};
    if (e.needsOutput) {
        if (e.outputFolder.isEmpty())
            args << QStringLiteral("--next-to-first");
        else
            args << QStringLiteral("--output") << e.outputFolder;
    }
    args << QStringLiteral("--");
    return args;
}

QString nautilusFolder()
{
    return AppPaths::dataHome() + QStringLiteral("/nautilus/scripts/") + submenuTitle;
}

QStringList dolphinPaths()
{
    return {AppPaths::dataHome() + QStringLiteral("/kio/servicemenus/perchbox-presets.desktop"),
            AppPaths::dataHome() + QStringLiteral("/kservices5/ServiceMenus/perchbox-presets.desktop")};
}

QString nemoFolder()
{
    return AppPaths::dataHome() + QStringLiteral("/nemo/actions");
}

bool install(const QString &executable, QStringList *errors)
{
    std::optional<QList<PresetMenuEntry>> list;
    {
        QMutexLocker locker(&g_lock);
        list = g_entries;
    }
    if (!list)
        return true; // not known yet: leave what an earlier run wrote
    return write(executable, *list, errors);
}

bool write(const QString &executable, const QList<PresetMenuEntry> &all, QStringList *errors)
{
    const QList<PresetMenuEntry> list = usableEntries(all);
    bool ok = true;

    // Nautilus: one script per entry in the "Perchbox" scripts folder.
    QSet<QString> scripts;
    for (const PresetMenuEntry &e : list) {
        const QString name = scriptName(e);
        scripts.insert(name);
        ok &= writeIfChanged(nautilusFolder() + QLatin1Char('/') + name, nautilusScript(executable, e), true, errors);
    }
    ok &= removeStale(nautilusFolder(), {}, scripts, errors);
    if (list.isEmpty())
        QDir().rmdir(nautilusFolder()); // only when empty; the user's own scripts stay

    // Dolphin: one service menu holding the submenu (KF6 runs only executable ones).
    const QStringList dolphin = dolphinPaths();
    for (qsizetype i = 0; i < dolphin.size(); ++i) {
        if (list.isEmpty())
            ok &= removeIfOurs(dolphin.at(i), errors);
        else
            ok &= writeIfChanged(dolphin.at(i), dolphinMenu(executable, list), i == 0, errors);
    }

    // Nemo: one action per entry.
    QSet<QString> actions;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString name = QStringLiteral("perchbox-preset-%1.nemo_action").arg(i);
        actions.insert(name);
        ok &= writeIfChanged(nemoFolder() + QLatin1Char('/') + name, nemoAction(executable, list.at(i)), false, errors);
    }
    ok &= removeStale(nemoFolder(), {QStringLiteral("perchbox-preset-*.nemo_action")}, actions, errors);

    ok &= writeThunar(executable, list, errors);
    return ok;
}

bool uninstall(QStringList *errors)
{
    return write(QString(), {}, errors);
}

bool mergeThunarActions(const QByteArray &existing, const QString &executable,
                        const QList<PresetMenuEntry> &entries, QByteArray *result)
{
    return ThunarActions::replaceOurs(
        existing, [](const QString &id) { return id.startsWith(thunarIdPrefix); },
        thunarActions(executable, usableEntries(entries)), result);
}

} // namespace PresetFileManagerEntries
