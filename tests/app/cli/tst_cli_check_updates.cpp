// `perchbox check-updates`, run as a user would through the perchbox program (no display, no
// running instance), against a loopback HTTP server standing in for the update feeds.
#include "LoopbackHttpServer.h"

#include "settings/SettingsStore.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result {
    int status = -1;
    QString out;
    QString err;
};

QByteArray feed(const QByteArray &version, const QByteArray &page)
{
    return "<?xml version=\"1.0\"?><rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><item><title>Perchbox " + version + "</title><link>" + page + "</link>"
           "<sparkle:shortVersionString>" + version + "</sparkle:shortVersionString>"
           "<enclosure url=\"" + page + "/perchbox.tar.gz\"/></item></channel></rss>";
}

} // namespace

class TestCliCheckUpdates : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    LoopbackHttpServer m_server;

    // Runs the program while this process keeps serving the feeds.
    Result perchbox(const QStringList &args, const QString &stable, const QString &nightly = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("PERCHBOX_STABLE_FEED_URL"), m_server.url(stable).toString());
        env.insert(QStringLiteral("PERCHBOX_NIGHTLY_FEED_URL"), m_server.url(nightly.isEmpty() ? stable : nightly).toString());
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        QProcess p;
        p.setProcessEnvironment(env);
        QSignalSpy done(&p, &QProcess::finished);
        p.start(QStringLiteral(PERCHBOX_EXECUTABLE), QStringList{QStringLiteral("check-updates")} + args);
        if (!done.wait(60000))
            return {};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY(m_server.isListening());
        m_server.ok("/new.xml", feed("99.0.0", "https://example.org/releases/99"));
        m_server.ok("/old.xml", feed("0.0.1", "https://example.org/releases/old"));
        m_server.ok("/nightly.xml", feed("99.1.0-nightly.20260101", "https://example.org/nightly"));
        m_server.ok("/broken.xml", "<rss><channel><item>");
    }

    void outcomes()
    {
        Result r = perchbox({}, "/new.xml");
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("Perchbox 99.0.0 is available (stable channel): https://example.org/releases/99\n"));
        QCOMPARE(r.err, QString());

        r = perchbox({}, "/old.xml");
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("Perchbox %1 is up to date (stable channel).\n").arg(PERCHBOX_VERSION));

        r = perchbox({"--channel", "nightly"}, "/old.xml", "/nightly.xml");
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("Perchbox 99.1.0-nightly.20260101 is available (nightly channel): https://example.org/nightly\n"));

        r = perchbox({"--channel=stable"}, "/missing.xml");
        QCOMPARE(r.status, 1);
        QCOMPARE(r.out, QString());
        QCOMPARE(r.err, QStringLiteral("perchbox: could not check for updates (stable channel): The update feed returned HTTP 404.\n"));

        r = perchbox({}, "/broken.xml");
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err, QStringLiteral("perchbox: could not check for updates (stable channel): The update feed could not be parsed.\n"));
    }

    // Without --channel the settings' channel applies.
    void channelFromSettings()
    {
        {
            SettingsStore store(m_home.filePath(QStringLiteral("config/Perchbox/settings.json")));
            store.setBool(QStringLiteral("useNightlyChannel"), true);
            QVERIFY(store.flush());
        }
        const Result r = perchbox({}, "/old.xml", "/nightly.xml");
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(QStringLiteral("(nightly channel)")), qPrintable(r.out));
        QVERIFY(QFile::remove(m_home.filePath(QStringLiteral("config/Perchbox/settings.json"))));
    }

    void usage()
    {
        for (const QStringList &args : {QStringList{"--channel", "beta"}, QStringList{"--channel"}, QStringList{"extra"}}) {
            const Result r = perchbox(args, "/new.xml");
            QCOMPARE(r.status, 2);
            QVERIFY(r.err.startsWith(QStringLiteral("perchbox: ")));
            QCOMPARE(r.err.count(u'\n'), 1);
        }
        QProcess help;
        help.start(QStringLiteral(PERCHBOX_EXECUTABLE), {QStringLiteral("--help")});
        QVERIFY(help.waitForFinished(30000));
        QVERIFY(help.readAllStandardOutput().contains("perchbox check-updates [--channel stable|nightly]"));
    }
};

QTEST_GUILESS_MAIN(TestCliCheckUpdates)
#include "tst_cli_check_updates.moc"
