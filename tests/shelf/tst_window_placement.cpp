#include "shelf/WindowPlacement.h"

#include <QtTest>

using namespace WindowPlacement;

// A 1440 × 900 screen whose top 28 px are taken by a panel: the visible area starts at
// y = 28 and ends (exclusive) at y = 900.
static const QRect kVisible(0, 28, 1440, 872);
// A second screen to the right, offset vertically.
static const QRect kSecond(1440, 100, 1920, 1080);
static const QSize kWin(220, 300);

class TestWindowPlacement : public QObject
{
    Q_OBJECT
private slots:
    void nextToPointer_data()
    {
        QTest::addColumn<QRect>("visible");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPoint>("expected");

        // Middle of the screen: centered on the pointer, 8 px below it.
        QTest::newRow("middle") << kVisible << QPoint(700, 300) << QPoint(700 - 110, 308);
        // Right edge: right edge of the window 4 px inside the visible area.
        QTest::newRow("right edge") << kVisible << QPoint(1439, 300) << QPoint(1440 - 4 - 220, 308);
        // Left edge: 4 px inside.
        QTest::newRow("left edge") << kVisible << QPoint(0, 300) << QPoint(4, 308);
        // Near the bottom: the window goes above the pointer with an 8 px gap.
        QTest::newRow("bottom edge") << kVisible << QPoint(700, 890) << QPoint(590, 890 - 8 - 300);
        // Exactly fitting below (bottom edge lands 4 px above the visible bottom): stays below.
        QTest::newRow("fits below exactly") << kVisible << QPoint(700, 900 - 4 - 300 - 8)
                                            << QPoint(590, 900 - 4 - 300);
        // One pixel lower no longer fits: above.
        QTest::newRow("one px too low") << kVisible << QPoint(700, 900 - 4 - 300 - 7)
                                        << QPoint(590, 900 - 4 - 300 - 7 - 8 - 300);
        // Top edge under a panel: below the pointer, but never above the visible top + 4.
        QTest::newRow("top edge") << kVisible << QPoint(700, 0) << QPoint(590, 32);
        // Bottom-right corner.
        QTest::newRow("bottom right") << kVisible << QPoint(1439, 899) << QPoint(1216, 899 - 308);
        // Window taller than the space above and below: pinned 4 px below the visible top.
        QTest::newRow("too tall") << QRect(0, 0, 1440, 400) << QPoint(700, 200) << QPoint(590, 4);
        // Second screen with its own origin.
        QTest::newRow("second screen right") << kSecond << QPoint(3359, 500)
                                             << QPoint(3360 - 4 - 220, 508);
        QTest::newRow("second screen left top") << kSecond << QPoint(1440, 100)
                                                << QPoint(1444, 108);
        QTest::newRow("second screen bottom") << kSecond << QPoint(2000, 1170)
                                              << QPoint(1890, 1170 - 308);
    }
    void nextToPointer()
    {
        QFETCH(QRect, visible);
        QFETCH(QPoint, pointer);
        QFETCH(QPoint, expected);
        const QPoint got = placeNextTo(pointer, kWin, visible);
        QCOMPARE(got, expected);
        // Whatever happens horizontally, the window stays inside the visible area.
        QVERIFY(got.x() >= visible.x() + 4);
        QVERIFY(got.x() + kWin.width() <= visible.x() + visible.width() - 4);
    }

    void centered()
    {
        QCOMPARE(centeredIn(kVisible, kWin), QPoint(720 - 110, 28 + 436 - 150));
        QCOMPARE(centeredIn(kSecond, QSize(260, 1)), QPoint(1440 + 960 - 130, 100 + 540));
    }

    // The grip keeps the top edge under the pointer; the window height plays no part.
    void dragKeepsTopUnderPointer()
    {
        const QPoint press(500, 200), start(400, 180);
        QCOMPARE(dragPosition(press, start, QPoint(530, 260)), QPoint(430, 240));
        QCOMPARE(dragPosition(press, start, press), start);
    }

    // The requests are one-shot, and a pending position wins and clears centering.
    void requests()
    {
        QCOMPARE(takeRequest().kind, Request::Kind::keepPosition);

        setCenterNextWindow(true);
        setPendingPosition(QPoint(10, 20));
        Request r = takeRequest();
        QCOMPARE(r.kind, Request::Kind::nextToPoint);
        QCOMPARE(r.point, QPoint(10, 20));
        QVERIFY(!centerNextWindow());
        QCOMPARE(takeRequest().kind, Request::Kind::keepPosition);

        setCenterNextWindow(true);
        QCOMPARE(takeRequest().kind, Request::Kind::centerOnMainScreen);
        QCOMPARE(takeRequest().kind, Request::Kind::keepPosition);
    }

    // A shelf goes back where it was, inside a screen that still exists.
    void restoredPositions()
    {
        using WindowPlacement::Screen;
        const QList<Screen> two{{"DP-1", QRect(0, 24, 1920, 1056), true}, {"HDMI-1", QRect(1920, 0, 1280, 1024), false}};
        const QSize size(220, 300);
        // Where it was, untouched.
        QCOMPARE(WindowPlacement::restoredPosition({2400, 500}, "HDMI-1", size, two), std::optional<QPoint>(QPoint(2400, 500)));
        // Its screen is gone: the screen holding the point, else the primary, kept inside it.
        QCOMPARE(WindowPlacement::restoredPosition({2400, 500}, "HDMI-1", size, {two[0]}),
                 std::optional<QPoint>(QPoint(1920 - 220, 500)));
        QCOMPARE(WindowPlacement::restoredPosition({500, 500}, "gone", size, two), std::optional<QPoint>(QPoint(500, 500)));
        // Under the top panel or past the bottom: moved in by as little as needed.
        QCOMPARE(WindowPlacement::restoredPosition({100, 0}, "DP-1", size, two), std::optional<QPoint>(QPoint(100, 24)));
        QCOMPARE(WindowPlacement::restoredPosition({100, 1000}, "DP-1", size, two), std::optional<QPoint>(QPoint(100, 1080 - 300)));
        // A screen smaller than the window: its top-left corner.
        QCOMPARE(WindowPlacement::restoredPosition({50, 50}, "", QSize(4000, 3000), two), std::optional<QPoint>(QPoint(0, 24)));
        QVERIFY(!WindowPlacement::restoredPosition({0, 0}, "", size, {}));
    }

    // A new shelf never lands exactly on another: it moves down and right by the header.
    void cascade()
    {
        const QRect area(0, 0, 1440, 900);
        const QSize size(220, 200);
        QCOMPARE(WindowPlacement::cascaded({600, 350}, {}, 30, size, area), QPoint(600, 350));
        QCOMPARE(WindowPlacement::cascaded({600, 350}, {{600, 350}}, 30, size, area), QPoint(630, 380));
        QCOMPARE(WindowPlacement::cascaded({600, 350}, {{601, 349}, {630, 380}}, 30, size, area), QPoint(660, 410));
        QCOMPARE(WindowPlacement::cascaded({600, 350}, {{100, 100}}, 30, size, area), QPoint(600, 350));
        // At the bottom-right corner the cascade starts again inside the area.
        const QPoint wrapped = WindowPlacement::cascaded({1210, 690}, {{1210, 690}}, 30, size, area);
        QVERIFY(area.contains(QRect(wrapped, size)));
        QVERIFY(wrapped != QPoint(1210, 690));
    }

    // Our other windows float above the shelves, so they appear beside them, not on them.
    void clearOfShelves()
    {
        const QRect area(0, 24, 1280, 776);
        const int gap = 8;
        const auto clearOfAll = [](const QRect &r, const QList<QRect> &obstacles) {
            for (const QRect &o : obstacles)
                if (r.intersects(o))
                    return false;
            return true;
        };
        // Nothing in the way: unchanged.
        QCOMPARE(WindowPlacement::clearOf({490, 180, 300, 440}, {{10, 30, 200, 180}}, area, gap), QPoint(490, 180));
        QCOMPARE(WindowPlacement::clearOf({490, 180, 300, 440}, {}, area, gap), QPoint(490, 180));

        // The centred panel over the centred Inbox shelf: the nearest clear place, beside it.
        const QRect inbox(530, 317, 220, 182);
        const QPoint p = WindowPlacement::clearOf({490, 180, 300, 440}, {inbox}, area, gap);
        const QRect moved(p, QSize(300, 440));
        QVERIFY(clearOfAll(moved, {inbox}));
        QVERIFY(area.contains(moved));
        // Beside it at the same height (to the right and to the left are equally near).
        QVERIFY(p == QPoint(inbox.left() + inbox.width() + gap, 180) || p == QPoint(inbox.left() - gap - 300, 180));

        // A dialog centred on the shelf it came from, next to the right screen edge: not past
        // the edge (no room on the right), and as near as the left side at most.
        const QRect shelf(1000, 300, 220, 300);
        const QPoint d = WindowPlacement::clearOf({960, 350, 300, 200}, {shelf}, area, gap);
        QVERIFY(clearOfAll(QRect(d, QSize(300, 200)), {shelf}));
        QVERIFY(area.contains(QRect(d, QSize(300, 200))));
        QVERIFY((d - QPoint(960, 350)).manhattanLength() <= 960 - (shelf.left() - gap - 300));
        // With the space above and below taken too, it goes to the left.
        const QList<QRect> column{shelf, {900, 600, 380, 200}, {900, 24, 380, 270}};
        const QPoint l = WindowPlacement::clearOf({960, 350, 300, 200}, column, area, gap);
        QVERIFY(clearOfAll(QRect(l, QSize(300, 200)), column));
        QCOMPARE(l, QPoint(shelf.left() - gap - 300, 350));

        // Hemmed in on both sides and above and below: the least covered place inside.
        const QList<QRect> wall{{0, 24, 400, 776}, {700, 24, 580, 776}};
        const QPoint squeezed = WindowPlacement::clearOf({300, 300, 500, 200}, wall, area, gap);
        QVERIFY(area.contains(QRect(squeezed, QSize(500, 200))));
        qint64 covered = 0;
        for (const QRect &o : wall)
            if (const QRect cut = QRect(squeezed, QSize(500, 200)).intersected(o); !cut.isEmpty())
                covered += qint64(cut.width()) * cut.height();
        QCOMPARE(covered, qint64(200) * 200); // 500 wide in a 300-wide gap: 200 columns must overlap

        // Two shelves side by side: the window clears both, not just the first it meets.
        const QList<QRect> pair{{400, 300, 220, 200}, {628, 300, 220, 200}};
        const QPoint both = WindowPlacement::clearOf({450, 320, 300, 150}, pair, area, gap);
        QVERIFY(clearOfAll(QRect(both, QSize(300, 150)), pair));

        // A screen full of shelves: left where it is.
        QList<QRect> many;
        for (int i = 0; i <= WindowPlacement::maxClearObstacles; ++i)
            many.append(QRect(i * 20, 30, 220, 200));
        QCOMPARE(WindowPlacement::clearOf({100, 100, 300, 200}, many, area, gap), QPoint(100, 100));
    }

    // Shelves that nothing else placed: from the centre, a step lower and to the right each,
    // the whole run on the screen with every title in sight.
    void centredCascadeFitsTheScreen()
    {
        const QRect area(0, 24, 1280, 776);
        // A small shelf: centred, then 24 px steps.
        const QSize small(220, 180);
        const QPoint first = WindowPlacement::centredCascade(area, small, 0);
        QCOMPARE(first, WindowPlacement::centeredIn(area, small));
        QCOMPARE(WindowPlacement::centredCascade(area, small, 3), first + QPoint(72, 72));
        QCOMPARE(WindowPlacement::centredCascade(area, small, 10), first); // the run starts again
        // A tall one (1,000 files): the run starts higher so that the tenth still steps down.
        const QSize tall(220, 548);
        QList<int> tops;
        for (int i = 0; i < 10; ++i) {
            const QPoint p = WindowPlacement::centredCascade(area, tall, i);
            QVERIFY2(area.contains(QRect(p, tall)), qPrintable(QStringLiteral("%1: %2,%3").arg(i).arg(p.x()).arg(p.y())));
            tops << p.y();
        }
        for (int i = 1; i < 10; ++i)
            QVERIFY2(tops[i] - tops[i - 1] >= 20, qPrintable(QStringLiteral("step %1: %2 → %3").arg(i).arg(tops[i - 1]).arg(tops[i])));
        // Taller than the screen allows steps for: the steps shrink, still inside.
        const QSize huge(220, 770);
        const QPoint last = WindowPlacement::centredCascade(area, huge, 9);
        QVERIFY(area.contains(QRect(last, huge)));
        QVERIFY(last.y() >= WindowPlacement::centredCascade(area, huge, 0).y());
    }

    // Two shelves moved out from under the same dialog do not end up one exactly on the other.
    void clearAndApartFromOtherShelves()
    {
        const QRect area(0, 24, 1280, 776);
        const int gap = 8, step = 30;
        const QRect tutorial(320, 212, 640, 360);
        const QRect centred(530, 317, 220, 182);
        const QPoint first = WindowPlacement::clearOf(centred, {tutorial}, area, gap);
        // Nothing else there: the same place as clearOf.
        QCOMPARE(WindowPlacement::clearOfAndApart(centred, {tutorial}, {}, step, area, gap), first);
        QCOMPARE(WindowPlacement::clearOfAndApart(centred, {tutorial}, {{10, 10}}, step, area, gap), first);

        // The first shelf sits there: the second goes a step away, still clear of the dialog.
        QList<QPoint> taken{first};
        const QPoint second = WindowPlacement::clearOfAndApart(centred, {tutorial}, taken, step, area, gap);
        QVERIFY(second != first);
        QCOMPARE(std::max(std::abs(second.x() - first.x()), std::abs(second.y() - first.y())), step);
        QVERIFY(!QRect(second, centred.size()).intersects(tutorial));
        QVERIFY(area.contains(QRect(second, centred.size())));
        // A third: apart from both.
        taken << second;
        const QPoint third = WindowPlacement::clearOfAndApart(centred, {tutorial}, taken, step, area, gap);
        QVERIFY(third != first && third != second);
        QVERIFY(!QRect(third, centred.size()).intersects(tutorial));

        // No clear place a step away (the dialog fills all but the shelf's own spot): at
        // least not on the other shelf.
        const QRect small(0, 24, 240, 204);
        const QRect cover(0, 24 + 190, 240, 0 + 14);
        const QPoint squeezed = WindowPlacement::clearOfAndApart({0, 24, 220, 182}, {cover}, {{0, 24}}, step, small, gap);
        QVERIFY(squeezed != QPoint(0, 24));
    }
};

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_window_placement.moc"
