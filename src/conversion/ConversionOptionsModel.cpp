#include "conversion/ConversionOptionsModel.h"

#include "conversion/ConversionPresetOptions.h"
#include "conversion/LamePath.h"
#include "conversion/MediaBackend.h"
#include "conversion/model/BackgroundModel.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"

#include <QDir>
#include <QTimer>

#include <memory>

namespace {

// An unused segmentation network is freed after a while: while "Remove background" is on in
// an open panel it is kept loaded at this interval.
constexpr int kKeepWarmMs = 60000;

} // namespace

ConversionOptionsModel::ConversionOptionsModel(const QList<ResolvedMediaFile> &files, const QString &sourceShelfName,
                                               const std::optional<ConversionPreset> &initialPreset, QObject *parent)
    : QObject(parent), m_files(files), m_sourceShelfName(sourceShelfName), m_lamePath(defaultLamePath())
{
    for (const ResolvedMediaFile &f : files) {
        if (f.type == MediaType::audio) ++m_audio;
        else if (f.type == MediaType::video) ++m_video;
        else ++m_image;
    }
    ConversionJobOptions options = conversionOptionsFromDefaults();
    if (initialPreset) // appliedInitialPreset: once, here
        applyConversionPreset(*initialPreset, options);
    if (m_image > 0) {
        m_backgroundRemoval = ::backgroundRemovalAvailable();
        if (m_backgroundRemoval)
            keepBackgroundRemovalWarm();
    }
    setOptions(options); // an initial "Remove background" warms the network up
    connect(&AppSettings::instance(), &AppSettings::createConvertedShelfChanged, this,
            &ConversionOptionsModel::changed);
}

ConversionOptionsModel::~ConversionOptionsModel() = default;

QList<ResolvedMediaFile> ConversionOptionsModel::scan(const QList<QUrl> &items)
{
    QList<MediaSourceItem> sources;
    for (const QUrl &url : items)
        sources.append({url, {}});
    QList<ResolvedMediaFile> found = gatherMediaFiles(sources);
    // The media modules the files need load here, off the UI thread.
    for (const ResolvedMediaFile &file : found)
        loadMediaModule(mediaModuleFor(file.type));
    return found;
}

std::optional<ConversionOptionsModel::Alert> ConversionOptionsModel::scanAlert(const QList<ResolvedMediaFile> &files)
{
    if (files.isEmpty())
        return Alert{QStringLiteral("No Supported Media Files"),
                     QStringLiteral("None of the selected items contain supported audio, video, or image files.")};
    QStringList missing;
    for (const ResolvedMediaFile &file : files) {
        const MediaModule module = mediaModuleFor(file.type);
        const QString reason = mediaModuleReady(module) ? QString() : mediaModuleError(module);
        if (!reason.isEmpty() && !missing.contains(reason))
            missing << reason;
    }
    if (missing.isEmpty())
        return std::nullopt;
    // The scan tried to load a media module the files need and could not.
    return Alert{QStringLiteral("Media Support Unavailable"),
                 QStringLiteral("Perchbox cannot convert these files: %1").arg(missing.join(QStringLiteral("; ")))};
}

void ConversionOptionsModel::setOptions(const ConversionJobOptions &options)
{
    const bool wasRemoving = m_options.removeImageBackground;
    m_options = options;
    if (m_image > 0) // the image module is loaded: the scan probed the images through it
        m_options.imageFormat = writableImageFormat(m_options.imageFormat);
    // The network takes seconds to load: start while the options are being chosen.
    if (m_backgroundRemoval && m_options.removeImageBackground && !wasRemoving)
        warmUpBackgroundRemoval();
    emit changed();
}

void ConversionOptionsModel::keepBackgroundRemovalWarm()
{
    if (m_keepWarm)
        return;
    m_keepWarm = new QTimer(this);
    m_keepWarm->setInterval(kKeepWarmMs);
    connect(m_keepWarm, &QTimer::timeout, this, [this] {
        if (m_options.removeImageBackground)
            warmUpBackgroundRemoval();
    });
    m_keepWarm->start();
}

void ConversionOptionsModel::setShowAdvanced(bool on)
{
    m_showAdvanced = on;
    emit changed();
}

void ConversionOptionsModel::setShowFileList(bool on)
{
    m_showFileList = on;
    emit changed();
}

void ConversionOptionsModel::setSaveAsDefault(bool on)
{
    m_saveAsDefault = on;
    emit changed();
}

QString ConversionOptionsModel::outputFolderDialogStart() const
{
    return m_options.outputFolder ? FilePath::displayPath(*m_options.outputFolder) : QDir::homePath();
}

void ConversionOptionsModel::setOutputFolder(const QString &path)
{
    if (path.isEmpty()) // the dialog was cancelled
        return;
    setOption(&ConversionJobOptions::outputFolder, std::optional<QUrl>(FilePath::urlFromPath(path)));
}

void ConversionOptionsModel::clearOutputFolder()
{
    setOption(&ConversionJobOptions::outputFolder, std::optional<QUrl>());
}

void ConversionOptionsModel::applyPreset(const ConversionPreset &preset)
{
    ConversionJobOptions next = m_options;
    applyConversionPreset(preset, next);
    setOptions(next);
}

ConversionPreset ConversionOptionsModel::presetNamed(const QString &name) const
{
    return conversionPresetFromOptions(m_options, name);
}

QString ConversionOptionsModel::countsText() const
{
    QStringList parts;
    if (m_audio)
        parts << QStringLiteral("%1 audio").arg(m_audio);
    if (m_video)
        parts << QStringLiteral("%1 video").arg(m_video);
    if (m_image)
        parts << (m_image == 1 ? QStringLiteral("1 image") : QStringLiteral("%1 images").arg(m_image));
    return parts.join(QStringLiteral(" · "));
}

QString ConversionOptionsModel::fileSummary(const ResolvedMediaFile &file)
{
    QString summary = QStringLiteral("unreadable");
    if (file.info) {
        const MediaInfo &i = *file.info;
        QStringList parts;
        for (const auto &field : {i.duration, i.audioCodec, i.sampleRate, i.bitDepth, i.channels, i.videoCodec,
                                  i.resolution, i.fps, i.imageFormat, i.colorModel, i.alpha, i.metadata})
            if (field)
                parts << *field;
        summary = parts.join(QStringLiteral(" · "));
    }
    return file.relativePath + QLatin1Char('\n') + summary;
}

QString ConversionOptionsModel::filesToggleText() const
{
    return m_showFileList ? QStringLiteral("FILES ▾") : QStringLiteral("FILES ▸");
}

QString ConversionOptionsModel::convertButtonText() const
{
    const int n = int(m_files.size());
    return QStringLiteral("Convert ") + QString::number(n) + (n == 1 ? QStringLiteral(" File") : QStringLiteral(" Files"));
}

ConversionOptionsModel::Visibility ConversionOptionsModel::visibility() const
{
    const ConversionJobOptions &o = m_options;
    const bool adv = m_showAdvanced;
    Visibility v;
    if (hasAudioSection()) {
        // Shown for audio files, and for videos once they are to become audio.
        v.audioSection = m_audio > 0 || (m_video > 0 && o.videoAsAudioOnly);
        const bool pcm = o.audioFormat == AudioOutputFormat::wav || o.audioFormat == AudioOutputFormat::aiff;
        v.sampleRate = adv;
        v.audioChannels = adv;
        v.bitDepth = adv && pcm;
        v.mp3Bitrate = o.audioFormat == AudioOutputFormat::mp3;
        v.aacBitrate = o.audioFormat == AudioOutputFormat::m4a;
        // The formats without a setting of their own in the current view say so.
        v.noAudioSettings = !(v.bitDepth || v.mp3Bitrate || v.aacBitrate);
    }
    if (hasVideoSection()) {
        v.proResProfile = o.videoFormat == VideoOutputFormat::prores;
        v.videoQuality = !v.proResProfile;
        v.frameRate = adv;
        v.preserveDuration = adv && o.frameRate != VideoFrameRate::original;
        v.resolution = adv;
        v.resolutionHelp = o.resolution != VideoResolution::original;
        v.videoChannels = adv;
        v.burnSubtitles = adv;
    }
    if (hasImageSection()) {
        v.aspectHelp = o.imageDimensions != ImageDimensionsPreset::original;
        v.transparencyWarning = o.removeImageBackground && !keepsTransparency(o.imageFormat);
    }
    v.mirrorNote = o.outputMode == ConversionOutputMode::mirrorTree;
    v.overwriteWarning = o.outputMode == ConversionOutputMode::overwrite;
    v.outputFolderRow = !v.overwriteWarning;
    v.convertedShelfLine = AppSettings::instance().createConvertedShelf();
    return v;
}

QString ConversionOptionsModel::noAudioSettingsText() const
{
    return QStringLiteral("No additional settings for ") + displayLabel(m_options.audioFormat) + QLatin1Char('.');
}

QString ConversionOptionsModel::mp3EncoderNote() const
{
    if (m_lamePath.isEmpty())
        return QStringLiteral("MP3 export needs the lame encoder, which is not installed "
                              "(on Debian and Ubuntu: the \"lame\" package).");
    return QStringLiteral("MP3 export uses the lame encoder (%1).").arg(m_lamePath);
}

QString ConversionOptionsModel::imageQualityText() const
{
    return QString::number(m_options.imageQuality) + QLatin1Char('%');
}

QString ConversionOptionsModel::aspectHelpText() const
{
    switch (m_options.imageDimensions) {
    case ImageDimensionsPreset::original: return QString();
    case ImageDimensionsPreset::square: return QStringLiteral("Center-crops to a true 1:1 square.");
    default: return QStringLiteral("Center-crops to the selected aspect ratio while keeping the image orientation.");
    }
}

QString ConversionOptionsModel::transparencyWarningText() const
{
    return displayLabel(m_options.imageFormat)
           + QStringLiteral(" does not keep transparency, so removed backgrounds will be flattened to white.");
}

QString ConversionOptionsModel::outputFolderText() const
{
    return m_options.outputFolder ? FilePath::displayPath(*m_options.outputFolder) : QStringLiteral("No folder chosen");
}

QString ConversionOptionsModel::convertedShelfText() const
{
    return QStringLiteral("Converted files will appear on a new shelf: \"") + m_sourceShelfName
           + kConvertedShelfSuffix + QLatin1Char('"');
}

QString ConversionOptionsModel::backgroundRemovalHint() const
{
    return m_backgroundRemoval ? QString() : backgroundRemovalUnavailableHint();
}

bool ConversionOptionsModel::offersModelDownload() const
{
    return !m_backgroundRemoval && BackgroundModel::installedPath().isEmpty();
}

void ConversionOptionsModel::recheckBackgroundRemoval()
{
    if (m_backgroundRemoval || !hasImageSection() || !::backgroundRemovalAvailable())
        return;
    m_backgroundRemoval = true;
    keepBackgroundRemovalWarm();
    emit changed();
}

bool ConversionOptionsModel::canConvert() const
{
    return m_options.outputMode == ConversionOutputMode::overwrite || m_options.outputFolder.has_value();
}

QString ConversionOptionsModel::convertBlockedReason() const
{
    return canConvert() ? QString() : QStringLiteral("Choose an output folder to continue");
}

std::optional<ConversionExporter::Job> ConversionOptionsModel::prepareJob()
{
    if (!canConvert())
        return std::nullopt;
    if (m_saveAsDefault)
        saveConversionDefaults(m_options);
    ConversionExporter::Job job;
    job.files = m_files;
    job.options = m_options;
    job.stagingFolder = ConversionExporter::makeStagingFolder();
    job.lamePath = defaultLamePath();
    job.cancel = std::make_shared<LockedFlag>(false);
    job.sourceShelfName = m_sourceShelfName;
    return job;
}
