#include "tools/favorites/FavoriteRunner.h"

#include "conversion/ConversionPresetOptions.h"
#include "conversion/ConvertedShelf.h"
#include "conversion/LamePath.h"
#include "conversion/MediaBackend.h"
#include "model/ShelfManager.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "tools/archive/ArchiveRunner.h"
#include "tools/favorites/FavoriteRules.h"
#include "tools/flatten/FlattenEngine.h"
#include "tools/presets/PresetRules.h"
#include "tools/presets/PresetStore.h"
#include "tools/progress/ShelfProgressState.h"
#include "tools/rename/RenameEngine.h"
#include "tools/rename/ShelfRename.h"

#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent>

#include <atomic>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class TimerClock : public FavoriteClock
{
public:
    void after(int ms, QObject *context, std::function<void()> work) override
    {
        QTimer::singleShot(ms, context, std::move(work));
    }
};

// The Zip branch's side of the archive runner: the folder is known before the run starts,
// so the runner's own panels are never asked for; alerts and revealing go to the host.
class ArchiveHostBridge : public ArchiveRunHost
{
public:
    explicit ArchiveHostBridge(FavoriteRunHost *host) : m_host(host) {}
    void chooseSaveLocation(const QString &, const QString &, ArchiveFormat,
                            std::function<void(std::optional<QUrl>)> done) override
    {
        done(std::nullopt);
    }
    void chooseDestinationFolder(std::function<void(std::optional<QUrl>)> done) override { done(std::nullopt); }
    void reveal(const QList<QUrl> &urls) override { m_host->reveal(urls); }
    void showAlert(const QString &title, const QString &message) override { m_host->showAlert(title, message, {}); }

private:
    FavoriteRunHost *m_host;
};

// Why an output folder cannot take a run's results, or empty when it can.
QString folderProblem(const QUrl &folder, bool saved)
{
    const QByteArray path = FilePath::bytes(folder);
    const QString shown = FilePath::displayPath(folder);
    struct stat st;
    if (path.isEmpty() || ::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return saved ? QStringLiteral("The saved folder \"%1\" no longer exists.").arg(shown)
                     : QStringLiteral("The folder \"%1\" does not exist.").arg(shown);
    if (::access(path.constData(), W_OK | X_OK) != 0)
        return QStringLiteral("The folder \"%1\" cannot be written to.").arg(shown);
    return {};
}

} // namespace

FavoriteClock &FavoriteClock::timers()
{
    static TimerClock clock;
    return clock;
}

FavoriteRunner::FavoriteRunner(const QUuid &shelfId, Context context, QObject *parent)
    : QObject(parent), m_shelfId(shelfId), m_context(std::move(context)), m_progress(m_context.progress)
{
    if (!m_progress)
        m_progress = new ShelfProgressState(this);
    // The mark a favorite run left belongs to it until the ring is idle again or another
    // tool starts.
    connect(m_progress, &ShelfProgressState::changed, this, [this] {
        if (!m_progressMarkIsOurs || m_runningFavoriteID)
            return;
        if (m_progress->phase() == ShelfProgressState::Phase::idle || m_progress->isRunning()) {
            m_progressMarkIsOurs = false;
            emit changed();
        }
    });
}

bool FavoriteRunner::isFavoriteActivity() const
{
    return m_runningFavoriteID.has_value() || m_progressMarkIsOurs;
}

FavoriteRunner::~FavoriteRunner() = default;

ShelfProgressState *FavoriteRunner::progress() const
{
    return m_progress;
}

FavoriteClock &FavoriteRunner::clock() const
{
    return m_context.clock ? *m_context.clock : FavoriteClock::timers();
}

QString FavoriteRunner::shelfName() const
{
    const Shelf *shelf = m_context.manager->shelf(m_shelfId);
    return shelf ? shelf->name : QString();
}

FavoriteRunFeedback FavoriteRunner::feedback(const QUuid &favoriteId) const
{
    return m_favoriteFeedback.value(favoriteId, FavoriteRunFeedback::idle);
}

void FavoriteRunner::setMark(const QUuid &favoriteId, FavoriteRunFeedback feedback)
{
    if (feedback == FavoriteRunFeedback::idle)
        m_favoriteFeedback.remove(favoriteId);
    else
        m_favoriteFeedback.insert(favoriteId, feedback);
    emit changed();
}

// ---- click and queue ---------------------------------------------------------------------

bool FavoriteRunner::favoriteTapped(const QUuid &favoriteId, const QSet<QUuid> &selectedFileIds)
{
    const Shelf *shelf = m_context.manager->shelf(m_shelfId);
    if (!shelf)
        return false;
    // The favorite as it is now (an edit since the button was drawn counts).
    const auto it = std::find_if(shelf->favorites.cbegin(), shelf->favorites.cend(),
                                 [&](const ShelfFavoriteAction &f) { return f.id == favoriteId; });
    if (it == shelf->favorites.cend())
        return false;
    const QList<ShelfFile> files = FavoriteRules::filesForClick(it->scope, shelf->files, selectedFileIds);
    if (files.isEmpty())
        return false;
    QueuedFavoriteRun run{QUuid::createUuid(), *it, files};
    const bool waits = m_runningFavoriteID.has_value() || !m_favoriteQueue.isEmpty();
    m_favoriteQueue.append(std::move(run));
    if (waits) {
        emit runQueued(favoriteId);
        emit changed();
    }
    startNext();
    return true;
}

void FavoriteRunner::startNext()
{
    // A run that ends at once (a missing preset, a rename) finishes inside runFavorite; the
    // next one starts from this loop rather than from deeper and deeper calls.
    if (m_starting) {
        m_startAgain = true;
        return;
    }
    m_starting = true;
    do {
        m_startAgain = false;
        if (!m_runningFavoriteID && !m_favoriteQueue.isEmpty())
            runFavorite(m_favoriteQueue.takeFirst());
    } while (m_startAgain);
    m_starting = false;
}

void FavoriteRunner::clearWaiting()
{
    if (m_favoriteQueue.isEmpty())
        return;
    m_favoriteQueue.clear();
    emit changed();
}

bool FavoriteRunner::canCancelCurrent() const
{
    return m_runningFavoriteID && m_progress && m_progress->canCancel();
}

void FavoriteRunner::cancelCurrent()
{
    if (m_runningFavoriteID && m_progress)
        m_progress->cancel();
}

void FavoriteRunner::shelfDeleted()
{
    clearWaiting();
    cancelCurrent();
}

// ---- one run -----------------------------------------------------------------------------

QList<ShelfFile> FavoriteRunner::currentFiles(const QList<ShelfFile> &files) const
{
    QList<ShelfFile> out;
    const Shelf *shelf = m_context.manager->shelf(m_shelfId);
    if (!shelf)
        return out;
    QHash<QUuid, const ShelfFile *> byId;
    for (const ShelfFile &file : shelf->files)
        byId.insert(file.id, &file);
    for (const ShelfFile &file : files)
        if (const ShelfFile *now = byId.value(file.id))
            out.append(*now);
    return out;
}

void FavoriteRunner::beginOwnProgress(const QString &label, std::function<void()> cancel)
{
    m_favoriteProgressIsManagedByTool = false;
    if (!m_progress)
        return;
    m_progress->setLabel(label);
    m_progress->setFileCountLabel(QString());
    m_progress->setEtaString(QString());
    m_progress->setRunning(std::nullopt);
    if (cancel)
        m_progress->setCancelHandler(std::move(cancel));
    else
        m_progress->clearCancelHandler();
}

void FavoriteRunner::fail(const ShelfFavoriteAction &favorite, const QString &message, const QString &details)
{
    m_context.host->showAlert(FavoriteRules::failureTitle(favorite.tool), message, details);
    finishFavoriteRun(favorite, FavoriteOutcome::failure(details.isEmpty() ? message : message + QStringLiteral(": ") + details));
}

void FavoriteRunner::runFavorite(const QueuedFavoriteRun &run)
{
    const ShelfFavoriteAction &favorite = run.favorite;
    m_runningFavoriteID = favorite.id;
    m_runningFavoriteLabel = FavoriteRules::label(favorite);
    m_favoriteProgressIsManagedByTool = false;
    m_lastFailures.remove(favorite.id);
    setMark(favorite.id, FavoriteRunFeedback::running);

    // A preset deleted meanwhile never starts the tool; the mark says so, without an alert.
    if (!FavoriteRules::presetExists(*m_context.presets, favorite))
        return finishFavoriteRun(favorite, FavoriteOutcome::failure(FavoriteRules::missingPresetMessage(favorite.tool)));

    QueuedFavoriteRun current = run;
    current.files = filesStillOnShelf(favorite, run.files);
    if (current.files.isEmpty())
        return;

    switch (favorite.tool) {
    case ShelfFavoriteToolKind::rename: return runRename(current);
    case ShelfFavoriteToolKind::flatten: return runFlatten(current);
    case ShelfFavoriteToolKind::archive: return runArchive(current);
    case ShelfFavoriteToolKind::convert: return runConvert(current);
    }
}

void FavoriteRunner::finishFavoriteRun(const ShelfFavoriteAction &favorite, const FavoriteOutcome &outcome)
{
    const QUuid id = favorite.id;
    if (m_progress && !m_favoriteProgressIsManagedByTool)
        m_progress->clearCancelHandler();
    switch (outcome.kind) {
    case FavoriteOutcome::Kind::success: {
        if (m_progress && !m_favoriteProgressIsManagedByTool && m_progress->isRunning())
            m_progress->markDone();
        m_favoriteFeedback.insert(id, FavoriteRunFeedback::success);
        m_pendingFavoriteClearIDs.insert(id);
        QPointer<FavoriteRunner> self(this);
        clock().after(successMarkMs, this, [self, id] {
            self->m_pendingFavoriteClearIDs.remove(id);
            if (self->feedback(id) == FavoriteRunFeedback::success)
                self->setMark(id, FavoriteRunFeedback::idle);
        });
        break;
    }
    case FavoriteOutcome::Kind::failure: {
        m_lastFailures.insert(id, outcome.message);
        m_favoriteFeedback.insert(id, FavoriteRunFeedback::failure);
        ++m_favoriteShakeCounts[id];
        if (m_progress)
            m_progress->markError();
        m_pendingFavoriteClearIDs.insert(id);
        QPointer<FavoriteRunner> self(this);
        clock().after(failureMarkMs, this, [self, id] {
            self->m_pendingFavoriteClearIDs.remove(id);
            if (self->feedback(id) == FavoriteRunFeedback::failure)
                self->setMark(id, FavoriteRunFeedback::idle);
        });
        emit runFailed(id, outcome.message);
        break;
    }
    case FavoriteOutcome::Kind::cancelled:
        m_favoriteFeedback.remove(id);
        if (m_progress && !m_favoriteProgressIsManagedByTool && m_progress->isRunning())
            m_progress->reset();
        break;
    }
    m_progressMarkIsOurs = m_progress && (m_progress->phase() == ShelfProgressState::Phase::done
                                          || m_progress->phase() == ShelfProgressState::Phase::error);
    m_runningFavoriteID.reset();
    m_runningFavoriteLabel.clear();
    m_favoriteProgressIsManagedByTool = false;
    emit changed();
    startNext();
}

// ---- output folder -----------------------------------------------------------------------

void FavoriteRunner::resolveOutputFolder(const ShelfFavoriteAction &favorite, const QString &toolName,
                                         FolderDone done)
{
    if (favorite.destinationMode == ShelfFavoriteDestinationMode::savedFolder) {
        if (!favorite.destination)
            return fail(favorite, QStringLiteral("No saved folder is set for this favorite; choose one with "
                                                 "\"Choose Saved Folder…\"."));
        const QUrl url = favorite.destination->resolvedURL();
        if (const QString problem = folderProblem(url, true); !problem.isEmpty())
            return fail(favorite, problem);
        return done(FavoriteResolvedFolder{url});
    }
    QPointer<FavoriteRunner> self(this);
    m_context.host->chooseFolder(QStringLiteral("Choose ") + toolName + QStringLiteral(" output folder"),
                                 QStringLiteral("Choose Folder"),
                                 [self, favorite, done](std::optional<QUrl> chosen) {
                                     if (!self)
                                         return;
                                     if (!chosen)
                                         return self->finishFavoriteRun(favorite, FavoriteOutcome::cancelled());
                                     if (const QString problem = folderProblem(*chosen, false); !problem.isEmpty())
                                         return self->fail(favorite, problem);
                                     done(FavoriteResolvedFolder{*chosen});
                                 });
}

QList<ShelfFile> FavoriteRunner::filesStillOnShelf(const ShelfFavoriteAction &favorite, const QList<ShelfFile> &files)
{
    QList<ShelfFile> now = currentFiles(files);
    if (now.isEmpty())
        finishFavoriteRun(favorite,
                          FavoriteOutcome::failure(QStringLiteral("The files of this run are no longer on the shelf.")));
    return now;
}

// ---- the tools ---------------------------------------------------------------------------

void FavoriteRunner::runRename(const QueuedFavoriteRun &run)
{
    const ShelfFavoriteAction &favorite = run.favorite;
    const RenamePreset preset = *m_context.presets->renamePreset(favorite.presetID);
    // Only an expression in force can be invalid: with the simple face, or with "regular
    // expression" off, the find text is literal.
    if (RenameEngine::hasInvalidRegex(preset))
        return fail(favorite, QStringLiteral("The saved Rename preset contains an invalid regular expression."));
    beginOwnProgress(m_runningFavoriteLabel);
    QList<RenameFile> files;
    for (const ShelfFile &file : run.files)
        files.append({file.id, file.resolvedURL(), file.bookmarkData});
    const RenamePlan plan = RenameEngine::plannedNames(files, preset);
    const QStringList errors = ShelfRename::performRename(plan, *m_context.manager, m_shelfId);
    if (!errors.isEmpty())
        return fail(favorite, QStringLiteral("Some files could not be renamed"), errors.join(QLatin1Char('\n')));
    finishFavoriteRun(favorite, FavoriteOutcome::success());
}

void FavoriteRunner::runFlatten(const QueuedFavoriteRun &run)
{
    const ShelfFavoriteAction favorite = run.favorite;
    const FlattenPreset preset = *m_context.presets->flattenPreset(favorite.presetID);
    FlattenToolOptions options{AppSettings::instance().flattenDuplicateMode(), AppSettings::instance().flattenOperation()};
    PresetRules::applyFlatten(preset, options);
    QPointer<FavoriteRunner> self(this);
    resolveOutputFolder(favorite, QStringLiteral("Flatten"),
                        [self, run, favorite, options](const FavoriteResolvedFolder &folder) {
        // The files as they are now: the chooser may have been open for a while.
        const QList<ShelfFile> files = self->filesStillOnShelf(favorite, run.files);
        if (files.isEmpty())
            return;
        // Stopping from the queue's "Cancel Current" (or the shelf going away) ends the run
        // between two files.
        auto cancel = std::make_shared<std::atomic<bool>>(false);
        self->beginOwnProgress(self->m_runningFavoriteLabel, [cancel] { cancel->store(true); });
        FlattenEngine::shared().flatten(
            files, folder.url, options.duplicateMode, options.operation,
            [self, favorite, files, options](const FlattenResult &result) {
                if (!self)
                    return;
                if (result.cancelled && result.errors.isEmpty())
                    return self->finishFavoriteRun(favorite, FavoriteOutcome::cancelled());
                if (!result.errors.isEmpty())
                    return self->fail(favorite, FlattenEngine::summary(result), result.errors.join(QLatin1Char('\n')));
                // Moved items are off the shelf, as after the window's run (entries only).
                if (options.operation == FlattenOperation::move) {
                    QSet<QUuid> moved;
                    for (const ShelfFile &file : files)
                        moved.insert(file.id);
                    self->m_context.manager->removeFiles(self->m_shelfId, moved, /*deleteOwnedFiles=*/false);
                    self->m_context.manager->saveShelves();
                }
                self->finishFavoriteRun(favorite, FavoriteOutcome::success());
            },
            cancel);
    });
}

void FavoriteRunner::runArchive(const QueuedFavoriteRun &run)
{
    const ShelfFavoriteAction favorite = run.favorite;
    const ArchivePreset preset = *m_context.presets->archivePreset(favorite.presetID);
    // The saved defaults, then the preset, as the Zip window would have them.
    const AppSettings &settings = AppSettings::instance();
    ArchiveToolOptions options;
    options.format = settings.archiveFormat();
    options.compressionLevel = settings.compressionLevel();
    PresetRules::applyArchive(preset, options);
    const ArchiveJobOptions job = jobOptions(options);
    QPointer<FavoriteRunner> self(this);
    resolveOutputFolder(favorite, QStringLiteral("Zip"),
                        [self, run, favorite, job](const FavoriteResolvedFolder &folder) {
        const QList<ShelfFile> files = self->filesStillOnShelf(favorite, run.files);
        if (files.isEmpty())
            return;
        // The password goes on the clipboard before anything is made, so it is there to
        // paste wherever the archive is opened.
        if (job.format == ArchiveFormat::sevenZip && job.usePassword && !job.password.isEmpty())
            self->m_context.host->copyText(job.password);
        QList<QUrl> urls;
        for (const ShelfFile &file : files)
            urls.append(file.resolvedURL());
        auto bridge = std::make_shared<ArchiveHostBridge>(self->m_context.host.get());
        auto *runner = new ArchiveRunner(bridge.get(), self);
        runner->setToolPaths(self->m_context.archiveTools);
        runner->setProgressState(self->m_progress);
        runner->setProgressLabel(QStringLiteral("Zipping…"));
        self->m_favoriteProgressIsManagedByTool = true;
        connect(runner, &ArchiveRunner::finished, self,
                [self, favorite, bridge](ArchiveRunner::Outcome outcome, const QString &message) {
                    switch (outcome) {
                    case ArchiveRunner::Outcome::succeeded:
                        return self->finishFavoriteRun(favorite, FavoriteOutcome::success());
                    case ArchiveRunner::Outcome::failed:
                        // The runner has shown its "Export Failed" alert.
                        return self->finishFavoriteRun(favorite, FavoriteOutcome::failure(message));
                    case ArchiveRunner::Outcome::cancelled:
                        return self->finishFavoriteRun(favorite, FavoriteOutcome::cancelled());
                    }
                });
        runner->run(urls, proposedArchiveName(urls, self->shelfName()), job, folder.url);
    });
}

void FavoriteRunner::runConvert(const QueuedFavoriteRun &run)
{
    const ShelfFavoriteAction favorite = run.favorite;
    ConversionJobOptions options = conversionOptionsFromDefaults();
    applyConversionPreset(*m_context.presets->conversionPreset(favorite.presetID), options);
    options.outputFolder.reset();

    QPointer<FavoriteRunner> self(this);
    auto convert = [self, run, favorite](ConversionJobOptions options) {
        const QList<ShelfFile> files = self->filesStillOnShelf(favorite, run.files);
        if (files.isEmpty())
            return;
        QList<MediaSourceItem> items;
        QList<QUrl> urls;
        for (const ShelfFile &file : files) {
            urls.append(file.resolvedURL());
            items.append({urls.last(), {}});
        }
        // Scanning and probing take a moment; they can be stopped like the conversion.
        const LockedFlagPtr cancel = std::make_shared<LockedFlag>(false);
        self->beginOwnProgress(self->m_runningFavoriteLabel, [cancel] { cancel->set(true); });
        auto *watcher = new QFutureWatcher<QList<ResolvedMediaFile>>(self);
        connect(watcher, &QFutureWatcherBase::finished, self, [self, watcher, favorite, options, cancel, urls] {
            watcher->deleteLater();
            const QList<ResolvedMediaFile> media = watcher->result();
            if (cancel->value())
                return self->finishFavoriteRun(favorite, FavoriteOutcome::cancelled());
            if (media.isEmpty())
                return self->fail(favorite, QStringLiteral("None of the selected items contain supported media files."));
            QStringList missing;
            for (const ResolvedMediaFile &file : media) {
                const MediaModule module = mediaModuleFor(file.type);
                if (!mediaModuleReady(module) && !missing.contains(mediaModuleError(module)))
                    missing << mediaModuleError(module);
            }
            if (!missing.isEmpty())
                return self->fail(favorite, QStringLiteral("Perchbox cannot convert these files."),
                                  missing.join(QLatin1Char('\n')));
            ConversionExporter::Job job;
            job.files = media;
            job.options = options;
            job.stagingFolder = ConversionExporter::makeStagingFolder();
            if (job.stagingFolder.isEmpty())
                return self->fail(favorite, QStringLiteral("Conversion did not produce any output files."),
                                  QStringLiteral("The temporary folder for the conversion could not be made."));
            job.lamePath = defaultLamePath();
            job.cancel = cancel;
            job.progress = self->m_progress;
            job.sourceShelfName = self->shelfName();
            job.postNotification = self->m_context.conversionNotification;
            self->m_favoriteProgressIsManagedByTool = true;
            const QString name = job.sourceShelfName;
            const ConverterSet converters = self->m_context.converters.value_or(ConverterSet::standard());
            ConversionExporter::start(
                job,
                [self, favorite, cancel, urls, name](const QList<QUrl> &outputs) {
                    if (!self)
                        return;
                    const AppSettings &settings = AppSettings::instance();
                    applyConversionOutputs(*self->m_context.manager, self->m_shelfId, name, urls, outputs,
                                           settings.createConvertedShelf(), settings.clearShelfAfterConversion());
                    if (cancel->value())
                        return self->finishFavoriteRun(favorite, FavoriteOutcome::cancelled());
                    if (outputs.isEmpty())
                        return self->fail(favorite, QStringLiteral("Conversion did not produce any output files."));
                    self->finishFavoriteRun(favorite, FavoriteOutcome::success());
                },
                converters);
        });
        watcher->setFuture(QtConcurrent::run([items] {
            QList<ResolvedMediaFile> found = gatherMediaFiles(items);
            // The media modules the files need load here, off the main thread.
            for (const ResolvedMediaFile &file : found)
                loadMediaModule(mediaModuleFor(file.type));
            return found;
        }));
    };

    if (options.outputMode == ConversionOutputMode::overwrite)
        return convert(options);
    resolveOutputFolder(favorite, QStringLiteral("Convert"),
                        [options, convert](const FavoriteResolvedFolder &folder) mutable {
        options.outputFolder = folder.url;
        convert(options);
    });
}
