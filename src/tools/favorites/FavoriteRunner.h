#pragma once

#include "conversion/ConversionExporter.h"
#include "model/Shelf.h"
#include "tools/archive/ArchiveEngine.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class PresetStore;
class ShelfManager;
class ShelfProgressState;

// One click on a favorite: what was clicked (the favorite as it was then) and the files it
// takes (chosen at the time of the click).
struct QueuedFavoriteRun {
    QUuid id;
    ShelfFavoriteAction favorite;
    QList<ShelfFile> files;
};

// The outcome mark of a favorite button.
enum class FavoriteRunFeedback { idle, running, success, failure };

// An output folder for one run (reached through the saved folder's bookmark, or chosen).
// Folders need no access grant here, so there is nothing to give back after the run.
struct FavoriteResolvedFolder {
    QUrl url;
};

// How a run ended.
struct FavoriteOutcome {
    enum class Kind { success, failure, cancelled };
    Kind kind = Kind::success;
    QString message; // why it failed (shown with the failure mark)

    static FavoriteOutcome success() { return {Kind::success, {}}; }
    static FavoriteOutcome failure(const QString &message) { return {Kind::failure, message}; }
    static FavoriteOutcome cancelled() { return {Kind::cancelled, {}}; }
};

// What a favorite run needs from the desktop. The desktop side answers with dialogs; tests
// answer directly. Answers may come later (dialogs do not block the event loop).
class FavoriteRunHost
{
public:
    virtual ~FavoriteRunHost() = default;
    // A folder chooser (folders only, creating one allowed, one selection) with `message`
    // and the button `prompt`; nothing when the user cancelled.
    virtual void chooseFolder(const QString &message, const QString &prompt,
                              std::function<void(std::optional<QUrl>)> done) = 0;
    // A modal warning with a title, a message and optional details (one line per failure).
    virtual void showAlert(const QString &title, const QString &message, const QString &details) = 0;
    // Puts text on the clipboard (a 7Z favorite's password, before the archive is made).
    virtual void copyText(const QString &text) = 0;
    // Shows saved archives in the file manager.
    virtual void reveal(const QList<QUrl> &urls) = 0;
};

// Delays of the outcome marks. The program uses timers; tests step a clock of their own.
class FavoriteClock
{
public:
    virtual ~FavoriteClock() = default;
    // Calls `work` after `ms` milliseconds, unless `context` is gone by then.
    virtual void after(int ms, QObject *context, std::function<void()> work) = 0;
    // Qt timers.
    static FavoriteClock &timers();
};

// The favorites of one shelf at run time: the click, the queue (one run at a time, the
// others wait in click order), the four tool branches, and the outcome marks of the
// buttons. It writes the shelf's progress state while a run goes (or lets the tool do it).
// Main thread only.
class FavoriteRunner : public QObject
{
    Q_OBJECT
public:
    // How long the outcome marks stay.
    static constexpr int successMarkMs = 900;
    static constexpr int failureMarkMs = 1100;

    struct Context {
        ShelfManager *manager = nullptr;
        PresetStore *presets = nullptr;
        std::shared_ptr<FavoriteRunHost> host;
        FavoriteClock *clock = nullptr;      // null: timers
        ShelfProgressState *progress = nullptr;
        ArchiveToolPaths archiveTools;       // where the archivers are
        // The converters of Convert favorites (nothing: the standard ones).
        std::optional<ConverterSet> converters;
        bool conversionNotification = true; // post "Conversion Complete"
    };

    FavoriteRunner(const QUuid &shelfId, Context context, QObject *parent = nullptr);
    ~FavoriteRunner() override;

    QUuid shelfId() const { return m_shelfId; }
    // The shelf's progress state the runs report into.
    ShelfProgressState *progress() const;

    // A click on the favorite with that id, given the shelf window's selection. False when
    // it does nothing: the favorite is no longer on the shelf, or there are no files.
    bool favoriteTapped(const QUuid &favoriteId, const QSet<QUuid> &selectedFileIds);

    // ---- state ----
    std::optional<QUuid> runningFavoriteID() const { return m_runningFavoriteID; }
    QString runningFavoriteLabel() const { return m_runningFavoriteLabel; }
    const QList<QueuedFavoriteRun> &favoriteQueue() const { return m_favoriteQueue; }
    FavoriteRunFeedback feedback(const QUuid &favoriteId) const;
    int shakeCount(const QUuid &favoriteId) const { return m_favoriteShakeCounts.value(favoriteId); }
    // The reason of the favorite's last failure (empty after a success).
    QString lastFailure(const QUuid &favoriteId) const { return m_lastFailures.value(favoriteId); }
    bool progressIsManagedByTool() const { return m_favoriteProgressIsManagedByTool; }
    // What the ring shows is a favorite's: one runs, or the done or failed mark is the one
    // the last favorite run left.
    bool isFavoriteActivity() const;
    const QSet<QUuid> &pendingClearIDs() const { return m_pendingFavoriteClearIDs; }

    // ---- the queue popover ----
    // "Cancel Current": cancels the running tool through the shelf's progress state.
    void cancelCurrent();
    bool canCancelCurrent() const;
    // "Clear Waiting" / "Clear Queue": the waiting runs are dropped.
    void clearWaiting();
    // The shelf was deleted: waiting runs are dropped and the running tool is cancelled
    // where it can be (a tool that cannot stop midway finishes).
    void shelfDeleted();

signals:
    // The running favorite, the queue or a mark changed.
    void changed();
    // A click joined the queue (the button springs).
    void runQueued(const QUuid &favoriteId);
    // A run failed (the button shakes); `message` says why.
    void runFailed(const QUuid &favoriteId, const QString &message);

private:
    void startNext();
    void runFavorite(const QueuedFavoriteRun &run);
    void finishFavoriteRun(const ShelfFavoriteAction &favorite, const FavoriteOutcome &outcome);

    void runRename(const QueuedFavoriteRun &run);
    void runFlatten(const QueuedFavoriteRun &run);
    void runArchive(const QueuedFavoriteRun &run);
    void runConvert(const QueuedFavoriteRun &run);

    // The output folder for a run: the saved folder, or one the user chooses. Calls `done`
    // with the folder (only while this runner exists); a cancelled chooser ends the run as
    // cancelled, a folder that cannot be used ends it with the reason.
    using FolderDone = std::function<void(const FavoriteResolvedFolder &)>;
    void resolveOutputFolder(const ShelfFavoriteAction &favorite, const QString &toolName, FolderDone done);

    // The run's files as they are on the shelf now (renamed entries followed by id); those
    // that left the shelf are dropped.
    QList<ShelfFile> currentFiles(const QList<ShelfFile> &files) const;
    // The same, for a run about to start its tool: when none are left the run ends with a
    // failure mark and the list is empty.
    QList<ShelfFile> filesStillOnShelf(const ShelfFavoriteAction &favorite, const QList<ShelfFile> &files);
    // The progress of a tool that does not report by itself: running, with the label.
    void beginOwnProgress(const QString &label, std::function<void()> cancel = {});
    // Reports a failure in an alert (title by tool) and ends the run with it.
    void fail(const ShelfFavoriteAction &favorite, const QString &message, const QString &details = {});
    void setMark(const QUuid &favoriteId, FavoriteRunFeedback feedback);
    FavoriteClock &clock() const;
    QString shelfName() const;

    QUuid m_shelfId;
    Context m_context;
    QPointer<ShelfProgressState> m_progress;

    std::optional<QUuid> m_runningFavoriteID;
    QString m_runningFavoriteLabel;
    QList<QueuedFavoriteRun> m_favoriteQueue;
    QSet<QUuid> m_pendingFavoriteClearIDs;
    QHash<QUuid, FavoriteRunFeedback> m_favoriteFeedback;
    QHash<QUuid, int> m_favoriteShakeCounts;
    QHash<QUuid, QString> m_lastFailures;
    bool m_favoriteProgressIsManagedByTool = false;
    bool m_progressMarkIsOurs = false;
    bool m_starting = false;
    bool m_startAgain = false;
};
