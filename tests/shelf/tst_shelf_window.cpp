#include "input/drag/DragOutLogic.h"
#include "model/ShelfManager.h"
#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"
#include "shelf/ShelfFileModel.h"
#include "shelf/ShelfFileView.h"
#include "shelf/ShelfHooks.h"
#include "shelf/ShelfWindow.h"
#include "shelf/WindowPlacement.h"
#include "shelf/WindowRules.h"

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>

// Every run gets its own data and config homes.
static QTemporaryDir *g_home = [] {
    auto *dir = new QTemporaryDir;
    qputenv("XDG_DATA_HOME", (dir->path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (dir->path() + "/config").toUtf8());
    qputenv("HOME", dir->path().toUtf8());
    return dir;
}();

static QStringList actionTexts(const QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        if (!a->isSeparator())
            out << a->text();
    return out;
}

// Counts the polish and layout requests that reach the widgets inside a window (the window's
// own comes as it is shown).
class LayoutRequestCounter : public QObject
{
public:
    explicit LayoutRequestCounter(QWidget *window) : m_window(window) {}
    int requests = 0;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::PolishRequest || event->type() == QEvent::LayoutRequest)
            && watched->isWidgetType() && watched != m_window
            && static_cast<QWidget *>(watched)->window() == m_window)
            ++requests;
        return false;
    }

private:
    QWidget *m_window;
};

class TestShelfWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir files;
    ShelfManager *manager = nullptr;

    QUuid makeShelf(const QString &name)
    {
        Shelf s = Shelf::make(name, ShelfColorData::systemBlue(), QStringLiteral("tray"));
        manager->appendShelf(s);
        return s.id;
    }
    QList<QUrl> makeFiles(const QString &prefix, int n)
    {
        QList<QUrl> urls;
        for (int i = 0; i < n; ++i) {
            const QString p = files.path() + QLatin1Char('/') + prefix + QString::number(i) + ".txt";
            QFile f(p);
            f.open(QIODevice::WriteOnly);
            f.write("x");
            urls << QUrl::fromLocalFile(p);
        }
        return urls;
    }
    void addAndWait(const QList<QUrl> &urls, const QUuid &shelf)
    {
        QSignalSpy done(manager, &ShelfManager::addFilesFinished);
        manager->addFiles(urls, shelf);
        QVERIFY(done.wait(5000));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(g_home->isValid());
        manager = new ShelfManager(this);
    }

    void identityAndPlacement()
    {
        const QUuid id = makeShelf(QStringLiteral("One"));
        auto *w = new ShelfWindow(*manager, id);
        const QString ident = QStringLiteral("perchbox-shelf-") + id.toString(QUuid::WithoutBraces).toUpper();
        QCOMPARE(w->objectName(), ident);
        QCOMPARE(w->windowTitle(), QStringLiteral("One")); // window lists show the shelf's name
        manager->renameShelf(id, QStringLiteral("One renamed"));
        QCOMPARE(w->windowTitle(), QStringLiteral("One renamed"));
        QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(ShelfWindow::find(id), w);

        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint pointer(avail.right(), avail.top() + 100);
        WindowPlacement::setCenterNextWindow(true);
        WindowPlacement::setPendingPosition(pointer);
        w->present();
        QVERIFY(manager->isShelfOpen(id));
        QCOMPARE(w->width(), 220);
        QCOMPARE(w->pos(), WindowPlacement::placeNextTo(pointer, w->size(), avail));
        QCOMPARE(w->x() + w->width(), avail.x() + avail.width() - 4);
        QVERIFY(!WindowPlacement::centerNextWindow());

        // Closing the window closes the shelf but keeps it.
        QSignalSpy closed(w, &ShelfWindow::shelfWindowClosed);
        w->close();
        QCOMPARE(closed.size(), 1);
        QVERIFY(!manager->isShelfOpen(id));
        QVERIFY(manager->shelf(id));
    }

    // A shelf's layout is settled before it is shown, so that it is painted once: its
    // buttons ask for polish and layout by posted events, and when many shelves were shown at
    // once, those came after the windows' first paints and every shelf was drawn again.
    void layoutSettledBeforeShown()
    {
        const QUuid id = makeShelf(QStringLiteral("Settled"));
        addAndWait(makeFiles(QStringLiteral("settled"), 3), id);
        auto *w = new ShelfWindow(*manager, id);
        ShelfWindow::setShowingInBatch(true);
        w->present();
        ShelfWindow::setShowingInBatch(false);
        QVERIFY(w->isVisible());
        LayoutRequestCounter counter(w);
        qApp->installEventFilter(&counter);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::qWait(100);
        qApp->removeEventFilter(&counter);
        QCOMPARE(counter.requests, 0);
        w->close();
    }

    void selectionAndMenus()
    {
        const QUuid id = makeShelf(QStringLiteral("Menus"));
        makeShelf(QStringLiteral("Other"));
        ShelfWindow w(*manager, id);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        addAndWait(makeFiles(QStringLiteral("m"), 5), id);
        const QList<QUuid> order = w.fileModel()->order();
        QCOMPARE(order.size(), 5);

        // Shift-click from the fourth to the second.
        w.clickFile(order[3], false);
        w.clickFile(order[1], true);
        QCOMPARE(w.selectedFileIds(), (QList<QUuid>{order[1], order[2], order[3]}));
        QVERIFY(w.fileModel()->index(2).data(ShelfFileModel::SelectedRole).toBool());

        AppSettings::instance().setShowSendToShelfFeature(true);
        AppSettings::instance().setShowZipFeature(true);
        std::unique_ptr<QMenu> plural(w.buildFileMenu(order[2], nullptr));
        QStringList texts = actionTexts(plural.get());
        QCOMPARE(texts.first(), QStringLiteral("3 Files Selected"));
        QVERIFY(texts.contains(QStringLiteral("Send 3 Selected to Shelf…")));
        QVERIFY(texts.contains(QStringLiteral("Remove 3 Selected from Shelf")));
        QVERIFY(texts.contains(QStringLiteral("Move 3 Selected to Trash")));
        QVERIFY(!texts.contains(QStringLiteral("Open"))); // single-target group only
        QVERIFY(!texts.contains(QStringLiteral("Zip 3 Selected Files…"))); // no zip tool yet

        // With the tool installed (and switched on) its entry appears; switched off it goes.
        QList<QUrl> zipped;
        shelfHooks().openZip = [&](QWidget *, const QUuid &, const QList<QUrl> &f) { zipped = f; };
        plural.reset(w.buildFileMenu(order[2], nullptr));
        texts = actionTexts(plural.get());
        QVERIFY(texts.contains(QStringLiteral("Zip 3 Selected Files…")));
        for (QAction *a : plural->actions())
            if (a->text() == QStringLiteral("Zip 3 Selected Files…"))
                a->trigger();
        QCOMPARE(zipped.size(), 3);
        AppSettings::instance().setShowZipFeature(false);
        plural.reset(w.buildFileMenu(order[2], nullptr));
        QVERIFY(!actionTexts(plural.get()).contains(QStringLiteral("Zip 3 Selected Files…")));
        shelfHooks().openZip = nullptr;

        // Outside the selection: the single form.
        std::unique_ptr<QMenu> one(w.buildFileMenu(order[4], nullptr));
        texts = actionTexts(one.get());
        QCOMPARE(texts.first(), QStringLiteral("m4.txt"));
        for (const char *t : {"Quick Look", "Open", "Open With", "Show in File Manager", "Copy File", "Copy Path",
                              "Send to Shelf…", "Remove \"m4.txt\" from Shelf", "Move \"m4.txt\" to Trash"})
            QVERIFY2(texts.contains(QString::fromUtf8(t)), t);

        // Clicking a selected file without Shift deselects it; Ctrl+A selects all.
        w.clickFile(order[2], false);
        QCOMPARE(w.selectedFileIds(), (QList<QUuid>{order[1], order[3]}));
        w.selectAll();
        QCOMPARE(w.selectedFileIds(), order);
    }

    // Remove deletes files the shelf owns and leaves every other file alone.
    void removeOwnedVersusForeign()
    {
        const QUuid id = makeShelf(QStringLiteral("Owned"));
        ShelfWindow w(*manager, id);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        const QString ownedPath = manager->shelf(id)->folderURL.toLocalFile() + QStringLiteral("/owned.txt");
        QFile f(ownedPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QList<QUrl> foreign = makeFiles(QStringLiteral("foreign"), 1);
        addAndWait({QUrl::fromLocalFile(ownedPath), foreign[0]}, id);
        const QList<QUuid> order = w.fileModel()->order();
        QCOMPARE(order.size(), 2);
        w.clickFile(order[0], false);
        w.clickFile(order[1], false);
        w.removeEntries(order);
        QVERIFY(manager->shelf(id)->files.isEmpty());
        QVERIFY(!QFile::exists(ownedPath));
        QVERIFY(QFile::exists(foreign[0].toLocalFile()));
        QVERIFY(w.selectedFileIds().isEmpty());
    }

    void closeWhenEmpty()
    {
        AppSettings::instance().setCloseWhenEmpty(true);
        const QUuid id = makeShelf(QStringLiteral("Empty"));
        QPointer<ShelfWindow> w = new ShelfWindow(*manager, id);
        w->present();
        addAndWait(makeFiles(QStringLiteral("e"), 1), id);

        // While a tool runs, the empty shelf stays.
        bool running = true;
        shelfHooks().isToolRunning = [&](const QUuid &) { return running; };
        w->removeEntries(w->fileModel()->order());
        QTest::qWait(400);
        QVERIFY(w);

        addAndWait(makeFiles(QStringLiteral("e2-"), 1), id);
        running = false;
        QElapsedTimer t;
        t.start();
        w->removeEntries(w->fileModel()->order());
        QVERIFY(w);
        QTRY_VERIFY_WITH_TIMEOUT(!w, 2000);
        QVERIFY(t.elapsed() >= 190);
        QVERIFY(manager->shelf(id));         // kept
        QVERIFY(!manager->isShelfOpen(id));  // closed
        shelfHooks().isToolRunning = nullptr;
        AppSettings::instance().setCloseWhenEmpty(false);
    }

    void dropAddsFilesAndNotes()
    {
        const QUuid id = makeShelf(QStringLiteral("Drop"));
        const QUuid other = makeShelf(QStringLiteral("Source"));
        ShelfWindow w(*manager, id);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        QVariantMap info;
        NotificationCenter::instance().observe(Notifications::shelfReceivedDrop, this,
                                               [&](const QVariantMap &m) { info = m; });
        const QList<QUrl> urls = makeFiles(QStringLiteral("d"), 3);
        // A drag from another shelf of ours.
        const QUuid draggedId = QUuid::createUuid();
        std::unique_ptr<QMimeData> md(shelfDragMimeData(urls, {draggedId}, other, DragSource::row));
        // Its own rows coming back, and any stack handle's drag (also another shelf's), are
        // refused: a stack offers nothing inside the program.
        for (const auto &[shelf, source] : {std::pair(id, DragSource::row), std::pair(id, DragSource::stack),
                                            std::pair(other, DragSource::stack)}) {
            std::unique_ptr<QMimeData> refused(shelfDragMimeData(urls, {draggedId}, shelf, source));
            QVERIFY(w.takeDrop(refused.get()).isEmpty());
        }
        QVERIFY(DragOut::shelfDroppedFileIDs().isEmpty());
        QSignalSpy done(manager, &ShelfManager::addFilesFinished);
        QCOMPARE(w.takeDrop(md.get()), urls);
        QVERIFY(done.wait(5000));
        QCOMPARE(manager->shelf(id)->files.size(), 3);
        QCOMPARE(info.value(Notifications::idKey).toString(), id.toString(QUuid::WithoutBraces).toUpper());
        QVERIFY(DragOut::shelfDroppedFileIDs().contains(draggedId));
        DragOut::shelfDroppedFileIDs().clear();

        // Plain text is not taken.
        QMimeData text;
        text.setText(QStringLiteral("hello"));
        QVERIFY(w.takeDrop(&text).isEmpty());
    }

    // A file that cannot be trashed stays on the shelf and is reported once.
    void trashFailureKeepsFile()
    {
        const QUuid id = makeShelf(QStringLiteral("Trash"));
        ShelfWindow w(*manager, id);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        const QString locked = files.path() + QStringLiteral("/locked");
        QDir().mkpath(locked);
        QFile f(locked + QStringLiteral("/keep.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QList<QUrl> ok = makeFiles(QStringLiteral("t"), 1);
        addAndWait({QUrl::fromLocalFile(locked + QStringLiteral("/keep.txt")), ok[0]}, id);
        // A locked file: read-only folder for a user; for root (who writes anywhere) the
        // immutable attribute.
        const bool root = ::geteuid() == 0;
        if (root && QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), locked + QStringLiteral("/keep.txt")}) != 0)
            QSKIP("cannot lock a file here");
        if (!root)
            ::chmod(QFile::encodeName(locked).constData(), 0555);

        QString shownText, shownInfo;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            for (QWidget *top : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible()) {
                    shownText = box->text();
                    shownInfo = box->informativeText();
                    box->accept();
                }
        });
        poll.start(50);
        w.trashEntries(w.fileModel()->order());
        QTRY_VERIFY_WITH_TIMEOUT(!shownText.isEmpty(), 5000);
        if (root)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), locked + QStringLiteral("/keep.txt")});
        else
            ::chmod(QFile::encodeName(locked).constData(), 0755);
        QCOMPARE(shownText, QStringLiteral("Some files could not be moved to Trash"));
        QVERIFY(shownInfo.contains(QStringLiteral("keep.txt")));
        QCOMPARE(manager->shelf(id)->files.size(), 1);
        QVERIFY(QFile::exists(locked + QStringLiteral("/keep.txt")));
        QVERIFY(!QFile::exists(ok[0].toLocalFile()));
    }

    void deletedShelfClosesWindow()
    {
        const QUuid id = makeShelf(QStringLiteral("Doomed"));
        QPointer<ShelfWindow> w = new ShelfWindow(*manager, id);
        w->present();
        manager->deleteShelf(id);
        QTRY_VERIFY_WITH_TIMEOUT(!w, 2000);
    }

    // Escape clears the selection; the hover highlight goes when the pointer leaves the rows.
    void escapeAndHover()
    {
        const QUuid id = makeShelf(QStringLiteral("Keys"));
        ShelfWindow w(*manager, id);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        addAndWait(makeFiles(QStringLiteral("k"), 3), id);
        w.present();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.selectAll();
        QCOMPARE(w.selectedFileIds().size(), 3);
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(w.selectedFileIds().isEmpty());

        ShelfFileView *view = w.fileView();
        const QRect row = view->visualRect(view->model()->index(1, 0));
        QTest::mouseMove(view->viewport(), row.center());
        auto *delegate = static_cast<ShelfFileDelegate *>(view->itemDelegate());
        QTRY_COMPARE(delegate->hovered().row(), 1);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(view->viewport(), &leave);
        QVERIFY(!delegate->hovered().isValid());
        w.close();
    }

    // The grid shows every item: no name broken inside a word, no last row under a scroll bar.
    void gridShowsEveryItem()
    {
        QFont font;
        font.setPixelSize(11);
        const int cell = 60;
        // Breaks between words only; a long single word stays on one line, shortened.
        const QStringList two = gridNameLines(font, QStringLiteral("Holiday photos from the beach.jpg"), cell);
        QCOMPARE(two.size(), 2);
        QVERIFY(QStringLiteral("Holiday photos from the beach.jpg").startsWith(two.first()));
        QVERIFY(!two.first().isEmpty() && !two.first().endsWith(QLatin1Char('-')));
        const QString oneWord = QStringLiteral("IMG_20240101_123456789.jpg");
        const QStringList one = gridNameLines(font, oneWord, cell);
        QCOMPARE(one.size(), 1);
        QVERIFY(one.first().contains(QChar(0x2026)));
        QCOMPARE(gridNameLines(font, QStringLiteral("a.txt"), cell), QStringList{QStringLiteral("a.txt")});

        AppSettings::instance().setShelfLayout(ShelfLayout::grid);
        for (int count : {3, 7, 8}) {
            const QUuid id = makeShelf(QStringLiteral("Grid %1").arg(count));
            ShelfWindow w(*manager, id);
            w.setAttribute(Qt::WA_DeleteOnClose, false);
            addAndWait(makeFiles(QStringLiteral("g%1_").arg(count), count), id);
            w.present();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            ShelfFileView *view = w.fileView();
            view->doItemsLayout();
            const QRect inside = view->viewport()->rect();
            QSet<int> columns;
            for (int i = 0; i < count; ++i) {
                const QRect r = view->visualRect(view->model()->index(i, 0));
                QVERIFY2(inside.contains(r), qPrintable(QStringLiteral("item %1 of %2 at %3,%4 %5x%6 outside %7x%8")
                                                            .arg(i).arg(count).arg(r.x()).arg(r.y()).arg(r.width())
                                                            .arg(r.height()).arg(inside.width()).arg(inside.height())));
                columns.insert(r.x());
            }
            QCOMPARE(columns.size(), std::min(count, 3));
            QVERIFY(!view->verticalScrollBar()->isVisible());
            w.close();
        }
        AppSettings::instance().setShelfLayout(ShelfLayout::list);
    }

    // A shelf hidden and shown again comes back where it was; a new window of a shelf with a
    // remembered position opens there (inside the screen); a second new shelf does not land
    // exactly on the first.
    void positionMemoryAndCascade()
    {
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        const QUuid id = makeShelf(QStringLiteral("Placed"));
        auto *w = new ShelfWindow(*manager, id);
        w->present();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QPoint spot(avail.left() + 37, avail.top() + 41);
        w->move(spot);
        emit w->gripDragEnded(); // as after the user moved it by the grip
        QCOMPARE(manager->shelf(id)->windowPosition->x, spot.x());
        QCOMPARE(manager->shelf(id)->windowPosition->y, spot.y());
        manager->hideShelf(id);
        QVERIFY(!w->isVisible());
        manager->unhideShelf(id);
        QVERIFY(w->isVisible());
        QCOMPARE(w->pos(), spot);
        w->close();

        // Reopened (as after a restart): back at the remembered spot.
        auto *again = new ShelfWindow(*manager, id);
        again->present();
        QCOMPARE(again->pos(), spot);
        again->close();

        // A remembered spot off every screen comes back inside one.
        manager->updateShelf(id, [&](Shelf &s) { s.windowPosition = ShelfWindowPosition{avail.right() + 5000, -300, "gone"}; });
        auto *outside = new ShelfWindow(*manager, id);
        outside->present();
        QVERIFY(avail.contains(outside->geometry()));
        outside->close();

        // Two new shelves centred one after the other.
        const QUuid a = makeShelf(QStringLiteral("New A"));
        const QUuid b = makeShelf(QStringLiteral("New B"));
        WindowPlacement::setCenterNextWindow(true);
        auto *first = new ShelfWindow(*manager, a);
        first->present();
        WindowPlacement::setCenterNextWindow(true);
        auto *second = new ShelfWindow(*manager, b);
        second->present();
        QVERIFY(second->pos() != first->pos());
        QVERIFY((second->pos() - first->pos()).manhattanLength() >= 16);
        first->close();
        second->close();
    }

    // Our other windows float above every shelf; a shelf never comes up hidden under one
    // (the first start's tutorial, the window the program shows without a tray), and a
    // dialog of a shelf comes up beside it.
    void neverUnderOurOtherWindows()
    {
        WindowRules::install();
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        QWidget tutorial(nullptr, Qt::Window);
        tutorial.setWindowTitle(QStringLiteral("Perchbox Tutorial"));
        tutorial.resize(std::min(640, avail.width() / 2), std::min(360, avail.height() / 2));
        tutorial.move(avail.center() - QPoint(tutorial.width() / 2, tutorial.height() / 2));
        tutorial.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tutorial));

        const QUuid id = makeShelf(QStringLiteral("Inbox"));
        WindowPlacement::setCenterNextWindow(true);
        auto *w = new ShelfWindow(*manager, id);
        w->present();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY2(!w->frameGeometry().intersects(tutorial.frameGeometry()),
                 qPrintable(QStringLiteral("shelf at %1,%2").arg(w->x()).arg(w->y())));
        QVERIFY(avail.contains(w->geometry()));
        // A second new shelf while the tutorial is up: beside the tutorial too, but not
        // exactly on the first (both were moved out from under the same window).
        const QUuid id2 = makeShelf(QStringLiteral("Second"));
        WindowPlacement::setCenterNextWindow(true);
        auto *w2 = new ShelfWindow(*manager, id2);
        w2->present();
        QVERIFY(QTest::qWaitForWindowExposed(w2));
        QVERIFY2((w2->pos() - w->pos()).manhattanLength() >= 16,
                 qPrintable(QStringLiteral("both shelves at %1,%2").arg(w->x()).arg(w->y())));
        QVERIFY(!w2->frameGeometry().intersects(tutorial.frameGeometry()));
        QVERIFY(avail.contains(w2->geometry()));
        w2->close();
        tutorial.hide();

        QDialog alert(w);
        alert.resize(300, 120);
        alert.show();
        QVERIFY(QTest::qWaitForWindowExposed(&alert));
        QVERIFY(!alert.frameGeometry().intersects(w->frameGeometry()));
        alert.hide();
        w->close();
    }
};

QTEST_MAIN(TestShelfWindow)
#include "tst_shelf_window.moc"
