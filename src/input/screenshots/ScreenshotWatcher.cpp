#include "input/screenshots/ScreenshotWatcher.h"

#include "input/screenshots/ScreenshotFolder.h"
#include "model/ShelfManager.h"
#include "platform/FilePath.h"
#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr uint32_t kFolderEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE
                                   | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

qint64 nanoseconds(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The later of the file's content and inode change times: a file moved or copied in has a
// fresh change time even when its modification time is old.
qint64 changeTimeNs(const struct stat &st)
{
    return std::max(nanoseconds(st.st_mtim), nanoseconds(st.st_ctim));
}

struct Listing {
    QSet<QByteArray> names;
    QHash<QByteArray, qint64> changeNs; // filled when asked for
};

// The screenshot files of a folder; nothing when it cannot be listed.
std::optional<Listing> listFolder(const QByteArray &dir, bool withTimes)
{
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return std::nullopt;
    Listing listing;
    const int fd = ::dirfd(d);
    errno = 0;
    while (struct dirent *entry = ::readdir(d)) {
        const QByteArray name(entry->d_name);
        if (!ScreenshotWatcher::isScreenshotName(name))
            continue;
        struct stat st;
        const bool needStat = withTimes || entry->d_type == DT_UNKNOWN;
        if (needStat && ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const bool regular = entry->d_type == DT_UNKNOWN ? S_ISREG(st.st_mode) : entry->d_type == DT_REG;
        if (!regular)
            continue;
        listing.names.insert(name);
        if (withTimes)
            listing.changeNs.insert(name, changeTimeNs(st));
    }
    const bool failed = errno != 0;
    ::closedir(d);
    if (failed)
        return std::nullopt;
    return listing;
}

QByteArray folderBytes(const QByteArray &path)
{
    QByteArray bytes = FilePath::standardized(path);
    while (bytes.size() > 1 && bytes.endsWith('/'))
        bytes.chop(1);
    return bytes;
}

QByteArray parentOf(const QByteArray &dir)
{
    const qsizetype slash = dir.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : dir.left(slash);
}

// A folder that is the root of a mounted file system (its device differs from its parent's).
bool isMountRoot(const QByteArray &dir)
{
    struct stat own, parent;
    return ::stat(dir.constData(), &own) == 0 && ::stat(parentOf(dir).constData(), &parent) == 0
           && own.st_dev != parent.st_dev;
}

// Whether the folder can be watched now: missing (or not a folder), unreadable, or fine.
ScreenshotWatcher::FolderState folderStateOf(const QByteArray &dir)
{
    struct stat st;
    if (dir.isEmpty() || ::stat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ScreenshotWatcher::FolderState::missing;
    if (::access(dir.constData(), R_OK | X_OK) != 0)
        return ScreenshotWatcher::FolderState::unreadable;
    return ScreenshotWatcher::FolderState::watching;
}

} // namespace

ScreenshotWatcher::ScreenshotWatcher(ShelfManager &manager, AppSettings &settings, QObject *parent)
    : QObject(parent), m_manager(manager), m_settings(settings), m_defaultFolder([] { return ScreenshotFolder::detect().path; })
{
    m_deliveryTimer.setSingleShot(true);
    m_deliveryTimer.setInterval(kDeliveryDelayMs);
    connect(&m_deliveryTimer, &QTimer::timeout, this, &ScreenshotWatcher::deliverQueued);
    m_settleTimer.setInterval(kSettleIntervalMs);
    connect(&m_settleTimer, &QTimer::timeout, this, &ScreenshotWatcher::settle);
    m_retryTimer.setInterval(kRetryIntervalMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &ScreenshotWatcher::retry);
    // The settings start and stop auto-capture, and restart it on a new folder.
    connect(&settings, &AppSettings::screenshotWatcherStartRequested, this, &ScreenshotWatcher::start);
    connect(&settings, &AppSettings::screenshotWatcherStopRequested, this, &ScreenshotWatcher::stop);
    connect(&settings, &AppSettings::screenshotWatcherRestartRequested, this, &ScreenshotWatcher::restart);
}

void ScreenshotWatcher::startIfEnabled()
{
    if (m_settings.screenshotEnabled())
        start();
}

ScreenshotWatcher::~ScreenshotWatcher()
{
    disarm();
    if (m_inotify >= 0)
        ::close(m_inotify);
}

void ScreenshotWatcher::setIntervals(int deliveryDelayMs, int redeliveryWindowMs, int settleIntervalMs, int retryIntervalMs)
{
    m_deliveryTimer.setInterval(deliveryDelayMs);
    m_redeliveryWindowMs = redeliveryWindowMs;
    m_settleTimer.setInterval(settleIntervalMs);
    m_retryTimer.setInterval(retryIntervalMs);
}

bool ScreenshotWatcher::isScreenshotName(const QByteArray &name)
{
    if (name.isEmpty() || name.startsWith('.'))
        return false;
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0)
        return false;
    const QByteArray extension = name.mid(dot + 1).toLower();
    return extension == "png" || extension == "jpg" || extension == "jpeg" || extension == "tiff" || extension == "gif"
           || extension == "heic";
}

QString ScreenshotWatcher::watchedFolder() const
{
    const QUrl chosen = m_settings.screenshotFolder();
    if (chosen.isLocalFile())
        return FilePath::displayPath(chosen);
    return m_defaultFolder ? m_defaultFolder() : QString();
}

QUrl ScreenshotWatcher::urlOf(const QByteArray &name) const
{
    return FilePath::urlFromBytes(m_dirBytes == "/" ? "/" + name : m_dirBytes + '/' + name);
}

void ScreenshotWatcher::start()
{
    if (m_running)
        return;
    m_running = true;
    m_awaySinceNs = 0;
    m_lastSeen.clear();
    m_incomplete.clear();
    const QUrl chosen = m_settings.screenshotFolder();
    m_dirBytes = folderBytes(chosen.isLocalFile() ? FilePath::bytes(chosen) : QFile::encodeName(watchedFolder()));
    m_currentDir = QFile::decodeName(m_dirBytes);
    m_mountRoot = false;
    arm();
}

void ScreenshotWatcher::stop()
{
    if (!m_running)
        return;
    disarm();
    m_retryTimer.stop();
    m_settleTimer.stop();
    m_running = false;
    m_currentDir.clear();
    m_incomplete.clear();
    setState(FolderState::stopped);
}

void ScreenshotWatcher::restart()
{
    stop();
    start();
}

void ScreenshotWatcher::setState(FolderState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit folderStateChanged(state);
}

void ScreenshotWatcher::disarm()
{
    if (m_notifier) {
        // This may run inside the notifier's own signal.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_inotify >= 0 && m_watch >= 0)
        ::inotify_rm_watch(m_inotify, m_watch);
    m_watch = -1;
    if (m_inotify >= 0) {
        // A fresh descriptor for the next watch, so no event of this one can arrive there.
        ::close(m_inotify);
        m_inotify = -1;
    }
}

void ScreenshotWatcher::lose(FolderState state)
{
    disarm();
    m_incomplete.clear();
    m_settleTimer.stop();
    // On the clock that file times are taken from: the system's fine clock runs up to a tick
    // ahead of it, and a screenshot saved in that tick after the folder went away would have
    // counted as one that was there before.
    if (m_awaySinceNs == 0) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        m_awaySinceNs = nanoseconds(now);
    }
    // Something else at the path (a new folder in the old one's place) is taken at the retry.
    setState(state == FolderState::watching ? FolderState::missing : state);
    m_retryTimer.start();
}

void ScreenshotWatcher::retry()
{
    if (m_state == FolderState::watching && m_watch < 0)
        poll();
    else if (m_state != FolderState::watching)
        arm();
    else
        m_retryTimer.stop();
}

void ScreenshotWatcher::arm()
{
    if (!m_running)
        return;
    disarm();
    FolderState state = folderStateOf(m_dirBytes);
    // A mount point whose file system went away is an empty folder of the parent's.
    if (state == FolderState::watching && m_mountRoot && !isMountRoot(m_dirBytes))
        state = FolderState::missing;
    if (state != FolderState::watching) {
        lose(state);
        return;
    }
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0)
        m_watch = ::inotify_add_watch(m_inotify, m_dirBytes.constData(), kFolderEvents);
    if (m_watch < 0 && (state = folderStateOf(m_dirBytes)) != FolderState::watching) {
        lose(state);
        return;
    }
    // The watch is in place before the listing, so nothing can slip between the two.
    const bool returning = m_awaySinceNs != 0;
    const std::optional<Listing> listing = listFolder(m_dirBytes, returning);
    if (!listing) {
        lose(folderStateOf(m_dirBytes));
        return;
    }
    m_mountRoot = m_mountRoot || isMountRoot(m_dirBytes);
    if (m_watch >= 0) {
        m_retryTimer.stop();
        m_notifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &ScreenshotWatcher::readEvents);
    } else {
        // No watch to be had (the system's inotify limits are used up): look every second.
        disarm();
        m_retryTimer.start();
    }

    m_lastSeen.clear();
    m_incomplete.clear();
    for (const QByteArray &name : listing->names) {
        // Back after an absence: what changed meanwhile is new, once it has settled.
        if (returning && listing->changeNs.value(name) >= m_awaySinceNs)
            m_incomplete.insert(name, {});
        else
            m_lastSeen.insert(name);
    }
    m_awaySinceNs = 0;
    setState(FolderState::watching);
    if (!m_incomplete.isEmpty())
        m_settleTimer.start();
}

void ScreenshotWatcher::poll()
{
    // Without events every newcomer has to settle before it counts.
    if (const auto listing = listFolder(m_dirBytes, false))
        for (const QByteArray &name : listing->names)
            if (!m_lastSeen.contains(name) && !m_incomplete.contains(name))
                m_incomplete.insert(name, {});
    scan();
    if (!m_incomplete.isEmpty() && !m_settleTimer.isActive())
        m_settleTimer.start();
}

void ScreenshotWatcher::readEvents()
{
    alignas(struct inotify_event) char buffer[16384];
    bool changed = false;
    bool overflow = false;
    bool lost = false;
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t offset = 0; offset < n;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + offset);
            offset += ssize_t(sizeof(struct inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                overflow = true;
                continue;
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED)) {
                lost = true;
                continue;
            }
            if (event->len == 0 || (event->mask & IN_ISDIR)) {
                // The folder's own attributes (its permissions) changed: look again.
                changed = changed || (event->mask & IN_ATTRIB);
                continue;
            }
            const QByteArray name(event->name);
            if (!isScreenshotName(name))
                continue;
            if ((event->mask & (IN_CREATE | IN_MODIFY)) && !m_lastSeen.contains(name)) {
                Incomplete &entry = m_incomplete[name];
                entry.writing = entry.writing || (event->mask & IN_MODIFY);
            }
            if (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM)) {
                m_incomplete.remove(name);
                changed = true;
            }
        }
    }
    if (lost) {
        lose(folderStateOf(m_dirBytes));
        return;
    }
    if (overflow) {
        // Events were dropped: anything new we did not see closed has to settle first.
        poll();
        return;
    }
    if (changed)
        scan();
    bool settling = false;
    for (const Incomplete &entry : std::as_const(m_incomplete))
        settling = settling || !entry.writing;
    if (settling && !m_settleTimer.isActive())
        m_settleTimer.start();
}

void ScreenshotWatcher::scan()
{
    if (m_state != FolderState::watching)
        return;
    const std::optional<Listing> listing = listFolder(m_dirBytes, false);
    if (!listing) {
        // Gone or unreadable now; when it is back, what changed meanwhile counts as new.
        lose(folderStateOf(m_dirBytes));
        return;
    }
    m_incomplete.removeIf([&](const auto &it) { return !listing->names.contains(it.key()); });
    QSet<QByteArray> kept = listing->names;
    for (auto it = m_incomplete.cbegin(); it != m_incomplete.cend(); ++it)
        kept.remove(it.key());
    QList<QUrl> fresh;
    for (const QByteArray &name : std::as_const(kept))
        if (!m_lastSeen.contains(name))
            fresh.append(urlOf(name));
    m_lastSeen = std::move(kept);
    if (!fresh.isEmpty()) {
        std::sort(fresh.begin(), fresh.end(), [](const QUrl &a, const QUrl &b) { return a.path() < b.path(); });
        queueDelivery(fresh);
    }
}

void ScreenshotWatcher::settle()
{
    bool completed = false;
    bool waiting = false;
    for (auto it = m_incomplete.begin(); it != m_incomplete.end();) {
        Incomplete &entry = it.value();
        if (entry.writing) {
            ++it;
            continue;
        }
        struct stat st;
        const QByteArray path = m_dirBytes + '/' + it.key();
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
            it = m_incomplete.erase(it);
            completed = true;
            continue;
        }
        const qint64 change = changeTimeNs(st);
        if (st.st_size > 0 && st.st_size == entry.size && change == entry.changeNs) {
            it = m_incomplete.erase(it);
            completed = true;
            continue;
        }
        entry.size = st.st_size;
        entry.changeNs = change;
        waiting = true;
        ++it;
    }
    if (!waiting)
        m_settleTimer.stop();
    if (completed)
        scan();
}

void ScreenshotWatcher::queueDelivery(const QList<QUrl> &files)
{
    m_queued += files;
    // Files that arrive while a delivery is pending go with it: a burst is handed over in
    // a few calls instead of hundreds.
    if (!m_deliveryTimer.isActive())
        m_deliveryTimer.start();
}

void ScreenshotWatcher::deliverQueued()
{
    const QList<QUrl> files = std::exchange(m_queued, {});
    QSet<QUrl> onShelves;
    bool onShelvesKnown = false;
    QList<QPair<QUuid, QList<QUrl>>> batches;
    for (const QUrl &url : files) {
        if (m_recentDelivered.contains(url))
            continue;
        m_recentDelivered.insert(url);
        QTimer::singleShot(m_redeliveryWindowMs, this, [this, url] { m_recentDelivered.remove(url); });
        if (!m_settings.screenshotEnabled())
            continue;
        if (!onShelvesKnown) {
            for (const Shelf &shelf : m_manager.shelves())
                for (const ShelfFile &file : shelf.files) {
                    onShelves.insert(file.url);
                    if (!file.bookmarkData.isEmpty())
                        onShelves.insert(file.resolvedURL());
                }
            onShelvesKnown = true;
        }
        if (onShelves.contains(url))
            continue;
        const QUuid target = targetShelf();
        if (target.isNull())
            continue;
        if (batches.isEmpty() || batches.last().first != target)
            batches.append({target, {}});
        batches.last().second.append(url);
    }
    for (const auto &[shelfID, urls] : std::as_const(batches)) {
        m_manager.addFiles(urls, shelfID);
        emit delivered(urls, shelfID);
    }
}

QUuid ScreenshotWatcher::targetShelf()
{
    const QUuid chosen = m_settings.screenshotShelfID();
    if (!chosen.isNull() && m_manager.shelf(chosen))
        return chosen;
    if (!m_settings.screenshotUseTempShelf())
        return {};
    for (const Shelf &shelf : m_manager.shelves())
        if (shelf.name == ShelfDefaults::screenshotsName)
            return shelf.id;
    const Shelf shelf = Shelf::make(ShelfDefaults::screenshotsName, ShelfColorData::systemBlue(), ShelfDefaults::screenshotsIcon);
    m_manager.appendShelf(shelf);
    NotificationCenter::instance().post(Notifications::openSpecificShelf, {{Notifications::idKey, uuidString(shelf.id)}});
    return shelf.id;
}
