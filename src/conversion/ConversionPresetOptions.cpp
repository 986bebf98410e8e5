#include "conversion/ConversionPresetOptions.h"

#include "conversion/ConversionOptions.h"
#include "model/RawEnum.h"
#include "settings/AppSettings.h"

#include <QUuid>
#include <QtGlobal>

ConversionPreset conversionPresetFromOptions(const ConversionJobOptions &o, const QString &name)
{
    ConversionPreset p;
    p.id = QUuid::createUuid();
    p.name = name;
    p.audioFormat = rawValue(o.audioFormat);
    p.sampleRate = rawValue(o.sampleRate);
    p.bitDepth = rawValue(o.bitDepth);
    p.channels = rawValue(o.channels);
    p.mp3Bitrate = o.mp3Bitrate;
    p.aacBitrate = o.aacBitrate;
    p.videoFormat = rawValue(o.videoFormat);
    p.proResProfile = rawValue(o.proResProfile);
    p.videoCRF = rawValue(o.videoCRF);
    p.frameRate = rawValue(o.frameRate);
    p.resolution = rawValue(o.resolution);
    p.videoChannels = rawValue(o.videoChannels);
    p.preserveDuration = o.preserveDuration;
    p.burnSubtitles = o.burnSubtitles;
    p.videoAsAudioOnly = o.videoAsAudioOnly;
    p.imageFormat = rawValue(o.imageFormat);
    p.imageQuality = o.imageQuality;
    p.imageDimensions = rawValue(o.imageDimensions);
    p.preserveImageMetadata = o.preserveImageMetadata;
    p.removeImageBackground = o.removeImageBackground;
    p.outputMode = rawValue(o.outputMode);
    return p;
}

void applyConversionPreset(const ConversionPreset &p, ConversionJobOptions &o)
{
    o.audioFormat = enumFromRaw(p.audioFormat, o.audioFormat);
    o.sampleRate = enumFromRaw(p.sampleRate, o.sampleRate);
    o.bitDepth = enumFromRaw(p.bitDepth, o.bitDepth);
    o.channels = enumFromRaw(p.channels, o.channels);
    if (p.mp3Bitrate > 0)
        o.mp3Bitrate = p.mp3Bitrate;
    if (p.aacBitrate > 0)
        o.aacBitrate = p.aacBitrate;
    o.videoFormat = enumFromRaw(p.videoFormat, o.videoFormat);
    o.proResProfile = enumFromRaw(p.proResProfile, o.proResProfile);
    o.videoCRF = enumFromRaw(p.videoCRF, o.videoCRF);
    o.frameRate = enumFromRaw(p.frameRate, o.frameRate);
    o.resolution = enumFromRaw(p.resolution, o.resolution);
    o.videoChannels = enumFromRaw(p.videoChannels, o.videoChannels);
    o.preserveDuration = p.preserveDuration;
    o.burnSubtitles = p.burnSubtitles;
    o.videoAsAudioOnly = p.videoAsAudioOnly;
    // Checked against what this machine writes when images are converted (writableImageFormat).
    if (auto f = enumFromRaw<ImageOutputFormat>(p.imageFormat))
        o.imageFormat = *f;
    o.imageQuality = qBound(0, p.imageQuality, 100);
    if (auto d = parseImageDimensions(p.imageDimensions))
        o.imageDimensions = *d;
    o.preserveImageMetadata = p.preserveImageMetadata;
    o.removeImageBackground = p.removeImageBackground;
    o.outputMode = enumFromRaw(p.outputMode, o.outputMode);
}

ConversionJobOptions conversionOptionsFromDefaults()
{
    const AppSettings &s = AppSettings::instance();
    ConversionJobOptions o;
    o.audioFormat = s.convDefaultAudioFormat();
    o.sampleRate = s.convDefaultSampleRate();
    o.channels = s.convDefaultChannels();
    o.videoFormat = s.convDefaultVideoFormat();
    o.proResProfile = s.convDefaultProResProfile();
    o.videoCRF = s.convDefaultVideoCRF();
    o.frameRate = s.convDefaultFrameRate();
    o.videoChannels = s.convDefaultVideoChannels();
    o.burnSubtitles = s.convDefaultBurnSubtitles();
    o.imageFormat = s.convDefaultImageFormat();
    o.imageQuality = qBound(0, s.convDefaultImageQuality(), 100);
    o.imageDimensions = s.convDefaultImageDimensions();
    o.preserveImageMetadata = s.convDefaultPreserveImageMetadata();
    o.removeImageBackground = s.convDefaultRemoveImageBackground();
    o.outputMode = s.convDefaultOutputMode();
    if (!s.convDefaultOutputFolder().isEmpty())
        o.outputFolder = s.convDefaultOutputFolder();
    return o;
}

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
