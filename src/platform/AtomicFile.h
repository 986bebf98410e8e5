#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Who may read a file we write.
enum class FileAccess {
    // A new file follows the umask; a file that is replaced keeps its permissions.
    standard,
    // The owner only: 0600 whatever the umask. A file that is replaced keeps only its
    // owner's bits, so a stricter mode the user chose (0400) stays.
    ownerOnly,
};

// Writes a file so that a reader — also after a crash or a power cut — finds either the
// old content byte for byte or the whole new one, never a mix or an empty file: the data
// goes to a temporary file beside the target, every byte is written and synced to the
// disk, the temporary file is renamed over the target and the folder is synced. Returns
// false (with a reason in `error`) when any step fails — a full disk, a read-only folder —
// and then the old file is untouched and the temporary file is gone.
bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error = nullptr,
                         FileAccess access = FileAccess::standard);

// Removes what writes of `path` that were cut short (a crash, a kill, a power cut) left
// beside it: the hidden temporary files that writeFileAtomically names after it. Only for
// the one process that writes `path`, before its first write.
void removeLeftoverTemporaries(const QString &path);

// Reads a whole file; returns false when it is missing or unreadable.
bool readWholeFile(const QString &path, QByteArray *data);

// Faults for tests: a disk that fills up, a rename or a sync that fails.
namespace AtomicFileFaults {

enum class Step { create, write, syncFile, close, rename, syncFolder };

// Called before each step of every atomic write. Returns 0 to let the step run or an errno
// value to make it fail. Before a write `*bytes` holds the size about to be written; lowering
// it makes a short write, as a disk that fills up does.
using Hook = std::function<int(Step step, qint64 *bytes)>;

// An empty hook removes the faults. Set it while no write is running.
void setHook(Hook hook);

} // namespace AtomicFileFaults
