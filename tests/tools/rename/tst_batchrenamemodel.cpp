// The Batch Rename window's rules without its widgets: the preview rows and when they are
// rebuilt, the steppers' limits, Reset, the initial preset, the regular-expression feedback
// and what Apply hands over.
#include "model/Shelf.h"
#include "platform/FilePath.h"
#include "tools/rename/BatchRenameModel.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

QList<RenameFile> files(const QStringList &names = {"a.txt", "b.txt", "c.txt"})
{
    QList<RenameFile> out;
    for (const QString &n : names)
        out.append({QUuid::createUuid(), FilePath::urlFromPath(QStringLiteral("/tmp/x/") + n), {}});
    return out;
}

} // namespace

class TestBatchRenameModel : public QObject
{
    Q_OBJECT
private slots:
    // Rows in list order, old → new, marked where nothing changes; rebuilt only when the
    // signature of (files, options) changes.
    void previewRowsAndRebuilds()
    {
        BatchRenameModel m(files({"a.txt", "IMG_1.JPG", "c.txt"}), std::nullopt);
        RenamePreviewModel *rows = m.preview();
        QCOMPARE(rows->rowCount(), 3);
        QCOMPARE(rows->columnCount(), int(RenamePreviewModel::ColumnCount));
        QCOMPARE(rows->headerData(RenamePreviewModel::NewName, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Renamed"));
        for (int r = 0; r < 3; ++r)
            QVERIFY(rows->index(r, 0).data(RenamePreviewModel::UnchangedRole).toBool());
        const int rebuilds = rows->rebuildCount();

        m.setOption(&RenamePreset::findText, QStringLiteral("IMG_"));
        QCOMPARE(rows->rebuildCount(), rebuilds + 1);
        QCOMPARE(rows->index(1, RenamePreviewModel::OldName).data().toString(), QStringLiteral("IMG_1.JPG"));
        QCOMPARE(rows->index(1, RenamePreviewModel::NewName).data().toString(), QStringLiteral("1.JPG"));
        QCOMPARE(rows->index(1, RenamePreviewModel::Arrow).data().toString(), QStringLiteral("→"));
        QVERIFY(!rows->index(1, 0).data(RenamePreviewModel::UnchangedRole).toBool());
        QVERIFY(rows->index(0, 0).data(RenamePreviewModel::UnchangedRole).toBool());

        // The same options again, or the name of a preset: no rebuild.
        m.setOptions(m.options());
        RenamePreset named = m.options();
        named.name = QStringLiteral("whatever");
        m.setOptions(named);
        QCOMPARE(rows->rebuildCount(), rebuilds + 1);

        RenamePreset counter = m.options();
        counter.findText.clear();
        counter.useCounter = true;
        counter.counterStart = 1;
        counter.counterStep = 2;
        counter.counterPad = 3;
        m.setOptions(counter);
        QCOMPARE(rows->newName(2), QStringLiteral("c_005.txt"));
        QCOMPARE(m.sequenceText(), QString::fromUtf8("Sequence: 001, 003, 005, 007…"));
        QCOMPARE(m.exampleText(), QStringLiteral("Example: filename_001.ext"));
        counter.counterPosition = CounterPosition::prefix;
        counter.counterSep = QStringLiteral("-");
        m.setOptions(counter);
        QCOMPARE(m.exampleText(), QStringLiteral("Example: 001-filename.ext"));
        QCOMPARE(rows->newName(0), QStringLiteral("001-a.txt"));
    }

    // Options from a preset or the code are kept within the steppers' ranges.
    void optionsStayWithinTheSteppersLimits()
    {
        BatchRenameModel m(files(), std::nullopt);
        RenamePreset p;
        p.trimHead = 500;
        p.trimTail = -3;
        p.counterStart = -1;
        p.counterStep = 0;
        p.counterPad = 50;
        m.setOptions(p);
        QCOMPARE(m.options().trimHead, 99);
        QCOMPARE(m.options().trimTail, 0);
        QCOMPARE(m.options().counterStart, qint64(0));
        QCOMPARE(m.options().counterStep, qint64(1));
        QCOMPARE(m.options().counterPad, 8);
        p.counterStart = 10'000'000'000;
        p.counterStep = 5000;
        m.setOptions(p);
        QCOMPARE(m.options().counterStart, qint64(99999));
        QCOMPARE(m.options().counterStep, qint64(1000));
    }

    // The hint while regular expressions are on; the warning only where the pattern is used
    // (Advanced face, something to find); Apply refuses only then.
    void regexFeedbackAndApplyRefusal()
    {
        BatchRenameModel m(files(), std::nullopt);
        QVERIFY(m.regexFeedback().isEmpty());
        RenamePreset p;
        p.useRegex = true;
        p.findText = QStringLiteral("(a");
        m.setOptions(p); // Simple face: the pattern is found literally
        QVERIFY(!m.regexInvalid());
        QCOMPARE(m.regexFeedback(), QStringLiteral("Use $1, $2 to reference capture groups in the Replace field."));
        QVERIFY(m.planToApply());

        p.isAdvanced = true;
        m.setOptions(p);
        QVERIFY(m.regexInvalid());
        QCOMPARE(m.regexFeedback(), QString::fromUtf8("⚠ Invalid regular expression"));
        QVERIFY(!m.planToApply());

        p.findText = QStringLiteral("^(.)");
        p.replaceWith = QStringLiteral("$1$1");
        m.setOptions(p);
        QVERIFY(!m.regexInvalid());
        const std::optional<RenamePlan> plan = m.planToApply();
        QVERIFY(plan);
        QCOMPARE(plan->size(), 3);
        QCOMPARE(plan->value(uuidString(m.files().at(1).id)), QStringLiteral("bb.txt"));

        p.useRegex = false;
        m.setOptions(p);
        QVERIFY(m.regexFeedback().isEmpty());
    }

    // Reset keeps the face; the quick reference appends to Find and clears it.
    void resetAndFindEditing()
    {
        BatchRenameModel m(files(), std::nullopt);
        RenamePreset p;
        p.isAdvanced = true;
        p.prefix = QStringLiteral("x");
        p.keepExt = false;
        p.caseMode = CaseMode::upper;
        m.setOptions(p);
        QSignalSpy changed(&m, &BatchRenameModel::changed);
        m.reset();
        QCOMPARE(changed.count(), 1);
        RenamePreset expected;
        expected.isAdvanced = true;
        QCOMPARE(m.options(), expected);
        QCOMPARE(m.preview()->newName(0), QStringLiteral("a.txt"));

        m.appendToFind(QStringLiteral("\\d"));
        m.appendToFind(QStringLiteral("+"));
        QCOMPARE(m.options().findText, QStringLiteral("\\d+"));
        m.clearFind();
        QVERIFY(m.options().findText.isEmpty());
    }

    // The preset given at opening goes over the initial options once, when the window first
    // appears; a preset applied later goes over the current options; saving names it.
    void presetsAndTheInitialPreset()
    {
        RenamePreset initial;
        initial.suffix = QStringLiteral("_v2");
        initial.isAdvanced = true;
        BatchRenameModel m(files({"a.txt"}), initial);
        QCOMPARE(m.preview()->newName(0), QStringLiteral("a.txt")); // not before it appears
        m.applyInitialPreset();
        QCOMPARE(m.preview()->newName(0), QStringLiteral("a_v2.txt"));
        QVERIFY(m.options().isAdvanced);
        m.setOption(&RenamePreset::suffix, QString());
        m.applyInitialPreset(); // shown again: nothing more
        QCOMPARE(m.preview()->newName(0), QStringLiteral("a.txt"));

        RenamePreset other;
        other.prefix = QStringLiteral("p_");
        other.keepExt = false;
        m.applyPreset(other);
        QCOMPARE(m.preview()->newName(0), QStringLiteral("p_a.txt"));
        const RenamePreset saved = m.presetNamed(QStringLiteral("Mine"));
        QCOMPARE(saved.name, QStringLiteral("Mine"));
        QVERIFY(!saved.id.isNull());
        QCOMPARE(saved.prefix, QStringLiteral("p_"));
        QVERIFY(!saved.keepExt);
    }

    void subtitleCountsFiles()
    {
        QCOMPARE(BatchRenameModel(files({"a"}), std::nullopt).subtitle(),
                 QString::fromUtf8("1 file — renames actual files on disk."));
        QCOMPARE(BatchRenameModel(files(), std::nullopt).subtitle(),
                 QString::fromUtf8("3 files — renames actual files on disk."));
    }
};

QTEST_GUILESS_MAIN(TestBatchRenameModel)
#include "tst_batchrenamemodel.moc"
