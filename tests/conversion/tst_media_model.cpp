// Classification, display texts, gathering with relative paths, and probing of generated
// audio, video and image files.
#include <vips/vips.h>

#include "MediaTestSupport.h"

#include "conversion/MediaModel.h"
#include "platform/FilePath.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace MediaTestSupport;

class MediaModelTest : public QObject
{
    Q_OBJECT
private slots:
    void classification();
    void displayTexts();
    void codecNames();
    void gatherFolderAndLooseFiles();
    void gatherCommonBaseOfLooseFiles();
    void gatherSkipsMissingItemsAndKeepsOddNames();
    void probeAudio();
    void probeVideo();
    void probeImages();
    void probeRejectsLyingFiles();
    void probeDescribesTheTrackThatIsConverted();

private:
    QTemporaryDir m_dir;
    QString path(const QString &rel) const { return m_dir.filePath(rel); }
};

void MediaModelTest::classification()
{
    QCOMPARE(classifyMedia(QUrl::fromLocalFile("/x/Clip.MOV")), MediaType::video);
    QCOMPARE(classifyMedia(QUrl::fromLocalFile("/x/song.AIF")), MediaType::audio);
    QCOMPARE(classifyMedia(QUrl::fromLocalFile("/x/a.b.jpeg")), MediaType::image);
    QCOMPARE(classifyMedia(QUrl::fromLocalFile("/x/stream.ts")), MediaType::video);
    QVERIFY(!classifyMedia(QUrl::fromLocalFile("/x/notes.txt")));
    QVERIFY(!classifyMedia(QUrl::fromLocalFile("/x/wav"))); // no extension
    QVERIFY(!classifyMedia(QUrl::fromLocalFile("/x/anim.gif")));
}

void MediaModelTest::displayTexts()
{
    QCOMPARE(*sampleRateText(44100), QStringLiteral("44.1 kHz"));
    QCOMPARE(*sampleRateText(48000), QStringLiteral("48 kHz"));
    QCOMPARE(*sampleRateText(88200), QStringLiteral("88.2 kHz"));
    QCOMPARE(*sampleRateText(22050), QStringLiteral("22.1 kHz"));
    QVERIFY(!sampleRateText(0));

    QCOMPARE(*frameRateText(23.976023), QStringLiteral("23.976 fps"));
    QCOMPARE(*frameRateText(30000.0 / 1001), QStringLiteral("29.97 fps"));
    QCOMPARE(*frameRateText(25), QStringLiteral("25 fps"));
    QCOMPARE(*frameRateText(12.5), QStringLiteral("12.50 fps"));
    QCOMPARE(*frameRateText(59.9999), QStringLiteral("60 fps"));
    QVERIFY(!frameRateText(0));

    QCOMPARE(channelsText(1), QStringLiteral("Mono"));
    QCOMPARE(channelsText(2), QStringLiteral("Stereo"));
    QCOMPARE(channelsText(6), QStringLiteral("5.1"));
    QCOMPARE(channelsText(8), QStringLiteral("7.1"));
    QCOMPARE(channelsText(4), QStringLiteral("4ch"));

    QCOMPARE(durationText(3725.9), QStringLiteral("62:05")); // minutes are not capped
    QCOMPARE(durationText(7), QStringLiteral("0:07"));
    QCOMPARE(bitDepthText(24), QStringLiteral("24-bit"));

    QCOMPARE(colorModelText("GREY"), QStringLiteral("Gray"));
    QCOMPARE(colorModelText("cmyk"), QStringLiteral("CMYK"));
    QCOMPARE(colorModelText("Lab"), QStringLiteral("LAB"));
    QCOMPARE(imageFormatNameForExtension("jpg"), QStringLiteral("JPEG"));
    QCOMPARE(imageFormatNameForExtension("webp"), QStringLiteral("WebP"));
    QCOMPARE(imageFormatNameForExtension("tif"), QStringLiteral("TIFF"));
}

void MediaModelTest::codecNames()
{
    QCOMPARE(audioCodecNameForFourCC(fourCC("aacp")), QStringLiteral("AAC"));
    QCOMPARE(audioCodecNameForFourCC(fourCC(".mp3")), QStringLiteral("MP3"));
    QCOMPARE(audioCodecNameForFourCC(fourCC("lpcm")), QStringLiteral("PCM"));
    QCOMPARE(audioCodecNameForFourCC(fourCC("ac-3")), QStringLiteral("ac-3"));
    QCOMPARE(videoCodecNameForFourCC(fourCC("apch")), QStringLiteral("ProRes HQ"));
    QCOMPARE(videoCodecNameForFourCC(fourCC("ap4x")), QStringLiteral("ProRes 4444 XQ"));
    QCOMPARE(videoCodecNameForFourCC(fourCC("hvc1")), QStringLiteral("H.265"));
    QCOMPARE(videoCodecNameForFourCC(fourCC("mjp ")), QStringLiteral("mjp")); // trimmed
}

void MediaModelTest::gatherFolderAndLooseFiles()
{
    QVERIFY(writeFile(path("g1/Shoot/Day1/a.wav"), "x"));
    QVERIFY(writeFile(path("g1/Shoot/Day1/notes.txt"), "x"));
    QVERIFY(writeFile(path("g1/Shoot/.hidden.wav"), "x"));
    QVERIFY(writeFile(path("g1/Shoot/.cache/c.wav"), "x"));
    QVERIFY(writeFile(path("g1/Shoot/b.MOV"), "x"));
    QVERIFY(writeFile(path("g1/loose.png"), "x"));
    for (int i = 0; i < 2000; ++i) // many non-media files are passed over quietly
        QVERIFY(writeFile(path(QString("g1/Shoot/junk/%1.txt").arg(i)), "x"));

    const QList<ResolvedMediaFile> files = gatherMediaFiles(
        {{QUrl::fromLocalFile(path("g1/Shoot")), {}}, {QUrl::fromLocalFile(path("g1/loose.png")), {}}}, false);
    QStringList rel;
    for (const auto &f : files)
        rel << f.relativePath;
    QCOMPARE(rel, (QStringList{"Shoot/Day1/a.wav", "Shoot/b.MOV", "loose.png"}));
    QCOMPARE(files[1].type, MediaType::video);
    QVERIFY(files[0].id != files[1].id);

    // A single loose file is relative to its own folder.
    const auto single = gatherMediaFiles({{QUrl::fromLocalFile(path("g1/loose.png")), {}}}, false);
    QCOMPARE(single.size(), 1);
    QCOMPARE(single[0].relativePath, QStringLiteral("loose.png"));

    // A folder holding only text files yields nothing (the panel then shows its alert).
    QVERIFY(gatherMediaFiles({{QUrl::fromLocalFile(path("g1/Shoot/junk")), {}}}, false).isEmpty());
}

void MediaModelTest::gatherCommonBaseOfLooseFiles()
{
    QVERIFY(writeFile(path("g2/u/A/x.wav"), "x"));
    QVERIFY(writeFile(path("g2/u/B/y.wav"), "x"));
    const auto files = gatherMediaFiles({{QUrl::fromLocalFile(path("g2/u/A/x.wav")), {}},
                                         {QUrl::fromLocalFile(path("g2/u/B/y.wav")), {}}}, false);
    QCOMPARE(files.size(), 2);
    QCOMPARE(files[0].relativePath, QStringLiteral("A/x.wav"));
    QCOMPARE(files[1].relativePath, QStringLiteral("B/y.wav"));

    QCOMPARE(commonBaseFolder({"/Users/u/A", "/Users/u/B"}), QByteArray("/Users/u"));
    QCOMPARE(commonBaseFolder({"/a/b", "/c"}), QByteArray("/"));
    QCOMPARE(commonBaseFolder({"/a/bc", "/a/b"}), QByteArray("/a")); // components, not characters
    QCOMPARE(relativePathFor("/a/b/c.wav", "/a"), QByteArray("b/c.wav"));
    QCOMPARE(relativePathFor("/x/c.wav", "/a"), QByteArray("c.wav"));
}

void MediaModelTest::gatherSkipsMissingItemsAndKeepsOddNames()
{
    const QByteArray odd = QFile::encodeName(path("g3")) + "/caf\xe9\xff.wav"; // not UTF-8
    QDir().mkpath(path("g3"));
    FILE *fp = fopen(odd.constData(), "w");
    QVERIFY(fp);
    fclose(fp);
    const auto files = gatherMediaFiles({{QUrl::fromLocalFile(path("g3/missing.wav")), {}},
                                         {FilePath::urlFromBytes(odd), {}}}, false);
    QCOMPARE(files.size(), 1);
    QCOMPARE(FilePath::bytes(files[0].url), odd);
    QCOMPARE(files[0].relativePathBytes, QByteArray("caf\xe9\xff.wav"));
}

void MediaModelTest::probeAudio()
{
    if (!haveTool("ffmpeg"))
        QSKIP("ffmpeg is not installed");
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=f=440:r=44100:d=2.5", "-ac", "2", path("p/a.wav")}));
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=r=48000:d=1", "-af", "pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0",
                    "-sample_fmt", "s32", "-c:a", "flac", path("p/b.flac")}));
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=r=96000:d=1", "-af", "pan=quad|c0=c0|c1=c0|c2=c0|c3=c0",
                    "-c:a", "pcm_s24le", path("p/c.wav")}));
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=r=22050:d=1", "-ac", "1", "-c:a", "aac", path("p/d.m4a")}));

    const auto a = probeMedia(QUrl::fromLocalFile(path("p/a.wav")), MediaType::audio);
    QVERIFY(a);
    QCOMPARE(*a->sampleRate, QStringLiteral("44.1 kHz"));
    QCOMPARE(*a->channels, QStringLiteral("Stereo"));
    QCOMPARE(*a->bitDepth, QStringLiteral("16-bit"));
    QCOMPARE(*a->audioCodec, QStringLiteral("PCM"));
    QCOMPARE(*a->duration, QStringLiteral("0:02"));
    QVERIFY(qAbs(*a->totalDurationSeconds - 2.5) < 0.05);
    QVERIFY(!a->fps && !a->resolution);

    const auto b = probeMedia(QUrl::fromLocalFile(path("p/b.flac")), MediaType::audio);
    QVERIFY(b);
    QCOMPARE(*b->channels, QStringLiteral("5.1"));
    QCOMPARE(*b->sampleRate, QStringLiteral("48 kHz"));
    QCOMPARE(*b->audioCodec, QStringLiteral("FLAC"));
    QCOMPARE(*b->bitDepth, QStringLiteral("24-bit")); // FLAC stores s32 input as 24 bits

    const auto c = probeMedia(QUrl::fromLocalFile(path("p/c.wav")), MediaType::audio);
    QVERIFY(c);
    QCOMPARE(*c->channels, QStringLiteral("4ch"));
    QCOMPARE(*c->sampleRate, QStringLiteral("96 kHz"));
    QCOMPARE(*c->bitDepth, QStringLiteral("24-bit"));

    const auto d = probeMedia(QUrl::fromLocalFile(path("p/d.m4a")), MediaType::audio);
    QVERIFY(d);
    QCOMPARE(*d->audioCodec, QStringLiteral("AAC"));
    QCOMPARE(*d->channels, QStringLiteral("Mono"));
    QCOMPARE(*d->sampleRate, QStringLiteral("22.1 kHz"));
    QVERIFY(!d->bitDepth); // compressed: no bit depth
}

void MediaModelTest::probeVideo()
{
    if (!haveTool("ffmpeg"))
        QSKIP("ffmpeg is not installed");
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=320x240:r=24000/1001:d=1", "-f", "lavfi", "-i",
                    "sine=r=48000:d=1", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-shortest",
                    path("v/a.mp4")}));
    QVERIFY(ffmpeg({"-i", path("v/a.mp4"), "-c", "copy", "-metadata:s:v:0", "rotate=90", path("v/rot.mp4")}));
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:r=12.5:d=1", "-c:v", "prores_ks", "-profile:v", "3",
                    path("v/p.mov")}));
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:r=25:d=1", "-c:v", "libx265", "-preset", "ultrafast",
                    "-tag:v", "hvc1", path("v/h.mp4")}));

    const auto a = probeMedia(QUrl::fromLocalFile(path("v/a.mp4")), MediaType::video);
    QVERIFY(a);
    QCOMPARE(*a->fps, QStringLiteral("23.976 fps"));
    QCOMPARE(*a->videoCodec, QStringLiteral("H.264"));
    QCOMPARE(*a->audioCodec, QStringLiteral("AAC"));
    QCOMPARE(*a->resolution, QString("320\u00d7240"));
    QCOMPARE(*a->sampleRate, QStringLiteral("48 kHz"));

    const auto r = probeMedia(QUrl::fromLocalFile(path("v/rot.mp4")), MediaType::video);
    QVERIFY(r);
    QCOMPARE(*r->resolution, QString("240\u00d7320")); // displayed size after the rotation

    const auto p = probeMedia(QUrl::fromLocalFile(path("v/p.mov")), MediaType::video);
    QVERIFY(p);
    QCOMPARE(*p->videoCodec, QStringLiteral("ProRes HQ"));
    QCOMPARE(*p->fps, QStringLiteral("12.50 fps"));
    QVERIFY(!p->audioCodec); // no audio track

    const auto h = probeMedia(QUrl::fromLocalFile(path("v/h.mp4")), MediaType::video);
    QVERIFY(h);
    QCOMPARE(*h->videoCodec, QStringLiteral("H.265"));
    QCOMPARE(*h->fps, QStringLiteral("25 fps"));
}

void MediaModelTest::probeImages()
{
    if (!haveTool("ffmpeg") || !haveTool("vips"))
        QSKIP("ffmpeg or vips is not installed");
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=red@0.5:s=64x48", "-frames:v", "1", "-pix_fmt", "rgba", path("i/a.png")}));
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=gray:s=30x20", "-frames:v", "1", "-pix_fmt", "gray", path("i/g.png")}));
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=blue:s=40x30", "-frames:v", "1", "-pix_fmt", "rgb48be", path("i/d.png")}));
    QVERIFY(runTool("vips", {"tiffsave", path("i/d.png"), path("i/two.tif"), "--page-height", "15"}));

    const auto a = probeMedia(QUrl::fromLocalFile(path("i/a.png")), MediaType::image);
    QVERIFY(a);
    QCOMPARE(*a->imageFormat, QStringLiteral("PNG"));
    QCOMPARE(*a->resolution, QString("64\u00d748"));
    QCOMPARE(*a->colorModel, QStringLiteral("RGB"));
    QCOMPARE(*a->bitDepth, QStringLiteral("8-bit"));
    QCOMPARE(*a->alpha, QStringLiteral("Alpha"));
    QVERIFY(!a->metadata);
    QVERIFY(!a->duration);

    const auto g = probeMedia(QUrl::fromLocalFile(path("i/g.png")), MediaType::image);
    QVERIFY(g);
    QCOMPARE(*g->imageFormat, QStringLiteral("PNG"));
    QCOMPARE(*g->colorModel, QStringLiteral("Gray"));
    QVERIFY(!g->alpha);

    const auto d = probeMedia(QUrl::fromLocalFile(path("i/d.png")), MediaType::image);
    QVERIFY(d);
    QCOMPARE(*d->bitDepth, QStringLiteral("16-bit"));

    const auto two = probeMedia(QUrl::fromLocalFile(path("i/two.tif")), MediaType::image);
    QVERIFY(two);
    QCOMPARE(*two->imageFormat, QStringLiteral("TIFF · Animated"));
}

void MediaModelTest::probeRejectsLyingFiles()
{
    QVERIFY(writeFile(path("bad/song.mp3"), QByteArray("This is just a text file.\n").repeated(50)));
    QVERIFY(writeFile(path("bad/empty.png"), QByteArray()));
    QVERIFY(writeFile(path("bad/clip.mov"), QByteArray(1000, '\0')));
    QVERIFY(!probeMedia(QUrl::fromLocalFile(path("bad/song.mp3")), MediaType::audio));
    QVERIFY(!probeMedia(QUrl::fromLocalFile(path("bad/empty.png")), MediaType::image));
    QVERIFY(!probeMedia(QUrl::fromLocalFile(path("bad/clip.mov")), MediaType::video));
    QVERIFY(!probeMedia(QUrl::fromLocalFile(path("bad/none.wav")), MediaType::audio));

    // Still listed: classification never opens the file; the probe result is just absent.
    const auto files = gatherMediaFiles({{QUrl::fromLocalFile(path("bad")), {}}});
    QCOMPARE(files.size(), 3);
    for (const auto &f : files)
        QVERIFY(!f.info);
}

// With several tracks the probe describes the first audio and the first video track, the
// ones the converters take, not the one FFmpeg would rate "best" (here the second, with
// more channels, a higher rate and a bigger picture).
void MediaModelTest::probeDescribesTheTrackThatIsConverted()
{
    if (!haveTool("ffmpeg"))
        QSKIP("ffmpeg is not installed");
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:r=10:d=1", "-f", "lavfi", "-i", "testsrc=s=640x480:r=10:d=1",
                    "-f", "lavfi", "-i", "sine=r=8000:d=1", "-f", "lavfi", "-i", "sine=r=48000:d=1",
                    "-map", "0", "-map", "1", "-map", "2", "-map", "3", "-ac:a:1", "6", "-c:v", "ffv1", "-c:a", "pcm_s16le",
                    path("tracks/two.mkv")}));
    const auto v = probeMedia(QUrl::fromLocalFile(path("tracks/two.mkv")), MediaType::video);
    QVERIFY(v);
    QCOMPARE(*v->resolution, QString::fromUtf8("64\u00d748"));
    QCOMPARE(*v->sampleRate, QStringLiteral("8 kHz"));
    QCOMPARE(*v->channels, QStringLiteral("Mono"));
}

QTEST_GUILESS_MAIN(MediaModelTest)
#include "tst_media_model.moc"
