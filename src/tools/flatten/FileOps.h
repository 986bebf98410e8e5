#pragma once

#include "platform/FilePath.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Low-level file operations shared by the file tools. They work on raw path bytes, never
// replace an existing file unless the operation says so, and return 0 or an errno value.
namespace FileOps {

// A readable description of an errno value ("No such file or directory"). Thread-safe.
QString errorDescription(int err);

// Polled between chunks of a long copy; true stops it (the partial copy is removed and the
// operation answers ECANCELED). May be empty.
using StopRequest = std::function<bool()>;

// Renames `from` to `to` on the same file system, only when nothing is at `to` (EEXIST
// otherwise; EXDEV across file systems). Every no-replace move of ours goes through here.
// It uses renameat2(RENAME_NOREPLACE); where the file system has no such rename (NFS and
// FUSE mounts answer EINVAL or ENOSYS) a regular file is hard-linked to the new name and
// unlinked at the old one, and where hard links are refused too it is copied to the new name
// (O_EXCL), the copy synced to disk, and only then is the old name removed. Folders take
// the new name through an empty folder made there first; links are recreated. On any
// failure `from` is where it was and nothing is left at `to`.
int renameNoReplace(const QByteArray &from, const QByteArray &to);

// Copies the file `from` to the new file `to`, which must not exist (O_EXCL). A symbolic
// link is copied as a link with the same target; a regular file keeps its permission bits
// and modification time. A partial copy is removed on failure. Folders are refused (EISDIR),
// and so are pipes, sockets and devices (EOPNOTSUPP), before anything opens them.
int copyNew(const QByteArray &from, const QByteArray &to, const StopRequest &stop = {});

// Moves `from` to the new name `to` without replacing anything (renameNoReplace). Across
// file systems the file is copied beside `to` under a hidden name, synced to disk, given
// its name without replacing anything, and only then is the original deleted; on any
// failure the original stays where it was and nothing is left beside `to`.
int moveNew(const QByteArray &from, const QByteArray &to, const StopRequest &stop = {});

// Moves `from` to `to`, replacing a file there in one step (rename); across file systems
// the copy lands beside `to` first, synced, and then takes its place.
int moveReplacing(const QByteArray &from, const QByteArray &to, const StopRequest &stop = {});

// Replaces the existing file `target` with `source`, keeping `target`'s place: the new
// content is written beside the target under a temporary name and renamed over it, so the
// target is never half-written. With `consumeSource` the source itself is moved (and is
// gone afterwards); otherwise a copy takes the target's place and the source stays.
int replaceExisting(const QByteArray &source, const QByteArray &target, bool consumeSource,
                    const StopRequest &stop = {});

// Creates `path` and any missing parent folders; an existing folder is fine.
int makePath(const QByteArray &path);

using FilePath::lastComponent;
using FilePath::parentPath;

// File names as text. A name is bytes; bytes that are not valid UTF-8 are carried through
// QString as lone surrogates U+DC80…U+DCFF (one per byte), so that a name read from disk,
// edited as text and written back keeps every byte it did not touch.
QString decodeName(const QByteArray &name);
QByteArray encodeName(const QString &name);

// True for the characters decodeName uses to carry a byte that is not part of valid UTF-8
// (a low surrogate U+DC80…U+DCFF that does not complete a surrogate pair).
bool isEscapedByte(const QString &text, qsizetype index);

} // namespace FileOps
