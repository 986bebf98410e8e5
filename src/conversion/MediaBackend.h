#pragma once

#include "conversion/MediaConverter.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// What needs the media libraries lives in two modules of its own, each loaded the first
// time one of its functions is needed, so that starting the program does not map the two
// hundred libraries they pull in, and converting audio or video does not map the image
// libraries (nor the other way round):
//   "libperchbox-av.so"     FFmpeg: the audio and video probe and converters
//   "libperchbox-image.so"  libvips, libheif and OpenCV: the image probe and converter, the
//                           writable image formats and background removal
// Programs that link the media code directly (tests, benchmarks) register the tables at
// start-up instead.
// A small picture of a file for its thumbnail: 8-bit RGBA, rows packed (width × 4 bytes).
struct ThumbnailPixels {
    int width = 0;
    int height = 0;
    QByteArray rgba;
};

struct AvBackend {
    int abiVersion;
    int structSize;
    std::optional<MediaInfo> (*probe)(const QUrl &url, MediaType type);
    std::unique_ptr<MediaConverter> (*makeAudioConverter)();
    std::unique_ptr<MediaConverter> (*makeVideoConverter)();
    // A frame of the video at `path` (raw bytes), upright, scaled down to fit maxSide.
    bool (*videoThumbnail)(const QByteArray &path, int maxSide, ThumbnailPixels *out, QString *error);
};

struct ImageBackend {
    int abiVersion;
    int structSize;
    std::optional<MediaInfo> (*probe)(const QUrl &url);
    std::unique_ptr<MediaConverter> (*makeImageConverter)();
    QList<ImageOutputFormat> (*writableImageFormats)();
    bool (*backgroundRemovalAvailable)();
    QString (*backgroundRemovalUnavailableHint)();
    void (*warmUpBackgroundRemoval)(); // blocking: loads the network
    // The image at `path` (raw bytes; any format libvips reads, HEIC included), upright,
    // scaled down to fit maxSide.
    bool (*imageThumbnail)(const QByteArray &path, int maxSide, ThumbnailPixels *out, QString *error);
};

inline constexpr int kMediaBackendAbi = 4;

enum class MediaModule { av, image };

// The module that serves files of `type`.
MediaModule mediaModuleFor(MediaType type);
// "libperchbox-av.so" or "libperchbox-image.so".
QString mediaModuleFileName(MediaModule module);

// The registered table, else the module loaded on first call (thread-safe, blocking: the
// first call maps the media libraries). Null when the module cannot be loaded; the reason is
// printed once on stderr and kept in mediaModuleError().
const AvBackend *avBackend();
const ImageBackend *imageBackend();
// Loads `module` (as above); true when it is available.
bool loadMediaModule(MediaModule module);
QString mediaModuleError(MediaModule module);
// True once `module` is available without loading anything.
bool mediaModuleReady(MediaModule module);

// Calls `ready` on `context`'s thread once loading `module` has been tried (at once when it
// is loaded already; else after trying on the thread pool): mediaModuleReady() tells how it
// went. Not called when `context` is gone first.
class QObject;
void whenMediaModuleReady(MediaModule module, QObject *context, std::function<void()> ready);

// "Remove background" needs the image module and the segmentation model.
bool backgroundRemovalAvailable();
QString backgroundRemovalUnavailableHint();
// Loads the segmentation network on the thread pool ahead of a conversion that will need it
// (loading it and its first pass take seconds), or keeps a loaded one from being freed as
// unused. Returns at once; one warm-up at a time.
void warmUpBackgroundRemoval();

// Makes `backend` the table avBackend() / imageBackend() return (for programs linked with
// the media code).
void registerAvBackend(const AvBackend *backend);
void registerImageBackend(const ImageBackend *backend);

// Where the loader looks for a module (ModuleFolders::candidates).
QStringList mediaModuleCandidates(MediaModule module);
