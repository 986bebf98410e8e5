#pragma once

#include "model/RawEnum.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QStringView>

#include <optional>

// The options of the Convert tool. Each is stored by its raw string in settings, presets
// and favorites; allCases<E>() lists the cases in picker order and displayLabel() gives the
// picker text. A case whose raw value is "original" is labelled "Keep Original".

enum class ConversionOutputMode { flatFolder, mirrorTree, overwrite };
PERCHBOX_RAW_ENUM(ConversionOutputMode,
                  {ConversionOutputMode::flatFolder, "flatFolder"},
                  {ConversionOutputMode::mirrorTree, "mirrorTree"},
                  {ConversionOutputMode::overwrite, "overwrite"});

enum class AudioOutputFormat { wav, aiff, mp3, m4a };
PERCHBOX_RAW_ENUM(AudioOutputFormat,
                  {AudioOutputFormat::wav, "wav"},
                  {AudioOutputFormat::aiff, "aiff"},
                  {AudioOutputFormat::mp3, "mp3"},
                  {AudioOutputFormat::m4a, "m4a"});

enum class AudioSampleRate { original, r44100, r48000, r88200, r96000, r192000 };
PERCHBOX_RAW_ENUM(AudioSampleRate,
                  {AudioSampleRate::original, "original"},
                  {AudioSampleRate::r44100, "44100"},
                  {AudioSampleRate::r48000, "48000"},
                  {AudioSampleRate::r88200, "88200"},
                  {AudioSampleRate::r96000, "96000"},
                  {AudioSampleRate::r192000, "192000"});

enum class AudioBitDepth { original, b16, b24, b32f };
PERCHBOX_RAW_ENUM(AudioBitDepth,
                  {AudioBitDepth::original, "original"},
                  {AudioBitDepth::b16, "16"},
                  {AudioBitDepth::b24, "24"},
                  {AudioBitDepth::b32f, "32f"});

// Serves both the audio section and the audio track of a video.
enum class AudioChannels { original, mono, stereo };
PERCHBOX_RAW_ENUM(AudioChannels,
                  {AudioChannels::original, "original"},
                  {AudioChannels::mono, "1"},
                  {AudioChannels::stereo, "2"});

enum class VideoOutputFormat { prores, h264, h265 };
PERCHBOX_RAW_ENUM(VideoOutputFormat,
                  {VideoOutputFormat::prores, "prores"},
                  {VideoOutputFormat::h264, "h264"},
                  {VideoOutputFormat::h265, "h265"});

enum class ProResProfile { proxy, lt, p422, p422hq, p4444, p4444xq };
PERCHBOX_RAW_ENUM(ProResProfile,
                  {ProResProfile::proxy, "0"},
                  {ProResProfile::lt, "1"},
                  {ProResProfile::p422, "2"},
                  {ProResProfile::p422hq, "3"},
                  {ProResProfile::p4444, "4"},
                  {ProResProfile::p4444xq, "5"});

enum class VideoQualityCRF { veryHigh, high, medium, low };
PERCHBOX_RAW_ENUM(VideoQualityCRF,
                  {VideoQualityCRF::veryHigh, "18"},
                  {VideoQualityCRF::high, "21"},
                  {VideoQualityCRF::medium, "23"},
                  {VideoQualityCRF::low, "28"});

enum class VideoFrameRate { original, f2397, f24, f25, f2997, f30, f60 };
PERCHBOX_RAW_ENUM(VideoFrameRate,
                  {VideoFrameRate::original, "original"},
                  {VideoFrameRate::f2397, "24000/1001"},
                  {VideoFrameRate::f24, "24"},
                  {VideoFrameRate::f25, "25"},
                  {VideoFrameRate::f2997, "30000/1001"},
                  {VideoFrameRate::f30, "30"},
                  {VideoFrameRate::f60, "60"});

enum class VideoResolution { original, uhd4k, fhd1080, hd720 };
PERCHBOX_RAW_ENUM(VideoResolution,
                  {VideoResolution::original, "original"},
                  {VideoResolution::uhd4k, "3840:2160"},
                  {VideoResolution::fhd1080, "1920:1080"},
                  {VideoResolution::hd720, "1280:720"});

// The raw value is the image type identifier of the written format.
enum class ImageOutputFormat { png, jpeg, webp, heic, tiff };
PERCHBOX_RAW_ENUM(ImageOutputFormat,
                  {ImageOutputFormat::png, "public.png"},
                  {ImageOutputFormat::jpeg, "public.jpeg"},
                  {ImageOutputFormat::webp, "org.webmproject.webp"},
                  {ImageOutputFormat::heic, "public.heic"},
                  {ImageOutputFormat::tiff, "public.tiff"});

// Every case but original and square keeps the image's orientation.
enum class ImageDimensionsPreset { original, square, threeByTwo, fourByThree, fiveByFour, sixteenByNine };
PERCHBOX_RAW_ENUM(ImageDimensionsPreset,
                  {ImageDimensionsPreset::original, "original"},
                  {ImageDimensionsPreset::square, "square"},
                  {ImageDimensionsPreset::threeByTwo, "3:2"},
                  {ImageDimensionsPreset::fourByThree, "4:3"},
                  {ImageDimensionsPreset::fiveByFour, "5:4"},
                  {ImageDimensionsPreset::sixteenByNine, "16:9"});

// Picker labels.
QString displayLabel(ConversionOutputMode value);
QString displayLabel(AudioOutputFormat value);
QString displayLabel(AudioSampleRate value);
QString displayLabel(AudioBitDepth value);
QString displayLabel(AudioChannels value);
QString displayLabel(VideoOutputFormat value);
QString displayLabel(ProResProfile value);
QString displayLabel(VideoQualityCRF value);
QString displayLabel(VideoFrameRate value);
QString displayLabel(VideoResolution value);
QString displayLabel(ImageOutputFormat value);
QString displayLabel(ImageDimensionsPreset value);

// Output file extensions without the dot ("wav", "mov", "jpg", …).
QString fileExtension(AudioOutputFormat value);
QString fileExtension(VideoOutputFormat value);
QString fileExtension(ImageOutputFormat value);

// False for the formats that cannot store an alpha channel (JPEG, HEIC): transparent
// pixels are flattened onto white when writing them.
bool keepsTransparency(ImageOutputFormat value);

// Numbers behind the raw values; 0 for `original` (meaning: the source's own value).
int sampleRateHz(AudioSampleRate value);
int channelCount(AudioChannels value);
int crfValue(VideoQualityCRF value);
int profileNumber(ProResProfile value);

struct FrameRateRatio {
    int numerator = 0;
    int denominator = 1;
};
// Frames per second as a ratio (24000/1001 for f2397); absent for `original`.
std::optional<FrameRateRatio> frameRateRatio(VideoFrameRate value);
// Target frame size; absent for `original`.
std::optional<QSize> targetSize(VideoResolution value);

// The bit rates (kbit/s) offered for MP3 and AAC, and their label ("192 kbps").
QList<int> offeredBitRates();
QString bitRateLabel(int kbps);

// The lenient reading of a stored image-dimensions value: accepts both orientations of a
// ratio ("9:16" is sixteenByNine), "1:1" for square and the video frame sizes; anything
// else gives nothing and the reader falls back to its own default.
std::optional<ImageDimensionsPreset> parseImageDimensions(QStringView text);

// The image formats, in declaration order, that the image library installed here can
// really write (a saver exists for the format's extension). Computed once.
// Both ask the image module (MediaBackend.h); without it no format is writable.
QList<ImageOutputFormat> writableImageFormats();

// The first writable format, or PNG when the library can write none of them.
ImageOutputFormat defaultImageOutputFormat();

// `wanted` when it is writable here, else defaultImageOutputFormat(). Loads the image module.
ImageOutputFormat writableImageFormat(ImageOutputFormat wanted);
