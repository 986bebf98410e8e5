#pragma once

#include <QString>
#include <QStringList>

// Where Perchbox keeps its state. XDG_DATA_HOME and XDG_CONFIG_HOME are honoured so that
// tests can point them at temporary folders. Every accessor of a Perchbox folder creates it
// when it is missing (ignoring failure) and keeps it private (0700, see FileModes).
namespace AppPaths {

// ~/.local/share/Perchbox
QString appDataDir();
// ~/.local/share/Perchbox/Shelves
QString shelvesDir();
// ~/.config/Perchbox
QString configDir();
// ~/.local/share (the XDG data home itself, not created)
QString dataHome();
// ~/.config (the XDG config home itself, not created)
QString configHome();
// ~/.cache
QString cacheHome();

// The folder of the running executable ("" when unknown).
QString executableFolder();
// The program's installed data folders: share/perchbox beside the executable's prefix
// (<prefix>/bin/../share/perchbox, so an install tree can move) and the configured one.
// Only folders that exist are listed.
QStringList installedDataDirs();

} // namespace AppPaths
