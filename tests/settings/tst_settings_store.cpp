#include "platform/AtomicFile.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

class TestSettingsStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("settings.json")); }
    void writeFile(const QByteArray &bytes)
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray readAll() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList backups() const
    {
        return QDir(m_dir.path()).entryList({QStringLiteral("settings.json.damaged-*")}, QDir::Files);
    }

private slots:
    void init()
    {
        QDir dir(m_dir.path());
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden))
            dir.remove(name);
    }
    void cleanup() { AtomicFileFaults::setHook({}); }

    void typesSurviveAReloadAndStayDistinct()
    {
        const QByteArray bytes("\x00\xff\xfe raw", 7);
        const qint64 big = std::numeric_limits<qint64>::max() - 1; // beyond exact doubles
        {
            SettingsStore store(path());
            store.setBool("b", false);
            store.setInt("i", 1);
            store.setInt("big", big);
            store.setInt("neg", -42);
            store.setDouble("d", 1.0);
            store.setDouble("inf", -std::numeric_limits<double>::infinity());
            store.setString("s", QStringLiteral("true"));
            store.setString("empty", QString());
            store.setData("bytes", bytes);
            QVERIFY(store.flush());
        }
        SettingsStore store(path());
        QCOMPARE(store.boolValue("b"), std::optional<bool>(false));
        QCOMPARE(store.intValue("i"), std::optional<qint64>(1));
        QCOMPARE(store.intValue("big"), std::optional<qint64>(big));
        QCOMPARE(store.intValue("neg"), std::optional<qint64>(-42));
        QCOMPARE(store.doubleValue("d"), std::optional<double>(1.0));
        QVERIFY(std::isinf(*store.doubleValue("inf")) && *store.doubleValue("inf") < 0);
        QCOMPARE(store.stringValue("s"), std::optional<QString>(QStringLiteral("true")));
        QCOMPARE(store.stringValue("empty"), std::optional<QString>(QString()));
        QCOMPARE(store.dataValue("bytes"), std::optional<QByteArray>(bytes));

        // A typed read of another type is nothing, not a conversion.
        QVERIFY(!store.intValue("b"));
        QVERIFY(!store.boolValue("i"));
        QVERIFY(!store.intValue("d"));
        QVERIFY(!store.doubleValue("i"));
        QVERIFY(!store.boolValue("s"));
        QVERIFY(!store.stringValue("bytes"));
        QCOMPARE(store.type("d"), std::optional(SettingsStore::Type::real));

        // Missing is not present-and-false.
        QVERIFY(!store.contains("missing"));
        QVERIFY(!store.boolValue("missing"));
        QVERIFY(store.contains("b"));
        store.remove("b");
        QVERIFY(!store.contains("b"));
    }

    void plainGettersConvertLikeADefaultsStore()
    {
        SettingsStore store(path());
        store.setString("yes", QStringLiteral("YES"));
        store.setString("num", QStringLiteral(" 42abc"));
        store.setDouble("d", 7.9);
        store.setInt("one", 1);
        store.setData("data", "1");
        QVERIFY(store.plainBool("yes"));
        QVERIFY(store.plainBool("one"));
        QVERIFY(!store.plainBool("missing"));
        QVERIFY(!store.plainBool("data"));
        QCOMPARE(store.plainInt("num"), 42);
        QCOMPARE(store.plainInt("d"), 7);
        QCOMPARE(store.plainInt("missing"), 0);
        QCOMPARE(store.plainInt("yes"), 0);
    }

    void writesAreSavedSoonAndOnDestruction()
    {
        auto store = std::make_unique<SettingsStore>(path());
        store->setInt("n", 5);
        QVERIFY(store->isDirty());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path()), 5000);
        QVERIFY(!store->isDirty());
        store->setInt("n", 6);
        store.reset(); // no event loop turn: the destructor saves
        QCOMPARE(SettingsStore(path()).intValue("n"), std::optional<qint64>(6));
    }

    void damagedFilesAreMovedAsideAndLoadEmpty_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("garbage") << QByteArray("\x01\x02 not json at all");
        QTest::newRow("truncated") << QByteArray("{\"format\": 1, \"values\": {\"a\": {\"type\": \"int\", \"val");
        QTest::newRow("array") << QByteArray("[1, 2, 3]");
        QTest::newRow("no values") << QByteArray(R"({"format": 1})");
        QTest::newRow("future format") << QByteArray(R"({"format": 99, "values": {}})");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("deep nesting") << QByteArray(100000, '[');
    }
    void damagedFilesAreMovedAsideAndLoadEmpty()
    {
        QFETCH(QByteArray, content);
        writeFile(content);
        {
            SettingsStore store(path());
            QVERIFY(store.keys().isEmpty());
            QCOMPARE(backups().size(), 1);
            QCOMPARE(store.damagedFileBackup(), m_dir.filePath(backups().first()));
            store.setBool("fresh", true);
        }
        QFile backup(m_dir.filePath(backups().first()));
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QCOMPARE(backup.readAll(), content); // nothing the user had is lost
        QCOMPARE(SettingsStore(path()).boolValue("fresh"), std::optional<bool>(true));
    }

    void badEntriesAreSkippedAndTheFileIsKept()
    {
        const QByteArray content = R"({"format": 1, "values": {
            "ok": {"type": "int", "value": 3},
            "fraction": {"type": "int", "value": 3.5},
            "hugeInt": {"type": "int", "value": 1e300},
            "boolAsString": {"type": "bool", "value": "true"},
            "unknownType": {"type": "date", "value": 1},
            "notAnObject": 12,
            "badBase64": {"type": "data", "value": "@@@"},
            "str": {"type": "string", "value": "x"}
        }})";
        writeFile(content);
        {
            SettingsStore store(path());
            QCOMPARE(store.keys(), QStringList({"ok", "str"}));
            QCOMPARE(backups().size(), 1);
            QFile backup(store.damagedFileBackup());
            QVERIFY(backup.open(QIODevice::ReadOnly));
            QCOMPARE(backup.readAll(), content);
        }
        // The cleaned file was written back: the next start finds nothing to set aside.
        SettingsStore again(path());
        QCOMPARE(again.keys(), QStringList({"ok", "str"}));
        QCOMPARE(backups().size(), 1);
        QVERIFY(again.damagedFileBackup().isEmpty());
    }

    void failedSaveKeepsChangesPending()
    {
        if (::geteuid() == 0)
            QSKIP("permissions do not stop root");
        const QString folder = m_dir.filePath(QStringLiteral("ro"));
        QVERIFY(QDir().mkpath(folder));
        SettingsStore store(folder + QStringLiteral("/settings.json"));
        store.setInt("n", 1);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        QString error;
        QVERIFY(!store.flush(&error));
        QVERIFY(!error.isEmpty());
        QVERIFY(store.isDirty());
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(store.flush());
        QVERIFY(!store.isDirty());
    }

    // A full disk: the file stays byte for byte (it holds every preset), the changes stay in
    // memory, the failure is told once, and the store writes them by itself once there is
    // room again.
    void fullDiskKeepsTheFile()
    {
        {
            SettingsStore store(path());
            store.setData("pbx.archivePresets.v1", QByteArray(5000, 'p'));
            QVERIFY(store.flush());
        }
        const QByteArray before = readAll();
        // Room for 100 bytes of each write, then none.
        AtomicFileFaults::setHook([written = std::make_shared<qint64>(0)](AtomicFileFaults::Step step, qint64 *bytes) {
            if (step == AtomicFileFaults::Step::create)
                *written = 0;
            if (step != AtomicFileFaults::Step::write)
                return 0;
            if (*written >= 100)
                return ENOSPC;
            *bytes = std::min<qint64>(*bytes, 100 - *written);
            *written += *bytes;
            return 0;
        });
        SettingsStore store(path());
        QSignalSpy failed(&store, &SettingsStore::saveFailed);
        store.setInt("n", 1);
        QString error;
        QVERIFY(!store.flush(&error));
        QVERIFY(!store.flush());
        store.setInt("n", 2);
        QVERIFY(!store.flush());
        QCOMPARE(readAll(), before);
        QCOMPARE(failed.size(), 1);
        QVERIFY2(error.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))), qPrintable(error));
        QVERIFY(store.isDirty());
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"settings.json"});

        AtomicFileFaults::setHook({});
        QTRY_VERIFY_WITH_TIMEOUT(!store.isDirty(), 3 * SettingsStore::retryDelayMs);
        QCOMPARE(SettingsStore(path()).intValue("n"), std::optional<qint64>(2));
        QCOMPARE(failed.size(), 1);
    }

    // A read-only store (the command line's listings) touches nothing: no cleaned copy, no
    // damaged file set aside, no save.
    void readOnlyStoreNeverWrites()
    {
        const QByteArray withBadEntry(R"({"format": 1, "values": {"ok": {"type": "int", "value": 1},
            "bad": {"type": "int", "value": "nope"}}})");
        writeFile(withBadEntry);
        {
            SettingsStore store(path(), nullptr, SettingsStore::Access::readOnly);
            QCOMPARE(store.intValue("ok"), std::optional<qint64>(1));
            store.setInt("ok", 2);
            QVERIFY(store.flush());
            QTest::qWait(2 * SettingsStore::saveDelayMs);
        }
        QCOMPARE(readAll(), withBadEntry);
        QVERIFY(backups().isEmpty());
        writeFile("damaged");
        SettingsStore store(path(), nullptr, SettingsStore::Access::readOnly);
        QVERIFY(store.keys().isEmpty());
        QVERIFY(backups().isEmpty());
        QCOMPARE(readAll(), QByteArray("damaged"));
    }

    // Presets hold archive passwords: the file is the user's alone whatever the umask, and
    // one an older version left readable by others is closed at load.
    void fileIsPrivate()
    {
        writeFile(R"({"format": 1, "values": {}})");
        QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0644) == 0);
        const mode_t old = ::umask(0);
        {
            SettingsStore store(path());
            QCOMPARE(QFileInfo(path()).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
            store.setString("password", "s3cret");
        }
        {
            SettingsStore fresh(m_dir.filePath("new/folder/settings.json"));
            fresh.setInt("n", 1);
        }
        ::umask(old);
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(path()).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QVERIFY(::stat(QFile::encodeName(m_dir.filePath("new/folder/settings.json")).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QVERIFY(::stat(QFile::encodeName(m_dir.filePath("new/folder")).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
