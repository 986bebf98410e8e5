#pragma once

#include <QString>

// Where this desktop saves screenshots, for the screenshot watcher when no folder is chosen.
//
//   GNOME (and desktops that follow it): the "Screenshots" folder, under its localised name,
//     in the Pictures folder of xdg-user-dirs — taken even before it exists, since GNOME
//     makes it with the first screenshot;
//   KDE: the folder set in Spectacle's settings (spectaclerc), else Pictures/Screenshots;
//   otherwise the first of those that exists, else Pictures, else the Desktop.
namespace ScreenshotFolder {

enum class Source { gnome, spectacle, pictures, desktop };

struct Detected {
    QString path;
    Source source = Source::desktop;
};

// Uses XDG_CURRENT_DESKTOP, the xdg-user-dirs folders (QStandardPaths) and
// $XDG_CONFIG_HOME/spectaclerc.
Detected detect();

// The name of GNOME's screenshot folder in the user's language ("Screenshots" untranslated).
QString gnomeScreenshotsName();

// The save folder in a spectaclerc file's text; empty when none is set.
QString spectacleFolder(const QByteArray &spectaclerc, const QString &home);

// A few words on where the folder comes from, for the settings page.
QString sourceDescription(Source source);

} // namespace ScreenshotFolder
