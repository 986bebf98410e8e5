#pragma once

#include "platform/FilePath.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

// File operations of the Zip tool on raw path bytes, so that names which are not valid UTF-8
// survive. None of them follows a symbolic link into the tree it works on.
namespace ArchiveFileOps {

using FilePath::lastComponent;
// Splits a name at its last dot: "a.tar.gz" → {"a.tar", "gz"}. A leading dot does not start an
// extension (".profile" has none); the extension is empty when there is none.
std::pair<QByteArray, QByteArray> splitExtension(const QByteArray &name);

// True when something (a file, folder or link, even a dangling one) is at `path`.
bool exists(const QByteArray &path);
bool isDirectory(const QByteArray &path); // follows a link at `path` itself

// 1 for a file; 1 + every entry of a full recursive walk (hidden ones included) for a folder.
// `stop` is polled between entries; the count so far is returned when it says stop.
qint64 countEntries(const QByteArray &path, const std::function<bool()> &stop = {});

// Puts a copy of `source` (file, folder tree or link) at `target`, which must not exist.
// Regular files are hard-linked when possible (same file system and allowed), else cloned or
// copied with their permissions and times; links are recreated as links; other special files
// are left out. Returns false with a reason when anything could not be copied.
bool stageCopy(const QByteArray &source, const QByteArray &target, QString *error,
               const std::function<bool()> &stop = {});

// What an item given to the Zip tool stands for: the path the link at `path` leads to
// (fully resolved) when `path` itself is a symbolic link, else `path`. A dangling link
// stays as it is.
inline QByteArray resolvedTopLevel(const QByteArray &path) { return FilePath::resolvedIfLink(path); }

// Removes a file, link or whole folder tree (links are removed, never followed).
bool removeTree(const QByteArray &path);


} // namespace ArchiveFileOps
