#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// File names on Linux are bytes, not text. A QString decoded from a name that is not valid
// UTF-8 loses those bytes, so shelf entries keep their location as a percent-encoded file
// URL (lossless) and file operations that must reach any name use the raw bytes.
namespace FilePath {

// The raw path bytes of a file URL ("file:///tmp/a%FF" → "/tmp/a\xFF"). Empty for a
// non-file URL.
QByteArray bytes(const QUrl &fileUrl);
// A file URL that keeps every byte of `path`.
QUrl urlFromBytes(const QByteArray &path);
// A file URL from a path in text form (the common case for names typed or chosen by the user).
QUrl urlFromPath(const QString &path);
// The path in text form, for display and for Qt APIs. Lossy only for non-UTF-8 names.
QString displayPath(const QUrl &fileUrl);
// True when the file exists (lstat; a dangling symbolic link counts as existing).
bool exists(const QUrl &fileUrl);
// "/a/b/../c/" → "/a/c", on bytes.
QByteArray standardized(const QByteArray &path);
// The current working directory as raw bytes ("/" when it cannot be read).
QByteArray workingDirectory();
// The last component of a byte path ("/a/b/" → "b", "/a/b.txt" → "b.txt").
QByteArray lastComponent(const QByteArray &path);
// The folder part of a byte path ("/a/b.txt" → "/a", "/a" → "/", "b" → ".").
QByteArray parentPath(const QByteArray &path);
// The path the symbolic link at `path` leads to (fully resolved), or `path` itself when it
// is no link or a dangling one.
QByteArray resolvedIfLink(const QByteArray &path);

} // namespace FilePath
