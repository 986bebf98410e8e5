#include "conversion/MediaModel.h"

#include "conversion/MediaBackend.h"
#include "platform/FileBookmark.h"
#include "platform/FilePath.h"

#include <QFileInfo>
#include <QSet>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <cmath>

#include <dirent.h>
#include <sys/stat.h>

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

QString mediaFileExtension(const QByteArray &path)
{
    const QByteArray name = FilePath::lastComponent(path);
    const int dot = name.lastIndexOf('.');
    if (dot < 0)
        return {};
    return QString::fromUtf8(name.mid(dot + 1));
}

std::optional<MediaType> classifyMedia(const QUrl &url)
{
    return classifyMediaExtension(mediaFileExtension(FilePath::bytes(url)));
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

bool isRegularMediaFile(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<MediaInfo> probeMedia(const QUrl &url, MediaType type)
{
    if (type == MediaType::image) {
        if (const ImageBackend *backend = imageBackend())
            return backend->probe(url);
    } else if (const AvBackend *backend = avBackend()) {
        return backend->probe(url, type);
    }
    return std::nullopt;
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
    return FilePath::lastComponent(file);
}

namespace {

struct RawFile {
    QByteArray path;       // standardized
    QByteArray itemParent; // folder holding the shelf item this file came from
    QUrl item;             // that shelf item
};

// Depth-first walk, entries of a folder in name order; hidden entries are skipped and
// hidden folders never entered; unreadable folders are passed over.
void walkFolder(const QByteArray &folder, const QByteArray &itemParent, const QUrl &item, QList<RawFile> &out)
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
            walkFolder(child, itemParent, item, out);
        else
            out.append({child, itemParent, item});
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
            walkFolder(path, FilePath::parentPath(path), item.url, raw);
        else
            raw.append({path, FilePath::parentPath(path), item.url});
    }

    QList<QByteArray> parents;
    for (const RawFile &f : raw)
        if (!parents.contains(f.itemParent))
            parents.append(f.itemParent);
    const QByteArray base = commonBaseFolder(parents);

    QList<ResolvedMediaFile> files;
    for (const RawFile &f : raw) {
        const auto type = classifyMediaExtension(mediaFileExtension(f.path));
        if (!type)
            continue;
        ResolvedMediaFile file;
        file.id = QUuid::createUuid();
        file.url = FilePath::urlFromBytes(f.path);
        file.type = *type;
        file.relativePathBytes = relativePathFor(f.path, base);
        file.relativePath = QFile::decodeName(file.relativePathBytes);
        file.sourceItem = f.item;
        files.append(file);
    }
    if (probe && !files.isEmpty()) {
        // Probes are independent; run them on the pool, keeping the order.
        QtConcurrent::blockingMap(files, [](ResolvedMediaFile &file) {
            if (isRegularMediaFile(FilePath::bytes(file.url)))
                file.info = probeMedia(file.url, file.type);
        });
    }
    return files;
}
