#include "conversion/ConversionPanel.h"
#include "conversion/ConversionPresetOptions.h"

#include "conversion/ConversionExporter.h"
#include "conversion/ConvertedShelf.h"
#include "conversion/LamePath.h"
#include "conversion/MediaBackend.h"
#include "conversion/ModelDownloadRow.h"
#include "conversion/model/BackgroundModel.h"
#include "conversion/model/BackgroundModelDownload.h"
#include "model/ShelfManager.h"
#include "platform/DesktopNotifications.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "shelf/WindowRules.h"
#include "tools/presets/PresetStore.h"
#include "tools/presets/PresetsSection.h"
#include "tools/progress/ShelfProgressState.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
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

template <typename E>
QComboBox *enumCombo(QWidget *parent, const QList<E> &cases, E *target, std::function<void()> changed,
                     QList<std::function<void()>> &syncers)
{
    auto *combo = new QComboBox(parent);
    for (E value : cases)
        combo->addItem(displayLabel(value), rawValue(value));
    QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [combo, target, changed](int) {
        if (auto v = enumFromRaw<E>(combo->currentData().toString())) {
            *target = *v;
            changed();
        }
    });
    syncers.append([combo, target] {
        const int i = combo->findData(rawValue(*target));
        if (i >= 0)
            combo->setCurrentIndex(i);
    });
    return combo;
}

QCheckBox *checkBox(const QString &text, const QString &help, QWidget *parent, bool *target,
                    std::function<void()> changed, QList<std::function<void()>> &syncers)
{
    auto *box = new QCheckBox(text, parent);
    if (!help.isEmpty())
        box->setToolTip(help);
    QObject::connect(box, &QCheckBox::toggled, box, [target, changed](bool on) {
        *target = on;
        changed();
    });
    syncers.append([box, target] { box->setChecked(*target); });
    return box;
}

// A checkbox with its explanation under it.
QWidget *checkRow(QCheckBox *box, const QString &help, QWidget *parent)
{
    auto *w = new QWidget(parent);
    auto *v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(1);
    v->addWidget(box);
    if (!help.isEmpty())
        v->addWidget(note(help, w));
    return w;
}

// Which MP3 encoder runs: the lame program beside Perchbox or on the PATH, or none.
QString mp3EncoderNote(const QString &lamePath)
{
    if (lamePath.isEmpty())
        return QStringLiteral("MP3 export needs the lame encoder, which is not installed "
                              "(on Debian and Ubuntu: the \"lame\" package).");
    return QStringLiteral("MP3 export uses the lame encoder (%1).").arg(lamePath);
}

QString countsText(int audio, int video, int image)
{
    QStringList parts;
    if (audio)
        parts << QStringLiteral("%1 audio").arg(audio);
    if (video)
        parts << QStringLiteral("%1 video").arg(video);
    if (image)
        parts << (image == 1 ? QStringLiteral("1 image") : QStringLiteral("%1 images").arg(image));
    return parts.join(QStringLiteral(" · "));
}

QString infoSummary(const ResolvedMediaFile &f)
{
    if (!f.info)
        return QStringLiteral("unreadable");
    const MediaInfo &i = *f.info;
    QStringList parts;
    for (const auto &field : {i.duration, i.audioCodec, i.sampleRate, i.bitDepth, i.channels, i.videoCodec,
                              i.resolution, i.fps, i.imageFormat, i.colorModel, i.alpha, i.metadata})
        if (field)
            parts << *field;
    return parts.join(QStringLiteral(" · "));
}

} // namespace

// ---------------------------------------------------------------------------------------
// Options, presets and defaults

void saveConversionDefaults(const ConversionJobOptions &o)
{
    AppSettings &s = AppSettings::instance();
    s.setConvDefaultAudioFormat(o.audioFormat);
    s.setConvDefaultSampleRate(o.sampleRate);
    s.setConvDefaultChannels(o.channels);
    s.setConvDefaultVideoFormat(o.videoFormat);
    s.setConvDefaultProResProfile(o.proResProfile);
    s.setConvDefaultVideoCRF(o.videoCRF);
    s.setConvDefaultFrameRate(o.frameRate);
    s.setConvDefaultVideoChannels(o.videoChannels);
    s.setConvDefaultBurnSubtitles(o.burnSubtitles);
    s.setConvDefaultImageFormat(o.imageFormat);
    s.setConvDefaultImageQuality(o.imageQuality);
    s.setConvDefaultImageDimensions(o.imageDimensions);
    s.setConvDefaultPreserveImageMetadata(o.preserveImageMetadata);
    s.setConvDefaultRemoveImageBackground(o.removeImageBackground);
    s.setConvDefaultOutputMode(o.outputMode);
    s.setConvDefaultOutputFolder(o.outputFolder.value_or(QUrl()));
}

// ---------------------------------------------------------------------------------------
// The options view

ConversionOptionsView::ConversionOptionsView(const QList<ResolvedMediaFile> &files, const QString &sourceShelfName,
                                             std::optional<ConversionPreset> initialPreset, QWidget *parent)
    : QWidget(parent), m_files(files)
{
    for (const ResolvedMediaFile &f : files) {
        if (f.type == MediaType::audio) ++m_audio;
        else if (f.type == MediaType::video) ++m_video;
        else ++m_image;
    }
    m_options = conversionOptionsFromDefaults();
    if (initialPreset) // appliedInitialPreset: once, here
        applyConversionPreset(*initialPreset, m_options);
    build(sourceShelfName);
    setOptions(m_options);
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

QComboBox *ConversionOptionsView::bitRateCombo(int *target)
{
    auto *combo = new QComboBox(this);
    for (int kbps : offeredBitRates())
        combo->addItem(bitRateLabel(kbps), kbps);
    connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, target](int) {
        *target = combo->currentData().toInt();
        refresh();
    });
    m_syncers.append([combo, target] {
        int i = combo->findData(*target);
        if (i < 0) {
            combo->addItem(bitRateLabel(*target), *target);
            i = combo->count() - 1;
        }
        combo->setCurrentIndex(i);
    });
    return combo;
}

void ConversionOptionsView::build(const QString &sourceShelfName)
{
    auto changed = [this] { refresh(); };
    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(16, 14, 16, 14);
    main->setSpacing(8);

    // Header
    auto *title = new QLabel(QStringLiteral("Convert Files"), this);
    title->setStyleSheet(QStringLiteral("font-size: 15pt; font-weight: 600;"));
    main->addWidget(title);
    main->addWidget(note(countsText(m_audio, m_video, m_image), this));

    // FILES (collapsible)
    m_filesToggle = new QPushButton(QStringLiteral("FILES"), this);
    m_filesToggle->setFlat(true);
    m_filesToggle->setCheckable(true);
    m_filesToggle->setStyleSheet(QStringLiteral("text-align: left; font-weight: 600;"));
    main->addWidget(m_filesToggle);
    m_fileList = new QListWidget(this);
    m_fileList->setMaximumHeight(140);
    for (const ResolvedMediaFile &f : m_files) {
        auto *item = new QListWidgetItem(f.relativePath + QStringLiteral("\n") + infoSummary(f), m_fileList);
        item->setToolTip(FilePath::displayPath(f.url));
    }
    main->addWidget(m_fileList);
    connect(m_filesToggle, &QPushButton::toggled, this, [this](bool on) {
        m_showFileList = on;
        refresh();
    });

    // Presets (the section has its own heading)
    m_presets = new PresetsSection(this);
    PresetStore &store = PresetStore::shared();
    m_presets->setPresets(PresetsSection::entries(store.conversionPresets()));
    connect(&store, &PresetStore::conversionPresetsChanged, m_presets, [this, &store] {
        m_presets->setPresets(PresetsSection::entries(store.conversionPresets()));
        emit layoutChanged();
    });
    connect(m_presets, &PresetsSection::applyRequested, this, [this, &store](const QUuid &id) {
        if (auto p = store.conversionPreset(id)) {
            ConversionJobOptions o = m_options;
            applyConversionPreset(*p, o);
            setOptions(o);
        }
    });
    connect(m_presets, &PresetsSection::removeRequested, &store, &PresetStore::deleteConversion);
    connect(m_presets, &PresetsSection::saveRequested, this, [this, &store](const QString &name) {
        store.saveConversion(conversionPresetFromOptions(m_options, name));
    });
    main->addWidget(m_presets);

    // Simple / Advanced
    auto *modeRow = new QHBoxLayout;
    auto *simple = new QPushButton(QStringLiteral("Simple"), this);
    auto *advanced = new QPushButton(QStringLiteral("Advanced"), this);
    for (QPushButton *b : {simple, advanced}) {
        b->setCheckable(true);
        b->setAutoExclusive(true);
        modeRow->addWidget(b);
    }
    simple->setChecked(true);
    connect(advanced, &QPushButton::toggled, this, [this](bool on) {
        m_showAdvanced = on;
        refresh();
    });
    modeRow->addStretch();
    main->addLayout(modeRow);

    QVBoxLayout *rows = nullptr;
    // AUDIO (also for videos: "Extract audio only" uses these settings)
    if (m_audio > 0 || m_video > 0) {
        m_audioSection = section(QStringLiteral("AUDIO"), &rows);
        main->addWidget(m_audioSection);
        rows->addWidget(row(QStringLiteral("Format"),
                            enumCombo(this, allCases<AudioOutputFormat>(), &m_options.audioFormat, changed, m_syncers), this));
        m_sampleRateRow = row(QStringLiteral("Sample Rate"),
                              enumCombo(this, allCases<AudioSampleRate>(), &m_options.sampleRate, changed, m_syncers), this);
        rows->addWidget(m_sampleRateRow);
        m_bitDepthRow = row(QStringLiteral("Bit Depth"),
                            enumCombo(this, allCases<AudioBitDepth>(), &m_options.bitDepth, changed, m_syncers), this);
        rows->addWidget(m_bitDepthRow);
        m_channelsRow = row(QStringLiteral("Channels"),
                            enumCombo(this, allCases<AudioChannels>(), &m_options.channels, changed, m_syncers), this);
        rows->addWidget(m_channelsRow);
        m_mp3Row = row(QStringLiteral("MP3 Bitrate"), bitRateCombo(&m_options.mp3Bitrate), this);
        rows->addWidget(m_mp3Row);
        m_mp3Note = note(mp3EncoderNote(defaultLamePath()), this);
        rows->addWidget(m_mp3Note);
        m_aacRow = row(QStringLiteral("AAC Bitrate"), bitRateCombo(&m_options.aacBitrate), this);
        rows->addWidget(m_aacRow);
        m_noSettingsNote = note(QString(), this);
        rows->addWidget(m_noSettingsNote);
    }
    // VIDEO
    if (m_video > 0) {
        main->addWidget(section(QStringLiteral("VIDEO"), &rows));
        rows->addWidget(row(QStringLiteral("Format"),
                            enumCombo(this, allCases<VideoOutputFormat>(), &m_options.videoFormat, changed, m_syncers), this));
        m_profileRow = row(QStringLiteral("Profile"),
                           enumCombo(this, allCases<ProResProfile>(), &m_options.proResProfile, changed, m_syncers), this);
        rows->addWidget(m_profileRow);
        m_qualityRow = row(QStringLiteral("Quality"),
                           enumCombo(this, allCases<VideoQualityCRF>(), &m_options.videoCRF, changed, m_syncers), this);
        rows->addWidget(m_qualityRow);
        m_frameRateRow = row(QStringLiteral("Frame Rate"),
                             enumCombo(this, allCases<VideoFrameRate>(), &m_options.frameRate, changed, m_syncers), this);
        rows->addWidget(m_frameRateRow);
        m_preserveDurationRow = checkRow(checkBox(QStringLiteral("Preserve duration"), {}, this, &m_options.preserveDuration,
                                                  changed, m_syncers),
                                         QStringLiteral("Keeps the clip length the same when changing frame rate."), this);
        rows->addWidget(m_preserveDurationRow);
        auto *resolution = new QWidget(this);
        auto *rv = new QVBoxLayout(resolution);
        rv->setContentsMargins(0, 0, 0, 0);
        rv->addWidget(row(QStringLiteral("Resolution"),
                          enumCombo(this, allCases<VideoResolution>(), &m_options.resolution, changed, m_syncers), this));
        m_resolutionHelp = note(QStringLiteral("Aspect ratio is preserved and scaled to fit the selected size."), this);
        rv->addWidget(m_resolutionHelp);
        m_resolutionRow = resolution;
        rows->addWidget(m_resolutionRow);
        m_videoChannelsRow = row(QStringLiteral("Channels"),
                                 enumCombo(this, allCases<AudioChannels>(), &m_options.videoChannels, changed, m_syncers), this);
        rows->addWidget(m_videoChannelsRow);
        m_burnRow = checkRow(checkBox(QStringLiteral("Burn in subtitles if found"), {}, this, &m_options.burnSubtitles,
                                      changed, m_syncers),
                             QStringLiteral("Looks for a matching .srt / .ass / .ssa / .vtt next to each video"), this);
        rows->addWidget(m_burnRow);
        m_audioOnlyRow = checkRow(checkBox(QStringLiteral("Extract audio only"), {}, this, &m_options.videoAsAudioOnly,
                                           changed, m_syncers),
                                  QStringLiteral("Discards the video track and uses the Audio settings above"), this);
        rows->addWidget(m_audioOnlyRow);
    }
    // IMAGES
    if (m_image > 0) {
        main->addWidget(section(QStringLiteral("IMAGES"), &rows));
        rows->addWidget(row(QStringLiteral("Format"),
                            enumCombo(this, writableImageFormats(), &m_options.imageFormat, changed, m_syncers), this));
        auto *quality = new QWidget(this);
        auto *qh = new QHBoxLayout(quality);
        qh->setContentsMargins(0, 0, 0, 0);
        auto *slider = new QSlider(Qt::Horizontal, quality);
        slider->setRange(0, 100);
        auto *percent = new QLabel(quality);
        percent->setMinimumWidth(40);
        qh->addWidget(slider, 1);
        qh->addWidget(percent);
        connect(slider, &QSlider::valueChanged, this, [this, percent](int v) {
            m_options.imageQuality = v;
            percent->setText(QString::number(v) + QLatin1Char('%'));
        });
        m_syncers.append([this, slider, percent] {
            slider->setValue(m_options.imageQuality);
            percent->setText(QString::number(m_options.imageQuality) + QLatin1Char('%'));
        });
        rows->addWidget(row(QStringLiteral("Quality"), quality, this));
        auto *aspect = new QWidget(this);
        auto *av = new QVBoxLayout(aspect);
        av->setContentsMargins(0, 0, 0, 0);
        av->addWidget(row(QStringLiteral("Aspect"),
                          enumCombo(this, allCases<ImageDimensionsPreset>(), &m_options.imageDimensions, changed, m_syncers),
                          this));
        m_aspectHelp = note(QString(), this);
        av->addWidget(m_aspectHelp);
        m_aspectRow = aspect;
        rows->addWidget(m_aspectRow);
        m_metadataRow = checkRow(checkBox(QStringLiteral("Preserve metadata"), {}, this, &m_options.preserveImageMetadata,
                                          changed, m_syncers), {}, this);
        rows->addWidget(m_metadataRow);
        auto *bg = checkBox(QStringLiteral("Remove background"), {}, this, &m_options.removeImageBackground, changed,
                            m_syncers);
        const bool available = backgroundRemovalAvailable();
        bg->setEnabled(available);
        // The network takes seconds to load: start while the options are being chosen.
        connect(bg, &QCheckBox::toggled, this, [](bool on) {
            if (on)
                warmUpBackgroundRemoval();
        });
        if (available && m_options.removeImageBackground)
            warmUpBackgroundRemoval();
        // An unused network is freed after a while; keep it while the option is on here.
        if (available) {
            auto *keepWarm = new QTimer(this);
            keepWarm->setInterval(60000);
            connect(keepWarm, &QTimer::timeout, this, [this] {
                if (m_options.removeImageBackground)
                    warmUpBackgroundRemoval();
            });
            keepWarm->start();
        }
        QWidget *bgRow = checkRow(bg, available ? QString() : backgroundRemovalUnavailableHint(), this);
        rows->addWidget(bgRow);
#ifdef PERCHBOX_HAVE_OPENCV
        // Without the network: offer to download it here.
        if (!available && BackgroundModel::installedPath().isEmpty()) {
            auto *download = new ModelDownloadRow(BackgroundModelDownload::shared(), this);
            rows->addWidget(download);
            connect(download, &ModelDownloadRow::installed, this, [bg, bgRow, download] {
                if (!backgroundRemovalAvailable())
                    return;
                bg->setEnabled(true);
                for (QLabel *hint : bgRow->findChildren<QLabel *>())
                    hint->hide();
                download->hide();
            });
        }
#endif
        m_transparencyWarning = warning(QString(), this);
        rows->addWidget(m_transparencyWarning);
    }

    // OUTPUT
    main->addWidget(section(QStringLiteral("OUTPUT"), &rows));
    rows->addWidget(enumCombo(this, allCases<ConversionOutputMode>(), &m_options.outputMode, changed, m_syncers));
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
    connect(choose, &QPushButton::clicked, this, &ConversionOptionsView::chooseOutputFolder);
    connect(m_clearFolder, &QPushButton::clicked, this, [this] {
        m_options.outputFolder.reset();
        refresh();
    });
    rows->addWidget(m_folderRow);
    m_shelfLine = note(QStringLiteral("Converted files will appear on a new shelf: \"") + sourceShelfName
                           + kConvertedShelfSuffix + QLatin1Char('"'),
                       this);
    rows->addWidget(m_shelfLine);
    m_saveAsDefault = new QCheckBox(QStringLiteral("Save as default"), this);
    m_saveAsDefault->setToolTip(QStringLiteral("Remember these settings and pre-fill them next time you open Convert"));
    rows->addWidget(m_saveAsDefault);

    // Footer
    main->addStretch(1);
    m_convertHint = note(QStringLiteral("Choose an output folder to continue"), this);
    m_convertHint->setAlignment(Qt::AlignRight);
    main->addWidget(m_convertHint);
    auto *footer = new QHBoxLayout;
    footer->addStretch(1);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setShortcut(QKeySequence(Qt::Key_Escape));
    const int n = int(m_files.size());
    m_convertButton = new QPushButton(QStringLiteral("Convert ") + QString::number(n)
                                          + (n == 1 ? QStringLiteral(" File") : QStringLiteral(" Files")),
                                      this);
    m_convertButton->setDefault(true);
    footer->addWidget(cancel);
    footer->addWidget(m_convertButton);
    main->addLayout(footer);
    connect(cancel, &QPushButton::clicked, this, &ConversionOptionsView::cancelRequested);
    connect(m_convertButton, &QPushButton::clicked, this, [this] {
        if (canConvert())
            emit convertRequested();
    });
    connect(&AppSettings::instance(), &AppSettings::createConvertedShelfChanged, this, [this] { refresh(); });
}

void ConversionOptionsView::setOptions(const ConversionJobOptions &options)
{
    m_options = options;
    if (m_image > 0) // the image module is loaded: the scan probed the images through it
        m_options.imageFormat = writableImageFormat(m_options.imageFormat);
    m_updating = true;
    for (const auto &sync : m_syncers)
        sync();
    m_updating = false;
    refresh();
}

bool ConversionOptionsView::saveAsDefault() const
{
    return m_saveAsDefault->isChecked();
}

bool ConversionOptionsView::canConvert() const
{
    return m_options.outputMode == ConversionOutputMode::overwrite || m_options.outputFolder.has_value();
}

void ConversionOptionsView::chooseOutputFolder()
{
    const QString start = m_options.outputFolder ? FilePath::displayPath(*m_options.outputFolder) : QDir::homePath();
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Select Output Folder"), start);
    if (folder.isEmpty())
        return;
    m_options.outputFolder = FilePath::urlFromPath(folder);
    refresh();
}

void ConversionOptionsView::refresh()
{
    if (m_updating)
        return;
    const ConversionJobOptions &o = m_options;
    const bool adv = m_showAdvanced;
    m_fileList->setVisible(m_showFileList);
    m_filesToggle->setText(m_showFileList ? QStringLiteral("FILES ▾") : QStringLiteral("FILES ▸"));

    if (m_audioSection) {
        // Shown for audio files, and for videos once they are to become audio.
        m_audioSection->setVisible(m_audio > 0 || (m_video > 0 && o.videoAsAudioOnly));
        const bool pcm = o.audioFormat == AudioOutputFormat::wav || o.audioFormat == AudioOutputFormat::aiff;
        const bool mp3 = o.audioFormat == AudioOutputFormat::mp3;
        const bool m4a = o.audioFormat == AudioOutputFormat::m4a;
        m_sampleRateRow->setVisible(adv);
        m_channelsRow->setVisible(adv);
        m_bitDepthRow->setVisible(adv && pcm);
        m_mp3Row->setVisible(mp3);
        m_mp3Note->setVisible(mp3);
        m_aacRow->setVisible(m4a);
        // The formats without a setting of their own in the current view say so.
        const bool hasOwn = (pcm && adv) || mp3 || m4a;
        m_noSettingsNote->setText(QStringLiteral("No additional settings for ") + displayLabel(o.audioFormat)
                                  + QLatin1Char('.'));
        m_noSettingsNote->setVisible(!hasOwn);
    }
    if (m_video > 0) {
        m_profileRow->setVisible(o.videoFormat == VideoOutputFormat::prores);
        m_qualityRow->setVisible(o.videoFormat != VideoOutputFormat::prores);
        m_frameRateRow->setVisible(adv);
        m_preserveDurationRow->setVisible(adv && o.frameRate != VideoFrameRate::original);
        m_resolutionRow->setVisible(adv);
        m_resolutionHelp->setVisible(o.resolution != VideoResolution::original);
        m_videoChannelsRow->setVisible(adv);
        m_burnRow->setVisible(adv);
        m_audioOnlyRow->setVisible(true);
    }
    if (m_image > 0) {
        switch (o.imageDimensions) {
        case ImageDimensionsPreset::original: m_aspectHelp->clear(); break;
        case ImageDimensionsPreset::square: m_aspectHelp->setText(QStringLiteral("Center-crops to a true 1:1 square.")); break;
        default:
            m_aspectHelp->setText(QStringLiteral("Center-crops to the selected aspect ratio while keeping the image orientation."));
        }
        m_aspectHelp->setVisible(o.imageDimensions != ImageDimensionsPreset::original);
        const bool opaque = o.imageFormat == ImageOutputFormat::jpeg || o.imageFormat == ImageOutputFormat::heic;
        m_transparencyWarning->setText(displayLabel(o.imageFormat)
                                       + QStringLiteral(" does not keep transparency, so removed backgrounds will be flattened to white."));
        m_transparencyWarning->setVisible(o.removeImageBackground && opaque);
    }

    const bool overwrite = o.outputMode == ConversionOutputMode::overwrite;
    m_mirrorNote->setVisible(o.outputMode == ConversionOutputMode::mirrorTree);
    m_overwriteWarning->setVisible(overwrite);
    m_folderRow->setVisible(!overwrite);
    m_folderLabel->setText(o.outputFolder ? FilePath::displayPath(*o.outputFolder) : QStringLiteral("No folder chosen"));
    m_clearFolder->setEnabled(o.outputFolder.has_value());
    m_shelfLine->setVisible(AppSettings::instance().createConvertedShelf());
    m_convertButton->setEnabled(canConvert());
    m_convertHint->setVisible(!canConvert());
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

    QList<MediaSourceItem> items;
    for (const QUrl &url : files)
        items.append({url, {}});
    auto *watcher = new QFutureWatcher<QList<ResolvedMediaFile>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        m_dotsTimer->stop();
        showOptions(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run([items] {
        QList<ResolvedMediaFile> found = gatherMediaFiles(items);
        // The media modules the files need load here, off the UI thread.
        for (const ResolvedMediaFile &file : found)
            loadMediaModule(mediaModuleFor(file.type));
        return found;
    }));
}

void ConversionOptionsWindowController::showOptions(const QList<ResolvedMediaFile> &files)
{
    m_files = files;
    emit scanningFinished(int(files.size()));
    if (files.isEmpty()) {
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("No Supported Media Files"),
                                    QStringLiteral("No Supported Media Files"), QMessageBox::Ok);
        box->setInformativeText(QStringLiteral("None of the selected items contain supported audio, video, or image files."));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        box->open();
        close();
        return;
    }
    QStringList missing;
    for (const ResolvedMediaFile &file : files) {
        const MediaModule module = mediaModuleFor(file.type);
        const QString reason = mediaModuleReady(module) ? QString() : mediaModuleError(module);
        if (!reason.isEmpty() && !missing.contains(reason))
            missing << reason;
    }
    if (!missing.isEmpty()) {
        // The scan tried to load a media module the files need and could not.
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Media Support Unavailable"),
                                    QStringLiteral("Media Support Unavailable"), QMessageBox::Ok);
        box->setInformativeText(QStringLiteral("Perchbox cannot convert these files: %1").arg(missing.join(QStringLiteral("; "))));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        box->open();
        close();
        return;
    }
    m_view = new ConversionOptionsView(files, m_shelfName, m_initialPreset, this);
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
    const ConversionJobOptions options = m_view->options();
    if (m_view->saveAsDefault())
        saveConversionDefaults(options);
    ConversionExporter::Job job;
    job.files = m_files;
    job.options = options;
    job.stagingFolder = ConversionExporter::makeStagingFolder();
    job.lamePath = defaultLamePath();
    job.cancel = std::make_shared<LockedFlag>(false);
    job.progress = m_progress;
    job.sourceShelfName = m_shelfName;
    job.postNotification = false; // announced below, with what stayed on the shelf

    QPointer<ShelfManager> manager(&m_manager);
    const QUuid shelfId = m_shelfId;
    const QString shelfName = m_shelfName;
    const QList<QUrl> items = m_items;
    const QList<ResolvedMediaFile> media = m_files;
    auto onComplete = m_onComplete;
    ConversionExporter::start(
        job, ConversionExporter::ReportCompletion([manager, shelfId, shelfName, items, media,
                                                   onComplete](const ConversionReport &report) {
            const AppSettings &s = AppSettings::instance();
            const QList<QUrl> cleared = fullyConvertedItems(items, media, report.convertedSources);
            QStringList left;
            if (s.clearShelfAfterConversion() && !report.outputs.isEmpty() && !report.cancelled)
                for (const QUrl &item : items)
                    if (!cleared.contains(item))
                        left << QFileInfo(FilePath::displayPath(item)).fileName();
            if (manager)
                applyConversionOutputs(*manager, shelfId, shelfName, cleared, report.outputs, s.createConvertedShelf(),
                                       s.clearShelfAfterConversion());
            announceConversion(report, shelfName, left);
            if (onComplete)
                onComplete(report.outputs);
        }));
    close();
}

void announceConversion(const ConversionReport &report, const QString &sourceShelfName,
                        const QStringList &leftOnShelf)
{
    const ConversionAnnouncement a = conversionAnnouncement(report, sourceShelfName, leftOnShelf);
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
