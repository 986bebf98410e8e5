#pragma once

#include <QByteArray>

// Folders and files of ours are private: what Perchbox keeps (shelves, settings with archive
// passwords) and the folders it creates for other programs are the user's alone, whatever the
// umask.
namespace FileModes {

// mkdir -p on raw path bytes: every missing folder is created with mode 0700 (what the XDG
// base-directory rules ask of a program that creates a folder). Returns true when the folder
// exists afterwards.
bool makePrivatePath(const QByteArray &path);

// Takes the group's and others' bits off an existing folder or file of ours, so that one made
// by an older version or under a lax umask becomes private; the owner's bits stay as they are
// (a stricter mode the user chose is kept). Returns false when it cannot.
bool restrictToOwner(const QByteArray &path);

} // namespace FileModes
