#include "conversion/ConversionOptions.h"


#include <QByteArray>

namespace {
const QString keepOriginal = QStringLiteral("Keep Original");
}

QString displayLabel(ConversionOutputMode value)
{
    switch (value) {
    case ConversionOutputMode::flatFolder: return QStringLiteral("New Folder — Flat");
    case ConversionOutputMode::mirrorTree: return QStringLiteral("New Folder — Mirror Tree");
    case ConversionOutputMode::overwrite: return QStringLiteral("Overwrite Originals");
    }
    return {};
}

QString displayLabel(AudioOutputFormat value)
{
    switch (value) {
    case AudioOutputFormat::wav: return QStringLiteral("WAV");
    case AudioOutputFormat::aiff: return QStringLiteral("AIFF");
    case AudioOutputFormat::mp3: return QStringLiteral("MP3");
    case AudioOutputFormat::m4a: return QStringLiteral("M4A (AAC)");
    }
    return {};
}

QString displayLabel(AudioSampleRate value)
{
    switch (value) {
    case AudioSampleRate::original: return keepOriginal;
    case AudioSampleRate::r44100: return QStringLiteral("44.1 kHz");
    case AudioSampleRate::r48000: return QStringLiteral("48 kHz");
    case AudioSampleRate::r88200: return QStringLiteral("88.2 kHz");
    case AudioSampleRate::r96000: return QStringLiteral("96 kHz");
    case AudioSampleRate::r192000: return QStringLiteral("192 kHz");
    }
    return {};
}

QString displayLabel(AudioBitDepth value)
{
    switch (value) {
    case AudioBitDepth::original: return keepOriginal;
    case AudioBitDepth::b16: return QStringLiteral("16-bit");
    case AudioBitDepth::b24: return QStringLiteral("24-bit");
    case AudioBitDepth::b32f: return QStringLiteral("32-bit Float");
    }
    return {};
}

QString displayLabel(AudioChannels value)
{
    switch (value) {
    case AudioChannels::original: return keepOriginal;
    case AudioChannels::mono: return QStringLiteral("Mono");
    case AudioChannels::stereo: return QStringLiteral("Stereo");
    }
    return {};
}

QString displayLabel(VideoOutputFormat value)
{
    switch (value) {
    case VideoOutputFormat::prores: return QStringLiteral("ProRes");
    case VideoOutputFormat::h264: return QStringLiteral("H.264");
    case VideoOutputFormat::h265: return QStringLiteral("H.265 (HEVC)");
    }
    return {};
}

QString displayLabel(ProResProfile value)
{
    switch (value) {
    case ProResProfile::proxy: return QStringLiteral("ProRes 422 Proxy");
    case ProResProfile::lt: return QStringLiteral("ProRes 422 LT");
    case ProResProfile::p422: return QStringLiteral("ProRes 422");
    case ProResProfile::p422hq: return QStringLiteral("ProRes 422 HQ");
    case ProResProfile::p4444: return QStringLiteral("ProRes 4444");
    case ProResProfile::p4444xq: return QStringLiteral("ProRes 4444 XQ");
    }
    return {};
}

QString displayLabel(VideoQualityCRF value)
{
    switch (value) {
    case VideoQualityCRF::veryHigh: return QStringLiteral("Very High");
    case VideoQualityCRF::high: return QStringLiteral("High");
    case VideoQualityCRF::medium: return QStringLiteral("Medium");
    case VideoQualityCRF::low: return QStringLiteral("Low (smaller file)");
    }
    return {};
}

QString displayLabel(VideoFrameRate value)
{
    switch (value) {
    case VideoFrameRate::original: return keepOriginal;
    case VideoFrameRate::f2397: return QStringLiteral("23.976 fps");
    case VideoFrameRate::f24: return QStringLiteral("24 fps");
    case VideoFrameRate::f25: return QStringLiteral("25 fps");
    case VideoFrameRate::f2997: return QStringLiteral("29.97 fps");
    case VideoFrameRate::f30: return QStringLiteral("30 fps");
    case VideoFrameRate::f60: return QStringLiteral("60 fps");
    }
    return {};
}

QString displayLabel(VideoResolution value)
{
    switch (value) {
    case VideoResolution::original: return keepOriginal;
    case VideoResolution::uhd4k: return QStringLiteral("4K (3840×2160)");
    case VideoResolution::fhd1080: return QStringLiteral("1080p (1920×1080)");
    case VideoResolution::hd720: return QStringLiteral("720p (1280×720)");
    }
    return {};
}

QString displayLabel(ImageOutputFormat value)
{
    switch (value) {
    case ImageOutputFormat::png: return QStringLiteral("PNG");
    case ImageOutputFormat::jpeg: return QStringLiteral("JPEG");
    case ImageOutputFormat::webp: return QStringLiteral("WebP");
    case ImageOutputFormat::heic: return QStringLiteral("HEIC");
    case ImageOutputFormat::tiff: return QStringLiteral("TIFF");
    }
    return {};
}

QString displayLabel(ImageDimensionsPreset value)
{
    switch (value) {
    case ImageDimensionsPreset::original: return keepOriginal;
    case ImageDimensionsPreset::square: return QStringLiteral("Square (1:1)");
    case ImageDimensionsPreset::threeByTwo: return QStringLiteral("3:2 / 2:3");
    case ImageDimensionsPreset::fourByThree: return QStringLiteral("4:3 / 3:4");
    case ImageDimensionsPreset::fiveByFour: return QStringLiteral("5:4 / 4:5");
    case ImageDimensionsPreset::sixteenByNine: return QStringLiteral("16:9 / 9:16");
    }
    return {};
}

QString fileExtension(AudioOutputFormat value)
{
    return rawValue(value); // "wav", "aiff", "mp3", "m4a"
}

QString fileExtension(VideoOutputFormat value)
{
    return value == VideoOutputFormat::prores ? QStringLiteral("mov") : QStringLiteral("mp4");
}

QString fileExtension(ImageOutputFormat value)
{
    switch (value) {
    case ImageOutputFormat::png: return QStringLiteral("png");
    case ImageOutputFormat::jpeg: return QStringLiteral("jpg");
    case ImageOutputFormat::webp: return QStringLiteral("webp");
    case ImageOutputFormat::heic: return QStringLiteral("heic");
    case ImageOutputFormat::tiff: return QStringLiteral("tiff");
    }
    return {};
}

bool keepsTransparency(ImageOutputFormat value)
{
    return value != ImageOutputFormat::jpeg && value != ImageOutputFormat::heic;
}

int sampleRateHz(AudioSampleRate value)
{
    return value == AudioSampleRate::original ? 0 : rawValue(value).toInt();
}

int channelCount(AudioChannels value)
{
    return value == AudioChannels::original ? 0 : rawValue(value).toInt();
}

int crfValue(VideoQualityCRF value)
{
    return rawValue(value).toInt();
}

int profileNumber(ProResProfile value)
{
    return rawValue(value).toInt();
}

std::optional<FrameRateRatio> frameRateRatio(VideoFrameRate value)
{
    if (value == VideoFrameRate::original)
        return std::nullopt;
    const QString raw = rawValue(value);
    const qsizetype slash = raw.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return FrameRateRatio{raw.toInt(), 1};
    return FrameRateRatio{raw.left(slash).toInt(), raw.mid(slash + 1).toInt()};
}

std::optional<QSize> targetSize(VideoResolution value)
{
    if (value == VideoResolution::original)
        return std::nullopt;
    const QString raw = rawValue(value);
    const qsizetype colon = raw.indexOf(QLatin1Char(':'));
    return QSize(raw.left(colon).toInt(), raw.mid(colon + 1).toInt());
}

QList<int> offeredBitRates()
{
    return {128, 192, 256, 320};
}

QString bitRateLabel(int kbps)
{
    return QString::number(kbps) + QStringLiteral(" kbps");
}

std::optional<ImageDimensionsPreset> parseImageDimensions(QStringView text)
{
    struct Alias {
        const char *text;
        ImageDimensionsPreset value;
    };
    static constexpr Alias aliases[] = {
        {"original", ImageDimensionsPreset::original},
        {"square", ImageDimensionsPreset::square},
        {"1:1", ImageDimensionsPreset::square},
        {"3:2", ImageDimensionsPreset::threeByTwo},
        {"2:3", ImageDimensionsPreset::threeByTwo},
        {"4:3", ImageDimensionsPreset::fourByThree},
        {"3:4", ImageDimensionsPreset::fourByThree},
        {"5:4", ImageDimensionsPreset::fiveByFour},
        {"4:5", ImageDimensionsPreset::fiveByFour},
        {"16:9", ImageDimensionsPreset::sixteenByNine},
        {"9:16", ImageDimensionsPreset::sixteenByNine},
        {"3840:2160", ImageDimensionsPreset::sixteenByNine},
        {"1920:1080", ImageDimensionsPreset::sixteenByNine},
        {"1280:720", ImageDimensionsPreset::sixteenByNine},
    };
    for (const Alias &alias : aliases)
        if (text == QLatin1String(alias.text))
            return alias.value;
    return std::nullopt;
}

