#pragma once

#include "tools/presets/RenamePreset.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <memory>
#include <optional>

// One file to rename: the parts of a shelf entry that the rename engine reads and updates.
struct RenameFile {
    QUuid id;
    QUrl url;                // the file's current location (resolved)
    QByteArray bookmarkData; // replaced after a successful rename; empty when none
};

// The rename plan: the file's id (canonical upper-case UUID string, no braces) → new name.
// Names are text; bytes of the old name that are not UTF-8 are carried as escapes (see
// FileOps::decodeName) and come back unchanged on disk.
using RenamePlan = QMap<QString, QString>;

// What the preview (RenamePreviewModel) last showed; its rows are rebuilt only when this changes.
struct RenamePreviewSignature {
    qsizetype fileCount = 0;
    std::optional<QUuid> firstFileID;
    std::optional<QString> firstFilePath;
    std::optional<QUuid> lastFileID;
    std::optional<QString> lastFilePath;
    QString preset;

    bool operator==(const RenamePreviewSignature &) const = default;
};

// The rename rules of one preset, compiled once (the regular expression, the character
// break iterator) and then applied to many names. Not thread-safe; cheap to build.
class RenameRules
{
public:
    explicit RenameRules(const RenamePreset &preset);
    ~RenameRules();
    RenameRules(const RenameRules &) = delete;
    RenameRules &operator=(const RenameRules &) = delete;

    // The new name of a file called `fileName` at zero-based position `index`. It always
    // names a file in the same folder: never empty, "." or "..", without "/", at most 255
    // bytes ("/" becomes "-", a long name is cut before its extension, and a name that would
    // name no file leaves the old one).
    QString newName(const QString &fileName, qint64 index) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

namespace RenameEngine {

// Why `name` cannot be a new file name (empty, "." or "..", with "/" or a NUL character,
// longer than a file system takes), or empty when it can. performRename refuses such names.
QString invalidNameReason(const QString &name);

// The file name (last path component) of a file URL, as text with escaped bytes.
QString fileName(const QUrl &url);

// The new file name of `file` at `index` (pure: touches no file).
QString newName(const RenameFile &file, qint64 index, const RenamePreset &preset);

// True when the preset asks for a regular expression that does not compile: the Advanced
// face with `useRegex` on and a non-empty `findText` whose pattern is invalid.
bool hasInvalidRegex(const RenamePreset &preset);

// The rename plan of `files` (empty when the regular expression is invalid).
RenamePlan plannedNames(const QList<RenameFile> &files, const RenamePreset &preset);

// Renames the files of the plan on disk, in the same folder, never replacing an existing
// file. Entries whose id is not among `files` are skipped; a name equal to the current one
// is skipped. On success the entry's url moves to the new name and its bookmarkData is
// renewed (empty if that fails). Returns one line per failure: old name, ": ", reason.
QStringList performRename(const RenamePlan &plan, QList<RenameFile> &files);

// The counter text for `index` (start + index × step, left-padded with zeros to the
// minimum number of digits).
QString counterText(const RenamePreset &preset, qint64 index);
// "Sequence: 001, 002, 003, 004…"
QString sequenceHint(const RenamePreset &preset);
// "Example: 001_filename.ext" or "Example: filename_001.ext"
QString exampleHint(const RenamePreset &preset);

// A text that changes whenever any option that affects the names changes.
QString presetRendering(const RenamePreset &preset);
RenamePreviewSignature previewSignature(const QList<RenameFile> &files, const RenamePreset &preset);

} // namespace RenameEngine
