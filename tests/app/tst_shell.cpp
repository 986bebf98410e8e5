// The shell's operations on shelves: the "Send to Perchbox" service, new shelves, showing,
// toggling and quitting, against temporary XDG folders.
#include "ShellFixture.h"

#include "platform/AtomicFile.h"
#include "platform/FilePath.h"
#include "platform/NotificationCenter.h"
#include "shelf/WindowPlacement.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

class TestShell : public QObject
{
    Q_OBJECT

    static QList<const Shelf *> shelvesNamed(const ShelfManager &m, const QString &name)
    {
        QList<const Shelf *> out;
        for (const Shelf &s : m.shelves())
            if (s.name == name)
                out.append(&s);
        return out;
    }

    static QUrl makeFile(const QTemporaryDir &dir, const QString &name)
    {
        const QString path = dir.path() + QLatin1Char('/') + name;
        writeFileAtomically(path, "x");
        return FilePath::urlFromPath(path);
    }

    static bool send(ShellFixture &f, const QList<QUrl> &urls, QUuid *target = nullptr)
    {
        QSignalSpy finished(f.manager.get(), &ShelfManager::addFilesFinished);
        const QUuid id = f.delegate->sendToShelf(urls);
        if (target)
            *target = id;
        return !id.isNull() && (finished.count() > 0 || finished.wait(5000));
    }

private slots:
    void sendCreatesOneInboxAndReusesIt()
    {
        ShellFixture f;
        QUuid first, second;
        QVERIFY(send(f, {makeFile(f.dir, QStringLiteral("a.txt"))}, &first));
        const auto inboxes = shelvesNamed(*f.manager, QStringLiteral("Inbox"));
        QCOMPARE(inboxes.size(), 1);
        QCOMPARE(inboxes[0]->icon, QStringLiteral("tray.fill"));
        QCOMPARE(inboxes[0]->id, first);
        // The service shows the shelf: its window exists and the shelf is open.
        QVERIFY(f.delegate->windowForShelf(first));
        QVERIFY(f.manager->isShelfVisible(first));

        QVERIFY(send(f, {makeFile(f.dir, QStringLiteral("b.txt")), makeFile(f.dir, QStringLiteral("a.txt"))}, &second));
        QCOMPARE(second, first);
        QCOMPARE(shelvesNamed(*f.manager, QStringLiteral("Inbox")).size(), 1);
        QCOMPARE(f.manager->shelf(first)->files.size(), 2); // a.txt only once
        QCOMPARE(f.delegate->shelfWindows().size(), 1);

        // Nothing to send: nothing happens.
        QVERIFY(f.delegate->sendToShelf({}).isNull());
        QVERIFY(f.delegate->sendToShelf({QUrl(QStringLiteral("https://example.org/x"))}).isNull());
        QCOMPARE(f.manager->shelves().size(), 1);
    }

    void sendPrefersDefaultAndFallsBackWhenItIsDeleted()
    {
        ShellFixture f;
        const Shelf work = Shelf::make(QStringLiteral("Work"), ShelfColorData::systemBlue(), QStringLiteral("folder"));
        f.manager->appendShelf(work);
        // An existing "Inbox" is used before a new one is made, but the default wins.
        const Shelf inbox = Shelf::make(QStringLiteral("Inbox"), ShelfColorData::systemBlue(), QStringLiteral("tray.fill"));
        f.manager->appendShelf(inbox);
        f.settings->setDefaultShelfID(work.id);
        QUuid target;
        QVERIFY(send(f, {makeFile(f.dir, QStringLiteral("a.txt"))}, &target));
        QCOMPARE(target, work.id);

        f.manager->deleteShelf(work.id);
        QTRY_VERIFY(!f.manager->shelf(work.id));
        QVERIFY(!f.delegate->windowForShelf(work.id));
        QVERIFY(send(f, {makeFile(f.dir, QStringLiteral("b.txt"))}, &target));
        QCOMPARE(target, inbox.id);

        // With the Inbox gone as well, a new one is made.
        f.manager->deleteShelf(inbox.id);
        QTRY_VERIFY(f.manager->shelves().isEmpty());
        QVERIFY(send(f, {makeFile(f.dir, QStringLiteral("c.txt"))}, &target));
        QCOMPARE(f.manager->shelf(target)->name, QStringLiteral("Inbox"));
    }

    void throttleAppliesOnlyToTheNotification()
    {
        ShellFixture f;
        QSignalSpy opened(&NotificationCenter::instance(), &NotificationCenter::posted);
        f.delegate->newShelfFromHotkey();
        f.delegate->newShelfFromHotkey();
        QCOMPARE(f.manager->shelves().size(), 2);
        for (const Shelf &s : f.manager->shelves()) {
            QCOMPARE(s.name, QStringLiteral("New Shelf"));
            QCOMPARE(s.icon, QStringLiteral("tray"));
            QVERIFY(f.delegate->windowForShelf(s.id)); // opened through "Perchbox.openSpecificShelf"
        }
        int openPosts = 0;
        for (const auto &args : opened)
            openPosts += args.at(0).toString() == Notifications::openSpecificShelf;
        QCOMPARE(openPosts, 2);

        NotificationCenter::instance().post(Notifications::createNewShelf);
        NotificationCenter::instance().post(Notifications::createNewShelf);
        QCOMPARE(f.manager->shelves().size(), 3);
        QTest::qWait(450);
        NotificationCenter::instance().post(Notifications::createNewShelf);
        QCOMPARE(f.manager->shelves().size(), 4);
        // The notification path shows its shelf too.
        QVERIFY(f.delegate->windowForShelf(f.manager->shelves().last().id));
        WindowPlacement::setCenterNextWindow(false);
    }

    void panelNewShelfIsOpenCenteredAndShown()
    {
        ShellFixture f;
        // The fake window does not consume the request, so it is still set afterwards.
        const QUuid id = f.delegate->newShelfFromPanel();
        QVERIFY(f.manager->isShelfVisible(id));
        QVERIFY(f.delegate->windowForShelf(id));
        QVERIFY(WindowPlacement::centerNextWindow());
        WindowPlacement::setCenterNextWindow(false);
    }

    void toggleAllHidesThenShowsAndRecordsHiddenIds()
    {
        ShellFixture f;
        const QUuid a = f.delegate->newShelfFromPanel();
        const QUuid b = f.delegate->newShelfFromPanel();
        WindowPlacement::setCenterNextWindow(false);
        QCOMPARE(f.delegate->shelfWindows().size(), 2);

        const qint64 before = f.manager->windowVisibilityVersion();
        f.delegate->toggleAllShelves();
        for (QWidget *w : f.delegate->shelfWindows())
            QVERIFY(!w->isVisible());
        QCOMPARE(f.manager->userHiddenShelfIDs(), (QSet<QUuid>{a, b}));
        QVERIFY(f.manager->windowVisibilityVersion() > before);
        QVERIFY(f.manager->isShelfOpen(a) && f.manager->isShelfOpen(b));
        QByteArray hidden;
        QVERIFY(readWholeFile(f.manager->hiddenShelvesFilePath(), &hidden));
        QCOMPARE(QJsonDocument::fromJson(hidden).array().size(), 2);

        f.delegate->toggleAllShelves();
        for (QWidget *w : f.delegate->shelfWindows())
            QVERIFY(w->isVisible());
        QVERIFY(f.manager->userHiddenShelfIDs().isEmpty());

        // One hidden, one visible: the hidden one comes back and nothing is hidden.
        f.delegate->windowForShelf(a)->hide();
        f.manager->hideShelf(a);
        f.delegate->toggleAllShelves();
        QVERIFY(f.delegate->windowForShelf(a)->isVisible());
        QVERIFY(f.delegate->windowForShelf(b)->isVisible());
        QVERIFY(f.manager->userHiddenShelfIDs().isEmpty());
        WindowPlacement::clearPendingPosition();
    }

    void toggleWithoutWindowsShowsEveryShelf()
    {
        ShellFixture f;
        const Shelf one = Shelf::make(QStringLiteral("One"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        const Shelf two = Shelf::make(QStringLiteral("Two"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        f.manager->appendShelf(one);
        f.manager->appendShelf(two);
        f.delegate->toggleAllShelves();
        QVERIFY(f.delegate->windowForShelf(one.id) && f.delegate->windowForShelf(two.id));
        QVERIFY(f.manager->isShelfVisible(one.id) && f.manager->isShelfVisible(two.id));
        WindowPlacement::clearPendingPosition();
    }

    void quitKeepsTheOpenSetAndTheNextStartRestoresIt()
    {
        ShellFixture f;
        const QUuid a = f.delegate->newShelfFromPanel();
        const QUuid b = f.delegate->newShelfFromPanel();
        const QUuid closed = f.delegate->newShelfFromPanel();
        WindowPlacement::setCenterNextWindow(false);
        f.delegate->windowForShelf(closed)->close(); // an ordinary close closes the shelf
        QVERIFY(!f.manager->isShelfOpen(closed));
        f.manager->renameShelf(a, QStringLiteral("Renamed just now"));

        QWidget other; // a window of ours that is not a shelf (a customizer, a tool window)
        other.show();
        f.delegate->prepareToQuit();
        QVERIFY(f.delegate->isTerminating());
        QVERIFY(!other.isVisible()); // closed as it would be by hand
        // The shelf windows are not closed one by one; they go with the program.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the one closed before
        QCOMPARE(f.delegate->shelfWindows().size(), 2);
        QCOMPARE(f.manager->openShelfIDs(), (QSet<QUuid>{a, b}));
        qDeleteAll(f.delegate->shelfWindows());
        QCOMPARE(f.manager->openShelfIDs(), (QSet<QUuid>{a, b}));

        f.restart();
        QCOMPARE(f.manager->openShelfIDs(), (QSet<QUuid>{a, b}));
        QCOMPARE(f.manager->shelf(a)->name, QStringLiteral("Renamed just now")); // flushed at quit
        f.delegate->restoreOnLaunch();
        QVERIFY(f.delegate->windowForShelf(a) && f.delegate->windowForShelf(b));
        QVERIFY(!f.delegate->windowForShelf(closed));
        // The second restore 0.8 s later makes no second window.
        QTest::qWait(900);
        QCOMPARE(f.delegate->shelfWindows().size(), 2);
    }

    void notificationsShowShelves()
    {
        ShellFixture f;
        const Shelf one = Shelf::make(QStringLiteral("One"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        const Shelf two = Shelf::make(QStringLiteral("Two"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        f.manager->appendShelf(one);
        f.manager->appendShelf(two);
        f.manager->openShelf(two.id);
        f.manager->hideShelf(two.id);

        NotificationCenter::instance().post(Notifications::restoreShelf, {{Notifications::idKey, uuidString(one.id).toLower()}});
        QVERIFY(f.delegate->windowForShelf(one.id));
        NotificationCenter::instance().post(Notifications::restoreAllShelves);
        QVERIFY(f.delegate->windowForShelf(two.id));
        QVERIFY(!f.manager->isShelfHidden(two.id));
        // An unknown or malformed id is ignored.
        NotificationCenter::instance().post(Notifications::openSpecificShelf, {{Notifications::idKey, QStringLiteral("nope")}});
        NotificationCenter::instance().post(Notifications::openSpecificShelf,
                                            {{Notifications::idKey, uuidString(QUuid::createUuid())}});
        QCOMPARE(f.delegate->shelfWindows().size(), 2);

        // A second start with windows visible changes nothing; with none visible it shows all.
        f.delegate->reopen();
        QCOMPARE(f.delegate->shelfWindows().size(), 2);
        for (QWidget *w : f.delegate->shelfWindows())
            w->close();
        QCOMPARE(f.manager->openShelfIDs().size(), 0);
        f.delegate->reopen();
        QTRY_COMPARE(f.manager->openShelfIDs().size(), 2);
    }

    void deletingAShelfClosesItsWindow()
    {
        ShellFixture f;
        const QUuid id = f.delegate->newShelfFromPanel();
        WindowPlacement::setCenterNextWindow(false);
        QPointer<QWidget> window = f.delegate->windowForShelf(id);
        QVERIFY(window);
        f.manager->deleteShelf(id);
        QTRY_VERIFY(window.isNull());
        QTRY_VERIFY(!f.manager->shelf(id));
    }

    void taskbarPresenceFollowsTheSetting()
    {
        ShellFixture f;
        const QUuid id = f.delegate->newShelfFromPanel();
        WindowPlacement::setCenterNextWindow(false);
        QWidget *window = f.delegate->windowForShelf(id);
        QCOMPARE(window->windowFlags() & Qt::WindowType_Mask, Qt::Tool); // default: not in the taskbar
        f.settings->setShowInDock(true);
        QCOMPARE(window->windowFlags() & Qt::WindowType_Mask, Qt::Window);
        QVERIFY(window->isVisible());
        f.settings->setShowInDock(false);
        QCOMPARE(window->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
        QVERIFY(window->isVisible());
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
