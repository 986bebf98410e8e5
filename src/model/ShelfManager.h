#pragma once

#include "model/Shelf.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <functional>
#include <memory>

// The single owner of all shelves. It holds the list of shelves, which shelves have a
// window (open) and which of those the user has hidden, and keeps them in three files in
// the app-data folder ($XDG_DATA_HOME/Perchbox):
//
//   "shelves.json"          the shelves, written 300 ms after the last change of a burst
//                           (and at most 2 s after the first unsaved one; at once when a
//                           shelf is created)
//   "openShelves.json"      the open ids, written at once on every change
//   "hidden-shelf-ids.json" the hidden ids, written at once on every change
//
// The files are private (0600) and written atomically. A write that fails (a full disk)
// leaves the old file as it was, keeps the state in memory, is reported once through
// saveFailed() and is tried again every few seconds until it succeeds. A file found empty or
// unreadable at start is moved aside ("<name>.damaged-<time>") before anything replaces it.
//
// Main thread only. Each published field has a change signal that fires after every
// change. Views edit shelves through updateShelf() and the convenience operations; every
// edit reaches "shelves.json" through the debounced save.
class ShelfManager : public QObject
{
    Q_OBJECT
public:
    // What the manager needs from the settings and the hot-key layer, set by the
    // application. Every member may stay empty (no limit, nothing to prune or register).
    struct Hooks {
        // The "maxFilesPerShelf" setting; below 1 means no limit.
        std::function<int()> maxFilesPerShelf;
        // Called once after loading with every shelf id: drop per-shelf hot keys and key
        // combinations of shelves that no longer exist.
        std::function<void(const QSet<QUuid> &)> pruneShelfHotkeys;
        // Called after pruning: register all hot keys afresh.
        std::function<void()> registerHotkeys;
        // Called when a shelf is deleted: forget its hot key and key combination.
        std::function<void(const QUuid &)> removeShelfHotkeys;
    };

    // A monotonic clock in milliseconds (for the new-shelf throttle; tests inject their own).
    using MonotonicClock = std::function<qint64()>;

    static constexpr int kSaveDelayMs = 300;
    static constexpr int kMaxSaveDelayMs = 2000; // whatever follows the first unsaved change
    static constexpr int kRetryDelayMs = 5000;   // after a failed write
    static constexpr qint64 kCreateShelfThrottleMs = 400;
    static constexpr int kDeleteDelayMs = 50;
    static constexpr int kAddBatchSize = 64;

    // Loads the three files from the app-data folder (AppPaths::appDataDir()).
    explicit ShelfManager(QObject *parent = nullptr);
    // Writes a pending debounced save before going away.
    ~ShelfManager() override;

    void setHooks(Hooks hooks);
    const Hooks &hooks() const { return m_hooks; }
    void setMonotonicClock(MonotonicClock clock);

    // ---- published state ----
    const QList<Shelf> &shelves() const { return m_shelves; }
    const QSet<QUuid> &openShelfIDs() const { return m_openShelfIDs; }
    const QSet<QUuid> &userHiddenShelfIDs() const { return m_userHiddenShelfIDs; }
    qint64 windowVisibilityVersion() const { return m_windowVisibilityVersion; }

    // Lookups (constant time). The pointer stays valid until the next change of the shelf list.
    const Shelf *shelf(const QUuid &id) const;
    int indexOfShelf(const QUuid &id) const;
    // A number that changes whenever that shelf's record changes (0 for an unknown id). A view
    // of one shelf compares it with the one it last showed, so that a change of another shelf
    // (shelvesChanged fires for every one) costs it nothing.
    quint64 shelfRevision(const QUuid &id) const { return m_revisions.value(id, 0); }
    bool isShelfOpen(const QUuid &id) const { return m_openShelfIDs.contains(id); }
    bool isShelfHidden(const QUuid &id) const { return m_userHiddenShelfIDs.contains(id); }
    // Open and not hidden: the shelf's window is on screen.
    bool isShelfVisible(const QUuid &id) const { return isShelfOpen(id) && !isShelfHidden(id); }

    // ---- storage ----
    QString storageDir() const { return m_dataDir; }
    QString shelvesFilePath() const;
    QString openShelvesFilePath() const;
    QString hiddenShelvesFilePath() const;

    // Write one file each; failures are ignored and the state in memory is kept.
    // "shelves.json" is encoded and written on a background writer, in order.
    void saveShelves();
    void saveOpenShelfIDs();
    void saveHiddenShelfIDs();
    // Writes a pending debounced save (or one that failed) now and waits until every
    // shelf-list write is on disk. Call at quit (the destructor calls it too).
    void flushPendingSave();
    bool hasPendingSave() const { return m_saveTimer.isActive(); }
    // True while a write of one of the three files has failed and is waiting to be retried.
    bool hasFailedSave() const { return m_shelvesFailed || m_openFailed || m_hiddenFailed; }
    // How many times "shelves.json" has been written (successfully or not) so far.
    int shelvesWriteCount() const { return m_writeCount.load(); }
    // Where a damaged "shelves.json" was moved before it was replaced (empty when none).
    QString damagedShelvesBackupPath() const { return m_damagedBackupPath; }

    // ---- visibility ----
    void openShelf(const QUuid &id);   // → shown, from any state
    void closeShelf(const QUuid &id);  // → closed (the shelf and its files stay)
    void hideShelf(const QUuid &id);   // shown → hidden
    void unhideShelf(const QUuid &id); // hidden → shown

    // ---- creating and deleting ----
    // The "Perchbox.createNewShelf" command (the manager observes that notification
    // itself): a "New Shelf", unless the last one came 0.4 s ago or less. Returns the new
    // id, or a null id when throttled.
    QUuid createShelf();
    // Appends a shelf made elsewhere (the menu's "New shelf", "Inbox", "Screenshots",
    // tool results), without throttle. Does not open it.
    void appendShelf(const Shelf &shelf);
    // Asks the window layer to close the shelf's windows, forgets its hot keys, and 50 ms
    // later removes the shelf and deletes its folder.
    void deleteShelf(const QUuid &id);
    void deleteAllShelves();

    // ---- files ----
    // Puts files on a shelf: duplicates and files beyond "maxFilesPerShelf" are dropped,
    // bookmarks are made in the background and the entries arrive in batches of 64.
    void addFiles(const QList<QUrl> &urls, const QUuid &shelfID);
    // "Send to Shelf…": the entries leave `fromShelfID` and join `toShelfID` unless it holds
    // the same URL already. Saved at once.
    void moveFiles(const QList<ShelfFile> &files, const QUuid &fromShelfID, const QUuid &toShelfID);
    // True when the file lies inside the folder of a shelf.
    bool isOwnedFile(const QUrl &url) const;
    // Deletes the file from disk when it is owned by a shelf; never touches anything else.
    // Returns true when a file was deleted.
    bool deleteOwnedFile(const QUrl &url);
    // Removes entries from a shelf; files owned by a shelf are deleted from disk.
    void removeFiles(const QUuid &shelfID, const QSet<QUuid> &fileIDs, bool deleteOwnedFiles = true);

    // ---- direct edits (each one emits shelvesChanged and schedules the save) ----
    // Runs `edit` on the shelf; false when there is no such shelf. The id cannot change.
    bool updateShelf(const QUuid &id, const std::function<void(Shelf &)> &edit);
    void setShelves(const QList<Shelf> &shelves);
    bool renameShelf(const QUuid &id, const QString &name);
    bool moveShelf(int from, int to);

signals:
    void shelvesChanged();
    void openShelfIDsChanged();
    void userHiddenShelfIDsChanged();
    void windowVisibilityVersionChanged(qint64 version);

    // For the window layer: show a freshly created shelf / close every window of a shelf
    // (windows whose identifier contains the shelf's id).
    void showShelfWindowRequested(const QUuid &id);
    void closeShelfWindowsRequested(const QUuid &id);

    // A batch of added files reached the shelf; and the whole addFiles call is done (every
    // call ends with exactly one addFilesFinished, queued, also when nothing was added).
    void filesAdded(const QUuid &shelfID, int count);
    void addFilesFinished(const QUuid &shelfID);
    // A write of "shelves.json" finished (delivered on the main thread).
    void shelvesSaved(bool ok);
    // A state file could not be written (the first failure after a success; retries that
    // fail again are not reported). The state stays in memory and is written once possible.
    void saveFailed(const QString &message);

private:
    struct AddedEntry {
        ShelfFile file;
        QUrl resolved;
    };
    struct AddJob {
        QUuid shelfID;
        int limit = 0;
        quint64 generation = 0;
        QSet<QUrl> shelfUrls; // URLs of the shelf's files as of `generation`
        bool haveUrls = false;
    };

    void loadAll();
    // After a change of the list: `touched` are the shelves whose records changed (a change of
    // order or membership touches none).
    void shelvesDidChange(std::initializer_list<QUuid> touched = {});
    void touchAllShelves();
    void bumpVisibility();
    void deliverBatch(quint64 jobID, const QList<AddedEntry> &batch, const QSet<QUrl> &knownUrls, bool last);
    void removeShelfFolder(const Shelf &shelf);
    bool prepareShelvesFile();
    void writeShelvesNow(const QList<Shelf> &snapshot);
    void shelvesWriteDone(quint64 sequence, bool ok, const QString &error);
    void saveShelvesAtOnce();
    bool writeIdFile(const QString &path, const QSet<QUuid> &ids, bool *damaged, bool *failed);
    void noteSaveResult(bool ok, const QString &error);
    void retryFailedSaves();
    int maxFilesPerShelf() const;

    Hooks m_hooks;
    MonotonicClock m_clock;

    QString m_dataDir;
    QList<Shelf> m_shelves;
    // id → position in m_shelves, rebuilt on the first lookup after the order changed.
    mutable QHash<QUuid, int> m_indexOf;
    mutable bool m_indexStale = true;
    QHash<QUuid, quint64> m_revisions;
    quint64 m_lastRevision = 0;
    QSet<QUuid> m_openShelfIDs;
    QSet<QUuid> m_userHiddenShelfIDs;
    qint64 m_windowVisibilityVersion = 0;
    std::optional<qint64> m_lastAddShelfTime; // empty: the distant past

    QTimer m_saveTimer;     // 300 ms after the last change
    QTimer m_deadlineTimer; // 2 s after the first unsaved change
    QTimer m_retryTimer;
    QThreadPool m_writer; // one thread: shelf-list writes happen in order
    QThreadPool m_intake; // prepares added files (bookmarks) at background priority
    std::atomic<int> m_writeCount{0};
    std::atomic<bool> m_writerLastOk{true};
    quint64 m_writeSequence = 0;  // writes of the shelf list started
    quint64 m_resultSequence = 0; // the newest write whose result has been taken

    // A file that was there but could not be read is moved aside before it is replaced.
    bool m_shelvesDamaged = false;
    bool m_openDamaged = false;
    bool m_hiddenDamaged = false;
    QString m_damagedBackupPath;

    // Writes that failed and wait for a retry; whether that has been reported.
    bool m_shelvesFailed = false;
    bool m_openFailed = false;
    bool m_hiddenFailed = false;
    bool m_failureReported = false;

    quint64 m_generation = 0; // bumped on every change of the shelf list
    quint64 m_nextJobID = 1;
    QHash<quint64, AddJob> m_addJobs;
    QList<QFuture<void>> m_addFutures;
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
};
