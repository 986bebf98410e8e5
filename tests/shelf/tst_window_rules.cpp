#include "shelf/WindowRules.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>
#include <QtTest>
#include <QtTest/qtestspontaneevent.h>

class TestWindowRules : public QObject
{
    Q_OBJECT

    static QRect available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    static void wheel(QWidget *target, int delta)
    {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        // As from the mouse: only such wheel events travel on to the parent when ignored.
        QSpontaneKeyEvent::setSpontaneous(&event);
        qApp->notify(target, &event);
    }

private slots:
    void initTestCase()
    {
        WindowRules::install();
        QVERIFY(WindowRules::isInstalled());
    }

    void clampArithmetic()
    {
        const QRect area(0, 24, 1440, 876);
        // Fits: unchanged.
        QCOMPARE(WindowRules::clampedInto(QRect(100, 100, 300, 200), area), QRect(100, 100, 300, 200));
        // Past the right edge (the cut-off quick reference): moved left, same size.
        QCOMPARE(WindowRules::clampedInto(QRect(1300, 100, 400, 300), area), QRect(1040, 100, 400, 300));
        // Under a top panel (the settings window's close button under the tray): moved down.
        QCOMPARE(WindowRules::clampedInto(QRect(500, 0, 760, 560), area), QRect(500, 24, 760, 560));
        // Past the bottom (a pop-up's Save button off screen): moved up.
        QCOMPARE(WindowRules::clampedInto(QRect(10, 800, 200, 150), area), QRect(10, 750, 200, 150));
        // Larger than the area: shrunk to it and placed at its corner.
        QCOMPARE(WindowRules::clampedInto(QRect(-50, -50, 2000, 1200), area), area);
        // Off to the left and above.
        QCOMPARE(WindowRules::clampedInto(QRect(-100, -10, 50, 50), area), QRect(0, 24, 50, 50));
    }

    // Every window and pop-up we show lands inside the screen, and one that grows while
    // shown is brought back in.
    void windowsStayOnScreen()
    {
        const QRect area = available();
        QDialog dialog;
        dialog.resize(300, 200);
        dialog.move(area.right() - 100, area.bottom() - 50);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(area.contains(dialog.frameGeometry()));

        QFrame popup(nullptr, Qt::Popup);
        popup.resize(260, 120);
        popup.move(area.right() - 20, area.top() + 10);
        popup.show();
        QVERIFY(area.contains(popup.geometry()));
        popup.hide();

        // Growing past the bottom right after it appeared (a panel that lays out its
        // content): brought back in once it has been framed.
        QWidget grows(nullptr, Qt::Tool);
        grows.resize(200, 150);
        grows.move(area.left() + 10, area.bottom() - 200);
        grows.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grows));
        grows.resize(200, 260);
        QTRY_VERIFY_WITH_TIMEOUT(area.contains(grows.frameGeometry()), 4000);
        QCOMPARE(grows.height(), 260);

        // Growing taller than the screen (once it has settled): shrunk to fit.
        QTest::qWait(1600);
        dialog.resize(300, area.height() + 400);
        QTRY_VERIFY(area.contains(dialog.frameGeometry()));
        QVERIFY(dialog.height() <= area.height());
    }

    // Dialogs and tool windows float with the shelves, stay with their owner, and come up
    // above them; menus and pop-ups are left to themselves.
    void stacking()
    {
        QWidget shelf(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        shelf.setObjectName(QStringLiteral("perchbox-shelf-11111111-1111-4111-8111-111111111111"));
        shelf.resize(220, 200);
        shelf.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shelf));
        WindowRules::noteOwnerUsed(&shelf);
        QCOMPARE(WindowRules::currentOwner() != nullptr, true);

        // A shelf itself is not ruled.
        QVERIFY(!WindowRules::isRuledWindow(&shelf));

        // A parentless alert opened while that shelf was in use.
        QWidget tool(nullptr, Qt::Tool);
        tool.setWindowTitle(QStringLiteral("Batch Rename"));
        tool.show();
        QVERIFY(tool.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(tool.windowHandle()->flags() & Qt::WindowStaysOnTopHint);
        QVERIFY(tool.windowHandle()->transientParent() == shelf.windowHandle()
                || tool.windowHandle()->transientParent() == QApplication::activeWindow()->windowHandle());

        // A dialog with a parent keeps the parent Qt gave it.
        QDialog child(&tool);
        child.show();
        QCOMPARE(child.windowHandle()->transientParent(), tool.windowHandle());
        QVERIFY(child.windowFlags() & Qt::WindowStaysOnTopHint);

        QMenu menu;
        menu.addAction(QStringLiteral("x"));
        QVERIFY(!WindowRules::isRuledWindow(&menu));
        QFrame popup(nullptr, Qt::Popup);
        QVERIFY(!WindowRules::isRuledWindow(&popup));
    }

    // A dialog that Qt centres on the shelf it came from floats above the shelves and would
    // hide that shelf: it comes up beside it instead. One the user moved back stays there.
    void dialogsComeUpBesideShelves()
    {
        const QRect area = available();
        QWidget shelf(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        shelf.setObjectName(QStringLiteral("perchbox-shelf-22222222-2222-4222-8222-222222222222"));
        shelf.resize(220, 180);
        shelf.move(area.center() - QPoint(110, 90));
        shelf.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shelf));

        QDialog alert(&shelf);
        alert.resize(360, 160);
        alert.show();
        QVERIFY(QTest::qWaitForWindowExposed(&alert));
        QVERIFY2(!alert.frameGeometry().intersects(shelf.frameGeometry()),
                 qPrintable(QStringLiteral("alert at %1,%2").arg(alert.x()).arg(alert.y())));
        QVERIFY(area.contains(alert.frameGeometry()));
        // Beside the shelf, not across the screen.
        QVERIFY2((alert.frameGeometry().center() - shelf.geometry().center()).manhattanLength() < 500,
                 qPrintable(QStringLiteral("alert at %1,%2, shelf at %3,%4 in %5x%6").arg(alert.x()).arg(alert.y())
                            .arg(shelf.x()).arg(shelf.y()).arg(area.width()).arg(area.height())));

        alert.hide();
        alert.move(shelf.pos());
        alert.show();
        QCOMPARE(alert.pos(), shelf.pos());
        alert.hide();

        // A window placed by the window manager is left to it.
        QWidget tool(nullptr, Qt::Tool);
        tool.resize(200, 100);
        tool.show();
        QVERIFY(!tool.testAttribute(Qt::WA_Moved));
    }

    // Scrolling a page never changes the box under the pointer; a focused box still takes it.
    void wheelOnlyWithFocus()
    {
        QScrollArea area;
        auto *page = new QWidget;
        auto *layout = new QVBoxLayout(page);
        auto *other = new QLineEdit(page); // where the keyboard is
        layout->addWidget(other);
        auto *combo = new QComboBox(page);
        combo->addItems({"WAV", "AIFF", "M4A", "MP3"});
        auto *spin = new QSpinBox(page);
        spin->setRange(0, 100);
        spin->setValue(50);
        layout->addWidget(combo);
        layout->addWidget(spin);
        layout->addSpacing(3000);
        area.setWidget(page);
        area.setWidgetResizable(true);
        area.resize(300, 200);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());

        QCOMPARE(combo->focusPolicy(), Qt::StrongFocus);
        QCOMPARE(spin->focusPolicy(), Qt::StrongFocus);
        QVERIFY(WindowRules::wheelPassesThrough(combo));
        QVERIFY(WindowRules::wheelPassesThrough(spin->findChild<QLineEdit *>()));

        const int before = area.verticalScrollBar()->value();
        wheel(combo, -120);
        wheel(spin, -120);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(spin->value(), 50);
        QVERIFY(area.verticalScrollBar()->value() > before); // the page scrolled instead

        spin->setFocus();
        QTRY_VERIFY(spin->hasFocus());
        QVERIFY(!WindowRules::wheelPassesThrough(spin));
        wheel(spin, 120);
        QCOMPARE(spin->value(), 51);
    }

    // Tool windows that are not dialogs: Escape closes, Enter presses the default button.
    void keysInToolWindows()
    {
        auto *tool = new QWidget(nullptr, Qt::Tool);
        tool->setAttribute(Qt::WA_DeleteOnClose);
        auto *layout = new QVBoxLayout(tool);
        auto *field = new QLineEdit(tool);
        auto *apply = new QPushButton(QStringLiteral("Apply"), tool);
        apply->setDefault(true);
        layout->addWidget(field);
        layout->addWidget(apply);
        tool->show();
        QVERIFY(QTest::qWaitForWindowActive(tool));
        field->setFocus();
        QSignalSpy clicked(apply, &QPushButton::clicked);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(clicked.size(), 1);
        QPointer<QWidget> alive(tool);
        QTest::keyClick(field, Qt::Key_Escape);
        QTRY_VERIFY(!alive);
    }

    // Controls get a name from the label beside them, their tool tip or their placeholder.
    void namesForControls()
    {
        QWidget window;
        auto *form = new QFormLayout(&window);
        auto *format = new QComboBox(&window);
        form->addRow(QStringLiteral("Format:"), format);
        auto *row = new QHBoxLayout;
        auto *label = new QLabel(QStringLiteral("Bit Depth"), &window);
        auto *depth = new QComboBox(&window);
        row->addWidget(label);
        row->addWidget(depth);
        form->addRow(row);
        auto *icon = new QToolButton(&window);
        icon->setToolTip(QStringLiteral("Hide shelf"));
        form->addRow(icon);
        auto *search = new QLineEdit(&window);
        search->setPlaceholderText(QStringLiteral("Preset name…"));
        form->addRow(search);
        auto *plain = new QPushButton(QStringLiteral("&Save"), &window);
        form->addRow(plain);

        WindowRules::nameControls(&window);
        QVERIFY(WindowRules::accessibleNameOf(format).startsWith(QStringLiteral("Format"))); // its form label
        QCOMPARE(WindowRules::accessibleNameOf(depth), QStringLiteral("Bit Depth"));
        QCOMPARE(WindowRules::accessibleNameOf(icon), QStringLiteral("Hide shelf"));
        QCOMPARE(WindowRules::accessibleNameOf(search), QStringLiteral("Preset name…"));
        QCOMPARE(WindowRules::accessibleNameOf(plain), QStringLiteral("Save"));
        QVERIFY(WindowRules::unnamedControls(&window).isEmpty());
    }
};

QTEST_MAIN(TestWindowRules)
#include "tst_window_rules.moc"
