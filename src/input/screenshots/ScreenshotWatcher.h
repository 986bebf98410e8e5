#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <functional>

class AppSettings;
class QSocketNotifier;
class ShelfManager;

// Screenshot auto-capture: watches the screenshot folder and puts every new screenshot on a
// shelf — the one chosen in the settings ("screenshotShelfID"), else, with
// "screenshotUseTempShelf" on, a shelf named "Screenshots" made on demand.
//
// The folder is the "screenshotFolder" setting, else where this desktop saves screenshots
// (ScreenshotFolder::detect). It is watched with inotify. A screenshot is a regular,
// non-hidden file whose extension, in lower case, is png, jpg, jpeg, tiff, gif or heic.
// Files already in the folder when watching starts count as seen and are never delivered.
// A new file is taken only once it is completely written: when its writer closes it, when
// it is moved into the folder, or — for a file that appeared without a writer we could see
// (a hard link, a file found after the folder came back) — once its size and time have
// stayed the same for a whole settle interval. Each new file is delivered 0.5 s later, at
// most once in 30 s, and not when a shelf already holds it.
//
// When the folder is deleted, renamed away, unmounted or made unreadable, watching stops,
// folderState() says so, and the folder is looked for every second; when it is back,
// watching resumes, and files that arrived in it meanwhile (changed after it went away)
// are delivered.
//
// Main thread only; one instance in the program.
class ScreenshotWatcher : public QObject
{
    Q_OBJECT
public:
    enum class FolderState {
        stopped,    // not running
        watching,   // the folder is watched
        missing,    // the folder does not exist (or is not a folder)
        unreadable, // the folder exists but cannot be listed
    };

    static constexpr int kDeliveryDelayMs = 500;
    static constexpr int kRedeliveryWindowMs = 30000;
    static constexpr int kSettleIntervalMs = 1000;
    static constexpr int kRetryIntervalMs = 1000;

    ScreenshotWatcher(ShelfManager &manager, AppSettings &settings, QObject *parent = nullptr);
    ~ScreenshotWatcher() override;

    // Where screenshots are looked for when the setting names no folder (by default
    // ScreenshotFolder::detect()); tests give a folder of their own.
    void setDefaultFolderProvider(std::function<QString()> provider) { m_defaultFolder = std::move(provider); }
    // Shorter intervals for tests.
    void setIntervals(int deliveryDelayMs, int redeliveryWindowMs, int settleIntervalMs, int retryIntervalMs);

    // At launch: starts when auto-capture is on. Afterwards the settings' requests start,
    // stop and restart the watcher.
    void startIfEnabled();
    // Starts watching (nothing when running already).
    void start();
    // Stops watching; deliveries already queued find auto-capture off and do nothing.
    void stop();
    // Stop and start: the folder is chosen again and its files count as seen.
    void restart();

    bool isRunning() const { return m_running; }
    FolderState folderState() const { return m_state; }
    // The folder that is (or is to be) watched: the setting's, else the default.
    QString watchedFolder() const;
    // The folder being watched while running (empty when stopped).
    const QString &currentWatchedDir() const { return m_currentDir; }
    // The screenshot files (names) present at the last look at the folder.
    QSet<QByteArray> lastSeenNames() const { return m_lastSeen; }

    // True for a name the watcher takes: not hidden, with one of the six extensions.
    static bool isScreenshotName(const QByteArray &name);

signals:
    void folderStateChanged(ScreenshotWatcher::FolderState state);
    // Files were handed to a shelf (through ShelfManager::addFiles).
    void delivered(const QList<QUrl> &files, const QUuid &shelfID);

private:
    struct Incomplete {
        bool writing = false; // a writer has modified it and not closed it yet
        qint64 size = -1;     // as last seen by the settle check
        qint64 changeNs = -1;
    };

    void arm();
    void disarm();
    void retry();
    void poll();
    void lose(FolderState state);
    void setState(FolderState state);
    void readEvents();
    void scan();
    void settle();
    void queueDelivery(const QList<QUrl> &files);
    void deliverQueued();
    QUuid targetShelf();
    QUrl urlOf(const QByteArray &name) const;

    ShelfManager &m_manager;
    AppSettings &m_settings;
    std::function<QString()> m_defaultFolder;

    bool m_running = false;
    FolderState m_state = FolderState::stopped;
    QString m_currentDir;
    QByteArray m_dirBytes;
    int m_inotify = -1;
    int m_watch = -1;
    QSocketNotifier *m_notifier = nullptr;
    bool m_mountRoot = false; // the folder is a mount point (so an unmounted one is "missing")
    // Set while the folder is away: files changed after this moment are new when it is back.
    qint64 m_awaySinceNs = 0;

    QSet<QByteArray> m_lastSeen;
    QHash<QByteArray, Incomplete> m_incomplete;
    QList<QUrl> m_queued;
    QSet<QUrl> m_recentDelivered;

    QTimer m_deliveryTimer;
    QTimer m_settleTimer;
    QTimer m_retryTimer;
    int m_redeliveryWindowMs = kRedeliveryWindowMs;
};
