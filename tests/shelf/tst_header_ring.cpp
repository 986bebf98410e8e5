// The progress ring in a shelf's header, as the header wires it: idle, a click opens the
// customizer; while a tool runs, a click cancels it; its tooltip says which, with the queue.
#include "model/ShelfManager.h"
#include "shelf/ShelfHeader.h"
#include "tools/progress/ProgressRingButton.h"
#include "tools/progress/ShelfProgressState.h"

#include <QSignalSpy>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QtTest>

class TestHeaderRing : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        for (const char *var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            qputenv(var, QFile::encodeName(m_home.filePath(QString::fromLatin1(var))));
    }

    void clicksAndTooltips()
    {
        ShelfManager manager;
        const QUuid id = manager.createShelf();
        QWidget window;
        ShelfHeader header(manager, id, &window);
        window.resize(300, 60);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ShelfProgressRingButton *ring = header.ring();
        QSignalSpy customizer(&header, &ShelfHeader::customizerRequested);

        ShelfProgressState state;
        int cancels = 0;
        ring->setState(&state);
        ring->setQueueCount(2);
        QCOMPARE(ring->toolTip(), QStringLiteral("Customize shelf · 2 queued"));
        QTest::mouseClick(ring, Qt::LeftButton);
        QCOMPARE(customizer.size(), 1);

        state.setCancelHandler([&] { ++cancels; });
        state.setLabel(QStringLiteral("Zipping…"));
        state.setRunning(0.3);
        QCOMPARE(ring->toolTip(), QStringLiteral("Zipping… — click to cancel · 2 queued"));
        // The second click of a double-click on the tool's button, whose window closed over
        // the ring as the run started, does not cancel that run.
        QTest::mouseClick(ring, Qt::LeftButton);
        QCOMPARE(cancels, 0);
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
        QTest::mouseClick(ring, Qt::LeftButton);
        QCOMPARE(cancels, 1);
        QCOMPARE(customizer.size(), 1);
        state.markError();
        QCOMPARE(ring->toolTip(), QStringLiteral("Export failed · 2 queued"));
    }
};

QTEST_MAIN(TestHeaderRing)
#include "tst_header_ring.moc"
