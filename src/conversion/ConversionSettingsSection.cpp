#include "conversion/ConversionSettingsSection.h"

#include "conversion/MediaBackend.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

QLabel *explanation(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setWordWrap(true);
    l->setStyleSheet(QStringLiteral("color: palette(mid);"));
    return l;
}

template <typename E>
QComboBox *combo(const QList<E> &cases, QWidget *parent, std::function<void(E)> store, const bool &syncing)
{
    auto *c = new QComboBox(parent);
    for (E v : cases)
        c->addItem(displayLabel(v), rawValue(v));
    QObject::connect(c, &QComboBox::currentIndexChanged, c, [c, store, &syncing](int) {
        if (syncing)
            return;
        if (auto v = enumFromRaw<E>(c->currentData().toString()))
            store(*v);
    });
    return c;
}

template <typename E>
void select(QComboBox *c, E value)
{
    const int i = c->findData(rawValue(value));
    if (i >= 0)
        c->setCurrentIndex(i);
}

} // namespace

ConversionSettingsSection::ConversionSettingsSection(QWidget *parent) : QWidget(parent)
{
    AppSettings &s = AppSettings::instance();
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);

    m_clearShelf = new QCheckBox(QStringLiteral("Clear source shelf after conversion"), this);
    v->addWidget(m_clearShelf);
    v->addWidget(explanation(QStringLiteral("Removes the original files from the shelf once conversion completes. "
                                            "Files on disk are not deleted."),
                             this));
    m_createShelf = new QCheckBox(QStringLiteral("Create converted shelf"), this);
    v->addWidget(m_createShelf);
    v->addWidget(explanation(QStringLiteral("After conversion, opens a new shelf with the converted files. Turn off to "
                                            "convert silently to the output folder only."),
                             this));
    connect(m_clearShelf, &QCheckBox::toggled, this, [this, &s](bool on) {
        if (!m_syncing)
            s.setClearShelfAfterConversion(on);
    });
    connect(m_createShelf, &QCheckBox::toggled, this, [this, &s](bool on) {
        if (!m_syncing)
            s.setCreateConvertedShelf(on);
    });

    auto *form = new QFormLayout;
    v->addLayout(form);
    auto *dest = new QWidget(this);
    auto *dh = new QHBoxLayout(dest);
    dh->setContentsMargins(0, 0, 0, 0);
    m_destination = new QLabel(dest);
    auto *choose = new QPushButton(QStringLiteral("Choose…"), dest);
    m_clearDestination = new QPushButton(QStringLiteral("Clear"), dest);
    dh->addWidget(m_destination, 1);
    dh->addWidget(choose);
    dh->addWidget(m_clearDestination);
    form->addRow(QStringLiteral("Default destination:"), dest);
    connect(choose, &QPushButton::clicked, this, [this, &s] {
        const QString start = s.convDefaultOutputFolder().isEmpty() ? QDir::homePath()
                                                                     : FilePath::displayPath(s.convDefaultOutputFolder());
        const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Default destination"), start);
        if (!folder.isEmpty())
            s.setConvDefaultOutputFolder(FilePath::urlFromPath(folder));
    });
    connect(m_clearDestination, &QPushButton::clicked, this, [&s] { s.setConvDefaultOutputFolder(QUrl()); });

    const bool &syncing = m_syncing;
    m_outputMode = combo<ConversionOutputMode>(allCases<ConversionOutputMode>(), this,
                                               [&s](auto x) { s.setConvDefaultOutputMode(x); }, syncing);
    form->addRow(QStringLiteral("Output:"), m_outputMode);
    m_audioFormat = combo<AudioOutputFormat>(allCases<AudioOutputFormat>(), this,
                                             [&s](auto x) { s.setConvDefaultAudioFormat(x); }, syncing);
    form->addRow(QStringLiteral("Audio format:"), m_audioFormat);
    m_sampleRate = combo<AudioSampleRate>(allCases<AudioSampleRate>(), this,
                                          [&s](auto x) { s.setConvDefaultSampleRate(x); }, syncing);
    form->addRow(QStringLiteral("Sample rate:"), m_sampleRate);
    m_channels = combo<AudioChannels>(allCases<AudioChannels>(), this, [&s](auto x) { s.setConvDefaultChannels(x); },
                                      syncing);
    form->addRow(QStringLiteral("Audio channels:"), m_channels);
    m_videoFormat = combo<VideoOutputFormat>(allCases<VideoOutputFormat>(), this,
                                             [&s](auto x) { s.setConvDefaultVideoFormat(x); }, syncing);
    form->addRow(QStringLiteral("Video format:"), m_videoFormat);
    m_proResProfile = combo<ProResProfile>(allCases<ProResProfile>(), this,
                                           [&s](auto x) { s.setConvDefaultProResProfile(x); }, syncing);
    form->addRow(QStringLiteral("ProRes profile:"), m_proResProfile);
    m_videoCRF = combo<VideoQualityCRF>(allCases<VideoQualityCRF>(), this, [&s](auto x) { s.setConvDefaultVideoCRF(x); },
                                        syncing);
    form->addRow(QStringLiteral("Video quality:"), m_videoCRF);
    m_frameRate = combo<VideoFrameRate>(allCases<VideoFrameRate>(), this, [&s](auto x) { s.setConvDefaultFrameRate(x); },
                                        syncing);
    form->addRow(QStringLiteral("Frame rate:"), m_frameRate);
    m_videoChannels = combo<AudioChannels>(allCases<AudioChannels>(), this,
                                           [&s](auto x) { s.setConvDefaultVideoChannels(x); }, syncing);
    form->addRow(QStringLiteral("Video audio channels:"), m_videoChannels);
    m_burnSubtitles = new QCheckBox(QStringLiteral("Burn in subtitles if found"), this);
    form->addRow(QString(), m_burnSubtitles);
    connect(m_burnSubtitles, &QCheckBox::toggled, this, [this, &s](bool on) {
        if (!m_syncing)
            s.setConvDefaultBurnSubtitles(on);
    });
    // Until the media module is loaded every format is listed; those it cannot write leave then.
    m_imageFormat = combo<ImageOutputFormat>(mediaModuleReady(MediaModule::image) ? writableImageFormats() : allCases<ImageOutputFormat>(), this,
                                             [&s](auto x) { s.setConvDefaultImageFormat(x); }, syncing);
    form->addRow(QStringLiteral("Image format:"), m_imageFormat);
    auto *quality = new QWidget(this);
    auto *qh = new QHBoxLayout(quality);
    qh->setContentsMargins(0, 0, 0, 0);
    m_imageQuality = new QSlider(Qt::Horizontal, quality);
    m_imageQuality->setRange(0, 100);
    m_imageQualityText = new QLabel(quality);
    m_imageQualityText->setMinimumWidth(40);
    qh->addWidget(m_imageQuality, 1);
    qh->addWidget(m_imageQualityText);
    form->addRow(QStringLiteral("Image quality:"), quality);
    connect(m_imageQuality, &QSlider::valueChanged, this, [this, &s](int q) {
        m_imageQualityText->setText(QString::number(q) + QLatin1Char('%'));
        if (!m_syncing)
            s.setConvDefaultImageQuality(q);
    });
    m_imageDimensions = combo<ImageDimensionsPreset>(allCases<ImageDimensionsPreset>(), this,
                                                     [&s](auto x) { s.setConvDefaultImageDimensions(x); }, syncing);
    form->addRow(QStringLiteral("Aspect:"), m_imageDimensions);
    m_preserveMetadata = new QCheckBox(QStringLiteral("Preserve metadata"), this);
    form->addRow(QString(), m_preserveMetadata);
    connect(m_preserveMetadata, &QCheckBox::toggled, this, [this, &s](bool on) {
        if (!m_syncing)
            s.setConvDefaultPreserveImageMetadata(on);
    });
    m_removeBackground = new QCheckBox(QStringLiteral("Remove background"), this);
    form->addRow(QString(), m_removeBackground);
    m_backgroundHint = explanation(QString(), this);
    m_backgroundHint->hide();
    form->addRow(QString(), m_backgroundHint);
    connect(m_removeBackground, &QCheckBox::toggled, this, [this, &s](bool on) {
        if (!m_syncing)
            s.setConvDefaultRemoveImageBackground(on);
    });

    // Show outside changes (the Convert panel's "Save as default").
    for (auto signal : {&AppSettings::clearShelfAfterConversionChanged, &AppSettings::createConvertedShelfChanged,
                        &AppSettings::convDefaultBurnSubtitlesChanged, &AppSettings::convDefaultPreserveImageMetadataChanged,
                        &AppSettings::convDefaultRemoveImageBackgroundChanged})
        connect(&s, signal, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultOutputFolderChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultOutputModeChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultAudioFormatChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultSampleRateChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultChannelsChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultVideoFormatChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultProResProfileChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultVideoCRFChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultFrameRateChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultVideoChannelsChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultImageFormatChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultImageQualityChanged, this, &ConversionSettingsSection::sync);
    connect(&s, &AppSettings::convDefaultImageDimensionsChanged, this, &ConversionSettingsSection::sync);
    sync();
    whenMediaModuleReady(MediaModule::image, this, [this] { applyMediaSupport(); });
}

void ConversionSettingsSection::applyMediaSupport()
{
    if (!mediaModuleReady(MediaModule::image)) {
        // Without the image module no image converts: say so where the image options are.
        m_imageFormat->setEnabled(false);
        m_removeBackground->setEnabled(false);
        m_backgroundHint->setText(QStringLiteral("Image conversion is unavailable: %1").arg(mediaModuleError(MediaModule::image)));
        m_backgroundHint->show();
        return;
    }
    const QList<ImageOutputFormat> writable = writableImageFormats();
    m_syncing = true;
    for (int i = m_imageFormat->count() - 1; i >= 0; --i) {
        const auto format = enumFromRaw<ImageOutputFormat>(m_imageFormat->itemData(i).toString());
        if (format && !writable.contains(*format))
            m_imageFormat->removeItem(i);
    }
    m_syncing = false;
    const bool available = backgroundRemovalAvailable();
    m_removeBackground->setEnabled(available);
    m_backgroundHint->setText(available ? QString() : backgroundRemovalUnavailableHint());
    m_backgroundHint->setVisible(!available);
    sync();
}

void ConversionSettingsSection::sync()
{
    const AppSettings &s = AppSettings::instance();
    m_syncing = true;
    m_clearShelf->setChecked(s.clearShelfAfterConversion());
    m_createShelf->setChecked(s.createConvertedShelf());
    const bool hasFolder = !s.convDefaultOutputFolder().isEmpty();
    m_destination->setText(hasFolder ? FilePath::displayPath(s.convDefaultOutputFolder())
                                     : QStringLiteral("None \u2014 choose each time"));
    m_clearDestination->setEnabled(hasFolder);
    select(m_outputMode, s.convDefaultOutputMode());
    select(m_audioFormat, s.convDefaultAudioFormat());
    select(m_sampleRate, s.convDefaultSampleRate());
    select(m_channels, s.convDefaultChannels());
    select(m_videoFormat, s.convDefaultVideoFormat());
    select(m_proResProfile, s.convDefaultProResProfile());
    select(m_videoCRF, s.convDefaultVideoCRF());
    select(m_frameRate, s.convDefaultFrameRate());
    select(m_videoChannels, s.convDefaultVideoChannels());
    m_burnSubtitles->setChecked(s.convDefaultBurnSubtitles());
    select(m_imageFormat, s.convDefaultImageFormat());
    m_imageQuality->setValue(s.convDefaultImageQuality());
    m_imageQualityText->setText(QString::number(s.convDefaultImageQuality()) + QLatin1Char('%'));
    select(m_imageDimensions, s.convDefaultImageDimensions());
    m_preserveMetadata->setChecked(s.convDefaultPreserveImageMetadata());
    m_removeBackground->setChecked(s.convDefaultRemoveImageBackground());
    m_syncing = false;
}
