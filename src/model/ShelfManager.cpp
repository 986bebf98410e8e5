#include "model/ShelfManager.h"

#include "platform/BackgroundPriority.h"

#include "model/ShelfFolder.h"
#include "model/ShelfJson.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/FileModes.h"
#include "platform/FileBookmark.h"
#include "platform/FilePath.h"
#include "platform/NotificationCenter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

const QString kShelvesFile = QStringLiteral("shelves.json");
const QString kOpenShelvesFile = QStringLiteral("openShelves.json");
const QString kHiddenShelvesFile = QStringLiteral("hidden-shelf-ids.json");

qint64 steadyMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Reads a state file. Returns false when there is nothing to use; sets `damaged` when the
// file is there but cannot be used — unreadable, or empty or blank, which no save of ours
// ever leaves (a full disk did, once) — so that it is moved aside before it is replaced.
bool readStateFile(const QString &path, QByteArray *data, bool *damaged)
{
    *damaged = false;
    if (!QFileInfo::exists(path))
        return false;
    if (!readWholeFile(path, data) || data->trimmed().isEmpty()) {
        *damaged = true;
        return false;
    }
    return true;
}

// A whole state file for reading: mapped into memory when possible (the shelf list can run
// to tens of megabytes), read otherwise.
class StateFileContent
{
public:
    // False when there is nothing to use; sets `damaged` as readStateFile does.
    bool open(const QString &path, bool *damaged)
    {
        *damaged = false;
        m_file.setFileName(path);
        if (!QFileInfo::exists(path))
            return false;
        if (!m_file.open(QIODevice::ReadOnly)) {
            *damaged = true;
            return false;
        }
        const qint64 size = m_file.size();
        if (size > 0) {
            if (uchar *p = m_file.map(0, size)) {
                m_view = QByteArrayView(reinterpret_cast<const char *>(p), size);
                // The mapping ends with the page, and its bytes past the end of the file are
                // readable (zeros): the reader can use them instead of copying the file.
                const qint64 page = ::sysconf(_SC_PAGESIZE);
                m_readableAfterEnd = page > 0 && size % page ? page - size % page : 0;
                return true; // a blank file fails to decode and counts as damaged
            }
        }
        m_data = m_file.readAll();
        if (m_file.error() != QFile::NoError || m_data.trimmed().isEmpty()) {
            *damaged = true;
            return false;
        }
        m_view = m_data;
        return true;
    }
    QByteArrayView view() const { return m_view; }
    qsizetype readableAfterEnd() const { return m_readableAfterEnd; }

private:
    QFile m_file; // unmaps when destroyed
    QByteArray m_data;
    QByteArrayView m_view;
    qsizetype m_readableAfterEnd = 0;
};

// Moves a file that could not be read out of the way ("<name>.damaged-<time>") so that
// the next save does not destroy it. Returns the new path, or nothing when it failed.
std::optional<QString> moveAside(const QString &path)
{
    if (!QFileInfo::exists(path))
        return QString();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    if (QFile::rename(path, target))
        return target;
    return std::nullopt;
}

QByteArray realPath(const QByteArray &path)
{
    char *resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        return {};
    QByteArray out(resolved);
    std::free(resolved);
    return out;
}

} // namespace

ShelfManager::ShelfManager(QObject *parent)
    : QObject(parent)
    , m_clock(steadyMilliseconds)
{
    m_writer.setMaxThreadCount(1);
    m_writer.setExpiryTimeout(-1);
    m_intake.setMaxThreadCount(2);
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kSaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &ShelfManager::saveShelves);
    m_deadlineTimer.setSingleShot(true);
    m_deadlineTimer.setInterval(kMaxSaveDelayMs);
    connect(&m_deadlineTimer, &QTimer::timeout, this, &ShelfManager::saveShelves);
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(kRetryDelayMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &ShelfManager::retryFailedSaves);

    loadAll();

    NotificationCenter::instance().observe(Notifications::createNewShelf, this,
                                           [this](const QVariantMap &) { createShelf(); });
}

ShelfManager::~ShelfManager()
{
    m_cancelled->store(true);
    for (QFuture<void> &f : m_addFutures)
        f.waitForFinished();
    flushPendingSave();
}

void ShelfManager::setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

void ShelfManager::setMonotonicClock(MonotonicClock clock)
{
    m_clock = clock ? std::move(clock) : MonotonicClock(steadyMilliseconds);
}

int ShelfManager::maxFilesPerShelf() const
{
    return m_hooks.maxFilesPerShelf ? m_hooks.maxFilesPerShelf() : 0;
}

const Shelf *ShelfManager::shelf(const QUuid &id) const
{
    const int i = indexOfShelf(id);
    return i < 0 ? nullptr : &m_shelves[i];
}

int ShelfManager::indexOfShelf(const QUuid &id) const
{
    if (m_indexStale) {
        m_indexOf.clear();
        m_indexOf.reserve(m_shelves.size());
        // The first of equal ids wins, as a walk from the front would find it.
        for (int i = int(m_shelves.size()) - 1; i >= 0; --i)
            m_indexOf.insert(m_shelves[i].id, i);
        m_indexStale = false;
    }
    return m_indexOf.value(id, -1);
}

QString ShelfManager::shelvesFilePath() const { return m_dataDir + QLatin1Char('/') + kShelvesFile; }
QString ShelfManager::openShelvesFilePath() const { return m_dataDir + QLatin1Char('/') + kOpenShelvesFile; }
QString ShelfManager::hiddenShelvesFilePath() const { return m_dataDir + QLatin1Char('/') + kHiddenShelvesFile; }

// ---- loading ----

void ShelfManager::loadAll()
{
    m_shelves.clear();
    m_indexStale = true;
    m_openShelfIDs.clear();
    m_userHiddenShelfIDs.clear();
    m_windowVisibilityVersion = 0;
    m_lastAddShelfTime.reset();
    m_dataDir = AppPaths::appDataDir();
    for (const QString &path : {shelvesFilePath(), openShelvesFilePath(), hiddenShelvesFilePath()})
        removeLeftoverTemporaries(path);

    bool damaged = false;
    StateFileContent content;
    if (content.open(shelvesFilePath(), &damaged)) {
        if (auto shelves = ShelfJson::decodeShelves(content.view(), nullptr, content.readableAfterEnd()))
            m_shelves = std::move(*shelves);
        else
            damaged = true;
    }
    m_shelvesDamaged = damaged;
    // A shelf's own folder is always the one named by its id under our data folder; the
    // stored location is not trusted (a crafted file could name any folder).
    for (Shelf &s : m_shelves)
        s.folderURL = shelfFolderURL(s.id);

    const auto readIds = [](const QString &path, QSet<QUuid> *out, bool *damaged) {
        QByteArray bytes;
        if (!readStateFile(path, &bytes, damaged))
            return;
        if (auto ids = ShelfJson::decodeIdSet(bytes))
            *out = std::move(*ids);
        else
            *damaged = true;
    };
    readIds(openShelvesFilePath(), &m_openShelfIDs, &m_openDamaged);
    readIds(hiddenShelvesFilePath(), &m_userHiddenShelfIDs, &m_hiddenDamaged);

    // Once the application is running: drop hot keys of shelves that are gone, then
    // register every hot key afresh.
    QTimer::singleShot(0, this, [this] {
        if (m_hooks.pruneShelfHotkeys) {
            QSet<QUuid> ids;
            for (const Shelf &s : std::as_const(m_shelves))
                ids.insert(s.id);
            m_hooks.pruneShelfHotkeys(ids);
        }
        if (m_hooks.registerHotkeys)
            m_hooks.registerHotkeys();
    });
}

void ShelfManager::touchAllShelves()
{
    for (const Shelf &s : std::as_const(m_shelves))
        m_revisions.insert(s.id, ++m_lastRevision);
}

// ---- saving ----

void ShelfManager::shelvesDidChange(std::initializer_list<QUuid> touched)
{
    // Edits of records keep every position; a change of order or membership may move them.
    if (touched.size() == 0)
        m_indexStale = true;
    for (const QUuid &id : touched)
        m_revisions.insert(id, ++m_lastRevision);
    ++m_generation;
    emit shelvesChanged();
    // One write 300 ms after the last change of a burst, but a steady stream of changes is
    // still written 2 s after the first one.
    m_saveTimer.start();
    if (!m_deadlineTimer.isActive())
        m_deadlineTimer.start();
}

bool ShelfManager::prepareShelvesFile()
{
    FileModes::makePrivatePath(QFile::encodeName(m_dataDir));
    if (!m_shelvesDamaged)
        return true;
    const auto moved = moveAside(shelvesFilePath());
    if (!moved)
        return false; // keep the damaged file; try again at the next save
    m_damagedBackupPath = *moved;
    m_shelvesDamaged = false;
    return true;
}

void ShelfManager::saveShelves()
{
    m_saveTimer.stop();
    m_deadlineTimer.stop();
    const quint64 sequence = ++m_writeSequence;
    if (!prepareShelvesFile()) {
        shelvesWriteDone(sequence, false, QStringLiteral("The damaged file %1 cannot be moved aside").arg(shelvesFilePath()));
        return;
    }
    const QList<Shelf> snapshot = m_shelves;
    const QString path = shelvesFilePath();
    m_writer.start([this, snapshot, path, sequence] {
        const BackgroundPriority background;
        QString error;
        const bool ok = writeFileAtomically(path, ShelfJson::encodeShelves(snapshot), &error, FileAccess::ownerOnly);
        m_writeCount.fetch_add(1);
        m_writerLastOk.store(ok);
        // The destructor waits for the writer, so `this` is alive here.
        QMetaObject::invokeMethod(this, [this, sequence, ok, error] { shelvesWriteDone(sequence, ok, error); },
                                  Qt::QueuedConnection);
    });
}

void ShelfManager::writeShelvesNow(const QList<Shelf> &snapshot)
{
    const quint64 sequence = ++m_writeSequence;
    if (!prepareShelvesFile()) {
        shelvesWriteDone(sequence, false, QStringLiteral("The damaged file %1 cannot be moved aside").arg(shelvesFilePath()));
        return;
    }
    QString error;
    const bool ok = writeFileAtomically(shelvesFilePath(), ShelfJson::encodeShelves(snapshot), &error,
                                        FileAccess::ownerOnly);
    m_writeCount.fetch_add(1);
    m_writerLastOk.store(ok);
    shelvesWriteDone(sequence, ok, error);
}

void ShelfManager::shelvesWriteDone(quint64 sequence, bool ok, const QString &error)
{
    // The result of an older write that arrives after a newer one changes nothing.
    if (sequence > m_resultSequence) {
        m_resultSequence = sequence;
        m_shelvesFailed = !ok;
        noteSaveResult(ok, error);
    }
    emit shelvesSaved(ok);
}

void ShelfManager::saveShelvesAtOnce()
{
    m_saveTimer.stop();
    m_deadlineTimer.stop();
    m_writer.waitForDone();
    writeShelvesNow(m_shelves);
}

void ShelfManager::flushPendingSave()
{
    const bool pending = m_saveTimer.isActive() || m_deadlineTimer.isActive();
    m_saveTimer.stop();
    m_deadlineTimer.stop();
    m_writer.waitForDone();
    // The writer's last result may still be on its way to this thread: read it directly.
    if (pending || m_shelvesFailed || !m_writerLastOk.load())
        writeShelvesNow(m_shelves);
    if (m_openFailed)
        saveOpenShelfIDs();
    if (m_hiddenFailed)
        saveHiddenShelfIDs();
}

bool ShelfManager::writeIdFile(const QString &path, const QSet<QUuid> &ids, bool *damaged, bool *failed)
{
    FileModes::makePrivatePath(QFile::encodeName(m_dataDir));
    QString error;
    bool ok = true;
    if (*damaged) {
        if (moveAside(path)) {
            *damaged = false;
        } else {
            ok = false;
            error = QStringLiteral("The damaged file %1 cannot be moved aside").arg(path);
        }
    }
    if (ok)
        ok = writeFileAtomically(path, ShelfJson::encodeIdSet(ids), &error, FileAccess::ownerOnly);
    *failed = !ok;
    noteSaveResult(ok, error);
    return ok;
}

void ShelfManager::saveOpenShelfIDs()
{
    writeIdFile(openShelvesFilePath(), m_openShelfIDs, &m_openDamaged, &m_openFailed);
}

void ShelfManager::saveHiddenShelfIDs()
{
    writeIdFile(hiddenShelvesFilePath(), m_userHiddenShelfIDs, &m_hiddenDamaged, &m_hiddenFailed);
}

void ShelfManager::noteSaveResult(bool ok, const QString &error)
{
    if (!hasFailedSave()) {
        m_retryTimer.stop();
        m_failureReported = false; // the next failure is news again
        return;
    }
    if (!ok && !m_failureReported) {
        m_failureReported = true;
        qWarning("Perchbox cannot save its shelves (%s); they are kept and saved again once possible",
                 qPrintable(error));
        emit saveFailed(error);
    }
    if (!m_retryTimer.isActive())
        m_retryTimer.start();
}

void ShelfManager::retryFailedSaves()
{
    if (m_shelvesFailed && !m_saveTimer.isActive())
        saveShelves();
    if (m_openFailed)
        saveOpenShelfIDs();
    if (m_hiddenFailed)
        saveHiddenShelfIDs();
}

// ---- visibility ----

void ShelfManager::bumpVisibility()
{
    ++m_windowVisibilityVersion;
    emit windowVisibilityVersionChanged(m_windowVisibilityVersion);
}

void ShelfManager::openShelf(const QUuid &id)
{
    const bool opened = !m_openShelfIDs.contains(id);
    m_openShelfIDs.insert(id);
    const bool unhidden = m_userHiddenShelfIDs.remove(id);
    if (opened)
        emit openShelfIDsChanged();
    if (unhidden)
        emit userHiddenShelfIDsChanged();
    bumpVisibility();
    // Reopening an open shelf (the restore at launch does it for every one) changes
    // nothing on disk; a damaged file is still replaced.
    if (opened || m_openDamaged)
        saveOpenShelfIDs();
    if (unhidden || m_hiddenDamaged)
        saveHiddenShelfIDs();
}

void ShelfManager::closeShelf(const QUuid &id)
{
    const bool closed = m_openShelfIDs.remove(id);
    const bool unhidden = m_userHiddenShelfIDs.remove(id);
    if (closed)
        emit openShelfIDsChanged();
    if (unhidden)
        emit userHiddenShelfIDsChanged();
    bumpVisibility();
    if (closed || m_openDamaged)
        saveOpenShelfIDs();
    if (unhidden || m_hiddenDamaged)
        saveHiddenShelfIDs();
}

void ShelfManager::hideShelf(const QUuid &id)
{
    const bool hidden = !m_userHiddenShelfIDs.contains(id);
    m_userHiddenShelfIDs.insert(id);
    if (hidden)
        emit userHiddenShelfIDsChanged();
    bumpVisibility();
    if (hidden || m_hiddenDamaged)
        saveHiddenShelfIDs();
}

void ShelfManager::unhideShelf(const QUuid &id)
{
    const bool unhidden = m_userHiddenShelfIDs.remove(id);
    if (unhidden)
        emit userHiddenShelfIDsChanged();
    bumpVisibility();
    if (unhidden || m_hiddenDamaged)
        saveHiddenShelfIDs();
}

// ---- creating and deleting ----

QUuid ShelfManager::createShelf()
{
    const qint64 now = m_clock();
    if (m_lastAddShelfTime && now - *m_lastAddShelfTime <= kCreateShelfThrottleMs)
        return {};
    m_lastAddShelfTime = now;
    const Shelf shelf = Shelf::make(ShelfDefaults::newShelfName, ShelfColorData::systemBlue(),
                                    ShelfDefaults::newShelfIcon);
    appendShelf(shelf);
    openShelf(shelf.id);
    emit showShelfWindowRequested(shelf.id);
    return shelf.id;
}

void ShelfManager::appendShelf(const Shelf &shelf)
{
    m_shelves.append(shelf);
    m_shelves.last().folderURL = shelfFolderURL(shelf.id);
    shelvesDidChange();
    // A new shelf is on disk before anything refers to it (the open ids, files sent to it),
    // so that a crash right after cannot leave an id without its shelf, and the next start
    // finds the "Inbox" made now instead of making another.
    saveShelvesAtOnce();
}

void ShelfManager::removeShelfFolder(const Shelf &shelf)
{
    // Always the folder made from the id inside our own "Shelves" folder, whatever the stored
    // location says.
    ShelfFolder::removeTree(ShelfFolder::folderBytes(shelf.id));
}

void ShelfManager::deleteShelf(const QUuid &id)
{
    emit closeShelfWindowsRequested(id);
    if (m_hooks.removeShelfHotkeys)
        m_hooks.removeShelfHotkeys(id);
    QTimer::singleShot(kDeleteDelayMs, this, [this, id] {
        if (m_openShelfIDs.remove(id))
            emit openShelfIDsChanged();
        const int index = indexOfShelf(id);
        if (index >= 0) {
            const Shelf removed = m_shelves.takeAt(index);
            m_revisions.remove(id);
            shelvesDidChange();
            removeShelfFolder(removed);
        }
        saveOpenShelfIDs();
    });
}

void ShelfManager::deleteAllShelves()
{
    for (const Shelf &s : std::as_const(m_shelves)) {
        emit closeShelfWindowsRequested(s.id);
        if (m_hooks.removeShelfHotkeys)
            m_hooks.removeShelfHotkeys(s.id);
    }
    QTimer::singleShot(kDeleteDelayMs, this, [this] {
        const QList<Shelf> removed = std::exchange(m_shelves, {});
        for (const Shelf &s : removed)
            removeShelfFolder(s);
        m_revisions.clear();
        shelvesDidChange();
        if (!m_openShelfIDs.isEmpty()) {
            m_openShelfIDs.clear();
            emit openShelfIDsChanged();
        }
        saveOpenShelfIDs();
    });
}

// ---- files ----

void ShelfManager::addFiles(const QList<QUrl> &urls, const QUuid &shelfID)
{
    const Shelf *target = shelf(shelfID);
    if (!target) {
        // Every call ends with one addFilesFinished, also when there is nothing to add.
        QMetaObject::invokeMethod(this, [this, shelfID] { emit addFilesFinished(shelfID); }, Qt::QueuedConnection);
        return;
    }
    AddJob job;
    job.shelfID = shelfID;
    job.limit = maxFilesPerShelf();
    job.generation = m_generation;
    const quint64 jobID = m_nextJobID++;
    m_addJobs.insert(jobID, job);

    // Forget jobs that are done.
    m_addFutures.removeIf([](const QFuture<void> &f) { return f.isFinished(); });

    // The choice of files is made against the shelf as it is now (a shared copy of its
    // list), so that a drop of a hundred thousand files does not hold up the UI; each
    // batch is checked against the live shelf again when it arrives.
    const QList<ShelfFile> current = target->files;
    const int limit = job.limit;
    const auto cancelled = m_cancelled;
    m_addFutures.append(QtConcurrent::run(&m_intake, [this, jobID, urls, current, limit, cancelled] {
        const BackgroundPriority background;
        QSet<QUrl> shelfUrls;
        shelfUrls.reserve(current.size());
        for (const ShelfFile &f : current)
            shelfUrls.insert(f.url);
        QList<QUrl> accepted;
        QSet<QUrl> seen;
        for (const QUrl &url : urls) {
            if (shelfUrls.contains(url) || seen.contains(url))
                continue;
            if (limit >= 1 && current.size() + accepted.size() >= limit)
                break; // the rest is dropped without a message
            seen.insert(url);
            accepted.append(url);
        }
        seen = {};

        // The destructor waits for this task, so `this` is alive while posting.
        const auto post = [this, jobID](QList<AddedEntry> batch, QSet<QUrl> known, bool last) {
            QMetaObject::invokeMethod(
                this, [this, jobID, batch = std::move(batch), known = std::move(known), last] {
                    deliverBatch(jobID, batch, known, last);
                },
                Qt::QueuedConnection);
        };
        QList<AddedEntry> batch;
        batch.reserve(kAddBatchSize);
        for (const QUrl &url : std::as_const(accepted)) {
            if (cancelled->load())
                return;
            AddedEntry entry;
            entry.file.id = QUuid::createUuid();
            entry.file.url = url;
            entry.file.bookmarkData = FileBookmark::create(url);
            entry.resolved = entry.file.bookmarkData.isEmpty()
                                 ? url
                                 : FileBookmark::resolvedUrl(entry.file.bookmarkData, url);
            batch.append(std::move(entry));
            if (batch.size() == kAddBatchSize) {
                // The first batch carries the URLs the shelf had, to spare the UI rebuilding them.
                post(std::exchange(batch, {}), std::exchange(shelfUrls, {}), false);
                batch.reserve(kAddBatchSize);
            }
        }
        if (!cancelled->load())
            post(std::move(batch), std::move(shelfUrls), true);
    }));
}

void ShelfManager::deliverBatch(quint64 jobID, const QList<AddedEntry> &batch, const QSet<QUrl> &knownUrls, bool last)
{
    auto jobIt = m_addJobs.find(jobID);
    if (jobIt == m_addJobs.end())
        return;
    AddJob &job = *jobIt;
    const QUuid shelfID = job.shelfID;
    const int index = indexOfShelf(shelfID);
    int added = 0;
    if (!job.haveUrls && job.generation == m_generation) {
        // Nothing changed since the call: the worker's view of the shelf is the current one.
        job.shelfUrls = knownUrls;
        job.haveUrls = true;
    }
    if (index >= 0 && !batch.isEmpty()) {
        Shelf &target = m_shelves[index];
        if (!job.haveUrls || job.generation != m_generation) {
            // The list changed since the last look: take the shelf's files afresh.
            job.shelfUrls.clear();
            for (const ShelfFile &f : std::as_const(target.files))
                job.shelfUrls.insert(f.url);
            job.haveUrls = true;
        }
        QSet<QUrl> taken;
        for (const AddedEntry &entry : batch) {
            if (job.limit >= 1 && target.files.size() >= job.limit)
                break;
            if (job.shelfUrls.contains(entry.file.url) || taken.contains(entry.file.url))
                continue;
            target.files.append(entry.file);
            taken.insert(entry.file.url);
            taken.insert(entry.resolved);
            ++added;
        }
        if (added > 0) {
            for (qsizetype i = target.files.size() - added; i < target.files.size(); ++i)
                job.shelfUrls.insert(target.files[i].url);
            shelvesDidChange({shelfID});
            job.generation = m_generation;
        }
    }
    if (last)
        m_addJobs.erase(jobIt);
    if (added > 0)
        emit filesAdded(shelfID, added);
    if (last)
        emit addFilesFinished(shelfID);
}

void ShelfManager::moveFiles(const QList<ShelfFile> &files, const QUuid &fromShelfID, const QUuid &toShelfID)
{
    const int from = indexOfShelf(fromShelfID);
    const int to = indexOfShelf(toShelfID);
    if (from < 0 || to < 0 || from == to || files.isEmpty())
        return;
    // Only entries that really were on the source shelf move, in the order given.
    Shelf &source = m_shelves[from];
    QSet<std::pair<QUuid, QUrl>> wanted;
    for (const ShelfFile &f : files)
        wanted.insert({f.id, f.url});
    QHash<std::pair<QUuid, QUrl>, ShelfFile> taken;
    source.files.removeIf([&](const ShelfFile &f) {
        if (!wanted.contains({f.id, f.url}))
            return false;
        taken.insert({f.id, f.url}, f);
        return true;
    });
    if (taken.isEmpty())
        return;
    QList<ShelfFile> moving;
    for (const ShelfFile &f : files) {
        const auto it = taken.constFind({f.id, f.url});
        if (it != taken.constEnd()) {
            moving.append(*it);
            taken.erase(it);
        }
    }

    Shelf &target = m_shelves[to];
    QSet<QUrl> targetUrls;
    for (const ShelfFile &f : std::as_const(target.files))
        targetUrls.insert(f.url);
    for (const ShelfFile &f : std::as_const(moving)) {
        if (targetUrls.contains(f.url))
            continue;
        targetUrls.insert(f.url);
        target.files.append(f);
    }
    shelvesDidChange({fromShelfID, toShelfID});
    saveShelves();
}

bool ShelfManager::isOwnedFile(const QUrl &url) const
{
    const QByteArray path = FilePath::standardized(FilePath::bytes(url));
    if (path.isEmpty() || !path.startsWith('/'))
        return false;
    // Owned files lie inside "Shelves/<ID>/" for the id of a shelf we have; the stored
    // folder location of a shelf plays no part.
    const QByteArray root = FilePath::standardized(ShelfFolder::shelvesRootBytes());
    if (!path.startsWith(root + '/'))
        return false;
    const qsizetype from = root.size() + 1;
    const qsizetype slash = path.indexOf('/', from);
    if (slash < 0)
        return false;
    const QByteArray name = path.mid(from, slash - from);
    const QUuid id = QUuid::fromString(QLatin1String(name));
    if (id.isNull() || uuidString(id).toLatin1() != name || indexOfShelf(id) < 0)
        return false;
    // The text says "inside"; make sure no symbolic link inside the shelf folder leads the
    // path somewhere else.
    const QByteArray realFolder = realPath(root + '/' + name);
    const QByteArray realParent = realPath(FilePath::parentPath(path));
    if (realFolder.isEmpty() || realParent.isEmpty())
        return false;
    return realParent == realFolder || realParent.startsWith(realFolder + '/');
}

bool ShelfManager::deleteOwnedFile(const QUrl &url)
{
    if (!isOwnedFile(url))
        return false;
    return ShelfFolder::removeTree(FilePath::standardized(FilePath::bytes(url)));
}

void ShelfManager::removeFiles(const QUuid &shelfID, const QSet<QUuid> &fileIDs, bool deleteOwnedFiles)
{
    const int index = indexOfShelf(shelfID);
    if (index < 0 || fileIDs.isEmpty())
        return;
    QList<ShelfFile> removed;
    m_shelves[index].files.removeIf([&](const ShelfFile &f) {
        if (!fileIDs.contains(f.id))
            return false;
        removed.append(f);
        return true;
    });
    if (removed.isEmpty())
        return;
    shelvesDidChange({shelfID});
    bool deleted = false;
    if (deleteOwnedFiles)
        for (const ShelfFile &f : std::as_const(removed))
            deleted |= deleteOwnedFile(f.url);
    if (deleted)
        saveShelves(); // the file is gone from disk: do not wait for the debounce
}

// ---- direct edits ----

bool ShelfManager::updateShelf(const QUuid &id, const std::function<void(Shelf &)> &edit)
{
    const int index = indexOfShelf(id);
    if (index < 0)
        return false;
    Shelf &s = m_shelves[index];
    edit(s);
    s.id = id;
    shelvesDidChange({id});
    return true;
}

void ShelfManager::setShelves(const QList<Shelf> &shelves)
{
    m_shelves = shelves;
    touchAllShelves();
    shelvesDidChange();
}

bool ShelfManager::renameShelf(const QUuid &id, const QString &name)
{
    return updateShelf(id, [&name](Shelf &s) { s.name = name; });
}

bool ShelfManager::moveShelf(int from, int to)
{
    if (from < 0 || from >= m_shelves.size() || to < 0 || to >= m_shelves.size())
        return false;
    if (from != to) {
        m_shelves.move(from, to);
        shelvesDidChange();
    }
    return true;
}
