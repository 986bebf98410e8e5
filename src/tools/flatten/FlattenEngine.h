#pragma once

#include "tools/flatten/FlattenOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>

struct ShelfFile;

// The outcome of one flatten run.
struct FlattenResult {
    int filesCopied = 0;
    int filesMoved = 0;
    int duplicatesMoved = 0;
    QStringList errors; // in the order they occurred
    bool cancelled = false; // stopped before every file was placed

    bool operator==(const FlattenResult &) const = default;
};

// Flatten to Folder: gathers every file of the given items (files, and the files inside
// folders at any depth) into one destination folder without the folder structure, by
// copying or moving, with a policy for names that already exist there. Stateless.
//
// Collection happens before anything is copied or moved: folders are walked recursively,
// hidden names (starting with ".") inside folders are skipped, symbolic links inside the
// walk are never followed (a link is flattened as a link), and the destination's own
// subtree is not collected when it lies inside a source folder. A folder that cannot be
// read yields a "Could not process " line. No existing file is ever replaced except by the
// "overwriteNewest" policy with a strictly newer source, and then through a safe replace.
// When that policy in move mode meets two sources of the same name, the older one (moved
// into the destination earlier in the run) goes to the Trash rather than being replaced.
class FlattenEngine
{
public:
    using Completion = std::function<void(const FlattenResult &)>;
    // Set from any thread to stop a run between files (a copy under way is abandoned and
    // removed); the result then has `cancelled` set.
    using CancelFlag = std::shared_ptr<std::atomic<bool>>;

    static FlattenEngine &shared();

    // Runs on the global thread pool and returns at once; `completion` is called exactly
    // once, on the main (application) thread.
    void flatten(const QList<QUrl> &items, const QUrl &destination, FlattenDuplicateMode mode,
                 FlattenOperation operation, Completion completion, CancelFlag cancel = {}) const;
    // The same for shelf entries (each reached through its resolved URL).
    void flatten(const QList<ShelfFile> &files, const QUrl &destination, FlattenDuplicateMode mode,
                 FlattenOperation operation, Completion completion, CancelFlag cancel = {}) const;

    // The whole run, synchronously on the calling thread.
    static FlattenResult run(const QList<QUrl> &items, const QUrl &destination,
                             FlattenDuplicateMode mode, FlattenOperation operation,
                             const CancelFlag &cancel = {});

    // The first name in `folder` that does not exist: `name`, then "base (1).ext",
    // "base (2).ext" … (without ".ext" when the name has no extension).
    // The collection step of a run: the items' files, folders walked (hidden names skipped,
    // links not followed, `destination` itself left out). Unreadable folders add error lines.
    static QList<QByteArray> collectSources(const QList<QUrl> &items, const QByteArray &destination,
                                            QStringList *errors);
    static QUrl uniqueDuplicateURL(const QUrl &folder, const QString &name);
    static QByteArray uniqueDuplicatePath(const QByteArray &folder, const QByteArray &name);

    // The result line of the window: "3 copied · 1 duplicate(s) in _Duplicates", or
    // "Completed with 2 error(s): <first error>"; empty when nothing happened.
    static QString summary(const FlattenResult &result);

    static inline const QByteArray duplicatesFolderName = QByteArrayLiteral("_Duplicates");
};
