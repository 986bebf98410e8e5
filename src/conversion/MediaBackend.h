#pragma once

#include "conversion/MediaConverter.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// What needs the media libraries (FFmpeg, libvips, libheif, OpenCV): the probe, the three
// converters and the list of writable image formats. They live in a module of their own,
// "libperchbox-media.so", loaded the first time one of them is needed, so that starting the
// program does not map the two hundred libraries those pull in. Programs that link the
// media library directly (tests, benchmarks) register it at start-up instead.
struct MediaBackend {
    int abiVersion;
    int structSize;
    std::optional<MediaInfo> (*probe)(const QUrl &url, MediaType type);
    std::unique_ptr<MediaConverter> (*makeAudioConverter)();
    std::unique_ptr<MediaConverter> (*makeVideoConverter)();
    std::unique_ptr<MediaConverter> (*makeImageConverter)();
    QList<ImageOutputFormat> (*writableImageFormats)();
    bool (*backgroundRemovalAvailable)();
    QString (*backgroundRemovalUnavailableHint)();
    void (*warmUpBackgroundRemoval)(); // blocking: loads the network and runs it once
};

inline constexpr int kMediaBackendAbi = 2;
inline constexpr char kMediaModuleFileName[] = "libperchbox-media.so";
inline constexpr char kMediaModuleEntry[] = "perchbox_media_backend";

// The registered backend, else the module loaded on first call (thread-safe, blocking: the
// first call maps the media libraries). Null when the module cannot be loaded; the reason is
// printed once on stderr and kept in mediaBackendError().
const MediaBackend *mediaBackend();
QString mediaBackendError();
// True once a backend is available without loading anything.
bool mediaBackendReady();

// Calls `ready` on `context`'s thread once loading the backend has been tried (at once when it
// is loaded already; else after trying on the thread pool): mediaBackendReady() tells how it
// went. Not called when `context` is gone first.
class QObject;
void whenMediaBackendReady(QObject *context, std::function<void()> ready);

// "Remove background" needs the media module and the segmentation model.
bool backgroundRemovalAvailable();
QString backgroundRemovalUnavailableHint();
// Loads the segmentation network on the thread pool ahead of a conversion that will need it
// (loading it and its first pass take seconds). Returns at once; one warm-up at a time.
void warmUpBackgroundRemoval();

// Makes `backend` the one mediaBackend() returns (for programs linked with the media code).
void registerMediaBackend(const MediaBackend *backend);

// Where the loader looks for the module: $PERCHBOX_MEDIA_MODULE alone when it is set, else
// the folder of the running executable, then the installed module folder.
QStringList mediaModuleCandidates();
