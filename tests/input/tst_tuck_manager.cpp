// Edge tucking and flights to the pointer, against fake screens and a clock the test moves.
#include "TuckFakes.h"

#include "input/tuck/TuckGeometry.h"
#include "platform/NotificationCenter.h"

#include <QtTest>

using namespace TuckGeometry;

class TestTuckManager : public QObject
{
    Q_OBJECT

    // Every notification posted meanwhile, by name.
    struct Recorder {
        QStringList names;
        QMetaObject::Connection connection;
        Recorder()
        {
            connection = QObject::connect(&NotificationCenter::instance(), &NotificationCenter::posted,
                                          [this](const QString &name, const QVariantMap &) { names << name; });
        }
        ~Recorder() { QObject::disconnect(connection); }
    };

    static void hotkey(const QUuid &id)
    {
        NotificationCenter::instance().post(Notifications::highlightShelf,
                                            {{Notifications::idKey, uuidString(id)}, {Notifications::fromHotkeyKey, true}});
    }

private slots:
    void geometry()
    {
        const QRect visible(0, 0, 1440, 900);
        // A 300 × 400 shelf on the right edge: a strip at x 1416, 24 wide, 400 high.
        QCOMPARE(stripFrame(QRect(500, 100, 300, 400), TuckEdge::right, visible), QRect(1416, 100, 24, 400));
        QCOMPARE(stripFrame(QRect(500, 100, 300, 400), TuckEdge::left, visible), QRect(0, 100, 24, 400));
        // A shelf reaching below the visible area is tucked with its bottom on the area's bottom.
        QCOMPARE(stripFrame(QRect(500, 700, 300, 400), TuckEdge::right, visible), QRect(1416, 500, 24, 400));
        // Taller than the area: its top stays visible.
        QCOMPARE(stripFrame(QRect(0, 50, 300, 1000), TuckEdge::left, QRect(0, 24, 1440, 876)).top(), 24);
        QCOMPARE(peekFrame(QRect(500, 100, 300, 400), TuckEdge::right, visible), QRect(1140, 100, 300, 400));
        QCOMPARE(peekFrame(QRect(500, 100, 300, 400), TuckEdge::left, QRect(1440, 0, 1920, 1080)),
                 QRect(1440, 100, 300, 400));

        // Flights near the corners stay 4 px inside the visible area.
        const QRect work(0, 24, 1440, 876);
        QCOMPARE(pointerFrame(QSize(260, 300), QPoint(2, 30), work).topLeft(), QPoint(4, 28));
        QCOMPARE(pointerFrame(QSize(260, 300), QPoint(1439, 899), work).topLeft(), QPoint(1440 - 260 - 4, 900 - 300 - 4));
        QCOMPARE(pointerFrame(QSize(260, 300), QPoint(700, 450), work).topLeft(), QPoint(570, 300));
        // On a second screen to the right.
        QCOMPARE(pointerFrame(QSize(260, 300), QPoint(3350, 5), QRect(1440, 0, 1920, 1080)).topLeft(),
                 QPoint(1440 + 1920 - 260 - 4, 4));

        QCOMPARE(clampInto(QRect(-50, -20, 300, 400), work).topLeft(), QPoint(0, 24));
        QCOMPARE(clampInto(QRect(1300, 800, 300, 400), work).topLeft(), QPoint(1140, 500));

        QCOMPARE(edgeNear(QRect(30, 100, 260, 300), work), std::optional(TuckEdge::left));
        QCOMPARE(edgeNear(QRect(1140, 100, 260, 300), work), std::optional(TuckEdge::right));
        QCOMPARE(edgeNear(QRect(500, 100, 260, 300), work), std::nullopt);
    }

    void screenChoice()
    {
        const QList<Screen> screens{{QStringLiteral("DP-1"), QStringLiteral("Dell"), QRect(0, 0, 1440, 900), QRect(0, 0, 1440, 900)},
                                    {QStringLiteral("HDMI-1"), QStringLiteral("LG"), QRect(1440, 0, 1920, 1080), QRect(1440, 0, 1920, 1080)}};
        const QRect onFirst(100, 100, 260, 300);
        // By identifier, then by name, then by the edge the window is tucked on, then its screen.
        QCOMPARE(chooseScreen(screens, QStringLiteral("HDMI-1"), QStringLiteral("Dell"), onFirst, TuckEdge::left), std::optional<qsizetype>(1));
        QCOMPARE(chooseScreen(screens, QStringLiteral("gone"), QStringLiteral("LG"), onFirst, TuckEdge::left), std::optional<qsizetype>(1));
        // Straddling both: the right edge lies on the second screen.
        const QRect straddling(1300, 100, 260, 300);
        QCOMPARE(chooseScreen(screens, std::nullopt, std::nullopt, straddling, TuckEdge::right), std::optional<qsizetype>(1));
        QCOMPARE(chooseScreen(screens, std::nullopt, std::nullopt, straddling, TuckEdge::left), std::optional<qsizetype>(0));
        // Nowhere: the one it overlaps most, else the first.
        QCOMPARE(chooseScreen(screens, std::nullopt, std::nullopt, QRect(5000, 5000, 10, 10), TuckEdge::left), std::optional<qsizetype>(0));
        QCOMPARE(chooseScreen({}, std::nullopt, std::nullopt, onFirst, TuckEdge::left), std::nullopt);
    }

    void tuckPeekRetuckCycle()
    {
        TuckFixture f;
        const QUuid id = f.addShelf(QRect(500, 100, 300, 400));
        FakeTuckWindow *w = f.window(id);
        Recorder posted;

        QVERIFY(f.tuck->toggleTuck(TuckEdge::right, id));
        QCOMPARE(w->frame(), QRect(1416, 100, 24, 400));
        QVERIFY(w->strip);
        QVERIFY(w->managed);
        QCOMPARE(f.env.animations.last().ms, animationMs);
        // The record keeps the edge and the screen.
        QCOMPARE(f.record(id).tuckedEdge, std::optional(TuckEdge::right));
        QCOMPARE(f.record(id).tuckedScreenID, std::optional(QStringLiteral("A")));
        QCOMPARE(f.record(id).tuckedScreenName, std::optional(QStringLiteral("Screen A")));

        // Hover: peeks out at full size, flush with the edge; the content shows once it is out.
        f.tuck->pointerEntered(id);
        QVERIFY(f.tuck->isPeeked(id));
        QCOMPARE(w->frame(), QRect(1140, 100, 300, 400));
        QCOMPARE(posted.names, (QStringList{Notifications::rightTuckSlideWillPeek, Notifications::shelfPeeked}));
        QVERIFY(w->strip);
        f.env.advance(animationMs);
        QVERIFY(!w->strip);
        QCOMPARE(posted.names.last(), Notifications::rightTuckSlideDidPeek);

        // Leaving and coming back within 0.6 s keeps it out.
        f.env.pointer = QPoint(700, 450);
        f.tuck->pointerLeft(id);
        f.env.advance(500);
        f.env.pointer = QPoint(1200, 200);
        f.tuck->pointerEntered(id);
        f.env.advance(2000);
        QVERIFY(f.tuck->isPeeked(id));

        // Leaving for good: back 0.6 s later, not earlier.
        posted.names.clear();
        f.env.pointer = QPoint(700, 450);
        f.tuck->pointerLeft(id);
        f.env.advance(retuckDelayMs - 1);
        QVERIFY(f.tuck->isPeeked(id));
        f.env.advance(1);
        QVERIFY(!f.tuck->isPeeked(id));
        QCOMPARE(w->frame(), QRect(1416, 100, 24, 400));
        QVERIFY(w->strip);
        QCOMPARE(posted.names, (QStringList{Notifications::rightTuckSlideWillRetuck, Notifications::shelfUnpeeked,
                                            Notifications::shelfWillRetuck}));
        f.env.advance(animationMs);
        QCOMPARE(posted.names.last(), Notifications::rightTuckSlideDidRetuck);

        // The same edge again untucks: the full frame comes back, the record forgets.
        QVERIFY(f.tuck->toggleTuck(TuckEdge::right, id));
        f.env.advance(animationMs);
        QCOMPARE(w->frame(), QRect(500, 100, 300, 400));
        QVERIFY(!w->strip);
        QVERIFY(!w->managed);
        QCOMPARE(f.record(id).tuckedEdge, std::nullopt);
        QCOMPARE(f.record(id).tuckedScreenID, std::nullopt);
    }

    void peekHeldWhileMenuOpenOrPointerInside()
    {
        TuckFixture f;
        const QUuid id = f.addShelf(QRect(500, 100, 300, 400));
        FakeTuckWindow *w = f.window(id);
        f.tuck->toggleTuck(TuckEdge::left, id);
        f.tuck->pointerEntered(id);
        f.env.advance(animationMs);
        // A leave that was not real (the pointer is still over the shelf) or an open menu.
        f.env.pointer = QPoint(100, 200);
        f.tuck->pointerLeft(id);
        f.env.advance(3 * retuckDelayMs);
        QVERIFY(f.tuck->isPeeked(id));
        f.env.pointer = QPoint(900, 200);
        w->busy = true;
        f.env.advance(3 * retuckDelayMs);
        QVERIFY(f.tuck->isPeeked(id));
        w->busy = false;
        f.env.advance(retuckDelayMs);
        QVERIFY(!f.tuck->isPeeked(id));
        QCOMPARE(w->frame(), QRect(0, 100, 24, 400));
    }

    void headerDragWhilePeeked()
    {
        TuckFixture f;
        const QUuid id = f.addShelf(QRect(500, 100, 300, 400));
        FakeTuckWindow *w = f.window(id);
        f.tuck->toggleTuck(TuckEdge::right, id);
        f.tuck->pointerEntered(id);
        f.env.advance(animationMs);

        // Dragged lower along the edge: still tucked there, at the new height.
        f.tuck->headerDragBegan(id);
        QVERIFY(f.tuck->isDraggingHeader(id));
        f.tuck->pointerLeft(id); // no retuck while dragging
        f.tuck->pointerEntered(id);
        f.env.advance(2000);
        w->setFrame(QRect(1120, 300, 300, 400));
        f.env.pointer = QPoint(1200, 320);
        f.tuck->headerDragEnded(id);
        QCOMPARE(f.tuck->tuckedEdge(id), std::optional(TuckEdge::right));
        QCOMPARE(w->frame(), QRect(1140, 300, 300, 400));
        f.env.pointer = QPoint(100, 100);
        f.tuck->pointerLeft(id);
        f.env.advance(retuckDelayMs);
        QCOMPARE(w->frame(), QRect(1416, 300, 24, 400));

        // Dragged to the middle of the screen: it floats freely there, the record forgets.
        f.tuck->pointerEntered(id);
        f.env.advance(animationMs);
        f.tuck->headerDragBegan(id);
        w->setFrame(QRect(600, 200, 300, 400));
        f.tuck->headerDragEnded(id);
        QCOMPARE(f.tuck->tuckedEdge(id), std::nullopt);
        QVERIFY(!w->strip);
        QVERIFY(!w->managed);
        QCOMPARE(w->frame(), QRect(600, 200, 300, 400));
        QCOMPARE(f.record(id).tuckedEdge, std::nullopt);
    }

    void hotkeyOnUntuckedShelfWithPin()
    {
        TuckFixture f;
        const QUuid id = f.addShelf(QRect(100, 100, 260, 300));
        FakeTuckWindow *w = f.window(id);
        QVERIFY(f.settings->hotkeyPinEnabled());

        // Near the bottom right corner: 4 px inside the visible frame.
        f.env.pointer = QPoint(1435, 895);
        hotkey(id);
        QCOMPARE(w->frame(), QRect(1440 - 260 - 4, 900 - 300 - 4, 260, 300));
        QVERIFY(f.tuck->isFloatingPinned(id));
        QVERIFY(w->raised > 0);
        // Nothing sends it back by itself.
        f.env.advance(10000);
        QCOMPARE(w->frame().topLeft(), QPoint(1176, 596));
        // The second press: back where it was.
        hotkey(id);
        QCOMPARE(w->frame(), QRect(100, 100, 260, 300));
        QVERIFY(!f.tuck->isFloatingPinned(id));
    }

    void dropOnShelfHeldAtPointer()
    {
        TuckFixture f;
        const QUuid id = f.addShelf(QRect(100, 100, 260, 300));
        FakeTuckWindow *w = f.window(id);
        const auto drop = [&] {
            NotificationCenter::instance().post(Notifications::shelfReceivedDrop, {{Notifications::idKey, uuidString(id)}});
        };

        // "Hold shelf at cursor" off: back 0.15 + 0.6 s after the drop, even with the pointer on it.
        hotkey(id);
        f.env.pointer = w->frame().center();
        drop();
        f.env.advance(dropSettleMs + retuckDelayMs - 1);
        QVERIFY(f.tuck->isFloatingPinned(id));
        f.env.advance(1);
        QVERIFY(!f.tuck->isFloatingPinned(id));
        QCOMPARE(w->frame(), QRect(100, 100, 260, 300));

        // On: it stays until the next press.
        f.settings->setHotkeyHoldUntilHotkey(true);
        hotkey(id);
        drop();
        f.env.advance(5000);
        QVERIFY(f.tuck->isFloatingPinned(id));

        // A drop on a shelf that is not held does nothing special.
        f.settings->setHotkeyHoldUntilHotkey(false);
        hotkey(id);
        QVERIFY(!f.tuck->isFloatingPinned(id));
        const QRect before = w->frame();
        drop();
        f.env.advance(5000);
        QCOMPARE(w->frame(), before);
    }

    void hotkeyOnTuckedShelf()
    {
        TuckFixture f;
        const QUuid id = f.addShelf(QRect(500, 100, 300, 400));
        FakeTuckWindow *w = f.window(id);
        f.tuck->toggleTuck(TuckEdge::left, id);

        // Pinned (the default): out at the pointer until the second press.
        f.env.pointer = QPoint(800, 500);
        hotkey(id);
        QVERIFY(f.tuck->isCursorFloated(id));
        QVERIFY(f.tuck->isPinned(id));
        QCOMPARE(w->frame(), QRect(650, 300, 300, 400));
        f.env.advance(animationMs);
        QVERIFY(!w->strip);
        // Hovering does not peek it meanwhile, nor does the tray highlight.
        f.tuck->pointerEntered(id);
        NotificationCenter::instance().post(Notifications::highlightShelf, {{Notifications::idKey, uuidString(id)}});
        QVERIFY(!f.tuck->isPeeked(id));
        f.env.advance(10000);
        QCOMPARE(w->frame(), QRect(650, 300, 300, 400));
        hotkey(id);
        QVERIFY(!f.tuck->isPinned(id));
        QCOMPARE(w->frame(), QRect(0, 100, 24, 400));

        // Not pinned: back to the strip 2 s later, held while the pointer is over it.
        f.settings->setHotkeyPinEnabled(false);
        f.env.pointer = QPoint(800, 500);
        hotkey(id);
        QVERIFY(f.tuck->isCursorFloated(id));
        QVERIFY(!f.tuck->isPinned(id));
        f.env.pointer = QPoint(100, 850);
        f.env.advance(hotkeyFloatMs - 1);
        QVERIFY(f.tuck->isCursorFloated(id));
        f.env.advance(1);
        QVERIFY(!f.tuck->isCursorFloated(id));
        QCOMPARE(w->frame(), QRect(0, 100, 24, 400));

        hotkey(id);
        f.tuck->pointerEntered(id);
        f.env.advance(5000);
        QVERIFY(f.tuck->isCursorFloated(id));
        f.env.pointer = QPoint(900, 100);
        f.tuck->pointerLeft(id);
        f.env.advance(hotkeyFloatMs);
        QCOMPARE(w->frame(), QRect(0, 100, 24, 400));
    }

    void trayHoverHighlight()
    {
        TuckFixture f;
        const QUuid tucked = f.addShelf(QRect(500, 100, 300, 400));
        const QUuid loose = f.addShelf(QRect(100, 100, 260, 300));
        f.tuck->toggleTuck(TuckEdge::right, tucked);
        f.env.pointer = QPoint(1300, 10); // over the tray panel
        NotificationCenter::instance().post(Notifications::highlightShelf, {{Notifications::idKey, uuidString(tucked)}});
        QVERIFY(f.tuck->isPeeked(tucked));
        f.env.advance(highlightPeekMs - 1);
        QVERIFY(f.tuck->isPeeked(tucked));
        f.env.advance(1);
        QVERIFY(!f.tuck->isPeeked(tucked));

        // An untucked shelf is raised and flashed, not moved.
        const int raisedBefore = f.window(loose)->raised;
        NotificationCenter::instance().post(Notifications::highlightShelf, {{Notifications::idKey, uuidString(loose)}});
        QCOMPARE(f.window(loose)->flashed, 1);
        QCOMPARE(f.window(loose)->raised, raisedBefore + 1);
        QCOMPARE(f.window(loose)->frame(), QRect(100, 100, 260, 300));
    }

    void screensWakeAndSizeChanges()
    {
        TuckFixture f;
        f.env.screenList << TuckFixture::screen(QStringLiteral("B"), QRect(1440, 0, 1920, 1080), QRect(1440, 0, 1920, 1080));
        const QUuid id = f.addShelf(QRect(2000, 100, 300, 400));
        FakeTuckWindow *w = f.window(id);
        f.tuck->toggleTuck(TuckEdge::right, id);
        QCOMPARE(w->frame(), QRect(3360 - 24, 100, 24, 400));
        QCOMPARE(f.record(id).tuckedScreenID, std::optional(QStringLiteral("B")));

        // Files arrive: the strip grows with the shelf.
        w->setFullSize(QSize(300, 600));
        f.tuck->handleShelfSizeChanged(id);
        QCOMPARE(w->frame(), QRect(3336, 100, 24, 600));

        // The second screen goes away: the shelf moves to the remaining one, same edge.
        f.env.screenList.removeLast();
        f.tuck->handleScreenConfigurationChanged();
        QCOMPARE(w->frame(), QRect(1416, 100, 24, 600));
        // The record still names the screen it belongs on, so it goes back when that returns.
        QCOMPARE(f.record(id).tuckedScreenID, std::optional(QStringLiteral("B")));
        f.env.screenList << TuckFixture::screen(QStringLiteral("B"), QRect(1440, 0, 1920, 1080), QRect(1440, 0, 1920, 1080));
        f.tuck->handleScreenConfigurationChanged();
        QCOMPARE(w->frame().left(), 3336);

        // Waking up re-places a shelf that was peeked: back on its strip.
        f.tuck->pointerEntered(id);
        QVERIFY(f.tuck->isPeeked(id));
        f.tuck->handleSystemWake();
        QVERIFY(!f.tuck->isPeeked(id));
        QCOMPARE(w->frame(), QRect(3336, 100, 24, 600));
    }

    void restartKeepsTuck()
    {
        TuckFixture f;
        const QUuid id = f.addShelf(QRect(500, 100, 300, 400));
        f.tuck->toggleTuck(TuckEdge::left, id);
        f.tuck->unregisterWindow(id);
        f.windows.erase(id);

        // The next window of the shelf (after a restart) is tucked when it is shown.
        auto window = std::make_unique<FakeTuckWindow>(QRect(300, 200, 300, 400));
        window->shown = false;
        FakeTuckWindow *w = window.get();
        f.windows[id] = std::move(window);
        f.tuck->registerWindow(id, w);
        QVERIFY(w->strip);
        w->shown = true;
        f.tuck->windowShown(id);
        QCOMPARE(f.tuck->tuckedEdge(id), std::optional(TuckEdge::left));
        QCOMPARE(w->frame(), QRect(0, 200, 24, 400));
        QCOMPARE(f.env.animations.last().ms, 0);
    }

    void activeShelf()
    {
        TuckFixture f;
        const QUuid a = f.addShelf(QRect(100, 100, 260, 300), QStringLiteral("A"));
        const QUuid b = f.addShelf(QRect(600, 100, 260, 300), QStringLiteral("B"));
        // The last opened, then hovered, then activated.
        QCOMPARE(f.tuck->currentActiveShelfID(), std::optional(b));
        f.tuck->pointerEntered(a);
        QCOMPARE(f.tuck->currentActiveShelfID(), std::optional(a));
        f.tuck->windowActivated(b);
        QCOMPARE(f.tuck->currentActiveShelfID(), std::optional(b));
        // The active one went away: the shown window under the pointer, else the last shown.
        f.tuck->unregisterWindow(b);
        f.window(a)->shown = false;
        QCOMPARE(f.tuck->currentActiveShelfID(), std::nullopt);
        f.window(a)->shown = true;
        QCOMPARE(f.tuck->currentActiveShelfID(), std::optional(a));
    }

    void hiddenShelfHiddenAgainAfterCycle()
    {
        TuckFixture f;
        const QUuid id = f.addShelf(QRect(100, 100, 260, 300));
        f.shelves->openShelf(id);
        f.tuck->hideAgainAfterHotkeyCycle(id);
        hotkey(id);
        QVERIFY(!f.shelves->isShelfHidden(id));
        hotkey(id); // back to its place: hidden again
        QVERIFY(f.shelves->isShelfHidden(id));
    }
};

QTEST_GUILESS_MAIN(TestTuckManager)
#include "tst_tuck_manager.moc"
