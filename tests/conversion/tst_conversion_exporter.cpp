// The conversion job: output names and places in the three modes, collisions, overwrite
// safety, cancellation between files, progress arithmetic, staging clean-up.
#include <vips/vips.h>

#include "MediaTestSupport.h"

#include "conversion/ConversionExporter.h"
#include "conversion/ConvertedShelf.h"
#include "platform/FilePath.h"
#include "FileSystemFaults.h"
#include "tools/progress/ShelfProgressState.h"

#include <QEventLoop>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThreadPool>
#include <QTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace MediaTestSupport;

namespace {

// Writes "<tag>:<source file name>" to the staged output; fails for names containing
// "fail"; can press Cancel while converting a given file.
class RecordingConverter : public MediaConverter
{
public:
    explicit RecordingConverter(QByteArray tag) : m_tag(std::move(tag)) {}
    ConversionResult convert(const ConversionRequest &request) override
    {
        QMutexLocker lock(&m_mutex);
        const QString source = FilePath::displayPath(request.source);
        calls.append(QFileInfo(source).fileName());
        if (request.progress && request.info) { // media with a duration
            request.progress(5, 10);
            request.progress(10, 0);
        }
        if (cancelOnCall == calls.size())
            request.cancel->set(true);
        if (source.contains("fail"))
            return ConversionResult::failure("asked to fail");
        QFile out(FilePath::displayPath(request.stagedOutput));
        if (!out.open(QIODevice::WriteOnly))
            return ConversionResult::failure(out.errorString());
        out.write(m_tag + ':' + QFileInfo(source).fileName().toUtf8());
        stagedSeen.append(FilePath::displayPath(request.stagedOutput));
        return ConversionResult::success();
    }
    QStringList calls;
    QStringList stagedSeen;
    int cancelOnCall = -1;

private:
    QMutex m_mutex;
    QByteArray m_tag;
};

} // namespace

class ConversionExporterTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void outputNames();
    void progressArithmetic();
    void notificationText();
    void flatModeCollisions();
    void mirrorTreeMode();
    void overwriteMode();
    void overwriteKeepsSourceWhenConversionFails();
    void unwritableOutputFolderFailsEachFile();
    void outputsSurviveFileSystemsWithoutRenameAt2();
    void everyFileThatProducesNothingSaysWhy();
    void specialFilesAreRefusedUnopened();
    void jobRunsWhileThePoolIsBusy();
    void clearingKeepsWhatWasNotConverted();
    void cancelDuringSecondOfFive();
    void missingStagingFolderConvertsNothing();
    void progressStateAndWeights();
    void realImageJob();

private:
    struct Run {
        QList<QUrl> outputs;
        QString staging;
        ConversionReport report;
        bool finished = false;
    };
    Run runJob(const QList<ResolvedMediaFile> &files, ConversionJobOptions options,
               std::shared_ptr<RecordingConverter> converter, ShelfProgressState *progress = nullptr,
               LockedFlagPtr cancel = {});
    QString path(const QString &rel) const { return m_dir.filePath(rel); }
    QList<ResolvedMediaFile> gather(const QStringList &items);
    QTemporaryDir m_dir;
};

void ConversionExporterTest::initTestCase()
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("xdg-data")));
}

QList<ResolvedMediaFile> ConversionExporterTest::gather(const QStringList &items)
{
    QList<MediaSourceItem> sources;
    for (const QString &item : items)
        sources.append({QUrl::fromLocalFile(path(item)), {}});
    return gatherMediaFiles(sources, false);
}

ConversionExporterTest::Run ConversionExporterTest::runJob(const QList<ResolvedMediaFile> &files,
                                                           ConversionJobOptions options,
                                                           std::shared_ptr<RecordingConverter> converter,
                                                           ShelfProgressState *progress, LockedFlagPtr cancel)
{
    ConversionExporter::Job job;
    job.files = files;
    job.options = options;
    job.stagingFolder = ConversionExporter::makeStagingFolder();
    job.cancel = cancel ? cancel : std::make_shared<LockedFlag>(false);
    job.progress = progress;
    job.sourceShelfName = "Music";
    job.postNotification = false;
    Run run;
    run.staging = job.stagingFolder;
    QEventLoop loop;
    auto done = std::make_shared<bool>(false);
    ConversionExporter::start(job, ConversionExporter::ReportCompletion([&run, &loop, done](const ConversionReport &report) {
        run.outputs = report.outputs;
        run.report = report;
        run.finished = true;
        *done = true;
        loop.quit();
    }), ConverterSet{converter, converter, converter});
    if (!*done) {
        QTimer::singleShot(60000, &loop, &QEventLoop::quit); // a job that never ends fails the test
        loop.exec();
    }
    return run;
}

void ConversionExporterTest::outputNames()
{
    QCOMPARE(ConversionExporter::outputName("my.photo.png", "jpg"), QByteArray("my.photo.jpg"));
    QCOMPARE(ConversionExporter::outputName("name", "wav"), QByteArray("name.wav"));
    QCOMPARE(ConversionExporter::outputName(".hidden", "wav"), QByteArray(".hidden.wav"));
    QCOMPARE(ConversionExporter::outputName("trailing.", "mp3"), QByteArray("trailing.mp3"));
    QCOMPARE(ConversionExporter::numberedName("photo.png", 2), QByteArray("photo 2.png"));
    QCOMPARE(ConversionExporter::numberedName("a.b.mp3", 3), QByteArray("a.b 3.mp3"));
    QCOMPARE(ConversionExporter::numberedName("README", 2), QByteArray("README 2"));

    ConversionJobOptions o;
    o.audioFormat = AudioOutputFormat::m4a;
    o.videoFormat = VideoOutputFormat::prores;
    o.imageFormat = ImageOutputFormat::jpeg;
    QCOMPARE(ConversionExporter::outputExtension(MediaType::audio, o), QStringLiteral("m4a"));
    QCOMPARE(ConversionExporter::outputExtension(MediaType::video, o), QStringLiteral("mov"));
    QCOMPARE(ConversionExporter::outputExtension(MediaType::image, o), QStringLiteral("jpg"));
    QCOMPARE(ConversionExporter::effectiveType(MediaType::video, o), MediaType::video);
    o.videoAsAudioOnly = true;
    QCOMPARE(ConversionExporter::effectiveType(MediaType::video, o), MediaType::audio);
    QCOMPARE(ConversionExporter::effectiveType(MediaType::image, o), MediaType::image);
}

void ConversionExporterTest::progressArithmetic()
{
    // Three 10-minute files, the second half-way at 30× speed.
    auto p = ConversionExporter::runningProgress(600, 1800, 300, 30);
    QCOMPARE(p.fraction, 0.5);
    QCOMPARE(p.estimateSeconds, 30.0);
    QCOMPARE(ShelfProgressState::remainingTimeText(p.estimateSeconds), QStringLiteral("~30s remaining"));
    QCOMPARE(ShelfProgressState::remainingTimeText(187.4), QStringLiteral("~3:07 remaining"));
    QCOMPARE(ShelfProgressState::remainingTimeText(5), QString());
    // Speed 0: no estimate.
    p = ConversionExporter::runningProgress(600, 1800, 300, 0);
    QCOMPARE(p.estimateSeconds, 0.0);
    // Never more than 0.99 while running, even past the end.
    p = ConversionExporter::runningProgress(1700, 1800, 200, 1);
    QCOMPARE(p.fraction, 0.99);
    QCOMPARE(p.estimateSeconds, 0.0);
    // After the first of three: one third; tiny totals do not blow up.
    QCOMPARE(ConversionExporter::finishedFraction(600, 1800), 1.0 / 3.0);
    QCOMPARE(ConversionExporter::finishedFraction(0.5, 0.5), 0.5); // divided by max(total, 1)
    QCOMPARE(ConversionExporter::runningProgress(0, 0, 0, 0).fraction, 0.0);

    ResolvedMediaFile audio;
    audio.type = MediaType::audio;
    QCOMPARE(ConversionExporter::weight(audio), 60.0); // duration unknown
    audio.info = MediaInfo{};
    audio.info->totalDurationSeconds = 12.5;
    QCOMPARE(ConversionExporter::weight(audio), 12.5);
    ResolvedMediaFile image;
    image.type = MediaType::image;
    QCOMPARE(ConversionExporter::weight(image), 1.0);
}

void ConversionExporterTest::notificationText()
{
    QCOMPARE(ConversionExporter::notificationBody(3, "Music"),
             QString::fromUtf8("3 files ready on \"Music \u2014 Converted\""));
    QCOMPARE(ConversionExporter::notificationBody(1, "X"), QString::fromUtf8("1 file ready on \"X \u2014 Converted\""));
}

void ConversionExporterTest::flatModeCollisions()
{
    QVERIFY(writeFile(path("flat/x/a.wav"), "1"));
    QVERIFY(writeFile(path("flat/y/a.wav"), "2"));
    QVERIFY(writeFile(path("flat/z/a.wav"), "3"));
    QVERIFY(writeFile(path("flatOut/a 2.mp3"), "old")); // taken already: never touched
    ConversionJobOptions o;
    o.audioFormat = AudioOutputFormat::mp3;
    o.outputMode = ConversionOutputMode::flatFolder;
    o.outputFolder = QUrl::fromLocalFile(path("flatOut"));
    auto conv = std::make_shared<RecordingConverter>("c");
    const Run run = runJob(gather({"flat/x/a.wav", "flat/y/a.wav", "flat/z/a.wav"}), o, conv);
    QCOMPARE(run.outputs.size(), 3);
    QCOMPARE(run.outputs[0].toLocalFile(), path("flatOut/a.mp3"));
    QCOMPARE(run.outputs[1].toLocalFile(), path("flatOut/a 3.mp3"));
    QCOMPARE(run.outputs[2].toLocalFile(), path("flatOut/a 4.mp3"));
    QCOMPARE(readFile(path("flatOut/a 2.mp3")), QByteArray("old"));
    QVERIFY(!QFileInfo::exists(run.staging));
    // Sources untouched.
    QCOMPARE(readFile(path("flat/x/a.wav")), QByteArray("1"));

    // Without an output folder the source's own folder stands in.
    o.outputFolder.reset();
    const Run beside = runJob(gather({"flat/x/a.wav"}), o, conv);
    QCOMPARE(beside.outputs.size(), 1);
    QCOMPARE(beside.outputs[0].toLocalFile(), path("flat/x/a.mp3"));
}

void ConversionExporterTest::mirrorTreeMode()
{
    QVERIFY(writeFile(path("m/Album/disc1/t1.flac"), "1"));
    QVERIFY(writeFile(path("m/Album/disc2/t1.flac"), "2"));
    QVERIFY(writeFile(path("m/Album/cover.png"), "3"));
    ConversionJobOptions o;
    o.audioFormat = AudioOutputFormat::mp3;
    o.imageFormat = ImageOutputFormat::webp;
    o.outputMode = ConversionOutputMode::mirrorTree;
    o.outputFolder = QUrl::fromLocalFile(path("mOut"));
    auto conv = std::make_shared<RecordingConverter>("c");
    const Run run = runJob(gather({"m/Album"}), o, conv);
    QStringList got;
    for (const QUrl &u : run.outputs)
        got << u.toLocalFile();
    QCOMPARE(got, (QStringList{path("mOut/Album/cover.webp"), path("mOut/Album/disc1/t1.mp3"),
                               path("mOut/Album/disc2/t1.mp3")}));
    // Staged in the same sub-folders, so same-named files of different folders never meet.
    QCOMPARE(conv->stagedSeen.size(), 3);
    QVERIFY(conv->stagedSeen[1].endsWith("/Album/disc1/t1.mp3"));
    QVERIFY(conv->stagedSeen[1].startsWith(run.staging));
}

void ConversionExporterTest::overwriteMode()
{
    QVERIFY(writeFile(path("o/a.wav"), "original"));
    QVERIFY(writeFile(path("o/b.wav"), "b-original"));
    QVERIFY(writeFile(path("o/b.mp3"), "older mp3"));
    ConversionJobOptions o;
    o.outputMode = ConversionOutputMode::overwrite;
    o.outputFolder = QUrl::fromLocalFile(path("ignored"));
    o.audioFormat = AudioOutputFormat::wav;
    auto conv = std::make_shared<RecordingConverter>("new");
    Run run = runJob(gather({"o/a.wav"}), o, conv);
    QCOMPARE(run.outputs.size(), 1);
    QCOMPARE(run.outputs[0].toLocalFile(), path("o/a.wav"));
    QCOMPARE(readFile(path("o/a.wav")), QByteArray("new:a.wav")); // replaced in place

    o.audioFormat = AudioOutputFormat::mp3;
    run = runJob(gather({"o/b.wav"}), o, conv);
    QCOMPARE(run.outputs.size(), 1);
    QCOMPARE(readFile(path("o/b.mp3")), QByteArray("new:b.wav")); // older b.mp3 replaced
    QCOMPARE(readFile(path("o/b.wav")), QByteArray("b-original")); // source stays
    QVERIFY(!QFileInfo::exists(path("ignored")));
}

void ConversionExporterTest::overwriteKeepsSourceWhenConversionFails()
{
    QVERIFY(writeFile(path("of/fail.wav"), "precious"));
    QVERIFY(writeFile(path("of/ok.wav"), "ok-old"));
    ConversionJobOptions o;
    o.outputMode = ConversionOutputMode::overwrite;
    auto conv = std::make_shared<RecordingConverter>("new");
    const Run run = runJob(gather({"of/fail.wav", "of/ok.wav"}), o, conv);
    QCOMPARE(run.outputs.size(), 1); // the job went on after the failure
    QCOMPARE(readFile(path("of/fail.wav")), QByteArray("precious"));
    QCOMPARE(readFile(path("of/ok.wav")), QByteArray("new:ok.wav"));
    QCOMPARE(QDir(path("of")).entryList(QDir::Files | QDir::Hidden).size(), 2); // no leftovers

    // The low-level move: nothing staged means the target is left alone.
    QString error;
    QVERIFY(ConversionExporter::moveIntoPlace(QFile::encodeName(path("of/none")), QFile::encodeName(path("of/ok.wav")),
                                              true, &error).isEmpty());
    QVERIFY(!error.isEmpty());
    QCOMPARE(readFile(path("of/ok.wav")), QByteArray("new:ok.wav"));
}

void ConversionExporterTest::unwritableOutputFolderFailsEachFile()
{
    QVERIFY(writeFile(path("u/a.wav"), "a"));
    QVERIFY(writeFile(path("u/b.wav"), "b"));
    QVERIFY(writeFile(path("u/blocker"), "a file where a folder should be"));
    ConversionJobOptions o;
    o.outputMode = ConversionOutputMode::flatFolder;
    o.outputFolder = QUrl::fromLocalFile(path("u/blocker/out"));
    auto conv = std::make_shared<RecordingConverter>("c");
    const Run run = runJob(gather({"u/a.wav", "u/b.wav"}), o, conv);
    QVERIFY(run.outputs.isEmpty());
    QCOMPARE(conv->calls.size(), 2); // both tried
    QVERIFY(!QFileInfo::exists(run.staging));
    QCOMPARE(readFile(path("u/blocker")), QByteArray("a file where a folder should be"));
}

// NFS and FUSE mounts answer renameat2(RENAME_NOREPLACE) with EINVAL (or ENOSYS), and many
// refuse hard links too: the outputs still arrive, under numbered names next to existing
// files, and nothing is overwritten.
void ConversionExporterTest::outputsSurviveFileSystemsWithoutRenameAt2()
{
    const FileSystemFaults::Scope faults(ENOSYS, EPERM);
    QVERIFY(writeFile(path("nfs/a.wav"), "a"));
    QVERIFY(writeFile(path("nfs/b.wav"), "b"));
    QVERIFY(writeFile(path("nfsOut/a.wav"), "already here"));
    ConversionJobOptions o;
    o.outputMode = ConversionOutputMode::flatFolder;
    o.outputFolder = QUrl::fromLocalFile(path("nfsOut"));
    const Run run = runJob(gather({"nfs/a.wav", "nfs/b.wav"}), o, std::make_shared<RecordingConverter>("c"));
    QCOMPARE(run.outputs.size(), 2);
    QCOMPARE(readFile(path("nfsOut/a 2.wav")), QByteArray("c:a.wav"));
    QCOMPARE(readFile(path("nfsOut/b.wav")), QByteArray("c:b.wav"));
    QCOMPARE(readFile(path("nfsOut/a.wav")), QByteArray("already here"));
    QVERIFY(!QFileInfo::exists(run.staging));
}

// A conversion that produces nothing for a file always says why, in the report the panel,
// the favorites and the command line show: the converter's reason, or a job without its
// staging folder.
void ConversionExporterTest::everyFileThatProducesNothingSaysWhy()
{
    QVERIFY(writeFile(path("why/good.wav"), "g"));
    QVERIFY(writeFile(path("why/fail.wav"), "f"));
    ConversionJobOptions o;
    o.outputMode = ConversionOutputMode::mirrorTree;
    o.outputFolder = QUrl::fromLocalFile(path("whyOut"));
    const Run run = runJob(gather({"why/good.wav", "why/fail.wav"}), o, std::make_shared<RecordingConverter>("c"));
    QVERIFY(run.finished);
    QCOMPARE(run.report.outputs.size(), 1);
    QCOMPARE(run.report.convertedSources, QList<QUrl>{QUrl::fromLocalFile(path("why/good.wav"))});
    QCOMPARE(run.report.failureLines(), QStringList{"fail.wav: asked to fail"});
    QVERIFY(!run.report.cancelled);

    // No staging folder: nothing converted, and each file says so.
    ConversionExporter::Job job;
    job.files = gather({"why/good.wav"});
    job.stagingFolder = path("no-such-staging");
    job.postNotification = false;
    QEventLoop loop;
    ConversionReport report;
    ConversionExporter::start(job, ConversionExporter::ReportCompletion([&](const ConversionReport &r) {
        report = r;
        loop.quit();
    }), ConverterSet{std::make_shared<RecordingConverter>("c"), nullptr, nullptr});
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    QCOMPARE(report.failures.size(), 1);
    QVERIFY(report.failures.first().reason.contains("temporary folder"));
}

// A pipe named like media is never opened (a converter or probe would block in open() for
// ever): gathering lists it without probing, the job refuses it with a reason, and the
// files beside it are converted.
void ConversionExporterTest::specialFilesAreRefusedUnopened()
{
    QVERIFY(writeFile(path("fifo/a.wav"), "a"));
    QCOMPARE(::mkfifo(QFile::encodeName(path("fifo/pipe.mp4")).constData(), 0600), 0);
    QList<MediaSourceItem> items{{QUrl::fromLocalFile(path("fifo")), {}}};
    const QList<ResolvedMediaFile> files = gatherMediaFiles(items, true); // with probes
    QCOMPARE(files.size(), 2);
    auto conv = std::make_shared<RecordingConverter>("c");
    ConversionJobOptions o;
    o.outputFolder = QUrl::fromLocalFile(path("fifoOut"));
    const Run run = runJob(files, o, conv);
    QVERIFY(run.finished);
    QCOMPARE(conv->calls, QStringList{"a.wav"});
    QCOMPARE(run.outputs.size(), 1);
    QCOMPARE(run.report.failures.size(), 1);
    QCOMPARE(run.report.failures.first().reason, kNotRegularFileMessage);
}

// The job does not queue behind other work on the shared thread pool (the background
// model's warm-up, probes, bookmark work): with every pool thread busy it still runs.
void ConversionExporterTest::jobRunsWhileThePoolIsBusy()
{
    QVERIFY(writeFile(path("busy/a.wav"), "a"));
    QThreadPool *pool = QThreadPool::globalInstance();
    QSemaphore started, release;
    const int threads = pool->maxThreadCount();
    for (int i = 0; i < threads; ++i)
        pool->start([&] {
            started.release();
            release.acquire();
        });
    QVERIFY(started.tryAcquire(threads, 30000));
    ConversionJobOptions o;
    o.outputFolder = QUrl::fromLocalFile(path("busyOut"));
    const Run run = runJob(gather({"busy/a.wav"}), o, std::make_shared<RecordingConverter>("c"));
    release.release(threads);
    pool->waitForDone();
    QVERIFY(run.finished);
    QCOMPARE(run.outputs.size(), 1);
}

// "Clear source shelf after conversion" takes off only the items all of whose media became
// outputs; the others are named in what the user is told, with every failure's reason.
void ConversionExporterTest::clearingKeepsWhatWasNotConverted()
{
    for (const char *f : {"clr/a.wav", "clr/fail.wav", "clr/folder/b.wav", "clr/folder/fail2.wav", "clr/folder2/c.wav",
                          "clr/notes.txt"})
        QVERIFY(writeFile(path(f), "x"));
    const QList<QUrl> items{QUrl::fromLocalFile(path("clr/a.wav")), QUrl::fromLocalFile(path("clr/fail.wav")),
                            QUrl::fromLocalFile(path("clr/folder")), QUrl::fromLocalFile(path("clr/folder2")),
                            QUrl::fromLocalFile(path("clr/notes.txt"))};
    QList<MediaSourceItem> sources;
    for (const QUrl &item : items)
        sources.append({item, {}});
    const QList<ResolvedMediaFile> media = gatherMediaFiles(sources, false);
    QCOMPARE(media.size(), 5);
    ConversionJobOptions o;
    o.outputFolder = QUrl::fromLocalFile(path("clrOut"));
    const Run run = runJob(media, o, std::make_shared<RecordingConverter>("c"));
    QCOMPARE(run.outputs.size(), 3);
    const QList<QUrl> cleared = fullyConvertedItems(items, media, run.report.convertedSources);
    QCOMPARE(cleared, (QList<QUrl>{items[0], items[3]})); // a.wav and folder2; not the half-done folder

    const ConversionAnnouncement a =
        conversionAnnouncement(run.report, QStringLiteral("Music"), {"fail.wav", "folder", "notes.txt"});
    QCOMPARE(*a.notificationBody, QString::fromUtf8("3 files ready on \"Music \u2014 Converted\"\n"
                                                    "Not converted, so left on the shelf: fail.wav, folder, notes.txt"));
    QCOMPARE(*a.alertTitle, QStringLiteral("Some Files Could Not Be Converted"));
    QVERIFY(a.alertText.startsWith("fail.wav: asked to fail\nfail2.wav: asked to fail\n"));
    QVERIFY(a.alertText.endsWith("left on the shelf: fail.wav, folder, notes.txt"));

    // Nothing produced is never silent; a cancelled run without failures says nothing more.
    ConversionReport none;
    none.failures.append({QUrl::fromLocalFile(path("x.png")), QStringLiteral("The file ends early")});
    QCOMPARE(*conversionAnnouncement(none, "S", {}).alertTitle, QStringLiteral("Nothing Was Converted"));
    QVERIFY(!conversionAnnouncement(none, "S", {}).notificationBody);
    ConversionReport cancelled;
    cancelled.cancelled = true;
    QVERIFY(!conversionAnnouncement(cancelled, "S", {}).alertTitle);
    QVERIFY(conversionAnnouncement(ConversionReport{}, "S", {}).alertTitle); // no output, no reason: still said
}

void ConversionExporterTest::cancelDuringSecondOfFive()
{
    QStringList items;
    for (int i = 1; i <= 5; ++i) {
        QVERIFY(writeFile(path(QString("c/%1.wav").arg(i)), "x"));
        items << QString("c/%1.wav").arg(i);
    }
    ConversionJobOptions o;
    o.outputFolder = QUrl::fromLocalFile(path("cOut"));
    auto conv = std::make_shared<RecordingConverter>("c");
    conv->cancelOnCall = 2; // the user presses Cancel while the second file converts
    const Run run = runJob(gather(items), o, conv);
    QCOMPARE(conv->calls, (QStringList{"1.wav", "2.wav"}));
    QCOMPARE(run.outputs.size(), 1);
    QCOMPARE(QDir(path("cOut")).entryList(QDir::Files), QStringList{"1.wav"});
    QVERIFY(!QFileInfo::exists(run.staging));

    // A flag set before the start converts nothing.
    auto conv2 = std::make_shared<RecordingConverter>("c");
    const Run none = runJob(gather(items), o, conv2, nullptr, std::make_shared<LockedFlag>(true));
    QVERIFY(none.outputs.isEmpty());
    QVERIFY(conv2->calls.isEmpty());
}

void ConversionExporterTest::missingStagingFolderConvertsNothing()
{
    QVERIFY(writeFile(path("s/a.wav"), "x"));
    ConversionExporter::Job job;
    job.files = gather({"s/a.wav"});
    job.options.outputFolder = QUrl::fromLocalFile(path("sOut"));
    job.stagingFolder = QString(); // could not be created
    job.postNotification = false;
    auto conv = std::make_shared<RecordingConverter>("c");
    QEventLoop loop;
    QList<QUrl> outputs{QUrl("file:///sentinel")};
    ConversionExporter::start(job, [&](const QList<QUrl> &out) { outputs = out; loop.quit(); },
                              ConverterSet{conv, conv, conv});
    loop.exec();
    QVERIFY(outputs.isEmpty());
    QVERIFY(conv->calls.isEmpty());
}

void ConversionExporterTest::progressStateAndWeights()
{
    QVERIFY(writeFile(path("w/a.wav"), "x"));
    QVERIFY(writeFile(path("w/b.png"), "x"));
    QList<ResolvedMediaFile> files = gather({"w/a.wav", "w/b.png"});
    files[0].info = MediaInfo{};
    files[0].info->totalDurationSeconds = 9; // total weight 9 + 1
    ShelfProgressState state;
    QList<double> fractions;
    QStringList etas;
    QString label;
    connect(&state, &ShelfProgressState::changed, this, [&] {
        if (state.isRunning() && state.percent()) {
            if (fractions.isEmpty() || fractions.last() != *state.percent())
                fractions.append(*state.percent());
            label = state.label();
        }
        if (!state.etaString().isEmpty() && !etas.contains(state.etaString()))
            etas.append(state.etaString());
    });
    ConversionJobOptions o;
    o.outputFolder = QUrl::fromLocalFile(path("wOut"));
    auto conv = std::make_shared<RecordingConverter>("c");
    runJob(files, o, conv, &state);
    QCOMPARE(label, QString::fromUtf8("Converting\u2026"));
    // File 1 reports 5 s at 10×, then 10 s at speed 0 (capped at 0.99), then completes (0.9);
    // the image reports nothing and completes (1.0).
    QCOMPARE(fractions, (QList<double>{0.0, 0.5, 0.99, 0.9, 1.0}));
    QVERIFY(etas.isEmpty()); // every estimate here is 5 s or less
    QCOMPARE(state.phase(), ShelfProgressState::Phase::done);
    QVERIFY(!state.canCancel());
}

void ConversionExporterTest::realImageJob()
{
    if (!haveTool("ffmpeg"))
        QSKIP("ffmpeg is not installed");
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48", "-frames:v", "1", path("r/pic.png")}));
    QVERIFY(writeFile(path("r/broken.png"), "not a png"));
    ConversionJobOptions o;
    o.imageFormat = ImageOutputFormat::jpeg;
    o.outputFolder = QUrl::fromLocalFile(path("rOut"));
    ConversionExporter::Job job;
    job.files = gather({"r/broken.png", "r/pic.png"});
    job.options = o;
    job.stagingFolder = ConversionExporter::makeStagingFolder();
    QVERIFY(job.stagingFolder.contains("/Perchbox/ConversionTemp/"));
    job.postNotification = false;
    QEventLoop loop;
    QList<QUrl> outputs;
    ConversionExporter::start(job, [&](const QList<QUrl> &out) { outputs = out; loop.quit(); },
                              ConverterSet{nullptr, nullptr, std::shared_ptr<MediaConverter>(makeImageConverter())});
    loop.exec();
    QCOMPARE(outputs.size(), 1);
    QCOMPARE(outputs[0].toLocalFile(), path("rOut/pic.jpg"));
    QVERIFY(readFile(path("rOut/pic.jpg")).startsWith("\xff\xd8"));
    QVERIFY(!QFileInfo::exists(job.stagingFolder));
}

QTEST_GUILESS_MAIN(ConversionExporterTest)
#include "tst_conversion_exporter.moc"
