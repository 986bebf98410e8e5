#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Files we write into other programs' folders (file-manager scripts, service menus, actions,
// desktop entries) carry a marker line. A file without it is the user's and is never replaced
// or removed.
namespace GeneratedFiles {

inline const QByteArray marker = QByteArrayLiteral("X-Perchbox-Generated=true");

// Writes `content` to `path` unless it is there already (atomically, creating the folder),
// then sets the permissions (executable or not). A file of that name without our marker is
// left alone and reported in `errors`.
bool writeIfChanged(const QString &path, const QByteArray &content, bool executable, QStringList *errors);

// Reads `path` into *content when it exists (*exists says whether it does). False, with the
// reason in `errors`, when it exists but cannot be read.
bool readExisting(const QString &path, QByteArray *content, bool *exists, QStringList *errors);

// Writes `content` to `path` atomically, creating its folder. False, with the reason in
// `errors`, when it cannot.
bool writeFile(const QString &path, const QByteArray &content, QStringList *errors);

// Removes `path` when it is ours; a missing file or someone else's is fine.
bool removeIfOurs(const QString &path, QStringList *errors);

// One argument for /bin/sh, in single quotes.
QString shellQuote(const QString &text);

} // namespace GeneratedFiles
