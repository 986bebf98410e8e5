#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
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
    QStringList backups() const
    {
        return QDir(m_dir.path()).entryList({QStringLiteral("settings.json.damaged-*")}, QDir::Files);
    }

private slots:
    void init()
    {
        QDir dir(m_dir.path());
        for (const QString &name : dir.entryList(QDir::Files))
            dir.remove(name);
    }

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
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
