// Conversions and the end of the program: staging folders are claimed while a job runs and
// cleaned up after a crash; a quit cancels running jobs, removes their staging folders and
// does not wait for a converter that cannot stop midway.
#include "conversion/ConversionExporter.h"
#include "conversion/StagingFolder.h"
#include "platform/FilePath.h"

#include <QFile>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

// A converter that writes its output and then, as long as `busyMs` says, keeps working:
// checking the cancellation flag every few milliseconds when `cooperative`, ignoring it
// otherwise (as a converter midway through one library call does).
class BusyConverter : public MediaConverter
{
public:
    BusyConverter(int busyMs, bool cooperative) : m_busyMs(busyMs), m_cooperative(cooperative) {}
    ConversionResult convert(const ConversionRequest &request) override
    {
        QFile out(FilePath::displayPath(request.stagedOutput));
        if (out.open(QIODevice::WriteOnly))
            out.write("converted");
        out.close();
        started.release();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < m_busyMs) {
            if (m_cooperative && request.cancel->value())
                return ConversionResult::failure("cancelled");
            QThread::msleep(5);
        }
        return ConversionResult::success();
    }
    QSemaphore started;

private:
    int m_busyMs;
    bool m_cooperative;
};

QList<ResolvedMediaFile> fiveFiles(const QString &folder)
{
    QList<ResolvedMediaFile> files;
    for (int i = 1; i <= 5; ++i) {
        ResolvedMediaFile f;
        const QString path = QStringLiteral("%1/track %2.wav").arg(folder).arg(i);
        QFile(path).open(QIODevice::WriteOnly); // the job takes only files that are there
        f.url = FilePath::urlFromPath(path);
        f.type = MediaType::audio;
        f.relativePathBytes = QStringLiteral("track %1.wav").arg(i).toUtf8();
        files.append(f);
    }
    return files;
}

ConversionExporter::Job jobFor(const QString &folder)
{
    ConversionExporter::Job job;
    job.files = fiveFiles(folder);
    job.options.audioFormat = AudioOutputFormat::wav;
    job.options.outputMode = ConversionOutputMode::flatFolder;
    job.options.outputFolder = FilePath::urlFromPath(folder + QStringLiteral("/out"));
    job.stagingFolder = ConversionExporter::makeStagingFolder();
    job.postNotification = false;
    return job;
}

ConverterSet setOf(const std::shared_ptr<BusyConverter> &converter)
{
    ConverterSet set;
    set.audio = converter;
    set.video = converter;
    set.image = converter;
    return set;
}

QStringList staged(const QString &dataHome)
{
    return QDir(dataHome + QStringLiteral("/Perchbox/ConversionTemp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

// The child process: what the program does when it is asked to quit while a stubborn
// converter runs (the last lines of main()).
int quitWhileConverting()
{
    int argc = 1;
    char name[] = "quit-child";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const QString folder = qEnvironmentVariable("PERCHBOX_TEST_QUIT_FOLDER");
    auto converter = std::make_shared<BusyConverter>(60000, false);
    ConversionExporter::start(jobFor(folder), ConversionExporter::Completion{}, setOf(converter));
    QThreadPool::globalInstance()->start([converter] {
        converter->started.acquire();
        std::printf("converting\n");
        std::fflush(stdout);
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    });
    const int status = app.exec();
    if (!ConversionExporter::stopAllForQuit(ConversionExporter::quitGraceMs)) {
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}

} // namespace

class TestConversionQuit : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    QString dataHome() const { return m_home->path(); }

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    }

    // A crash leaves staging folders behind: the next clean-up removes them, but never one a
    // running job (of this process or another) still claims.
    void leftoversAreRemovedClaimedOnesStay()
    {
        const QString root = dataHome() + QStringLiteral("/Perchbox/ConversionTemp");
        const QString mine = StagingFolder::create();
        QVERIFY(QFileInfo(mine).isDir());
        QVERIFY(mine.startsWith(root + QLatin1Char('/')));
        QFile(mine + QStringLiteral("/part.wav")).open(QIODevice::WriteOnly);

        const QString crashed = root + QStringLiteral("/0A0A0A0A-0000-4000-8000-000000000001");
        QVERIFY(QDir().mkpath(crashed + QStringLiteral("/Album/disc 1")));
        QFile(crashed + QStringLiteral("/Album/disc 1/t1.mp3")).open(QIODevice::WriteOnly);
        const QString crashedWithClaim = root + QStringLiteral("/0A0A0A0A-0000-4000-8000-000000000002");
        QVERIFY(QDir().mkpath(crashedWithClaim));
        QFile(crashedWithClaim + QStringLiteral(".lock")).open(QIODevice::WriteOnly);

        // Another process's running job: its claim is held by a child that keeps it locked.
        const QString theirs = root + QStringLiteral("/0A0A0A0A-0000-4000-8000-000000000003");
        QVERIFY(QDir().mkpath(theirs));
        QProcess holder;
        holder.start(QStringLiteral("flock"), {QStringLiteral("-o"), theirs + QStringLiteral(".lock"), QStringLiteral("-c"),
                                               QStringLiteral("echo held; read line")});
        QVERIFY(holder.waitForReadyRead(10000));

        QCOMPARE(StagingFolder::removeLeftovers(), 2);
        QVERIFY(!QFileInfo::exists(crashed));
        QVERIFY(!QFileInfo::exists(crashedWithClaim));
        QVERIFY(!QFileInfo::exists(crashedWithClaim + QStringLiteral(".lock")));
        QVERIFY(QFileInfo::exists(mine + QStringLiteral("/part.wav")));
        QVERIFY(QFileInfo(theirs).isDir());
        holder.closeWriteChannel(); // its job ends
        QVERIFY(holder.waitForFinished(10000));

        StagingFolder::remove(mine);
        QVERIFY(!QFileInfo::exists(mine));
        QVERIFY(!QFileInfo::exists(mine + QStringLiteral(".lock")));
        QCOMPARE(StagingFolder::removeLeftovers(), 1); // the other process has ended
        QVERIFY(staged(dataHome()).isEmpty());
    }

    // A quit cancels a running job: the converter that can stop does, nothing more is
    // converted or put in place, and the staging folder is gone.
    void quitCancelsRunningJobs()
    {
        auto converter = std::make_shared<BusyConverter>(30000, true);
        QList<QUrl> outputs{QUrl("file:///not-called")};
        bool done = false;
        ConversionExporter::start(jobFor(m_home->path()), [&](const QList<QUrl> &o) {
            outputs = o;
            done = true;
        }, setOf(converter));
        QVERIFY(converter->started.tryAcquire(1, 10000));
        QVERIFY(!staged(dataHome()).isEmpty());
        QVERIFY(ConversionExporter::stopAllForQuit(10000));
        QVERIFY(staged(dataHome()).isEmpty());
        QTRY_VERIFY(done);
        QVERIFY(outputs.isEmpty());
        QVERIFY(!QFileInfo::exists(m_home->path() + QStringLiteral("/out")));
        QVERIFY(ConversionExporter::stopAllForQuit(0)); // nothing left to stop
    }

    // The whole program quitting while a converter cannot stop: the process ends at once
    // instead of waiting for it (it used to live on, without windows, until the job ended),
    // and no staging folder stays.
    void quitDoesNotWaitForAStubbornConverter()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PERCHBOX_TEST_QUIT_CHILD"), QStringLiteral("1"));
        env.insert(QStringLiteral("PERCHBOX_TEST_QUIT_FOLDER"), m_home->path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForReadyRead(20000));
        QElapsedTimer clock;
        clock.start();
        // The converter would go on for a minute; a bound far below that, loose enough for
        // a loaded machine.
        QVERIFY(child.waitForFinished(15000));
        qInfo("quit took %lld ms after the conversion had started", clock.elapsed());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY(staged(dataHome()).isEmpty());
        QVERIFY(!QFileInfo::exists(m_home->path() + QStringLiteral("/out")));
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("PERCHBOX_TEST_QUIT_CHILD"))
        return quitWhileConverting();
    QCoreApplication app(argc, argv);
    TestConversionQuit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_conversion_quit.moc"
