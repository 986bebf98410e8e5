// Audio and video conversion against the ffmpeg program (and LAME for MP3) on the same inputs
// with the same encoder settings. Every run is a child process, so wall time and peak
// resident memory are measured the same way for both sides. Figures are printed only.
//
//   bench_av                 all cases (inputs are generated in a temporary folder)
//   BENCH_AV_SECONDS=4       shorter video clips
//   BENCH_AV_AUDIO_MINUTES=2 shorter audio file
//   BENCH_AV_ONLY=h264,wav24 a subset of the cases

#include "conversion/audio/AudioConverter.h"
#include "conversion/LamePath.h"
#include "conversion/video/VideoConverter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

struct Measure {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0; // user + system time of the child
    long peakKb = 0;
};

Measure runChild(const QStringList &argv)
{
    std::vector<QByteArray> storage;
    for (const QString &a : argv)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> args;
    for (QByteArray &b : storage)
        args.push_back(b.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    Measure m;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return m;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakKb = usage.ru_maxrss;
    m.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// Median by wall time of each field on its own; ok only when every run was.
Measure median(std::vector<Measure> runs)
{
    Measure m;
    const auto pick = [&](auto field) {
        std::vector<double> v;
        for (const Measure &r : runs)
            v.push_back(double(r.*field));
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    m.seconds = pick(&Measure::seconds);
    m.cpuSeconds = pick(&Measure::cpuSeconds);
    m.peakKb = decltype(m.peakKb)(pick(&Measure::peakKb));
    m.ok = std::all_of(runs.begin(), runs.end(), [](const Measure &r) { return r.ok; });
    return m;
}

QStringList ffmpegArgs(const QStringList &rest)
{
    return QStringList{"ffmpeg", "-nostdin", "-y", "-loglevel", "error"} + rest;
}

struct Case {
    QString name;
    QString input;  // key of the input
    QString output; // file name
    // Our conversion, run in the child.
    std::function<bool(const QString &in, const QString &out)> ours;
    // The reference command line.
    std::function<QStringList(const QString &in, const QString &out)> reference;
};

VideoConversionSettings h264High()
{
    VideoConversionSettings s;
    s.format = VideoOutputFormat::h264;
    s.quality = VideoQualityCRF::high;
    s.audioFormat = AudioOutputFormat::m4a;
    s.aacBitrate = 256;
    return s;
}

bool runVideo(const QString &in, const QString &out, const VideoConversionSettings &s)
{
    const auto r = convertVideoFile(QUrl::fromLocalFile(in), s, QUrl::fromLocalFile(out), std::make_shared<LockedFlag>(), {});
    if (!r.ok)
        std::fprintf(stderr, "failed: %s\n", qPrintable(r.error));
    return r.ok;
}

bool runAudio(const QString &in, const QString &out, const AudioConversionSettings &s)
{
    const auto r = convertAudioFile(QUrl::fromLocalFile(in), s, QUrl::fromLocalFile(out), defaultLamePath(),
                                    std::make_shared<LockedFlag>(), {});
    if (!r.ok)
        std::fprintf(stderr, "failed: %s\n", qPrintable(r.error));
    return r.ok;
}

std::vector<Case> cases()
{
    std::vector<Case> list;
    const QStringList aac{"-c:a", "aac", "-b:a", "256k"};
    list.push_back({"h264", "v30", "h264.mp4",
                    [](const QString &i, const QString &o) { return runVideo(i, o, h264High()); },
                    [aac](const QString &i, const QString &o) {
                        return ffmpegArgs(QStringList{"-i", i, "-map", "0:v:0", "-map", "0:a:0", "-c:v", "libx264",
                                                      "-profile:v", "high", "-b:v", "8000000", "-pix_fmt", "yuv420p"}
                                          + aac + QStringList{o});
                    }});
    list.push_back({"hevc", "v30", "hevc.mp4",
                    [](const QString &i, const QString &o) {
                        auto s = h264High();
                        s.format = VideoOutputFormat::h265;
                        return runVideo(i, o, s);
                    },
                    [aac](const QString &i, const QString &o) {
                        return ffmpegArgs(QStringList{"-i", i, "-map", "0:v:0", "-map", "0:a:0", "-c:v", "libx265",
                                                      "-b:v", "5200000", "-tag:v", "hvc1", "-x265-params",
                                                      "log-level=error", "-pix_fmt", "yuv420p"}
                                          + aac + QStringList{o});
                    }});
    list.push_back({"prores-hq", "v30", "prores.mov",
                    [](const QString &i, const QString &o) {
                        VideoConversionSettings s;
                        s.format = VideoOutputFormat::prores;
                        s.proResProfile = ProResProfile::p422hq;
                        s.audioFormat = AudioOutputFormat::wav;
                        return runVideo(i, o, s);
                    },
                    [](const QString &i, const QString &o) {
                        return ffmpegArgs({"-i", i, "-map", "0:v:0", "-map", "0:a:0", "-c:v", "prores_ks",
                                           "-profile:v", "3", "-vendor", "apl0", "-pix_fmt", "yuv422p10le", "-c:a",
                                           "pcm_s16le", o});
                    }});
    list.push_back({"720p", "v30", "720p.mp4",
                    [](const QString &i, const QString &o) {
                        auto s = h264High();
                        s.resolution = VideoResolution::hd720;
                        return runVideo(i, o, s);
                    },
                    [aac](const QString &i, const QString &o) {
                        return ffmpegArgs(QStringList{"-i", i, "-map", "0:v:0", "-map", "0:a:0", "-vf",
                                                      "scale=1280:720", "-c:v", "libx264", "-profile:v", "high",
                                                      "-b:v", "3555555", "-pix_fmt", "yuv420p"}
                                          + aac + QStringList{o});
                    }});
    list.push_back({"25to30", "v25", "fps30.mp4",
                    [](const QString &i, const QString &o) {
                        auto s = h264High();
                        s.frameRate = VideoFrameRate::f30;
                        return runVideo(i, o, s);
                    },
                    [aac](const QString &i, const QString &o) {
                        return ffmpegArgs(QStringList{"-i", i, "-map", "0:v:0", "-map", "0:a:0", "-vf", "fps=30",
                                                      "-c:v", "libx264", "-profile:v", "high", "-b:v", "8000000",
                                                      "-pix_fmt", "yuv420p"}
                                          + aac + QStringList{o});
                    }});
    list.push_back({"wav24", "wav", "out24.wav",
                    [](const QString &i, const QString &o) {
                        AudioConversionSettings s;
                        s.format = AudioOutputFormat::wav;
                        s.bitDepth = AudioBitDepth::b24;
                        return runAudio(i, o, s);
                    },
                    [](const QString &i, const QString &o) { return ffmpegArgs({"-i", i, "-c:a", "pcm_s24le", o}); }});
    list.push_back({"aiff", "wav", "out.aiff",
                    [](const QString &i, const QString &o) {
                        AudioConversionSettings s;
                        s.format = AudioOutputFormat::aiff;
                        return runAudio(i, o, s);
                    },
                    [](const QString &i, const QString &o) { return ffmpegArgs({"-i", i, "-c:a", "pcm_s16be", o}); }});
    list.push_back({"m4a256", "wav", "out.m4a",
                    [](const QString &i, const QString &o) {
                        AudioConversionSettings s;
                        s.format = AudioOutputFormat::m4a;
                        s.aacBitrate = 256;
                        return runAudio(i, o, s);
                    },
                    [](const QString &i, const QString &o) {
                        return ffmpegArgs({"-i", i, "-c:a", "aac", "-b:a", "256k", o});
                    }});
    list.push_back({"mp3-320", "wav", "out.mp3",
                    [](const QString &i, const QString &o) {
                        AudioConversionSettings s;
                        s.format = AudioOutputFormat::mp3;
                        s.mp3Bitrate = 320;
                        return runAudio(i, o, s);
                    },
                    [](const QString &i, const QString &o) {
                        // ffmpeg renders the 16-bit WAV, LAME encodes it: the same two steps.
                        const QString wav = o + ".ref.wav";
                        return QStringList{"sh", "-c",
                                           QStringLiteral("ffmpeg -nostdin -y -loglevel error -i '%1' -c:a pcm_s16le '%2' && "
                                                          "lame --disptime 1 --nohist --noreplaygain --cbr -b 320 '%2' '%3' >/dev/null 2>&1; "
                                                          "s=$?; rm -f '%2'; exit $s")
                                               .arg(i, wav, o)};
                    }});
    return list;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();

    // Child mode: start and stop (the start-up baseline), or run one of our conversions.
    if (args.size() == 2 && args[1] == "--idle")
        return 0;
    if (args.size() == 5 && args[1] == "--case") {
        for (const Case &c : cases())
            if (c.name == args[2])
                return c.ours(args[3], args[4]) ? 0 : 1;
        return 2;
    }

    const int videoSeconds = qEnvironmentVariableIsSet("BENCH_AV_SECONDS") ? qEnvironmentVariableIntValue("BENCH_AV_SECONDS") : 10;
    const int audioMinutes = qEnvironmentVariableIsSet("BENCH_AV_AUDIO_MINUTES") ? qEnvironmentVariableIntValue("BENCH_AV_AUDIO_MINUTES") : 10;
    const QStringList only = qEnvironmentVariable("BENCH_AV_ONLY").split(',', Qt::SkipEmptyParts);
    const int repeat = qEnvironmentVariableIntValue("BENCH_AV_REPEAT") > 0 ? qEnvironmentVariableIntValue("BENCH_AV_REPEAT") : 3;
    // Which side runs first in each pair (to see whether the order matters on this machine).
    const bool referenceFirst = qEnvironmentVariableIntValue("BENCH_AV_REFERENCE_FIRST") > 0;

    QTemporaryDir dir;
    auto path = [&](const QString &n) { return dir.filePath(n); };
    std::printf("bench_av: generating inputs (1080p %d s clips, %d min WAV)...\n", videoSeconds, audioMinutes);
    std::fflush(stdout);
    const QString secs = QString::number(videoSeconds);
    auto makeClip = [&](const QString &name, int fps) {
        return runChild(ffmpegArgs({"-f", "lavfi", "-i", QStringLiteral("testsrc2=size=1920x1080:rate=%1:duration=%2").arg(fps).arg(secs),
                                    "-f", "lavfi", "-i", QStringLiteral("sine=frequency=330:sample_rate=48000:duration=%1").arg(secs),
                                    "-ac", "2", "-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-pix_fmt",
                                    "yuv420p", "-c:a", "aac", "-b:a", "192k", "-shortest", path(name)}))
            .ok;
    };
    bool ok = makeClip("in30.mp4", 30) && makeClip("in25.mp4", 25);
    ok = ok && runChild(ffmpegArgs({"-f", "lavfi", "-i", QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(audioMinutes * 60),
                                    "-af", "aeval=val(0)|val(0)*0.5:c=stereo", "-c:a", "pcm_s16le", path("in.wav")}))
                   .ok;
    if (!ok) {
        std::printf("bench_av: could not generate the inputs (is ffmpeg installed?)\n");
        return 1;
    }
    const QMap<QString, QString> inputs{{"v30", path("in30.mp4")}, {"v25", path("in25.mp4")}, {"wav", path("in.wav")}};

    // Wall time moves with whatever else the machine runs; CPU time is the steadier figure.
    std::printf("median of %d alternating runs per side (BENCH_AV_REPEAT)\n", repeat);
    std::printf("%-10s %9s %9s %7s   %9s %9s %7s   %9s %9s %7s\n", "case", "ours s", "ref s", "ratio", "ours cpu",
                "ref cpu", "ratio", "ours MB", "ref MB", "ratio");
    {
        // What starting the process costs each side (libraries loaded, nothing converted): it is
        // part of every row below and dominates the short audio ones.
        const Measure ours = runChild({QCoreApplication::applicationFilePath(), "--idle"});
        const Measure ref = runChild({"ffmpeg", "-hide_banner", "-version"});
        std::printf("%-10s %9.2f %9.2f %7s   %9.2f %9.2f %7s   %9.1f %9.1f %7.3f  (process start-up only)\n", "start-up",
                    ours.seconds, ref.seconds, "-", ours.cpuSeconds, ref.cpuSeconds, "-", ours.peakKb / 1024.0,
                    ref.peakKb / 1024.0, ref.peakKb > 0 ? double(ours.peakKb) / ref.peakKb : 0.0);
    }
    for (const Case &c : cases()) {
        if (!only.isEmpty() && !only.contains(c.name))
            continue;
        const QString in = inputs.value(c.input);
        const QString oursOut = path("ours-" + c.output);
        const QString refOut = path("ref-" + c.output);
        // Alternating runs, median of each side: one run of each swings by ±15 % here.
        std::vector<Measure> oursRuns, refRuns;
        for (int r = 0; r < repeat; ++r) {
            if (referenceFirst)
                refRuns.push_back(runChild(c.reference(in, refOut)));
            oursRuns.push_back(runChild({QCoreApplication::applicationFilePath(), "--case", c.name, in, oursOut}));
            if (!referenceFirst)
                refRuns.push_back(runChild(c.reference(in, refOut)));
            QFile::remove(oursOut);
            QFile::remove(refOut);
        }
        const Measure ours = median(oursRuns);
        const Measure ref = median(refRuns);
        std::printf("%-10s %9.2f %9.2f %7.3f   %9.2f %9.2f %7.3f   %9.1f %9.1f %7.3f%s\n", qPrintable(c.name),
                    ours.seconds, ref.seconds, ref.seconds > 0 ? ours.seconds / ref.seconds : 0.0, ours.cpuSeconds,
                    ref.cpuSeconds, ref.cpuSeconds > 0 ? ours.cpuSeconds / ref.cpuSeconds : 0.0, ours.peakKb / 1024.0,
                    ref.peakKb / 1024.0,
                    ref.peakKb > 0 ? double(ours.peakKb) / ref.peakKb : 0.0,
                    ours.ok && ref.ok ? "" : (ours.ok ? "  (reference failed)" : "  (ours FAILED)"));
        std::fflush(stdout);
        QFile::remove(oursOut);
        QFile::remove(refOut);
    }
    return 0;
}
