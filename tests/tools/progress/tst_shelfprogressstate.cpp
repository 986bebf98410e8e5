#include "tools/progress/RemainingTimeEstimate.h"
#include "tools/progress/ShelfProgressState.h"

#include <QtTest>

using Phase = ShelfProgressState::Phase;
using Ctx = ShelfProgressState::TooltipContext;

class TestShelfProgressState : public QObject
{
    Q_OBJECT
private slots:
    void remainingTime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("5.0") << 5.0 << QString();
        QTest::newRow("negative") << -3.0 << QString();
        QTest::newRow("nan") << std::nan("") << QString();
        QTest::newRow("5.9") << 5.9 << QStringLiteral("~5s remaining");
        QTest::newRow("42") << 42.0 << QStringLiteral("~42s remaining");
        QTest::newRow("59.9") << 59.9 << QStringLiteral("~59s remaining");
        QTest::newRow("60") << 60.0 << QStringLiteral("~1:00 remaining");
        QTest::newRow("187") << 187.0 << QStringLiteral("~3:07 remaining");
        QTest::newRow("3725") << 3725.0 << QStringLiteral("~62:05 remaining");
    }
    void remainingTime()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(ShelfProgressState::remainingTimeText(seconds), text);
    }

    void tooltips_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("count");
        QTest::addColumn<bool>("favorite");
        QTest::addColumn<bool>("customizerOpen");
        QTest::addColumn<int>("queue");
        QTest::addColumn<QString>("tooltip");
        const int run = int(Phase::running), idle = int(Phase::idle), done = int(Phase::done),
                  err = int(Phase::error);
        const QString none;
        QTest::newRow("fav idle") << idle << none << none << true << false << 0 << "View favorite activity";
        QTest::newRow("fav done") << done << "Zipping…" << none << true << false << 1
                                  << "View favorite activity · 1 queued";
        QTest::newRow("fav label") << run << "Zipping…" << "3" << true << false << 0
                                   << "Zipping… · click to view favorite activity";
        QTest::newRow("fav bare") << run << none << none << true << false << 0 << "Click to view favorite activity";
        QTest::newRow("fav count") << run << none << "2/5" << true << false << 3
                                   << "Converting 2/5 · click to view favorite activity · 3 queued";
        QTest::newRow("label") << run << "Zipping 3 files" << none << false << false << 0
                               << "Zipping 3 files — click to cancel";
        QTest::newRow("bare") << run << none << none << false << false << 0 << "Click to cancel";
        QTest::newRow("count") << run << none << "4 files" << false << true << 0
                               << "Converting 4 files — click to cancel";
        QTest::newRow("idle") << idle << none << none << false << false << 0 << "Customize shelf";
        QTest::newRow("idle queued") << idle << none << none << false << false << 2
                                     << "Customize shelf · 2 queued";
        QTest::newRow("idle open") << idle << none << none << false << true << 0 << "Close customizer";
        QTest::newRow("done") << done << "x" << none << false << false << 0 << "Saving…";
        QTest::newRow("error") << err << none << none << false << false << 1 << "Export failed · 1 queued";
    }
    void tooltips()
    {
        QFETCH(int, phase);
        QFETCH(QString, label);
        QFETCH(QString, count);
        QFETCH(bool, favorite);
        QFETCH(bool, customizerOpen);
        QFETCH(int, queue);
        QFETCH(QString, tooltip);
        Ctx ctx;
        ctx.customizerOpen = customizerOpen;
        ctx.queueCount = queue;
        ctx.isFavoriteActivity = favorite;
        QCOMPARE(ShelfProgressState::tooltip(Phase(phase), label, count, ctx), tooltip);
    }

    void finishedStateReturnsToIdle()
    {
        ShelfProgressState state;
        bool cancelled = false;
        state.setCancelHandler([&] { cancelled = true; });
        state.setLabel(QStringLiteral("Zipping…"));
        state.setRunning(0.4);
        QCOMPARE(*state.percent(), 0.4);
        state.cancel();
        QVERIFY(cancelled);

        state.markError();
        QCOMPARE(state.phase(), Phase::error);
        QVERIFY(!state.canCancel());
        QCOMPARE(state.tooltip(Ctx{}), QStringLiteral("Export failed"));
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), Phase::idle, 3000);

        // A new run that starts before the delayed return is reset by it, and restored by
        // its own next update.
        state.markDone();
        state.setRunning(std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), Phase::idle, 3000);
        state.setRunning(0.1);
        QCOMPARE(state.phase(), Phase::running);

        state.setFileCountLabel(QStringLiteral("2/3"));
        state.setEtaSeconds(61);
        QCOMPARE(state.etaString(), QStringLiteral("~1:01 remaining"));
        state.reset();
        QCOMPARE(state.phase(), Phase::idle);
        QVERIFY(state.label().isEmpty() && state.fileCountLabel().isEmpty() && state.etaString().isEmpty());
    }

    void delayedReturnIsSafeAfterDestruction()
    {
        auto *state = new ShelfProgressState;
        state->markDone();
        delete state;
        QTest::qWait(ShelfProgressState::finishDelayMs + 200); // must not crash
    }

    // A ProRes-like run: the first seconds go five times faster than the rest. No figure
    // shows while the rate swings; once it settles the figure is close to the truth.
    void remainingTimeWaitsUntilSteady()
    {
        RemainingTimeEstimate estimate;
        // 60 s of work: 20 % in the first second, then 80 % over the following 48 s.
        const auto fractionAt = [](double t) { return t <= 1.0 ? 0.2 * t : 0.2 + 0.8 * (t - 1.0) / 48.0; };
        std::optional<double> first;
        double firstAt = 0;
        for (double t = 0.25; t < 49.0; t += 0.25) {
            const std::optional<double> left = estimate.update(t, fractionAt(t));
            if (t < RemainingTimeEstimate::minimumElapsedSeconds)
                QVERIFY2(!left, qPrintable(QString::number(t)));
            if (left && !first) {
                first = left;
                firstAt = t;
            }
            if (left) {
                // Never the wildly low figure of the fast start: within 30 % of the truth.
                const double truth = 49.0 - t;
                QVERIFY2(std::abs(*left - truth) <= 0.3 * truth + 1.0,
                         qPrintable(QStringLiteral("t=%1 shown %2 truth %3").arg(t).arg(*left).arg(truth)));
            }
        }
        QVERIFY(first);
        QVERIFY(firstAt >= RemainingTimeEstimate::minimumElapsedSeconds);

        // A steady run shows its figure soon after the minimum and keeps it.
        estimate.reset();
        int shown = 0;
        for (double t = 0.5; t <= 20.0; t += 0.5)
            if (const auto left = estimate.update(t, t / 40.0)) {
                ++shown;
                QVERIFY(std::abs(*left - (40.0 - t)) < 0.5);
            }
        QVERIFY(shown >= 30);
        QVERIFY(!estimate.update(0, 0.5));
        QVERIFY(!estimate.update(1, 0));
    }
};

QTEST_GUILESS_MAIN(TestShelfProgressState)
#include "tst_shelfprogressstate.moc"
