#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <optional>

// The vocabulary of the Convert tool: what counts as audio, video or image, what is read
// from a file before the options window opens (the probe), and how a shelf selection of
// files and folders is expanded into a flat list of media files.

enum class MediaType { audio, video, image };

// By the lower-cased file name extension; never opens the file. Nothing for other files.
std::optional<MediaType> classifyMedia(const QUrl &url);
std::optional<MediaType> classifyMediaExtension(const QString &extension);
// The extension of a path's last component, without the dot ("" when it has none).
QString mediaFileExtension(const QByteArray &path);

// Ready-made display texts, each optional; totalDurationSeconds feeds the progress bar.
struct MediaInfo {
    std::optional<QString> duration;          // "3:07" (minutes not capped at 60)
    std::optional<double> totalDurationSeconds;
    std::optional<QString> sampleRate;        // "44.1 kHz", "48 kHz"
    std::optional<QString> bitDepth;          // "24-bit"
    std::optional<QString> channels;          // "Mono", "Stereo", "5.1", "7.1", "4ch"
    std::optional<QString> audioCodec;        // "AAC", "PCM", …
    std::optional<QString> fps;               // "23.976 fps", "25 fps", "12.50 fps"
    std::optional<QString> resolution;        // "1920×1080" (displayed size after rotation)
    std::optional<QString> videoCodec;        // "H.264", "ProRes 422 HQ", …
    std::optional<QString> imageFormat;       // "PNG", "JPEG · Animated"
    std::optional<QString> colorModel;        // "RGB", "CMYK", "Gray"
    std::optional<QString> alpha;             // "Alpha"
    std::optional<QString> metadata;          // "Metadata"

    bool operator==(const MediaInfo &) const = default;
};

struct ResolvedMediaFile {
    QUuid id;
    QUrl url;
    MediaType type = MediaType::audio;
    // Path relative to the common base folder of the whole selection ("Shoot/Day1/a.wav").
    QString relativePath;
    // The same path as raw bytes (names need not be valid UTF-8); used to build output paths.
    QByteArray relativePathBytes;
    std::optional<MediaInfo> info; // absent when the probe could not read the file
    // The selection item the file came from (the item's URL as given to gatherMediaFiles):
    // the file itself, or the folder that holds it.
    QUrl sourceItem;
};

// One item of a shelf selection: its stored URL and its bookmark (may be empty).
struct MediaSourceItem {
    QUrl url;
    QByteArray bookmarkData;
};

// Expands files and folders (recursively, hidden entries skipped) into classified media
// files with relative paths and probe results. Blocking: call it off the main thread.
// `probe` = false skips probing (info stays absent). Only regular files are probed: a pipe
// or device named like media is listed but never opened (the job refuses it).
QList<ResolvedMediaFile> gatherMediaFiles(const QList<MediaSourceItem> &items, bool probe = true);

// True for a regular file (links followed): the only kind a probe or a converter opens.
// A pipe would block the reader for ever; sockets and devices are not media.
bool isRegularMediaFile(const QByteArray &path);
// What a file that is not a regular file fails with.
inline const QString kNotRegularFileMessage =
    QStringLiteral("Not a regular file (a pipe, socket or device), so it was not opened");

// Synchronous probe. Audio and video through FFmpeg, images through libvips.
std::optional<MediaInfo> probeMedia(const QUrl &url, MediaType type);

// --- display-text rules (exposed for tests and for the converters) ---
QString durationText(double seconds);                 // "%d:%02d"
std::optional<QString> sampleRateText(double hz);     // absent for hz <= 0
std::optional<QString> frameRateText(double fps);     // absent for fps <= 0
QString channelsText(int count);
QString bitDepthText(int bits);                       // "24-bit"
// Four-character format codes ('avc1', 'aac ', …) to display names; any other code is
// shown as its characters, trimmed.
QString audioCodecNameForFourCC(uint32_t fourcc);
QString videoCodecNameForFourCC(uint32_t fourcc);
constexpr uint32_t fourCC(const char (&s)[5])
{
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16)
           | (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}
// "PNG", "JPEG", "HEIC", "HEIF", "TIFF", "WebP", "BMP", else the extension upper-cased.
QString imageFormatNameForExtension(const QString &extension);
QString colorModelText(const QString &model);

// Common base folder of a list of folder paths (raw bytes, standardized, ending without
// "/" except for the root) and the relative-path rule.
QByteArray commonBaseFolder(const QList<QByteArray> &folders);
QByteArray relativePathFor(const QByteArray &filePath, const QByteArray &baseFolder);
