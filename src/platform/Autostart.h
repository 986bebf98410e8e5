#pragma once

#include <QString>

// Starting the program when the user logs in, through the freedesktop autostart folder:
// a "perchbox.desktop" entry in $XDG_CONFIG_HOME/autostart.
namespace Autostart {

// $XDG_CONFIG_HOME/autostart/perchbox.desktop
QString entryPath();

// True when our entry exists and is not disabled ("Hidden=true" or
// "X-GNOME-Autostart-enabled=false").
bool isEnabled();

// Writes the entry (Exec= the running executable) or removes it. Returns false with a
// message in `error` when the folder or the file cannot be written or removed; the
// previous state is then left as it was.
bool setEnabled(bool enabled, QString *error = nullptr);

// The desktop entry text for an executable path.
QByteArray entryText(const QString &executablePath);

} // namespace Autostart
