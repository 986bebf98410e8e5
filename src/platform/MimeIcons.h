#pragma once

#include <QIcon>
#include <QMimeType>

// Icons of file types from the desktop's icon theme, as a file manager shows them: the type's
// own icon ("image-png"), else its generic one ("image-x-generic"), else the symbolic variants
// of both, else the bundled "doc" symbol; folders get "folder". Symbolic icons keep their
// "-symbolic" names, so that views draw them in the theme's foreground colour.
//
// Where the desktop names no fallback icon theme (a bare X session: Qt then looks in
// "hicolor" alone, which has no file-type icons), the first installed of Adwaita, breeze and
// gnome becomes the fallback for what the current theme lacks. Main thread.
QIcon iconForMimeType(const QMimeType &type);
QIcon folderIcon();
