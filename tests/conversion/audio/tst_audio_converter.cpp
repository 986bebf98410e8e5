#include "conversion/audio/AudioConverter.h"

#include "MediaTestKit.h"
#include "../MediaTestSupport.h"
#include "platform/FilePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

using mediatest::ffmpeg;
using mediatest::readBack;

class TestAudioConverter : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QUrl url(const QString &name) const { return QUrl::fromLocalFile(path(name)); }

    // A sine clip of `seconds` with the given codec arguments.
    bool makeClip(const QString &name, int rate, int channels, const QStringList &codecArgs, double seconds = 2.0)
    {
        return ffmpeg(QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                  QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2").arg(rate).arg(seconds),
                                  QStringLiteral("-ac"), QString::number(channels)}
                      + codecArgs + QStringList{path(name)});
    }

    ConversionResult convert(const QString &in, const AudioConversionSettings &s, const QString &out,
                             QList<QPair<double, double>> *reports = nullptr, const QString &lame = QStringLiteral("/usr/bin/lame"),
                             LockedFlagPtr cancel = std::make_shared<LockedFlag>())
    {
        return convertAudioFile(url(in), s, url(out), lame, cancel, [reports](double p, double sp) {
            if (reports)
                reports->append({p, sp});
        });
    }

    // Files left in the test folder whose name starts with `stem`.
    QStringList leftovers(const QString &stem) const
    {
        return QDir(m_dir.path()).entryList({stem + QLatin1Char('*')}, QDir::Files | QDir::Hidden);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(makeClip("s16.wav", 44100, 2, {"-c:a", "pcm_s16le"}));
        QVERIFY(makeClip("s24.wav", 48000, 2, {"-c:a", "pcm_s24le"}));
        QVERIFY(makeClip("f32.wav", 48000, 2, {"-c:a", "pcm_f32le"}));
        QVERIFY(makeClip("six.wav", 48000, 6, {"-c:a", "pcm_s16le"}));
        QVERIFY(makeClip("comp.m4a", 44100, 2, {"-c:a", "aac", "-b:a", "128k"}));
        QVERIFY(makeClip("flac24.flac", 96000, 1, {"-c:a", "flac", "-sample_fmt", "s32"}));
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v", "mpeg4", path("silent.mp4")}));
    }

    // The resolved target follows the source facts when the options say "original".
    void resolvedTarget_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("bitDepth"); // AudioBitDepth after resolution
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("16-bit") << "s16.wav" << int(AudioBitDepth::b16) << 44100.0 << 2;
        QTest::newRow("24-bit") << "s24.wav" << int(AudioBitDepth::b24) << 48000.0 << 2;
        QTest::newRow("float") << "f32.wav" << int(AudioBitDepth::b32f) << 48000.0 << 2;
        QTest::newRow("compressed") << "comp.m4a" << int(AudioBitDepth::b16) << 44100.0 << 2;
        QTest::newRow("flac 24-bit mono") << "flac24.flac" << int(AudioBitDepth::b24) << 96000.0 << 1;
        QTest::newRow("six channels") << "six.wav" << int(AudioBitDepth::b16) << 48000.0 << 6;
    }
    void resolvedTarget()
    {
        QFETCH(QString, file);
        QFETCH(int, bitDepth);
        QFETCH(double, rate);
        QFETCH(int, channels);
        av::Input in;
        QVERIFY(in.open(QFile::encodeName(path(file)), nullptr));
        const auto facts = av::audioSourceFacts(in.ctx()->streams[in.firstStream(AVMEDIA_TYPE_AUDIO)]->codecpar);
        const auto t = resolveAudioTarget(facts, AudioSampleRate::original, AudioChannels::original, AudioBitDepth::original);
        QCOMPARE(int(t.bitDepth), bitDepth);
        QCOMPARE(t.sampleRate, rate);
        QCOMPARE(int(t.channels), channels);
    }

    void resolvedTargetHeaderFallbacks()
    {
        // Headers without rate or channel count: 44100 Hz, 2 channels; explicit options win.
        av::AudioSourceFacts facts;
        AVCodecParameters *par = avcodec_parameters_alloc();
        par->codec_id = AV_CODEC_ID_PCM_S16LE;
        facts = av::audioSourceFacts(par);
        avcodec_parameters_free(&par);
        QCOMPARE(facts.sampleRate, 44100.0);
        QCOMPARE(facts.channels, 2);
        auto t = resolveAudioTarget(facts, AudioSampleRate::r96000, AudioChannels::mono, AudioBitDepth::b24, 192, 128);
        QCOMPARE(t.sampleRate, 96000.0);
        QCOMPARE(t.channels, 1u);
        QCOMPARE(t.bits(), 24);
        QCOMPARE(t.aacBitsPerSecond, int64_t(192000));
        QCOMPARE(t.mp3Kbps, 128);
        facts.channels = 0; // impossible count still gives one channel
        QCOMPARE(resolveAudioTarget(facts, AudioSampleRate::original, AudioChannels::original, AudioBitDepth::original).channels, 1u);
    }

    // Every PCM output: the container's codec carries the byte order and bit depth.
    void pcmOutputs_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("bitDepth");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("expectedRate");
        QTest::addColumn<int>("expectedChannels");
        using F = AudioOutputFormat;
        using B = AudioBitDepth;
        using R = AudioSampleRate;
        using C = AudioChannels;
        QTest::newRow("wav float original") << "f32.wav" << int(F::wav) << int(B::original) << int(R::original) << int(C::original) << "pcm_f32le" << 48000 << 2;
        QTest::newRow("wav 24 original") << "s24.wav" << int(F::wav) << int(B::original) << int(R::original) << int(C::original) << "pcm_s24le" << 48000 << 2;
        QTest::newRow("wav from aac") << "comp.m4a" << int(F::wav) << int(B::original) << int(R::original) << int(C::original) << "pcm_s16le" << 44100 << 2;
        QTest::newRow("aiff 16") << "s16.wav" << int(F::aiff) << int(B::b16) << int(R::r48000) << int(C::mono) << "pcm_s16be" << 48000 << 1;
        QTest::newRow("aiff 24") << "s16.wav" << int(F::aiff) << int(B::b24) << int(R::r96000) << int(C::original) << "pcm_s24be" << 96000 << 2;
        QTest::newRow("aiff float") << "s24.wav" << int(F::aiff) << int(B::b32f) << int(R::r44100) << int(C::stereo) << "pcm_f32be" << 44100 << 2;
        QTest::newRow("6ch original") << "six.wav" << int(F::wav) << int(B::original) << int(R::original) << int(C::original) << "pcm_s16le" << 48000 << 6;
        QTest::newRow("6ch to stereo") << "six.wav" << int(F::wav) << int(B::original) << int(R::original) << int(C::stereo) << "pcm_s16le" << 48000 << 2;
        QTest::newRow("mono to stereo 192k") << "flac24.flac" << int(F::wav) << int(B::original) << int(R::r192000) << int(C::stereo) << "pcm_s24le" << 192000 << 2;
    }
    void pcmOutputs()
    {
        QFETCH(QString, source);
        QFETCH(int, format);
        QFETCH(int, bitDepth);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QString, codec);
        QFETCH(int, expectedRate);
        QFETCH(int, expectedChannels);
        AudioConversionSettings s;
        s.format = AudioOutputFormat(format);
        s.bitDepth = AudioBitDepth(bitDepth);
        s.sampleRate = AudioSampleRate(rate);
        s.channels = AudioChannels(channels);
        const QString out = QStringLiteral("pcm-%1.%2").arg(QTest::currentDataTag()).arg(format == int(AudioOutputFormat::aiff) ? "aiff" : "wav");
        QList<QPair<double, double>> reports;
        const auto r = convert(source, s, out, &reports);
        QVERIFY2(r.ok, qPrintable(r.error));
        const auto facts = readBack(path(out));
        QVERIFY(facts.opened);
        QCOMPARE(facts.container, format == int(AudioOutputFormat::aiff) ? QStringLiteral("aiff") : QStringLiteral("wav"));
        QCOMPARE(facts.audio.codec, codec);
        QCOMPARE(facts.audio.sampleRate, expectedRate);
        QCOMPARE(facts.audio.channels, expectedChannels);
        QVERIFY2(qAbs(facts.duration - 2.0) < 0.05, qPrintable(QString::number(facts.duration)));
        // Progress: non-decreasing, ends at the clip's length, speed 1.
        QVERIFY(!reports.isEmpty());
        for (int i = 1; i < reports.size(); ++i)
            QVERIFY(reports[i].first >= reports[i - 1].first);
        QVERIFY(qAbs(reports.last().first - 2.0) < 0.05);
        QCOMPARE(reports.last().second, 1.0);
    }

    void m4aOutput()
    {
        AudioConversionSettings s;
        s.format = AudioOutputFormat::m4a;
        s.aacBitrate = 128;
        s.sampleRate = AudioSampleRate::r48000;
        QVERIFY(convert("s16.wav", s, "out.m4a").ok);
        const auto f = readBack(path("out.m4a"));
        QVERIFY(f.container.contains("mp4"));
        QCOMPARE(f.audio.codec, QStringLiteral("aac"));
        QCOMPARE(f.audio.sampleRate, 48000);
        QCOMPARE(f.audio.channels, 2);
        QVERIFY(qAbs(f.duration - 2.0) < 0.1);
        // 128 kbit/s for 2 s is about 32 kB; allow codec slack.
        const qint64 size = QFileInfo(path("out.m4a")).size();
        QVERIFY2(size > 20000 && size < 48000, qPrintable(QString::number(size)));
    }

    // AAC stops at 96 kHz: 192 kHz asked for becomes the nearest rate the encoder takes
    // (as LAME is told 48 kHz for MP3) instead of failing every file.
    void m4aAtRatesAacCannotTake()
    {
        AudioConversionSettings s;
        s.format = AudioOutputFormat::m4a;
        s.sampleRate = AudioSampleRate::r192000;
        const auto r = convert("s16.wav", s, "hi.m4a");
        QVERIFY2(r.ok, qPrintable(r.error));
        const auto f = readBack(path("hi.m4a"));
        QCOMPARE(f.audio.codec, QStringLiteral("aac"));
        QCOMPARE(f.audio.sampleRate, 96000);
        QVERIFY(qAbs(f.duration - 2.0) < 0.1);
        QCOMPARE(av::nearestSupportedSampleRate(avcodec_find_encoder(AV_CODEC_ID_AAC), 88200), 88200);
        QCOMPARE(av::nearestSupportedSampleRate(avcodec_find_encoder(AV_CODEC_ID_AAC), 50000), 48000);
        QCOMPARE(av::nearestSupportedSampleRate(avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE), 192000), 192000);
    }

    // A file cut short fails with "The file ends early" in every format, and leaves nothing:
    // a 3 s WAV cut to 200 KB used to become a 1.2 s file and count as success.
    void truncatedFileEndsEarly_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("wav") << int(AudioOutputFormat::wav);
        QTest::newRow("m4a") << int(AudioOutputFormat::m4a);
        QTest::newRow("mp3") << int(AudioOutputFormat::mp3);
    }
    void truncatedFileEndsEarly()
    {
        QFETCH(int, format);
        if (!QFile::exists(path("cut.wav"))) {
            QVERIFY(makeClip("whole.wav", 44100, 2, {"-c:a", "pcm_s16le"}, 3.0));
            QFile whole(path("whole.wav"));
            QVERIFY(whole.open(QIODevice::ReadOnly));
            QVERIFY(MediaTestSupport::writeFile(path("cut.wav"), whole.read(200 * 1024)));
        }
        AudioConversionSettings s;
        s.format = AudioOutputFormat(format);
        const QString out = QStringLiteral("cut-out-%1").arg(QTest::currentDataTag());
        const auto r = convert("cut.wav", s, out + "." + QTest::currentDataTag());
        QVERIFY(!r.ok);
        QVERIFY2(r.error.startsWith(QStringLiteral("The file ends early")), qPrintable(r.error));
        QVERIFY(leftovers(out).isEmpty());
        // The whole file is fine.
        QVERIFY(convert("whole.wav", s, QStringLiteral("whole-out.") + QTest::currentDataTag()).ok);
    }

    void mp3Output()
    {
        AudioConversionSettings s;
        s.format = AudioOutputFormat::mp3;
        s.mp3Bitrate = 192;
        s.channels = AudioChannels::mono;
        s.sampleRate = AudioSampleRate::r96000; // LAME resamples to 48 kHz
        QList<QPair<double, double>> reports;
        const auto r = convert("six.wav", s, "song.mp3", &reports);
        QVERIFY2(r.ok, qPrintable(r.error));
        const auto f = readBack(path("song.mp3"));
        QCOMPARE(f.audio.codec, QStringLiteral("mp3"));
        QCOMPARE(f.audio.sampleRate, 48000);
        QCOMPARE(f.audio.channels, 1);
        QVERIFY(qAbs(f.duration - 2.0) < 0.1);
        QVERIFY(!QFile::exists(path("song.wav"))); // the intermediate is gone
        // Render is the first half, the encoder the second.
        QVERIFY(!reports.isEmpty());
        double renderMax = 0;
        bool sawEncoder = false;
        for (const auto &[p, speed] : reports) {
            if (speed == 1.0)
                renderMax = std::max(renderMax, p);
            else
                sawEncoder = sawEncoder || p >= 1.0;
        }
        QVERIFY(renderMax <= 1.0 + 1e-9);
        QVERIFY(sawEncoder);
    }

    void lameArgumentList()
    {
        QCOMPARE(lameArguments("in.wav", "out.mp3", AudioSampleRate::original, AudioChannels::original, 320),
                 QStringList({"--disptime", "1", "--nohist", "--noreplaygain", "--cbr", "-b", "320", "in.wav", "out.mp3"}));
        QCOMPARE(lameArguments("i", "o", AudioSampleRate::r96000, AudioChannels::stereo, 128),
                 QStringList({"--disptime", "1", "--nohist", "--noreplaygain", "--cbr", "-b", "128", "--resample", "48", "-m", "j", "i", "o"}));
        QCOMPARE(lameArguments("i", "o", AudioSampleRate::r88200, AudioChannels::mono, 192).mid(7),
                 QStringList({"--resample", "44.1", "-a", "-m", "m", "i", "o"}));
        QCOMPARE(lameArguments("i", "o", AudioSampleRate::r44100, AudioChannels::original, 192).mid(7, 2),
                 QStringList({"--resample", "44.1"}));
        QCOMPARE(lameArguments("i", "o", AudioSampleRate::r192000, AudioChannels::original, 192).mid(7, 2),
                 QStringList({"--resample", "48"}));
    }

    void lameProgressParsing()
    {
        auto p = parseLameProgressLine("  1234/5678 (45%)| 0:01/ 0:02| 0:01/ 0:02| 31.2x| 0:01", 100);
        QVERIFY(p);
        QCOMPARE(p->processedSeconds, 72.5);
        QCOMPARE(p->speed, 31.2);
        // A line recorded from LAME 3.100: the percentage is padded inside the parentheses.
        p = parseLameProgressLine("     9/2298    (  0%)|    0:00/    0:00|    0:00/    0:00|   127.56x|    0:00 ", 60);
        QVERIFY(p);
        QCOMPARE(p->processedSeconds, 30.0); // 0 % keeps the fraction at one half
        QCOMPARE(p->speed, 127.56);
        p = parseLameProgressLine("  2298/2298    (100%)|    0:00/    0:00|    0:00/    0:00|   150.78x|    0:00 ", 60);
        QCOMPARE(p->processedSeconds, 60.0);
        p = parseLameProgressLine("  10/20 (250%)|", 10); // capped at the whole file
        QCOMPARE(p->processedSeconds, 10.0);
        QCOMPARE(p->speed, 0.0);
        QVERIFY(!parseLameProgressLine("Encoding s.wav to s.mp3", 60));
        QVERIFY(!parseLameProgressLine("  1/2 (45%)| 31.2x|", 0));
        // Found by fuzz_lame_progress: a duration that is not a number is unknown too, and a
        // speed past any double is no speed.
        QVERIFY(!parseLameProgressLine("  1/2 (45%)| 31.2x|", std::nan("")));
        QVERIFY(!parseLameProgressLine("  1/2 (45%)| 31.2x|", std::numeric_limits<double>::infinity()));
        p = parseLameProgressLine("  1/2 (45%)| " + QString(400, QLatin1Char('9')) + "x|", 10);
        QVERIFY(p && std::isfinite(p->processedSeconds));
        QCOMPARE(p->speed, 0.0);
    }

    void failuresLeaveNothing()
    {
        AudioConversionSettings wav;
        // No audio track.
        QVERIFY(!convert("silent.mp4", wav, "fail1.wav").ok);
        QVERIFY(leftovers("fail1").isEmpty());
        // Not media at all.
        {
            QFile junk(path("junk.wav"));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(4096, '\x17'));
        }
        QVERIFY(!convert("junk.wav", wav, "fail2.wav").ok);
        QVERIFY(leftovers("fail2").isEmpty());
        // Missing file.
        QVERIFY(!convert("nothing-here.wav", wav, "fail3.wav").ok);
        QVERIFY(leftovers("fail3").isEmpty());
        // MP3 without an encoder, and with an encoder that fails: no MP3, no intermediate WAV.
        AudioConversionSettings mp3;
        mp3.format = AudioOutputFormat::mp3;
        QVERIFY(!convert("s16.wav", mp3, "fail5.mp3", nullptr, path("no-lame")).ok);
        QVERIFY(leftovers("fail5").isEmpty());
        const auto r = convert("s16.wav", mp3, "fail6.mp3", nullptr, QStringLiteral("/bin/false"));
        QVERIFY(!r.ok);
        QVERIFY(leftovers("fail6").isEmpty());
    }

    void cancelStopsAndCleansUp()
    {
        QVERIFY(makeClip("long.wav", 48000, 2, {"-c:a", "pcm_s16le"}, 60));
        auto cancel = std::make_shared<LockedFlag>();
        AudioConversionSettings s;
        s.format = AudioOutputFormat::m4a;
        const auto r = convertAudioFile(url("long.wav"), s, url("cancelled.m4a"), QString(), cancel,
                                        [&](double p, double) { if (p > 5) cancel->set(true); });
        QVERIFY(!r.ok);
        QVERIFY(leftovers("cancelled").isEmpty());
    }

    void damagedPacketsAreSkipped()
    {
        // An MP3 with garbage in the middle still converts: the decoder resynchronises.
        QVERIFY(makeClip("damaged.mp3", 44100, 2, {"-c:a", "libmp3lame", "-b:a", "128k"}, 4));
        QFile f(path("damaged.mp3"));
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(f.size() / 2);
        f.write(QByteArray(3000, '\xff'));
        f.close();
        AudioConversionSettings s;
        const auto r = convert("damaged.mp3", s, "repaired.wav");
        QVERIFY2(r.ok, qPrintable(r.error));
        const auto facts = readBack(path("repaired.wav"));
        QVERIFY(facts.duration > 3.0);
    }

    void namesThatAreNotUtf8()
    {
        // The staged name keeps its raw bytes through the MP3 path as well.
        const QByteArray dir = QFile::encodeName(m_dir.path());
        const QByteArray out = dir + "/caf\xE9.mp3";
        AudioConversionSettings s;
        s.format = AudioOutputFormat::mp3;
        const auto r = convertAudioFile(url("s16.wav"), s, FilePath::urlFromBytes(out), QStringLiteral("/usr/bin/lame"),
                                        std::make_shared<LockedFlag>(), {});
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(FilePath::exists(FilePath::urlFromBytes(out)));
        QVERIFY(!FilePath::exists(FilePath::urlFromBytes(dir + "/caf\xE9.wav")));
        QVERIFY(leftovers(".perchbox-lame").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAudioConverter)
#include "tst_audio_converter.moc"
