#pragma once

// The video converter: one video file re-encoded into a QuickTime movie with ProRes or an
// MPEG-4 file with H.264 or HEVC, upright after the stream's display rotation, optionally
// scaled into a 4K, 1080p or 720p box and put on a constant frame grid, with its first audio
// track carried along as PCM or AAC and sidecar subtitles optionally burnt in.
//
// The entry blocks its calling thread until the file is written; run it off the UI thread.

#include "conversion/ConversionOptions.h"
#include "conversion/LockedFlag.h"
#include "conversion/audio/AvCommon.h"

#include <QByteArray>
#include <QUrl>

#include <cstdint>
#include <optional>

// The video options of a conversion, plus the audio-section values that shape the audio
// track of the video.
struct VideoConversionSettings {
    VideoOutputFormat format = VideoOutputFormat::h264;
    ProResProfile proResProfile = ProResProfile::p422hq;
    VideoQualityCRF quality = VideoQualityCRF::high;
    VideoFrameRate frameRate = VideoFrameRate::original;
    VideoResolution resolution = VideoResolution::original;
    AudioChannels videoChannels = AudioChannels::original;
    bool preserveDuration = true;
    bool burnSubtitles = false;

    AudioOutputFormat audioFormat = AudioOutputFormat::wav;
    AudioSampleRate audioSampleRate = AudioSampleRate::original;
    AudioBitDepth audioBitDepth = AudioBitDepth::original;
    int aacBitrate = 256; // kbit/s
};

// Displayed and output size of a video.
struct VideoGeometry {
    int displayWidth = 0;   // after the rotation
    int displayHeight = 0;
    int outputWidth = 0;    // scaled into the target box, even, at least 2
    int outputHeight = 0;
    int rotation = 0;       // clockwise quarter turns applied to the decoded picture, in degrees
    bool valid() const { return outputWidth > 0 && outputHeight > 0; }
};

// Clockwise rotation (0, 90, 180 or 270) that makes a picture with this display matrix
// upright; 0 without a matrix.
int uprightRotation(const int32_t *displayMatrix);

VideoGeometry computeVideoGeometry(int naturalWidth, int naturalHeight, int rotation, VideoResolution resolution);

// Average bit rate (bits per second) for H.264 and HEVC.
int64_t averageVideoBitRate(VideoOutputFormat format, VideoQualityCRF quality, int width, int height, double fps);

// The frame rate the bit rate is computed for: the target when one is chosen, else the
// nominal rate, else 30.
double frameRateForBitRate(VideoFrameRate target, double nominalRate);

// The sidecar subtitle file next to a video: same base name with srt, ass, ssa or vtt,
// tried in that order. Empty when there is none.
QByteArray findSubtitleSidecar(const QByteArray &videoPath);

// The converter the media module hands to the conversion job (makeVideoConverter() in
// MediaConverter.h reaches it through the media backend).
std::unique_ptr<MediaConverter> makeLibavVideoConverter();

// The video entry used by that converter: one source file into one staged output file.
// A failed or cancelled conversion leaves nothing at `stagedOutput`.
ConversionResult convertVideoFile(const QUrl &source, const VideoConversionSettings &settings,
                                  const QUrl &stagedOutput, const LockedFlagPtr &cancel,
                                  const ConversionProgress &onProgress);

// The video part of the job's options (with the audio-section values its audio track uses).
VideoConversionSettings videoSettingsFrom(const ConversionJobOptions &options);
