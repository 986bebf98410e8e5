// The parallel PNG writer: every depth and band layout it takes comes back from the
// library's own PNG reader pixel for pixel (the reader checks the chunk CRCs and the zlib
// checksum across the pieces); metadata chunks; failures.
#include <vips/vips.h>

#include "conversion/VipsSupport.h"
#include "conversion/image/PngWriter.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Unref {
    void operator()(VipsImage *i) const { if (i) g_object_unref(i); }
};
using ImagePtr = std::unique_ptr<VipsImage, Unref>;

// Noise over a diagonal gradient (every row filter wins somewhere), `bands` bands of
// `format`, tagged with `interpretation`.
ImagePtr testImage(int w, int h, int bands, VipsBandFormat format, VipsInterpretation interpretation)
{
    const double max = format == VIPS_FORMAT_USHORT ? 65535.0 : 255.0;
    VipsImage *t = nullptr;
    vips_gaussnoise(&t, w, h, "mean", 0.0, "sigma", max / 16, nullptr);
    ImagePtr noise(t);
    vips_xyz(&t, w, h, nullptr);
    ImagePtr xyz(t);
    VipsImage *x = nullptr, *y = nullptr;
    vips_extract_band(xyz.get(), &x, 0, nullptr);
    vips_extract_band(xyz.get(), &y, 1, nullptr);
    ImagePtr xs(x), ys(y);
    vips_add(xs.get(), ys.get(), &t, nullptr);
    ImagePtr sum(t);
    vips_linear1(sum.get(), &t, max / (w + h), 0.0, nullptr);
    ImagePtr ramp(t);
    vips_add(ramp.get(), noise.get(), &t, nullptr);
    ImagePtr one(t);
    std::vector<VipsImage *> parts;
    std::vector<ImagePtr> keep;
    for (int b = 0; b < bands; ++b) {
        vips_linear1(one.get(), &t, 1.0 - 0.2 * b, max * 0.05 * b, nullptr);
        keep.emplace_back(t);
        parts.push_back(t);
    }
    vips_bandjoin(parts.data(), &t, bands, nullptr);
    ImagePtr joined(t);
    vips_cast(joined.get(), &t, format, nullptr);
    ImagePtr cast(t);
    vips_copy(cast.get(), &t, "interpretation", interpretation, nullptr);
    return ImagePtr(t);
}

// A copy held in memory: what the writer reads is then exactly what is compared.
ImagePtr inMemory(VipsImage *in)
{
    VipsImage *t = vips_image_copy_memory(in);
    return ImagePtr(t);
}

bool samePixels(VipsImage *a, VipsImage *b)
{
    VipsImage *d = nullptr, *abs = nullptr;
    if (vips_subtract(a, b, &d, nullptr))
        return false;
    ImagePtr diff(d);
    if (vips_abs(diff.get(), &abs, nullptr))
        return false;
    ImagePtr absolute(abs);
    double max = -1;
    return vips_max(absolute.get(), &max, nullptr) == 0 && max == 0;
}

} // namespace

class PngWriterTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray path(const char *name) const { return QFile::encodeName(m_dir.filePath(QString::fromLatin1(name))); }

private slots:
    void initTestCase()
    {
        QVERIFY(VipsSupport::ensureStarted());
        QVERIFY(m_dir.isValid());
    }

    void roundTrip_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bands");
        QTest::addColumn<bool>("sixteen");
        // Several 1 MB pieces, odd sizes; single rows and pixels.
        QTest::newRow("grey 8") << 1237 << 901 << 1 << false;
        QTest::newRow("grey + alpha 8") << 1237 << 901 << 2 << false;
        QTest::newRow("rgb 8") << 1237 << 901 << 3 << false;
        QTest::newRow("rgba 8") << 1237 << 901 << 4 << false;
        QTest::newRow("grey 16") << 777 << 555 << 1 << true;
        QTest::newRow("grey + alpha 16") << 777 << 555 << 2 << true;
        QTest::newRow("rgb 16") << 777 << 555 << 3 << true;
        QTest::newRow("rgba 16") << 777 << 555 << 4 << true;
        QTest::newRow("one row") << 5000 << 1 << 4 << false;
        QTest::newRow("one pixel") << 1 << 1 << 3 << false;
        QTest::newRow("one column") << 1 << 3000 << 2 << true;
    }

    void roundTrip()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bands);
        QFETCH(bool, sixteen);
        const bool grey = bands <= 2;
        const VipsInterpretation interpretation = grey ? (sixteen ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W)
                                                       : (sixteen ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB);
        ImagePtr made = testImage(width, height, bands, sixteen ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR, interpretation);
        QVERIFY(made);
        ImagePtr source = inMemory(made.get());
        QVERIFY(PngWriter::canWrite(source.get()));
        // A file of its own per row: the library caches what it loaded by file name.
        const QByteArray file = QFile::encodeName(m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".png"));
        QString error;
        QVERIFY2(PngWriter::write(source.get(), file, {}, &error), qPrintable(error));

        ImagePtr back(vips_image_new_from_file(file.constData(), "access", VIPS_ACCESS_RANDOM, "fail", TRUE, nullptr));
        QVERIFY2(back, vips_error_buffer());
        QCOMPARE(vips_image_get_width(back.get()), width);
        QCOMPARE(vips_image_get_height(back.get()), height);
        QCOMPARE(vips_image_get_bands(back.get()), bands);
        QCOMPARE(vips_image_get_format(back.get()), sixteen ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
        QVERIFY(samePixels(source.get(), back.get()));
    }

    void compressesFlatAreas()
    {
        VipsImage *t = nullptr;
        vips_black(&t, 3000, 2000, "bands", 4, nullptr);
        ImagePtr black(t);
        vips_cast_uchar(black.get(), &t, nullptr);
        ImagePtr u(t);
        vips_copy(u.get(), &t, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr);
        ImagePtr image(t);
        QString error;
        QVERIFY(PngWriter::write(image.get(), path("flat.png"), {}, &error));
        qInfo() << "24 MB of zeros:" << QFileInfo(m_dir.filePath("flat.png")).size() << "bytes";
        QVERIFY(QFileInfo(m_dir.filePath("flat.png")).size() < 512 * 1024);
        ImagePtr back(vips_image_new_from_file(path("flat.png").constData(), "fail", TRUE, nullptr));
        QVERIFY(back && samePixels(image.get(), back.get()));
    }

    void metadataChunks()
    {
        ImagePtr made = testImage(300, 200, 3, VIPS_FORMAT_UCHAR, VIPS_INTERPRETATION_sRGB);
        VipsImage *t = nullptr;
        QVERIFY(vips_copy(made.get(), &t, "xres", 300 / 25.4, "yres", 150 / 25.4, nullptr) == 0);
        ImagePtr image(t);
        VipsBlob *profile = nullptr;
        QVERIFY(vips_profile_load("srgb", &profile, nullptr) == 0 && profile);
        size_t profileSize = 0;
        const void *profileData = vips_blob_get(profile, &profileSize);
        const QByteArray icc(static_cast<const char *>(profileData), qsizetype(profileSize));
        vips_image_set_blob_copy(image.get(), VIPS_META_ICC_NAME, icc.constData(), size_t(icc.size()));
        vips_area_unref(VIPS_AREA(profile));
        const QByteArray xmp("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF/></x:xmpmeta>");
        vips_image_set_blob_copy(image.get(), VIPS_META_XMP_NAME, xmp.constData(), size_t(xmp.size()));
        // A minimal little-endian TIFF block with Orientation = 1, as JPEG files carry it.
        vips_image_set_string(image.get(), "png-comment-0-Title", "Shelf");
        vips_image_set_string(image.get(), "png-comment-1-Comment", "Grüße");
        const QByteArray exif = QByteArray("Exif\0\0", 6)
                                + QByteArray::fromHex("49492a0008000000010012010300010000000100000000000000");

        QString error;
        QVERIFY2(PngWriter::write(image.get(), path("meta.png"), exif, &error), qPrintable(error));
        ImagePtr back(vips_image_new_from_file(path("meta.png").constData(), "fail", TRUE, nullptr));
        QVERIFY(back);
        const void *data = nullptr;
        size_t size = 0;
        QVERIFY(vips_image_get_blob(back.get(), VIPS_META_ICC_NAME, &data, &size) == 0);
        QCOMPARE(QByteArray(static_cast<const char *>(data), qsizetype(size)), icc);
        QVERIFY(vips_image_get_blob(back.get(), VIPS_META_XMP_NAME, &data, &size) == 0);
        QCOMPARE(QByteArray(static_cast<const char *>(data), qsizetype(size)), xmp);
        QVERIFY(vips_image_get_typeof(back.get(), VIPS_META_EXIF_NAME));
        QStringList comments;
        gchar **fields = vips_image_get_fields(back.get());
        for (gchar **f = fields; f && *f; ++f) {
            const char *value = nullptr;
            if (QByteArray(*f).startsWith("png-comment-") && vips_image_get_string(back.get(), *f, &value) == 0)
                comments << QString::fromUtf8(*f).section('-', 3) + '=' + QString::fromUtf8(value);
        }
        g_strfreev(fields);
        comments.sort();
        QCOMPARE(comments, (QStringList{QString::fromUtf8("Comment=Grüße"), "Title=Shelf"}));
        QVERIFY(std::abs(vips_image_get_xres(back.get()) - 300 / 25.4) < 0.01);
        QVERIFY(std::abs(vips_image_get_yres(back.get()) - 150 / 25.4) < 0.01);
    }

    void refusesAndFails()
    {
        ImagePtr rgb = testImage(10, 10, 3, VIPS_FORMAT_UCHAR, VIPS_INTERPRETATION_sRGB);
        VipsImage *t = nullptr;
        vips_cast(rgb.get(), &t, VIPS_FORMAT_FLOAT, nullptr);
        ImagePtr floats(t);
        QVERIFY(!PngWriter::canWrite(floats.get()));
        vips_copy(rgb.get(), &t, "interpretation", VIPS_INTERPRETATION_CMYK, nullptr);
        ImagePtr cmyk(t);
        QVERIFY(!PngWriter::canWrite(cmyk.get()));

        QString error;
        QVERIFY(!PngWriter::write(rgb.get(), path("no/such/folder/x.png"), {}, &error));
        QVERIFY(!error.isEmpty());
        // A full disk: the write fails with a reason instead of leaving a short file unnoticed.
        if (QFileInfo::exists(QStringLiteral("/dev/full"))) {
            ImagePtr big = testImage(1500, 1000, 4, VIPS_FORMAT_UCHAR, VIPS_INTERPRETATION_sRGB);
            error.clear();
            QVERIFY(!PngWriter::write(big.get(), "/dev/full", {}, &error));
            QVERIFY2(error.contains(QStringLiteral("Could not write")), qPrintable(error));
        }
    }
};

QTEST_GUILESS_MAIN(PngWriterTest)
#include "tst_png_writer.moc"
