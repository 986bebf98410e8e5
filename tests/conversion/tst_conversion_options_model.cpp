// The Convert panel's rules without its widgets: which sections and rows the files and the
// chosen formats call for, the notes and warnings, when Convert may run and why not, what
// pressing it does, presets and stored defaults, and how a run is settled on the shelf.
#include "conversion/ConversionOptionsModel.h"
#include "conversion/ConversionPresetOptions.h"
#include "conversion/ConvertedShelf.h"
#include "settings/AppSettings.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

ResolvedMediaFile media(MediaType type, const QString &name, const QUrl &item = {})
{
    ResolvedMediaFile f;
    f.id = QUuid::createUuid();
    f.url = QUrl::fromLocalFile(QStringLiteral("/media/") + name);
    f.type = type;
    f.relativePath = name;
    f.relativePathBytes = name.toUtf8();
    f.sourceItem = item.isEmpty() ? f.url : item;
    return f;
}

} // namespace

class ConversionOptionsModelTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void sectionsFollowTheFilesPresent();
    void audioRowsFollowFormatAndFace();
    void videoRowsFollowFormatAndFace();
    void imageNotesFollowFormatAndAspect();
    void convertNeedsAFolderUnlessOverwriting();
    void pressingConvertPreparesTheJob();
    void headerTextsAndConvertedShelfLine();
    void presetsAreAppliedLenientlyAndOnce();
    void defaultsAreStored();
    void settlingNamesWhatStayedOnTheShelf();

private:
    QTemporaryDir m_dir;
};

void ConversionOptionsModelTest::initTestCase()
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
    qputenv("HOME", QFile::encodeName(m_dir.filePath("home")));
}

void ConversionOptionsModelTest::init()
{
    // Every case starts from the stock defaults: a folder mode without a folder.
    saveConversionDefaults(ConversionJobOptions{});
    AppSettings::instance().setCreateConvertedShelf(true);
    AppSettings::instance().setClearShelfAfterConversion(false);
}

// AUDIO is built for audio and for videos (their audio-only export uses it) but shows for
// videos only while "Extract audio only" is on; VIDEO and IMAGES only for their files.
void ConversionOptionsModelTest::sectionsFollowTheFilesPresent()
{
    ConversionOptionsModel audio({media(MediaType::audio, "a.wav")}, "S", std::nullopt);
    QVERIFY(audio.hasAudioSection() && !audio.hasVideoSection() && !audio.hasImageSection());
    QVERIFY(audio.visibility().audioSection);

    ConversionOptionsModel video({media(MediaType::video, "v.mp4")}, "S", std::nullopt);
    QVERIFY(video.hasAudioSection() && video.hasVideoSection() && !video.hasImageSection());
    QVERIFY(!video.visibility().audioSection);
    QSignalSpy changed(&video, &ConversionOptionsModel::changed);
    video.setOption(&ConversionJobOptions::videoAsAudioOnly, true);
    QCOMPARE(changed.count(), 1);
    QVERIFY(video.visibility().audioSection);
    video.setOption(&ConversionJobOptions::videoAsAudioOnly, false);
    QVERIFY(!video.visibility().audioSection);

    ConversionOptionsModel image({media(MediaType::image, "p.png")}, "S", std::nullopt);
    QVERIFY(!image.hasAudioSection() && !image.hasVideoSection() && image.hasImageSection());
    QVERIFY(!image.visibility().audioSection);
    // Rows of absent sections never claim to show.
    QVERIFY(!image.visibility().noAudioSettings && !image.visibility().videoQuality);

    QVERIFY(ConversionOptionsModel::scanAlert({}));
    QCOMPARE(ConversionOptionsModel::scanAlert({})->title, QStringLiteral("No Supported Media Files"));
    QCOMPARE(ConversionOptionsModel::scanAlert({})->text,
             QStringLiteral("None of the selected items contain supported audio, video, or image files."));
}

// Bit depth is a PCM setting of the Advanced face; MP3 and M4A have their bit rate in both
// faces; a format with nothing of its own in the current face says so.
void ConversionOptionsModelTest::audioRowsFollowFormatAndFace()
{
    ConversionOptionsModel m({media(MediaType::audio, "a.flac")}, "S", std::nullopt);
    struct Case {
        AudioOutputFormat format;
        bool advanced;
        bool bitDepth, mp3, aac, none;
    };
    const Case cases[] = {
        {AudioOutputFormat::wav, false, false, false, false, true},
        {AudioOutputFormat::wav, true, true, false, false, false},
        {AudioOutputFormat::aiff, true, true, false, false, false},
        {AudioOutputFormat::mp3, false, false, true, false, false},
        {AudioOutputFormat::mp3, true, false, true, false, false},
        {AudioOutputFormat::m4a, false, false, false, true, false},
        {AudioOutputFormat::m4a, true, false, false, true, false},
    };
    for (const Case &c : cases) {
        m.setShowAdvanced(c.advanced);
        m.setOption(&ConversionJobOptions::audioFormat, c.format);
        const auto v = m.visibility();
        const QByteArray what = rawValue(c.format).toUtf8() + (c.advanced ? " advanced" : " simple");
        QVERIFY2(v.bitDepth == c.bitDepth, what);
        QVERIFY2(v.mp3Bitrate == c.mp3, what);
        QVERIFY2(v.aacBitrate == c.aac, what);
        QVERIFY2(v.noAudioSettings == c.none, what);
        QVERIFY2(v.sampleRate == c.advanced && v.audioChannels == c.advanced, what);
    }
    m.setShowAdvanced(false);
    m.setOption(&ConversionJobOptions::audioFormat, AudioOutputFormat::aiff);
    QCOMPARE(m.noAudioSettingsText(), QStringLiteral("No additional settings for AIFF."));
    QVERIFY(m.mp3EncoderNote().startsWith("MP3 export "));
}

void ConversionOptionsModelTest::videoRowsFollowFormatAndFace()
{
    ConversionOptionsModel m({media(MediaType::video, "v.mov")}, "S", std::nullopt);
    m.setOption(&ConversionJobOptions::videoFormat, VideoOutputFormat::prores);
    QVERIFY(m.visibility().proResProfile && !m.visibility().videoQuality);
    m.setOption(&ConversionJobOptions::videoFormat, VideoOutputFormat::h265);
    QVERIFY(!m.visibility().proResProfile && m.visibility().videoQuality);

    // "Preserve duration" only matters, and only shows, when the frame rate changes.
    m.setOption(&ConversionJobOptions::frameRate, VideoFrameRate::f25);
    QVERIFY(!m.visibility().frameRate && !m.visibility().preserveDuration); // Simple face
    m.setShowAdvanced(true);
    QVERIFY(m.visibility().frameRate && m.visibility().preserveDuration);
    QVERIFY(m.visibility().resolution && m.visibility().videoChannels && m.visibility().burnSubtitles);
    m.setOption(&ConversionJobOptions::frameRate, VideoFrameRate::original);
    QVERIFY(!m.visibility().preserveDuration);
    QVERIFY(!m.visibility().resolutionHelp);
    m.setOption(&ConversionJobOptions::resolution, VideoResolution::hd720);
    QVERIFY(m.visibility().resolutionHelp);
}

// Removing the background into a format without transparency warns; the aspect help says
// what the crop does.
void ConversionOptionsModelTest::imageNotesFollowFormatAndAspect()
{
    ConversionOptionsModel m({media(MediaType::image, "p.png")}, "S", std::nullopt);
    ConversionJobOptions o = m.options();
    o.removeImageBackground = true;
    for (ImageOutputFormat format : writableImageFormats()) {
        o.imageFormat = format;
        m.setOptions(o);
        const bool opaque = format == ImageOutputFormat::jpeg || format == ImageOutputFormat::heic;
        QVERIFY2(m.visibility().transparencyWarning == opaque, qPrintable(rawValue(format)));
    }
    QVERIFY(writableImageFormats().contains(ImageOutputFormat::jpeg));
    o.imageFormat = ImageOutputFormat::jpeg;
    m.setOptions(o);
    QCOMPARE(m.transparencyWarningText(),
             QStringLiteral("JPEG does not keep transparency, so removed backgrounds will be flattened to white."));
    o.removeImageBackground = false;
    m.setOptions(o);
    QVERIFY(!m.visibility().transparencyWarning);

    QVERIFY(!m.visibility().aspectHelp);
    m.setOption(&ConversionJobOptions::imageDimensions, ImageDimensionsPreset::square);
    QVERIFY(m.visibility().aspectHelp);
    QCOMPARE(m.aspectHelpText(), QStringLiteral("Center-crops to a true 1:1 square."));
    m.setOption(&ConversionJobOptions::imageDimensions, ImageDimensionsPreset::fourByThree);
    QCOMPARE(m.aspectHelpText(),
             QStringLiteral("Center-crops to the selected aspect ratio while keeping the image orientation."));

    // Without the model, removal cannot be chosen and the panel says why.
    if (!m.backgroundRemovalAvailable())
        QVERIFY(!m.backgroundRemovalHint().isEmpty());
}

void ConversionOptionsModelTest::convertNeedsAFolderUnlessOverwriting()
{
    ConversionOptionsModel m({media(MediaType::audio, "a.wav")}, "S", std::nullopt);
    QCOMPARE(m.options().outputMode, ConversionOutputMode::flatFolder);
    QVERIFY(!m.canConvert());
    QCOMPARE(m.convertBlockedReason(), QStringLiteral("Choose an output folder to continue"));
    QCOMPARE(m.outputFolderText(), QStringLiteral("No folder chosen"));
    QVERIFY(m.visibility().outputFolderRow && !m.visibility().mirrorNote && !m.visibility().overwriteWarning);
    QVERIFY(!m.prepareJob());
    QCOMPARE(m.outputFolderDialogStart(), QDir::homePath());

    m.setOption(&ConversionJobOptions::outputMode, ConversionOutputMode::mirrorTree);
    QVERIFY(m.visibility().mirrorNote && !m.canConvert());

    m.setOption(&ConversionJobOptions::outputMode, ConversionOutputMode::overwrite);
    QVERIFY(m.canConvert());
    QVERIFY(m.convertBlockedReason().isEmpty());
    QVERIFY(m.visibility().overwriteWarning && !m.visibility().outputFolderRow);

    m.setOption(&ConversionJobOptions::outputMode, ConversionOutputMode::flatFolder);
    const QString out = m_dir.filePath("out");
    m.setOutputFolder(out);
    QVERIFY(m.canConvert());
    QCOMPARE(m.outputFolderText(), out);
    QCOMPARE(m.outputFolderDialogStart(), out);
    m.setOutputFolder(QString()); // the folder dialog was cancelled: the folder stays
    QVERIFY(m.canConvert());
    m.clearOutputFolder();
    QVERIFY(!m.canConvert());
}

// Convert stores the defaults only when asked, and hands over the files, the options and a
// fresh staging folder.
void ConversionOptionsModelTest::pressingConvertPreparesTheJob()
{
    const QList<ResolvedMediaFile> files{media(MediaType::audio, "a.wav"), media(MediaType::audio, "b.wav")};
    ConversionOptionsModel m(files, "Music", std::nullopt);
    m.setOption(&ConversionJobOptions::audioFormat, AudioOutputFormat::aiff);
    m.setOutputFolder(m_dir.filePath("out"));

    std::optional<ConversionExporter::Job> job = m.prepareJob();
    QVERIFY(job);
    QCOMPARE(job->files.size(), 2);
    QCOMPARE(job->options.audioFormat, AudioOutputFormat::aiff);
    QCOMPARE(job->sourceShelfName, QStringLiteral("Music"));
    QVERIFY(job->cancel && !job->cancel->value());
    QVERIFY(QFileInfo(job->stagingFolder).isDir());
    QDir(job->stagingFolder).removeRecursively();
    QCOMPARE(conversionOptionsFromDefaults().audioFormat, AudioOutputFormat::wav); // not asked to save

    m.setSaveAsDefault(true);
    job = m.prepareJob();
    QVERIFY(job);
    QDir(job->stagingFolder).removeRecursively();
    QCOMPARE(conversionOptionsFromDefaults().audioFormat, AudioOutputFormat::aiff);
    QCOMPARE(conversionOptionsFromDefaults().outputFolder.value_or(QUrl()).toLocalFile(), m_dir.filePath("out"));
}

void ConversionOptionsModelTest::headerTextsAndConvertedShelfLine()
{
    ConversionOptionsModel one({media(MediaType::image, "p.png")}, "S", std::nullopt);
    QCOMPARE(one.countsText(), QStringLiteral("1 image"));
    QCOMPARE(one.convertButtonText(), QStringLiteral("Convert 1 File"));

    ConversionOptionsModel m({media(MediaType::audio, "a.wav"), media(MediaType::audio, "b.wav"),
                              media(MediaType::video, "v.mp4"), media(MediaType::image, "p.png"),
                              media(MediaType::image, "q.png")},
                             "Music", std::nullopt);
    QCOMPARE(m.countsText(), QString::fromUtf8("2 audio · 1 video · 2 images"));
    QCOMPARE(m.convertButtonText(), QStringLiteral("Convert 5 Files"));
    QCOMPARE(ConversionOptionsModel::fileSummary(m.files().first()), QStringLiteral("a.wav\nunreadable"));
    QCOMPARE(m.filesToggleText(), QString::fromUtf8("FILES ▸"));
    m.setShowFileList(true);
    QCOMPARE(m.filesToggleText(), QString::fromUtf8("FILES ▾"));

    QCOMPARE(m.convertedShelfText(),
             QString::fromUtf8("Converted files will appear on a new shelf: \"Music \u2014 Converted\""));
    QVERIFY(m.visibility().convertedShelfLine);
    // The line follows the setting while the panel is open.
    QSignalSpy changed(&m, &ConversionOptionsModel::changed);
    AppSettings::instance().setCreateConvertedShelf(false);
    QVERIFY(changed.count() >= 1);
    QVERIFY(!m.visibility().convertedShelfLine);
    AppSettings::instance().setCreateConvertedShelf(true);
}

// A preset goes over the current options (unknown values keep them); the initial preset is
// applied over the stored defaults when the panel opens; saving round-trips.
void ConversionOptionsModelTest::presetsAreAppliedLenientlyAndOnce()
{
    ConversionJobOptions o;
    o.audioFormat = AudioOutputFormat::m4a;
    o.aacBitrate = 192;
    o.videoFormat = VideoOutputFormat::h265;
    o.videoCRF = VideoQualityCRF::low;
    o.frameRate = VideoFrameRate::f2997;
    o.imageDimensions = ImageDimensionsPreset::fiveByFour;
    o.imageQuality = 55;
    o.outputMode = ConversionOutputMode::mirrorTree;
    const ConversionPreset p = conversionPresetFromOptions(o, "Mine");
    QCOMPARE(p.videoCRF, QStringLiteral("28"));
    QCOMPARE(p.frameRate, QStringLiteral("30000/1001"));

    ConversionJobOptions defaults;
    defaults.mp3Bitrate = 128;
    saveConversionDefaults(defaults);
    ConversionOptionsModel m({media(MediaType::audio, "a.wav")}, "S", p);
    QCOMPARE(m.options().audioFormat, AudioOutputFormat::m4a);
    QCOMPARE(m.options().aacBitrate, 192);
    QCOMPARE(m.options().videoCRF, o.videoCRF);
    QCOMPARE(m.options().frameRate, o.frameRate);
    QCOMPARE(m.options().imageDimensions, o.imageDimensions);
    QCOMPARE(m.options().imageQuality, 55);
    QCOMPARE(m.options().outputMode, o.outputMode);
    QCOMPARE(m.presetNamed("Again").name, QStringLiteral("Again"));
    QCOMPARE(m.presetNamed("Again").videoCRF, p.videoCRF);

    ConversionPreset odd = p;
    odd.imageDimensions = "9:16";
    odd.audioFormat = "flac"; // unknown: the current option stays
    odd.imageQuality = 150;
    odd.outputMode = "overwrite";
    m.setOption(&ConversionJobOptions::audioFormat, AudioOutputFormat::mp3);
    QSignalSpy changed(&m, &ConversionOptionsModel::changed);
    m.applyPreset(odd);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(m.options().imageDimensions, ImageDimensionsPreset::sixteenByNine);
    QCOMPARE(m.options().audioFormat, AudioOutputFormat::mp3);
    QCOMPARE(m.options().imageQuality, 100);
    QVERIFY(m.canConvert()); // the preset's mode needs no folder
    odd.imageDimensions = "2:1";
    m.applyPreset(odd);
    QCOMPARE(m.options().imageDimensions, ImageDimensionsPreset::sixteenByNine); // unchanged
}

// "Save as default" keeps the listed options; bit depth, bit rates, preserve duration and
// audio-only are not among them.
void ConversionOptionsModelTest::defaultsAreStored()
{
    ConversionJobOptions o;
    o.audioFormat = AudioOutputFormat::aiff;
    o.sampleRate = AudioSampleRate::r96000;
    o.bitDepth = AudioBitDepth::b24;
    o.mp3Bitrate = 128;
    o.videoFormat = VideoOutputFormat::h264;
    o.videoAsAudioOnly = true;
    o.imageFormat = ImageOutputFormat::tiff;
    o.imageQuality = 33;
    o.removeImageBackground = true;
    o.outputMode = ConversionOutputMode::mirrorTree;
    o.outputFolder = QUrl::fromLocalFile(m_dir.filePath("out"));
    saveConversionDefaults(o);
    const ConversionJobOptions read = conversionOptionsFromDefaults();
    QCOMPARE(read.audioFormat, AudioOutputFormat::aiff);
    QCOMPARE(read.sampleRate, AudioSampleRate::r96000);
    QCOMPARE(read.videoFormat, VideoOutputFormat::h264);
    QCOMPARE(read.imageFormat, ImageOutputFormat::tiff);
    QCOMPARE(read.imageQuality, 33);
    QVERIFY(read.removeImageBackground);
    QCOMPARE(read.outputMode, ConversionOutputMode::mirrorTree);
    QCOMPARE(read.outputFolder.value_or(QUrl()).toLocalFile(), m_dir.filePath("out"));
    QCOMPARE(read.bitDepth, ConversionJobOptions{}.bitDepth);
    QCOMPARE(read.mp3Bitrate, ConversionJobOptions{}.mp3Bitrate);
    QVERIFY(!read.videoAsAudioOnly);
}

// With clearing on, the announcement names the items that stayed on the shelf, but only
// when something was produced and the run was not cancelled.
void ConversionOptionsModelTest::settlingNamesWhatStayedOnTheShelf()
{
    const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/media/Album"));
    const QList<ResolvedMediaFile> files{media(MediaType::audio, "a.wav"), media(MediaType::audio, "b.wav"),
                                         media(MediaType::audio, "Album/c.wav", folder)};
    const QList<QUrl> items{files[0].url, files[1].url, folder};
    ConversionReport report;
    report.outputs = {QUrl::fromLocalFile("/out/a.aif"), QUrl::fromLocalFile("/out/c.aif")};
    report.convertedSources = {files[0].url, files[2].url};
    report.failures.append({files[1].url, QStringLiteral("The file ends early")});

    AppSettings::instance().setClearShelfAfterConversion(true);
    ConversionAnnouncement a = settleConversionRun(nullptr, {}, "Music", items, files, report);
    QVERIFY(a.notificationBody);
    QVERIFY2(a.notificationBody->endsWith("\nNot converted, so left on the shelf: b.wav"), qPrintable(*a.notificationBody));
    QCOMPARE(*a.alertTitle, QStringLiteral("Some Files Could Not Be Converted"));

    report.cancelled = true;
    a = settleConversionRun(nullptr, {}, "Music", items, files, report);
    QVERIFY(!a.notificationBody->contains("left on the shelf"));

    report.cancelled = false;
    AppSettings::instance().setClearShelfAfterConversion(false);
    a = settleConversionRun(nullptr, {}, "Music", items, files, report);
    QVERIFY(!a.notificationBody->contains("left on the shelf"));
}

QTEST_GUILESS_MAIN(ConversionOptionsModelTest)
#include "tst_conversion_options_model.moc"
