#pragma once

// The audio converter: the first audio stream of an audio file (or of a video converted as
// "audio only") into one WAV, AIFF, M4A (AAC) or MP3 file. WAV, AIFF and M4A are written
// in-process with FFmpeg's libraries; MP3 goes through a 16-bit WAV rendered next to the
// output and the LAME encoder run as a child process.
//
// Every entry blocks its calling thread until the file is written; run it off the UI thread.
// Progress arrives on that same thread.

#include "conversion/ConversionOptions.h"
#include "conversion/LockedFlag.h"
#include "conversion/audio/AvCommon.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The audio options of a conversion.
struct AudioConversionSettings {
    AudioOutputFormat format = AudioOutputFormat::wav;
    AudioSampleRate sampleRate = AudioSampleRate::original;
    AudioBitDepth bitDepth = AudioBitDepth::original;
    AudioChannels channels = AudioChannels::original;
    int mp3Bitrate = 320; // kbit/s
    int aacBitrate = 256; // kbit/s
};

// The target computed from the options and the source stream before any work starts.
struct ResolvedAudioTarget {
    double sampleRate = 44100;
    unsigned channels = 2;
    AudioBitDepth bitDepth = AudioBitDepth::b16; // never `original` once resolved
    int64_t aacBitsPerSecond = 256000;
    int mp3Kbps = 320;

    int bits() const { return bitDepth == AudioBitDepth::b24 ? 24 : bitDepth == AudioBitDepth::b32f ? 32 : 16; }
    bool isFloat() const { return bitDepth == AudioBitDepth::b32f; }
};

ResolvedAudioTarget resolveAudioTarget(const av::AudioSourceFacts &source, AudioSampleRate sampleRate,
                                       AudioChannels channels, AudioBitDepth bitDepth, int aacBitrateKbps = 256,
                                       int mp3BitrateKbps = 320);
ResolvedAudioTarget resolveAudioTarget(const av::AudioSourceFacts &source, const AudioConversionSettings &settings);

// The PCM codec for a bit depth and byte order: s16/s24 integer or 32-bit float.
AVCodecID pcmCodecFor(AudioBitDepth resolved, bool bigEndian);

enum class PcmFileType { wave, aiff };

// Decodes the first audio stream of `sourcePath` and writes it as linear PCM (little-endian
// WAV or big-endian AIFF) at the given rate, channel count and bit depth.
ConversionResult renderAudioTrackToPCMFile(const QByteArray &sourcePath, const QByteArray &outputPath,
                                           PcmFileType fileType, double sampleRate, unsigned channels,
                                           AudioBitDepth bitDepth, const LockedFlagPtr &cancel,
                                           const ConversionProgress &onProgress);

// Encodes the first audio stream of `sourcePath` as AAC at `aacBitsPerSecond` in an M4A file.
ConversionResult transcodeAudioTrackToM4A(const QByteArray &sourcePath, const QByteArray &outputPath,
                                          double sampleRate, unsigned channels, int64_t aacBitsPerSecond,
                                          const LockedFlagPtr &cancel, const ConversionProgress &onProgress);

// The LAME command line, in order: display and tag switches, constant bit rate, then the
// resampling and channel-mode switches of the options, then input and output paths.
QStringList lameArguments(const QString &inputPath, const QString &outputPath, AudioSampleRate sampleRate,
                          AudioChannels channels, int mp3BitrateKbps);

// One line of LAME's console output turned into a progress report for a file of
// `durationSeconds`: processed seconds (the encoder is the second half of an MP3
// conversion) and speed. Nothing for lines without progress or an unknown duration.
struct LameProgress {
    double processedSeconds = 0;
    double speed = 0;
};
std::optional<LameProgress> parseLameProgressLine(const QString &line, double durationSeconds);

// Runs the LAME executable at `lamePath` from `inputWav` to `outputMp3`. On failure the
// error holds the encoder's console output.
ConversionResult runLAME(const QString &lamePath, const QByteArray &inputWav, AudioSampleRate sampleRate,
                         AudioChannels channels, int mp3BitrateKbps, double durationSeconds,
                         const QByteArray &outputMp3, const LockedFlagPtr &cancel,
                         const ConversionProgress &onProgress);

// The converter the media module hands to the conversion job (makeAudioConverter() in
// MediaConverter.h reaches it through the media backend).
std::unique_ptr<MediaConverter> makeLibavAudioConverter();

// The audio entry used by that converter: one source file into one staged output file.
// A failed or cancelled conversion leaves nothing at `stagedOutput` (and no intermediate).
ConversionResult convertAudioFile(const QUrl &source, const AudioConversionSettings &settings,
                                  const QUrl &stagedOutput, const QString &lamePath,
                                  const LockedFlagPtr &cancel, const ConversionProgress &onProgress);

// The audio part of the job's options.
AudioConversionSettings audioSettingsFrom(const ConversionJobOptions &options);
