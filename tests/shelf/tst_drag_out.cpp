#include "input/drag/DragOutLogic.h"

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

    // The keys held as a drag starts: Ctrl copies, Shift moves, Alt flips the setting (where
    // the window manager lets it through); Ctrl wins over Shift.
    void modifiers()
    {
        const auto mode = [](DragMode setting, Qt::KeyboardModifiers mods) { return requestedMode(setting, mods); };
        for (DragMode setting : {DragMode::copy, DragMode::move}) {
            QCOMPARE(mode(setting, Qt::ControlModifier), DragMode::copy);
            QCOMPARE(mode(setting, Qt::ShiftModifier), DragMode::move);
            QCOMPARE(mode(setting, Qt::ControlModifier | Qt::ShiftModifier), DragMode::copy);
            QCOMPARE(mode(setting, Qt::ControlModifier | Qt::AltModifier), DragMode::copy);
            QCOMPARE(mode(setting, Qt::MetaModifier), setting);
        }
        QCOMPARE(mode(DragMode::copy, Qt::NoModifier), DragMode::copy);
        QCOMPARE(mode(DragMode::move, Qt::NoModifier), DragMode::move);
        QCOMPARE(mode(DragMode::copy, Qt::AltModifier), DragMode::move);
        QCOMPARE(mode(DragMode::move, Qt::AltModifier), DragMode::copy);
    }

    // What the row and the stack-handle drags hand to QDrag::exec: a copy allows copy alone
    // (a file manager offered both moves within one file system); a move allows both and
    // proposes move; the stack handle copies.
    void offers()
    {
        QCOMPARE(dropActions(rowOffer(DragMode::copy)), Qt::DropActions(Qt::CopyAction));
        QCOMPARE(proposedAction(rowOffer(DragMode::copy)), Qt::CopyAction);
        QCOMPARE(dropActions(rowOffer(DragMode::move)), Qt::CopyAction | Qt::MoveAction);
        QCOMPARE(proposedAction(rowOffer(DragMode::move)), Qt::MoveAction);
        QCOMPARE(dropActions(stackOffer()), Qt::DropActions(Qt::CopyAction));
        QCOMPARE(proposedAction(stackOffer()), Qt::CopyAction);
        QCOMPARE(proposedAction(Offer{}), Qt::IgnoreAction);
    }

    // Whatever the receiver did, nothing is deleted here; only the outcome it reports decides
    // whether the entries stay.
    void completion()
    {
        const QList<CapturedDraggedFile> three{entry("/tmp/a"), entry("/tmp/b"), entry("/tmp/c")};

        // The receiver moved: the entries leave.
        Completion moved = completeRowDrag(three, DragMode::move, Operation::move, false);
        QVERIFY(moved.moveCompleted && !moved.receiverCopied);
        QCOMPARE(moved.moved.size(), 3);

        // Asked to move, it copied (another file system, a program that only reads, one that
        // accepted and wrote nothing yet): everything stays, and the user hears of it.
        Completion copied = completeRowDrag(three, DragMode::move, Operation::copy, false);
        QVERIFY(!copied.moveCompleted && copied.moved.isEmpty());
        QVERIFY(copied.receiverCopied);

        // A copy drag that was copied: nothing to say. A drop on a widget of ours: neither.
        QVERIFY(!completeRowDrag(three, DragMode::copy, Operation::copy, false).receiverCopied);
        QVERIFY(!completeRowDrag(three, DragMode::move, Operation::copy, true).receiverCopied);
        // A rejected drop keeps them.
        Completion none = completeRowDrag(three, DragMode::move, Operation::none, false);
        QVERIFY(!none.moveCompleted && !none.receiverCopied);

        // A file one of our shelves received stays on the source shelf; the set is cleared
        // at the end of every drag, whatever its outcome.
        noteDroppedOnShelf({three[1].file.id});
        Completion part = completeRowDrag(three, DragMode::move, Operation::move, false);
        QCOMPARE(part.moved.size(), 2);
        QCOMPARE(part.moved[0].file.id, three[0].file.id);
        QCOMPARE(part.moved[1].file.id, three[2].file.id);
        QVERIFY(shelfDroppedFileIDs().isEmpty());
        for (Operation op : {Operation::none, Operation::copy}) {
            noteDroppedOnShelf({three[0].file.id});
            completeRowDrag(three, DragMode::copy, op, true);
            QVERIFY(shelfDroppedFileIDs().isEmpty());
        }
    }

    // The stack handle: its entries leave only after a drop outside the program in move mode;
    // a drop inside (its own shelf) changes nothing, and its ids never linger.
    void stackCompletion()
    {
        QList<ShelfFile> two{entry("/tmp/a").file, entry("/tmp/b").file};
        QVERIFY(completeStackDrag(two, DragMode::move, Operation::copy, false));
        QVERIFY(!completeStackDrag(two, DragMode::copy, Operation::copy, false));
        QVERIFY(!completeStackDrag(two, DragMode::move, Operation::none, false));
        QVERIFY(!completeStackDrag(two, DragMode::move, Operation::copy, true));
        QVERIFY(!completeStackDrag({}, DragMode::move, Operation::copy, false));
        noteDroppedOnShelf({two[0].id, two[1].id});
        completeStackDrag(two, DragMode::move, Operation::copy, true);
        QVERIFY(shelfDroppedFileIDs().isEmpty());
    }

    void receiverCopiedMessage()
    {
        QCOMPARE(receiverCopiedBody({QUrl::fromLocalFile("/home/u/Report.pdf")}),
                 QStringLiteral("The program you dropped \u201CReport.pdf\u201D on copied it instead of moving it. "
                                "It stays on the shelf and in its folder."));
        QVERIFY(receiverCopiedBody({QUrl::fromLocalFile("/a"), QUrl::fromLocalFile("/b")}).contains("2 files"));
    }
};

QTEST_GUILESS_MAIN(TestDragOut)
#include "tst_drag_out.moc"
