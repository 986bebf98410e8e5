// The Convert panel as a window: scanning, the no-media alert, its widgets following the
// options model both ways, the model download offer, and whole runs from the panel. The
// rules themselves are tested without widgets in tst_conversion_options_model.
#include "conversion/ConversionExporter.h"
#include "MediaTestSupport.h"

#include "conversion/ConversionOptionsModel.h"
#include "conversion/ConversionPanel.h"
#include "conversion/ConvertedShelf.h"
#include "platform/NotificationCenter.h"
#include "model/ShelfManager.h"
#include "settings/AppSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace MediaTestSupport;

class ConversionPanelTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void widgetsFollowTheModel();
    void controlsSetTheModel();
    void noMediaAlert();
    void convertMakesConvertedShelfAndClearsSource();
    void filesThatFailStayAndAreNamed();
    void missingModelIsOfferedForDownload();

private:
    ConversionOptionsWindowController *openAndWait(const QList<QUrl> &files);
    static QLabel *visibleLabel(QWidget *root, const QString &startsWith);
    QString path(const QString &rel) const { return m_dir.filePath(rel); }
    QTemporaryDir m_dir;
    std::unique_ptr<ShelfManager> m_manager;
    QUuid m_shelf;
};

void ConversionPanelTest::initTestCase()
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
    m_manager = std::make_unique<ShelfManager>();
    Shelf shelf = Shelf::make("Music", ShelfColorData::systemBlue(), "tray");
    m_shelf = shelf.id;
    m_manager->appendShelf(shelf);
}

ConversionOptionsWindowController *ConversionPanelTest::openAndWait(const QList<QUrl> &files)
{
    auto *panel = new ConversionOptionsWindowController(*m_manager, m_shelf, files, nullptr, std::nullopt, {});
    QSignalSpy spy(panel, &ConversionOptionsWindowController::scanningFinished);
    panel->show();
    if (!spy.wait(60000))
        return nullptr;
    return panel;
}

QLabel *ConversionPanelTest::visibleLabel(QWidget *root, const QString &startsWith)
{
    for (QLabel *l : root->findChildren<QLabel *>())
        if (l->text().startsWith(startsWith) && l->isVisibleTo(root))
            return l;
    return nullptr;
}

// What the model says shows, enables and reads as it says.
void ConversionPanelTest::widgetsFollowTheModel()
{
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=32x32", "-frames:v", "1", path("in/a.png")}));
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=d=0.5", path("in/b.wav")}));
    AppSettings::instance().setConvDefaultOutputMode(ConversionOutputMode::flatFolder);
    AppSettings::instance().setConvDefaultOutputFolder(QUrl());
    AppSettings::instance().setCreateConvertedShelf(true);
    auto *panel = openAndWait({QUrl::fromLocalFile(path("in/a.png")), QUrl::fromLocalFile(path("in/b.wav"))});
    QVERIFY(panel);
    ConversionOptionsView *view = panel->optionsView();
    ConversionOptionsModel *model = panel->optionsModel();
    QVERIFY(view && model);
    QCOMPARE(panel->width(), 480);
    QVERIFY(panel->height() <= 700);

    QPushButton *convert = nullptr;
    for (QPushButton *b : view->findChildren<QPushButton *>())
        if (b->text() == "Convert 2 Files")
            convert = b;
    QVERIFY(convert);
    QVERIFY(!convert->isEnabled());
    QVERIFY(visibleLabel(view, "Choose an output folder to continue"));
    QVERIFY(visibleLabel(view, "No folder chosen"));
    QVERIFY(visibleLabel(view, QString::fromUtf8("Converted files will appear on a new shelf: \"Music \u2014 Converted\"")));
    QVERIFY(!visibleLabel(view, "Original files will be permanently replaced."));

    ConversionJobOptions o = model->options();
    o.outputMode = ConversionOutputMode::overwrite;
    o.removeImageBackground = true;
    o.imageFormat = ImageOutputFormat::jpeg;
    o.imageDimensions = ImageDimensionsPreset::square;
    o.audioFormat = AudioOutputFormat::mp3;
    model->setOptions(o);
    QVERIFY(convert->isEnabled());
    QVERIFY(visibleLabel(view, "Original files will be permanently replaced."));
    QVERIFY(!visibleLabel(view, "Choose an output folder to continue"));
    QVERIFY(visibleLabel(view, "JPEG does not keep transparency, so removed backgrounds will be flattened to white."));
    QVERIFY(visibleLabel(view, "Center-crops to a true 1:1 square."));
    QVERIFY(visibleLabel(view, model->mp3EncoderNote()));
    QVERIFY(visibleLabel(view, "MP3 Bitrate"));
    o.audioFormat = AudioOutputFormat::wav;
    model->setOptions(o);
    QVERIFY(visibleLabel(view, "No additional settings for WAV."));
    QVERIFY(!visibleLabel(view, "MP3 Bitrate"));
    // The pickers show the options too.
    bool shown = false;
    for (QComboBox *combo : view->findChildren<QComboBox *>())
        shown = shown || (combo->currentText() == displayLabel(ConversionOutputMode::overwrite) && combo->isVisibleTo(view));
    QVERIFY(shown);
    panel->close();
}

// The controls set the options: "Extract audio only" brings the Audio settings for videos
// alone, a picker sets its option, "Save as default" and the face reach the model.
void ConversionPanelTest::controlsSetTheModel()
{
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:d=0.4", "-f", "lavfi", "-i", "sine=d=0.4", "-shortest",
                    "-c:v", "libx264", "-c:a", "aac", path("in/clip.mp4")}));
    auto *panel = openAndWait({QUrl::fromLocalFile(path("in/clip.mp4"))});
    QVERIFY(panel);
    ConversionOptionsView *view = panel->optionsView();
    ConversionOptionsModel *model = panel->optionsModel();
    QVERIFY(visibleLabel(view, "VIDEO"));
    model->setOption(&ConversionJobOptions::videoAsAudioOnly, false);
    QVERIFY(!visibleLabel(view, "AUDIO"));
    auto checkBox = [view](const QString &text) -> QCheckBox * {
        for (QCheckBox *box : view->findChildren<QCheckBox *>())
            if (box->text() == text)
                return box;
        return nullptr;
    };
    QVERIFY(checkBox("Extract audio only"));
    checkBox("Extract audio only")->click();
    QVERIFY(model->options().videoAsAudioOnly);
    QVERIFY(visibleLabel(view, "AUDIO"));
    checkBox("Extract audio only")->click();
    QVERIFY(!visibleLabel(view, "AUDIO"));

    QComboBox *mode = nullptr;
    for (QComboBox *combo : view->findChildren<QComboBox *>())
        if (combo->findData(rawValue(ConversionOutputMode::mirrorTree)) >= 0)
            mode = combo;
    QVERIFY(mode);
    mode->setCurrentIndex(mode->findData(rawValue(ConversionOutputMode::mirrorTree)));
    QCOMPARE(model->options().outputMode, ConversionOutputMode::mirrorTree);
    QVERIFY(visibleLabel(view, "Recreates the original folder structure inside your chosen folder."));

    checkBox("Save as default")->click();
    QVERIFY(model->saveAsDefault());
    for (QPushButton *b : view->findChildren<QPushButton *>())
        if (b->text() == "Advanced")
            b->click();
    QVERIFY(model->showAdvanced());
    QVERIFY(visibleLabel(view, "Frame Rate"));
    panel->close();
}

void ConversionPanelTest::noMediaAlert()
{
    QVERIFY(writeFile(path("text/a.txt"), "x"));
    QVERIFY(writeFile(path("text/sub/b.md"), "x"));
    auto *panel = openAndWait({QUrl::fromLocalFile(path("text"))});
    QVERIFY(panel);
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) != nullptr);
    QCOMPARE(box->text(), QStringLiteral("No Supported Media Files"));
    QCOMPARE(box->informativeText(), QStringLiteral("None of the selected items contain supported audio, video, or image files."));
    box->close();
}

// With "Clear source shelf after conversion" on, only items that produced an output leave the
// source shelf; one that failed (a broken picture, a picture whose background removal has no
// model) or had nothing to convert stays, and the run ends with an alert that names each
// failure and why, never silently.
void ConversionPanelTest::filesThatFailStayAndAreNamed()
{
    qputenv("XDG_DATA_DIRS", QFile::encodeName(path("no-data-dirs")));
    qunsetenv("PERCHBOX_MODEL_DIR");
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=32x32", "-frames:v", "1", path("keep/good.png")}));
    QFile broken(path("keep/broken.png"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(300, '\x42'));
    broken.close();
    QFile text(path("keep/notes.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.close();
    const QList<QUrl> items{QUrl::fromLocalFile(path("keep/good.png")), QUrl::fromLocalFile(path("keep/broken.png")),
                            QUrl::fromLocalFile(path("keep/notes.txt"))};
    Shelf shelf = Shelf::make("Pictures", ShelfColorData::systemBlue(), "tray");
    m_manager->appendShelf(shelf);
    m_manager->addFiles(items, shelf.id);
    QTRY_COMPARE(m_manager->shelf(shelf.id)->files.size(), 3);
    AppSettings &s = AppSettings::instance();
    s.setCreateConvertedShelf(false);
    s.setClearShelfAfterConversion(true);

    auto runPanel = [&](bool removeBackground) -> QMessageBox * {
        bool done = false;
        auto *panel = new ConversionOptionsWindowController(*m_manager, shelf.id, items, nullptr, std::nullopt,
                                                            [&](const QList<QUrl> &) { done = true; });
        QSignalSpy scanned(panel, &ConversionOptionsWindowController::scanningFinished);
        panel->show();
        if (!scanned.wait(60000) || !panel->optionsView())
            return nullptr;
        ConversionJobOptions o = panel->optionsModel()->options();
        o.imageFormat = ImageOutputFormat::png;
        o.imageDimensions = ImageDimensionsPreset::original;
        o.removeImageBackground = removeBackground;
        o.outputMode = ConversionOutputMode::flatFolder;
        o.outputFolder = QUrl::fromLocalFile(path(removeBackground ? "keep-out2" : "keep-out"));
        panel->optionsModel()->setOptions(o);
        emit panel->optionsView()->convertRequested();
        if (!QTest::qWaitFor([&] { return done; }, 60000))
            return nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                return box;
        return nullptr;
    };

    // Without a model, removal asked for fails every picture, and says how to get the model.
    QMessageBox *box = runPanel(true);
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Nothing Was Converted"));
    QVERIFY2(box->informativeText().contains("good.png: Background removal is not possible: The background-removal "
                                             "model is not installed"),
             qPrintable(box->informativeText()));
    box->close();
    QCOMPARE(m_manager->shelf(shelf.id)->files.size(), 3);

    box = runPanel(false);
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Some Files Could Not Be Converted"));
    QVERIFY2(box->informativeText().startsWith("broken.png: "), qPrintable(box->informativeText()));
    QVERIFY(box->informativeText().endsWith("Not converted, so left on the shelf: broken.png, notes.txt"));
    box->close();
    QStringList left;
    for (const ShelfFile &f : m_manager->shelf(shelf.id)->files)
        left << f.url.fileName();
    left.sort();
    QCOMPARE(left, (QStringList{"broken.png", "notes.txt"}));
    QVERIFY(QFile::exists(path("keep-out/good.png")));
    s.setClearShelfAfterConversion(false);
    s.setCreateConvertedShelf(true);
}

// Without the background model the panel offers its download; a failed download says why and
// offers to try again; with the model in place there is no offer.
void ConversionPanelTest::missingModelIsOfferedForDownload()
{
#ifndef PERCHBOX_HAVE_OPENCV
    QSKIP("this build cannot remove backgrounds");
#endif
    QVERIFY(QDir().mkpath(path("models")));
    qputenv("PERCHBOX_MODEL_DIR", QFile::encodeName(path("models")));
    // Nothing listens there: the download fails at once, without the network.
    qputenv("PERCHBOX_MODEL_URL", "http://127.0.0.1:9/package.tgz");
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=32x32", "-frames:v", "1", path("model/a.png")}));
    auto *panel = openAndWait({QUrl::fromLocalFile(path("model/a.png"))});
    QVERIFY(panel);
    auto *row = panel->findChild<QWidget *>(QStringLiteral("modelDownloadRow"));
    QVERIFY(row && row->isVisibleTo(panel));
    QCheckBox *removal = nullptr;
    for (QCheckBox *box : panel->findChildren<QCheckBox *>())
        if (box->text() == QLatin1String("Remove background"))
            removal = box;
    QVERIFY(removal && !removal->isEnabled());
    auto *start = row->findChild<QPushButton *>(QStringLiteral("modelDownloadStart"));
    QVERIFY(start && start->text().startsWith(QLatin1String("Download Model")));
    auto *text = row->findChild<QLabel *>(QStringLiteral("modelDownloadText"));
    QVERIFY(text->text().contains(QLatin1String("AGPL-3.0")));
    start->click();
    QTRY_VERIFY_WITH_TIMEOUT(start->text() == QLatin1String("Try Again"), 30000);
    QVERIFY2(text->text().contains(QLatin1String("Could not reach")), qPrintable(text->text()));
    QVERIFY(!removal->isEnabled());
    delete panel;

    QFile model(path("models/isnet-fp32.onnx"));
    QVERIFY(model.open(QIODevice::WriteOnly));
    model.write("placeholder");
    model.close();
    panel = openAndWait({QUrl::fromLocalFile(path("model/a.png"))});
    QVERIFY(panel);
    QVERIFY(!panel->findChild<QWidget *>(QStringLiteral("modelDownloadRow")));
    delete panel;
    qunsetenv("PERCHBOX_MODEL_DIR");
    qunsetenv("PERCHBOX_MODEL_URL");
}


// The whole run from the panel: the converted files land on a new purple shelf
// "<source> — Converted" (opened through the notification 0.3 s later), and the converted
// items leave the source shelf while the others stay and nothing is deleted on disk.
void ConversionPanelTest::convertMakesConvertedShelfAndClearsSource()
{
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=32x32", "-frames:v", "1", path("run/a.png")}));
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=48x32", "-frames:v", "1", path("run/b.png")}));
    QFile text(path("run/notes.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not media");
    text.close();
    const QList<QUrl> items = {QUrl::fromLocalFile(path("run/a.png")), QUrl::fromLocalFile(path("run/b.png"))};
    m_manager->addFiles(items + QList<QUrl>{QUrl::fromLocalFile(path("run/notes.txt"))}, m_shelf);
    QTRY_COMPARE(m_manager->shelf(m_shelf)->files.size(), 3);

    AppSettings &s = AppSettings::instance();
    s.setCreateConvertedShelf(true);
    s.setClearShelfAfterConversion(true);
    QList<QUuid> opened;
    QObject observer;
    NotificationCenter::instance().observe(Notifications::openSpecificShelf, &observer, [&](const QVariantMap &info) {
        opened.append(QUuid(info.value(Notifications::idKey).toString()));
    });

    QList<QUrl> outputs;
    bool done = false;
    auto *panel = new ConversionOptionsWindowController(*m_manager, m_shelf, items, nullptr, std::nullopt,
                                                        [&](const QList<QUrl> &out) {
                                                            outputs = out;
                                                            done = true;
                                                        });
    QSignalSpy scanned(panel, &ConversionOptionsWindowController::scanningFinished);
    panel->show();
    QVERIFY(scanned.wait(60000));
    ConversionOptionsView *view = panel->optionsView();
    QVERIFY(view);
    ConversionJobOptions o = view->model()->options();
    o.imageFormat = ImageOutputFormat::jpeg;
    o.removeImageBackground = false; // the defaults saved above ask for it, and there is no model here
    o.outputMode = ConversionOutputMode::flatFolder;
    o.outputFolder = QUrl::fromLocalFile(path("run-out"));
    view->model()->setOptions(o);
    QVERIFY(view->model()->canConvert());
    emit view->convertRequested();
    QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
    QCOMPARE(outputs.size(), 2);

    // The converted shelf, after the source.
    const QList<Shelf> shelves = m_manager->shelves();
    const Shelf &made = shelves.last();
    QCOMPARE(made.name, QString::fromUtf8("Music \u2014 Converted"));
    QCOMPARE(made.icon, kConvertedShelfIcon);
    QCOMPARE(made.colorData.r, convertedShelfColor().r);
    QCOMPARE(made.colorData.g, convertedShelfColor().g);
    QCOMPARE(made.colorData.b, convertedShelfColor().b);
    QTRY_COMPARE(m_manager->shelf(made.id)->files.size(), 2);
    QStringList names;
    for (const ShelfFile &f : m_manager->shelf(made.id)->files)
        names << f.url.fileName();
    names.sort();
    QCOMPARE(names, (QStringList{"a.jpg", "b.jpg"}));
    QTRY_COMPARE_WITH_TIMEOUT(opened, QList<QUuid>{made.id}, 2000);

    // The source keeps only what was not converted; the originals are still on disk.
    QTRY_COMPARE(m_manager->shelf(m_shelf)->files.size(), 1);
    QCOMPARE(m_manager->shelf(m_shelf)->files.first().url.fileName(), QStringLiteral("notes.txt"));
    QVERIFY(QFile::exists(path("run/a.png")) && QFile::exists(path("run/b.png")));
    s.setClearShelfAfterConversion(false);
}

QTEST_MAIN(ConversionPanelTest)
#include "tst_conversion_panel.moc"
