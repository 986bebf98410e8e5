// The "Automation" and "Updates" settings pages and "Check for Updates" in the program shell,
// with the screenshot watcher on a temporary Pictures folder and the update feeds served on
// the loopback interface.
#include "LoopbackHttpServer.h"
#include "ShellFixture.h"

#include "app/PerchboxApp.h"
#include "app/ScreenshotIntegration.h"
#include "app/SettingsWindow.h"
#include "app/UpdateIntegration.h"
#include "input/screenshots/ScreenshotWatcher.h"
#include "platform/NotificationCenter.h"
#include "updates/UpdateController.h"
#include "updates/UpdatePrompt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace {

QByteArray feed(const QByteArray &version, const QByteArray &page)
{
    return "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
           "<link>" + page + "</link><sparkle:shortVersionString>" + version + "</sparkle:shortVersionString>"
           "<enclosure url=\"" + page + ".tar.gz\"/></item></channel></rss>";
}

template <typename T>
T *child(QWidget *parent, const char *name)
{
    return parent ? parent->findChild<T *>(QLatin1String(name)) : nullptr;
}

} // namespace

class TestAutomationAndUpdates : public QObject
{
    Q_OBJECT

    LoopbackHttpServer m_server;

    struct App {
        ShellFixture shell;
        std::unique_ptr<PerchboxApp> app;
        std::unique_ptr<ScreenshotIntegration> screenshots;
        std::unique_ptr<UpdateIntegration> updates;
        QList<QUrl> opened;
        QString pictures;

        explicit App(bool automaticChecks)
        {
            qputenv("HOME", QFile::encodeName(shell.dir.path() + "/home"));
            qunsetenv("XDG_CURRENT_DESKTOP");
            pictures = shell.dir.path() + "/home/Pictures/Screenshots";
            QDir().mkpath(pictures);
            shell.settings->setAutomaticUpdateChecks(automaticChecks);
            PerchboxApp::Options options;
            options.windowFactory = [](ShelfManager &m, const QUuid &id) -> QWidget * {
                auto *w = new QWidget;
                w->setObjectName(QStringLiteral("perchbox-shelf-") + uuidString(id));
                w->setAttribute(Qt::WA_DeleteOnClose);
                m.openShelf(id);
                w->show();
                return w;
            };
            options.integrateWithFileManagers = false;
            options.tutorialOnFirstStart = false;
            app = std::make_unique<PerchboxApp>(*shell.manager, *shell.settings, options);
            screenshots = std::make_unique<ScreenshotIntegration>(*app);
            updates = std::make_unique<UpdateIntegration>(*app);
            updates->controller().setOpenUrl([this](const QUrl &url) {
                opened.append(url);
                return true;
            });
        }
        ~App()
        {
            updates.reset();
            screenshots.reset();
            app.reset();
        }
    };

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.isListening());
        m_server.ok("/new.xml", feed("99.0.0", "https://example.org/releases/99"));
        m_server.ok("/old.xml", feed("0.0.1", "https://example.org/releases/old"));
        m_server.ok("/stable.xml", feed("0.4.0", "https://example.org/releases/0.4.0"));
    }

    void automationPage()
    {
        App a(false);
        SettingsWindow *window = a.app->openSettings(QStringLiteral("Automation"));
        const QStringList titles = window->pageTitles();
        QVERIFY(titles.contains("Automation") && titles.contains("Updates"));
        QCOMPARE(titles.last(), QStringLiteral("About & Notices"));
        QWidget *page = window->page(QStringLiteral("Automation"));
        auto *status = child<QLabel>(page, "watcherStatus");
        QVERIFY(status);
        QCOMPARE(status->text(), QStringLiteral("Auto-capture is off."));
        QVERIFY(child<QLabel>(page, "screenshotFolder")->text().startsWith(QStringLiteral("~/Pictures/Screenshots")));

        // The switch starts the watcher on the desktop's folder.
        child<QCheckBox>(page, "screenshotEnabled")->click();
        QVERIFY(a.shell.settings->screenshotEnabled());
        ScreenshotWatcher &watcher = a.screenshots->watcher();
        QVERIFY(watcher.isRunning());
        QCOMPARE(watcher.currentWatchedDir(), a.pictures);
        QCOMPARE(status->text(), QStringLiteral("Watching ~/Pictures/Screenshots for new screenshots."));

        // A screenshot lands on a new "Screenshots" shelf, whose window opens.
        QFile shot(a.pictures + "/shot.png");
        QVERIFY(shot.open(QIODevice::WriteOnly) && shot.write("png") == 3);
        shot.close();
        QTRY_VERIFY(a.app->delegate().windowForShelf(
            [&] { for (const Shelf &s : a.shell.manager->shelves()) if (s.name == "Screenshots") return s.id; return QUuid(); }()));

        // The shelf list follows the manager; picking one sets the setting.
        auto *shelves = child<QComboBox>(page, "screenshotShelf");
        QCOMPARE(shelves->count(), 2);
        QCOMPARE(shelves->itemText(1), QStringLiteral("Screenshots"));
        const Shelf mine = Shelf::make("Mine", ShelfColorData::systemBlue(), "tray");
        a.shell.manager->appendShelf(mine);
        QCOMPARE(shelves->count(), 3);
        shelves->setCurrentIndex(2);
        emit shelves->activated(2);
        QCOMPARE(a.shell.settings->screenshotShelfID(), mine.id);

        // The folder going away shows; a chosen folder replaces the default until reset.
        QVERIFY(QDir(a.pictures).removeRecursively());
        QTRY_VERIFY(status->text().contains(QStringLiteral("is not there")));
        const QString other = a.shell.dir.path() + "/elsewhere";
        QDir().mkpath(other);
        a.shell.settings->setScreenshotFolder(QUrl::fromLocalFile(other));
        QCOMPARE(watcher.currentWatchedDir(), other);
        QCOMPARE(child<QLabel>(page, "screenshotFolder")->text(), other);
        QCOMPARE(status->text(), QStringLiteral("Watching %1 for new screenshots.").arg(other));
        auto *useDefault = child<QPushButton>(page, "useDefaultFolder");
        QVERIFY(useDefault->isEnabled());
        useDefault->click();
        QVERIFY(a.shell.settings->screenshotFolder().isEmpty());
        QVERIFY(!useDefault->isEnabled());
    }

    void updatesPageAndTrayCheck()
    {
        qputenv("PERCHBOX_STABLE_FEED_URL", m_server.url("/new.xml").toEncoded());
        App a(false);
        QCOMPARE(a.updates->controller().checkState(), UpdateController::CheckState::idle); // no launch check
        SettingsWindow *window = a.app->openSettings(QStringLiteral("Updates"));
        QWidget *page = window->page(QStringLiteral("Updates"));
        QVERIFY(!child<QPushButton>(page, "switchBackToStable")); // a stable build
        auto *status = child<QLabel>(page, "updateStatus");
        auto *openPage = child<QPushButton>(page, "openDownloadPage");
        QVERIFY(openPage->isHidden());
        child<QPushButton>(page, "checkForUpdates")->click();
        QTRY_COMPARE(status->text(), QStringLiteral("99.0.0 is available"));
        QVERIFY(!openPage->isHidden());
        QVERIFY(a.opened.isEmpty());
        openPage->click();
        QCOMPARE(a.opened, QList<QUrl>{QUrl("https://example.org/releases/99")});

        // The tray's "Check for Updates": a message while checking, then the outcome.
        a.app->checkForUpdates();
        QMessageBox *message = a.updates->prompt().message();
        QVERIFY(message);
        QCOMPARE(message->text(), QStringLiteral("Checking for updates…"));
        QTRY_COMPARE(message->text(), QStringLiteral("Perchbox 99.0.0 is available — you have %1.").arg(PERCHBOX_VERSION));
        auto *open = message->findChild<QPushButton *>(QStringLiteral("openDownloadPage"));
        QVERIFY(open);
        open->click();
        QCOMPARE(a.opened.size(), 2);
        QTRY_VERIFY(!a.updates->prompt().message());

        qputenv("PERCHBOX_STABLE_FEED_URL", m_server.url("/old.xml").toEncoded());
        a.app->checkForUpdates();
        QTRY_COMPARE(a.updates->prompt().message()->text(), QStringLiteral("You're up to date."));
        QCOMPARE(status->text(), QStringLiteral("You're up to date."));
        a.updates->prompt().message()->close();

        qputenv("PERCHBOX_STABLE_FEED_URL", m_server.url("/gone.xml").toEncoded());
        a.app->checkForUpdates();
        QTRY_COMPARE(a.updates->prompt().message()->text(), QStringLiteral("Could not reach update server."));
        QCOMPARE(a.updates->prompt().message()->informativeText(), QStringLiteral("The update feed returned HTTP 404."));
        QCOMPARE(status->text(), QStringLiteral("Could not reach update server. (The update feed returned HTTP 404.)"));
        a.updates->prompt().message()->close();

        // The channel switch on the page is the setting, and posts its notification.
        QList<QVariantMap> changes;
        QObject observer;
        NotificationCenter::instance().observe(Notifications::updateChannelChanged, &observer,
                                               [&](const QVariantMap &info) { changes.append(info); });
        child<QCheckBox>(page, "useNightlyChannel")->click();
        QVERIFY(a.shell.settings->useNightlyChannel());
        QCOMPARE(changes.size(), 1);
        QCOMPARE(status->text(), QString()); // the last outcome was about the other feed
        child<QCheckBox>(page, "useNightlyChannel")->click();
        QVERIFY(!a.shell.settings->useNightlyChannel());
        qunsetenv("PERCHBOX_STABLE_FEED_URL");
    }

    void launchCheckAndWayBackToStable()
    {
        qputenv("PERCHBOX_STABLE_FEED_URL", m_server.url("/new.xml").toEncoded());
        {
            // With automatic checks on, the launch check speaks up when it finds an update.
            App a(true);
            a.app->start();
            QTRY_VERIFY(a.app->hasLaunched());
            QTRY_VERIFY(a.updates->prompt().message());
            QCOMPARE(a.updates->prompt().message()->windowTitle(), QStringLiteral("Update Available"));
        }
        {
            // Up to date at launch: nothing is shown.
            qputenv("PERCHBOX_STABLE_FEED_URL", m_server.url("/old.xml").toEncoded());
            App a(true);
            a.app->start();
            QTRY_COMPARE(a.updates->controller().checkState(), UpdateController::CheckState::upToDate);
            QVERIFY(!a.updates->prompt().message());
        }
        // A nightly build offers the way back to stable.
        qputenv("PERCHBOX_STABLE_FEED_URL", m_server.url("/stable.xml").toEncoded());
        App a(false);
        a.updates->controller().setCurrentVersion(QStringLiteral("0.5.0-nightly.20260101"));
        a.shell.settings->setUseNightlyChannel(true);
        QWidget *page = a.app->openSettings(QStringLiteral("Updates"))->page(QStringLiteral("Updates"));
        QCOMPARE(child<QLabel>(page, "buildVersion")->text(), QStringLiteral("Perchbox 0.5.0-nightly.20260101 — Nightly Build"));
        auto *back = child<QPushButton>(page, "switchBackToStable");
        QVERIFY(back);
        back->click();
        QCOMPARE(child<QLabel>(page, "switchStatus")->text(), QStringLiteral("Preparing Stable Download…"));
        QTRY_VERIFY(child<QLabel>(page, "switchStatus")->text().startsWith(QStringLiteral("Opened the stable 0.4.0 download.")));
        QCOMPARE(a.opened, QList<QUrl>{QUrl("https://example.org/releases/0.4.0.tar.gz")});
        QVERIFY(!a.shell.settings->useNightlyChannel());
        QVERIFY(!child<QCheckBox>(page, "useNightlyChannel")->isChecked());
        qunsetenv("PERCHBOX_STABLE_FEED_URL");
    }
};

QTEST_MAIN(TestAutomationAndUpdates)
#include "tst_automation_and_updates.moc"
