#include "app/cli/PresetMenuSync.h"

#include "app/cli/CliArguments.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "tools/presets/PresetStore.h"

#include <QObject>

#include <cstdio>

namespace {

PresetMenuEntry entry(Cli::Tool tool, const QString &name, bool needsOutput, const QUrl &folder = {})
{
    PresetMenuEntry e;
    e.tool = Cli::toolName(tool);
    e.toolTitle = Cli::toolTitle(tool);
    e.presetName = name;
    e.needsOutput = needsOutput;
    if (needsOutput && folder.isValid() && folder.isLocalFile())
        e.outputFolder = FilePath::displayPath(folder);
    return e;
}

void sync(PresetStore &store, AppSettings &settings, const QString &executable)
{
    PresetFileManagerEntries::setEntries(PresetMenuSync::currentEntries(store, settings));
    if (!settings.sendToFinderEnabled())
        return; // the shell's uninstall() has taken ours away with its own
    QStringList errors;
    PresetFileManagerEntries::install(executable, &errors);
    for (const QString &e : errors)
        std::fprintf(stderr, "perchbox: %s\n", e.toUtf8().constData());
}

} // namespace

namespace PresetMenuSync {

QList<PresetMenuEntry> currentEntries(const PresetStore &store, const AppSettings &settings)
{
    QList<PresetMenuEntry> out;
    for (const ConversionPreset &p : store.conversionPresets()) {
        const bool overwrite = p.outputMode == QLatin1String("overwrite");
        out << entry(Cli::Tool::convert, p.name, !overwrite, settings.convDefaultOutputFolder());
    }
    for (const ArchivePreset &p : store.archivePresets())
        out << entry(Cli::Tool::zip, p.name, true);
    for (const RenamePreset &p : store.renamePresets())
        out << entry(Cli::Tool::rename, p.name, false);
    for (const FlattenPreset &p : store.flattenPresets())
        out << entry(Cli::Tool::flatten, p.name, true, settings.flattenDefaultDestination());
    return out;
}

void attach(PresetStore &store, AppSettings &settings, const QString &executable)
{
    auto resync = [&store, &settings, executable] { sync(store, settings, executable); };
    QObject::connect(&store, &PresetStore::presetsChanged, &store, resync);
    QObject::connect(&settings, &AppSettings::sendToFinderEnabledChanged, &store, resync);
    QObject::connect(&settings, &AppSettings::flattenDefaultDestinationChanged, &store, resync);
    QObject::connect(&settings, &AppSettings::convDefaultOutputFolderChanged, &store, resync);
    resync();
}

} // namespace PresetMenuSync
