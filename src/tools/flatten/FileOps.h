#pragma once

#include <QByteArray>
#include <QString>

// Low-level file operations shared by the file tools. They work on raw path bytes, never
// replace an existing file unless the operation says so, and return 0 or an errno value.
namespace FileOps {

// A readable description of an errno value ("No such file or directory"). Thread-safe.
QString errorDescription(int err);

// Renames `from` to `to` only when `to` does not exist (EEXIST otherwise). Uses
// renameat2(RENAME_NOREPLACE); on a file system without it a regular file is moved with
// link() + unlink(), anything else with a check followed by rename() (best effort: a file
// that appears between the check and the rename could still be replaced).
int renameNoReplace(const QByteArray &from, const QByteArray &to);

// Copies the file `from` to the new file `to`, which must not exist (O_EXCL). A symbolic
// link is copied as a link with the same target; a regular file keeps its permission bits
// and modification time. A partial copy is removed on failure. Folders are refused (EISDIR).
int copyNew(const QByteArray &from, const QByteArray &to);

// Moves `from` to the new name `to` without replacing anything. Across file systems the
// file is copied, the copy's size is checked against the original, and only then is the
// original deleted; on any failure the original stays where it was.
int moveNew(const QByteArray &from, const QByteArray &to);

// Replaces the existing file `target` with `source`, keeping `target`'s place: the new
// content is written beside the target under a temporary name and renamed over it, so the
// target is never half-written. With `consumeSource` the source itself is moved (and is
// gone afterwards); otherwise a copy takes the target's place and the source stays.
int replaceExisting(const QByteArray &source, const QByteArray &target, bool consumeSource);

// Creates `path` and any missing parent folders; an existing folder is fine.
int makePath(const QByteArray &path);

// The last path component of a path ("/a/b.txt" → "b.txt"), on bytes.
QByteArray lastComponent(const QByteArray &path);
// The folder part of a path ("/a/b.txt" → "/a").
QByteArray parentPath(const QByteArray &path);

// File names as text. A name is bytes; bytes that are not valid UTF-8 are carried through
// QString as lone surrogates U+DC80…U+DCFF (one per byte), so that a name read from disk,
// edited as text and written back keeps every byte it did not touch.
QString decodeName(const QByteArray &name);
QByteArray encodeName(const QString &name);

} // namespace FileOps
