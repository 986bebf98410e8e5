#include "input/drag/DragOutLogic.h"

#include "platform/FilePath.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace DragOut;

static CapturedDraggedFile entry(const QString &path)
{
    ShelfFile f;
    f.id = QUuid::createUuid();
    f.url = QUrl::fromLocalFile(path);
    return {f, f.url};
}

class TestDragOut : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { shelfDroppedFileIDs().clear(); }

    void thresholds()
    {
        const QPointF p(10, 10);
        QVERIFY(!beyondThreshold(p, QPointF(14, 10), rowThreshold));   // exactly 4
        QVERIFY(beyondThreshold(p, QPointF(14.1, 10), rowThreshold));  // 4.1
        QVERIFY(!beyondThreshold(p, QPointF(12.4, 12.4), rowThreshold)); // diagonal 3.39
        QVERIFY(!beyondThreshold(p, QPointF(13, 10), stackThreshold));
        QVERIFY(beyondThreshold(p, QPointF(13.1, 10), stackThreshold));
    }

    void fanOffsets()
    {
        QList<int> got;
        for (int i = 0; i < 6; ++i)
            got << fanOffset(i);
        QCOMPARE(got, (QList<int>{0, 2, 4, 6, 6, 6}));
    }

    void offers()
    {
        QVERIFY(!rowOffer(DragMode::move, true).copy && !rowOffer(DragMode::move, true).move);
        QVERIFY(rowOffer(DragMode::move, false).copy && rowOffer(DragMode::move, false).move);
        QVERIFY(rowOffer(DragMode::copy, false).copy && !rowOffer(DragMode::copy, false).move);
        QVERIFY(stackOffer(false).copy && !stackOffer(false).move);
        QVERIFY(!stackOffer(true).copy);
    }

    void altFlip()
    {
        QCOMPARE(effectiveMode(DragMode::copy, false), DragMode::copy);
        QCOMPARE(effectiveMode(DragMode::copy, true), DragMode::move);
        QCOMPARE(effectiveMode(DragMode::move, false), DragMode::move);
        QCOMPARE(effectiveMode(DragMode::move, true), DragMode::copy);
    }

    void completion()
    {
        const QList<CapturedDraggedFile> three{entry("/tmp/a"), entry("/tmp/b"), entry("/tmp/c")};

        // Copy mode: nothing leaves the shelf; with Alt it becomes a move.
        QVERIFY(!completeRowDrag(three, DragMode::copy, Operation::copy, false).moveCompleted);
        Completion alt = completeRowDrag(three, DragMode::copy, Operation::move, true);
        QVERIFY(alt.moveCompleted);
        QCOMPARE(alt.moved.size(), 3);
        QVERIFY(alt.deleteAfterDelay.isEmpty()); // the receiver moved them itself

        // Move mode with Alt keeps them.
        QVERIFY(!completeRowDrag(three, DragMode::move, Operation::move, true).moveCompleted);
        // A rejected drop keeps them.
        QVERIFY(!completeRowDrag(three, DragMode::move, Operation::none, false).moveCompleted);

        // The receiver copied (other volume): entries leave and sources get deleted later.
        Completion cp = completeRowDrag(three, DragMode::move, Operation::copy, false);
        QVERIFY(cp.moveCompleted);
        QCOMPARE(cp.deleteAfterDelay, (QList<QUrl>{three[0].sourceURL, three[1].sourceURL, three[2].sourceURL}));

        // A file one of our shelves received stays on the source shelf; the set is cleared.
        noteDroppedOnShelf({three[1].file.id});
        Completion part = completeRowDrag(three, DragMode::move, Operation::copy, false);
        QCOMPARE(part.moved.size(), 2);
        QCOMPARE(part.moved[0].file.id, three[0].file.id);
        QCOMPARE(part.moved[1].file.id, three[2].file.id);
        QCOMPARE(part.deleteAfterDelay.size(), 2);
        QVERIFY(shelfDroppedFileIDs().isEmpty());

        // Everything landed on one of our shelves: nothing moved, nothing deleted.
        noteDroppedOnShelf({three[0].file.id, three[1].file.id, three[2].file.id});
        Completion none = completeRowDrag(three, DragMode::move, Operation::move, false);
        QVERIFY(!none.moveCompleted);
        QVERIFY(none.deleteAfterDelay.isEmpty());
        QVERIFY(shelfDroppedFileIDs().isEmpty());

        QVERIFY(stackDragRemovesFiles(Operation::copy, DragMode::move, 2));
        QVERIFY(!stackDragRemovesFiles(Operation::copy, DragMode::copy, 2));
        QVERIFY(!stackDragRemovesFiles(Operation::none, DragMode::move, 2));
        QVERIFY(!stackDragRemovesFiles(Operation::move, DragMode::move, 0));
    }

    // Copy-as-move removes files and folders (even with non-UTF-8 names), after the delay.
    void deletesSourcesAfterDelay()
    {
        QTemporaryDir dir;
        const QByteArray base = QFile::encodeName(dir.path());
        const QByteArray odd = base + "/bad\xff name";
        QFile f(QString::fromLocal8Bit(base + "/plain.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        FILE *fp = fopen(odd.constData(), "w");
        QVERIFY(fp);
        fclose(fp);
        QVERIFY(QDir().mkpath(dir.path() + "/folder/sub"));
        QFile inner(dir.path() + "/folder/sub/x");
        QVERIFY(inner.open(QIODevice::WriteOnly));
        inner.close();
        const QByteArray keep = base + "/keep";
        fp = fopen(keep.constData(), "w");
        fclose(fp);

        const QList<QUrl> urls{FilePath::urlFromBytes(base + "/plain.txt"), FilePath::urlFromBytes(odd),
                               FilePath::urlFromBytes(base + "/folder")};
        deleteSourcesLater(urls, 300);
        QTest::qWait(100);
        QVERIFY(FilePath::exists(urls[0])); // not yet
        QTRY_VERIFY_WITH_TIMEOUT(!FilePath::exists(urls[0]) && !FilePath::exists(urls[1])
                                     && !FilePath::exists(urls[2]), 3000);
        QVERIFY(FilePath::exists(FilePath::urlFromBytes(keep)));
    }
};

QTEST_GUILESS_MAIN(TestDragOut)
#include "tst_drag_out.moc"
