// Screenshot auto-capture on real temporary folders: which files count, when a file counts
// as written, the shelf they go to, and the folder going away and coming back.
#include "input/screenshots/ScreenshotFolder.h"
#include "input/screenshots/ScreenshotWatcher.h"
#include "model/ShelfManager.h"
#include "platform/FilePath.h"
#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

constexpr int kDelay = 40;        // delivery delay
constexpr int kWindow = 1500;     // no second delivery of a file within this
constexpr int kSettle = 150;
constexpr int kRetry = 100;

bool writeFile(const QString &path, const QByteArray &data = QByteArray(64, 'x'))
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

} // namespace

class TestScreenshotWatcher : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<ShelfManager> m_manager;
    std::unique_ptr<ScreenshotWatcher> m_watcher;
    QString m_folder;
    QList<QUuid> m_openRequests;

    QString path(const QString &name) const { return m_folder + '/' + name; }
    QUrl url(const QString &name) const { return FilePath::urlFromPath(path(name)); }

    const Shelf *screenshotsShelf() const
    {
        for (const Shelf &s : m_manager->shelves())
            if (s.name == ShelfDefaults::screenshotsName)
                return &s;
        return nullptr;
    }
    int screenshotsShelfCount() const
    {
        int n = 0;
        for (const Shelf &s : m_manager->shelves())
            n += s.name == ShelfDefaults::screenshotsName;
        return n;
    }
    QStringList namesOn(const QUuid &id) const
    {
        QStringList names;
        if (const Shelf *s = m_manager->shelf(id))
            for (const ShelfFile &f : s->files)
                names << QFileInfo(f.url.toLocalFile()).fileName();
        names.sort();
        return names;
    }
    QStringList onScreenshotsShelf() const
    {
        const Shelf *s = screenshotsShelf();
        return s ? namesOn(s->id) : QStringList();
    }
    // Lets every timer that could deliver run, several times over.
    void settleDown() { QTest::qWait(kDelay + 3 * kSettle + 200); }

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        qputenv("XDG_DATA_HOME", (m_home->path() + "/data").toUtf8());
        m_folder = m_home->path() + "/Screenshots";
        QVERIFY(QDir().mkpath(m_folder));
        m_store = std::make_unique<SettingsStore>(m_home->path() + "/settings.json");
        m_settings = std::make_unique<AppSettings>(*m_store);
        m_manager = std::make_unique<ShelfManager>();
        m_watcher = std::make_unique<ScreenshotWatcher>(*m_manager, *m_settings);
        m_watcher->setDefaultFolderProvider([this] { return m_folder; });
        m_watcher->setIntervals(kDelay, kWindow, kSettle, kRetry);
        m_openRequests.clear();
        NotificationCenter::instance().observe(Notifications::openSpecificShelf, m_watcher.get(), [this](const QVariantMap &info) {
            m_openRequests.append(QUuid::fromString(info.value(Notifications::idKey).toString()));
        });
    }
    void cleanup()
    {
        m_watcher.reset();
        m_manager.reset();
        m_settings.reset();
        m_store.reset();
        m_home.reset();
    }

    void screenshotNames()
    {
        for (const char *yes : {"a.png", "B.PNG", "c.Jpg", "d.jpeg", "e.tiff", "f.GIF", "g.heic", "Screenshot from 2026-01-01 10-00-00.png"})
            QVERIFY2(ScreenshotWatcher::isScreenshotName(yes), yes);
        for (const char *no : {"a.pdf", ".hidden.png", "png", "a.png.part", "a.tif", "a.webp", ""})
            QVERIFY2(!ScreenshotWatcher::isScreenshotName(no), no);
    }

    // New files count, existing ones do not; capitals count; other kinds, hidden files and
    // folders do not. The first one makes the "Screenshots" shelf, later ones reuse it.
    void newScreenshotsLandOnTheScreenshotsShelf()
    {
        QVERIFY(writeFile(path("old.png")));
        m_settings->setScreenshotEnabled(true);
        QVERIFY(m_watcher->isRunning());
        QCOMPARE(m_watcher->folderState(), ScreenshotWatcher::FolderState::watching);
        QCOMPARE(m_watcher->currentWatchedDir(), m_folder);
        QCOMPARE(m_watcher->lastSeenNames(), QSet<QByteArray>{"old.png"});

        QVERIFY(writeFile(path("Shot 1.PNG")));
        QVERIFY(writeFile(path("report.pdf")));
        QVERIFY(writeFile(path(".hidden.png")));
        QVERIFY(QDir().mkdir(path("folder.png")));
        QTRY_COMPARE(onScreenshotsShelf(), QStringList{"Shot 1.PNG"});
        const Shelf *shelf = screenshotsShelf();
        QCOMPARE(shelf->icon, QStringLiteral("photo"));
        QCOMPARE(m_openRequests, QList<QUuid>{shelf->id});

        QVERIFY(writeFile(path("Shot 2.jpeg")));
        QTRY_COMPARE(onScreenshotsShelf(), (QStringList{"Shot 1.PNG", "Shot 2.jpeg"}));
        settleDown();
        QCOMPARE(screenshotsShelfCount(), 1);
        QCOMPARE(m_openRequests.size(), 1);
        QCOMPARE(onScreenshotsShelf(), (QStringList{"Shot 1.PNG", "Shot 2.jpeg"}));
    }

    void shelfChoice()
    {
        const Shelf chosen = Shelf::make("Mine", ShelfColorData::systemBlue(), "tray");
        m_manager->appendShelf(chosen);
        m_settings->setScreenshotShelfID(chosen.id);
        m_settings->setScreenshotEnabled(true);
        QVERIFY(writeFile(path("a.png")));
        QTRY_COMPARE(namesOn(chosen.id), QStringList{"a.png"});
        QVERIFY(!screenshotsShelf());

        // A chosen shelf that no longer exists: the temporary shelf, when that is on …
        m_settings->setScreenshotShelfID(QUuid::createUuid());
        QVERIFY(writeFile(path("b.png")));
        QTRY_COMPARE(onScreenshotsShelf(), QStringList{"b.png"});

        // … and nothing at all when it is off.
        m_settings->setScreenshotShelfID(QUuid());
        m_settings->setScreenshotUseTempShelf(false);
        m_manager->deleteShelf(screenshotsShelf()->id);
        QTRY_VERIFY(!screenshotsShelf());
        QSignalSpy delivered(m_watcher.get(), &ScreenshotWatcher::delivered);
        QVERIFY(writeFile(path("c.png")));
        settleDown();
        QCOMPARE(delivered.count(), 0);
        QVERIFY(!screenshotsShelf());
        QCOMPARE(namesOn(chosen.id), QStringList{"a.png"});
    }

    // A file some shelf holds already is not added again; a file seen twice within the
    // window is delivered once; after the window it counts again.
    void duplicates()
    {
        // Long enough a delay to put a file on another shelf first.
        const int delay = 1000, window = 4000;
        m_watcher->setIntervals(delay, window, kSettle, kRetry);
        const Shelf other = Shelf::make("Other", ShelfColorData::systemBlue(), "tray");
        m_manager->appendShelf(other);
        m_settings->setScreenshotEnabled(true);
        QVERIFY(writeFile(path("held.png")));
        QSignalSpy added(m_manager.get(), &ShelfManager::addFilesFinished);
        m_manager->addFiles({url("held.png")}, other.id);
        QVERIFY(added.wait());
        QVERIFY(writeFile(path("fresh.png")));
        QTRY_COMPARE(onScreenshotsShelf(), QStringList{"fresh.png"});
        QCOMPARE(namesOn(other.id), QStringList{"held.png"});

        // Taken off the shelf, deleted and written again at once: not delivered again …
        const Shelf *shelf = screenshotsShelf();
        const QUuid shelfId = shelf->id;
        m_manager->removeFiles(shelfId, {shelf->files.first().id}, false);
        QVERIFY(QFile::remove(path("fresh.png")));
        QTest::qWait(100);
        QVERIFY(writeFile(path("fresh.png")));
        QTest::qWait(delay + 500);
        QCOMPARE(namesOn(shelfId), QStringList());
        // … but once the window has passed.
        QTest::qWait(window);
        QVERIFY(QFile::remove(path("fresh.png")));
        QTest::qWait(100);
        QVERIFY(writeFile(path("fresh.png")));
        QTRY_COMPARE(namesOn(shelfId), QStringList{"fresh.png"});
    }

    // Half-written files never reach a shelf: a slow writer's file arrives when it is closed.
    void slowWriteSeenOnlyWhenComplete()
    {
        m_settings->setScreenshotEnabled(true);
        QSignalSpy delivered(m_watcher.get(), &ScreenshotWatcher::delivered);
        QFile slow(path("slow.png"));
        QVERIFY(slow.open(QIODevice::WriteOnly));
        QVERIFY(slow.write(QByteArray(4096, 'a')) == 4096);
        QVERIFY(slow.flush());
        // Another screenshot finishing meanwhile makes the folder be listed.
        QVERIFY(writeFile(path("quick.png")));
        QTRY_COMPARE(onScreenshotsShelf(), QStringList{"quick.png"});
        settleDown();
        settleDown();
        QCOMPARE(onScreenshotsShelf(), QStringList{"quick.png"});
        QVERIFY(slow.write(QByteArray(4096, 'b')) == 4096);
        slow.close();
        QTRY_COMPARE(onScreenshotsShelf(), (QStringList{"quick.png", "slow.png"}));
        QCOMPARE(QFileInfo(path("slow.png")).size(), 8192);

        // Moved in whole, and linked in (no writer to watch: it settles first).
        const QString outside = m_home->path() + "/elsewhere";
        QVERIFY(QDir().mkpath(outside));
        QVERIFY(writeFile(outside + "/moved.png"));
        QVERIFY(writeFile(outside + "/linked.png"));
        QVERIFY(QFile::rename(outside + "/moved.png", path("moved.png")));
        QVERIFY(::link(QFile::encodeName(outside + "/linked.png").constData(), QFile::encodeName(path("linked.png")).constData()) == 0);
        QTRY_COMPARE(onScreenshotsShelf(), (QStringList{"linked.png", "moved.png", "quick.png", "slow.png"}));
    }

    // The folder removed and recreated, and renamed away and back.
    void folderGoesAwayAndComesBack()
    {
        QVERIFY(writeFile(path("before.png")));
        m_settings->setScreenshotEnabled(true);
        QVERIFY(QDir(m_folder).removeRecursively());
        QTRY_COMPARE(m_watcher->folderState(), ScreenshotWatcher::FolderState::missing);
        QVERIFY(m_watcher->isRunning());
        QVERIFY(QDir().mkpath(m_folder));
        QTRY_COMPARE(m_watcher->folderState(), ScreenshotWatcher::FolderState::watching);
        QVERIFY(writeFile(path("after.png")));
        QTRY_COMPARE(onScreenshotsShelf(), QStringList{"after.png"});

        // Renamed away: what is written into it meanwhile arrives when it is back; what was
        // there before does not.
        const QString away = m_home->path() + "/Screenshots.away";
        QVERIFY(QFile::rename(m_folder, away));
        QTRY_COMPARE(m_watcher->folderState(), ScreenshotWatcher::FolderState::missing);
        QVERIFY(writeFile(away + "/meanwhile.png"));
        QVERIFY(QFile::rename(away, m_folder));
        QTRY_COMPARE(m_watcher->folderState(), ScreenshotWatcher::FolderState::watching);
        QTRY_COMPARE(onScreenshotsShelf(), (QStringList{"after.png", "meanwhile.png"}));
        settleDown();
        QCOMPARE(onScreenshotsShelf(), (QStringList{"after.png", "meanwhile.png"}));

        // A folder that is missing at the start is waited for as well.
        m_settings->setScreenshotEnabled(false);
        QCOMPARE(m_watcher->folderState(), ScreenshotWatcher::FolderState::stopped);
        m_folder = m_home->path() + "/Later";
        m_settings->setScreenshotEnabled(true);
        QCOMPARE(m_watcher->folderState(), ScreenshotWatcher::FolderState::missing);
        QVERIFY(QDir().mkpath(m_folder));
        QVERIFY(writeFile(path("first.png")));
        QTRY_VERIFY(onScreenshotsShelf().contains("first.png"));
    }

    void unreadableFolder()
    {
        if (::geteuid() == 0)
            QSKIP("permissions do not hold for root");
        m_settings->setScreenshotEnabled(true);
        QVERIFY(QFile::setPermissions(m_folder, QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QTRY_COMPARE(m_watcher->folderState(), ScreenshotWatcher::FolderState::unreadable);
        QVERIFY(writeFile(path("hidden-from-us.png")));
        QVERIFY(QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QTRY_COMPARE(m_watcher->folderState(), ScreenshotWatcher::FolderState::watching);
        QTRY_COMPARE(onScreenshotsShelf(), QStringList{"hidden-from-us.png"});
    }

    // Off means off; a new folder's files count as seen.
    void stopAndRestart()
    {
        m_settings->setScreenshotEnabled(true);
        QVERIFY(writeFile(path("queued.png")));
        m_settings->setScreenshotEnabled(false); // before the delivery delay is over
        QVERIFY(!m_watcher->isRunning());
        QVERIFY(writeFile(path("while-off.png")));
        settleDown();
        QVERIFY(!screenshotsShelf());

        const QString other = m_home->path() + "/Other";
        QVERIFY(QDir().mkpath(other));
        QVERIFY(writeFile(other + "/there-before.png"));
        m_settings->setScreenshotEnabled(true);
        m_settings->setScreenshotFolder(QUrl::fromLocalFile(other));
        QCOMPARE(m_watcher->currentWatchedDir(), other);
        QCOMPARE(m_watcher->lastSeenNames(), QSet<QByteArray>{"there-before.png"});
        QVERIFY(writeFile(other + "/new.png"));
        QVERIFY(writeFile(path("old-folder.png")));
        QTRY_COMPARE(onScreenshotsShelf(), QStringList{"new.png"});
        settleDown();
        QCOMPARE(onScreenshotsShelf(), QStringList{"new.png"});
    }

    // Hundreds at once all arrive, in a few hand-overs, on one shelf.
    void burst()
    {
        const int count = 300;
        m_settings->setScreenshotEnabled(true);
        QSignalSpy delivered(m_watcher.get(), &ScreenshotWatcher::delivered);
        for (int i = 0; i < count; ++i)
            QVERIFY(writeFile(path(QStringLiteral("burst %1.png").arg(i, 3, 10, QLatin1Char('0')))));
        QTRY_COMPARE_WITH_TIMEOUT(onScreenshotsShelf().size(), count, 20000);
        QCOMPARE(screenshotsShelfCount(), 1);
        QVERIFY2(delivered.count() < count / 10, qPrintable(QString::number(delivered.count())));
    }

    void desktopFolder()
    {
        const QString home = m_home->path() + "/home";
        const QString config = m_home->path() + "/config";
        QVERIFY(QDir().mkpath(config));
        qputenv("HOME", home.toUtf8());
        qputenv("XDG_CONFIG_HOME", config.toUtf8());
        QVERIFY(writeFile(config + "/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"));
        const QString shots = home + "/Bilder/" + ScreenshotFolder::gnomeScreenshotsName();

        // GNOME: its folder even before it exists.
        qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        QCOMPARE(ScreenshotFolder::detect().path, shots);
        QCOMPARE(ScreenshotFolder::detect().source, ScreenshotFolder::Source::gnome);

        // Elsewhere: Pictures when it exists, else the Desktop.
        qputenv("XDG_CURRENT_DESKTOP", "XFCE");
        QCOMPARE(ScreenshotFolder::detect().path, home + "/Schreibtisch");
        QVERIFY(QDir().mkpath(home + "/Bilder"));
        QCOMPARE(ScreenshotFolder::detect().path, home + "/Bilder");
        QVERIFY(QDir().mkpath(shots));
        QCOMPARE(ScreenshotFolder::detect().path, shots);

        // KDE: Spectacle's folder.
        QVERIFY(QDir().mkpath(home + "/Captures"));
        QVERIFY(writeFile(config + "/spectaclerc", "[General]\nfoo=bar\n\n[ImageSave]\nimageSaveLocation=file://" + home.toUtf8() + "/Captures/\n"));
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        QCOMPARE(ScreenshotFolder::detect().path, home + "/Captures");
        QCOMPARE(ScreenshotFolder::detect().source, ScreenshotFolder::Source::spectacle);
        qunsetenv("XDG_CURRENT_DESKTOP");
        QCOMPARE(ScreenshotFolder::detect().path, shots);

        QCOMPARE(ScreenshotFolder::spectacleFolder("[General]\ndefault-save-location[$e]=$HOME/Shots\n", "/home/u"),
                 QStringLiteral("/home/u/Shots"));
        QCOMPARE(ScreenshotFolder::spectacleFolder("[General]\ndefault-save-location=file:///a/b/\n[ImageSave]\n"
                                                   "imageSaveLocation=file:///c/d\n", "/home/u"),
                 QStringLiteral("/c/d"));
        QCOMPARE(ScreenshotFolder::spectacleFolder("[ImageSave]\nimageSaveLocation=https://x/y\n", "/h"), QString());
    }
};

QTEST_GUILESS_MAIN(TestScreenshotWatcher)
#include "tst_screenshot_watcher.moc"
