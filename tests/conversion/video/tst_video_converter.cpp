#include "conversion/video/VideoConverter.h"

#include "../audio/MediaTestKit.h"
#include "../MediaTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

extern "C" {
#include <libavutil/display.h>
}

using mediatest::ffmpeg;
using mediatest::readBack;

class TestVideoConverter : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QUrl url(const QString &name) const { return QUrl::fromLocalFile(path(name)); }

    ConversionResult convert(const QString &in, const VideoConversionSettings &s, const QString &out,
                             LockedFlagPtr cancel = std::make_shared<LockedFlag>(),
                             const ConversionProgress &progress = {})
    {
        return convertVideoFile(url(in), s, url(out), cancel, progress);
    }

    // Mean of a rectangle of a gray frame.
    static double mean(const QByteArray &gray, int stride, int x0, int y0, int w, int h)
    {
        double sum = 0;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                sum += uchar(gray[y * stride + x]);
        return sum / (w * h);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // 2 s, 320×240 at 25 fps with a 48 kHz stereo tone.
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-f", "lavfi", "-i",
                        "sine=frequency=440:sample_rate=48000:duration=2", "-ac", "2", "-c:v", "libx264", "-preset",
                        "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", path("clip.mp4")}));
        // Top half white, bottom half black, tagged to be shown turned a quarter clockwise.
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=c=black:s=320x240:r=10:d=1,drawbox=x=0:y=0:w=320:h=120:c=white:t=fill",
                        "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", path("upright.mp4")}));
        QVERIFY(ffmpeg({"-i", path("upright.mp4"), "-c", "copy", "-metadata:s:v:0", "rotate=90", path("rotated.mp4")}));
        // A picture three pixels high.
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=64x3:r=10:d=1", "-c:v", "ffv1", "-pix_fmt", "yuv444p",
                        path("thin.mkv")}));
        // Black frames with a sidecar subtitle over the whole second.
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=c=black:s=320x240:r=10:d=1", "-c:v", "libx264", "-preset",
                        "ultrafast", "-pix_fmt", "yuv420p", path("talk.mp4")}));
        QFile srt(path("talk.srt"));
        QVERIFY(srt.open(QIODevice::WriteOnly));
        srt.write("1\n00:00:00,000 --> 00:00:05,000\nHELLO WORLD HELLO\n\n");
        srt.close();
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=duration=1", path("tone.wav")}));
    }

    void geometry_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<int>("outW");
        QTest::addColumn<int>("outH");
        using R = VideoResolution;
        QTest::newRow("1080p up to 4K") << 1920 << 1080 << 0 << int(R::uhd4k) << 3840 << 2160;
        QTest::newRow("1080p down to 720p") << 1920 << 1080 << 0 << int(R::hd720) << 1280 << 720;
        QTest::newRow("phone portrait into 1080p") << 1920 << 1080 << 90 << int(R::fhd1080) << 608 << 1080;
        QTest::newRow("upside down keeps size") << 1920 << 1080 << 180 << int(R::original) << 1920 << 1080;
        QTest::newRow("853.33 rounds then clears the low bit") << 1280 << 1080 << 0 << int(R::hd720) << 852 << 720;
        QTest::newRow("4x3 keeps 4x2") << 4 << 3 << 0 << int(R::original) << 4 << 2;
        QTest::newRow("1 px becomes 2") << 1 << 1 << 0 << int(R::original) << 2 << 2;
        QTest::newRow("small 4:3 scaled up to fit") << 640 << 480 << 0 << int(R::hd720) << 960 << 720;
    }
    void geometry()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(int, rotation);
        QFETCH(int, resolution);
        QFETCH(int, outW);
        QFETCH(int, outH);
        const auto g = computeVideoGeometry(w, h, rotation, VideoResolution(resolution));
        QCOMPARE(g.outputWidth, outW);
        QCOMPARE(g.outputHeight, outH);
        QVERIFY(!computeVideoGeometry(0, 1080, 0, VideoResolution::original).valid());
    }

    void bitRates()
    {
        using F = VideoOutputFormat;
        using Q = VideoQualityCRF;
        QCOMPARE(averageVideoBitRate(F::h264, Q::high, 1920, 1080, 30), int64_t(8000000));
        QCOMPARE(averageVideoBitRate(F::h264, Q::high, 1920, 1080, 60), int64_t(16000000));
        QCOMPARE(averageVideoBitRate(F::h264, Q::high, 1280, 720, 30), int64_t(3555555));
        QCOMPARE(averageVideoBitRate(F::h265, Q::high, 1920, 1080, 30), int64_t(5200000));
        QCOMPARE(averageVideoBitRate(F::h264, Q::veryHigh, 1920, 1080, 30), int64_t(12000000));
        QCOMPARE(averageVideoBitRate(F::h265, Q::low, 1920, 1080, 30), int64_t(1625000));
        // Floors: tiny pictures count as 0.35 of 1080p, low rates as 0.75 of 30 fps.
        QCOMPARE(averageVideoBitRate(F::h264, Q::medium, 320, 240, 10), int64_t(5000000 * 0.35 * 0.75));
        QCOMPARE(frameRateForBitRate(VideoFrameRate::f2997, 25), 30000.0 / 1001);
        QCOMPARE(frameRateForBitRate(VideoFrameRate::original, 25), 25.0);
        QCOMPARE(frameRateForBitRate(VideoFrameRate::original, 0), 30.0);
    }

    void rotationFromMatrix()
    {
        int32_t m[9];
        QCOMPARE(uprightRotation(nullptr), 0);
        // av_display_rotation_set takes the clockwise turn the picture needs.
        for (const auto &[turn, cw] : {std::pair{90.0, 90}, {-90.0, 270}, {180.0, 180}, {0.0, 0}, {89.6, 90}, {-180.0, 180}}) {
            av_display_rotation_set(m, turn);
            QCOMPARE(uprightRotation(m), cw);
        }
    }

    void subtitleSidecar()
    {
        QDir d(path("side"));
        QVERIFY(d.mkpath("."));
        const QByteArray base = QFile::encodeName(d.filePath("movie.mov"));
        QCOMPARE(findSubtitleSidecar(base), QByteArray());
        for (const char *ext : {"vtt", "ass", "srt"}) {
            QFile f(d.filePath(QStringLiteral("movie.") + ext));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QCOMPARE(findSubtitleSidecar(base), QFile::encodeName(d.filePath("movie.srt")));
        QFile::remove(d.filePath("movie.srt"));
        QCOMPARE(findSubtitleSidecar(base), QFile::encodeName(d.filePath("movie.ass")));
    }

    // Each format reads back with its codec, tag, picture format, size, rate and audio.
    void formats_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("profile");
        QTest::addColumn<int>("audioFormat");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("pixelFormat");
        QTest::addColumn<QString>("audioCodec");
        using F = VideoOutputFormat;
        using P = ProResProfile;
        using A = AudioOutputFormat;
        // The ProRes decoder hands 4444 pictures out as 12-bit.
        QTest::newRow("h264") << int(F::h264) << 0 << int(A::wav) << "mov,mp4,m4a,3gp,3g2,mj2" << "h264" << "avc1" << "yuv420p" << "aac";
        QTest::newRow("hevc") << int(F::h265) << 0 << int(A::mp3) << "mov,mp4,m4a,3gp,3g2,mj2" << "hevc" << "hvc1" << "yuv420p" << "aac";
        QTest::newRow("proxy wav") << int(F::prores) << int(P::proxy) << int(A::wav) << "mov,mp4,m4a,3gp,3g2,mj2" << "prores" << "apco" << "yuv422p10le" << "pcm_s16le";
        QTest::newRow("lt aiff") << int(F::prores) << int(P::lt) << int(A::aiff) << "mov,mp4,m4a,3gp,3g2,mj2" << "prores" << "apcs" << "yuv422p10le" << "pcm_s16be";
        QTest::newRow("422 m4a") << int(F::prores) << int(P::p422) << int(A::m4a) << "mov,mp4,m4a,3gp,3g2,mj2" << "prores" << "apcn" << "yuv422p10le" << "aac";
        QTest::newRow("hq") << int(F::prores) << int(P::p422hq) << int(A::wav) << "mov,mp4,m4a,3gp,3g2,mj2" << "prores" << "apch" << "yuv422p10le" << "pcm_s16le";
        QTest::newRow("4444") << int(F::prores) << int(P::p4444) << int(A::wav) << "mov,mp4,m4a,3gp,3g2,mj2" << "prores" << "ap4h" << "yuv444p12le" << "pcm_s16le";
        QTest::newRow("4444 xq") << int(F::prores) << int(P::p4444xq) << int(A::wav) << "mov,mp4,m4a,3gp,3g2,mj2" << "prores" << "ap4x" << "yuv444p12le" << "pcm_s16le";
    }
    void formats()
    {
        QFETCH(int, format);
        QFETCH(int, profile);
        QFETCH(int, audioFormat);
        QFETCH(QString, container);
        QFETCH(QString, codec);
        QFETCH(QString, tag);
        QFETCH(QString, pixelFormat);
        QFETCH(QString, audioCodec);
        VideoConversionSettings s;
        s.format = VideoOutputFormat(format);
        s.proResProfile = ProResProfile(profile);
        s.audioFormat = AudioOutputFormat(audioFormat);
        s.aacBitrate = 128;
        const QString out = QStringLiteral("fmt-%1.%2").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'),
                                                           s.format == VideoOutputFormat::prores ? "mov" : "mp4");
        QList<double> reports;
        const auto r = convert("clip.mp4", s, out, std::make_shared<LockedFlag>(),
                               [&](double p, double) { reports.append(p); });
        QVERIFY2(r.ok, qPrintable(r.error));
        const auto f = readBack(path(out));
        QVERIFY(f.opened);
        QCOMPARE(f.container, container);
        QCOMPARE(f.video.codec, codec);
        QCOMPARE(f.video.tag, tag);
        QCOMPARE(f.video.pixelFormat, pixelFormat);
        QCOMPARE(f.video.width, 320);
        QCOMPARE(f.video.height, 240);
        QCOMPARE(f.video.packets, 50);
        QCOMPARE(qRound(f.video.frameRate), 25);
        if (s.format == VideoOutputFormat::h264)
            QCOMPARE(f.video.profile, int(FF_PROFILE_H264_HIGH));
        QCOMPARE(f.audio.codec, audioCodec);
        QCOMPARE(f.audio.sampleRate, 48000);
        QCOMPARE(f.audio.channels, 2);
        QVERIFY2(qAbs(f.duration - 2.0) < 0.1, qPrintable(QString::number(f.duration)));
        QVERIFY(!reports.isEmpty());
        QVERIFY(qAbs(reports.last() - 2.0) < 0.1);
    }

    void audioOfTheVideoFollowsOptions()
    {
        VideoConversionSettings s;
        s.format = VideoOutputFormat::prores;
        s.proResProfile = ProResProfile::proxy;
        s.audioFormat = AudioOutputFormat::aiff;
        s.audioBitDepth = AudioBitDepth::b24;
        s.audioSampleRate = AudioSampleRate::r44100;
        s.videoChannels = AudioChannels::mono;
        QVERIFY(convert("clip.mp4", s, "audio-opts.mov").ok);
        const auto f = readBack(path("audio-opts.mov"));
        QCOMPARE(f.audio.codec, QStringLiteral("pcm_s24be"));
        QCOMPARE(f.audio.sampleRate, 44100);
        QCOMPARE(f.audio.channels, 1);
    }

    // AAC stops at 96 kHz: the audio section's 192 kHz used to make every H.264 (and HEVC,
    // and ProRes with M4A) conversion fail; it becomes the nearest rate AAC takes.
    void aacAudioAtRatesAacCannotTake()
    {
        VideoConversionSettings s;
        s.format = VideoOutputFormat::h264;
        s.audioSampleRate = AudioSampleRate::r192000;
        const auto r = convert("clip.mp4", s, "hi-rate.mp4");
        QVERIFY2(r.ok, qPrintable(r.error));
        const auto f = readBack(path("hi-rate.mp4"));
        QCOMPARE(f.audio.codec, QStringLiteral("aac"));
        QCOMPARE(f.audio.sampleRate, 96000);
        QVERIFY(qAbs(f.duration - 2.0) < 0.1);
    }

    // An MP4 cut short (its index at the front, the pictures missing from the middle on)
    // fails with "The file ends early" instead of becoming a shorter clip and a success.
    void truncatedFileEndsEarly()
    {
        QVERIFY(ffmpeg({"-i", path("clip.mp4"), "-c", "copy", "-movflags", "+faststart", path("front-index.mp4")}));
        QFile whole(path("front-index.mp4"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QVERIFY(MediaTestSupport::writeFile(path("cut.mp4"), whole.read(whole.size() * 45 / 100)));
        VideoConversionSettings s;
        s.format = VideoOutputFormat::h264;
        const auto r = convert("cut.mp4", s, "cut-out.mp4");
        QVERIFY(!r.ok);
        QVERIFY2(r.error.startsWith(QStringLiteral("The file ends early")), qPrintable(r.error));
        QVERIFY(!QFile::exists(path("cut-out.mp4")));
        QVERIFY(convert("front-index.mp4", s, "whole-out.mp4").ok);
    }

    void audioKeepsItsOffsetToThePicture()
    {
        // The tone starts half a second after the first picture.
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2", "-itsoffset", "0.5", "-f",
                        "lavfi", "-i", "sine=sample_rate=48000:duration=1", "-c:v", "ffv1", "-c:a", "pcm_s16le",
                        path("late-audio.mkv")}));
        VideoConversionSettings s;
        s.format = VideoOutputFormat::prores;
        s.proResProfile = ProResProfile::proxy;
        QVERIFY(convert("late-audio.mkv", s, "late-audio.mov").ok);
        const auto f = readBack(path("late-audio.mov"));
        QVERIFY2(qAbs(f.audio.startTime - f.video.startTime - 0.5) < 0.03,
                 qPrintable(QStringLiteral("%1 %2").arg(f.audio.startTime).arg(f.video.startTime)));
    }

    void scalesIntoTheBox()
    {
        VideoConversionSettings s;
        s.resolution = VideoResolution::hd720;
        s.quality = VideoQualityCRF::low;
        QVERIFY(convert("clip.mp4", s, "scaled.mp4").ok);
        const auto f = readBack(path("scaled.mp4"));
        QCOMPARE(f.video.width, 960);
        QCOMPARE(f.video.height, 720);
    }

    void rotatedSourceComesOutUpright()
    {
        VideoConversionSettings s;
        s.format = VideoOutputFormat::prores;
        s.proResProfile = ProResProfile::proxy;
        QVERIFY(convert("rotated.mp4", s, "turned.mov").ok);
        const auto f = readBack(path("turned.mov"));
        QCOMPARE(f.video.width, 240);
        QCOMPARE(f.video.height, 320);
        // The tag turns the stored picture a quarter counter-clockwise for display: its white
        // top ends on the left, exactly as the ffmpeg program shows the source.
        const QByteArray gray = mediatest::grayFrame(path("turned.mov"));
        QCOMPARE(gray.size(), 240 * 320);
        QVERIFY(mean(gray, 240, 20, 20, 80, 280) > 200);
        QVERIFY(mean(gray, 240, 140, 20, 80, 280) < 40);
        const QByteArray reference = mediatest::grayFrame(path("rotated.mp4"));
        QCOMPARE(reference.size(), gray.size());
        double diff = 0;
        for (int i = 0; i < gray.size(); ++i)
            diff += qAbs(int(uchar(gray[i])) - int(uchar(reference[i])));
        QVERIFY(diff / gray.size() < 4);
    }

    void frameGridKeepsLength()
    {
        VideoConversionSettings s;
        s.frameRate = VideoFrameRate::f30;
        QVERIFY(convert("clip.mp4", s, "grid30.mp4").ok);
        auto f = readBack(path("grid30.mp4"));
        QCOMPARE(f.video.packets, 60);
        QCOMPARE(qRound(f.video.frameRate), 30);
        QVERIFY2(qAbs(f.duration - 2.0) < 0.1, qPrintable(QString::number(f.duration)));

        s.frameRate = VideoFrameRate::f2397;
        s.format = VideoOutputFormat::prores;
        s.proResProfile = ProResProfile::proxy;
        QVERIFY(convert("clip.mp4", s, "grid2397.mov").ok);
        f = readBack(path("grid2397.mov"));
        QCOMPARE(f.video.packets, 48); // ceil(2 s × 23.976)
        QVERIFY(qAbs(f.video.frameRate - 24000.0 / 1001) < 0.01);
    }

    void variableFrameRate()
    {
        // 25 frames 40 ms apart, then 25 frames 80 ms apart; the container says 2.96 s.
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2", "-vf",
                        "settb=1/1000,setpts=if(lt(N\\,25)\\,N*40\\,1000+(N-25)*80)", "-fps_mode", "vfr", "-c:v",
                        "ffv1", path("vfr.mkv")}));
        VideoConversionSettings s;
        s.format = VideoOutputFormat::prores;
        s.proResProfile = ProResProfile::proxy;
        QVERIFY(convert("vfr.mkv", s, "vfr-asis.mov").ok);
        auto f = readBack(path("vfr-asis.mov"));
        QCOMPARE(f.video.packets, 50); // frames pass as they come
        QVERIFY2(qAbs(f.duration - 3.0) < 0.1, qPrintable(QString::number(f.duration)));
        s.frameRate = VideoFrameRate::f25;
        QVERIFY(convert("vfr.mkv", s, "vfr-grid.mov").ok);
        f = readBack(path("vfr-grid.mov"));
        QCOMPARE(f.video.packets, 74); // a constant grid over the same 2.96 s
        QVERIFY2(qAbs(f.duration - 3.0) < 0.1, qPrintable(QString::number(f.duration)));
    }

    void thinPictures()
    {
        VideoConversionSettings s;
        QVERIFY(convert("thin.mkv", s, "thin.mp4").ok);
        const auto f = readBack(path("thin.mp4"));
        QCOMPARE(f.video.width, 64);
        QCOMPARE(f.video.height, 2);
        QVERIFY(!f.audio.present);
    }

    void subtitlesAreBurntIn()
    {
        VideoConversionSettings s;
        s.format = VideoOutputFormat::prores;
        s.proResProfile = ProResProfile::proxy;
        QVERIFY(convert("talk.mp4", s, "plain.mov").ok);
        s.burnSubtitles = true;
        s.resolution = VideoResolution::hd720;
        QVERIFY(convert("talk.mp4", s, "burnt.mov").ok);
        const QByteArray plain = mediatest::grayFrame(path("plain.mov"), 0.5);
        const QByteArray burnt = mediatest::grayFrame(path("burnt.mov"), 0.5);
        QCOMPARE(plain.size(), 320 * 240);
        QCOMPARE(burnt.size(), 960 * 720);
        // Text sits in the lower part of the frame; the upper part stays black.
        QVERIFY(mean(plain, 320, 0, 160, 320, 80) < 20);
        QVERIFY2(mean(burnt, 960, 0, 480, 960, 240) > 3, qPrintable(QString::number(mean(burnt, 960, 0, 480, 960, 240))));
        QVERIFY(mean(burnt, 960, 0, 0, 960, 240) < 20);
        int bright = 0;
        for (int i = 960 * 480; i < burnt.size(); ++i)
            bright += uchar(burnt[i]) > 180;
        QVERIFY(bright > 500);
    }

    void damagedPacketsAreSkipped()
    {
        QVERIFY(QFile::copy(path("clip.mp4"), path("damaged.mp4")));
        QFile f(path("damaged.mp4"));
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(f.size() / 2);
        f.write(QByteArray(2000, '\x5a'));
        f.close();
        VideoConversionSettings s;
        s.format = VideoOutputFormat::prores;
        s.proResProfile = ProResProfile::proxy;
        const auto r = convert("damaged.mp4", s, "repaired.mov");
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(readBack(path("repaired.mov")).video.packets >= 45);
    }

    void failuresLeaveNothing()
    {
        VideoConversionSettings s;
        QVERIFY(!convert("tone.wav", s, "no-video.mp4").ok);
        QVERIFY(!QFile::exists(path("no-video.mp4")));
        QFile junk(path("junk.mov"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(10000, '\x01'));
        junk.close();
        QVERIFY(!convert("junk.mov", s, "junk-out.mp4").ok);
        QVERIFY(!QFile::exists(path("junk-out.mp4")));

        auto cancel = std::make_shared<LockedFlag>();
        const auto r = convert("clip.mp4", s, "cancelled.mp4", cancel, [&](double p, double) {
            if (p > 0.5)
                cancel->set(true);
        });
        QVERIFY(!r.ok);
        QVERIFY(!QFile::exists(path("cancelled.mp4")));
    }
};

QTEST_GUILESS_MAIN(TestVideoConverter)
#include "tst_video_converter.moc"
