// The update channel: version order, the stable-release parser and resolver, the update check
// and the controller, against a loopback HTTP server serving fixture feeds.
#include "LoopbackHttpServer.h"

#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "updates/FeedFetcher.h"
#include "updates/StableReleaseResolver.h"
#include "updates/UpdateChecker.h"
#include "updates/UpdateController.h"
#include "updates/UpdateFeeds.h"
#include "updates/Version.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Item {
    QString version;   // written as <sparkle:shortVersionString>; null: none
    QString url;       // the enclosure's url attribute; null: no enclosure
    QString link;      // <link>; null: none
};

QByteArray appcast(const QList<Item> &items)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
                     "<channel><title>Perchbox</title>\n";
    for (const Item &item : items) {
        xml += "<item><title>Perchbox</title>\n";
        if (!item.version.isNull())
            xml += "<sparkle:shortVersionString>" + item.version.toUtf8() + "</sparkle:shortVersionString>\n";
        if (!item.link.isNull())
            xml += "<link>" + item.link.toUtf8() + "</link>\n";
        if (!item.url.isNull())
            xml += "<enclosure url=\"" + item.url.toUtf8() + "\" length=\"1\" type=\"application/octet-stream\"/>\n";
        xml += "</item>\n";
    }
    return xml + "</channel></rss>\n";
}

StableReleaseResolver::Result resolve(int timeoutMs = 5000)
{
    StableReleaseResolver resolver;
    resolver.setTimeout(timeoutMs);
    QSignalSpy spy(&resolver, &StableReleaseResolver::finished);
    resolver.resolveLatestStable();
    if (!spy.wait(timeoutMs + 10000))
        return {};
    return spy.first().first().value<StableReleaseResolver::Result>();
}

UpdateCheckResult check(const QUrl &feed, const QString &current, int timeoutMs = 5000)
{
    UpdateChecker checker;
    checker.setTimeout(timeoutMs);
    QSignalSpy spy(&checker, &UpdateChecker::finished);
    checker.check(feed.toString(), current);
    if (!spy.wait(timeoutMs + 10000))
        return {};
    return spy.first().first().value<UpdateCheckResult>();
}

QString errorText(const StableReleaseResolver::Result &r)
{
    return r.error ? r.error->errorDescription() : QStringLiteral("(no error)");
}

// A feed whose DTD expands one entity a billion times.
const QByteArray kEntityBomb =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY a \"aaaaaaaaaa\">\n"
    "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
    "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
    "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">\n<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">\n"
    "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">\n<!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">\n]>\n"
    "<rss><channel><item><sparkle:shortVersionString>&i;</sparkle:shortVersionString>"
    "<enclosure url=\"https://example.org/x.tar.gz\"/></item></channel></rss>\n";

} // namespace

class TestUpdates : public QObject
{
    Q_OBJECT

    std::unique_ptr<LoopbackHttpServer> m_server;
    QTemporaryDir m_config;

    void pointStableAt(const QString &path) { qputenv("PERCHBOX_STABLE_FEED_URL", m_server->url(path).toEncoded()); }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<StableReleaseResolver::Result>();
        qRegisterMetaType<UpdateCheckResult>();
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    }

    void init()
    {
        m_server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(m_server->isListening());
        qunsetenv("PERCHBOX_STABLE_FEED_URL");
        qunsetenv("PERCHBOX_NIGHTLY_FEED_URL");
    }

    void versionOrder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("patch") << "0.1.1" << "0.1.0" << 1;
        QTest::newRow("numbers not text") << "0.10.0" << "0.9.9" << 1;
        QTest::newRow("missing zero") << "1.2" << "1.2.0" << 0;
        QTest::newRow("leading v") << "v1.3" << "1.2.9" << 1;
        QTest::newRow("build metadata") << "1.0.0+abc" << "1.0.0+xyz" << 0;
        QTest::newRow("pre-release before release") << "1.3.0-nightly.20260412" << "1.3.0" << -1;
        QTest::newRow("nightly after previous release") << "1.3.0-nightly.1" << "1.2.9" << 1;
        QTest::newRow("nightly dates") << "1.3.0-nightly.20260413" << "1.3.0-nightly.20260412" << 1;
        QTest::newRow("numeric pieces") << "2.0-beta.10" << "2.0-beta.2" << 1;
        QTest::newRow("numbers before words") << "2.0-beta.x" << "2.0-beta.10" << 1;
        QTest::newRow("longer pre-release") << "2.0-beta.1.1" << "2.0-beta.1" << 1;
        QTest::newRow("garbage below any version") << "latest" << "0.0.1" << -1;
        QTest::newRow("huge numbers saturate") << "99999999999999999999999" << "1" << 1;
    }
    void versionOrder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(Version::compare(a, b), order);
        QCOMPARE(Version::compare(b, a), -order);
        QCOMPARE(Version::isNightly(u"0.2.0-nightly.3"), true);
        QCOMPARE(Version::isNightly(u"0.2.0"), false);
    }

    // The parser delegate's rules, on documents alone.
    void firstCompleteItemWins()
    {
        // Items without a URL or without a version (or only white space) do not count; the
        // first complete one does, whatever comes after it.
        const QByteArray feed = appcast({{"0.9.0", {}, {}},
                                         {{}, "https://example.org/no-version.tar.gz", {}},
                                         {" \n\t ", "https://example.org/blank.tar.gz", {}},
                                         {" 0.8.1\n", "https://example.org/perchbox-0.8.1.tar.gz", {}},
                                         {"0.9.9", "https://example.org/perchbox-0.9.9.tar.gz", {}}});
        const auto result = StableReleaseResolver::parse(feed);
        QVERIFY2(result.release, qPrintable(errorText(result)));
        QCOMPARE(result.release->displayVersion, QStringLiteral("0.8.1"));
        QCOMPARE(result.release->downloadURL, QUrl("https://example.org/perchbox-0.8.1.tar.gz"));

        // Both element spellings count; a version outside any item does not.
        const QByteArray plain = "<rss><channel><sparkle:shortVersionString>9.9</sparkle:shortVersionString>"
                                 "<item><enclosure url=\"https://example.org/a\"/><shortVersionString>1.0"
                                 "</shortVersionString></item></channel></rss>";
        QCOMPARE(StableReleaseResolver::parse(plain).release->displayVersion, QStringLiteral("1.0"));

        // A later enclosure without a usable url takes the URL away again.
        const QByteArray twoEnclosures = "<rss><channel><item><sparkle:shortVersionString>1.0</sparkle:shortVersionString>"
                                         "<enclosure url=\"https://example.org/a\"/><enclosure type=\"x\"/></item>"
                                         "</channel></rss>";
        QCOMPARE(StableReleaseResolver::parse(twoEnclosures).error->kind,
                 StableReleaseResolver::Error::Kind::missingStableDownload);
    }

    void parseFailures()
    {
        using Kind = StableReleaseResolver::Error::Kind;
        QCOMPARE(StableReleaseResolver::parse("<rss><channel><item>").error->kind, Kind::malformedAppcast);
        QCOMPARE(StableReleaseResolver::parse("").error->kind, Kind::malformedAppcast);
        QCOMPARE(StableReleaseResolver::parse("not xml at all").error->kind, Kind::malformedAppcast);
        QCOMPARE(StableReleaseResolver::parse(appcast({})).error->kind, Kind::missingStableDownload);
        QCOMPARE(StableReleaseResolver::parse(appcast({})).error->errorDescription(),
                 QStringLiteral("No stable download was found in the update feed."));
        // Undeclared entities are faults, not text.
        QCOMPARE(StableReleaseResolver::parse("<rss><item><sparkle:shortVersionString>&ver;</sparkle:shortVersionString>"
                                              "<enclosure url=\"https://example.org/a\"/></item></rss>").error->kind,
                 Kind::malformedAppcast);
    }

    void hostileFeedsAreRefused()
    {
        using Kind = StableReleaseResolver::Error::Kind;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(StableReleaseResolver::parse(kEntityBomb).error->kind, Kind::malformedAppcast);
        // An external entity would pull a local file into the version.
        const QByteArray external = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY v SYSTEM \"file:///etc/hostname\">]>"
                                    "<rss><channel><item><sparkle:shortVersionString>&v;</sparkle:shortVersionString>"
                                    "<enclosure url=\"https://example.org/a\"/></item></channel></rss>";
        QCOMPARE(StableReleaseResolver::parse(external).error->kind, Kind::malformedAppcast);
        QList<AppcastRelease> releases;
        QVERIFY(!UpdateChecker::readReleases(kEntityBomb, &releases));
        QVERIFY(!UpdateChecker::readReleases(external, &releases));
        QVERIFY(releases.isEmpty());
    }

    // The resolver end to end, against the loopback server.
    void resolverOverHttp()
    {
        using Kind = StableReleaseResolver::Error::Kind;
        m_server->ok("/stable.xml", appcast({{"0.4.0", "https://example.org/perchbox-0.4.0.tar.gz", {}}}));
        pointStableAt("/stable.xml");
        auto result = resolve();
        QVERIFY2(result.release, qPrintable(errorText(result)));
        QCOMPARE(*result.release, (StableReleaseInfo{"0.4.0", QUrl("https://example.org/perchbox-0.4.0.tar.gz")}));

        pointStableAt("/missing.xml");
        result = resolve();
        QCOMPARE(result.error->kind, Kind::badResponse);
        QCOMPARE(result.error->statusCode, 404);
        QCOMPARE(errorText(result), QStringLiteral("The stable update feed returned HTTP 404."));

        m_server->route("/broken.xml", {500, "oops", {}});
        pointStableAt("/broken.xml");
        QCOMPARE(errorText(resolve()), QStringLiteral("The stable update feed returned HTTP 500."));

        m_server->ok("/malformed.xml", "<rss><channel><item><title>half");
        pointStableAt("/malformed.xml");
        QCOMPARE(errorText(resolve()), QStringLiteral("The stable update feed could not be parsed."));

        m_server->ok("/bomb.xml", kEntityBomb);
        pointStableAt("/bomb.xml");
        QCOMPARE(errorText(resolve()), QStringLiteral("The stable update feed could not be parsed."));

        // Redirects are followed; a loop ends in an error.
        m_server->redirect("/moved.xml", m_server->url("/stable.xml").toString(), 301);
        pointStableAt("/moved.xml");
        QCOMPARE(resolve().release->displayVersion, QStringLiteral("0.4.0"));
        m_server->redirect("/loop.xml", m_server->url("/loop.xml").toString());
        pointStableAt("/loop.xml");
        result = resolve();
        QCOMPARE(result.error->kind, Kind::other);
        QVERIFY(!result.error->message.isEmpty());
        // Bounded: the first request and at most kMaxRedirects more. Qt sends a GET again, once,
        // when the server closed a kept-alive connection under it, so a hop may count twice.
        const int hits = m_server->hits("/loop.xml");
        QVERIFY2(hits <= 2 * (FeedFetcher::kMaxRedirects + 1),
                 qPrintable(QString::number(hits)));
    }

    void resolverFeedAddress()
    {
        using Kind = StableReleaseResolver::Error::Kind;
        for (const char *bad : {"ftp://example.org/feed.xml", "no scheme", "file:///etc/hostname", "https://"}) {
            qputenv("PERCHBOX_STABLE_FEED_URL", bad);
            const auto result = resolve();
            QVERIFY2(result.error && result.error->kind == Kind::invalidFeedURL, bad);
            QCOMPARE(errorText(result), QStringLiteral("The stable update feed URL is invalid."));
        }
        QCOMPARE(StableReleaseResolver::Error{Kind::missingFeedURL}.errorDescription(),
                 QStringLiteral("The stable update feed is missing from this build."));
        QCOMPARE(StableReleaseResolver::Error{Kind::couldNotOpenDownload}.errorDescription(),
                 QStringLiteral("The stable download could not be opened."));
        // Without the environment the build's address applies; with it, it wins.
        qunsetenv("PERCHBOX_STABLE_FEED_URL");
        QCOMPARE(UpdateFeeds::stableFeedAddress(), std::optional<QString>(QStringLiteral(PERCHBOX_TEST_STABLE_FEED)));
        qputenv("PERCHBOX_NIGHTLY_FEED_URL", "http://127.0.0.1:1/nightly.xml");
        QCOMPARE(UpdateFeeds::addressForChannel(true), QStringLiteral("http://127.0.0.1:1/nightly.xml"));
    }

    void deadlineAndSizeCap()
    {
        // A server that takes the request and never answers: the check gives up at its deadline.
        m_server->route("/silent.xml", {200, {}, {}, true});
        pointStableAt("/silent.xml");
        const auto result = resolve(300);
        QVERIFY(result.error);
        QCOMPARE(errorText(result), QStringLiteral("The update server did not answer within 0.3 seconds."));
        QCOMPARE(check(m_server->url("/silent.xml"), "0.1.0", 300).message,
                 QStringLiteral("The update server did not answer within 0.3 seconds."));

        // Over the cap, with and without a declared length.
        const QByteArray huge = appcast({{"9.0", "https://example.org/a", {}}}) + QByteArray(FeedFetcher::kMaxBodyBytes, ' ');
        m_server->ok("/huge.xml", huge);
        m_server->route("/huge-unannounced.xml", {200, huge, {}, false, false});
        for (const char *path : {"/huge.xml", "/huge-unannounced.xml"}) {
            const UpdateCheckResult r = check(m_server->url(path), "0.1.0");
            QCOMPARE(r.status, UpdateCheckResult::Status::error);
            QCOMPARE(r.message, QStringLiteral("The update feed is larger than 8 MB."));
        }
        // Nobody listening at all.
        const UpdateCheckResult refused = check(QUrl("http://127.0.0.1:1/feed.xml"), "0.1.0");
        QCOMPARE(refused.status, UpdateCheckResult::Status::error);
        QVERIFY(!refused.message.isEmpty());
    }

    // The update check reads every item and offers the newest newer one.
    void updateCheck()
    {
        m_server->ok("/feed.xml", appcast({{"0.2.0", "https://example.org/0.2.0.tar.gz", {}},
                                           {"0.3.0", "https://example.org/0.3.0.tar.gz", "https://example.org/releases/0.3.0"},
                                           {"0.2.5", "https://example.org/0.2.5.tar.gz", {}},
                                           {"9.0.0", "file:///etc/passwd", {}}}));
        UpdateCheckResult r = check(m_server->url("/feed.xml"), "0.1.0");
        QCOMPARE(r.status, UpdateCheckResult::Status::found);
        QCOMPARE(r.version, QStringLiteral("0.3.0"));
        QCOMPARE(r.page, QUrl("https://example.org/releases/0.3.0"));
        QCOMPARE(check(m_server->url("/feed.xml"), "0.3.0").status, UpdateCheckResult::Status::upToDate);
        QCOMPARE(check(m_server->url("/feed.xml"), "0.4.0").status, UpdateCheckResult::Status::upToDate);
        // A nightly of the coming release is older than that release.
        r = check(m_server->url("/feed.xml"), "0.3.0-nightly.20260101");
        QCOMPARE(r.status, UpdateCheckResult::Status::found);
        QCOMPARE(r.version, QStringLiteral("0.3.0"));

        // Versions given the other way appcasts write them.
        m_server->ok("/attrs.xml", "<rss><channel><item><enclosure url=\"https://example.org/1.tar.gz\" "
                                   "sparkle:version=\"100\" sparkle:shortVersionString=\"1.0.0\"/></item>"
                                   "</channel></rss>");
        r = check(m_server->url("/attrs.xml"), "0.9");
        QCOMPARE(r.version, QStringLiteral("1.0.0"));
        QCOMPARE(r.page, QUrl("https://example.org/1.tar.gz"));

        QCOMPARE(check(m_server->url("/nothing.xml"), "0.1.0").message, QStringLiteral("The update feed returned HTTP 404."));
        m_server->ok("/bad.xml", "<rss>");
        QCOMPARE(check(m_server->url("/bad.xml"), "0.1.0").message, QStringLiteral("The update feed could not be parsed."));
    }

    // The controller: channel choice, the status notification, the launch check, and the way
    // back to stable.
    void controller()
    {
        SettingsStore store(m_config.path() + "/controller.json");
        AppSettings settings(store);
        UpdateController updates(settings);
        updates.setCurrentVersion(QStringLiteral("0.5.0-nightly.20260101"));
        QList<QUrl> opened;
        bool openWorks = true;
        updates.setOpenUrl([&](const QUrl &url) {
            opened.append(url);
            return openWorks;
        });
        QList<QVariantMap> statuses;
        QObject observer;
        NotificationCenter::instance().observe(Notifications::updateStatus, &observer,
                                               [&](const QVariantMap &info) { statuses.append(info); });
        QVERIFY(updates.isNightlyBuild());
        QCOMPARE(updates.buildChannelName(), QStringLiteral("Nightly Build"));

        m_server->ok("/stable.xml", appcast({{"0.4.0", "https://example.org/perchbox-0.4.0.tar.gz", {}}}));
        m_server->ok("/nightly.xml", appcast({{"0.5.0-nightly.20260102", "https://example.org/n.tar.gz",
                                               "https://example.org/nightly"}}));
        pointStableAt("/stable.xml");
        qputenv("PERCHBOX_NIGHTLY_FEED_URL", m_server->url("/nightly.xml").toEncoded());

        // Stable channel: nothing newer than this nightly's coming release.
        QCOMPARE(updates.feedURLStringForUpdater(), std::nullopt);
        QSignalSpy finished(&updates, &UpdateController::checkFinished);
        updates.checkForUpdates();
        QCOMPARE(updates.checkState(), UpdateController::CheckState::checking);
        QVERIFY(finished.wait());
        QCOMPARE(statuses.last(), (QVariantMap{{"status", "upToDate"}}));
        QCOMPARE(updates.statusText(), QStringLiteral("You're up to date."));

        // Nightly channel: the newer nightly is found; its page opens only when asked.
        settings.setUseNightlyChannel(true);
        QCOMPARE(updates.feedURLStringForUpdater(), std::optional<QString>(m_server->url("/nightly.xml").toString()));
        updates.checkForUpdates();
        QVERIFY(finished.wait());
        QCOMPARE(statuses.last(), (QVariantMap{{"status", "found"}, {"version", "0.5.0-nightly.20260102"}}));
        QCOMPARE(updates.statusText(), QStringLiteral("0.5.0-nightly.20260102 is available"));
        QVERIFY(opened.isEmpty());
        QVERIFY(updates.openUpdatePage());
        QCOMPARE(opened, QList<QUrl>{QUrl("https://example.org/nightly")});

        // A channel change drops the outcome (and a check on its way).
        updates.checkForUpdates();
        settings.setUseNightlyChannel(false);
        QCOMPARE(updates.checkState(), UpdateController::CheckState::idle);
        QVERIFY(!finished.wait(300));

        // Errors carry their message.
        pointStableAt("/gone.xml");
        updates.checkForUpdates();
        QVERIFY(finished.wait());
        QCOMPARE(statuses.last(), (QVariantMap{{"status", "error"}, {"message", "The update feed returned HTTP 404."}}));
        QCOMPARE(updates.statusText(), QStringLiteral("Could not reach update server."));

        // The launch check runs only with automatic checks on.
        settings.setAutomaticUpdateChecks(false);
        updates.checkAtLaunch();
        QCOMPARE(updates.checkState(), UpdateController::CheckState::error);
        settings.setAutomaticUpdateChecks(true);
        updates.checkAtLaunch();
        QCOMPARE(updates.checkState(), UpdateController::CheckState::checking);
        QVERIFY(finished.wait());
        QCOMPARE(finished.last().at(1).value<UpdateController::Trigger>(), UpdateController::Trigger::automatic);

        // Switch back to stable: a failure leaves the channel alone …
        settings.setUseNightlyChannel(true);
        opened.clear();
        QSignalSpy switching(&updates, &UpdateController::switchStateChanged);
        updates.switchBackToStable();
        QCOMPARE(updates.switchMessage(), QStringLiteral("Preparing Stable Download…"));
        QVERIFY(switching.wait());
        QCOMPARE(updates.switchState(), UpdateController::SwitchState::failed);
        QCOMPARE(updates.switchMessage(), QStringLiteral("The stable update feed returned HTTP 404."));
        QVERIFY(settings.useNightlyChannel());

        // … as does a download that cannot be opened, or one that is not a web page …
        pointStableAt("/stable.xml");
        openWorks = false;
        updates.switchBackToStable();
        QVERIFY(switching.wait());
        QCOMPARE(updates.switchMessage(), QStringLiteral("The stable download could not be opened."));
        QVERIFY(settings.useNightlyChannel());
        openWorks = true;
        m_server->ok("/local.xml", appcast({{"0.4.0", "file:///usr/bin/true", {}}}));
        pointStableAt("/local.xml");
        opened.clear();
        updates.switchBackToStable();
        QVERIFY(switching.wait());
        QCOMPARE(updates.switchMessage(), QStringLiteral("The stable download could not be opened."));
        QVERIFY(opened.isEmpty());

        // … and success opens the download and turns the nightly channel off.
        pointStableAt("/stable.xml");
        QSignalSpy channel(&settings, &AppSettings::useNightlyChannelChanged);
        updates.switchBackToStable();
        QVERIFY(switching.wait());
        QCOMPARE(updates.switchState(), UpdateController::SwitchState::succeeded);
        QCOMPARE(opened, QList<QUrl>{QUrl("https://example.org/perchbox-0.4.0.tar.gz")});
        QVERIFY(!settings.useNightlyChannel());
        QCOMPARE(channel.count(), 1);
        QVERIFY(updates.switchMessage().startsWith(QStringLiteral("Opened the stable 0.4.0 download.")));
    }
};

QTEST_GUILESS_MAIN(TestUpdates)
#include "tst_updates.moc"
