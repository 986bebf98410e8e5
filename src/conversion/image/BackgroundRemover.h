#pragma once

#include <QString>

#include <chrono>

typedef struct _VipsImage VipsImage;

// "Remove background" on Linux: a salient-object segmentation network (ISNet, converted
// to fp32 ONNX by scripts/fetch-model.sh) run through OpenCV's DNN module. The mask the
// network produces, scaled back to the full frame, becomes the image's alpha channel.
//
// The model file "isnet-fp32.onnx" is looked up as BackgroundModel (conversion/model/) says.
namespace BackgroundRemover {

// The model file, or "" when none is installed (or the build has no OpenCV).
QString modelPath();
bool isAvailable();
// Why "Remove background" cannot run and how to get it, in the user's terms, when
// isAvailable() is false (shown in the options window and in each file's failure).
QString unavailableHint();

// Starts loading the network on a thread of its own and returns at once (nothing when it is
// loaded or loading already). A removal about to run calls it before decoding its image, so that
// the two overlap; removeBackground() then waits for the load to finish.
void startLoading();

// Loads the network ahead of a removal (or keeps a loaded one from being freed as unused), so
// that the next removeBackground() does not wait for the model to be read. Blocking; does
// nothing when unavailable. It does not run the network: a pass takes seconds on every core,
// and a removal asked for meanwhile (the click right after the selection) would wait for it;
// the first real pass costs a little more instead (OpenCV sets its layers up then).
void warmUp();

// The loaded network holds some 600 MB; it is freed once unused for this long, and loaded
// again by the next removal.
inline constexpr std::chrono::milliseconds kDefaultIdleRelease{120000};
void setIdleRelease(std::chrono::milliseconds period);
// True while the network is in memory.
bool isLoaded();
// The process id of the helper process that runs the network, or 0 when the network runs in
// this process or not at all (for the benchmarks and tests).
qint64 helperProcessId();

enum class Outcome { masked, noSubject, unavailable, failed };

// Masks `upright` (any band count and format). On `masked`, *out holds the full frame with
// an alpha band that is transparent outside the subject; otherwise *out is untouched.
// Thread-safe (one network pass at a time).
Outcome removeBackground(VipsImage *upright, VipsImage **out, QString *error = nullptr);

} // namespace BackgroundRemover
