#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "tools/rename/BatchRenameWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QHeaderView>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QTableView>
#include "shelf/WindowRules.h"

#include <QtTest>

class TestBatchRenameWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;

    QList<RenameFile> files() const
    {
        QList<RenameFile> out;
        for (const char *n : {"a.txt", "b.txt", "c.txt"})
            out.append({QUuid::createUuid(), FilePath::urlFromPath(QStringLiteral("/tmp/x/") + n), {}});
        return out;
    }

private slots:
    void initTestCase()
    {
        // Keep the shared preset store away from the user's settings.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath("data")));
    }

    void previewFollowsOptions()
    {
        BatchRenameWindow window(files(), std::nullopt, {});
        RenamePreviewModel *model = window.previewModel();
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(model->newName(0), QString("a.txt"));
        const QVariant dim = model->data(model->index(0, RenamePreviewModel::NewName), Qt::ForegroundRole);
        const int rebuilds = model->rebuildCount();

        auto *prefix = window.findChild<QLineEdit *>("prefixField");
        QVERIFY(prefix);
        QTest::keyClicks(prefix, "new_");
        QCOMPARE(model->newName(2), QString("new_c.txt"));
        QVERIFY(model->data(model->index(0, RenamePreviewModel::NewName), Qt::ForegroundRole) != dim);
        QCOMPARE(model->rebuildCount(), rebuilds + 4); // one per typed character

        // The same options again: no redraw.
        window.setOptions(window.options());
        QCOMPARE(model->rebuildCount(), rebuilds + 4);

        RenamePreset counter = window.options();
        counter.useCounter = true;
        counter.counterPad = 3;
        window.setOptions(counter);
        QCOMPARE(model->newName(1), QString("new_b_002.txt"));
        QCOMPARE(window.sequenceText(), QString("Sequence: 001, 002, 003, 004…"));
        QCOMPARE(window.exampleText(), QString("Example: filename_001.ext"));

        // Steppers keep values within their limits.
        counter.counterPad = 50;
        counter.trimHead = 500;
        window.setOptions(counter);
        QCOMPARE(window.options().counterPad, 8);
        QCOMPARE(window.options().trimHead, 99);
    }

    // The options are not squeezed into a small scroll box while the preview takes the rest:
    // they get their whole height where the screen allows it (and never less than the
    // preview's share), the preview keeps several rows, and the window fits the screen.
    void optionsAndPreviewShareTheWindow()
    {
        BatchRenameWindow window(files(), std::nullopt, {});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *split = window.findChild<QSplitter *>();
        QVERIFY(split);
        auto *scroll = qobject_cast<QScrollArea *>(split->widget(0));
        QVERIFY(scroll);
        const QRect screen = window.screen()->availableGeometry();
        QVERIFY(window.frameGeometry().height() <= screen.height());
        const int wanted = scroll->widget()->sizeHint().height();
        const int shown = split->sizes().at(0);
        QVERIFY2(shown >= std::min(wanted, split->height() / 2),
                 qPrintable(QStringLiteral("options %1 of %2 in %3").arg(shown).arg(wanted).arg(split->height())));
        QVERIFY(split->sizes().at(1) >= 4 * window.findChild<QTableView *>()->verticalHeader()->defaultSectionSize());

        // Every control has a name for assistive technology (both faces).
        QStringList missing;
        for (const bool advanced : {false, true}) {
            RenamePreset o = window.options();
            o.isAdvanced = advanced;
            o.useCounter = true;
            window.setOptions(o);
            WindowRules::nameControls(&window);
            for (QWidget *w : WindowRules::unnamedControls(&window))
                missing << QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
    }

    void regexFeedbackAndApply()
    {
        RenamePlan applied;
        int calls = 0;
        auto *window = new BatchRenameWindow(files(), std::nullopt, [&](const RenamePlan &plan) {
            applied = plan;
            ++calls;
        });
        RenamePreset p;
        p.isAdvanced = true;
        p.useRegex = true;
        p.findText = "(a";
        window->setOptions(p);
        QVERIFY(window->regexFeedback().contains("Invalid regular expression"));
        window->apply();
        QCOMPARE(calls, 0); // refused
        p.findText = "^(.)";
        p.replaceWith = "$1$1";
        window->setOptions(p);
        QCOMPARE(window->regexFeedback(), QString("Use $1, $2 to reference capture groups in the Replace field."));

        // Reset keeps the face.
        window->reset();
        QVERIFY(window->options().isAdvanced);
        QVERIFY(window->options().findText.isEmpty());

        // The quick reference: every row, in order; tapping appends to Find.
        const QList<QPushButton *> rows = window->quickReference()->findChildren<QPushButton *>("regexRow");
        QCOMPARE(rows.size(), 28);
        QCOMPARE(rows.first()->property("pattern").toString(), QString("."));
        QCOMPARE(rows.last()->property("pattern").toString(), QString("^(.+) - (.+)$"));
        rows[1]->click(); // \d
        rows[8]->click(); // +
        QCOMPARE(window->options().findText, QString("\\d+"));

        window->setOptions(p);
        QPointer<BatchRenameWindow> guard(window);
        window->apply();
        QCOMPARE(calls, 1);
        QCOMPARE(applied.size(), 3);
        QVERIFY(applied.values().contains("aa.txt"));
        QTRY_VERIFY(!guard); // closed and deleted
    }

    void initialPresetAppliedOnShow()
    {
        RenamePreset preset;
        preset.suffix = "_v2";
        BatchRenameWindow *window = BatchRenameWindow::open(files(), preset, {});
        QCOMPARE(window->previewModel()->newName(0), QString("a_v2.txt"));
        QPointer<BatchRenameWindow> first(window);
        BatchRenameWindow *second = BatchRenameWindow::open(files(), std::nullopt, {});
        QTRY_VERIFY(!first); // one at a time
        QCOMPARE(BatchRenameWindow::current(), second);
        second->close();
    }
};

QTEST_MAIN(TestBatchRenameWindow)
#include "tst_batchrenamewindow.moc"
