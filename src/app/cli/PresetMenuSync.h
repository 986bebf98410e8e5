#pragma once

#include "platform/PresetFileManagerEntries.h"

#include <QList>
#include <QString>

class AppSettings;
class PresetStore;

// Keeps the per-preset file-manager entries in step with the saved presets: builds one entry
// per preset (with the output folder the tool needs: the setting's default, else the folder
// of the first selected file) and rewrites the entries whenever presets are saved or deleted,
// the default folders change, or "Send to Perchbox" is switched on or off.
namespace PresetMenuSync {

// The entries for the presets and settings as they are now.
QList<PresetMenuEntry> currentEntries(const PresetStore &store, const AppSettings &settings);

// Registers the entries, writes them now (while sendToFinderEnabled is on) and keeps them in
// step from then on. `executable`: the absolute path of the perchbox program. Main thread.
void attach(PresetStore &store, AppSettings &settings, const QString &executable);

} // namespace PresetMenuSync
