// The Flatten window: its button follows the operation, a run reports its result line, a
// move takes the moved files off the shelf and "Save as default" stores the options.
#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "tools/flatten/FlattenWindow.h"

#include <QTemporaryDir>
#include <QtTest>

class TestFlattenWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        // Keep the shared preset store away from the user's settings.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath("data")));
    }

    void flattenWindowRunsAndReports()
    {
        SettingsStore store(m_home.filePath("flatten-settings.json"));
        AppSettings settings(store);
        settings.setFlattenOperation(FlattenOperation::move);
        QTemporaryDir dir;
        QFile f(dir.filePath("one.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("1");
        f.close();
        ShelfFile file;
        file.id = QUuid::createUuid();
        file.url = FilePath::urlFromPath(dir.filePath("one.txt"));
        QSet<QUuid> removed{QUuid()};
        FlattenWindow window({file}, "Shelf", std::nullopt, settings,
                             [&](const QSet<QUuid> &ids) { removed = ids; });
        QCOMPARE(window.flattenButtonTitle(), QString("Flatten & Move"));
        window.setOptions({FlattenDuplicateMode::keepForReview, FlattenOperation::copy});
        QCOMPARE(window.flattenButtonTitle(), QString("Flatten & Copy"));
        window.startFlatten(); // no destination: nothing happens
        QCOMPARE(window.state(), FlattenWindow::State::idle);

        window.setDestination(FilePath::urlFromPath(dir.filePath("out")));
        window.setSaveAsDefault(true);
        window.startFlatten();
        QCOMPARE(window.state(), FlattenWindow::State::busy);
        QTRY_COMPARE(window.state(), FlattenWindow::State::finished);
        QCOMPARE(window.resultLine(), QString("1 copied"));
        QVERIFY(removed.isEmpty()); // copy: nothing leaves the shelf
        QCOMPARE(settings.flattenOperation(), FlattenOperation::copy);
        QCOMPARE(settings.flattenDefaultDestination(), FilePath::urlFromPath(dir.filePath("out")));

        window.setOptions({FlattenDuplicateMode::keepForReview, FlattenOperation::move});
        window.startFlatten();
        QTRY_COMPARE(window.state(), FlattenWindow::State::finished);
        QCOMPARE(window.resultLine(), QString("1 moved · 1 duplicate(s) in _Duplicates"));
        QCOMPARE(removed, QSet<QUuid>{file.id});
    }
};

QTEST_MAIN(TestFlattenWindow)
#include "tst_flattenwindow.moc"
