// The tools reached from a shelf window the way a user reaches them: the file menu's Zip
// entry opens the Zip window through the installed hooks, the run reports into the ring of
// the shelf's header (its idle face again 1.5 s after), and the archive lands where the
// save panel said.
#include "app/PerchboxApp.h"
#include "app/ToolIntegration.h"
#include "model/ShelfManager.h"
#include "settings/AppSettings.h"
#include "shelf/ShelfFileModel.h"
#include "shelf/ShelfWindow.h"
#include "tools/archive/ZipWindow.h"
#include "tools/progress/ProgressRingButton.h"
#include "tools/progress/ShelfProgressState.h"

#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

class ToolIntegrationTest : public QObject
{
    Q_OBJECT

    template <typename T>
    static T *topLevel()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *t = qobject_cast<T *>(w); t && t->isVisible())
                return t;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
        qputenv("HOME", QFile::encodeName(m_dir.path()));
    }

    void zipFromTheShelfMenuReportsIntoTheRing()
    {
        ShelfManager manager;
        PerchboxApp::Options options;
        options.windowFactory = &ShelfWindow::createPresented;
        options.integrateWithFileManagers = false;
        options.tutorialOnFirstStart = false;
        PerchboxApp app(manager, AppSettings::instance(), options);
        ToolIntegration tools(app);

        // Two files large enough for the run to take a moment.
        QDir().mkpath(m_dir.filePath("files"));
        QList<QUrl> urls;
        for (const char *name : {"one.bin", "two.bin"}) {
            QFile f(m_dir.filePath(QStringLiteral("files/") + QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QByteArray block(1 << 20, Qt::Uninitialized);
            for (int i = 0; i < 24; ++i) {
                QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
                f.write(block);
            }
            urls << QUrl::fromLocalFile(f.fileName());
        }
        const Shelf shelf = Shelf::make(QStringLiteral("Work"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        manager.appendShelf(shelf);
        manager.addFiles(urls, shelf.id);
        QTRY_COMPARE(manager.shelf(shelf.id)->files.size(), 2);

        auto *window = new ShelfWindow(manager, shelf.id);
        window->present();
        QTRY_COMPARE(window->fileModel()->rowCount(), 2);
        auto *ring = window->findChild<ShelfProgressRingButton *>();
        QVERIFY(ring);
        QVERIFY(ring->isVisibleTo(window)); // the header's button
        QCOMPARE(ring->toolTip(), QStringLiteral("Customize shelf"));

        // The file menu's Zip submenu: its second entry zips every file of the shelf.
        std::unique_ptr<QMenu> menu(window->buildFileMenu(manager.shelf(shelf.id)->files.first().id, nullptr));
        QAction *zip = nullptr;
        for (QAction *a : menu->actions())
            if (a->menu() && a->text().startsWith(QStringLiteral("Zip")) && a->menu()->actions().size() == 2)
                zip = a->menu()->actions().at(1);
        QVERIFY(zip);
        zip->trigger();
        ZipWindow *zipWindow = nullptr;
        QTRY_VERIFY((zipWindow = topLevel<ZipWindow>()));
        ArchiveToolOptions o = zipWindow->options();
        o.format = ArchiveFormat::zip;
        o.zipIndividually = false;
        o.removeOriginals = false;
        o.usePassword = false;
        zipWindow->setOptions(o);
        QVERIFY(zipWindow->createButton()->isEnabled());
        QTest::mouseClick(zipWindow->createButton(), Qt::LeftButton);

        // The archive is built first, with the ring under the header; then the save panel asks.
        ShelfProgressState *state = tools.progressFor(shelf.id);
        bool sawRing = false;
        QFileDialog *save = nullptr;
        QElapsedTimer clock;
        clock.start();
        while (!(save = topLevel<QFileDialog>()) && clock.elapsed() < 60000) {
            sawRing = sawRing || (state->phase() == ShelfProgressState::Phase::running
                                  && ring->toolTip().startsWith(QStringLiteral("Zipping…")));
            QTest::qWait(5);
        }
        QVERIFY(save);
        QVERIFY(sawRing);
        const QString target = m_dir.filePath("out/archive.zip");
        QDir().mkpath(m_dir.filePath("out"));
        // The choice as the dialog reports it. (Typing into the dialog races with its own
        // directory listing, which may put the proposed name back on a slow run.)
        emit save->fileSelected(target);
        save->close();
        QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(target),
                                  qPrintable(QDir(m_dir.filePath("out")).entryList(QDir::Files).join(", ")), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(state->phase(), ShelfProgressState::Phase::idle, 5000);
        QCOMPARE(ring->toolTip(), QStringLiteral("Customize shelf"));
        QVERIFY(!state->isRunning());

        QProcess unzip;
        unzip.start(QStringLiteral("/usr/bin/unzip"), {QStringLiteral("-Z1"), target});
        QVERIFY(unzip.waitForFinished(30000));
        QStringList listed = QString::fromUtf8(unzip.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        listed.sort();
        QCOMPARE(listed, (QStringList{QStringLiteral("one.bin"), QStringLiteral("two.bin")}));
        // The originals stay.
        for (const QUrl &u : urls)
            QVERIFY(QFile::exists(u.toLocalFile()));
        ShelfWindow::setTerminating(true);
        window->close();
        delete window;
        ShelfWindow::setTerminating(false);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(ToolIntegrationTest)
#include "tst_tool_integration.moc"
