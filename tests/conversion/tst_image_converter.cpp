// The image converter: crop geometry, orientation, per-format properties (quality,
// background, metadata), multi-page and broken inputs, background removal.
#include <vips/vips.h>

#include "MediaTestSupport.h"

#include "conversion/VipsSupport.h"
#include "conversion/image/BackgroundRemover.h"
#include "conversion/image/ImageConverter.h"
#include "conversion/image/ImageMetadata.h"

#include <QTemporaryDir>
#include <QDir>
#include <QtTest>

#include <tiffio.h>
#include <zlib.h>

#include <csignal>

using namespace MediaTestSupport;

namespace {

struct Unref {
    void operator()(VipsImage *i) const { if (i) g_object_unref(i); }
};
using ImagePtr = std::unique_ptr<VipsImage, Unref>;

ImagePtr load(const QString &path)
{
    return ImagePtr(vips_image_new_from_file(QFile::encodeName(path).constData(), "access", VIPS_ACCESS_RANDOM, nullptr));
}

// The pixel at (x, y) as doubles, one per band.
QList<double> pixel(VipsImage *image, int x, int y)
{
    double *values = nullptr;
    int n = 0;
    QList<double> out;
    if (vips_getpoint(image, &values, &n, x, y, nullptr) == 0) {
        for (int i = 0; i < n; ++i)
            out.append(values[i]);
        g_free(values);
    }
    return out;
}

int orientationOf(VipsImage *image)
{
    int o = 1;
    if (vips_image_get_typeof(image, VIPS_META_ORIENTATION))
        vips_image_get_int(image, VIPS_META_ORIENTATION, &o);
    return o;
}

// A w × h RGB image, grey, with a red square in the stored top-left corner.
ImagePtr markedImage(int w, int h)
{
    VipsImage *bg = nullptr, *out = nullptr;
    vips_black(&bg, w, h, "bands", 3, nullptr);
    ImagePtr base(bg);
    VipsImage *grey = nullptr;
    vips_linear1(base.get(), &grey, 1.0, 128.0, nullptr);
    ImagePtr g(grey);
    VipsImage *u = nullptr;
    vips_cast_uchar(g.get(), &u, nullptr);
    ImagePtr canvas(u);
    double red[3] = {255, 0, 0};
    VipsImage *copy = nullptr;
    vips_copy(canvas.get(), &copy, nullptr);
    vips_image_inplace(copy);
    vips_draw_rect(copy, red, 3, 0, 0, w / 6, h / 6, "fill", TRUE, nullptr);
    out = copy;
    vips_image_set_int(out, VIPS_META_ORIENTATION, 1);
    return ImagePtr(out);
}

quint32 pngCrc(const QByteArray &data)
{
    quint32 c = 0xffffffffu;
    for (char ch : data) {
        c ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xffffffffu;
}

// An EXIF block in big-endian order (the other order than the TIFF files written here):
// camera make and model and an orientation in the main directory, the date taken, ISO and
// an interoperability directory in the EXIF directory, a latitude in the GPS directory.
// With `loop`, the EXIF directory points back at itself as its interoperability directory.
QByteArray cameraExif(bool loop = false)
{
    struct Ifd {
        QList<std::tuple<quint16, quint16, quint32, QByteArray>> entries; // tag, type, count, value
    };
    const auto be16 = [](quint16 v) {
        const char b[] = {char(v >> 8), char(v & 0xff)};
        return QByteArray(b, 2);
    };
    const auto be32 = [&](quint32 v) { return be16(quint16(v >> 16)) + be16(quint16(v)); };
    const auto ascii = [](const char *t) { return QByteArray(t) + QByteArray(1, '\0'); };
    // Layout: header 8, IFD0 at 8, EXIF IFD, interop IFD, GPS IFD, then the data area.
    QByteArray out = "MM" + be16(42) + be32(8);
    QByteArray data;
    quint32 dataAt = 0;
    const auto place = [&](const QByteArray &v) {
        const quint32 at = dataAt + quint32(data.size());
        data += v;
        if (data.size() % 2)
            data += '\0';
        return at;
    };
    const auto ifdSize = [](int n) { return 2 + n * 12 + 4; };
    const quint32 ifd0 = 8, exifIfd = ifd0 + ifdSize(5), interop = exifIfd + ifdSize(3), gps = interop + ifdSize(1);
    dataAt = gps + ifdSize(2);
    const auto entry = [&](quint16 tag, quint16 type, quint32 count, const QByteArray &value) {
        QByteArray e = be16(tag) + be16(type) + be32(count);
        if (value.size() <= 4)
            e += value + QByteArray(4 - value.size(), '\0');
        else
            e += be32(place(value));
        return e;
    };
    QByteArray d0 = be16(5) + entry(0x010f, 2, 9, ascii("Acme Cam")) + entry(0x0110, 2, 3, ascii("X1"))
        + entry(0x0112, 3, 1, be16(6)) + entry(0x8769, 4, 1, be32(exifIfd)) + entry(0x8825, 4, 1, be32(gps)) + be32(0);
    QByteArray dExif = be16(3) + entry(0x8827, 3, 1, be16(200)) + entry(0x9003, 2, 20, ascii("2024:05:06 07:08:09"))
        + entry(0xa005, 4, 1, be32(loop ? exifIfd : interop)) + be32(0);
    QByteArray dInterop = be16(1) + entry(0x0001, 2, 4, ascii("R98")) + be32(0);
    QByteArray latitude = be32(52) + be32(1) + be32(30) + be32(1) + be32(0) + be32(1);
    QByteArray dGps = be16(2) + entry(0x0001, 2, 2, ascii("N")) + entry(0x0002, 5, 3, latitude) + be32(0);
    out += d0 + dExif + dInterop + dGps + data;
    return QByteArray("Exif\0\0", 6) + out;
}

// IPTC records (caption and a keyword) in a Photoshop resource block, as a JPEG holds them.
QByteArray captionIptc()
{
    const auto dataset = [](int number, const QByteArray &value) {
        const char head[] = {char(0x1c), 2, char(number), char(value.size() >> 8), char(value.size() & 0xff)};
        return QByteArray(head, sizeof head) + value;
    };
    return ImageMetadata::photoshopSegment(dataset(120, "Harbour at dawn") + dataset(25, "boats"));
}

// The text of a PNG's compressed text chunk with `keyword`, or nothing.
QByteArray pngText(const QString &file, const QByteArray &keyword)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray png = f.readAll();
    const qsizetype at = png.indexOf("zTXt" + keyword + QByteArray(2, '\0'));
    if (at < 4)
        return {};
    const quint32 length = (quint32(uchar(png[at - 4])) << 24) | (uchar(png[at - 3]) << 16) | (uchar(png[at - 2]) << 8) | uchar(png[at - 1]);
    const QByteArray packed = png.mid(at + 4 + keyword.size() + 2, length - keyword.size() - 2);
    QByteArray text(1 << 20, Qt::Uninitialized);
    uLongf size = uLongf(text.size());
    if (uncompress(reinterpret_cast<Bytef *>(text.data()), &size, reinterpret_cast<const Bytef *>(packed.constData()), uLong(packed.size())) != Z_OK)
        return {};
    text.truncate(qsizetype(size));
    return text;
}

struct TiffClose {
    void operator()(TIFF *t) const { if (t) TIFFClose(t); }
};

// What a TIFF reader finds of the camera's EXIF: make, date taken, latitude reference.
QStringList tiffExif(const QString &file)
{
    std::unique_ptr<TIFF, TiffClose> tif(TIFFOpen(QFile::encodeName(file).constData(), "r"));
    if (!tif)
        return {QStringLiteral("unreadable")};
    QStringList out;
    char *make = nullptr;
    out << (TIFFGetField(tif.get(), TIFFTAG_MAKE, &make) ? QString::fromLatin1(make) : QString());
    toff_t exif = 0, gps = 0;
    const bool hasGps = TIFFGetField(tif.get(), TIFFTAG_GPSIFD, &gps);
    char *date = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_EXIFIFD, &exif) && TIFFReadEXIFDirectory(tif.get(), exif)
        && TIFFGetField(tif.get(), EXIFTAG_DATETIMEORIGINAL, &date))
        out << QString::fromLatin1(date);
    else
        out << QString();
    char *ref = nullptr;
    if (hasGps && TIFFReadGPSDirectory(tif.get(), gps) && TIFFGetField(tif.get(), GPSTAG_LATITUDEREF, &ref))
        out << QString::fromLatin1(ref);
    else
        out << QString();
    return out;
}

} // namespace

class ImageConverterTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cropGeometry_data();
    void cropGeometry();
    void cropInConversionKeepsSourcePixels();
    void orientationSixComesOutUpright_data();
    void orientationSixComesOutUpright();
    void qualityIsClamped();
    void transparencyPerFormat();
    void metadataKeptOrDropped();
    void metadataEachFormatCanCarry();
    void exifIntoTiffStandsHostileBlocks();
    void aChangedSourceIsReadAgain();
    void refusesMultiPageAndBrokenInput();
    void removesBackgroundAroundSubject();
    void removalHelperFailuresAreReported();
    void killedHelperIsReplacedOnce();
    void removalRunsHereWithoutHelper();

private:
    // Points the lookup of the background-removal helper at `folder` (the build's own when empty).
    void useHelperFolder(const QString &folder)
    {
#ifdef PERCHBOX_HELPER_DIR
        qputenv("PERCHBOX_MODULE_DIR", folder.isEmpty() ? QByteArray(PERCHBOX_HELPER_DIR) : QFile::encodeName(folder));
#else
        qputenv("PERCHBOX_MODULE_DIR", QFile::encodeName(folder));
#endif
    }
    // A fake helper in a folder of its own (named `name`), running the shell `script`; the
    // lookup is pointed at it.
    bool useFakeHelper(const QString &name, const QByteArray &script)
    {
        const QString folder = path(name);
        QFile helper(folder + QStringLiteral("/perchbox-remove-background"));
        if (!QDir().mkpath(folder) || !helper.open(QIODevice::WriteOnly))
            return false;
        helper.write("#!/bin/sh\n" + script + "\n");
        helper.close();
        useHelperFolder(folder);
        return helper.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    // Frees the network: the helper ends, or the network in this process goes.
    static bool release()
    {
        BackgroundRemover::setIdleRelease(std::chrono::milliseconds(1));
        const bool gone = QTest::qWaitFor([] { return !BackgroundRemover::isLoaded(); }, 10000);
        BackgroundRemover::setIdleRelease(BackgroundRemover::kDefaultIdleRelease);
        return gone;
    }
    void makeSubject()
    {
        if (QFileInfo::exists(path("subject.png")))
            return;
        // A dark disc on a flat light background.
        QVERIFY(ffmpeg({"-f", "lavfi", "-i",
                        "color=0xe8e8e0:s=640x480,format=rgb24,geq=r='if(lt(hypot(X-320,Y-240),130),40,232)':"
                        "g='if(lt(hypot(X-320,Y-240),130),60,232)':b='if(lt(hypot(X-320,Y-240),130),160,224)'",
                        "-frames:v", "1", path("subject.png")}));
    }

    QString path(const QString &rel) const { return m_dir.filePath(rel); }
    QUrl url(const QString &rel) const { return QUrl::fromLocalFile(path(rel)); }
    bool convert(const QString &in, ImageOutputFormat f, const QString &out, int quality = 90,
                 ImageDimensionsPreset d = ImageDimensionsPreset::original, bool meta = true, bool bg = false)
    {
        QString error;
        const auto r = runImageConversion(url(in), f, quality, d, meta, bg, url(out), &error);
        if (!r)
            qInfo().noquote() << "conversion failed:" << error;
        return r.has_value();
    }
    QTemporaryDir m_dir;
};

namespace {

// True while process `pid` exists (a child that ended and was reaped does not).
bool processExists(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

} // namespace

void ImageConverterTest::initTestCase()
{
    QVERIFY(VipsSupport::ensureStarted());
}

void ImageConverterTest::cropGeometry_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<ImageDimensionsPreset>("preset");
    QTest::addColumn<QRect>("expected");
    using D = ImageDimensionsPreset;
    QTest::newRow("4:3 photo, 4:3 → untouched") << 4000 << 3000 << D::fourByThree << QRect(0, 0, 4000, 3000);
    QTest::newRow("4:3 photo, square") << 4000 << 3000 << D::square << QRect(500, 0, 3000, 3000);
    QTest::newRow("4:3 photo, 16:9") << 4000 << 3000 << D::sixteenByNine << QRect(0, 375, 4000, 2250);
    QTest::newRow("portrait, 16:9 → 9:16") << 3000 << 4000 << D::sixteenByNine << QRect(375, 0, 2250, 4000);
    QTest::newRow("portrait, 3:2 → 2:3") << 3000 << 3000 * 2 << D::threeByTwo << QRect(0, 750, 3000, 4500);
    QTest::newRow("square source, 5:4") << 1000 << 1000 << D::fiveByFour << QRect(0, 100, 1000, 800);
    QTest::newRow("original") << 123 << 45 << D::original << QRect(0, 0, 123, 45);
    QTest::newRow("within 0.001 of the ratio") << 1921 << 1080 << D::sixteenByNine << QRect(0, 0, 1921, 1080);
    QTest::newRow("rounded outward") << 1001 << 500 << D::square << QRect(250, 0, 501, 500);
}

void ImageConverterTest::cropGeometry()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(ImageDimensionsPreset, preset);
    QFETCH(QRect, expected);
    QCOMPARE(aspectCropRect(w, h, preset), expected);
}

void ImageConverterTest::cropInConversionKeepsSourcePixels()
{
    ImagePtr src = markedImage(600, 300);
    QVERIFY(vips_pngsave(src.get(), QFile::encodeName(path("crop.png")).constData(), nullptr) == 0);
    QVERIFY(convert("crop.png", ImageOutputFormat::png, "crop-sq.png", 90, ImageDimensionsPreset::square));
    ImagePtr out = load(path("crop-sq.png"));
    QVERIFY(out);
    QCOMPARE(vips_image_get_width(out.get()), 300);
    QCOMPARE(vips_image_get_height(out.get()), 300);
    // Centre crop from x = 150: the red block (x < 100) is cut away, the grey is untouched.
    QCOMPARE(pixel(out.get(), 0, 0), (QList<double>{128, 128, 128}));
}

void ImageConverterTest::orientationSixComesOutUpright_data()
{
    QTest::addColumn<ImageOutputFormat>("format");
    QTest::addColumn<QString>("ext");
    for (ImageOutputFormat f : writableImageFormats())
        QTest::newRow(qPrintable(fileExtension(f))) << f << fileExtension(f);
}

void ImageConverterTest::orientationSixComesOutUpright()
{
    QFETCH(ImageOutputFormat, format);
    QFETCH(QString, ext);
    if (!QFileInfo::exists(path("rot6.jpg"))) {
        ImagePtr src = markedImage(600, 400);
        vips_image_set_int(src.get(), VIPS_META_ORIENTATION, 6);
        QVERIFY(vips_jpegsave(src.get(), QFile::encodeName(path("rot6.jpg")).constData(), "Q", 95, nullptr) == 0);
        ImagePtr check = load(path("rot6.jpg"));
        QCOMPARE(orientationOf(check.get()), 6);
    }
    const QString out = "rot6-out." + ext;
    QVERIFY(convert("rot6.jpg", format, out, 95));
    ImagePtr image = load(path(out));
    QVERIFY(image);
    QCOMPARE(vips_image_get_width(image.get()), 400);
    QCOMPARE(vips_image_get_height(image.get()), 600);
    QCOMPARE(orientationOf(image.get()), 1);
    // Orientation 6 turns the stored top-left corner to the top right.
    const QList<double> topRight = pixel(image.get(), 390, 10);
    const QList<double> topLeft = pixel(image.get(), 10, 10);
    QVERIFY2(topRight[0] > 200 && topRight[1] < 60, qPrintable(QString::number(topRight[0])));
    QVERIFY(qAbs(topLeft[0] - 128) < 20 && qAbs(topLeft[1] - 128) < 20);
}

void ImageConverterTest::qualityIsClamped()
{
    ImagePtr src = markedImage(200, 100);
    QVERIFY(vips_pngsave(src.get(), QFile::encodeName(path("q.png")).constData(), nullptr) == 0);
    QCOMPARE(lossyQuality(150), 1.0);
    QCOMPARE(lossyQuality(-5), 0.0);
    QCOMPARE(lossyQuality(42), 0.42);
    for (ImageOutputFormat f : {ImageOutputFormat::jpeg, ImageOutputFormat::webp}) {
        const QString ext = fileExtension(f);
        QVERIFY(convert("q.png", f, "q150." + ext, 150));
        QVERIFY(convert("q.png", f, "q100." + ext, 100));
        QVERIFY(convert("q.png", f, "q-5." + ext, -5));
        QVERIFY(convert("q.png", f, "q0." + ext, 0));
        QCOMPARE(readFile(path("q150." + ext)), readFile(path("q100." + ext)));
        QCOMPARE(readFile(path("q-5." + ext)), readFile(path("q0." + ext)));
        QVERIFY(readFile(path("q0." + ext)).size() < readFile(path("q100." + ext)).size());
    }
}

void ImageConverterTest::transparencyPerFormat()
{
    // Left half opaque red, right half fully transparent.
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=red:s=80x40,format=rgba,geq=r='255':g='0':b='0':a='if(lt(X,40),255,0)'",
                    "-frames:v", "1", path("alpha.png")}));
    for (ImageOutputFormat f : writableImageFormats()) {
        const QString out = "alpha-out." + fileExtension(f);
        QVERIFY(convert("alpha.png", f, out));
        ImagePtr image = load(path(out));
        QVERIFY(image);
        const bool opaque = f == ImageOutputFormat::jpeg || f == ImageOutputFormat::heic;
        QCOMPARE(bool(vips_image_hasalpha(image.get())), !opaque);
        const QList<double> right = pixel(image.get(), 70, 20);
        if (opaque) // flattened onto white
            QVERIFY2(right[0] > 235 && right[1] > 235 && right[2] > 235, qPrintable(fileExtension(f)));
        else
            QCOMPARE(right.last(), 0.0);
        const QList<double> left = pixel(image.get(), 5, 20);
        QVERIFY(left[0] > 200 && left[1] < 60);
    }
}

void ImageConverterTest::metadataKeptOrDropped()
{
    ImagePtr src = markedImage(64, 64);
    const QByteArray xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                           "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\" dc:format=\"perchbox-test\"/>"
                           "</rdf:RDF></x:xmpmeta>";
    vips_image_set_blob_copy(src.get(), VIPS_META_XMP_NAME, xmp.constData(), size_t(xmp.size()));
    QVERIFY(vips_jpegsave(src.get(), QFile::encodeName(path("meta.jpg")).constData(), nullptr) == 0);
    for (ImageOutputFormat f : {ImageOutputFormat::jpeg, ImageOutputFormat::png, ImageOutputFormat::webp}) {
        const QString ext = fileExtension(f);
        QVERIFY(convert("meta.jpg", f, "kept." + ext, 90, ImageDimensionsPreset::original, true));
        QVERIFY(convert("meta.jpg", f, "dropped." + ext, 90, ImageDimensionsPreset::original, false));
        ImagePtr kept = load(path("kept." + ext));
        ImagePtr dropped = load(path("dropped." + ext));
        QVERIFY2(vips_image_get_typeof(kept.get(), VIPS_META_XMP_NAME), qPrintable(ext));
        QVERIFY2(!vips_image_get_typeof(dropped.get(), VIPS_META_XMP_NAME), qPrintable(ext));
        QCOMPARE(orientationOf(dropped.get()), 1);
    }
}

// EXIF reaches a TIFF's own directories, IPTC goes into TIFF, PNG and JPEG in the form each
// keeps it in (also from a TIFF, where it is bare records, into a JPEG); with metadata off
// none of it is there.
void ImageConverterTest::metadataEachFormatCanCarry()
{
    ImagePtr src = markedImage(96, 64);
    const QByteArray exif = cameraExif();
    const QByteArray iptc = captionIptc();
    vips_image_set_blob_copy(src.get(), VIPS_META_EXIF_NAME, exif.constData(), size_t(exif.size()));
    vips_image_set_blob_copy(src.get(), VIPS_META_IPTC_NAME, iptc.constData(), size_t(iptc.size()));
    QVERIFY(vips_jpegsave(src.get(), QFile::encodeName(path("camera.jpg")).constData(), nullptr) == 0);

    // TIFF: the camera's tags where a TIFF reader looks, the picture unchanged.
    QVERIFY(convert("camera.jpg", ImageOutputFormat::tiff, "camera.tiff"));
    QCOMPARE(tiffExif(path("camera.tiff")),
             QStringList({QStringLiteral("Acme Cam"), QStringLiteral("2024:05:06 07:08:09"), QStringLiteral("N")}));
    ImagePtr tiff = load(path("camera.tiff"));
    QVERIFY(tiff);
    QCOMPARE(vips_image_get_width(tiff.get()), 64); // orientation 6 applied: upright
    QCOMPARE(vips_image_get_height(tiff.get()), 96);
    QCOMPARE(orientationOf(tiff.get()), 1);
    QVERIFY(ImageMetadata::iptcRecords(VipsSupport::blobField(tiff.get(), VIPS_META_IPTC_NAME)).contains("Harbour at dawn"));

    // PNG: the records in the text chunk other tools read.
    QVERIFY(convert("camera.jpg", ImageOutputFormat::png, "camera.png"));
    const QByteArray profile = pngText(path("camera.png"), "Raw profile type iptc");
    QVERIFY(profile.startsWith("\niptc\n"));
    QVERIFY(profile.contains(QByteArray("Harbour at dawn").toHex()));
    QVERIFY(load(path("camera.png")));

    // JPEG, from the TIFF (bare records) and from the JPEG (a resource block).
    for (const QString &from : {QStringLiteral("camera.tiff"), QStringLiteral("camera.jpg")}) {
        QVERIFY(convert(from, ImageOutputFormat::jpeg, from + ".jpg"));
        ImagePtr jpeg = load(path(from + ".jpg"));
        const QByteArray block = VipsSupport::blobField(jpeg.get(), VIPS_META_IPTC_NAME);
        QVERIFY2(block.startsWith(QByteArray("Photoshop 3.0\0", 14)), qPrintable(from));
        QVERIFY(ImageMetadata::iptcRecords(block).contains("boats"));
    }

    // Off: nothing of it.
    QVERIFY(convert("camera.jpg", ImageOutputFormat::tiff, "bare.tiff", 90, ImageDimensionsPreset::original, false));
    QCOMPARE(tiffExif(path("bare.tiff")), QStringList({QString(), QString(), QString()}));
    QVERIFY(!vips_image_get_typeof(load(path("bare.tiff")).get(), VIPS_META_IPTC_NAME));
    QVERIFY(convert("camera.jpg", ImageOutputFormat::png, "bare.png", 90, ImageDimensionsPreset::original, false));
    QVERIFY(pngText(path("bare.png"), "Raw profile type iptc").isEmpty());
}

// An EXIF block that loops, lies about its sizes or is cut short never hangs or breaks the
// file; a file that is not a TIFF is refused with a reason.
void ImageConverterTest::exifIntoTiffStandsHostileBlocks()
{
    ImagePtr src = markedImage(40, 30);
    const QByteArray loop = cameraExif(true);
    QByteArray cut = cameraExif().left(60);
    QByteArray lying = cameraExif();
    lying[6 + 8 + 2 + 4 + 3] = char(0x7f); // the make's count: far past the block
    int n = 0;
    // (A new name each time: the image library keeps what it loaded by name.)
    const auto fresh = [&] {
        const QString name = QStringLiteral("plain-%1.tiff").arg(++n);
        return vips_tiffsave(src.get(), QFile::encodeName(path(name)).constData(), nullptr) == 0 ? name : QString();
    };
    for (const QByteArray &block : {loop, cut, lying, QByteArray("Exif\0\0II*\0", 10), QByteArray()}) {
        const QString name = fresh();
        QVERIFY(!name.isEmpty());
        QString error;
        QVERIFY2(ImageMetadata::addToTiff(QFile::encodeName(path(name)), block, {}, &error), qPrintable(error));
        ImagePtr back = load(path(name));
        QVERIFY(back);
        QCOMPARE(vips_image_get_width(back.get()), 40);
        QCOMPARE(pixel(back.get(), 0, 0), QList<double>({255, 0, 0}));
    }
    // The loop's EXIF directory still arrives, once, and the IPTC whole.
    const QString name = fresh();
    QString error;
    QVERIFY(ImageMetadata::addToTiff(QFile::encodeName(path(name)), loop, captionIptc(), &error));
    QCOMPARE(tiffExif(path(name)).value(1), QStringLiteral("2024:05:06 07:08:09"));
    const QByteArray iptc = VipsSupport::blobField(load(path(name)).get(), VIPS_META_IPTC_NAME);
    QVERIFY(iptc.startsWith(QByteArray("\x1c\x02\x78\x00\x0fHarbour at dawn", 20)));

    QFile junk(path("junk.tiff"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a tiff at all");
    junk.close();
    QVERIFY(!ImageMetadata::addToTiff(QFile::encodeName(path("junk.tiff")), cameraExif(), {}, &error));
    QVERIFY(!error.isEmpty());
}

// A picture edited between two conversions (same name) is converted as it is now, not as
// the image library saw it the first time.
void ImageConverterTest::aChangedSourceIsReadAgain()
{
    ImagePtr first = markedImage(48, 32);
    QVERIFY(vips_pngsave(first.get(), QFile::encodeName(path("edited.png")).constData(), nullptr) == 0);
    QVERIFY(convert("edited.png", ImageOutputFormat::png, "edited-1.png"));
    QCOMPARE(pixel(load(path("edited-1.png")).get(), 0, 0), QList<double>({255, 0, 0}));

    VipsImage *black = nullptr;
    vips_black(&black, 48, 32, "bands", 3, nullptr);
    ImagePtr second(black);
    VipsImage *u = nullptr;
    vips_cast_uchar(second.get(), &u, nullptr);
    ImagePtr dark(u);
    QVERIFY(vips_pngsave(dark.get(), QFile::encodeName(path("edited.png")).constData(), nullptr) == 0);
    QVERIFY(convert("edited.png", ImageOutputFormat::png, "edited-2.png"));
    QCOMPARE(pixel(load(path("edited-2.png")).get(), 0, 0), QList<double>({0, 0, 0}));
}

void ImageConverterTest::refusesMultiPageAndBrokenInput()
{
    ImagePtr src = markedImage(40, 60);
    QVERIFY(vips_tiffsave(src.get(), QFile::encodeName(path("pages.tif")).constData(), "page_height", 20, nullptr) == 0);
    QVERIFY(!convert("pages.tif", ImageOutputFormat::png, "pages.png"));
    QVERIFY(!QFileInfo::exists(path("pages.png")));

    QVERIFY(writeFile(path("empty.png"), {}));
    QVERIFY(!convert("empty.png", ImageOutputFormat::jpeg, "empty-out.jpg"));
    QVERIFY(writeFile(path("text.jpg"), "hello, not a JPEG"));
    QVERIFY(!convert("text.jpg", ImageOutputFormat::png, "text-out.png"));
    QVERIFY(!QFileInfo::exists(path("text-out.png")));

    // A PNG whose header claims 50,000 × 50,000 pixels (and holds no image data).
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr("IHDR");
    auto be32 = [](quint32 v) {
        const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(b, 4);
    };
    ihdr += be32(50000) + be32(50000) + QByteArray("\x08\x02\x00\x00\x00", 5);
    png += be32(13) + ihdr + be32(pngCrc(ihdr));
    QVERIFY(writeFile(path("huge.png"), png));
    QString error;
    QVERIFY(!runImageConversion(url("huge.png"), ImageOutputFormat::png, 90, ImageDimensionsPreset::original, true,
                                false, url("huge-out.png"), &error));
    QVERIFY(!QFileInfo::exists(path("huge-out.png")));

    // The output folder does not exist: a failure, not a crash.
    QVERIFY(!convert("crop.png", ImageOutputFormat::png, "no/such/folder/x.png"));
}

void ImageConverterTest::removesBackgroundAroundSubject()
{
    if (!BackgroundRemover::isAvailable())
        QSKIP("the background model is not installed (scripts/fetch-model.sh)");
#ifndef PERCHBOX_HELPER_DIR
    QSKIP("built without the background-removal helper");
#endif
    useHelperFolder({});
    makeSubject();
    QVERIFY(convert("subject.png", ImageOutputFormat::png, "cut.png", 90, ImageDimensionsPreset::original, true, true));
    ImagePtr cut = load(path("cut.png"));
    QVERIFY(cut);
    QCOMPARE(vips_image_get_width(cut.get()), 640); // the full frame is kept
    QVERIFY(vips_image_hasalpha(cut.get()));
    QVERIFY2(pixel(cut.get(), 10, 10).last() < 40, "corner should be transparent");
    QVERIFY2(pixel(cut.get(), 620, 460).last() < 40, "corner should be transparent");
    QVERIFY2(pixel(cut.get(), 320, 240).last() > 215, "centre should be opaque");
    // The network ran in a helper process, which stays for the next removal.
    QVERIFY(BackgroundRemover::isLoaded());
    const qint64 helper = BackgroundRemover::helperProcessId();
    QVERIFY(processExists(helper));

    // Into JPEG the removed background turns white (the same helper).
    QVERIFY(convert("subject.png", ImageOutputFormat::jpeg, "cut.jpg", 90, ImageDimensionsPreset::original, true, true));
    ImagePtr jpg = load(path("cut.jpg"));
    const QList<double> corner = pixel(jpg.get(), 10, 10);
    QVERIFY(corner[0] > 240 && corner[1] > 240 && corner[2] > 240);
    QCOMPARE(BackgroundRemover::helperProcessId(), helper);

    // Left unused, the network is freed: the helper ends (and is reaped). The next removal
    // starts another.
    QVERIFY(release());
    QCOMPARE(BackgroundRemover::helperProcessId(), 0);
    QVERIFY(!processExists(helper));
    QVERIFY(convert("subject.png", ImageOutputFormat::png, "cut-again.png", 90, ImageDimensionsPreset::original, true, true));
    QVERIFY(BackgroundRemover::isLoaded());
    ImagePtr again = load(path("cut-again.png"));
    QVERIFY(again && vips_image_hasalpha(again.get()));
    QVERIFY(pixel(again.get(), 10, 10).last() < 40);

    // A helper that went away while idle (the system short of memory, say) is replaced; the
    // next removal does not fail for it.
    const qint64 second = BackgroundRemover::helperProcessId();
    QVERIFY(processExists(second) && second != helper);
    QCOMPARE(::kill(pid_t(second), SIGKILL), 0);
    QVERIFY(convert("subject.png", ImageOutputFormat::png, "cut-third.png", 90, ImageDimensionsPreset::original, true, true));
    const qint64 third = BackgroundRemover::helperProcessId();
    QVERIFY(processExists(third) && third != second);
    QVERIFY(release());
    QVERIFY(!processExists(third));
}

void ImageConverterTest::removalHelperFailuresAreReported()
{
    if (!BackgroundRemover::isAvailable())
        QSKIP("the background model is not installed (scripts/fetch-model.sh)");
    makeSubject();
    QVERIFY(release());
    // Helpers that fail in each way the converting process can see (each reads the request,
    // one byte and 1024 × 1024 × 3 of pixels, before it answers): gone before answering,
    // killed while working, an answer that is not of the protocol, a report of its own.
    const QList<std::pair<QByteArray, QString>> cases = {
        {"exit 3", QStringLiteral("stopped (exit status 3)")},
        {"kill -9 $$", QStringLiteral("ended by signal 9")},
        {"head -c 3145729 >/dev/null; printf X", QStringLiteral("does not understand")},
        {"head -c 3145729 >/dev/null; printf 'E\\007\\000\\000\\000no room'", QStringLiteral("no room")},
    };
    int i = 0;
    for (const auto &[script, expected] : cases) {
        QVERIFY(useFakeHelper(QStringLiteral("helper%1").arg(i), script));
        const QString out = QStringLiteral("failed%1.png").arg(i++);
        QString error;
        QVERIFY(!runImageConversion(url("subject.png"), ImageOutputFormat::png, 90, ImageDimensionsPreset::original,
                                    true, true, url(out), &error));
        QVERIFY2(error.startsWith(QStringLiteral("Background removal failed: ")) && error.contains(expected),
                 qPrintable(error));
        QVERIFY(!QFileInfo::exists(path(out))); // no unmasked picture written as if all went well
        QVERIFY(release());
        QCOMPARE(BackgroundRemover::helperProcessId(), 0);
    }
}

void ImageConverterTest::killedHelperIsReplacedOnce()
{
    if (!BackgroundRemover::isAvailable())
        QSKIP("the background model is not installed (scripts/fetch-model.sh)");
    makeSubject();
    QVERIFY(release());
    // The first helper is killed as the request arrives (as one killed while idle is found
    // only when asked); the request goes to a second one, which answers with a mask of 0.75
    // everywhere (bytes 0x3f).
    const QString started = path(QStringLiteral("started-once"));
    QVERIFY(useFakeHelper(QStringLiteral("killed-once"),
                          "head -c 1 >/dev/null\n"
                          "if [ ! -e '" + QFile::encodeName(started) + "' ]; then : > '" + QFile::encodeName(started)
                              + "'; kill -9 $$; fi\n"
                                "head -c 3145728 >/dev/null; printf M; head -c 4194304 /dev/zero | tr '\\000' '\\077'\n"
                                "sleep 60"));
    QVERIFY(convert("subject.png", ImageOutputFormat::png, "replaced.png", 90, ImageDimensionsPreset::original, true, true));
    QVERIFY(QFileInfo::exists(started));
    ImagePtr out = load(path("replaced.png"));
    QVERIFY(out && vips_image_hasalpha(out.get()));
    const double alpha = pixel(out.get(), 10, 10).last(); // 0x3f3f3f3f as a float, times 255
    QVERIFY2(alpha > 188 && alpha < 193, qPrintable(QString::number(alpha)));

    // A helper killed each time it is asked fails the removal after the second try, not later.
    QVERIFY(release());
    const QString asked = path(QStringLiteral("asked"));
    QVERIFY(useFakeHelper(QStringLiteral("killed-always"),
                          "head -c 1 >/dev/null; echo >> '" + QFile::encodeName(asked) + "'; kill -9 $$"));
    QString error;
    QVERIFY(!runImageConversion(url("subject.png"), ImageOutputFormat::png, 90, ImageDimensionsPreset::original, true,
                                true, url("never.png"), &error));
    QVERIFY2(error.contains(QStringLiteral("ended by signal 9")), qPrintable(error));
    QFile count(asked);
    QVERIFY(count.open(QIODevice::ReadOnly));
    QCOMPARE(count.readAll().count('\n'), 2);
    QVERIFY(release());
}

void ImageConverterTest::removalRunsHereWithoutHelper()
{
    if (!BackgroundRemover::isAvailable())
        QSKIP("the background model is not installed (scripts/fetch-model.sh)");
    makeSubject();
    QVERIFY(release());
    // No helper where it is looked for: the network runs in this process.
    useHelperFolder(path(QStringLiteral("no-helper-here")));
    QVERIFY(convert("subject.png", ImageOutputFormat::png, "cut-here.png", 90, ImageDimensionsPreset::original, true, true));
    QVERIFY(BackgroundRemover::isLoaded());
    QCOMPARE(BackgroundRemover::helperProcessId(), 0);
    ImagePtr cut = load(path("cut-here.png"));
    QVERIFY(cut && vips_image_hasalpha(cut.get()));
    QVERIFY(pixel(cut.get(), 10, 10).last() < 40);
    QVERIFY(pixel(cut.get(), 320, 240).last() > 215);
    QVERIFY(release());
}

QTEST_GUILESS_MAIN(ImageConverterTest)
#include "tst_image_converter.moc"
