#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "tools/rename/BatchRenameWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QLabel>
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

    // Typing sets the options and the preview follows, keystroke by keystroke; options set on
    // the model show in the controls; unchanged rows are drawn dimmed.
    void controlsAndModelStayInStep()
    {
        BatchRenameWindow window(files(), std::nullopt, {});
        BatchRenameModel *model = window.model();
        auto *table = window.findChild<QTableView *>();
        QVERIFY(table);
        QCOMPARE(table->model()->rowCount(), 3);
        const QVariant dim = table->model()->index(0, RenamePreviewModel::NewName).data(Qt::ForegroundRole);
        QVERIFY(dim.isValid());
        const int rebuilds = model->preview()->rebuildCount();

        auto *prefix = window.findChild<QLineEdit *>("prefixField");
        QVERIFY(prefix);
        QTest::keyClicks(prefix, "new_");
        QCOMPARE(model->options().prefix, QString("new_"));
        QCOMPARE(model->preview()->rebuildCount(), rebuilds + 4); // one per typed character
        QCOMPARE(table->model()->index(2, RenamePreviewModel::NewName).data().toString(), QString("new_c.txt"));
        QVERIFY(table->model()->index(0, RenamePreviewModel::NewName).data(Qt::ForegroundRole) != dim);
        // The field is not rewritten under the cursor while the user types in it.
        prefix->setCursorPosition(1);
        QTest::keyClicks(prefix, "x");
        QCOMPARE(model->options().prefix, QString("nxew_"));
        QCOMPARE(prefix->cursorPosition(), 2);

        RenamePreset o = model->options();
        o.findText = "b";
        o.useCounter = true;
        o.counterPad = 3;
        o.isAdvanced = true;
        o.useRegex = true;
        model->setOptions(o);
        QCOMPARE(window.findChild<QLineEdit *>("findField")->text(), QString("b"));
        bool sequenceShown = false;
        bool hintShown = false;
        for (QLabel *label : window.findChildren<QLabel *>()) {
            sequenceShown = sequenceShown || (label->text() == model->sequenceText() && label->isVisibleTo(&window));
            hintShown = hintShown || (label->text() == model->regexFeedback() && label->isVisibleTo(&window));
        }
        QVERIFY(sequenceShown && hintShown);
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
            RenamePreset o = window.model()->options();
            o.isAdvanced = advanced;
            o.useCounter = true;
            window.model()->setOptions(o);
            WindowRules::nameControls(&window);
            for (QWidget *w : WindowRules::unnamedControls(&window))
                missing << QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
    }

    // Apply hands the model's plan over and closes; an invalid pattern keeps the window open.
    // The quick reference lists every row, in order, and a click appends to Find.
    void applyAndQuickReference()
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
        window->model()->setOptions(p);
        QPointer<BatchRenameWindow> guard(window);
        window->apply();
        QCOMPARE(calls, 0); // refused
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(guard); // still open

        const QList<QPushButton *> rows = window->quickReference()->findChildren<QPushButton *>("regexRow");
        QCOMPARE(rows.size(), 28);
        QCOMPARE(rows.first()->property("pattern").toString(), QString("."));
        QCOMPARE(rows.last()->property("pattern").toString(), QString("^(.+) - (.+)$"));
        window->model()->clearFind();
        rows[1]->click(); // \d
        rows[8]->click(); // +
        QCOMPARE(window->model()->options().findText, QString("\\d+"));
        QCOMPARE(window->findChild<QLineEdit *>("findField")->text(), QString("\\d+"));

        p.findText = "^(.)";
        p.replaceWith = "$1$1";
        window->model()->setOptions(p);
        for (QPushButton *b : window->findChildren<QPushButton *>())
            if (b->text() == "Apply")
                b->click();
        QCOMPARE(calls, 1);
        QCOMPARE(applied, *window->model()->planToApply());
        QVERIFY(applied.values().contains("aa.txt"));
        QTRY_VERIFY(!guard); // closed and deleted
    }

    void initialPresetAppliedOnShow()
    {
        RenamePreset preset;
        preset.suffix = "_v2";
        BatchRenameWindow *window = BatchRenameWindow::open(files(), preset, {});
        QCOMPARE(window->model()->preview()->newName(0), QString("a_v2.txt"));
        QPointer<BatchRenameWindow> first(window);
        BatchRenameWindow *second = BatchRenameWindow::open(files(), std::nullopt, {});
        QTRY_VERIFY(!first); // one at a time
        QCOMPARE(BatchRenameWindow::current(), second);
        second->close();
    }
};

QTEST_MAIN(TestBatchRenameWindow)
#include "tst_batchrenamewindow.moc"
