// glib names a struct member "signals": include it before any Qt header.
#include <vips/vips.h>

#include "conversion/ConversionOptions.h"
#include "settings/SettingsEnums.h"
#include "tools/archive/ArchiveOptions.h"
#include "tools/flatten/FlattenOptions.h"

#include <QSet>
#include <QtTest>

namespace {
// Raw values of every case, in declaration order.
template <typename E>
QStringList raws()
{
    QStringList out;
    for (E value : allCases<E>())
        out << rawValue(value);
    return out;
}
template <typename E>
QStringList labels()
{
    QStringList out;
    for (E value : allCases<E>())
        out << displayLabel(value);
    return out;
}
template <typename E>
bool rawValuesRoundTrip()
{
    QSet<QString> seen;
    for (E value : allCases<E>()) {
        const QString raw = rawValue(value);
        if (raw.isEmpty() || seen.contains(raw) || enumFromRaw<E>(raw) != value)
            return false;
        seen.insert(raw);
    }
    return true;
}
} // namespace

class TestOptionEnums : public QObject
{
    Q_OBJECT
private slots:
    void rawValuesAreUniqueAndRoundTrip()
    {
        QVERIFY(rawValuesRoundTrip<ConversionOutputMode>());
        QVERIFY(rawValuesRoundTrip<AudioOutputFormat>());
        QVERIFY(rawValuesRoundTrip<AudioSampleRate>());
        QVERIFY(rawValuesRoundTrip<AudioBitDepth>());
        QVERIFY(rawValuesRoundTrip<AudioChannels>());
        QVERIFY(rawValuesRoundTrip<VideoOutputFormat>());
        QVERIFY(rawValuesRoundTrip<ProResProfile>());
        QVERIFY(rawValuesRoundTrip<VideoQualityCRF>());
        QVERIFY(rawValuesRoundTrip<VideoFrameRate>());
        QVERIFY(rawValuesRoundTrip<VideoResolution>());
        QVERIFY(rawValuesRoundTrip<ImageOutputFormat>());
        QVERIFY(rawValuesRoundTrip<ImageDimensionsPreset>());
        QVERIFY(rawValuesRoundTrip<ArchiveFormat>());
        QVERIFY(rawValuesRoundTrip<CompressionLevel>());
        QVERIFY(rawValuesRoundTrip<FlattenOperation>());
        QVERIFY(rawValuesRoundTrip<FlattenDuplicateMode>());
        QVERIFY(rawValuesRoundTrip<ShelfSortOrder>());
        QVERIFY(rawValuesRoundTrip<GlobalShortcut>());
    }

    void storedFormsAndPickerOrder()
    {
        QCOMPARE(raws<ArchiveFormat>(), QStringList({"zip", "7z", "tarGz"}));
        QCOMPARE(labels<ArchiveFormat>(), QStringList({"ZIP", "7Z", "TAR+GZ"}));
        QCOMPARE(fileExtension(ArchiveFormat::tarGz), QStringLiteral("tar.gz"));
        QCOMPARE(zipLevelArgument(CompressionLevel::max), QStringLiteral("-9"));
        QCOMPARE(raws<ProResProfile>(), QStringList({"0", "1", "2", "3", "4", "5"}));
        QCOMPARE(raws<VideoQualityCRF>(), QStringList({"18", "21", "23", "28"}));
        QCOMPARE(raws<VideoFrameRate>(),
                 QStringList({"original", "24000/1001", "24", "25", "30000/1001", "30", "60"}));
        QCOMPARE(raws<ImageOutputFormat>(),
                 QStringList({"public.png", "public.jpeg", "org.webmproject.webp", "public.heic", "public.tiff"}));
        QCOMPARE(labels<ImageDimensionsPreset>(),
                 QStringList({"Keep Original", "Square (1:1)", "3:2 / 2:3", "4:3 / 3:4", "5:4 / 4:5", "16:9 / 9:16"}));
        QCOMPARE(labels<AudioSampleRate>().first(), QStringLiteral("Keep Original"));
        QCOMPARE(displayLabel(ConversionOutputMode::mirrorTree), QStringLiteral("New Folder — Mirror Tree"));
        QCOMPARE(displayLabel(VideoResolution::uhd4k), QStringLiteral("4K (3840×2160)"));
        QCOMPARE(fileExtension(ImageOutputFormat::jpeg), QStringLiteral("jpg"));
        QCOMPARE(fileExtension(VideoOutputFormat::prores), QStringLiteral("mov"));
        QCOMPARE(fileExtension(VideoOutputFormat::h265), QStringLiteral("mp4"));
        QCOMPARE(sampleRateHz(AudioSampleRate::r88200), 88200);
        QCOMPARE(channelCount(AudioChannels::mono), 1);
        QCOMPARE(frameRateRatio(VideoFrameRate::f2397)->denominator, 1001);
        QVERIFY(!frameRateRatio(VideoFrameRate::original));
        QCOMPARE(*targetSize(VideoResolution::hd720), QSize(1280, 720));
        QVERIFY(!enumFromRaw<ImageOutputFormat>(u"png")); // exact raw values only
    }

    void lenientDimensionParse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1: none
        QTest::newRow("original") << "original" << int(ImageDimensionsPreset::original);
        QTest::newRow("1:1") << "1:1" << int(ImageDimensionsPreset::square);
        QTest::newRow("2:3") << "2:3" << int(ImageDimensionsPreset::threeByTwo);
        QTest::newRow("3:4") << "3:4" << int(ImageDimensionsPreset::fourByThree);
        QTest::newRow("4:5") << "4:5" << int(ImageDimensionsPreset::fiveByFour);
        QTest::newRow("9:16") << "9:16" << int(ImageDimensionsPreset::sixteenByNine);
        QTest::newRow("1920:1080") << "1920:1080" << int(ImageDimensionsPreset::sixteenByNine);
        QTest::newRow("2:1") << "2:1" << -1;
        QTest::newRow("Square") << "Square" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void lenientDimensionParse()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto parsed = parseImageDimensions(text);
        QCOMPARE(parsed ? int(*parsed) : -1, expected);
    }

    void writableFormatsFollowTheImageLibrary()
    {
        const QList<ImageOutputFormat> formats = writableImageFormats();
        QVERIFY(formats.contains(ImageOutputFormat::png));
        QCOMPARE(defaultImageOutputFormat(), formats.first());
        for (ImageOutputFormat format : allCases<ImageOutputFormat>()) {
            const QByteArray name = "x." + fileExtension(format).toLatin1();
            const bool saver = vips_foreign_find_save(name.constData()) != nullptr;
            vips_error_clear();
            QCOMPARE(formats.contains(format), saver);
        }
        // Declaration order is kept.
        QList<ImageOutputFormat> sorted = formats;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(formats, sorted);
    }
};

QTEST_GUILESS_MAIN(TestOptionEnums)
#include "tst_option_enums.moc"
