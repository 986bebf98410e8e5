// Kills the program with SIGKILL at random moments while it saves its state, a number of
// times, and checks after each kill that every state file reads as a whole save (the old
// content or the new one, never a mix, never empty) and that the next start loses nothing
// that had reached the disk before the kill.
#include "model/ShelfJson.h"
#include "platform/AppBus.h"

#include "PrivateBus.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>

QString crashPayload(qint64 revision); // the writer's, compiled in below

namespace {

// The programs under test; PERCHBOX_TEST_EXECUTABLE names another perchbox (a copy that a
// rebuild does not replace during a long run).
QString perchboxExecutable() { return qEnvironmentVariable("PERCHBOX_TEST_EXECUTABLE", QStringLiteral(PERCHBOX_EXECUTABLE)); }

int killCount(int fallback)
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("PERCHBOX_CRASH_KILLS", &ok);
    return ok && n > 0 ? n : fallback;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The temporary files that atomic writes leave beside `name` when they are cut short.
QStringList temporaries(const QString &folder, const QString &name)
{
    return QDir(folder).entryList({QLatin1Char('.') + name + QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden);
}

QStringList damagedBackups(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, {QStringLiteral("*.damaged-*")}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

void killHard(QProcess &process)
{
    if (process.state() != QProcess::NotRunning)
        ::kill(pid_t(process.processId()), SIGKILL);
    process.waitForFinished(10000);
}

// The paths of every file on every shelf, or nothing when "shelves.json" does not read.
std::optional<QSet<QString>> filesOnShelves(const QString &shelvesFile, QString *error)
{
    if (!QFile::exists(shelvesFile))
        return QSet<QString>();
    const QByteArray bytes = readFile(shelvesFile);
    const auto shelves = ShelfJson::decodeShelves(bytes, error);
    if (!shelves) {
        *error += QStringLiteral(" (%1 bytes)").arg(bytes.size());
        return std::nullopt;
    }
    QSet<QString> paths;
    for (const Shelf &shelf : *shelves)
        for (const ShelfFile &file : shelf.files)
            paths << file.url.toLocalFile();
    return paths;
}

} // namespace

QString crashPayload(qint64 revision)
{
    return QStringLiteral("r%1;").arg(revision).repeated(int(revision * 7919 % 5000));
}

class CrashSafetyTest : public QObject
{
    Q_OBJECT

    quint32 m_seed = 0;
    QRandomGenerator m_random;

private slots:
    void initTestCase()
    {
        bool ok = false;
        m_seed = quint32(qEnvironmentVariableIntValue("PERCHBOX_CRASH_SEED", &ok));
        if (!ok)
            m_seed = QRandomGenerator::global()->generate();
        m_random.seed(m_seed);
        qInfo("PERCHBOX_CRASH_SEED=%u", m_seed);
    }

    // The settings store saved as fast as it goes, killed after a random number of saves:
    // the file always holds one whole save, the one reported last or the one after it, and
    // the next start finds it.
    void settingsSurviveKills()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("settings.json"));
        const int kills = killCount(60);
        qint64 saved = 0;
        QStringList leftOver;
        int cutShort = 0;
        for (int k = 0; k < kills; ++k) {
            QProcess writer;
            writer.start(QStringLiteral(STATE_WRITER), {file});
            QVERIFY(writer.waitForStarted(10000));
            while (!writer.canReadLine())
                QVERIFY2(writer.waitForReadyRead(20000), "the writer said nothing");
            const QByteArray start = writer.readLine().trimmed();
            QVERIFY2(start.startsWith("start "), start.constData());
            const qint64 found = start.mid(6).toLongLong();
            // Nothing that had been saved is lost; at most the one save under way when the
            // writer was killed is there too.
            QVERIFY2(found == saved || found == saved + 1,
                     qPrintable(QStringLiteral("kill %1: saved %2, found %3").arg(k).arg(saved).arg(found)));
            saved = found;
            // What the kill left half-written is cleared away by the next start.
            for (const QString &name : std::as_const(leftOver))
                QVERIFY2(!QFile::exists(dir.filePath(name)), qPrintable(name));

            QThread::usleep(m_random.bounded(1000, 60000));
            killHard(writer);
            for (const QByteArray &line : writer.readAllStandardOutput().split('\n'))
                if (!line.isEmpty())
                    saved = qMax(saved, line.toLongLong());

            leftOver = temporaries(dir.path(), QStringLiteral("settings.json"));
            QVERIFY2(leftOver.size() <= 1, qPrintable(leftOver.join(QLatin1Char(' '))));
            if (!QFile::exists(file)) {
                // Killed before its first save was on the disk: nothing may have been reported.
                QCOMPARE(saved, qint64(0));
                continue;
            }
            const QByteArray bytes = readFile(file);
            QJsonParseError parseError;
            const QJsonObject root = QJsonDocument::fromJson(bytes, &parseError).object();
            QVERIFY2(parseError.error == QJsonParseError::NoError,
                     qPrintable(QStringLiteral("kill %1: %2 bytes do not parse: %3")
                                    .arg(k).arg(bytes.size()).arg(parseError.errorString())));
            const QJsonObject values = root.value(QStringLiteral("values")).toObject();
            const qint64 revision = values.value(QStringLiteral("crashRevision")).toObject().value(QStringLiteral("value")).toInteger();
            QVERIFY2(revision == saved || revision == saved + 1,
                     qPrintable(QStringLiteral("kill %1: reported %2, file holds %3").arg(k).arg(saved).arg(revision)));
            QCOMPARE(values.value(QStringLiteral("crashPayload")).toObject().value(QStringLiteral("value")).toString(),
                     crashPayload(revision));
            cutShort += int(revision == saved + 1) + int(!leftOver.isEmpty());
        }
        QVERIFY(damagedBackups(dir.path()).isEmpty());
        qInfo("%d kills, last revision %lld, %d kills inside a save", kills, saved, cutShort);
    }

    // The program itself, fed files and new shelves from the shell and killed at random
    // moments: "shelves.json" and the two id files always read, no shelf or file that was on
    // the disk before a kill is missing after it, the next start sets nothing aside as
    // damaged, and a last quit saves every file that was ever sent.
    void shelvesSurviveKills()
    {
        PrivateBus bus;
        if (!bus.isRunning())
            QSKIP("dbus-daemon is not available");
        QDBusConnection watcher = bus.connect(QStringLiteral("crash-watcher"));
        QTemporaryDir dir;
        const QString data = dir.filePath(QStringLiteral("data"));
        const QString stateFolder = data + QStringLiteral("/Perchbox");
        const QString shelvesFile = stateFolder + QStringLiteral("/shelves.json");
        const QString files = dir.filePath(QStringLiteral("files"));
        QVERIFY(QDir().mkpath(files));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const QString runtime = dir.filePath(QStringLiteral("runtime"));
        QVERIFY(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        const QString programLog = dir.filePath(QStringLiteral("program.log"));
        const auto verb = [&](const QStringList &arguments) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p.start(perchboxExecutable(), arguments);
            const bool finished = p.waitForFinished(30000);
            if (finished && p.exitStatus() == QProcess::NormalExit)
                return p.exitCode();
            qWarning("perchbox %s: %s; the program's log ends with:\n%s", qPrintable(arguments.first()),
                     finished ? "crashed" : "did not finish", readFile(programLog).right(3000).constData());
            p.kill();
            p.waitForFinished();
            return -1;
        };

        // Starts the program and waits until it is on the bus.
        const auto startProgram = [&](QProcess &program) {
            program.setProcessEnvironment(env);
            program.setStandardOutputFile(QProcess::nullDevice());
            program.setStandardErrorFile(programLog, QIODevice::Append);
            program.start(perchboxExecutable(), {});
            QVERIFY(program.waitForStarted(10000));
            QDeadlineTimer up(20000);
            while (!watcher.interface()->isServiceRegistered(AppBus::serviceName).value()) {
                QVERIFY2(!up.hasExpired() && program.state() == QProcess::Running, "the program did not come up");
                QThread::msleep(20);
            }
        };

        const int kills = killCount(10);
        QSet<QString> sent;
        QSet<QString> onDisk;
        int fileNumber = 0;
        for (int k = 0; k < kills; ++k) {
            QProcess program;
            startProgram(program);
            if (QTest::currentTestFailed())
                return;
            const QStringList damaged = damagedBackups(dir.path());
            QVERIFY2(damaged.isEmpty(), qPrintable(damaged.join(QLatin1Char(' '))));

            // A stream of changes for up to three seconds (a save follows a change within two).
            QDeadlineTimer stop(m_random.bounded(0, 3000));
            do {
                const quint32 roll = m_random.bounded(20);
                if (roll == 0) {
                    QCOMPARE(verb({QStringLiteral("new-shelf")}), 0);
                } else if (roll == 1) {
                    QCOMPARE(verb({QStringLiteral("toggle")}), 0);
                } else {
                    QStringList batch;
                    for (int i = 0, n = int(m_random.bounded(1, 4)); i < n; ++i) {
                        const QString path = files + QStringLiteral("/file %1.txt").arg(fileNumber++, 5, 10, QLatin1Char('0'));
                        QFile f(path);
                        QVERIFY(f.open(QIODevice::WriteOnly));
                        batch << path;
                    }
                    QCOMPARE(verb(QStringList{QStringLiteral("--send")} + batch), 0);
                    for (const QString &path : std::as_const(batch))
                        sent << path;
                }
                QVERIFY2(program.state() == QProcess::Running,
                         qPrintable(QStringLiteral("the program ended by itself (status %1); its log ends with:\n%2")
                                        .arg(program.exitCode()).arg(QString::fromUtf8(readFile(programLog).right(3000)))));
            } while (!stop.hasExpired());
            QString error;
            const auto before = filesOnShelves(shelvesFile, &error);
            QVERIFY2(before, qPrintable(error));
            QThread::usleep(m_random.bounded(0, 300000));
            killHard(program);

            const auto after = filesOnShelves(shelvesFile, &error);
            QVERIFY2(after, qPrintable(QStringLiteral("kill %1: %2").arg(k).arg(error)));
            QVERIFY2(after->contains(*before) && after->contains(onDisk),
                     qPrintable(QStringLiteral("kill %1: files that were saved are gone").arg(k)));
            QVERIFY(sent.contains(*after));
            onDisk = *after;
            for (const QString &name : {QStringLiteral("openShelves.json"), QStringLiteral("hidden-shelf-ids.json")}) {
                const QString path = stateFolder + QLatin1Char('/') + name;
                if (QFile::exists(path))
                    QVERIFY2(ShelfJson::decodeIdSet(readFile(path)), qPrintable(QStringLiteral("kill %1: %2").arg(k).arg(name)));
            }
        }

        // A last start and a proper quit: every file ever sent is there, once.
        QProcess program;
        startProgram(program);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(verb({QStringLiteral("--send"), files + QStringLiteral("/file 00000.txt")}), 0);
        QCOMPARE(verb({QStringLiteral("--quit")}), 0);
        QVERIFY(program.waitForFinished(20000));
        QString error;
        const auto last = filesOnShelves(shelvesFile, &error);
        QVERIFY2(last, qPrintable(error));
        QVERIFY(last->contains(onDisk));
        QVERIFY(damagedBackups(dir.path()).isEmpty());
        for (const QString &name : {QStringLiteral("shelves.json"), QStringLiteral("openShelves.json"),
                                   QStringLiteral("hidden-shelf-ids.json")})
            QVERIFY2(temporaries(stateFolder, name).isEmpty(), qPrintable(name));
        qInfo("%d kills, %lld files sent, %lld on the shelves at the end", kills, qint64(sent.size()), qint64(last->size()));
    }
};

QTEST_GUILESS_MAIN(CrashSafetyTest)
#include "tst_crash_safety.moc"
