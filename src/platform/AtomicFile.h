#pragma once

#include <QByteArray>
#include <QString>

// Writes state files so that a reader sees either the old content or the new one, never a
// mix: the data goes to a temporary file beside the target, is flushed to disk, and then
// renamed over the target. Returns false (with a reason in `error`) and leaves the old file
// untouched when anything fails — a full disk, a read-only folder.
bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error = nullptr);

// Reads a whole file; returns false when it is missing or unreadable.
bool readWholeFile(const QString &path, QByteArray *data);
