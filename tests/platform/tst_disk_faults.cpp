// A failing disk under the program: the disk-fault library (preloaded into this suite and
// into every program it starts) makes writes, syncs, renames, links and file creation fail
// with ENOSPC, EIO, EACCES or EROFS after a number of calls, under one folder. Whatever
// fails is reported in words and is never reported as success; no user file is lost or left
// half-written; state that cannot be saved is kept and saved once the disk works again.
#include "model/ShelfJson.h"
#include "platform/AppBus.h"
#include "shelf/ShelfIntake.h"

#include "PrivateBus.h"
#include "ToolRuns.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

using namespace ToolRuns;

namespace {

bool shimLoaded() { return qEnvironmentVariable("LD_PRELOAD").contains(QStringLiteral("disk_faults")); }

QByteArray errnoName(int e)
{
    switch (e) {
    case EIO: return "EIO";
    case EACCES: return "EACCES";
    case EROFS: return "EROFS";
    default: return "ENOSPC";
    }
}

// What the disk-fault library is told: the settings of one test step.
struct FaultSettings {
    QString folder;
    int error = ENOSPC;
    QByteArray calls;
    int after = 0;
    QString log;
    QString diskSwitch; // empty: always

    // The settings as environment variables, for a program we start.
    void addTo(QProcessEnvironment &env) const
    {
        env.insert(QStringLiteral("PERCHBOX_FAULT_PATH"), folder);
        env.insert(QStringLiteral("PERCHBOX_FAULT_ERRNO"), QString::fromLatin1(errnoName(error)));
        env.insert(QStringLiteral("PERCHBOX_FAULT_CALLS"), QString::fromLatin1(calls));
        env.insert(QStringLiteral("PERCHBOX_FAULT_AFTER"), QString::number(after));
        env.insert(QStringLiteral("PERCHBOX_FAULT_LOG"), log);
        if (!diskSwitch.isEmpty())
            env.insert(QStringLiteral("PERCHBOX_FAULT_SWITCH"), diskSwitch);
    }
};

// The faults of one test step, set in this process's own environment for a scope.
struct Faults {
    explicit Faults(const FaultSettings &settings)
    {
        settings.addTo(m_env);
        for (const QString &name : m_env.keys())
            qputenv(name.toLatin1().constData(), QFile::encodeName(m_env.value(name)));
    }
    ~Faults()
    {
        for (const QString &name : m_env.keys())
            qunsetenv(name.toLatin1().constData());
    }
    Faults(const Faults &) = delete;
    Faults &operator=(const Faults &) = delete;

private:
    QProcessEnvironment m_env;
};

} // namespace

// Stands in for the desktop's notification server on the test's bus.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received; // "title: body"

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &title, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        received << title + QStringLiteral(": ") + body;
        return uint(received.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    void CloseNotification(uint) {}
};

class DiskFaultsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    QProcessEnvironment programEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

private slots:
    void initTestCase()
    {
        if (!shimLoaded())
            QSKIP("run through CTest: the suite needs the disk-fault library preloaded");
        QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("runtime"))));
        QFile::setPermissions(m_home.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A pasted text or a dropped image is written whole or not at all.
    void pastedAndDroppedContentIsWholeOrAbsent_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("calls");
        QTest::addColumn<int>("after");
        QTest::newRow("full disk at once") << ENOSPC << QByteArray("write") << 0;
        QTest::newRow("full disk part-way") << ENOSPC << QByteArray("write") << 1;
        QTest::newRow("I/O error on sync") << EIO << QByteArray("fsync") << 0;
        QTest::newRow("I/O error on write") << EIO << QByteArray("write") << 0;
        QTest::newRow("read-only folder") << EROFS << QByteArray("create") << 0;
        QTest::newRow("no permission") << EACCES << QByteArray("create") << 0;
    }
    void pastedAndDroppedContentIsWholeOrAbsent()
    {
        QFETCH(int, error);
        QFETCH(QByteArray, calls);
        QFETCH(int, after);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("faults.log"));
        const QString target = dir.filePath(QStringLiteral("target"));
        QVERIFY(QDir().mkpath(target));

        QByteArray text;
        for (int i = 0; i < 40000; ++i)
            text += "line " + QByteArray::number(i) + '\n';
        QImage image(900, 700, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, QRandomGenerator::global()->generate());
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(image.save(&buffer, "PNG"));

        QMimeData pasted;
        pasted.setText(QString::fromLatin1(text));
        QMimeData dropped;
        dropped.setData(QStringLiteral("image/png"), png);
        QList<QUrl> written;
        {
            Faults faults({target, error, calls, after, log, {}});
            written << ShelfIntake::paste(&pasted, target, 1700000000);
            written << ShelfIntake::drop(&dropped, target, 1700000000000);
        }
        const int injected = readFile(log).count('\n');
        QVERIFY2(injected > 0, "no fault reached the disk");
        // What was written is whole; nothing else (no partial file, no temporary file) is there.
        const QMap<QString, QByteArray> left = tree(target);
        QCOMPARE(left.size(), written.size());
        for (const QUrl &url : std::as_const(written)) {
            const QByteArray content = readFile(url.toLocalFile());
            if (url.fileName().endsWith(QLatin1String(".txt")))
                QCOMPARE(content, text);
            else
                QCOMPARE(QImage::fromData(content).convertToFormat(QImage::Format_RGB32), image);
        }
        QVERIFY2(written.size() < 2, "every write failed, yet both were reported written");
    }

    // The four tools, run from the shell on a disk that fails part-way: the run ends with a
    // failure status and a reason in words; every source file is where it was with its
    // content (or, for a move or a rename, whole under its new name); what the run left in
    // the output folder is whole; no temporary file stays.
    void toolRunsOnAFailingDisk_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("calls");
        QTest::addColumn<int>("after");
        const QStringList tools{QStringLiteral("rename"), QStringLiteral("flatten-copy"), QStringLiteral("flatten-move"),
                                QStringLiteral("zip"), QStringLiteral("tar"), QStringLiteral("7z"),
                                QStringLiteral("convert")};
        const struct {
            int error;
            const char *calls;
            const char *label;
        } kinds[] = {{ENOSPC, "write", "disk full"},   {EIO, "write,fsync", "I/O error"},
                     {EROFS, "rename,link,create", "read-only"}, {EACCES, "create,rename", "no permission"}};
        for (const QString &tool : tools)
            for (const auto &kind : kinds)
                for (int after : {0, 3, 12})
                    QTest::addRow("%s %s after %d", qPrintable(tool), kind.label, after)
                        << tool << kind.error << QByteArray(kind.calls) << after;
    }
    void toolRunsOnAFailingDisk()
    {
        QFETCH(QString, tool);
        QFETCH(int, error);
        QFETCH(QByteArray, calls);
        QFETCH(int, after);
        if (tool == QLatin1String("7z") && sevenZipProgram().isEmpty())
            QSKIP("no 7-Zip executable installed");

        QTemporaryDir dir;
        const QString root = dir.filePath(QStringLiteral("disk"));
        const QString src = root + QStringLiteral("/src");
        const QString out = root + QStringLiteral("/out");
        const QString tmp = root + QStringLiteral("/tmp");
        const QString log = dir.filePath(QStringLiteral("faults.log"));
        QVERIFY(QDir().mkpath(out) && QDir().mkpath(tmp));
        QStringList inputs;
        if (tool == QLatin1String("convert")) {
            for (int i = 0; i < 3; ++i) {
                QImage image(400 + i, 300, QImage::Format_RGB32);
                image.fill(QColor::fromHsv(i * 90, 200, 200));
                const QString path = src + QStringLiteral("/picture %1.png").arg(i);
                QDir().mkpath(src);
                QVERIFY(image.save(path));
                inputs << path;
            }
        } else {
            QByteArray big(1 << 20, Qt::Uninitialized);
            for (char &c : big)
                c = char(QRandomGenerator::global()->generate());
            QVERIFY(writeFile(src + QStringLiteral("/a.txt"), QByteArray(20000, 'a')));
            QVERIFY(writeFile(src + QStringLiteral("/folder/b.txt"), QByteArray(300000, 'b')));
            QVERIFY(writeFile(src + QStringLiteral("/folder/deep/c.bin"), big));
            QVERIFY(writeFile(src + QStringLiteral("/folder/deep/d.txt"), "d"));
            inputs << src + QStringLiteral("/a.txt") << src + QStringLiteral("/folder");
            if (tool == QLatin1String("rename"))
                inputs = QStringList{src + QStringLiteral("/a.txt"), src + QStringLiteral("/folder/b.txt"),
                                     src + QStringLiteral("/folder/deep/c.bin"), src + QStringLiteral("/folder/deep/d.txt")};
        }
        const QMap<QString, QByteArray> before = tree(src);

        const ToolRun toolRun = ToolRuns::toolRun(tool);
        const QString presetFile = dir.filePath(QStringLiteral("preset.json"));
        QVERIFY(writeFile(presetFile, QJsonDocument(toolRun.preset).toJson()));

        QStringList arguments{QStringLiteral("run"), toolRun.verb, QStringLiteral("--preset-file"), presetFile};
        if (tool != QLatin1String("rename"))
            arguments << QStringLiteral("-o") << out;
        arguments << QStringLiteral("--") << inputs;
        QProcess run;
        QProcessEnvironment env = programEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmp);
        FaultSettings{root, error, calls, after, log, {}}.addTo(env);
        run.setProcessEnvironment(env);
        run.start(QStringLiteral(PERCHBOX_EXECUTABLE), arguments);
        QVERIFY(run.waitForFinished(120000));
        const QString err = QString::fromUtf8(run.readAllStandardError());
        const QString said = QStringLiteral("status %1, said: %2").arg(run.exitCode()).arg(err);
        const bool faulted = QFileInfo(log).size() > 0;

        // Never a failure reported as success, and a failure says why.
        if (faulted) {
            QVERIFY2(run.exitCode() == 1, qPrintable(said));
            QVERIFY2(err.contains(QString::fromLocal8Bit(std::strerror(error)), Qt::CaseInsensitive)
                         || err.contains(QLatin1String("not enough space"), Qt::CaseInsensitive),
                     qPrintable(said));
        } else {
            QVERIFY2(run.exitCode() == 0, qPrintable(said));
        }

        // Nothing lost: each source's content is still in its place, or — moved or renamed —
        // whole at exactly one new place.
        const QMap<QString, QByteArray> afterSrc = tree(src);
        const QMap<QString, QByteArray> afterOut = tree(out);
        for (auto it = before.begin(); it != before.end(); ++it) {
            if (afterSrc.value(it.key()) == it.value())
                continue;
            QVERIFY2(tool == QLatin1String("rename") || tool == QLatin1String("flatten-move"),
                     qPrintable(it.key() + QStringLiteral(" changed; ") + said));
            QVERIFY2(!afterSrc.contains(it.key()), qPrintable(it.key() + QStringLiteral(" was changed in place")));
            const QString name = QFileInfo(it.key()).fileName();
            const QString moved = tool == QLatin1String("rename")
                                      ? QFileInfo(it.key()).path() + QStringLiteral("/renamed ") + name
                                      : name;
            const QByteArray found = tool == QLatin1String("rename")
                                         ? afterSrc.value(QDir::cleanPath(moved))
                                         : afterOut.value(moved);
            QVERIFY2(found == it.value(), qPrintable(it.key() + QStringLiteral(" is lost; ") + said));
        }
        // What is in the output folder is whole.
        for (auto it = afterOut.begin(); it != afterOut.end(); ++it) {
            const QString path = out + QLatin1Char('/') + it.key();
            QVERIFY2(!QFileInfo(it.key()).fileName().startsWith(QLatin1Char('.')), qPrintable(it.key()));
            if (tool.startsWith(QLatin1String("flatten"))) {
                bool known = false;
                for (const QByteArray &content : before)
                    known = known || content == it.value();
                QVERIFY2(known, qPrintable(it.key() + QStringLiteral(" is half-written")));
            } else if (tool == QLatin1String("convert")) {
                QVERIFY2(!QImage(path).isNull(), qPrintable(it.key() + QStringLiteral(" is half-written")));
            } else {
                QVERIFY2(archiveIsWhole(tool, path), qPrintable(it.key() + QStringLiteral(" is half-written")));
            }
        }
        // Nothing of the run's own is left behind.
        QVERIFY2(tree(tmp).isEmpty() && QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty(),
                 qPrintable(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).join(QLatin1Char(' '))));
        for (const QString &name : afterSrc.keys())
            QVERIFY2(!name.endsWith(QLatin1String(".tmp")), qPrintable(name));
    }

    // The program started on a disk that refuses its state folder (read-only) or has no room
    // left: it runs, takes files, says once in a notification that it cannot save, and saves
    // everything as soon as the disk works again.
    void startsOnAReadOnlyOrFullDisk_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("calls");
        QTest::addColumn<bool>("savedBefore");
        QTest::newRow("read-only data folder, first start") << EROFS << QByteArray("create,write,rename,link") << false;
        QTest::newRow("full disk, earlier state") << ENOSPC << QByteArray("write") << true;
        QTest::newRow("I/O errors, earlier state") << EIO << QByteArray("fsync,rename") << true;
    }
    void startsOnAReadOnlyOrFullDisk()
    {
        QFETCH(int, error);
        QFETCH(QByteArray, calls);
        QFETCH(bool, savedBefore);
        PrivateBus bus;
        if (!bus.isRunning())
            QSKIP("dbus-daemon is not available");
        QDBusConnection connection = bus.connect(QStringLiteral("desktop"));
        FakeNotifications notifications;
        QVERIFY(connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                          QDBusConnection::ExportAllSlots));
        QVERIFY(connection.registerService(QStringLiteral("org.freedesktop.Notifications")));

        QTemporaryDir dir;
        const QString state = dir.filePath(QStringLiteral("state"));
        const QString shelvesFile = state + QStringLiteral("/data/Perchbox/shelves.json");
        const QString diskSwitch = dir.filePath(QStringLiteral("disk-fails"));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("first.txt")), "1"));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("second.txt")), "2"));
        QProcessEnvironment env = programEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), state + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), state + QStringLiteral("/config"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        const auto perchbox = [&](const QStringList &arguments) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(PERCHBOX_EXECUTABLE), arguments);
            return p.waitForFinished(30000) ? p.exitCode() : -1;
        };
        const auto startProgram = [&](QProcess &program) {
            program.setProcessEnvironment(env);
            program.setProcessChannelMode(QProcess::MergedChannels);
            program.start(QStringLiteral(PERCHBOX_EXECUTABLE), {});
            QVERIFY(program.waitForStarted(10000));
            QTRY_VERIFY_WITH_TIMEOUT(connection.interface()->isServiceRegistered(AppBus::serviceName).value(), 20000);
        };

        QByteArray earlier;
        if (savedBefore) {
            QProcess program;
            startProgram(program);
            QCOMPARE(perchbox({QStringLiteral("--send"), dir.filePath(QStringLiteral("first.txt"))}), 0);
            QCOMPARE(perchbox({QStringLiteral("--quit")}), 0);
            QVERIFY(program.waitForFinished(20000));
            earlier = readFile(shelvesFile);
            QVERIFY(!earlier.isEmpty());
        }

        QVERIFY(writeFile(diskSwitch, ""));
        FaultSettings{state, error, calls, 0, dir.filePath(QStringLiteral("faults.log")), diskSwitch}.addTo(env);
        QProcess program;
        startProgram(program);
        QCOMPARE(perchbox({QStringLiteral("--send"), dir.filePath(QStringLiteral("second.txt"))}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(notifications.received.join(QLatin1Char('\n')).contains(QLatin1String("Shelves Not Saved")), 15000);
        const QString said = notifications.received.join(QLatin1Char('\n'));
        QVERIFY2(said.contains(QString::fromLocal8Bit(std::strerror(error)), Qt::CaseInsensitive), qPrintable(said));
        QCOMPARE(readFile(shelvesFile), earlier);
        QCOMPARE(program.state(), QProcess::Running);
        QTest::qWait(6000); // a retry on the failing disk is not said again
        QCOMPARE(notifications.received.filter(QStringLiteral("Shelves Not Saved")).size(), 1);

        QVERIFY(QFile::remove(diskSwitch)); // the disk works again
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(shelvesFile).size() > earlier.size(), 15000);
        const auto shelves = ShelfJson::decodeShelves(readFile(shelvesFile));
        QVERIFY(shelves);
        QStringList onShelves;
        for (const Shelf &shelf : *shelves)
            for (const ShelfFile &file : shelf.files)
                onShelves << file.url.fileName();
        QVERIFY2(onShelves.contains(QStringLiteral("second.txt")), qPrintable(onShelves.join(QLatin1Char(' '))));
        QCOMPARE(onShelves.contains(QStringLiteral("first.txt")), savedBefore);
        QCOMPARE(perchbox({QStringLiteral("--quit")}), 0);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(DiskFaultsTest)
#include "tst_disk_faults.moc"
