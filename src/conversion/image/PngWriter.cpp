// vips (glib) before Qt: gio uses "signals" as a name.
#include <vips/vips.h>

#include "conversion/image/PngWriter.h"

#include "conversion/VipsSupport.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include <zlib.h>

namespace PngWriter {

namespace {

constexpr size_t kPieceBytes = 1 << 20;      // filtered bytes a piece compresses
constexpr size_t kWindow = 32 * 1024;        // deflate's window: the dictionary of a piece

struct FileCloser {
    void operator()(std::FILE *f) const { if (f) std::fclose(f); }
};

// One piece of the filtered image, compressed on its own.
struct Piece {
    std::vector<uint8_t> data;       // filtered rows
    std::vector<uint8_t> dictionary; // the 32 KB of filtered bytes before it
    bool last = false;
};

struct Compressed {
    bool ok = false;
    std::vector<uint8_t> bytes;
    uLong adler = 1;
    size_t length = 0; // filtered bytes it stands for
};

Compressed compress(const Piece &piece)
{
    Compressed out;
    out.length = piece.data.size();
    out.adler = adler32(1L, piece.data.data(), uInt(piece.data.size()));
    z_stream z{};
    if (deflateInit2(&z, kCompressionLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return out;
    if (!piece.dictionary.empty())
        deflateSetDictionary(&z, piece.dictionary.data(), uInt(piece.dictionary.size()));
    out.bytes.resize(deflateBound(&z, uLong(piece.data.size())) + 64);
    z.next_in = const_cast<Bytef *>(piece.data.data());
    z.avail_in = uInt(piece.data.size());
    z.next_out = out.bytes.data();
    z.avail_out = uInt(out.bytes.size());
    const int rc = deflate(&z, piece.last ? Z_FINISH : Z_SYNC_FLUSH);
    out.ok = piece.last ? rc == Z_STREAM_END : (rc == Z_OK && z.avail_in == 0);
    out.bytes.resize(out.bytes.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

void put32(std::vector<uint8_t> &v, uint32_t x)
{
    v.push_back(uint8_t(x >> 24));
    v.push_back(uint8_t(x >> 16));
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}

struct Writer {
    std::FILE *file = nullptr;
    bool failed = false;

    void chunk(const char type[4], const uint8_t *data, size_t size)
    {
        if (failed)
            return;
        uint8_t head[8] = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size),
                           uint8_t(type[0]), uint8_t(type[1]), uint8_t(type[2]), uint8_t(type[3])};
        uLong crc = crc32(0L, head + 4, 4);
        if (size)
            crc = crc32(crc, data, uInt(size));
        uint8_t tail[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
        failed = std::fwrite(head, 1, 8, file) != 8 || (size && std::fwrite(data, 1, size, file) != size)
                 || std::fwrite(tail, 1, 4, file) != 4;
    }
    void chunk(const char type[4], const std::vector<uint8_t> &data) { chunk(type, data.data(), data.size()); }
};

// The filter of one row that libpng's heuristic would pick: the smallest sum of the
// filtered bytes taken as signed. `prev` is null for the first row.
void filterRow(const uint8_t *row, const uint8_t *prev, size_t length, size_t bpp, uint8_t *out,
               std::vector<uint8_t> &scratch)
{
    scratch.resize(4 * length);
    uint8_t *sub = scratch.data(), *up = sub + length, *avg = up + length, *paeth = avg + length;
    uint64_t sums[5] = {0, 0, 0, 0, 0};
    for (size_t i = 0; i < length; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int b = prev ? prev[i] : 0;
        const int c = prev && i >= bpp ? prev[i - bpp] : 0;
        const int x = row[i];
        const int p = a + b - c;
        const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        const int pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        sub[i] = uint8_t(x - a);
        up[i] = uint8_t(x - b);
        avg[i] = uint8_t(x - ((a + b) >> 1));
        paeth[i] = uint8_t(x - pred);
        sums[0] += std::abs(int8_t(x));
        sums[1] += std::abs(int8_t(sub[i]));
        sums[2] += std::abs(int8_t(up[i]));
        sums[3] += std::abs(int8_t(avg[i]));
        sums[4] += std::abs(int8_t(paeth[i]));
    }
    const int best = int(std::min_element(sums, sums + 5) - sums);
    out[0] = uint8_t(best);
    const uint8_t *src = best == 0 ? row : scratch.data() + size_t(best - 1) * length;
    std::memcpy(out + 1, src, length);
}

// State of one write, fed by vips with bands of rows from top to bottom.
struct Encoder {
    Writer *writer = nullptr;
    size_t rowBytes = 0; // without the filter byte
    size_t bpp = 0;      // bytes a pixel
    bool swap16 = false; // vips keeps 16-bit samples in the machine's order, PNG big-endian
    unsigned threads = 1;

    std::vector<uint8_t> previous; // the last row, unfiltered (PNG byte order)
    bool havePrevious = false;
    std::vector<uint8_t> current, scratch;
    Piece piece;
    std::vector<uint8_t> tail; // the last kWindow filtered bytes before `piece`
    std::deque<std::future<Compressed>> pending;
    uLong adler = 1;
    bool failed = false;

    void writeOldest()
    {
        Compressed c = pending.front().get();
        pending.pop_front();
        if (!c.ok) {
            failed = true;
            return;
        }
        adler = adler32_combine(adler, c.adler, z_off_t(c.length));
        writer->chunk("IDAT", c.bytes);
        failed = failed || writer->failed;
    }

    void submit(bool last)
    {
        piece.last = last;
        piece.dictionary = tail;
        // The window for the next piece: the end of this one, topped up from before it.
        if (piece.data.size() >= kWindow) {
            tail.assign(piece.data.end() - kWindow, piece.data.end());
        } else {
            tail.insert(tail.end(), piece.data.begin(), piece.data.end());
            if (tail.size() > kWindow)
                tail.erase(tail.begin(), tail.end() - kWindow);
        }
        auto shared = std::make_shared<const Piece>(std::move(piece));
        try {
            pending.push_back(std::async(std::launch::async, [shared] { return compress(*shared); }));
        } catch (const std::system_error &) { // no thread to be had: this piece here
            std::promise<Compressed> done;
            done.set_value(compress(*shared));
            pending.push_back(done.get_future());
        }
        piece = Piece();
        while (!failed && pending.size() > threads)
            writeOldest();
    }

    void addRow(const uint8_t *pixels)
    {
        current.resize(rowBytes);
        if (swap16) {
            for (size_t i = 0; i + 1 < rowBytes; i += 2) {
                current[i] = pixels[i + 1];
                current[i + 1] = pixels[i];
            }
        } else {
            std::memcpy(current.data(), pixels, rowBytes);
        }
        const size_t at = piece.data.size();
        piece.data.resize(at + rowBytes + 1);
        filterRow(current.data(), havePrevious ? previous.data() : nullptr, rowBytes, bpp, piece.data.data() + at,
                  scratch);
        previous.swap(current);
        havePrevious = true;
        if (piece.data.size() >= kPieceBytes)
            submit(false);
    }

    static int band(VipsRegion *region, VipsRect *area, void *self)
    {
        auto *e = static_cast<Encoder *>(self);
        for (int y = 0; y < area->height && !e->failed; ++y)
            e->addRow(reinterpret_cast<const uint8_t *>(VIPS_REGION_ADDR(region, area->left, area->top + y)));
        return e->failed ? -1 : 0;
    }
};

bool isGrey(VipsInterpretation i)
{
    return i == VIPS_INTERPRETATION_B_W || i == VIPS_INTERPRETATION_GREY16;
}

} // namespace

bool canWrite(VipsImage *image)
{
    const VipsBandFormat format = vips_image_get_format(image);
    if (format != VIPS_FORMAT_UCHAR && format != VIPS_FORMAT_USHORT)
        return false;
    const int bands = vips_image_get_bands(image);
    switch (vips_image_get_interpretation(image)) {
    case VIPS_INTERPRETATION_B_W:
    case VIPS_INTERPRETATION_GREY16: return bands == 1 || bands == 2;
    case VIPS_INTERPRETATION_sRGB:
    case VIPS_INTERPRETATION_RGB16: return bands == 3 || bands == 4;
    default: return false;
    }
}

bool write(VipsImage *image, const QByteArray &path, const QByteArray &exif, QString *error)
{
    if (!canWrite(image)) {
        *error = QStringLiteral("Not an image PNG can hold as it is");
        return false;
    }
    const int width = vips_image_get_width(image), height = vips_image_get_height(image);
    const int bands = vips_image_get_bands(image);
    const bool sixteen = vips_image_get_format(image) == VIPS_FORMAT_USHORT;
    const bool grey = isGrey(vips_image_get_interpretation(image));

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.constData(), "wb"));
    if (!file) {
        *error = QStringLiteral("Could not create the file: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 20);
    Writer w{file.get()};
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    w.failed = std::fwrite(signature, 1, 8, file.get()) != 8;

    std::vector<uint8_t> ihdr;
    put32(ihdr, uint32_t(width));
    put32(ihdr, uint32_t(height));
    ihdr.push_back(sixteen ? 16 : 8);
    ihdr.push_back(uint8_t(grey ? (bands == 2 ? 4 : 0) : (bands == 4 ? 6 : 2))); // colour type
    ihdr.push_back(0); // deflate
    ihdr.push_back(0); // adaptive filtering
    ihdr.push_back(0); // not interlaced
    w.chunk("IHDR", ihdr);

    const QByteArray icc = VipsSupport::blobField(image, VIPS_META_ICC_NAME);
    if (!icc.isEmpty()) {
        std::vector<uint8_t> iccp{'i', 'c', 'c', 0, 0}; // name, terminator, deflate
        uLongf size = compressBound(uLong(icc.size()));
        std::vector<uint8_t> packed(size);
        if (compress2(packed.data(), &size, reinterpret_cast<const Bytef *>(icc.constData()), uLong(icc.size()), 9) == Z_OK) {
            iccp.insert(iccp.end(), packed.begin(), packed.begin() + qsizetype(size));
            w.chunk("iCCP", iccp);
        }
    }
    const double xres = image->Xres, yres = image->Yres; // pixels a millimetre
    if (xres > 0 && yres > 0) {
        std::vector<uint8_t> phys;
        put32(phys, uint32_t(std::lround(xres * 1000.0)));
        put32(phys, uint32_t(std::lround(yres * 1000.0)));
        phys.push_back(1); // metres
        w.chunk("pHYs", phys);
    }
    if (!exif.isEmpty()) {
        // eXIf holds the TIFF structure alone, without the "Exif\0\0" of JPEG files.
        const QByteArray tiff = exif.startsWith(QByteArray("Exif\0\0", 6)) ? exif.mid(6) : exif;
        if (tiff.startsWith("II") || tiff.startsWith("MM"))
            w.chunk("eXIf", reinterpret_cast<const uint8_t *>(tiff.constData()), size_t(tiff.size()));
    }
    const QByteArray xmp = VipsSupport::blobField(image, VIPS_META_XMP_NAME);
    if (!xmp.isEmpty()) {
        // Keyword and its terminator, not compressed (flag and method), then an empty
        // language tag and an empty translated keyword, each terminated.
        static const char keyword[] = "XML:com.adobe.xmp";
        std::vector<uint8_t> itxt(keyword, keyword + sizeof(keyword)); // with its terminator
        itxt.insert(itxt.end(), {0, 0, 0, 0});
        itxt.insert(itxt.end(), xmp.constBegin(), xmp.constEnd());
        w.chunk("iTXt", itxt);
    }

    // Text comments read from a PNG ("png-comment-N-Keyword") go back as text chunks.
    gchar **fields = vips_image_get_fields(image);
    for (gchar **f = fields; f && *f; ++f) {
        const QByteArray name(*f);
        if (!name.startsWith("png-comment-"))
            continue;
        const qsizetype dash = name.indexOf('-', 12);
        const QByteArray keyword = dash > 0 ? name.mid(dash + 1).left(79) : QByteArray();
        const char *value = nullptr;
        if (keyword.isEmpty() || vips_image_get_string(image, *f, &value) || !value)
            continue;
        const QByteArray text(value);
        std::vector<uint8_t> body(keyword.constBegin(), keyword.constEnd());
        body.push_back(0);
        // UTF-8 beyond ASCII goes into iTXt (tEXt is Latin-1).
        const bool ascii = std::all_of(text.constBegin(), text.constEnd(), [](char c) { return uchar(c) < 0x80; });
        if (!ascii)
            body.insert(body.end(), {0, 0, 0, 0});
        body.insert(body.end(), text.constBegin(), text.constEnd());
        w.chunk(ascii ? "tEXt" : "iTXt", body);
    }
    g_strfreev(fields);

    Encoder e;
    e.writer = &w;
    e.bpp = size_t(bands) * (sixteen ? 2 : 1);
    e.rowBytes = e.bpp * size_t(width);
    e.swap16 = sixteen && Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
    e.threads = std::max(1u, std::thread::hardware_concurrency());
    static const uint8_t zlibHeader[2] = {0x78, 0x5e}; // deflate, 32 KB window, "fast" levels
    w.chunk("IDAT", zlibHeader, 2);

    const int rc = w.failed ? -1 : vips_sink_disc(image, &Encoder::band, &e);
    if (rc == 0 && !e.failed)
        e.submit(true);
    while (!e.pending.empty()) {
        if (e.failed || rc != 0) {
            e.pending.front().wait(); // the pieces still compressing end before their state goes
            e.pending.pop_front();
        } else {
            e.writeOldest();
        }
    }
    if (rc != 0 || e.failed || w.failed) {
        const QString vipsText = QString::fromUtf8(vips_error_buffer()).trimmed();
        vips_error_clear();
        *error = w.failed ? QStringLiteral("Could not write the file: %1").arg(QString::fromLocal8Bit(std::strerror(errno)))
                          : QStringLiteral("Could not encode the image") + (vipsText.isEmpty() ? QString() : QStringLiteral(": ") + vipsText.section('\n', 0, 0));
        return false;
    }
    std::vector<uint8_t> checksum;
    put32(checksum, uint32_t(e.adler));
    w.chunk("IDAT", checksum);
    w.chunk("IEND", nullptr, 0);
    if (w.failed || std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        *error = QStringLiteral("Could not write the file: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

} // namespace PngWriter
