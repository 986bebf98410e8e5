// vips (glib) before Qt: gio uses "signals" as a name.
#include <vips/vips.h>

#include "conversion/image/BackgroundRemover.h"
#include "conversion/ModuleFolders.h"
#include "conversion/image/RemovalHelperProcess.h"
#include "conversion/image/RemovalProtocol.h"
#include "conversion/image/SegmentationNetwork.h"
#include "conversion/VipsSupport.h"
#include "conversion/model/BackgroundModel.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <cstdio>
#include <string>

#ifdef PERCHBOX_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace BackgroundRemover {

namespace {

constexpr int kSide = SegmentationNetwork::kSide; // the network's input and output size
constexpr double kSubjectThreshold = 0.5; // mask value counted as subject
constexpr double kMinSubjectShare = 0.001; // below this share of the frame: no subject

} // namespace

QString modelPath()
{
#ifdef PERCHBOX_HAVE_OPENCV
    return BackgroundModel::installedPath();
#else
    return {};
#endif
}

bool isAvailable()
{
    return !modelPath().isEmpty();
}

QString unavailableHint()
{
#ifdef PERCHBOX_HAVE_OPENCV
    return QStringLiteral("The background-removal model is not installed. It can be downloaded from the "
                          "Convert panel, beside \"Remove background\" (the README says more).");
#else
    return QStringLiteral("This copy of Perchbox was built without background removal.");
#endif
}

#ifdef PERCHBOX_HAVE_OPENCV
namespace {

// The network runs in the helper process where one can be started (see RemovalHelperProcess),
// else in this process.
struct Network {
    QMutex mutex;
    RemovalHelperProcess helper;
    SegmentationNetwork local;

    // A loaded network holds some 600 MB; it goes once unused for idleRelease. Guarded by
    // idleMutex; taken after `mutex` where both are held.
    std::mutex idleMutex;
    std::condition_variable idleWake;
    bool loaded = false;
    std::chrono::steady_clock::time_point lastUse;
    std::chrono::milliseconds idleRelease{kDefaultIdleRelease};
    std::once_flag releaserStarted;

    // Call with the mutex held.
    bool inMemory() { return helper.isRunning() || local.isLoaded(); }
    void release()
    {
        helper.stop();
        local.release();
    }
};

// The helper program, or "" when none is installed beside the media modules.
QString helperProgram()
{
    for (const QString &path : ModuleFolders::candidates(QString::fromLatin1(RemovalProtocol::kHelperFileName))) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return {};
}

// Makes sure the helper runs on `path` (it starts loading by itself); false when it cannot be
// started, and the network then runs here. Call with the mutex held.
bool useHelper(Network &n, const QString &path)
{
    const std::string model = QFile::encodeName(path).toStdString();
    if (n.helper.isRunning() && n.helper.model() == model)
        return true;
    const QString program = helperProgram();
    if (program.isEmpty())
        return false;
    n.local.release();
    std::string error;
    if (!n.helper.start(QFile::encodeName(program).toStdString(), model, &error)) {
        std::fprintf(stderr, "perchbox: %s; removing backgrounds in this process\n", error.c_str());
        return false;
    }
    return true;
}

// Runs the network in the helper. A helper killed from outside while idle (to free memory,
// say) is often found gone only when asked, even just after it was seen running, since a
// large process takes a moment to end; the request then goes once more to a new helper. A
// second loss, or a helper that stopped by itself, fails the removal. Call with the mutex held.
bool removeInHelper(Network &n, const QString &path, const uint8_t *rgb, float *mask, std::string *why)
{
    if (n.helper.remove(rgb, mask, why))
        return true;
    if (!n.helper.lastEndedBySignal() || !useHelper(n, path))
        return false;
    return n.helper.remove(rgb, mask, why);
}

Network &network()
{
    // Never destroyed: the releasing thread may still wait on it while the process exits.
    static Network *n = new Network;
    return *n;
}

// Runs on a thread of its own: frees the network once it has not been used for idleRelease.
void releaseWhenIdle(Network &n)
{
    for (;;) {
        {
            std::unique_lock lock(n.idleMutex);
            n.idleWake.wait(lock, [&n] { return n.loaded; });
            const auto due = n.lastUse + n.idleRelease;
            if (n.idleWake.wait_until(lock, due, [&n, due] { return !n.loaded || n.lastUse + n.idleRelease != due; }))
                continue; // used again (or the period changed) meanwhile
        }
        QMutexLocker networkLock(&n.mutex); // waits for a pass that is running
        {
            std::lock_guard lock(n.idleMutex);
            if (!n.loaded || std::chrono::steady_clock::now() < n.lastUse + n.idleRelease)
                continue;
        }
        // Loaded until it is gone (the helper ended and reaped); no use can come in between,
        // the network's mutex is held.
        n.release();
        std::lock_guard lock(n.idleMutex);
        n.loaded = false;
    }
}

// Call with n.mutex held, after each use of the network.
void markUsed(Network &n)
{
    {
        std::lock_guard lock(n.idleMutex);
        n.lastUse = std::chrono::steady_clock::now();
        n.loaded = n.inMemory();
    }
    n.idleWake.notify_all();
    std::call_once(n.releaserStarted, [&n] { std::thread([&n] { releaseWhenIdle(n); }).detach(); });
}

// Marks the network used when it goes out of scope, also when loading or the pass failed.
// Declare it after the lock on the network's mutex.
struct UseMark {
    Network &n;
    ~UseMark() { markUsed(n); }
};

// Unref helper for the intermediate vips images.
struct Unref {
    void operator()(VipsImage *image) const { if (image) g_object_unref(image); }
};
using ImagePtr = std::unique_ptr<VipsImage, Unref>;

bool vipsFailed(QString *error)
{
    if (error)
        *error = QString::fromUtf8(vips_error_buffer()).trimmed();
    vips_error_clear();
    return false;
}

Outcome failed(QString *error)
{
    vipsFailed(error);
    return Outcome::failed;
}

// Squashes the colour bands of `in` to kSide × kSide 8-bit RGB.
bool networkInput(VipsImage *in, cv::Mat &rgb, QString *error)
{
    VipsImage *t = nullptr;
    if (vips_colourspace(in, &t, VIPS_INTERPRETATION_sRGB, nullptr))
        return vipsFailed(error);
    ImagePtr srgb(t);
    if (vips_extract_band(srgb.get(), &t, 0, "n", 3, nullptr))
        return vipsFailed(error);
    ImagePtr bands(t);
    const double hs = double(kSide) / vips_image_get_width(in);
    const double vs = double(kSide) / vips_image_get_height(in);
    if (vips_resize(bands.get(), &t, hs, "vscale", vs, nullptr))
        return vipsFailed(error);
    ImagePtr small(t);
    if (vips_cast_uchar(small.get(), &t, nullptr))
        return vipsFailed(error);
    ImagePtr bytes(t);
    // Rounding in resize may leave a pixel more or less; pin the size exactly.
    if (vips_image_get_width(bytes.get()) != kSide || vips_image_get_height(bytes.get()) != kSide) {
        if (vips_embed(bytes.get(), &t, 0, 0, kSide, kSide, "extend", VIPS_EXTEND_COPY, nullptr))
            return vipsFailed(error);
        bytes.reset(t);
    }
    size_t size = 0;
    void *data = vips_image_write_to_memory(bytes.get(), &size);
    if (!data || size != size_t(kSide) * kSide * 3) {
        g_free(data);
        return vipsFailed(error);
    }
    rgb = cv::Mat(kSide, kSide, CV_8UC3, data).clone();
    g_free(data);
    return true;
}

} // namespace
#endif

void startLoading()
{
#ifdef PERCHBOX_HAVE_OPENCV
    const QString path = modelPath();
    if (path.isEmpty())
        return;
    static std::atomic<bool> loading{false};
    if (loading.exchange(true))
        return;
    std::thread([path] {
        Network &n = network();
        QMutexLocker lock(&n.mutex);
        const UseMark mark{n};
        if (!useHelper(n, path)) // the helper loads by itself
            n.local.load(QFile::encodeName(path).toStdString(), nullptr); // a failure is reported by the removal
        loading = false;
    }).detach();
#endif
}

void warmUp()
{
#ifdef PERCHBOX_HAVE_OPENCV
    const QString path = modelPath();
    if (path.isEmpty())
        return;
    Network &n = network();
    QMutexLocker lock(&n.mutex);
    const UseMark mark{n};
    // A failure is reported by the conversion itself.
    if (useHelper(n, path))
        n.helper.load(nullptr);
    else
        n.local.load(QFile::encodeName(path).toStdString(), nullptr);
#endif
}

bool isLoaded()
{
#ifdef PERCHBOX_HAVE_OPENCV
    Network &n = network();
    std::lock_guard lock(n.idleMutex);
    return n.loaded;
#else
    return false;
#endif
}

qint64 helperProcessId()
{
#ifdef PERCHBOX_HAVE_OPENCV
    Network &n = network();
    QMutexLocker lock(&n.mutex);
    return n.helper.isRunning() ? qint64(n.helper.processId()) : 0;
#else
    return 0;
#endif
}

void setIdleRelease(std::chrono::milliseconds period)
{
#ifdef PERCHBOX_HAVE_OPENCV
    Network &n = network();
    {
        std::lock_guard lock(n.idleMutex);
        n.idleRelease = period;
    }
    n.idleWake.notify_all();
#else
    Q_UNUSED(period);
#endif
}

Outcome removeBackground(VipsImage *upright, VipsImage **out, QString *error)
{
#ifndef PERCHBOX_HAVE_OPENCV
    Q_UNUSED(upright);
    Q_UNUSED(out);
    if (error)
        *error = unavailableHint();
    return Outcome::unavailable;
#else
    const QString path = modelPath();
    if (path.isEmpty()) {
        if (error)
            *error = unavailableHint();
        return Outcome::unavailable;
    }
    const int width = vips_image_get_width(upright), height = vips_image_get_height(upright);
    if (width <= 0 || height <= 0)
        return Outcome::failed;

    cv::Mat rgb;
    if (!networkInput(upright, rgb, error))
        return Outcome::failed;

    cv::Mat mask(kSide, kSide, CV_32F);
    {
        Network &n = network();
        QMutexLocker lock(&n.mutex);
        const UseMark mark{n};
        std::string why;
        const bool ok = useHelper(n, path)
                            ? removeInHelper(n, path, rgb.ptr<uint8_t>(), mask.ptr<float>(), &why)
                            : n.local.run(QFile::encodeName(path).toStdString(), rgb.ptr<uint8_t>(), mask.ptr<float>(), &why);
        if (!ok) {
            if (error)
                *error = QString::fromStdString(why).trimmed();
            return Outcome::failed;
        }
    }

    cv::Mat mask8;
    mask.convertTo(mask8, CV_8U, 255.0); // saturates outside [0, 1]
    const int subject = cv::countNonZero(mask > kSubjectThreshold);
    if (subject < kMinSubjectShare * kSide * kSide)
        return Outcome::noSubject;

    // Mask back to the full frame, then it becomes (or limits) the alpha band.
    VipsImage *t = vips_image_new_from_memory_copy(mask8.data, mask8.total(), kSide, kSide, 1, VIPS_FORMAT_UCHAR);
    if (!t)
        return failed(error);
    ImagePtr small(t);
    if (vips_resize(small.get(), &t, double(width) / kSide, "vscale", double(height) / kSide,
                    "kernel", VIPS_KERNEL_LINEAR, nullptr))
        return failed(error);
    ImagePtr big(t);
    if (vips_image_get_width(big.get()) != width || vips_image_get_height(big.get()) != height) {
        if (vips_embed(big.get(), &t, 0, 0, width, height, "extend", VIPS_EXTEND_COPY, nullptr))
            return failed(error);
        big.reset(t);
    }

    // Colour bands of the source, in its own format; the mask is scaled to that format's range.
    VipsImage *src = upright;
    ImagePtr colour;
    ImagePtr oldAlpha;
    if (vips_image_hasalpha(upright)) {
        const int bands = vips_image_get_bands(upright);
        if (vips_extract_band(upright, &t, 0, "n", bands - 1, nullptr))
            return failed(error);
        colour.reset(t);
        if (vips_extract_band(upright, &t, bands - 1, nullptr))
            return failed(error);
        oldAlpha.reset(t);
        src = colour.get();
    }
    const double maxValue = VipsSupport::maxAlpha(upright);
    if (vips_linear1(big.get(), &t, maxValue / 255.0, 0.0, nullptr))
        return failed(error);
    ImagePtr alpha(t);
    if (oldAlpha) {
        // Keep pixels that were already transparent transparent.
        VipsImage *less = nullptr;
        if (vips_less(alpha.get(), oldAlpha.get(), &less, nullptr))
            return failed(error);
        ImagePtr cond(less);
        if (vips_ifthenelse(cond.get(), alpha.get(), oldAlpha.get(), &t, nullptr))
            return failed(error);
        alpha.reset(t);
    }
    if (vips_cast(alpha.get(), &t, vips_image_get_format(src), nullptr))
        return failed(error);
    alpha.reset(t);
    if (vips_bandjoin2(src, alpha.get(), &t, nullptr))
        return failed(error);
    // Keep the interpretation (a 2-band grey image stays grey with alpha).
    *out = t;
    return Outcome::masked;
#endif
}

} // namespace BackgroundRemover
