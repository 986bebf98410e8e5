#pragma once

#include "conversion/ConversionOptions.h"
#include "conversion/LockedFlag.h"
#include "conversion/MediaModel.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// The contract between the conversion job (ConversionExporter) and the three converters.
// The job calls one converter per file, one file after another, on a worker thread (never
// the UI thread); the converter writes exactly one file at `stagedOutput` (its parent
// folder exists; the extension is already the chosen format's) and returns when it is done.

// Every option of one conversion run. The same fields, as raw values, form a
// ConversionPreset; enumerations come from ConversionOptions.h.
struct ConversionJobOptions {
    // Audio
    AudioOutputFormat audioFormat = AudioOutputFormat::wav;
    AudioSampleRate sampleRate = AudioSampleRate::original;
    AudioBitDepth bitDepth = AudioBitDepth::original;
    AudioChannels channels = AudioChannels::original;
    int mp3Bitrate = 320; // kbps
    int aacBitrate = 256; // kbps
    // Video
    VideoOutputFormat videoFormat = VideoOutputFormat::prores;
    ProResProfile proResProfile = ProResProfile::p422hq;
    VideoQualityCRF videoCRF = VideoQualityCRF::high;
    VideoFrameRate frameRate = VideoFrameRate::original;
    VideoResolution resolution = VideoResolution::original;
    AudioChannels videoChannels = AudioChannels::original;
    bool preserveDuration = true;
    bool burnSubtitles = true;
    bool videoAsAudioOnly = false; // a video counts as audio; its audio track gets the audio options
    // Image
    ImageOutputFormat imageFormat = ImageOutputFormat::png;
    int imageQuality = 90; // 0…100, clamped by the converter
    ImageDimensionsPreset imageDimensions = ImageDimensionsPreset::original;
    bool preserveImageMetadata = true;
    bool removeImageBackground = false;
    // Output
    ConversionOutputMode outputMode = ConversionOutputMode::flatFolder;
    std::optional<QUrl> outputFolder; // required unless outputMode is overwrite
};

// Progress of the current file: media seconds processed so far and the processing speed
// in media seconds per wall-clock second (0 when unknown). May be called from any thread;
// the job forwards it to the UI thread. Converters that cannot tell (images) never call it.
using ConversionProgressHandler = std::function<void(double processedSeconds, double speed)>;

struct ConversionRequest {
    QUrl source;                    // the media file (a file URL; use FilePath::bytes for POSIX calls)
    QUrl stagedOutput;              // where to write, inside the job's staging folder
    std::optional<MediaInfo> info;  // the probe result, when there is one
    ConversionJobOptions options;
    QString lamePath;               // the MP3 encoder executable ("" when none was found)
    LockedFlagPtr cancel;           // set by the user; converters may poll it to stop early
    ConversionProgressHandler progress; // may be empty
};

struct ConversionResult {
    bool ok = false;
    QString error; // a short reason when !ok ("No audio track", "LAME exited with status 1: …")

    static ConversionResult success() { return {true, {}}; }
    static ConversionResult failure(const QString &reason) { return {false, reason}; }
};

class MediaConverter
{
public:
    virtual ~MediaConverter() = default;
    // Blocking; returns when the file is written or the conversion failed. Never throws.
    // A failed conversion leaves no file at stagedOutput (delete partial output).
    virtual ConversionResult convert(const ConversionRequest &request) = 0;
};

// Factories, one per media type, served by the media modules (MediaBackend.h). Audio: also
// used for videos with videoAsAudioOnly. When the media module cannot be loaded, the
// converters they return fail every file with the reason.
std::unique_ptr<MediaConverter> makeAudioConverter();
std::unique_ptr<MediaConverter> makeVideoConverter();
std::unique_ptr<MediaConverter> makeImageConverter();
