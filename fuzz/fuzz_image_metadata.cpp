// Picture metadata as the image converter carries it over: IPTC blocks (Photoshop resource
// blocks or bare records) and EXIF blocks added to a TIFF file. The first byte says how the
// rest is split: below 0x80 all of it is an IPTC block; else the first half is an EXIF block
// and the second an IPTC block, both added to a small TIFF.
//
// Invariants: the IPTC records found are a run of datasets taken from the block, and they
// come back unchanged through a Photoshop block; adding to a TIFF leaves every byte of the
// file as it was but the header's directory offset, and that offset leads to a directory
// inside the file whose tags ascend and include every tag the file had.

#include "FuzzSupport.h"

#include "conversion/image/ImageMetadata.h"

#include <QFile>

#include <algorithm>

namespace {

void put16(QByteArray &b, quint16 v)
{
    b.append(char(v & 0xff));
    b.append(char(v >> 8));
}
void put32(QByteArray &b, quint32 v)
{
    put16(b, quint16(v & 0xffff));
    put16(b, quint16(v >> 16));
}
quint16 get16(const QByteArray &b, qsizetype at) { return quint16(uchar(b[at]) | (uchar(b[at + 1]) << 8)); }
quint32 get32(const QByteArray &b, qsizetype at) { return get16(b, at) | (quint32(get16(b, at + 2)) << 16); }

// A 2×1 grey picture, uncompressed, little-endian: the kind of file the converter extends.
QByteArray smallTiff()
{
    QByteArray t = "II";
    put16(t, 42);
    put32(t, 8);
    const quint16 tags[][3] = {{256, 3, 2}, {257, 3, 1}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                               {273, 4, 0}, {277, 3, 1}, {278, 3, 1}, {279, 4, 2}};
    const int n = int(std::size(tags));
    const quint32 pixels = 8 + 2 + n * 12 + 4;
    put16(t, quint16(n));
    for (const auto &tag : tags) {
        put16(t, tag[0]);
        put16(t, tag[1]);
        put32(t, 1);
        const quint32 value = tag[0] == 273 ? pixels : tag[2];
        if (tag[1] == 3) {
            put16(t, quint16(value));
            put16(t, 0);
        } else {
            put32(t, value);
        }
    }
    put32(t, 0);
    t.append("\x10\xf0", 2);
    return t;
}

QList<quint16> tagsAt(const QByteArray &file, quint32 offset)
{
    QList<quint16> tags;
    FUZZ_CHECK(offset >= 8 && qint64(offset) + 2 <= file.size(), QByteArray::number(offset));
    const int count = get16(file, offset);
    FUZZ_CHECK(count > 0 && qint64(offset) + 2 + count * 12 + 4 <= file.size(), QByteArray::number(count));
    for (int i = 0; i < count; ++i)
        tags.append(get16(file, offset + 2 + i * 12));
    return tags;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] < 0x80) {
        const QByteArray records = ImageMetadata::iptcRecords(rest);
        if (!records.isEmpty()) {
            FUZZ_CHECK(uchar(records[0]) == 0x1c && rest.contains(records));
            FUZZ_CHECK(ImageMetadata::iptcRecords(ImageMetadata::photoshopSegment(records)) == records);
            FUZZ_CHECK(ImageMetadata::paddedToWords(records).size() % 4 == 0);
        }
        return 0;
    }
    const QByteArray exif = rest.left(rest.size() / 2);
    const QByteArray iptc = rest.mid(rest.size() / 2);
    const QByteArray before = smallTiff();
    const QString path = Fuzz::scratchDir() + QStringLiteral("/picture.tiff");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(before) != before.size())
        return 0;
    file.close();
    QString error;
    const bool ok = ImageMetadata::addToTiff(QFile::encodeName(path), exif, iptc, &error);
    FUZZ_CHECK(ok, error.toUtf8());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray after = file.readAll();
    file.close();
    FUZZ_CHECK(after.size() >= before.size() && after.left(4) == before.left(4)
               && after.mid(8, before.size() - 8) == before.mid(8));
    const QList<quint16> tags = tagsAt(after, get32(after, 4));
    FUZZ_CHECK(std::is_sorted(tags.begin(), tags.end()));
    for (quint16 tag : tagsAt(before, 8))
        FUZZ_CHECK(tags.contains(tag), QByteArray::number(tag));
    return 0;
}
