#include "conversion/ConversionPanel.h"

#include "conversion/ConversionExporter.h"
#include "conversion/ConversionOptionsModel.h"
#include "conversion/ConvertedShelf.h"
#include "conversion/ModelDownloadRow.h"
#include "conversion/model/BackgroundModelDownload.h"
#include "model/ShelfManager.h"
#include "platform/DesktopNotifications.h"
#include "platform/FilePath.h"
#include "shelf/WindowRules.h"
#include "tools/presets/PresetStore.h"
#include "tools/presets/PresetsSection.h"
#include "tools/progress/ShelfProgressState.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr int kPanelWidth = 480;
constexpr int kPanelMaxHeight = 700;

QLabel *note(const QString &text, QWidget *parent, const char *style = "color: palette(mid);")
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setStyleSheet(QString::fromLatin1(style));
    return label;
}

QLabel *warning(const QString &text, QWidget *parent)
{
    return note(text, parent, "color: #c0392b;");
}

// A labelled row: caption on the left, control on the right.
QWidget *row(const QString &caption, QWidget *control, QWidget *parent)
{
    auto *w = new QWidget(parent);
    auto *h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(caption, w);
    label->setMinimumWidth(110);
    h->addWidget(label);
    h->addWidget(control, 1);
    return w;
}

// A labelled row added to `rows`.
QWidget *addRow(QVBoxLayout *rows, const QString &caption, QWidget *control, QWidget *parent)
{
    QWidget *w = row(caption, control, parent);
    rows->addWidget(w);
    return w;
}

// A control with its explanation under it.
QWidget *withNote(QWidget *control, QLabel *explanation, QWidget *parent)
{
    auto *w = new QWidget(parent);
    auto *v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(1);
    v->addWidget(control);
    if (explanation)
        v->addWidget(explanation);
    return w;
}

// Binds controls to one field of the model's options: a change of the control sets the
// field, and the view's refresh puts the field back into the control (while `syncing`, so
// that the control's own signal is not taken for the user's).
struct Binder {
    ConversionOptionsModel *model;
    const bool *syncing;
    QList<std::function<void()>> *syncers;

    template <typename E>
    QComboBox *combo(QWidget *parent, const QList<E> &cases, E ConversionJobOptions::*field) const
    {
        auto *combo = new QComboBox(parent);
        for (E value : cases)
            combo->addItem(displayLabel(value), rawValue(value));
        QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [*this, combo, field](int) {
            if (auto v = enumFromRaw<E>(combo->currentData().toString()); v && !*syncing)
                model->setOption(field, *v);
        });
        syncers->append([m = model, combo, field] {
            const int i = combo->findData(rawValue(m->options().*field));
            if (i >= 0)
                combo->setCurrentIndex(i);
        });
        return combo;
    }

    QComboBox *bitRate(QWidget *parent, int ConversionJobOptions::*field) const
    {
        auto *combo = new QComboBox(parent);
        for (int kbps : offeredBitRates())
            combo->addItem(bitRateLabel(kbps), kbps);
        QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [*this, combo, field](int) {
            if (!*syncing)
                model->setOption(field, combo->currentData().toInt());
        });
        syncers->append([m = model, combo, field] {
            const int kbps = m->options().*field;
            int i = combo->findData(kbps);
            if (i < 0) {
                combo->addItem(bitRateLabel(kbps), kbps);
                i = combo->count() - 1;
            }
            combo->setCurrentIndex(i);
        });
        return combo;
    }

    QCheckBox *check(const QString &text, QWidget *parent, bool ConversionJobOptions::*field) const
    {
        auto *box = new QCheckBox(text, parent);
        QObject::connect(box, &QCheckBox::toggled, box, [*this, field](bool on) {
            if (!*syncing)
                model->setOption(field, on);
        });
        syncers->append([m = model, box, field] { box->setChecked(m->options().*field); });
        return box;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------
// The options view

ConversionOptionsView::ConversionOptionsView(ConversionOptionsModel *model, QWidget *parent)
    : QWidget(parent), m_model(model)
{
    build();
    connect(m_model, &ConversionOptionsModel::changed, this, &ConversionOptionsView::refresh);
    refresh();
}

QWidget *ConversionOptionsView::section(const QString &title, QVBoxLayout **rows)
{
    auto *box = new QWidget(this);
    auto *v = new QVBoxLayout(box);
    v->setContentsMargins(0, 6, 0, 6);
    v->setSpacing(6);
    auto *heading = new QLabel(title, box);
    heading->setStyleSheet(QStringLiteral("font-weight: 600; color: palette(mid); letter-spacing: 1px;"));
    v->addWidget(heading);
    *rows = v;
    return box;
}

void ConversionOptionsView::build()
{
    ConversionOptionsModel *model = m_model;
    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(16, 14, 16, 14);
    main->setSpacing(8);

    // Header
    auto *title = new QLabel(QStringLiteral("Convert Files"), this);
    title->setStyleSheet(QStringLiteral("font-size: 15pt; font-weight: 600;"));
    main->addWidget(title);
    main->addWidget(note(model->countsText(), this));

    // FILES (collapsible)
    m_filesToggle = new QPushButton(this);
    m_filesToggle->setFlat(true);
    m_filesToggle->setCheckable(true);
    m_filesToggle->setStyleSheet(QStringLiteral("text-align: left; font-weight: 600;"));
    main->addWidget(m_filesToggle);
    m_fileList = new QListWidget(this);
    m_fileList->setMaximumHeight(140);
    for (const ResolvedMediaFile &f : model->files()) {
        auto *item = new QListWidgetItem(ConversionOptionsModel::fileSummary(f), m_fileList);
        item->setToolTip(FilePath::displayPath(f.url));
    }
    main->addWidget(m_fileList);
    connect(m_filesToggle, &QPushButton::toggled, model, &ConversionOptionsModel::setShowFileList);

    // Presets (the section has its own heading)
    auto *presets = new PresetsSection(this);
    presets->attach<ConversionPreset>(
        PresetStore::shared(), [model](const ConversionPreset &preset) { model->applyPreset(preset); },
        [model](const QString &name) { return model->presetNamed(name); });
    connect(&PresetStore::shared(), &PresetStore::conversionPresetsChanged, this,
            &ConversionOptionsView::layoutChanged); // a row more or less
    main->addWidget(presets);

    // Simple / Advanced
    auto *modeRow = new QHBoxLayout;
    auto *simple = new QPushButton(QStringLiteral("Simple"), this);
    auto *advanced = new QPushButton(QStringLiteral("Advanced"), this);
    for (QPushButton *b : {simple, advanced}) {
        b->setCheckable(true);
        b->setAutoExclusive(true);
        modeRow->addWidget(b);
    }
    (model->showAdvanced() ? advanced : simple)->setChecked(true);
    connect(advanced, &QPushButton::toggled, model, &ConversionOptionsModel::setShowAdvanced);
    modeRow->addStretch();
    main->addLayout(modeRow);

    if (model->hasAudioSection())
        buildAudioSection(main);
    if (model->hasVideoSection())
        buildVideoSection(main);
    if (model->hasImageSection())
        buildImageSection(main);
    buildOutputSection(main);

    // Footer
    main->addStretch(1);
    m_convertHint = note(QString(), this);
    m_convertHint->setAlignment(Qt::AlignRight);
    main->addWidget(m_convertHint);
    auto *footer = new QHBoxLayout;
    footer->addStretch(1);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setShortcut(QKeySequence(Qt::Key_Escape));
    m_convertButton = new QPushButton(model->convertButtonText(), this);
    m_convertButton->setDefault(true);
    footer->addWidget(cancel);
    footer->addWidget(m_convertButton);
    main->addLayout(footer);
    connect(cancel, &QPushButton::clicked, this, &ConversionOptionsView::cancelRequested);
    connect(m_convertButton, &QPushButton::clicked, this, [this] {
        if (m_model->canConvert())
            emit convertRequested();
    });
}

// AUDIO (also for videos: "Extract audio only" uses these settings)
void ConversionOptionsView::buildAudioSection(QVBoxLayout *main)
{
    const Binder bind{m_model, &m_syncing, &m_syncers};
    QVBoxLayout *rows = nullptr;
    m_audioSection = section(QStringLiteral("AUDIO"), &rows);
    main->addWidget(m_audioSection);
    addRow(rows, QStringLiteral("Format"),
           bind.combo(this, allCases<AudioOutputFormat>(), &ConversionJobOptions::audioFormat), this);
    m_sampleRateRow = addRow(rows, QStringLiteral("Sample Rate"),
                             bind.combo(this, allCases<AudioSampleRate>(), &ConversionJobOptions::sampleRate), this);
    m_bitDepthRow = addRow(rows, QStringLiteral("Bit Depth"),
                           bind.combo(this, allCases<AudioBitDepth>(), &ConversionJobOptions::bitDepth), this);
    m_channelsRow = addRow(rows, QStringLiteral("Channels"),
                           bind.combo(this, allCases<AudioChannels>(), &ConversionJobOptions::channels), this);
    m_mp3Row = addRow(rows, QStringLiteral("MP3 Bitrate"), bind.bitRate(this, &ConversionJobOptions::mp3Bitrate), this);
    m_mp3Note = note(m_model->mp3EncoderNote(), this);
    rows->addWidget(m_mp3Note);
    m_aacRow = addRow(rows, QStringLiteral("AAC Bitrate"), bind.bitRate(this, &ConversionJobOptions::aacBitrate), this);
    m_noSettingsNote = note(QString(), this);
    rows->addWidget(m_noSettingsNote);
}

void ConversionOptionsView::buildVideoSection(QVBoxLayout *main)
{
    const Binder bind{m_model, &m_syncing, &m_syncers};
    QVBoxLayout *rows = nullptr;
    main->addWidget(section(QStringLiteral("VIDEO"), &rows));
    addRow(rows, QStringLiteral("Format"),
           bind.combo(this, allCases<VideoOutputFormat>(), &ConversionJobOptions::videoFormat), this);
    m_profileRow = addRow(rows, QStringLiteral("Profile"),
                          bind.combo(this, allCases<ProResProfile>(), &ConversionJobOptions::proResProfile), this);
    m_qualityRow = addRow(rows, QStringLiteral("Quality"),
                          bind.combo(this, allCases<VideoQualityCRF>(), &ConversionJobOptions::videoCRF), this);
    m_frameRateRow = addRow(rows, QStringLiteral("Frame Rate"),
                            bind.combo(this, allCases<VideoFrameRate>(), &ConversionJobOptions::frameRate), this);
    m_preserveDurationRow
        = withNote(bind.check(QStringLiteral("Preserve duration"), this, &ConversionJobOptions::preserveDuration),
                   note(QStringLiteral("Keeps the clip length the same when changing frame rate."), this), this);
    rows->addWidget(m_preserveDurationRow);
    m_resolutionHelp = note(QStringLiteral("Aspect ratio is preserved and scaled to fit the selected size."), this);
    m_resolutionRow = withNote(row(QStringLiteral("Resolution"),
                                   bind.combo(this, allCases<VideoResolution>(), &ConversionJobOptions::resolution), this),
                               m_resolutionHelp, this);
    rows->addWidget(m_resolutionRow);
    m_videoChannelsRow = addRow(rows, QStringLiteral("Channels"),
                                bind.combo(this, allCases<AudioChannels>(), &ConversionJobOptions::videoChannels), this);
    m_burnRow = withNote(bind.check(QStringLiteral("Burn in subtitles if found"), this, &ConversionJobOptions::burnSubtitles),
                         note(QStringLiteral("Looks for a matching .srt / .ass / .ssa / .vtt next to each video"), this),
                         this);
    rows->addWidget(m_burnRow);
    rows->addWidget(withNote(bind.check(QStringLiteral("Extract audio only"), this, &ConversionJobOptions::videoAsAudioOnly),
                             note(QStringLiteral("Discards the video track and uses the Audio settings above"), this),
                             this));
}

void ConversionOptionsView::buildImageSection(QVBoxLayout *main)
{
    const Binder bind{m_model, &m_syncing, &m_syncers};
    QVBoxLayout *rows = nullptr;
    main->addWidget(section(QStringLiteral("IMAGES"), &rows));
    addRow(rows, QStringLiteral("Format"),
           bind.combo(this, writableImageFormats(), &ConversionJobOptions::imageFormat), this);
    auto *quality = new QWidget(this);
    auto *qh = new QHBoxLayout(quality);
    qh->setContentsMargins(0, 0, 0, 0);
    auto *slider = new QSlider(Qt::Horizontal, quality);
    slider->setRange(0, 100);
    m_qualityPercent = new QLabel(quality);
    m_qualityPercent->setMinimumWidth(40);
    qh->addWidget(slider, 1);
    qh->addWidget(m_qualityPercent);
    connect(slider, &QSlider::valueChanged, this, [this](int v) {
        if (!m_syncing)
            m_model->setOption(&ConversionJobOptions::imageQuality, v);
    });
    m_syncers.append([this, slider] { slider->setValue(m_model->options().imageQuality); });
    rows->addWidget(row(QStringLiteral("Quality"), quality, this));
    m_aspectHelp = note(QString(), this);
    rows->addWidget(withNote(row(QStringLiteral("Aspect"),
                                 bind.combo(this, allCases<ImageDimensionsPreset>(), &ConversionJobOptions::imageDimensions),
                                 this),
                             m_aspectHelp, this));
    rows->addWidget(bind.check(QStringLiteral("Preserve metadata"), this, &ConversionJobOptions::preserveImageMetadata));
    m_removeBackground = bind.check(QStringLiteral("Remove background"), this, &ConversionJobOptions::removeImageBackground);
    m_backgroundHint = note(m_model->backgroundRemovalHint(), this);
    rows->addWidget(withNote(m_removeBackground, m_backgroundHint, this));
#ifdef PERCHBOX_HAVE_OPENCV
    // Without the network: offer to download it here.
    if (m_model->offersModelDownload()) {
        auto *download = new ModelDownloadRow(BackgroundModelDownload::shared(), this);
        rows->addWidget(download);
        connect(download, &ModelDownloadRow::installed, m_model, &ConversionOptionsModel::recheckBackgroundRemoval);
        m_modelDownload = download;
    }
#endif
    m_transparencyWarning = warning(QString(), this);
    rows->addWidget(m_transparencyWarning);
}

void ConversionOptionsView::buildOutputSection(QVBoxLayout *main)
{
    const Binder bind{m_model, &m_syncing, &m_syncers};
    QVBoxLayout *rows = nullptr;
    main->addWidget(section(QStringLiteral("OUTPUT"), &rows));
    rows->addWidget(bind.combo(this, allCases<ConversionOutputMode>(), &ConversionJobOptions::outputMode));
    m_mirrorNote = note(QStringLiteral("Recreates the original folder structure inside your chosen folder."), this);
    rows->addWidget(m_mirrorNote);
    m_overwriteWarning = warning(QStringLiteral("Original files will be permanently replaced. Output is verified in a "
                                                "temp folder before the original is overwritten."),
                                 this);
    rows->addWidget(m_overwriteWarning);
    m_folderRow = new QWidget(this);
    auto *fh = new QHBoxLayout(m_folderRow);
    fh->setContentsMargins(0, 0, 0, 0);
    auto *choose = new QPushButton(QStringLiteral("Select Output Folder"), m_folderRow);
    m_folderLabel = new QLabel(m_folderRow);
    m_folderLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_folderLabel->setMinimumWidth(80);
    m_clearFolder = new QPushButton(QStringLiteral("Clear"), m_folderRow);
    fh->addWidget(choose);
    fh->addWidget(m_folderLabel, 1);
    fh->addWidget(m_clearFolder);
    connect(choose, &QPushButton::clicked, this, [this] {
        m_model->setOutputFolder(QFileDialog::getExistingDirectory(this, QStringLiteral("Select Output Folder"),
                                                                   m_model->outputFolderDialogStart()));
    });
    connect(m_clearFolder, &QPushButton::clicked, m_model, &ConversionOptionsModel::clearOutputFolder);
    rows->addWidget(m_folderRow);
    m_shelfLine = note(m_model->convertedShelfText(), this);
    rows->addWidget(m_shelfLine);
    auto *saveAsDefault = new QCheckBox(QStringLiteral("Save as default"), this);
    saveAsDefault->setToolTip(QStringLiteral("Remember these settings and pre-fill them next time you open Convert"));
    connect(saveAsDefault, &QCheckBox::toggled, m_model, &ConversionOptionsModel::setSaveAsDefault);
    rows->addWidget(saveAsDefault);
}

void ConversionOptionsView::refresh()
{
    const ConversionOptionsModel &model = *m_model;
    m_syncing = true;
    for (const auto &sync : m_syncers)
        sync();
    m_syncing = false;

    const ConversionOptionsModel::Visibility v = model.visibility();
    m_fileList->setVisible(model.showFileList());
    m_filesToggle->setText(model.filesToggleText());
    if (m_audioSection) {
        m_audioSection->setVisible(v.audioSection);
        m_sampleRateRow->setVisible(v.sampleRate);
        m_channelsRow->setVisible(v.audioChannels);
        m_bitDepthRow->setVisible(v.bitDepth);
        m_mp3Row->setVisible(v.mp3Bitrate);
        m_mp3Note->setVisible(v.mp3Bitrate);
        m_aacRow->setVisible(v.aacBitrate);
        m_noSettingsNote->setText(model.noAudioSettingsText());
        m_noSettingsNote->setVisible(v.noAudioSettings);
    }
    if (m_profileRow) {
        m_profileRow->setVisible(v.proResProfile);
        m_qualityRow->setVisible(v.videoQuality);
        m_frameRateRow->setVisible(v.frameRate);
        m_preserveDurationRow->setVisible(v.preserveDuration);
        m_resolutionRow->setVisible(v.resolution);
        m_resolutionHelp->setVisible(v.resolutionHelp);
        m_videoChannelsRow->setVisible(v.videoChannels);
        m_burnRow->setVisible(v.burnSubtitles);
    }
    if (m_aspectHelp) {
        m_qualityPercent->setText(model.imageQualityText());
        m_aspectHelp->setText(model.aspectHelpText());
        m_aspectHelp->setVisible(v.aspectHelp);
        m_removeBackground->setEnabled(model.backgroundRemovalAvailable());
        m_backgroundHint->setVisible(!model.backgroundRemovalAvailable());
        if (m_modelDownload)
            m_modelDownload->setVisible(!model.backgroundRemovalAvailable());
        m_transparencyWarning->setText(model.transparencyWarningText());
        m_transparencyWarning->setVisible(v.transparencyWarning);
    }
    m_mirrorNote->setVisible(v.mirrorNote);
    m_overwriteWarning->setVisible(v.overwriteWarning);
    m_folderRow->setVisible(v.outputFolderRow);
    m_folderLabel->setText(model.outputFolderText());
    m_clearFolder->setEnabled(model.options().outputFolder.has_value());
    m_shelfLine->setVisible(v.convertedShelfLine);
    m_convertButton->setEnabled(model.canConvert());
    m_convertHint->setText(model.convertBlockedReason());
    m_convertHint->setVisible(!model.canConvert());
    emit layoutChanged();
}

// ---------------------------------------------------------------------------------------
// The panel

ConversionOptionsWindowController::ConversionOptionsWindowController(
    ShelfManager &manager, const QUuid &shelfId, const QList<QUrl> &files, ShelfProgressState *progress,
    std::optional<ConversionPreset> initialPreset, std::function<void(const QList<QUrl> &)> onComplete)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint), m_manager(manager), m_shelfId(shelfId), m_items(files),
      m_progress(progress), m_initialPreset(std::move(initialPreset)), m_onComplete(std::move(onComplete))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Convert"));
    if (const Shelf *shelf = manager.shelf(shelfId))
        m_shelfName = shelf->name;
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_stack = new QStackedWidget(this);
    layout->addWidget(m_stack);

    // Loading view: "Scanning files" with animated dots.
    m_loadingLabel = new QLabel(QStringLiteral("Scanning files"), m_stack);
    m_loadingLabel->setAlignment(Qt::AlignCenter);
    m_loadingLabel->setMinimumHeight(120);
    m_stack->addWidget(m_loadingLabel);
    m_dotsTimer = new QTimer(this);
    connect(m_dotsTimer, &QTimer::timeout, this, [this, dots = 0]() mutable {
        dots = (dots + 1) % 4;
        m_loadingLabel->setText(QStringLiteral("Scanning files") + QString(dots, QLatin1Char('.')));
    });
    m_dotsTimer->start(400);
    setFixedWidth(kPanelWidth);
    resize(kPanelWidth, 140);

    auto *watcher = new QFutureWatcher<QList<ResolvedMediaFile>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        m_dotsTimer->stop();
        showOptions(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(&ConversionOptionsModel::scan, files));
}

void ConversionOptionsWindowController::showOptions(const QList<ResolvedMediaFile> &files)
{
    m_files = files;
    emit scanningFinished(int(files.size()));
    if (const auto alert = ConversionOptionsModel::scanAlert(files)) {
        auto *box = new QMessageBox(QMessageBox::Warning, alert->title, alert->title, QMessageBox::Ok);
        box->setInformativeText(alert->text);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        box->open();
        close();
        return;
    }
    m_model = new ConversionOptionsModel(files, m_shelfName, m_initialPreset, this);
    m_view = new ConversionOptionsView(m_model, this);
    m_scroll = new QScrollArea(m_stack);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidget(m_view);
    m_stack->addWidget(m_scroll);
    m_stack->setCurrentWidget(m_scroll);
    connect(m_view, &ConversionOptionsView::cancelRequested, this, &QWidget::close);
    connect(m_view, &ConversionOptionsView::convertRequested, this, &ConversionOptionsWindowController::startConversion);
    connect(m_view, &ConversionOptionsView::layoutChanged, this, [this] {
        QTimer::singleShot(0, this, &ConversionOptionsWindowController::fitToContent);
    });
    fitToContent();
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    // Centred, but not over the shelf it converts from (it floats above the shelves).
    WindowRules::keepClearOfShelves(this);
}

void ConversionOptionsWindowController::fitToContent()
{
    if (!m_view)
        return;
    m_view->adjustSize();
    const int wanted = m_view->heightForWidth(kPanelWidth) > 0 ? m_view->heightForWidth(kPanelWidth)
                                                               : m_view->sizeHint().height();
    setFixedHeight(qMin(wanted, kPanelMaxHeight));
}

void ConversionOptionsWindowController::startConversion()
{
    std::optional<ConversionExporter::Job> job = m_model->prepareJob();
    if (!job)
        return;
    job->progress = m_progress;
    job->postNotification = false; // announced below, with what stayed on the shelf

    QPointer<ShelfManager> manager(&m_manager);
    ConversionExporter::start(
        *job, ConversionExporter::ReportCompletion([manager, shelfId = m_shelfId, shelfName = m_shelfName,
                                                    items = m_items, media = m_files,
                                                    onComplete = m_onComplete](const ConversionReport &report) {
            announceConversion(settleConversionRun(manager.data(), shelfId, shelfName, items, media, report));
            if (onComplete)
                onComplete(report.outputs);
        }));
    close();
}

void announceConversion(const ConversionAnnouncement &a)
{
    if (a.notificationBody)
        DesktopNotifications::notifyCompletion(QStringLiteral("Conversion Complete"), *a.notificationBody);
    if (!a.alertTitle)
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, *a.alertTitle, *a.alertTitle, QMessageBox::Ok);
    box->setInformativeText(a.alertText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void openConvertPanel(ShelfManager &manager, const QUuid &shelfId, const QList<QUrl> &files,
                      ShelfProgressState *progress, std::optional<ConversionPreset> initialPreset,
                      std::function<void(const QList<QUrl> &)> onComplete)
{
    auto *panel = new ConversionOptionsWindowController(manager, shelfId, files, progress, std::move(initialPreset),
                                                        std::move(onComplete));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        panel->move(area.center() - QPoint(panel->width() / 2, panel->height() / 2));
    }
    panel->show();
    panel->raise();
    panel->activateWindow();
}
