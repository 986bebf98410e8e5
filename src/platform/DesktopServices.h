#pragma once

#include <QList>
#include <QUrl>

// Hand-offs to the desktop: revealing files in the file manager and opening files or folders
// with their default application. Asynchronous, never blocking the caller.
namespace DesktopServices {

// Shows the files selected in the file manager (org.freedesktop.FileManager1.ShowItems); when no
// file manager answers on the bus, opens the folder of the first file instead.
void reveal(const QList<QUrl> &fileUrls);

// Opens a file or folder with its default application (xdg-open). Returns false when the
// opener could not be started.
bool open(const QUrl &fileUrl);

} // namespace DesktopServices
