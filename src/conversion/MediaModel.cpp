// vips (glib) before Qt: gio uses "signals" as a name.
#include <vips/vips.h>

#include "conversion/MediaModel.h"

#include "conversion/VipsSupport.h"
#include "platform/FileBookmark.h"
#include "platform/FilePath.h"

#include <QFileInfo>
#include <QSet>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <cmath>

#include <dirent.h>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/bswap.h>
#include <libavutil/display.h>
}

// ---------------------------------------------------------------------------------------
// Classification

std::optional<MediaType> classifyMediaExtension(const QString &extension)
{
    static const QSet<QString> audio = {"mp3", "wav", "wave", "aiff", "aif", "flac", "m4a",
                                        "aac", "ogg", "opus", "caf", "wma", "alac"};
    static const QSet<QString> video = {"mp4", "mov", "mxf", "avi", "mkv", "m4v", "wmv",
                                        "webm", "r3d", "braw", "dv", "mpg", "mpeg", "ts"};
    static const QSet<QString> image = {"png", "jpg", "jpeg", "tif", "tiff",
                                        "bmp", "heic", "heif", "webp"};
    const QString ext = extension.toLower();
    if (audio.contains(ext))
        return MediaType::audio;
    if (video.contains(ext))
        return MediaType::video;
    if (image.contains(ext))
        return MediaType::image;
    return std::nullopt;
}

static QByteArray lastComponent(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.mid(slash + 1);
}

static QString extensionOf(const QByteArray &path)
{
    const QByteArray name = lastComponent(path);
    const int dot = name.lastIndexOf('.');
    if (dot < 0)
        return {};
    return QString::fromUtf8(name.mid(dot + 1));
}

std::optional<MediaType> classifyMedia(const QUrl &url)
{
    return classifyMediaExtension(extensionOf(FilePath::bytes(url)));
}

// ---------------------------------------------------------------------------------------
// Display texts

QString durationText(double seconds)
{
    const long long whole = seconds > 0 ? static_cast<long long>(seconds) : 0;
    return QString::asprintf("%lld:%02lld", whole / 60, whole % 60);
}

std::optional<QString> sampleRateText(double hz)
{
    if (!(hz > 0))
        return std::nullopt;
    const double k = hz / 1000.0;
    if (k == std::floor(k))
        return QString::number(static_cast<long long>(k)) + QStringLiteral(" kHz");
    return QString::asprintf("%.1f kHz", k);
}

std::optional<QString> frameRateText(double fps)
{
    if (!(fps > 0))
        return std::nullopt;
    const float r = std::round(static_cast<float>(fps) * 1000.0f) / 1000.0f;
    if (std::fabs(r - 23.976f) < 0.01f)
        return QStringLiteral("23.976 fps");
    if (std::fabs(r - 29.97f) < 0.01f)
        return QStringLiteral("29.97 fps");
    if (r == std::floor(r))
        return QString::number(static_cast<long long>(r)) + QStringLiteral(" fps");
    return QString::asprintf("%.2f fps", static_cast<double>(r));
}

QString channelsText(int count)
{
    switch (count) {
    case 1: return QStringLiteral("Mono");
    case 2: return QStringLiteral("Stereo");
    case 6: return QStringLiteral("5.1");
    case 8: return QStringLiteral("7.1");
    default: return QString::number(count) + QStringLiteral("ch");
    }
}

QString bitDepthText(int bits)
{
    return QString::number(bits) + QStringLiteral("-bit");
}

static QString fourCCText(uint32_t code)
{
    QByteArray chars;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((code >> shift) & 0xff);
        if (c != 0)
            chars.append(c);
    }
    return QString::fromLatin1(chars).trimmed();
}

QString audioCodecNameForFourCC(uint32_t code)
{
    switch (code) {
    case fourCC("aac "):
    case fourCC("aach"):
    case fourCC("aacp"): return QStringLiteral("AAC");
    case fourCC(".mp3"): return QStringLiteral("MP3");
    case fourCC("alac"): return QStringLiteral("ALAC");
    case fourCC("flac"): return QStringLiteral("FLAC");
    case fourCC("lpcm"): return QStringLiteral("PCM");
    case fourCC("opus"): return QStringLiteral("Opus");
    default: return fourCCText(code);
    }
}

QString videoCodecNameForFourCC(uint32_t code)
{
    switch (code) {
    case fourCC("avc1"): return QStringLiteral("H.264");
    case fourCC("hvc1"): return QStringLiteral("H.265");
    case fourCC("apco"): return QStringLiteral("ProRes Proxy");
    case fourCC("apcs"): return QStringLiteral("ProRes LT");
    case fourCC("apcn"): return QStringLiteral("ProRes 422");
    case fourCC("apch"): return QStringLiteral("ProRes HQ");
    case fourCC("ap4h"): return QStringLiteral("ProRes 4444");
    case fourCC("ap4x"): return QStringLiteral("ProRes 4444 XQ");
    case fourCC("aprn"): return QStringLiteral("ProRes RAW");
    case fourCC("av01"): return QStringLiteral("AV1");
    case fourCC("vp09"): return QStringLiteral("VP9");
    case fourCC("mp4v"): return QStringLiteral("MPEG-4");
    case fourCC("mp2v"): return QStringLiteral("MPEG-2");
    default: return fourCCText(code);
    }
}

QString imageFormatNameForExtension(const QString &extension)
{
    const QString ext = extension.toLower();
    if (ext == "png") return QStringLiteral("PNG");
    if (ext == "jpg" || ext == "jpeg") return QStringLiteral("JPEG");
    if (ext == "heic") return QStringLiteral("HEIC");
    if (ext == "heif") return QStringLiteral("HEIF");
    if (ext == "tif" || ext == "tiff") return QStringLiteral("TIFF");
    if (ext == "webp") return QStringLiteral("WebP");
    if (ext == "bmp") return QStringLiteral("BMP");
    return extension.toUpper();
}

QString colorModelText(const QString &model)
{
    const QString lower = model.toLower();
    if (lower == "rgb") return QStringLiteral("RGB");
    if (lower == "cmyk") return QStringLiteral("CMYK");
    if (lower == "gray" || lower == "grey") return QStringLiteral("Gray");
    return model.toUpper();
}

// ---------------------------------------------------------------------------------------
// FFmpeg probe

// FFmpeg names codecs by id; the display names follow the four-character codes that a
// QuickTime container would carry for the same codec.
static uint32_t audioFourCC(const AVCodecParameters *par)
{
    switch (par->codec_id) {
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_AAC_LATM: return fourCC("aac ");
    case AV_CODEC_ID_MP3: return fourCC(".mp3");
    case AV_CODEC_ID_ALAC: return fourCC("alac");
    case AV_CODEC_ID_FLAC: return fourCC("flac");
    case AV_CODEC_ID_OPUS: return fourCC("opus");
    default: break;
    }
    const AVCodecDescriptor *desc = avcodec_descriptor_get(par->codec_id);
    if (desc && desc->name && QByteArray(desc->name).startsWith("pcm_"))
        return fourCC("lpcm");
    return av_bswap32(par->codec_tag);
}

static uint32_t videoFourCC(const AVCodecParameters *par)
{
    switch (par->codec_id) {
    case AV_CODEC_ID_H264: return fourCC("avc1");
    case AV_CODEC_ID_HEVC: return fourCC("hvc1");
    case AV_CODEC_ID_AV1: return fourCC("av01");
    case AV_CODEC_ID_VP9: return fourCC("vp09");
    case AV_CODEC_ID_MPEG4: return fourCC("mp4v");
    case AV_CODEC_ID_MPEG2VIDEO: return fourCC("mp2v");
    case AV_CODEC_ID_PRORES: {
        // The container's tag names the profile; without one, the stream's profile does.
        const uint32_t tag = av_bswap32(par->codec_tag);
        switch (tag) {
        case fourCC("apco"): case fourCC("apcs"): case fourCC("apcn"):
        case fourCC("apch"): case fourCC("ap4h"): case fourCC("ap4x"): return tag;
        default: break;
        }
        switch (par->profile) {
        case FF_PROFILE_PRORES_PROXY: return fourCC("apco");
        case FF_PROFILE_PRORES_LT: return fourCC("apcs");
        case FF_PROFILE_PRORES_STANDARD: return fourCC("apcn");
        case FF_PROFILE_PRORES_HQ: return fourCC("apch");
        case FF_PROFILE_PRORES_4444: return fourCC("ap4h");
        case FF_PROFILE_PRORES_XQ: return fourCC("ap4x");
        default: return fourCC("apcn");
        }
    }
    default: break;
    }
    return av_bswap32(par->codec_tag);
}

static bool isPrintableCode(uint32_t code)
{
    if (code == 0)
        return false;
    for (int shift = 0; shift < 32; shift += 8) {
        const unsigned c = (code >> shift) & 0xff;
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

static QString codecDisplayName(uint32_t code, AVCodecID id, bool audio)
{
    // Containers without four-character codes (WAV, Matroska) carry numbers or nothing:
    // those fall back to FFmpeg's codec name.
    if (isPrintableCode(code))
        return audio ? audioCodecNameForFourCC(code) : videoCodecNameForFourCC(code);
    const char *name = avcodec_get_name(id);
    return name ? QString::fromLatin1(name).toUpper() : QString();
}

static std::optional<MediaInfo> probeAudioVideo(const QUrl &url, MediaType type)
{
    const QByteArray path = FilePath::bytes(url);
    if (path.isEmpty())
        return std::nullopt;
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, path.constData(), nullptr, nullptr) < 0)
        return std::nullopt;
    struct Closer {
        AVFormatContext **f;
        ~Closer() { avformat_close_input(f); }
    } closer{&fmt};
    if (avformat_find_stream_info(fmt, nullptr) < 0)
        return std::nullopt;

    MediaInfo info;
    double seconds = -1;
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        seconds = double(fmt->duration) / AV_TIME_BASE;
    int audioIndex = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audioIndex >= 0 && fmt->streams[audioIndex]->codecpar->sample_rate <= 0)
        audioIndex = -1; // a stream nothing could be decoded from (a text file called .mp3)
    const int videoIndex = type == MediaType::video
                               ? av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                               : -1;
    if (audioIndex < 0 && (type == MediaType::audio || videoIndex < 0))
        return std::nullopt; // not a media file we can read, whatever its name says
    if (seconds < 0) {
        for (int idx : {audioIndex, videoIndex}) {
            if (idx < 0)
                continue;
            const AVStream *st = fmt->streams[idx];
            if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
                seconds = st->duration * av_q2d(st->time_base);
                break;
            }
        }
    }
    if (seconds >= 0) {
        info.duration = durationText(seconds);
        info.totalDurationSeconds = seconds;
    }

    if (audioIndex >= 0) {
        const AVCodecParameters *par = fmt->streams[audioIndex]->codecpar;
        info.sampleRate = sampleRateText(par->sample_rate);
        int bits = par->bits_per_raw_sample;
        if (bits <= 0 && audioFourCC(par) == fourCC("lpcm"))
            bits = par->bits_per_coded_sample;
        if (bits > 0)
            info.bitDepth = bitDepthText(bits);
        if (par->ch_layout.nb_channels > 0)
            info.channels = channelsText(par->ch_layout.nb_channels);
        info.audioCodec = codecDisplayName(audioFourCC(par), par->codec_id, true);
    }
    if (videoIndex >= 0) {
        AVStream *st = fmt->streams[videoIndex];
        const AVCodecParameters *par = st->codecpar;
        AVRational rate = st->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = st->r_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            info.fps = frameRateText(av_q2d(rate));
        if (par->width > 0 && par->height > 0) {
            double w = par->width, h = par->height;
            const auto *matrix = reinterpret_cast<const int32_t *>(
                av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
            if (matrix) {
                // The display matrix maps the coded frame onto the display; its 2×2 part
                // applied to the size gives the displayed extent.
                const double a = matrix[0] / 65536.0, b = matrix[1] / 65536.0;
                const double c = matrix[3] / 65536.0, d = matrix[4] / 65536.0;
                const double nw = std::fabs(a * w + c * h), nh = std::fabs(b * w + d * h);
                w = nw;
                h = nh;
            }
            info.resolution = QString::number(qRound(w)) + QChar(0x00D7) + QString::number(qRound(h));
        }
        info.videoCodec = codecDisplayName(videoFourCC(par), par->codec_id, false);
    }
    return info;
}

// ---------------------------------------------------------------------------------------
// Image probe

static std::optional<MediaInfo> probeImage(const QUrl &url)
{
    if (!VipsSupport::ensureStarted())
        return std::nullopt;
    const QByteArray path = FilePath::bytes(url);
    if (path.isEmpty())
        return std::nullopt;
    VipsImage *image = vips_image_new_from_file(path.constData(), nullptr); // header only
    if (!image) {
        vips_error_clear();
        return std::nullopt;
    }
    MediaInfo info;
    const int width = vips_image_get_width(image), height = vips_image_get_height(image);
    info.resolution = QString::number(width) + QChar(0x00D7) + QString::number(height);

    QString model;
    switch (vips_image_get_interpretation(image)) {
    case VIPS_INTERPRETATION_B_W:
    case VIPS_INTERPRETATION_GREY16: model = QStringLiteral("gray"); break;
    case VIPS_INTERPRETATION_CMYK: model = QStringLiteral("cmyk"); break;
    case VIPS_INTERPRETATION_sRGB:
    case VIPS_INTERPRETATION_RGB:
    case VIPS_INTERPRETATION_RGB16:
    case VIPS_INTERPRETATION_scRGB: model = QStringLiteral("rgb"); break;
    case VIPS_INTERPRETATION_LAB:
    case VIPS_INTERPRETATION_LABS: model = QStringLiteral("lab"); break;
    default: {
        const char *nick = vips_enum_nick(VIPS_TYPE_INTERPRETATION, vips_image_get_interpretation(image));
        model = nick ? QString::fromLatin1(nick) : QString();
    }
    }
    if (!model.isEmpty())
        info.colorModel = colorModelText(model);

    int bits = 0;
    int bitsPerSample = 0;
    if (vips_image_get_typeof(image, "bits-per-sample")
        && vips_image_get_int(image, "bits-per-sample", &bitsPerSample) == 0 && bitsPerSample > 0) {
        bits = bitsPerSample;
    } else {
        bits = int(vips_format_sizeof(vips_image_get_format(image))) * 8;
    }
    if (bits > 0)
        info.bitDepth = bitDepthText(bits);

    if (vips_image_hasalpha(image))
        info.alpha = QStringLiteral("Alpha");
    if (vips_image_get_typeof(image, VIPS_META_EXIF_NAME) || vips_image_get_typeof(image, VIPS_META_XMP_NAME)
        || vips_image_get_typeof(image, VIPS_META_IPTC_NAME))
        info.metadata = QStringLiteral("Metadata");

    QString format = imageFormatNameForExtension(extensionOf(path));
    if (vips_image_get_n_pages(image) > 1)
        format += QStringLiteral(" · Animated");
    info.imageFormat = format;
    g_object_unref(image);
    return info;
}

std::optional<MediaInfo> probeMedia(const QUrl &url, MediaType type)
{
    if (type == MediaType::image)
        return probeImage(url);
    return probeAudioVideo(url, type);
}

// ---------------------------------------------------------------------------------------
// Gathering

QByteArray commonBaseFolder(const QList<QByteArray> &folders)
{
    if (folders.isEmpty())
        return QByteArrayLiteral("/");
    QList<QByteArray> common;
    bool first = true;
    for (const QByteArray &folder : folders) {
        QList<QByteArray> parts;
        for (const QByteArray &p : FilePath::standardized(folder).split('/'))
            if (!p.isEmpty())
                parts.append(p);
        if (first) {
            common = parts;
            first = false;
            continue;
        }
        qsizetype n = 0;
        while (n < common.size() && n < parts.size() && common[n] == parts[n])
            ++n;
        common.resize(n);
    }
    return QByteArray("/") + common.join('/');
}

QByteArray relativePathFor(const QByteArray &filePath, const QByteArray &baseFolder)
{
    const QByteArray file = FilePath::standardized(filePath);
    QByteArray base = FilePath::standardized(baseFolder);
    if (!base.endsWith('/'))
        base += '/';
    if (file.startsWith(base))
        return file.mid(base.size());
    return lastComponent(file);
}

namespace {

struct RawFile {
    QByteArray path;       // standardized
    QByteArray itemParent; // folder holding the shelf item this file came from
};

QByteArray parentOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    if (slash <= 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

// Depth-first walk, entries of a folder in name order; hidden entries are skipped and
// hidden folders never entered; unreadable folders are passed over.
void walkFolder(const QByteArray &folder, const QByteArray &itemParent, QList<RawFile> &out)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue; // hidden, and "." / ".."
        names.append(QByteArray(entry->d_name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const QByteArray &name : names) {
        const QByteArray child = folder.endsWith('/') ? folder + name : folder + '/' + name;
        struct stat st;
        if (::lstat(child.constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            walkFolder(child, itemParent, out);
        else
            out.append({child, itemParent});
    }
}

} // namespace

QList<ResolvedMediaFile> gatherMediaFiles(const QList<MediaSourceItem> &items, bool probe)
{
    QList<RawFile> raw;
    for (const MediaSourceItem &item : items) {
        const QUrl location = item.bookmarkData.isEmpty()
                                  ? item.url
                                  : FileBookmark::resolvedUrl(item.bookmarkData, item.url);
        const QByteArray path = FilePath::standardized(FilePath::bytes(location));
        if (path.isEmpty() || path == ".")
            continue;
        struct stat st;
        if (::stat(path.constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            walkFolder(path, parentOf(path), raw);
        else
            raw.append({path, parentOf(path)});
    }

    QList<QByteArray> parents;
    for (const RawFile &f : raw)
        if (!parents.contains(f.itemParent))
            parents.append(f.itemParent);
    const QByteArray base = commonBaseFolder(parents);

    QList<ResolvedMediaFile> files;
    for (const RawFile &f : raw) {
        const auto type = classifyMediaExtension(extensionOf(f.path));
        if (!type)
            continue;
        ResolvedMediaFile file;
        file.id = QUuid::createUuid();
        file.url = FilePath::urlFromBytes(f.path);
        file.type = *type;
        file.relativePathBytes = relativePathFor(f.path, base);
        file.relativePath = QFile::decodeName(file.relativePathBytes);
        files.append(file);
    }
    if (probe && !files.isEmpty()) {
        // Probes are independent; run them on the pool, keeping the order.
        QtConcurrent::blockingMap(files, [](ResolvedMediaFile &file) {
            file.info = probeMedia(file.url, file.type);
        });
    }
    return files;
}
