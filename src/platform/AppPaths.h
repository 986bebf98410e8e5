#pragma once

#include <QString>

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

} // namespace AppPaths
