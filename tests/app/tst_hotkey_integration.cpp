// Hot keys and tucking wired into the program: real shelf windows with their header's edge
// buttons and menu entries, the strip and its peek, the shell verbs, the tray panel's
// warning and hover, the per-shelf shortcut entries.
#include "app/HotkeyIntegration.h"
#include "app/PerchboxApp.h"
#include "app/SettingsWindow.h"
#include "app/ShortcutsPage.h"
#include "app/TrayPanel.h"
#include "input/hotkeys/GlobalHotkeyManager.h"
#include "input/hotkeys/HotkeyRecorder.h"
#include "input/tuck/ShelfTuckManager.h"
#include "input/tuck/TuckGeometry.h"
#include "model/ShelfManager.h"
#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"
#include "shelf/ShelfHeader.h"
#include "shelf/ShelfTuckWindow.h"
#include "shelf/ShelfWindow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

class HotkeyIntegrationTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    struct Program {
        // Each program on shelves of its own.
        QTemporaryDir data;
        bool dataSet = [this] {
            qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
            return true;
        }();
        ShelfManager manager;
        std::unique_ptr<PerchboxApp> app;
        std::unique_ptr<HotkeyIntegration> hotkeys;
        AppBusService bus; // not on a bus: runVerb runs the verbs here
        Program()
        {
            PerchboxApp::Options options;
            options.windowFactory = &ShelfWindow::createPresented;
            options.integrateWithFileManagers = false;
            options.tutorialOnFirstStart = false;
            app = std::make_unique<PerchboxApp>(manager, AppSettings::instance(), options);
            hotkeys = std::make_unique<HotkeyIntegration>(*app);
            hotkeys->registerVerbs(bus);
        }
        VerbResult run(const QStringList &words) { return bus.runVerb(words); }
        ~Program()
        {
            for (ShelfWindow *w : ShelfWindow::openWindows())
                delete w;
            hotkeys.reset();
            app.reset();
            for (const Shelf &s : QList<Shelf>(manager.shelves()))
                manager.deleteShelf(s.id);
        }
        ShelfWindow *open(const QString &name)
        {
            const Shelf shelf = Shelf::make(name, ShelfColorData::systemBlue(), QStringLiteral("tray"));
            manager.appendShelf(shelf);
            app->delegate().showShelf(shelf.id);
            return ShelfWindow::find(shelf.id);
        }
    };

    // The texts of the header's context menu (opened, read, closed).
    static QStringList headerMenu(ShelfWindow *window)
    {
        auto *header = window->findChild<ShelfHeader *>();
        QStringList texts;
        QTimer::singleShot(0, [&texts] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *a : menu->actions())
                    if (!a->isSeparator())
                        texts << a->text();
                menu->close();
            }
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 10), header->mapToGlobal(QPoint(20, 10)));
        QApplication::sendEvent(header, &event);
        return texts;
    }

    static void enter(QWidget *w)
    {
        QEnterEvent event(QPointF(5, 5), QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(w, &event);
    }
    static void leave(QWidget *w)
    {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(w, &event);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        // Never the desktop's own shortcuts portal from a test.
        qunsetenv("WAYLAND_DISPLAY");
        qunsetenv("XDG_SESSION_TYPE");
    }

    void edgeButtonsAndStrip()
    {
        Program p;
        ShelfWindow *window = p.open(QStringLiteral("Work"));
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QSize full = window->size();
        const QRect visible = window->screen()->availableGeometry();

        auto *right = window->findChild<QToolButton *>(QStringLiteral("arrow.right.to.line"));
        auto *floatButton = window->findChild<QToolButton *>(QStringLiteral("arrow.up.and.down.and.arrow.left.and.right"));
        QVERIFY(right && right->isVisibleTo(window));
        QVERIFY(floatButton && !floatButton->isVisibleTo(window)); // it floats already
        QCOMPARE(right->toolTip(), QStringLiteral("Tuck to right edge of this screen"));

        right->click();
        QTRY_COMPARE(window->geometry(),
                     QRect(visible.left() + visible.width() - 24, window->y(), 24, full.height()));
        auto *adapter = window->findChild<ShelfTuckWindow *>();
        QVERIFY(adapter && adapter->stripView()->isVisible());
        QCOMPARE(p.manager.shelf(window->shelfId())->tuckedEdge, std::optional(TuckEdge::right));

        // The pointer on the strip peeks the shelf out; leaving slides it back.
        enter(window);
        QTRY_COMPARE(window->width(), full.width());
        QTRY_VERIFY(!adapter->stripView()->isVisible());
        QCOMPARE(window->x() + window->width(), visible.left() + visible.width());
        QVERIFY(floatButton->isVisibleTo(window));
        QVERIFY(!right->isVisibleTo(window)); // tucked there already
        QCursor::setPos(visible.center());
        leave(window);
        QTRY_COMPARE(window->width(), 24);
        QVERIFY(adapter->stripView()->isVisible());

        // "Float Freely": the whole shelf again, sizing itself.
        floatButton->click();
        QTRY_COMPARE(window->size(), full);
        // The last frame of the way back reaches the full size just before the window takes
        // its sizing back.
        QTRY_VERIFY(!window->isGeometryManaged());
        QVERIFY(!adapter->stripView()->isVisible());
        QCOMPARE(p.manager.shelf(window->shelfId())->tuckedEdge, std::nullopt);
    }

    void headerMenuEntries()
    {
        Program p;
        ShelfWindow *window = p.open(QStringLiteral("Work"));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QStringList texts = headerMenu(window);
        QCOMPARE(texts.mid(0, 5), (QStringList{QStringLiteral("Hide Shelf"), QStringLiteral("Tuck to Left Edge"),
                                              QStringLiteral("Tuck to Right Edge"), QStringLiteral("Float Freely"),
                                              QStringLiteral("Set Custom Shortcut…")}));
        AppSettings::instance().setShelfCombo(KeyCombo{40, KeyCombo::Control | KeyCombo::Option}, window->shelfId());
        texts = headerMenu(window);
        QVERIFY(texts.contains(QStringLiteral("Change Custom Shortcut…")));
        QVERIFY(texts.contains(QStringLiteral("Clear Shortcut (Ctrl+Alt+K)")));

        // The tray panel's row menu has the same entries, and they are enabled now.
        std::unique_ptr<QMenu> menu(p.app->panel().makeContextMenu(window->shelfId(), nullptr));
        QStringList rowTexts;
        for (QAction *a : menu->actions())
            rowTexts << a->text();
        QVERIFY(rowTexts.contains(QStringLiteral("Change Custom Shortcut…")));
        QVERIFY(rowTexts.contains(QStringLiteral("Clear Shortcut (Ctrl+Alt+K)")));
        for (QAction *a : menu->actions())
            if (a->text() == QStringLiteral("Change Custom Shortcut…"))
                QVERIFY(a->isEnabled());
        AppSettings::instance().setShelfCombo(std::nullopt, window->shelfId());
    }

    void verbs()
    {
        Program p;
        ShelfWindow *work = p.open(QStringLiteral("Work"));
        ShelfWindow *inbox = p.open(QStringLiteral("Inbox"));
        QVERIFY(QTest::qWaitForWindowExposed(work) && QTest::qWaitForWindowExposed(inbox));

        const auto unknown = p.run({QStringLiteral("summon"), QStringLiteral("Music")});
        QCOMPARE(unknown.status, 2);
        QCOMPARE(unknown.message, QStringLiteral("no shelf \"Music\""));
        QCOMPARE(p.run({QStringLiteral("tuck"), QStringLiteral("up")}).status, 2);
        QCOMPARE(HotkeyIntegration::checkVerb({QStringLiteral("tuck"), QStringLiteral("up")}, p.manager.shelves()),
                 QStringLiteral("unknown edge \"up\"; the edges are: left, right"));
        QVERIFY(HotkeyIntegration::checkVerb({QStringLiteral("summon"), QStringLiteral("Work")}, p.manager.shelves()).isEmpty());

        // summon: to the pointer (held there), again: back.
        const QPoint original = work->pos();
        const QRect visible = work->screen()->availableGeometry();
        QCursor::setPos(visible.center());
        QCOMPARE(p.run({QStringLiteral("summon"), QStringLiteral("work")}).status, 0);
        QTRY_COMPARE(work->geometry(), TuckGeometry::pointerFrame(work->size(), QCursor::pos(), visible));
        QCOMPARE(p.run({QStringLiteral("summon"), uuidString(work->shelfId())}).status, 0);
        QTRY_COMPARE(work->pos(), original);

        // tuck: the active shelf (the last one hovered).
        enter(work);
        leave(work);
        QCOMPARE(p.run({QStringLiteral("tuck"), QStringLiteral("left")}).status, 0);
        QTRY_COMPARE(work->geometry().left(), visible.left());
        QTRY_COMPARE(work->width(), 24);
        QCOMPARE(p.hotkeys->tuckManager().tuckedEdge(inbox->shelfId()), std::nullopt);

        // toggle: every shelf shown → all hidden; again: shown.
        QCOMPARE(p.run({QStringLiteral("toggle")}).status, 0);
        QTRY_VERIFY(!work->isVisible() && !inbox->isVisible());
        QCOMPARE(p.run({QStringLiteral("toggle")}).status, 0);
        QTRY_VERIFY(work->isVisible() && inbox->isVisible());
        // A tucked shelf comes back as its strip.
        QTRY_COMPARE(work->width(), 24);

        const int before = int(p.manager.shelves().size());
        QCOMPARE(p.run({QStringLiteral("new-shelf")}).status, 0);
        QTRY_COMPARE(int(p.manager.shelves().size()), before + 1);

        // No shelf window at all: nothing to tuck.
        for (ShelfWindow *w : ShelfWindow::openWindows())
            w->close();
        QTRY_VERIFY(ShelfWindow::openWindows().isEmpty());
        const auto none = p.run({QStringLiteral("tuck"), QStringLiteral("right")});
        QCOMPARE(none.status, 1);
        QVERIFY(!none.message.isEmpty());
    }

    void panelWarningHoverAndShortcutsPage()
    {
        Program p;
        // Offscreen there are no global shortcuts: the panel warns, the page says why.
        QVERIFY(!AppSettings::instance().inputMonitoringGranted());
        bool found = false;
        for (QPushButton *b : p.app->panel().findChildren<QPushButton *>())
            if (b->text() == QStringLiteral("Global shortcuts are off. Click to enable them.")) {
                found = true;
                QVERIFY(b->isVisibleTo(&p.app->panel()));
            }
        QVERIFY(found);

        ShelfWindow *work = p.open(QStringLiteral("Work"));
        QVERIFY(QTest::qWaitForWindowExposed(work));
        p.hotkeys->tuckManager().toggleTuck(TuckEdge::right, work->shelfId());
        QTRY_COMPARE(work->width(), 24);
        // Hovering its row in the panel peeks the tucked shelf, 1.5 s, then back.
        QCursor::setPos(work->screen()->availableGeometry().topLeft() + QPoint(5, 5));
        emit p.app->panel().view()->hovered(work->shelfId());
        QTRY_VERIFY(work->width() > 24);
        QTRY_COMPARE(work->width(), 24);

        SettingsWindow *settings = p.app->openSettings(QStringLiteral("Shortcuts"));
        auto *page = settings->findChild<ShortcutsPage *>();
        QVERIFY(page);
        QVERIFY(page->recorder(QStringLiteral("showAll")));
        QVERIFY(page->recorder(AppSettings::shelfKey(work->shelfId())));
        auto *status = page->findChild<QFrame *>(QStringLiteral("shortcutStatus"));
        QVERIFY(status && status->isVisibleTo(page));

        // A combo recorded on the page lands in the settings.
        HotkeyRecorder *recorder = page->recorder(QStringLiteral("newShelf"));
        settings->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(settings));
        QTest::mouseDClick(recorder, Qt::LeftButton);
        QVERIFY(recorder->isRecording());
        QTest::keyClick(recorder, Qt::Key_N, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(AppSettings::instance().customNewShelfCombo(), std::optional(KeyCombo{45, KeyCombo::Control | KeyCombo::Option}));
        // "Restore Default Shortcuts" puts the factory combos in the fields.
        AppSettings::instance().restoreDefaultShortcuts();
        QCOMPARE(recorder->displayText(), QStringLiteral("Alt+D"));
        QCOMPARE(page->recorder(QStringLiteral("showAll"))->displayText(), QStringLiteral("Ctrl+Alt+D"));
        delete settings;
    }
};

QTEST_MAIN(HotkeyIntegrationTest)
#include "tst_hotkey_integration.moc"
