#include "app/cli/CliRunner.h"

#include "app/cli/FlattenDryRun.h"
#include "conversion/ConversionExporter.h"
#include "conversion/ConversionPresetOptions.h"
#include "conversion/LamePath.h"
#include "platform/AppBus.h"
#include "platform/AtomicFile.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "tools/archive/ArchiveRunner.h"
#include "tools/flatten/FileOps.h"
#include "tools/flatten/FlattenEngine.h"
#include "tools/presets/PresetRules.h"
#include "tools/presets/PresetStore.h"
#include "tools/progress/ShelfProgressState.h"
#include "tools/rename/RenameEngine.h"

#include <QFile>
#include <QFutureWatcher>
#include <QSet>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void out(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void err(const QString &line)
{
    std::fprintf(stderr, "perchbox: %s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

QString shown(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(bytes);
}

QByteArray absolutePath(const QByteArray &argument, const QByteArray &cwd)
{
    if (argument.startsWith("file:"))
        return FilePath::bytes(QUrl::fromEncoded(argument));
    return FilePath::standardized(argument.startsWith('/') ? argument : cwd + '/' + argument);
}

// The Zip tool's window has no folder of its own to write into; a run from here shows
// results as lines instead of the file manager and alerts.
class ConsoleArchiveHost : public ArchiveRunHost
{
public:
    void chooseSaveLocation(const QString &, const QString &, ArchiveFormat,
                            std::function<void(std::optional<QUrl>)> done) override
    {
        done(std::nullopt); // never asked: a destination folder is always given
    }
    void chooseDestinationFolder(std::function<void(std::optional<QUrl>)> done) override { done(std::nullopt); }
    void reveal(const QList<QUrl> &) override {}
    void showAlert(const QString &title, const QString &message) override
    {
        QString text = message;
        text.replace(QStringLiteral("\n\n"), QStringLiteral("\n"));
        err(title + QStringLiteral(": ") + text.replace(QLatin1Char('\n'), QStringLiteral("\n  ")));
    }
};

} // namespace

ConversionJobOptions conversionOptionsForPreset(const ConversionPreset &p)
{
    // The stored defaults under the preset, as in the Convert panel; the output folder
    // comes from the command line, never from the defaults.
    ConversionJobOptions o = conversionOptionsFromDefaults();
    o.outputFolder = {};
    applyConversionPreset(p, o);
    return o;
}

CliRunner::CliRunner(Cli::RunArguments args, QByteArray workingDirectory, PresetStore &store, QObject *parent)
    : QObject(parent), m_args(std::move(args)), m_cwd(std::move(workingDirectory)), m_store(store),
      m_progress(::isatty(STDERR_FILENO) == 1)
{
}

CliRunner::~CliRunner() = default;

void CliRunner::finish(int status)
{
    if (m_done)
        return;
    m_done = true;
    m_progress.clear();
    m_cancel = nullptr;
    if (m_interrupted && status == Cli::exitSuccess)
        status = Cli::exitInterrupted;
    // Anything the tool reported counts: a missing input fails the run.
    if (status == Cli::exitSuccess && m_someMissing)
        status = Cli::exitFailure;
    QTimer::singleShot(0, this, [this, status] { emit finished(status); });
}

void CliRunner::fail(const QString &message, int status)
{
    m_progress.clear();
    err(message);
    finish(status);
}

bool CliRunner::interrupt()
{
    m_interrupted = true;
    if (m_done)
        return true;
    if (m_cancel) {
        m_progress.clear();
        err(QStringLiteral("cancelling…"));
        m_cancel();
        return true;
    }
    return false;
}

void CliRunner::stopNow()
{
    if (m_done || m_args.tool == Cli::Tool::rename || m_args.tool == Cli::Tool::flatten)
        return;
    if (m_args.tool == Cli::Tool::convert)
        ConversionExporter::stopAllForQuit(0); // cancelled, staging folder removed
    m_progress.clear();
    err(QStringLiteral("stopped"));
    std::fflush(nullptr);
    ::_exit(Cli::exitInterrupted);
}

bool CliRunner::resolveFiles()
{
    for (const QByteArray &argument : std::as_const(m_args.files)) {
        QList<QByteArray> missing;
        const QList<QUrl> urls = AppBus::resolveArguments({argument}, m_cwd, &missing);
        if (urls.isEmpty()) {
            err(QStringLiteral("no such file or folder: %1").arg(shown(argument)));
            m_someMissing = true;
            continue;
        }
        if (m_files.contains(urls.first()))
            continue; // the same file twice is taken once, as on a shelf
        m_files << urls.first();
        m_shownNames << argument;
    }
    if (m_files.isEmpty()) {
        fail(QStringLiteral("none of the given files exist; nothing to do"), Cli::exitFailure);
        return false;
    }
    return true;
}

bool CliRunner::resolveOutputFolder(bool required)
{
    QByteArray folder;
    if (!m_args.output.isEmpty()) {
        folder = absolutePath(m_args.output, m_cwd);
    } else if (m_args.nextToFirst) {
        folder = FileOps::parentPath(FilePath::bytes(m_files.first()));
    } else if (required) {
        fail(QStringLiteral("run %1 needs an output folder: --output DIR (or --next-to-first)")
                 .arg(Cli::toolName(m_args.tool)),
             Cli::exitUsage);
        return false;
    } else {
        return true;
    }
    struct stat st;
    if (::stat(folder.constData(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            fail(QStringLiteral("the output %1 is not a folder").arg(shown(folder)), Cli::exitUsage);
            return false;
        }
        if (!m_args.dryRun && ::access(folder.constData(), W_OK | X_OK) != 0) {
            const int e = errno;
            fail(QStringLiteral("cannot write into the output folder %1: %2")
                     .arg(shown(folder), FileOps::errorDescription(e)),
                 Cli::exitFailure);
            return false;
        }
    } else if (!m_args.dryRun && m_args.tool != Cli::Tool::flatten) {
        // Flatten creates its destination itself (and reports when it cannot).
        if (const int e = FileOps::makePath(folder)) {
            fail(QStringLiteral("cannot create the output folder %1: %2").arg(shown(folder), FileOps::errorDescription(e)),
                 Cli::exitFailure);
            return false;
        }
    }
    m_outputFolder = FilePath::urlFromBytes(folder);
    return true;
}

void CliRunner::start()
{
    // The preset: stored by name, or a record in its JSON form.
    std::optional<CliPresets::AnyPreset> preset;
    QString error;
    if (m_args.hasPresetFile) {
        QByteArray json;
        bool read = false;
        if (m_args.presetFile == "-") {
            QFile in;
            read = in.open(stdin, QIODevice::ReadOnly);
            if (read)
                json = in.readAll();
        } else {
            read = readWholeFile(QString::fromLocal8Bit(absolutePath(m_args.presetFile, m_cwd)), &json);
        }
        if (!read)
            return fail(QStringLiteral("cannot read the preset file %1").arg(shown(m_args.presetFile)), Cli::exitUsage);
        preset = CliPresets::decode(m_args.tool, json,
                                    m_args.presetFile == "-" ? QStringLiteral("standard input") : shown(m_args.presetFile),
                                    &error);
    } else {
        preset = CliPresets::find(m_store, m_args.tool, m_args.presetName, &error);
    }
    if (!preset)
        return fail(error, Cli::exitUsage);

    if (!resolveFiles())
        return;

    switch (m_args.tool) {
    case Cli::Tool::rename: return runRename(std::get<RenamePreset>(*preset));
    case Cli::Tool::flatten: return runFlatten(std::get<FlattenPreset>(*preset));
    case Cli::Tool::zip: return runZip(std::get<ArchivePreset>(*preset));
    case Cli::Tool::convert: return runConvert(std::get<ConversionPreset>(*preset));
    }
}

// ---------------------------------------------------------------------------------------------
// Rename

void CliRunner::runRename(const RenamePreset &stored)
{
    RenamePreset preset;
    PresetRules::applyRename(stored, preset);
    if (RenameEngine::hasInvalidRegex(preset))
        return fail(QStringLiteral("the Rename preset contains an invalid regular expression"), Cli::exitFailure);

    QList<RenameFile> files;
    for (const QUrl &url : std::as_const(m_files))
        files << RenameFile{QUuid::createUuid(), url, {}};
    const RenamePlan plan = RenameEngine::plannedNames(files, preset);

    auto newNameOf = [&](const RenameFile &f) {
        return plan.value(f.id.toString(QUuid::WithoutBraces).toUpper(), RenameEngine::fileName(f.url));
    };
    auto shownName = [](const QString &name) { return shown(FileOps::encodeName(name)); };

    if (m_args.dryRun) {
        // The same checks as the real run, in its order: invalid names, then names taken on
        // disk or earlier in the plan. The exit status is the one the real run would have.
        QSet<QByteArray> taken;
        bool anyFails = false;
        for (qsizetype i = 0; i < files.size(); ++i) {
            const RenameFile &f = files.at(i);
            const QString oldName = RenameEngine::fileName(f.url);
            const QString newName = newNameOf(f);
            QString line = shown(m_shownNames.at(i)) + QStringLiteral(" → ") + shownName(newName);
            const QByteArray target = FileOps::parentPath(FilePath::bytes(f.url)) + '/' + FileOps::encodeName(newName);
            if (const QString reason = RenameEngine::invalidNameReason(newName); !reason.isEmpty()) {
                line = shown(m_shownNames.at(i)) + QStringLiteral(": ") + reason + QStringLiteral(" (would fail)");
                anyFails = true;
            } else if (FileOps::encodeName(newName) == FileOps::encodeName(oldName)) {
                line += QStringLiteral("  (unchanged)");
            } else {
                struct stat st;
                if (taken.contains(target) || ::lstat(target.constData(), &st) == 0) {
                    line += QStringLiteral("  (that name is taken; would fail)");
                    anyFails = true;
                }
            }
            taken.insert(target);
            out(line);
        }
        return finish(anyFails ? Cli::exitFailure : Cli::exitSuccess);
    }

    QList<RenameFile> renamed = files;
    const QStringList failures = RenameEngine::performRename(plan, renamed);
    for (qsizetype i = 0; i < renamed.size(); ++i) {
        if (renamed.at(i).url != files.at(i).url)
            out(shown(m_shownNames.at(i)) + QStringLiteral(" → ") + shownName(RenameEngine::fileName(renamed.at(i).url)));
    }
    if (!failures.isEmpty()) {
        err(QStringLiteral("Some files could not be renamed:"));
        for (const QString &line : failures)
            std::fprintf(stderr, "  %s\n", line.toUtf8().constData());
        return finish(Cli::exitFailure);
    }
    finish(Cli::exitSuccess);
}

// A preset written by a newer version (or by hand) may name a value this version does not
// know. A window keeps its own choice then; a run from the shell says so and does nothing,
// rather than zip where 7Z was asked or copy where a move was.
namespace {

template <typename E>
std::optional<QString> unknownValue(const char *key, const QString &raw)
{
    if (enumFromRaw<E>(raw))
        return std::nullopt;
    QStringList known;
    for (E value : allCases<E>())
        known << QLatin1Char('"') + rawValue(value) + QLatin1Char('"');
    return QStringLiteral("the preset's %1 \"%2\" is not one this version knows (%3)")
        .arg(QLatin1String(key), raw, known.join(QStringLiteral(", ")));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Flatten

void CliRunner::runFlatten(const FlattenPreset &preset)
{
    for (const auto &unknown : {unknownValue<FlattenDuplicateMode>("duplicateMode", preset.duplicateMode),
                                unknownValue<FlattenOperation>("operation", preset.operation)})
        if (unknown)
            return fail(*unknown, Cli::exitUsage);
    FlattenToolOptions options;
    PresetRules::applyFlatten(preset, options);
    if (!resolveOutputFolder(true))
        return;

    if (m_args.dryRun) {
        const FlattenPlan plan = FlattenDryRun::plan(m_files, *m_outputFolder, options.duplicateMode);
        for (const QString &line : FlattenDryRun::describe(plan, options.operation))
            out(line);
        return finish(FlattenDryRun::wouldFail(plan) ? Cli::exitFailure : Cli::exitSuccess);
    }

    m_progress.update({QStringLiteral("Flattening…"), std::nullopt,
                       m_files.size() == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(m_files.size()),
                       {}});
    QPointer<CliRunner> self(this);
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_cancel = [cancel] { cancel->store(true); };
    FlattenEngine::shared().flatten(
        m_files, *m_outputFolder, options.duplicateMode, options.operation,
        [self](const FlattenResult &result) {
            if (!self)
                return;
            self->m_progress.clear();
            for (const QString &line : result.errors)
                err(line);
            const QString summary = FlattenEngine::summary(result);
            if (result.cancelled) {
                err(QStringLiteral("cancelled: the files handled so far stay where they are; nothing is left half-copied")
                    + (summary.isEmpty() ? QString() : QStringLiteral(" (") + summary + QLatin1Char(')')));
                return self->finish(self->m_interrupted ? Cli::exitInterrupted : Cli::exitFailure);
            }
            if (result.errors.isEmpty())
                out(summary.isEmpty() ? QStringLiteral("Nothing to flatten") : summary);
            else
                err(summary);
            self->finish(result.errors.isEmpty() ? Cli::exitSuccess : Cli::exitFailure);
        },
        cancel);
}

// ---------------------------------------------------------------------------------------------
// Zip

void CliRunner::runZip(const ArchivePreset &preset)
{
    for (const auto &unknown : {unknownValue<ArchiveFormat>("format", preset.format),
                                unknownValue<CompressionLevel>("compressionLevel", preset.compressionLevel)})
        if (unknown)
            return fail(*unknown, Cli::exitUsage);
    ArchiveToolOptions tool;
    PresetRules::applyArchive(preset, tool);
    ArchiveJobOptions options;
    options.format = tool.format;
    options.level = tool.compressionLevel;
    options.usePassword = tool.usePassword;
    options.password = tool.password;
    options.zipIndividually = tool.zipIndividually;
    options.removeOriginals = tool.removeOriginals;
    if (options.zipIndividually && m_args.archiveName)
        return fail(QStringLiteral("--name applies to one archive of all files, but this preset makes one archive "
                                   "per file"),
                    Cli::exitUsage);
    if (m_args.archiveName)
        if (const QString problem = ArchiveEngine::archiveNameProblem(*m_args.archiveName, options.format);
            !problem.isEmpty())
            return fail(QStringLiteral("--name: ") + problem, Cli::exitUsage);
    if (options.format == ArchiveFormat::sevenZip && ArchiveToolPaths().sevenZip().isEmpty())
        return fail(QStringLiteral("Export Failed: ") + QString(ArchiveEngine::sevenZipMissingMessage)
                                                            .replace(QStringLiteral("\n\n"), QStringLiteral(" ")),
                    Cli::exitFailure);
    if (!resolveOutputFolder(true))
        return;

    QString base = m_args.archiveName.value_or(QString());
    if (!m_args.archiveName) {
        // The first input's name: a file without its extension, a folder as it is.
        const QByteArray path = FilePath::bytes(m_files.first());
        QByteArray name = FileOps::lastComponent(path);
        struct stat st;
        if (::stat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode))
            if (const qsizetype dot = name.lastIndexOf('.'); dot > 0)
                name.truncate(dot);
        base = QString::fromLocal8Bit(name);
    }

    auto *host = new ConsoleArchiveHost;
    auto *runner = new ArchiveRunner(host, this);
    m_state = new ShelfProgressState(this);
    runner->setProgressState(m_state);
    watchProgress();
    QPointer<CliRunner> self(this);
    connect(runner, &ArchiveRunner::finished, this,
            [self, host](ArchiveRunner::Outcome outcome, const QString &, const QList<QUrl> &archives) {
                delete host;
                if (!self)
                    return;
                self->m_progress.clear();
                for (const QUrl &archive : archives)
                    out(FilePath::displayPath(archive));
                switch (outcome) {
                case ArchiveRunner::Outcome::succeeded: return self->finish(Cli::exitSuccess);
                case ArchiveRunner::Outcome::failed: return self->finish(Cli::exitFailure);
                case ArchiveRunner::Outcome::cancelled:
                    err(QStringLiteral("cancelled; no archive was left half-written"));
                    return self->finish(self->m_interrupted ? Cli::exitInterrupted : Cli::exitFailure);
                }
            });
    m_cancel = [runner = QPointer<ArchiveRunner>(runner)] {
        if (runner)
            runner->cancel();
    };
    runner->run(m_files, base, options, m_outputFolder);
}

// ---------------------------------------------------------------------------------------------
// Convert

void CliRunner::runConvert(const ConversionPreset &preset)
{
    const ConversionJobOptions options = conversionOptionsForPreset(preset);
    const bool overwrite = options.outputMode == ConversionOutputMode::overwrite;
    if (overwrite && (!m_args.output.isEmpty() || m_args.nextToFirst))
        return fail(QStringLiteral("the preset replaces the original files (output mode \"overwrite\"); "
                                   "--output does not apply"),
                    Cli::exitUsage);
    if (!resolveOutputFolder(!overwrite))
        return;

    m_progress.update({QStringLiteral("Scanning files…"), std::nullopt, {}, {}});
    QList<MediaSourceItem> items;
    for (const QUrl &url : std::as_const(m_files))
        items << MediaSourceItem{url, {}};
    auto *watcher = new QFutureWatcher<QList<ResolvedMediaFile>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, preset] {
        watcher->deleteLater();
        convertGathered(preset, watcher->result());
    });
    // Gathering (folder walks and probes) may take a while: off the event loop, and a Ctrl+C
    // meanwhile stops before anything is written.
    m_cancel = [this] { m_progress.clear(); };
    watcher->setFuture(QtConcurrent::run([items] { return gatherMediaFiles(items); }));
}

void CliRunner::convertGathered(const ConversionPreset &preset, const QList<ResolvedMediaFile> &media)
{
    m_progress.clear();
    if (m_interrupted) {
        err(QStringLiteral("cancelled before anything was converted"));
        return finish(Cli::exitInterrupted);
    }
    if (media.isEmpty())
        return fail(QStringLiteral("None of the given items contain supported audio, video, or image files."),
                    Cli::exitFailure);

    ConversionExporter::Job job;
    job.files = media;
    job.options = conversionOptionsForPreset(preset);
    if (job.options.outputMode != ConversionOutputMode::overwrite)
        job.options.outputFolder = m_outputFolder;
    job.stagingFolder = ConversionExporter::makeStagingFolder();
    if (job.stagingFolder.isEmpty())
        return fail(QStringLiteral("cannot create a staging folder for the conversion"), Cli::exitFailure);
    job.lamePath = defaultLamePath();
    job.cancel = std::make_shared<LockedFlag>(false);
    m_state = new ShelfProgressState(this);
    job.progress = m_state;
    job.sourceShelfName = QString();
    job.postNotification = false; // the outputs are listed here

    for (const ResolvedMediaFile &f : media)
        m_weights << ConversionExporter::weight(f);

    const int total = int(media.size());
    QPointer<CliRunner> self(this);
    watchProgress();
    LockedFlagPtr flag = job.cancel;
    m_cancel = [flag] { flag->set(true); };
    ConversionExporter::start(
        job, ConversionExporter::ReportCompletion([self, total](const ConversionReport &report) {
            if (!self)
                return;
            self->m_progress.clear();
            for (const QUrl &url : report.outputs)
                out(FilePath::displayPath(url));
            for (const ConversionReport::Failure &failure : report.failures)
                err(FilePath::displayPath(failure.source) + QStringLiteral(": ") + failure.reason);
            if (report.cancelled) {
                err(QStringLiteral("cancelled after %1 of %2 files; no partial output was left")
                        .arg(report.outputs.size())
                        .arg(total));
                return self->finish(self->m_interrupted ? Cli::exitInterrupted : Cli::exitFailure);
            }
            if (report.outputs.size() < total) {
                err(QStringLiteral("%1 of %2 files converted").arg(report.outputs.size()).arg(total));
                return self->finish(Cli::exitFailure);
            }
            self->finish(Cli::exitSuccess);
        }));
}

// ---------------------------------------------------------------------------------------------
// Progress

void CliRunner::watchProgress()
{
    connect(m_state, &ShelfProgressState::changed, this, &CliRunner::showProgress);
}

void CliRunner::showProgress()
{
    if (!m_state || m_done || !m_state->isRunning())
        return;
    CliProgress::Status status;
    status.label = m_state->label();
    status.fraction = m_state->percent();
    status.remaining = m_state->etaString();
    if (!m_weights.isEmpty()) {
        // The file being converted: the one whose share of the total weight holds the fraction.
        double total = 0;
        for (double w : std::as_const(m_weights))
            total += w;
        const double done = status.fraction.value_or(0) * total;
        qsizetype index = 0;
        double cumulative = 0;
        for (; index < m_weights.size() - 1; ++index) {
            cumulative += m_weights.at(index);
            if (cumulative > done)
                break;
        }
        status.files = QStringLiteral("file %1/%2").arg(index + 1).arg(m_weights.size());
    } else {
        QString files = m_state->fileCountLabel();
        if (files.contains(QLatin1Char('/')))
            files.prepend(QStringLiteral("file "));
        status.files = files;
    }
    m_progress.update(status);
}
