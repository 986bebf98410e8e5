#pragma once

#include <QString>
#include <QStringList>

// The per-user "Send to Perchbox" entries of the file managers, and the program's desktop
// entry that accepts files. Every path is below XDG_DATA_HOME / XDG_CONFIG_HOME:
//
//   Nautilus  $XDG_DATA_HOME/nautilus/scripts/Send to Perchbox            (executable script)
//   Dolphin   $XDG_DATA_HOME/kio/servicemenus/perchbox-send.desktop       (KF6, executable)
//             $XDG_DATA_HOME/kservices5/ServiceMenus/perchbox-send.desktop (KF5)
//   Thunar    $XDG_CONFIG_HOME/Thunar/uca.xml                              (one <action> merged in)
//   Nemo      $XDG_DATA_HOME/nemo/actions/perchbox-send.nemo_action
//   desktop   $XDG_DATA_HOME/applications/perchbox.desktop                (Exec … --send %F)
//
// Each entry runs `<executable> --send <files>`. Our files carry a marker, so removal deletes
// exactly ours and leaves a file of the same name that the user wrote; Thunar's file keeps the
// user's own actions.
//
// No entry declares MIME types an application opens: that would make Perchbox the handler of
// folders or files on desktops without a configured default. An entry that an older version
// wrote with such a line is rewritten.
//
// An installed Perchbox brings its launcher, Dolphin service menu and Nemo action in the
// system's data folders ($XDG_DATA_DIRS): where those exist, the per-user copies are not
// written (and ours are removed), so that no menu shows an entry twice.
namespace SendToIntegration {

inline const QString serviceTitle = QStringLiteral("Send to Perchbox");
// The unique-id of our Thunar action.
inline const QString thunarActionId = QStringLiteral("perchbox-send-to-perchbox");

// The system-wide files of an installed Perchbox, relative to a $XDG_DATA_DIRS folder.
QString systemLauncherPath();
QString systemDolphinMenuPath();
QString systemNemoActionPath();
// The first $XDG_DATA_DIRS folder that holds `relativePath`, or "".
QString findSystemFile(const QString &relativePath);

// Writes (or refreshes) every entry for `executable` (an absolute path). Returns false when any
// entry could not be written; `errors` then has one line per failure. Entries are rewritten
// only when their content changes.
bool install(const QString &executable, QStringList *errors = nullptr);

// Removes every entry that we wrote. Returns false when any could not be removed.
bool uninstall(QStringList *errors = nullptr);

// The files that install() writes (for tests and diagnostics).
QStringList entryPaths();
QString thunarActionsPath();

// Quotes one argument for a desktop entry's Exec key.
QString quoteExecArgument(const QString &argument);

// Thunar's uca.xml with our action set (`executable` non-empty) or removed (empty). Returns
// false, leaving `result` empty, when `existing` is not a well-formed <actions> document:
// we never replace a file we cannot read.
bool mergeThunarActions(const QByteArray &existing, const QString &executable, QByteArray *result);

} // namespace SendToIntegration
