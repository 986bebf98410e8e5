#pragma once

#include <QByteArray>
#include <QUrl>
#include <QUuid>

// Every shelf owns a folder named by its upper-case id under
// $XDG_DATA_HOME/Perchbox/Shelves; files inside it belong to the shelf.

// The shelf's folder as a directory file URL (with a trailing "/"). Creates the folder and
// any missing parents; a failure to create it is ignored.
QUrl shelfFolderURL(const QUuid &shelfId);

namespace ShelfFolder {

// The folder that holds every shelf folder, as raw path bytes (created when missing).
QByteArray shelvesRootBytes();

// A shelf's own folder, as raw path bytes: always made from its id under our data folder,
// never taken from a stored location (not created here).
QByteArray folderBytes(const QUuid &shelfId);

// Removes a file, a symbolic link or a whole folder tree (without following links) by its
// raw path. Errors are ignored; returns true when nothing is left at `path`.
bool removeTree(const QByteArray &path);

} // namespace ShelfFolder
