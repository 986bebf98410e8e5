#include "conversion/ConversionExporter.h"

#include "conversion/StagingFolder.h"
#include "platform/DesktopNotifications.h"
#include "platform/FilePath.h"
#include "tools/flatten/FileOps.h"
#include "tools/progress/ShelfProgressState.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMetaObject>
#include <QMutex>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "a/b/c.wav" → "a/b"; "c.wav" → "".
QByteArray directoryPart(const QByteArray &relativePath)
{
    const int slash = relativePath.lastIndexOf('/');
    return slash < 0 ? QByteArray() : relativePath.left(slash);
}

QByteArray joinPath(const QByteArray &folder, const QByteArray &rest)
{
    if (rest.isEmpty())
        return folder;
    if (folder.endsWith('/'))
        return folder + rest;
    return folder + '/' + rest;
}

bool makePath(const QByteArray &folder)
{
    return FileOps::makePath(folder) == 0;
}

} // namespace

// ---------------------------------------------------------------------------------------

namespace {

// Makes its converter on first use (on the job's thread), so that a job loads only the
// media modules its files need.
class DeferredConverter : public MediaConverter
{
public:
    explicit DeferredConverter(std::unique_ptr<MediaConverter> (*make)()) : m_make(make) {}
    ConversionResult convert(const ConversionRequest &request) override
    {
        std::call_once(m_once, [this] { m_converter = m_make(); });
        return m_converter->convert(request);
    }

private:
    std::unique_ptr<MediaConverter> (*m_make)();
    std::once_flag m_once;
    std::unique_ptr<MediaConverter> m_converter;
};

} // namespace

ConverterSet ConverterSet::standard()
{
    return {std::make_shared<DeferredConverter>(&makeAudioConverter),
            std::make_shared<DeferredConverter>(&makeVideoConverter),
            std::make_shared<DeferredConverter>(&makeImageConverter)};
}

MediaType ConversionExporter::effectiveType(MediaType type, const ConversionJobOptions &options)
{
    if (type == MediaType::video && options.videoAsAudioOnly)
        return MediaType::audio;
    return type;
}

QString ConversionExporter::outputExtension(MediaType type, const ConversionJobOptions &options)
{
    switch (type) {
    case MediaType::audio: return fileExtension(options.audioFormat);
    case MediaType::video: return fileExtension(options.videoFormat);
    case MediaType::image: return fileExtension(options.imageFormat);
    }
    return {};
}

QByteArray ConversionExporter::outputName(const QByteArray &sourceName, const QString &extension)
{
    QList<QByteArray> pieces = sourceName.split('.');
    pieces.removeLast();
    QByteArray stem = pieces.join('.');
    if (stem.isEmpty())
        stem = sourceName;
    return stem + '.' + extension.toUtf8();
}

QByteArray ConversionExporter::numberedName(const QByteArray &name, int n)
{
    const int dot = name.lastIndexOf('.');
    const QByteArray number = QByteArray::number(n);
    if (dot <= 0)
        return name + ' ' + number;
    return name.left(dot) + ' ' + number + name.mid(dot);
}

QByteArray ConversionExporter::finalPath(const ResolvedMediaFile &file, const QByteArray &name,
                                         const ConversionJobOptions &options, bool createFolders)
{
    const QByteArray source = FilePath::bytes(file.url);
    const QByteArray sourceFolder = FilePath::parentPath(source);
    QByteArray folder = options.outputFolder && options.outputFolder->isLocalFile()
                            ? FilePath::standardized(FilePath::bytes(*options.outputFolder))
                            : sourceFolder;
    switch (options.outputMode) {
    case ConversionOutputMode::overwrite:
        return joinPath(sourceFolder, name);
    case ConversionOutputMode::flatFolder:
        return joinPath(folder, name);
    case ConversionOutputMode::mirrorTree: {
        const QByteArray sub = joinPath(folder, directoryPart(file.relativePathBytes));
        if (createFolders)
            makePath(sub);
        return joinPath(sub, name);
    }
    }
    return joinPath(folder, name);
}

double ConversionExporter::weight(const ResolvedMediaFile &file)
{
    if (file.type == MediaType::image)
        return 1.0;
    if (file.info && file.info->totalDurationSeconds)
        return *file.info->totalDurationSeconds;
    return 60.0;
}

ConversionExporter::Progress ConversionExporter::runningProgress(double completed, double total,
                                                                 double p, double s)
{
    const double done = completed + p;
    const double remaining = std::max(total - done, 0.0);
    Progress out;
    out.estimateSeconds = s > 0 ? remaining / s : 0.0;
    out.fraction = total > 0 ? std::min(done / total, 0.99) : 0.0;
    return out;
}

double ConversionExporter::finishedFraction(double completed, double total)
{
    return std::min(1.0, completed / std::max(total, 1.0));
}

QString ConversionExporter::notificationBody(int count, const QString &shelfName)
{
    return QString::number(count) + QStringLiteral(" file") + (count == 1 ? QString() : QStringLiteral("s"))
           + QStringLiteral(" ready on \"") + shelfName + kConvertedShelfSuffix + QLatin1Char('"');
}

QByteArray ConversionExporter::moveIntoPlace(const QByteArray &staged, const QByteArray &target,
                                             bool overwrite, QString *errorOut, const FileOps::StopRequest &stop)
{
    QString scratch;
    QString *error = errorOut ? errorOut : &scratch;
    struct stat st;
    if (::stat(staged.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("No converted file");
        return {};
    }
    const QByteArray folder = FilePath::parentPath(target);
    if (const int err = FileOps::makePath(folder)) {
        *error = QStringLiteral("Cannot create the folder %1: %2").arg(QFile::decodeName(folder), FileOps::errorDescription(err));
        return {};
    }

    if (overwrite) {
        // The original is gone only once the whole replacement is in place.
        if (const int err = FileOps::moveReplacing(staged, target, stop)) {
            *error = FileOps::errorDescription(err);
            return {};
        }
        return target;
    }

    // Never touch an existing file: "photo.png", "photo 2.png", "photo 3.png", …
    const QByteArray name = FilePath::lastComponent(target);
    for (int n = 1; n < 100000; ++n) {
        const QByteArray candidate = n == 1 ? target : joinPath(folder, numberedName(name, n));
        if (::lstat(candidate.constData(), &st) == 0)
            continue;
        const int err = FileOps::moveNew(staged, candidate, stop);
        if (err == 0)
            return candidate;
        if (err == EEXIST)
            continue; // taken in the meantime: the next number
        *error = FileOps::errorDescription(err);
        return {};
    }
    *error = QStringLiteral("No free name");
    return {};
}

QString ConversionExporter::makeStagingFolder()
{
    return StagingFolder::create();
}

namespace {

// Jobs run on a pool of their own, not on the global one that every quit waits for, and
// where they would queue behind the background model's warm-up, probes and bookmark work
// with nothing showing that a conversion waits. Nor does one job wait for another.
QThreadPool &jobPool()
{
    static QThreadPool pool;
    static const bool sized = [] {
        pool.setMaxThreadCount(64);
        return true;
    }();
    Q_UNUSED(sized);
    return pool;
}

// The running jobs, for a quit: their cancellation flags and staging folders.
struct RunningJob {
    LockedFlagPtr cancel;
    QString stagingFolder;
};
QMutex g_runningMutex;
QHash<const ConversionExporter *, RunningJob> g_running;

} // namespace

bool ConversionExporter::stopAllForQuit(int graceMs)
{
    QList<RunningJob> jobs;
    {
        QMutexLocker lock(&g_runningMutex);
        jobs = g_running.values();
    }
    for (const RunningJob &job : std::as_const(jobs)) {
        job.cancel->set(true);
        StagingFolder::remove(job.stagingFolder);
    }
    return jobPool().waitForDone(graceMs);
}

// ---------------------------------------------------------------------------------------

QStringList ConversionReport::failureLines() const
{
    QStringList lines;
    for (const Failure &f : failures)
        lines << QFileInfo(FilePath::displayPath(f.source)).fileName() + QStringLiteral(": ") + f.reason;
    return lines;
}

ConversionExporter::ConversionExporter(Job job, ReportCompletion completion, ConverterSet converters)
    : m_job(std::move(job)), m_completion(std::move(completion)), m_converters(std::move(converters))
{
    if (!m_job.cancel)
        m_job.cancel = std::make_shared<LockedFlag>(false);
}

ConversionExporter *ConversionExporter::start(Job job, Completion completion, ConverterSet converters)
{
    return start(std::move(job),
                 ReportCompletion([completion = std::move(completion)](const ConversionReport &report) {
                     if (completion)
                         completion(report.outputs);
                 }),
                 std::move(converters));
}

ConversionExporter *ConversionExporter::start(Job job, ReportCompletion completion, ConverterSet converters)
{
    auto *exporter = new ConversionExporter(std::move(job), std::move(completion), std::move(converters));
    if (ShelfProgressState *state = exporter->m_job.progress) {
        state->setLabel(QStringLiteral("Converting\u2026"));
        state->setEtaString(QString());
        LockedFlagPtr flag = exporter->m_job.cancel;
        state->setCancelHandler([flag] { flag->set(true); });
        state->setRunning(0.0);
    }
    {
        QMutexLocker lock(&g_runningMutex);
        g_running.insert(exporter, {exporter->m_job.cancel, exporter->m_job.stagingFolder});
    }
    jobPool().start([exporter] {
        exporter->runOnWorker();
        {
            QMutexLocker lock(&g_runningMutex);
            g_running.remove(exporter);
        }
        QMetaObject::invokeMethod(exporter, [exporter] { exporter->finish(); }, Qt::QueuedConnection);
    });
    return exporter;
}

void ConversionExporter::reportProgress(double fraction)
{
    // On the worker: the clock started with the run.
    const double elapsed = m_clock.isValid() ? m_clock.nsecsElapsed() / 1e9 : 0.0;
    QMetaObject::invokeMethod(this, [this, fraction, elapsed] {
        // The time left shows only once the rate has settled (the first seconds of an
        // encode say little about the rest).
        const std::optional<double> left = m_estimate.update(elapsed, fraction);
        const QString text = left ? ShelfProgressState::remainingTimeText(*left) : QString();
        if (ShelfProgressState *state = m_job.progress) {
            state->setRunning(fraction);
            state->setEtaString(text);
        }
        emit progressChanged(fraction, text);
    }, Qt::QueuedConnection);
}

void ConversionExporter::runOnWorker()
{
    m_clock.start();
    ConversionJobOptions options = m_job.options;
    QList<double> weights;
    double total = 0;
    bool images = false;
    for (const ResolvedMediaFile &file : m_job.files) {
        weights.append(weight(file));
        total += weights.last();
        images = images || effectiveType(file.type, options) == MediaType::image;
    }
    if (images) // a format this machine cannot write falls back to one it can
        options.imageFormat = writableImageFormat(options.imageFormat);
    double completed = 0;
    const QByteArray staging = QFile::encodeName(m_job.stagingFolder);
    if (staging.isEmpty() || !QFileInfo(m_job.stagingFolder).isDir()) {
        // No staging folder: nothing can be converted safely, and every file says so.
        for (const ResolvedMediaFile &file : m_job.files)
            m_report.failures.append({file.url, QStringLiteral("The temporary folder for the conversion could not be made")});
        return;
    }
    const FileOps::StopRequest stop = [flag = m_job.cancel] { return flag->value(); };

    for (qsizetype i = 0; i < m_job.files.size(); ++i) {
        if (m_job.cancel->value())
            break;
        const ResolvedMediaFile &file = m_job.files[i];
        const MediaType type = effectiveType(file.type, options);
        const QString extension = outputExtension(type, options);
        const QByteArray sourcePath = FilePath::bytes(file.url);
        const QByteArray sourceName = FilePath::lastComponent(sourcePath);
        const QByteArray name = outputName(sourceName, extension);
        const QByteArray staged = joinPath(joinPath(staging, directoryPart(file.relativePathBytes)), name);
        makePath(FilePath::parentPath(staged)); // a failure surfaces as a converter failure

        ConversionResult result;
        if (!isRegularMediaFile(sourcePath)) {
            // A pipe named like media would block the converter in open() for ever.
            result = ConversionResult::failure(::access(sourcePath.constData(), F_OK) == 0
                                                   ? kNotRegularFileMessage
                                                   : QStringLiteral("The file no longer exists"));
        } else {
            ConversionRequest request;
            request.source = file.url;
            request.stagedOutput = FilePath::urlFromBytes(staged);
            request.info = file.info;
            request.options = options;
            request.lamePath = m_job.lamePath;
            request.cancel = m_job.cancel;
            const double completedBefore = completed;
            request.progress = [this, completedBefore, total](double p, double s) {
                reportProgress(runningProgress(completedBefore, total, p, s).fraction);
            };
            MediaConverter *converter = type == MediaType::audio   ? m_converters.audio.get()
                                        : type == MediaType::video ? m_converters.video.get()
                                                                   : m_converters.image.get();
            result = converter ? converter->convert(request) : ConversionResult::failure(QStringLiteral("No converter"));
        }

        if (m_job.cancel->value())
            break; // the staged result goes with the staging folder

        completed += weights[i];
        reportProgress(finishedFraction(completed, total));
        if (!result.ok) {
            ::unlink(staged.constData()); // a converter that failed leaves nothing to place
            m_report.failures.append({file.url, result.error.isEmpty() ? QStringLiteral("The conversion failed")
                                                                      : result.error});
            continue;
        }
        const QByteArray target = finalPath(file, name, options, true);
        QString error;
        const QByteArray placed = moveIntoPlace(staged, target, options.outputMode == ConversionOutputMode::overwrite,
                                                &error, stop);
        if (!placed.isEmpty()) {
            m_report.outputs.append(FilePath::urlFromBytes(placed));
            m_report.convertedSources.append(file.url);
        } else if (!m_job.cancel->value()) {
            m_report.failures.append({file.url, QStringLiteral("The converted file could not be put in place: ") + error});
        }
    }
    m_report.cancelled = m_job.cancel->value();
    StagingFolder::remove(m_job.stagingFolder);
}

void ConversionExporter::finish()
{
    if (ShelfProgressState *state = m_job.progress) {
        state->clearCancelHandler();
        state->setEtaString(QString());
        state->markDone();
    }
    if (!m_report.outputs.isEmpty() && m_job.postNotification)
        DesktopNotifications::notifyCompletion(QStringLiteral("Conversion Complete"),
                                                  notificationBody(int(m_report.outputs.size()), m_job.sourceShelfName));
    emit finished(m_report.outputs);
    if (m_completion)
        m_completion(m_report);
    deleteLater();
}
