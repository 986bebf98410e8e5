#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The "Perchbox" submenu of the file managers: one entry per saved preset of each tool
// ("Convert: <preset name>", "Zip: …", "Rename: …", "Flatten: …"), each running
// `<executable> run TOOL --preset NAME [--output DIR | --next-to-first] -- <files>`.
//
//   Nautilus  $XDG_DATA_HOME/nautilus/scripts/Perchbox/<entry name>     (executable scripts)
//   Dolphin   $XDG_DATA_HOME/kio/servicemenus/perchbox-presets.desktop  (X-KDE-Submenu=Perchbox)
//             $XDG_DATA_HOME/kservices5/ServiceMenus/perchbox-presets.desktop
//   Thunar    $XDG_CONFIG_HOME/Thunar/uca.xml                           (<submenu>Perchbox</submenu>)
//   Nemo      $XDG_DATA_HOME/nemo/actions/perchbox-preset-<n>.nemo_action
//
// The entries sit beside the "Send to Perchbox" entries and follow them: SendToIntegration's
// install() and uninstall() call install() and uninstall() here. The application registers
// the current entries with setEntries() and calls install() again whenever presets change.
// Like the Send to entries, our files carry a marker: only our files are rewritten or
// removed, and Thunar's file keeps every action that is not ours byte for byte.

struct PresetMenuEntry {
    QString tool;       // the command-line tool word: "zip", "rename", "flatten", "convert"
    QString toolTitle;  // "Zip", "Rename", "Flatten", "Convert"
    QString presetName;
    bool needsOutput = false; // the tool writes into a folder
    QString outputFolder;     // that folder; empty: the folder of the first selected file

    bool operator==(const PresetMenuEntry &) const = default;
};

namespace PresetFileManagerEntries {

inline const QString submenuTitle = QStringLiteral("Perchbox");
// Our Thunar actions' unique-ids start with this.
inline const QString thunarIdPrefix = QStringLiteral("perchbox-preset-");

// The entries install() writes. Until the application has set them, install() leaves the
// files of an earlier run as they are.
void setEntries(const QList<PresetMenuEntry> &entries);
QList<PresetMenuEntry> entries();

// Writes the registered entries for every file manager and removes our entries that are no
// longer wanted. Returns false when anything could not be written (`errors`: one line each).
bool install(const QString &executable, QStringList *errors = nullptr);
// The same with an explicit list.
bool write(const QString &executable, const QList<PresetMenuEntry> &entries, QStringList *errors = nullptr);
// Removes every preset entry that we wrote.
bool uninstall(QStringList *errors = nullptr);

// "Convert: Podcast"
QString label(const PresetMenuEntry &entry);
// The arguments after the executable, up to the files: run TOOL --preset NAME … --
QStringList arguments(const PresetMenuEntry &entry);

// Folder of the Nautilus scripts and the Dolphin / Nemo file locations (for tests).
QString nautilusFolder();
QStringList dolphinPaths();
QString nemoFolder();

// Thunar's uca.xml with our preset actions replaced by those of `entries` (none: removed).
// Returns false, leaving `result` empty, when `existing` is not a well-formed <actions>
// document: a file we cannot read is never replaced.
bool mergeThunarActions(const QByteArray &existing, const QString &executable,
                        const QList<PresetMenuEntry> &entries, QByteArray *result);

} // namespace PresetFileManagerEntries
