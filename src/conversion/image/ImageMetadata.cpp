#include "conversion/image/ImageMetadata.h"

#include <QFile>
#include <QList>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <zlib.h>

namespace ImageMetadata {

namespace {

const QByteArray kPhotoshopSignature("Photoshop 3.0\0", 14);
constexpr quint16 kIptcResource = 0x0404;

quint16 be16(const uchar *p) { return quint16((p[0] << 8) | p[1]); }
quint32 be32(const uchar *p) { return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3]; }

void putBe16(QByteArray &out, quint16 v)
{
    out.append(char(v >> 8));
    out.append(char(v & 0xff));
}
void putBe32(QByteArray &out, quint32 v)
{
    putBe16(out, quint16(v >> 16));
    putBe16(out, quint16(v & 0xffff));
}

} // namespace

QByteArray iptcRecords(const QByteArray &blob)
{
    if (blob.isEmpty())
        return {};
    if (uchar(blob.at(0)) == 0x1c)
        return blob;
    const auto *d = reinterpret_cast<const uchar *>(blob.constData());
    const qsizetype n = blob.size();
    qsizetype at = blob.startsWith(kPhotoshopSignature) ? kPhotoshopSignature.size() : 0;
    // Resources: "8BIM", id, a Pascal name padded to an even length, size, data padded to even.
    while (at + 12 <= n && std::memcmp(d + at, "8BIM", 4) == 0) {
        const quint16 id = be16(d + at + 4);
        qsizetype p = at + 6;
        const qsizetype nameLength = d[p];
        p += (nameLength + 2) & ~qsizetype(1);
        if (p + 4 > n)
            break;
        const qsizetype size = be32(d + p);
        p += 4;
        if (size > n - p)
            break;
        if (id == kIptcResource)
            return size > 0 && d[p] == 0x1c ? blob.mid(p, size) : QByteArray();
        at = p + ((size + 1) & ~qsizetype(1));
    }
    return {};
}

QByteArray paddedToWords(const QByteArray &records)
{
    QByteArray out = records;
    while (out.size() % 4)
        out.append('\0');
    return out;
}

QByteArray photoshopSegment(const QByteArray &records)
{
    QByteArray out = kPhotoshopSignature;
    out.append("8BIM");
    putBe16(out, kIptcResource);
    out.append(2, '\0'); // empty name, padded
    putBe32(out, quint32(records.size()));
    out.append(records);
    if (records.size() % 2)
        out.append('\0');
    return out;
}

QByteArray rawProfileText(const QByteArray &records)
{
    QByteArray out = "\niptc\n" + QByteArray::number(records.size()).rightJustified(8, ' ') + '\n';
    constexpr qsizetype kBytesPerLine = 36;
    for (qsizetype at = 0; at < records.size(); at += kBytesPerLine) {
        const QByteArray line = records.mid(at, kBytesPerLine);
        out.append(line.toHex());
        if (line.size() == kBytesPerLine)
            out.append('\n');
    }
    out.append('\n');
    return out;
}

bool addPngTextChunk(const QByteArray &path, const QByteArray &keyword, const QByteArray &text, QString *error)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadWrite)) {
        *error = file.errorString();
        return false;
    }
    const qint64 size = file.size();
    static const uchar iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    if (size < 8 + 12 || !file.seek(size - 12) || file.read(12) != QByteArray(reinterpret_cast<const char *>(iend), 12)) {
        *error = QStringLiteral("Not a complete PNG file");
        return false;
    }
    uLongf packedSize = compressBound(uLong(text.size()));
    QByteArray packed(qsizetype(packedSize), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef *>(packed.data()), &packedSize, reinterpret_cast<const Bytef *>(text.constData()),
                  uLong(text.size()), 9) != Z_OK) {
        *error = QStringLiteral("Could not compress the metadata");
        return false;
    }
    packed.truncate(qsizetype(packedSize));
    QByteArray body = "zTXt" + keyword.left(79);
    body.append('\0'); // keyword terminator
    body.append('\0'); // deflate
    body.append(packed);
    QByteArray chunk;
    putBe32(chunk, quint32(body.size() - 4));
    chunk.append(body);
    putBe32(chunk, quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))));
    chunk.append(reinterpret_cast<const char *>(iend), 12);
    if (!file.seek(size - 12) || file.write(chunk) != chunk.size() || !file.flush()) {
        *error = file.errorString();
        // Put the end back so that the picture stays readable.
        file.resize(size - 12);
        file.seek(size - 12);
        file.write(reinterpret_cast<const char *>(iend), 12);
        return false;
    }
    return true;
}

// ---- EXIF into TIFF ------------------------------------------------------------------------

namespace {

// A TIFF structure in memory, in either byte order.
struct TiffBytes {
    const uchar *d = nullptr;
    qsizetype n = 0;
    bool bigEndian = false;

    bool has(qint64 at, qint64 count) const { return at >= 0 && count >= 0 && at <= n && count <= n - at; }
    quint16 u16(qsizetype at) const
    {
        return bigEndian ? quint16((d[at] << 8) | d[at + 1]) : quint16(d[at] | (d[at + 1] << 8));
    }
    quint32 u32(qsizetype at) const
    {
        return bigEndian ? (quint32(d[at]) << 24) | (quint32(d[at + 1]) << 16) | (quint32(d[at + 2]) << 8) | d[at + 3]
                         : quint32(d[at]) | (quint32(d[at + 1]) << 8) | (quint32(d[at + 2]) << 16) | (quint32(d[at + 3]) << 24);
    }
};

// The size of one value of a TIFF field type and the unit its bytes are swapped in (0: an
// unknown type).
int typeSize(quint16 type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}
int swapUnit(quint16 type)
{
    switch (type) {
    case 5: case 10: return 4; // two LONGs
    default: return typeSize(type);
    }
}

// Value bytes in the source's order turned into the target's.
QByteArray reordered(const uchar *p, qsizetype size, quint16 type, bool swap)
{
    QByteArray out(reinterpret_cast<const char *>(p), size);
    const int unit = swapUnit(type);
    if (swap && unit > 1)
        for (qsizetype i = 0; i + unit <= size; i += unit)
            std::reverse(out.begin() + i, out.begin() + i + unit);
    return out;
}

struct Entry {
    quint16 tag = 0;
    quint16 type = 0;
    quint32 count = 0;
    QByteArray value; // in the target's byte order; an offset is filled in when written
};

constexpr quint16 kExifIfd = 0x8769;
constexpr quint16 kGpsIfd = 0x8825;
constexpr quint16 kInteropIfd = 0xa005;
constexpr quint16 kIptcTag = 0x83bb;

// What a camera writes in its main directory that a TIFF's main directory holds too.
bool isDescriptiveTag(quint16 tag)
{
    switch (tag) {
    case 0x010e: // ImageDescription
    case 0x010f: // Make
    case 0x0110: // Model
    case 0x0131: // Software
    case 0x0132: // DateTime
    case 0x013b: // Artist
    case 0x013c: // HostComputer
    case 0x8298: // Copyright
    case 0x9c9b: case 0x9c9c: case 0x9c9d: case 0x9c9e: case 0x9c9f: // Windows title, comment, author, keywords, subject
        return true;
    default:
        return false;
    }
}

// Builds the tail appended to the target file: relocated directories and their data, at
// offsets counted from `base` (the end of the file).
class TailWriter
{
public:
    TailWriter(const TiffBytes &source, bool targetBigEndian, quint32 base)
        : m_src(source), m_bigEndian(targetBigEndian), m_base(base)
    {
    }

    const QByteArray &bytes() const { return m_tail; }
    bool overflowed() const { return m_overflow; }

    // The entries of the source directory at `offset` (pointers to other directories
    // relocated first, their value the new offset). Bad entries are left out.
    QList<Entry> entriesOf(quint32 offset, int depth)
    {
        QList<Entry> out;
        if (depth > 3 || m_seen.contains(offset) || !m_src.has(offset, 2))
            return out;
        m_seen.insert(offset);
        const int count = m_src.u16(offset);
        if (!m_src.has(qint64(offset) + 2, qint64(count) * 12))
            return out;
        const bool swap = m_src.bigEndian != m_bigEndian;
        for (int i = 0; i < count; ++i) {
            const qsizetype at = offset + 2 + qsizetype(i) * 12;
            Entry e;
            e.tag = m_src.u16(at);
            e.type = m_src.u16(at + 2);
            e.count = m_src.u32(at + 4);
            const int size = typeSize(e.type);
            if (size == 0 || e.count == 0 || qint64(e.count) * size > m_src.n)
                continue;
            const qint64 bytes = qint64(e.count) * size;
            if (e.tag == kExifIfd || e.tag == kGpsIfd || e.tag == kInteropIfd) {
                if (e.count != 1 || (e.type != 4 && e.type != 13))
                    continue;
                const quint32 child = writeDirectory(m_src.u32(at + 8), depth + 1);
                if (!child)
                    continue;
                e.type = 4;
                e.value = word(child);
                out.append(e);
                continue;
            }
            const qint64 from = bytes <= 4 ? at + 8 : qint64(m_src.u32(at + 8));
            if (!m_src.has(from, bytes))
                continue;
            e.value = reordered(m_src.d + from, qsizetype(bytes), e.type, swap);
            out.append(e);
        }
        return out;
    }

    // Writes a directory with `entries` (sorted here) and `next` as its link; returns its
    // offset in the target, 0 when it could not be placed.
    quint32 writeEntries(QList<Entry> entries, quint32 next)
    {
        if (entries.isEmpty())
            return 0;
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.tag < b.tag; });
        align();
        const quint32 at = here();
        const qsizetype dataStart = m_tail.size() + 2 + entries.size() * 12 + 4;
        QByteArray directory = half(quint16(entries.size()));
        QByteArray data;
        for (const Entry &e : std::as_const(entries)) {
            directory += half(e.tag) + half(e.type) + word(e.count);
            if (e.value.size() <= 4) {
                QByteArray inline4 = e.value;
                inline4.append(4 - inline4.size(), '\0');
                directory += inline4;
            } else {
                if (data.size() % 2)
                    data.append('\0');
                const qint64 offset = qint64(m_base) + dataStart + data.size();
                if (offset > 0xffffffffLL - e.value.size()) {
                    m_overflow = true;
                    return 0;
                }
                directory += word(quint32(offset));
                data += e.value;
            }
        }
        directory += word(next);
        m_tail += directory;
        m_tail += data;
        return at;
    }

    QByteArray half(quint16 v) const
    {
        QByteArray b(2, '\0');
        b[m_bigEndian ? 0 : 1] = char(v >> 8);
        b[m_bigEndian ? 1 : 0] = char(v & 0xff);
        return b;
    }
    QByteArray word(quint32 v) const
    {
        return m_bigEndian ? half(quint16(v >> 16)) + half(quint16(v)) : half(quint16(v)) + half(quint16(v >> 16));
    }

private:
    quint32 writeDirectory(quint32 offset, int depth)
    {
        return writeEntries(entriesOf(offset, depth), 0);
    }
    void align()
    {
        if ((qint64(m_base) + m_tail.size()) % 2)
            m_tail.append('\0');
    }
    quint32 here() const
    {
        const qint64 at = qint64(m_base) + m_tail.size();
        return at > 0xffffffffLL ? 0 : quint32(at);
    }

    const TiffBytes &m_src;
    bool m_bigEndian;
    quint32 m_base;
    QByteArray m_tail;
    QSet<quint32> m_seen;
    bool m_overflow = false;
};

bool readHeader(const QByteArray &bytes, TiffBytes &tiff, quint32 &firstDirectory)
{
    tiff.d = reinterpret_cast<const uchar *>(bytes.constData());
    tiff.n = bytes.size();
    if (tiff.n < 8)
        return false;
    if (bytes.startsWith("II"))
        tiff.bigEndian = false;
    else if (bytes.startsWith("MM"))
        tiff.bigEndian = true;
    else
        return false;
    if (tiff.u16(2) != 42) // 43 is BigTIFF: not ours to extend
        return false;
    firstDirectory = tiff.u32(4);
    return true;
}

} // namespace

bool addToTiff(const QByteArray &path, const QByteArray &exif, const QByteArray &iptc, QString *error)
{
    const QByteArray block = exif.startsWith(QByteArray("Exif\0\0", 6)) ? exif.mid(6) : exif;
    TiffBytes source;
    quint32 sourceFirst = 0;
    const bool hasExif = readHeader(block, source, sourceFirst);
    const QByteArray records = paddedToWords(iptcRecords(iptc));
    if (!hasExif && records.isEmpty())
        return true; // nothing we can read: nothing to add

    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadWrite)) {
        *error = file.errorString();
        return false;
    }
    const qint64 size = file.size();
    const QByteArray header = file.read(8);
    TiffBytes target;
    quint32 targetFirst = 0;
    if (!readHeader(header, target, targetFirst) || size > 0xfffff000LL) {
        *error = QStringLiteral("Not a TIFF file the metadata can be added to");
        return false;
    }
    // The file's main directory, as it is.
    if (!file.seek(targetFirst)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray countBytes = file.read(2);
    if (countBytes.size() != 2) {
        *error = QStringLiteral("The TIFF file has no directory");
        return false;
    }
    TiffBytes countView{reinterpret_cast<const uchar *>(countBytes.constData()), 2, target.bigEndian};
    const int count = countView.u16(0);
    const QByteArray raw = file.read(qint64(count) * 12 + 4);
    if (raw.size() != qsizetype(count) * 12 + 4) {
        *error = QStringLiteral("The TIFF file's directory is cut short");
        return false;
    }
    TiffBytes own{reinterpret_cast<const uchar *>(raw.constData()), raw.size(), target.bigEndian};
    QList<Entry> entries;
    QSet<quint16> ownTags;
    for (int i = 0; i < count; ++i) {
        Entry e;
        e.tag = own.u16(i * 12);
        e.type = own.u16(i * 12 + 2);
        e.count = own.u32(i * 12 + 4);
        e.value = raw.mid(i * 12 + 8, 4); // kept as it is: values and offsets stay valid
        entries.append(e);
        ownTags.insert(e.tag);
    }
    const quint32 next = own.u32(qsizetype(count) * 12);

    // What the EXIF block adds: its directories, and the descriptive tags of its main
    // directory (unless the file has its own).
    const quint32 base = quint32((size + 1) & ~qint64(1));
    TailWriter tail(source, target.bigEndian, base);
    bool added = false;
    if (hasExif && !ownTags.contains(kExifIfd)) {
        for (const Entry &e : tail.entriesOf(sourceFirst, 0)) {
            const bool pointer = e.tag == kExifIfd || e.tag == kGpsIfd;
            if (ownTags.contains(e.tag) || (!pointer && !isDescriptiveTag(e.tag)))
                continue;
            entries.append(e);
            added = true;
        }
    }
    // IPTC as bytes (UNDEFINED, counted in bytes, padded to whole words for the readers
    // that take it as LONGs).
    if (!records.isEmpty() && !ownTags.contains(kIptcTag)) {
        Entry e;
        e.tag = kIptcTag;
        e.type = 7;
        e.count = quint32(records.size());
        e.value = records;
        entries.append(e);
        added = true;
    }
    if (!added)
        return true;
    // The file's own entries keep their four value bytes (inline values, or offsets into the
    // file, which stay valid); the added ones with larger values get theirs after the new
    // directory.
    const quint32 directory = tail.writeEntries(entries, next);
    if (!directory || tail.overflowed()) {
        *error = QStringLiteral("The metadata does not fit in a TIFF file");
        return false;
    }
    QByteArray pad;
    if (size % 2)
        pad.append('\0');
    if (!file.seek(size) || file.write(pad + tail.bytes()) != pad.size() + tail.bytes().size() || !file.seek(4)
        || file.write(tail.word(directory)) != 4 || !file.flush()) {
        *error = file.errorString();
        // The header still points at the old directory unless that last write went through.
        return false;
    }
    return true;
}

} // namespace ImageMetadata
