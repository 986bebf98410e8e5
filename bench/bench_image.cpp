// Image conversion figures: one 12-megapixel JPEG (orientation 6) to PNG, JPEG, WebP,
// HEIC and TIFF against the vips command-line tool doing the same conversion (autorot and
// save), HEIC also against heif-enc; a batch through the conversion job; background
// removal of one 12-megapixel photo (time and peak memory). Prints; asserts nothing.
#include <vips/vips.h>

#include "conversion/ConversionExporter.h"
#include "conversion/VipsSupport.h"
#include "conversion/image/BackgroundRemover.h"
#include "conversion/image/ImageConverter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <ctime>
#include <string>

#include <sys/resource.h>

namespace {

double runTool(const QString &program, const QStringList &args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::printf("  (%s failed: %s)\n", qPrintable(program), p.readAll().left(200).constData());
        return -1;
    }
    return t.elapsed() / 1000.0;
}

long peakRssMB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

bool makePhoto(const QString &path, int w, int h)
{
    // Smoothed noise with a gradient: compresses roughly like a photo.
    VipsImage *noise = nullptr, *blur = nullptr, *grad = nullptr, *sum = nullptr, *u8 = nullptr;
    if (vips_gaussnoise(&noise, w, h, "mean", 128.0, "sigma", 40.0, nullptr))
        return false;
    VipsImage *bands[3] = {noise, noise, noise};
    VipsImage *rgb = nullptr;
    vips_bandjoin(bands, &rgb, 3, nullptr);
    vips_gaussblur(rgb, &blur, 1.5, nullptr);
    vips_xyz(&grad, w, h, nullptr);
    VipsImage *gx = nullptr;
    vips_extract_band(grad, &gx, 0, nullptr);
    VipsImage *gs = nullptr;
    vips_linear1(gx, &gs, 60.0 / w, -30.0, nullptr);
    vips_add(blur, gs, &sum, nullptr);
    vips_cast_uchar(sum, &u8, nullptr);
    VipsImage *out = nullptr;
    vips_copy(u8, &out, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr);
    vips_image_set_int(out, VIPS_META_ORIENTATION, 6);
    const int rc = vips_jpegsave(out, QFile::encodeName(path).constData(), "Q", 92, nullptr);
    for (VipsImage *i : {noise, rgb, blur, grad, gx, gs, sum, u8, out})
        if (i)
            g_object_unref(i);
    return rc == 0;
}

// Empties the operation cache (keeping it usable), so that no run reuses the decoded input
// of the run before.
void dropVipsCache()
{
    const int max = vips_cache_get_max();
    vips_cache_set_max(0);
    vips_cache_set_max(max);
}

// The vips CLI's save options for the settings our converter writes with.
QString referenceSaveOptions(ImageOutputFormat f)
{
    switch (f) {
    case ImageOutputFormat::jpeg:
    case ImageOutputFormat::webp:
    case ImageOutputFormat::heic: return QStringLiteral("[Q=90]");
    case ImageOutputFormat::png: return QStringLiteral("[compression=3,filter=all]");
    case ImageOutputFormat::tiff: break;
    }
    return {};
}

qint64 sizeKB(const QString &path)
{
    return QFileInfo(path).size() / 1024;
}

std::string loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return "?";
    return f.readAll().split(' ').mid(0, 3).join(' ').toStdString();
}

// The peak resident memory of the background-removal helper, or -1 when none runs.
long helperPeakRssMB()
{
    const qint64 pid = BackgroundRemover::helperProcessId();
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (pid <= 0 || !status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &row : status.readAll().split('\n'))
        if (row.startsWith("VmHWM:"))
            return row.mid(6).trimmed().split(' ').value(0).toLong() / 1024;
    return -1;
}

// Frees the network (ends the helper) and waits until it is gone.
void releaseNetwork()
{
    BackgroundRemover::setIdleRelease(std::chrono::milliseconds(1));
    QElapsedTimer t;
    t.start();
    while (BackgroundRemover::isLoaded() && t.elapsed() < 10000)
        QThread::msleep(20);
    BackgroundRemover::setIdleRelease(BackgroundRemover::kDefaultIdleRelease);
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
#ifdef PERCHBOX_HELPER_DIR
    // The background-removal helper of this build, where an installed program finds it.
    if (qEnvironmentVariableIsEmpty("PERCHBOX_MODULE_DIR"))
        qputenv("PERCHBOX_MODULE_DIR", PERCHBOX_HELPER_DIR);
#endif
    VipsSupport::ensureStarted();
    QTemporaryDir dir;
    const QString photo = dir.filePath("photo.jpg");
    const int W = 4000, H = 3000;
    if (!makePhoto(photo, W, H)) {
        std::printf("could not make the test photo\n");
        return 1;
    }
    std::printf("input: %dx%d JPEG (12 MP), orientation 6, %lld KB\n", W, H, QFile(photo).size() / 1024);
    const bool haveVips = !QStandardPaths::findExecutable("vips").isEmpty();
    const int batch = qEnvironmentVariableIntValue("BENCH_IMAGE_BATCH") > 0 ? qEnvironmentVariableIntValue("BENCH_IMAGE_BATCH") : 10;

    // Background removal first, so that the peak memory figure is its own.
    if (BackgroundRemover::isAvailable()) {
        const long before = peakRssMB();
        std::printf("\nload average before the cold removal: %s\n", loadAverage().c_str());
        // The photo into a PNG with its background removed, as `name` in the work folder.
        const auto cutOut = [&](const QString &name) {
            return runImageConversion(QUrl::fromLocalFile(photo), ImageOutputFormat::png, 90,
                                      ImageDimensionsPreset::original, true, true,
                                      QUrl::fromLocalFile(dir.filePath(name))).has_value();
        };
        QElapsedTimer t;
        t.start();
        const double cpuBefore = processCpuSeconds();
        const bool ok = cutOut(QStringLiteral("cut.png"));
        const double cold = t.elapsed() / 1000.0;
        const long helperPeak = helperPeakRssMB();
        std::printf("background removal, cold (model load in the helper process, overlapping the decode, + first pass + "
                    "mask + PNG write): %.2f s %s (CPU %.2f s in this process), peak RSS %ld MB here (before %ld MB), "
                    "%s  [target < 5 s, < 1.5 GB]\n",
                    cold, ok ? "" : "(FAILED)", processCpuSeconds() - cpuBefore, peakRssMB(), before,
                    helperPeak < 0 ? "no helper (the network ran in this process)"
                                   : qPrintable(QStringLiteral("%1 MB in the helper").arg(helperPeak)));
        std::printf("load average after: %s\n", loadAverage().c_str());
        // The command line: a process of its own, the network read cold each time (by a helper
        // of its own).
        const QString presetFile = dir.filePath("cut.json");
        QFile preset(presetFile);
        if (preset.open(QIODevice::WriteOnly)) {
            preset.write(R"({"name": "Cut out", "audioFormat": "mp3", "sampleRate": "44100", "bitDepth": "16",
                "channels": "stereo", "mp3Bitrate": 192, "aacBitrate": 192, "videoFormat": "mp4",
                "proResProfile": "3", "videoCRF": "23", "frameRate": "original", "resolution": "original",
                "videoChannels": "stereo", "preserveDuration": true, "burnSubtitles": false,
                "videoAsAudioOnly": false, "imageFormat": "public.png", "removeImageBackground": true,
                "outputMode": "separate"})");
            preset.close();
            std::vector<double> runs;
            for (int i = 0; i < 3; ++i) {
                const double s = runTool(QStringLiteral(PERCHBOX_EXECUTABLE),
                                         {QStringLiteral("run"), QStringLiteral("convert"), QStringLiteral("--preset-file"),
                                          presetFile, QStringLiteral("-o"), dir.filePath(QStringLiteral("cli%1").arg(i)),
                                          QStringLiteral("--"), photo});
                if (s > 0)
                    runs.push_back(s);
            }
            std::sort(runs.begin(), runs.end());
            if (!runs.empty())
                std::printf("background removal, cold, from the command line (perchbox run convert, a new process): "
                            "median %.2f s of %zu  [target < 5 s]\n", runs[runs.size() / 2], runs.size());
            std::printf("load average after: %s\n", loadAverage().c_str());
        }
        dropVipsCache();
        t.restart();
        cutOut(QStringLiteral("cut2.png"));
        const double warm = t.elapsed() / 1000.0;
        dropVipsCache();
        t.restart();
        runImageConversion(QUrl::fromLocalFile(photo), ImageOutputFormat::png, 90, ImageDimensionsPreset::original,
                           true, false, QUrl::fromLocalFile(dir.filePath("plain.png")));
        const double plain = t.elapsed() / 1000.0;
        std::printf("background removal, again (the network loaded and set up by the run before): %.2f s,\n"
                    "  of which the same PNG conversion without removal takes %.2f s: removal itself %.2f s\n",
                    warm, plain, warm - plain);
        // The same cold removal with the network in this process (what runs where the helper
        // cannot be started): the large blocks of the model's importer come in 4 KB pages here.
        releaseNetwork();
        const QByteArray moduleDir = qgetenv("PERCHBOX_MODULE_DIR");
        qputenv("PERCHBOX_MODULE_DIR", QFile::encodeName(dir.filePath(QStringLiteral("no-helper"))));
        dropVipsCache();
        t.restart();
        const bool okHere = cutOut(QStringLiteral("cut-here.png"));
        std::printf("background removal, cold, the network in this process (no helper): %.2f s %s, peak RSS %ld MB\n",
                    t.elapsed() / 1000.0, okHere ? "" : "(FAILED)", peakRssMB());
        releaseNetwork();
        if (moduleDir.isEmpty())
            qunsetenv("PERCHBOX_MODULE_DIR");
        else
            qputenv("PERCHBOX_MODULE_DIR", moduleDir);
        // What a click gets after the pre-load (a favorite shown, pictures selected, the option
        // on in the Convert panel): the network loaded, not yet run.
        BackgroundRemover::warmUp();
        dropVipsCache();
        t.restart();
        const bool okLoaded = cutOut(QStringLiteral("cut-loaded.png"));
        std::printf("background removal, the network loaded ahead (as favorites, a selection of pictures and the "
                    "Convert panel do): %.2f s %s\n", t.elapsed() / 1000.0, okLoaded ? "" : "(FAILED)");
        releaseNetwork();
    } else {
        std::printf("\nbackground removal: model not installed (scripts/fetch-model.sh), skipped\n");
    }

    if (qgetenv("BENCH_IMAGE_ONLY") == "removal")
        return 0;

    std::printf("\none image, upright, metadata kept, quality 90:\n");
    std::printf("  %-6s %10s %10s %8s  %s\n", "format", "perchbox", "vips CLI", "ratio", "file sizes (ours / vips)");
    for (ImageOutputFormat f : writableImageFormats()) {
        const QString ext = fileExtension(f);
        const QString out = dir.filePath("one." + ext);
        dropVipsCache(); // no decoded image left over from the run before
        QElapsedTimer t;
        t.start();
        const bool ok = runImageConversion(QUrl::fromLocalFile(photo), f, 90, ImageDimensionsPreset::original, true,
                                           false, QUrl::fromLocalFile(out)).has_value();
        const double ours = t.elapsed() / 1000.0;
        double ref = -1;
        if (haveVips)
            ref = runTool("vips", {"autorot", photo, dir.filePath("ref." + ext) + referenceSaveOptions(f)});
        std::printf("  %-6s %9.2fs %9.2fs %8s  %6lld KB / %6lld KB%s\n", qPrintable(ext), ours, ref,
                    ref > 0 ? qPrintable(QString::asprintf("%.2fx", ours / ref)) : "-", sizeKB(out),
                    sizeKB(dir.filePath("ref." + ext)), ok ? "" : "  (FAILED)");
        if (f == ImageOutputFormat::png && haveVips) {
            const double def = runTool("vips", {"autorot", photo, dir.filePath("ref-default.png")});
            std::printf("  %-6s %10s %9.2fs %8s  %6s      %6lld KB  (vips' own PNG defaults: no row filter, level 6)\n",
                        "png", "", def, def > 0 ? qPrintable(QString::asprintf("%.2fx", ours / def)) : "-", "",
                        sizeKB(dir.filePath("ref-default.png")));
        }
        if (f == ImageOutputFormat::heic && !QStandardPaths::findExecutable("heif-enc").isEmpty()) {
            const double he = runTool("heif-enc", {"-q", "90", "-o", dir.filePath("ref-heif-enc.heic"), photo});
            std::printf("  %-6s %10s %9.2fs %8s  (heif-enc, default x265 preset)  [target HEIC < 4 s]\n", "heic", "", he,
                        he > 0 ? qPrintable(QString::asprintf("%.2fx", ours / he)) : "-");
        }
    }

    std::printf("\nbatch of %d images through the conversion job (set BENCH_IMAGE_BATCH to change):\n", batch);
    QList<ResolvedMediaFile> files;
    QDir().mkpath(dir.filePath("batch"));
    for (int i = 0; i < batch; ++i) {
        const QString p = dir.filePath(QString("batch/img%1.jpg").arg(i));
        QFile::copy(photo, p);
        files.append({QUuid::createUuid(), QUrl::fromLocalFile(p), MediaType::image,
                      QString("img%1.jpg").arg(i), QString("img%1.jpg").arg(i).toUtf8(), std::nullopt,
                      QUrl::fromLocalFile(p)});
    }
    std::printf("  %-6s %10s %10s %8s\n", "format", "perchbox", "vips CLI", "ratio");
    for (ImageOutputFormat f : writableImageFormats()) {
        const QString ext = fileExtension(f);
        ConversionJobOptions o;
        o.imageFormat = f;
        o.imageQuality = 90;
        o.outputFolder = QUrl::fromLocalFile(dir.filePath("batch-out-" + ext));
        ConversionExporter::Job job;
        job.files = files;
        job.options = o;
        job.stagingFolder = ConversionExporter::makeStagingFolder();
        job.postNotification = false;
        dropVipsCache();
        QElapsedTimer t;
        t.start();
        QEventLoop loop;
        int produced = 0;
        ConversionExporter::start(job, [&](const QList<QUrl> &out) { produced = int(out.size()); loop.quit(); },
                                  ConverterSet{nullptr, nullptr, std::shared_ptr<MediaConverter>(makeImageConverter())});
        loop.exec();
        const double ours = t.elapsed() / 1000.0;
        double ref = 0;
        if (haveVips) {
            QDir().mkpath(dir.filePath("batch-ref-" + ext));
            for (int i = 0; i < batch && ref >= 0; ++i) {
                const double r = runTool("vips", {"autorot", files[i].url.toLocalFile(),
                                                  dir.filePath(QString("batch-ref-%1/img%2.%1").arg(ext).arg(i))
                                                      + referenceSaveOptions(f)});
                ref = r < 0 ? -1 : ref + r;
            }
        }
        std::printf("  %-6s %9.2fs %9.2fs %8s  (%d/%d written)\n", qPrintable(ext), ours, ref,
                    ref > 0 ? qPrintable(QString::asprintf("%.2fx", ours / ref)) : "-", produced, batch);
        QDir(dir.filePath("batch-out-" + ext)).removeRecursively();
        QDir(dir.filePath("batch-ref-" + ext)).removeRecursively();
    }
    return 0;
}
