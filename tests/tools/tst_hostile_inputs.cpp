// The tools, run from the shell on what a shelf can hold besides plain files: pipes and
// devices (never opened for reading, never a hang), a file that vanishes while the run goes
// on (named in the report, never a silent success), and a folder of 50,000 files.
#include "ToolRuns.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace ToolRuns;

namespace {

const QStringList kTools{QStringLiteral("rename"), QStringLiteral("flatten-copy"), QStringLiteral("flatten-move"),
                         QStringLiteral("zip"),    QStringLiteral("tar"),          QStringLiteral("7z"),
                         QStringLiteral("convert")};

struct Outcome {
    int status = -1;
    QString err;
    qint64 ms = 0;
};

// Watches a pipe from another thread: whoever opens it for reading is caught, because an
// open of the writing end without blocking succeeds only while a reader has it open.
class PipeWatch : public QThread
{
public:
    explicit PipeWatch(const QByteArray &path) : m_path(path) { start(); }
    ~PipeWatch() override
    {
        m_stop = 1;
        wait();
    }
    bool wasRead() const { return m_read.loadRelaxed(); }

protected:
    void run() override
    {
        while (!m_stop.loadRelaxed()) {
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_read = 1;
                ::close(fd); // the reader sees the end of the data and goes on
            }
            QThread::usleep(500);
        }
    }

private:
    QByteArray m_path;
    QAtomicInt m_stop = 0;
    QAtomicInt m_read = 0;
};

} // namespace

class HostileInputsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    Outcome run(const QString &tool, const QStringList &inputs, const QString &out,
                const QProcessEnvironment &extra = {}, int timeoutMs = 60000)
    {
        const ToolRun toolRun = ToolRuns::toolRun(tool);
        const QString presetFile = m_home.filePath(QStringLiteral("preset-%1.json").arg(tool));
        writeFile(presetFile, QJsonDocument(toolRun.preset).toJson());
        QStringList arguments{QStringLiteral("run"), toolRun.verb, QStringLiteral("--preset-file"), presetFile};
        if (tool != QLatin1String("rename"))
            arguments << QStringLiteral("-o") << out;
        arguments << QStringLiteral("--") << inputs;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const QString &key : extra.keys())
            env.insert(key, extra.value(key));
        QProcess p;
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        p.start(QStringLiteral(PERCHBOX_EXECUTABLE), arguments);
        Outcome o;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            o.err = QStringLiteral("did not finish within %1 s").arg(timeoutMs / 1000);
            return o;
        }
        o.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        o.err = QString::fromUtf8(p.readAllStandardError());
        o.ms = timer.elapsed();
        return o;
    }

    static bool skipWithoutSevenZip(const QString &tool) { return tool == QLatin1String("7z") && sevenZipProgram().isEmpty(); }

private slots:
    void tools_data()
    {
        QTest::addColumn<QString>("tool");
        for (const QString &tool : kTools)
            QTest::newRow(qPrintable(tool)) << tool;
    }

    // Pipes and devices given to a tool, and inside a folder given to it: nothing reads
    // them, the run ends, a pipe or device given on its own is refused by name, and the
    // plain files beside them are handled.
    void pipesAndDevicesAreNeverRead_data() { tools_data(); }
    void pipesAndDevicesAreNeverRead()
    {
        QFETCH(QString, tool);
        if (skipWithoutSevenZip(tool))
            QSKIP("no 7-Zip executable installed");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("folder"));
        QVERIFY(writeFile(folder + QStringLiteral("/plain.txt"), "plain"));
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(dir.filePath(QStringLiteral("picture.png"))));
        const QByteArray inner = QFile::encodeName(folder + QStringLiteral("/inner pipe.mp4"));
        const QByteArray outer = QFile::encodeName(dir.filePath(QStringLiteral("pipe.wav")));
        QCOMPARE(::mkfifo(inner.constData(), 0600), 0);
        QCOMPARE(::mkfifo(outer.constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), folder + QStringLiteral("/zero.png")));
        // A device node of our own where we may make one (as root); /dev/zero itself is given too.
        const bool ownDevice = ::mknod(QFile::encodeName(folder + QStringLiteral("/device.jpg")).constData(),
                                       S_IFCHR | 0600, makedev(1, 5)) == 0;

        PipeWatch innerWatch(inner), outerWatch(outer);
        const QString out = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(out);
        const QString plainInput = tool == QLatin1String("convert") ? dir.filePath(QStringLiteral("picture.png"))
                                                                     : folder + QStringLiteral("/plain.txt");
        // Never /dev/zero itself to rename: it would be renamed (we may run as root).
        QStringList inputs{plainInput, QFile::decodeName(outer)};
        if (tool != QLatin1String("rename"))
            inputs << QStringLiteral("/dev/zero") << folder;
        const Outcome o = run(tool, inputs, out);

        QVERIFY2(o.status >= 0, qPrintable(o.err));
        QVERIFY2(!innerWatch.wasRead() && !outerWatch.wasRead(), "a pipe was opened for reading");
        if (tool == QLatin1String("rename")) {
            // Renaming opens nothing: a pipe is renamed like any file.
            QVERIFY2(o.status == 0, qPrintable(o.err));
            QVERIFY(QFile::exists(folder + QStringLiteral("/renamed plain.txt")));
            QVERIFY(QFileInfo(dir.filePath(QStringLiteral("renamed pipe.wav"))).exists());
        } else {
            // The pipe and the device given on their own are refused by name; that is a failure.
            // (One archive of everything stops at the first of them.)
            const bool oneArchive = tool == QLatin1String("zip") || tool == QLatin1String("tar") || tool == QLatin1String("7z");
            QVERIFY2(o.status == 1, qPrintable(o.err));
            QVERIFY2(o.err.contains(QLatin1String("pipe.wav")) && (oneArchive || o.err.contains(QLatin1String("zero"))),
                     qPrintable(o.err));
            QVERIFY2(!oneArchive || QDir(out).isEmpty(), "an archive was left behind");
            QVERIFY2(!o.err.contains(QLatin1String("no such file")) && !o.err.contains(QLatin1String("not supported")),
                     qPrintable(o.err));
            QVERIFY(QFileInfo(QFile::decodeName(outer)).exists());
            QVERIFY(QFileInfo(QStringLiteral("/dev/zero")).exists());
        }
        if (ownDevice)
            QVERIFY(QFileInfo::exists(folder + QStringLiteral("/device.jpg")) || tool == QLatin1String("flatten-move"));
        qInfo("%s: status %d in %lld ms; %s", qPrintable(tool), o.status, o.ms, qPrintable(o.err.simplified().left(300)));
    }

    // A file that vanishes after the run started and before the tool reached it: the run
    // names it and does not end as a success; the files before it are handled whole.
    void aFileThatVanishesMidRunIsNamed_data() { tools_data(); }
    void aFileThatVanishesMidRunIsNamed()
    {
        QFETCH(QString, tool);
        if (skipWithoutSevenZip(tool))
            QSKIP("no 7-Zip executable installed");
        QTemporaryDir dir;
        const QString src = dir.filePath(QStringLiteral("src"));
        QStringList inputs;
        for (const char *name : {"first", "second", "third"}) {
            const QString path = src + QLatin1Char('/') + QLatin1String(name)
                                 + (tool == QLatin1String("convert") ? QStringLiteral(".png") : QStringLiteral(".txt"));
            if (tool == QLatin1String("convert")) {
                QImage image(80, 60, QImage::Format_RGB32);
                image.fill(Qt::darkMagenta);
                QDir().mkpath(src);
                QVERIFY(image.save(path));
            } else {
                QVERIFY(writeFile(path, QByteArray(100000, name[0])));
            }
            inputs << path;
        }
        const QString out = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(out);
        // When the tool reaches the first of the three (in its own order), the two others go.
        const QString log = dir.filePath(QStringLiteral("vanished.log"));
        QProcessEnvironment vanish;
        vanish.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(DISK_FAULTS_LIBRARY));
        QStringList names;
        for (const QString &input : std::as_const(inputs))
            names << QFileInfo(input).fileName();
        vanish.insert(QStringLiteral("PERCHBOX_VANISH_ON"), names.join(QLatin1Char(':')));
        vanish.insert(QStringLiteral("PERCHBOX_VANISH"), inputs.join(QLatin1Char(':')));
        vanish.insert(QStringLiteral("PERCHBOX_FAULT_LOG"), log);
        const Outcome o = run(tool, inputs, out, vanish);

        QStringList vanished;
        for (const QByteArray &line : readFile(log).split('\n'))
            if (line.startsWith("vanished "))
                vanished << QFileInfo(QFile::decodeName(line.mid(9))).fileName();
        QCOMPARE(vanished.size(), 2);
        QVERIFY2(o.status == 1, qPrintable(QStringLiteral("status %1: %2").arg(o.status).arg(o.err)));
        // One archive of everything stops at the first file that is missing.
        const bool oneArchive = tool == QLatin1String("zip") || tool == QLatin1String("tar") || tool == QLatin1String("7z");
        for (const QString &name : std::as_const(vanished))
            QVERIFY2(o.err.contains(name) || (oneArchive && o.err.contains(vanished.first())),
                     qPrintable(name + QStringLiteral(" is not named: ") + o.err));
        // Nothing half-written in the output folder; what is there is whole.
        const QMap<QString, QByteArray> left = tree(out);
        for (auto it = left.begin(); it != left.end(); ++it) {
            const QString path = out + QLatin1Char('/') + it.key();
            if (tool.startsWith(QLatin1String("flatten")))
                QVERIFY2(it.value().size() == 100000, qPrintable(it.key()));
            else if (tool == QLatin1String("convert"))
                QVERIFY2(!QImage(path).isNull(), qPrintable(it.key()));
            else
                QVERIFY2(archiveIsWhole(tool, path), qPrintable(it.key()));
        }
        qInfo("%s: status %d; %s", qPrintable(tool), o.status, qPrintable(o.err.simplified().left(300)));
    }

    // A folder of 50,000 small files is flattened and archived whole.
    void aFolderOfFiftyThousandFiles_data()
    {
        QTest::addColumn<QString>("tool");
        for (const char *tool : {"flatten-copy", "zip", "tar"})
            QTest::newRow(tool) << QString::fromLatin1(tool);
    }
    void aFolderOfFiftyThousandFiles()
    {
        QFETCH(QString, tool);
        static QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("many"));
        constexpr int kFiles = 50000;
        if (!QFileInfo::exists(folder)) {
            for (int i = 0; i < kFiles; ++i) {
                const QString sub = folder + QStringLiteral("/part %1").arg(i / 1000);
                if (i % 1000 == 0)
                    QVERIFY(QDir().mkpath(sub));
                QFile f(sub + QStringLiteral("/file %1.txt").arg(i, 5, 10, QLatin1Char('0')));
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(QByteArray::number(i));
            }
        }
        const QString out = dir.filePath(QStringLiteral("out-") + tool);
        QVERIFY(QDir().mkpath(out));
        const Outcome o = run(tool, {folder}, out, {}, 600000);
        QVERIFY2(o.status == 0, qPrintable(QStringLiteral("status %1: %2").arg(o.status).arg(o.err)));
        if (tool == QLatin1String("flatten-copy")) {
            QCOMPARE(QDir(out).entryList(QDir::Files).size(), kFiles);
            QCOMPARE(readFile(out + QStringLiteral("/file 31415.txt")), QByteArray("31415"));
        } else {
            const QStringList archives = QDir(out).entryList(QDir::Files);
            QCOMPARE(archives.size(), 1);
            QProcess list;
            if (tool == QLatin1String("zip"))
                list.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), out + QLatin1Char('/') + archives.first()});
            else
                list.start(QStringLiteral("tar"), {QStringLiteral("-tzf"), out + QLatin1Char('/') + archives.first()});
            QVERIFY(list.waitForFinished(300000));
            const QList<QByteArray> names = list.readAllStandardOutput().split('\n');
            QCOMPARE(std::count_if(names.begin(), names.end(), [](const QByteArray &n) { return n.endsWith(".txt"); }),
                     qsizetype(kFiles));
        }
        qInfo("%s of %d files: %lld ms", qPrintable(tool), kFiles, o.ms);
    }
};

QTEST_GUILESS_MAIN(HostileInputsTest)
#include "tst_hostile_inputs.moc"
