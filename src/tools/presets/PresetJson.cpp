#include "tools/presets/Presets.h"

#include "conversion/ConversionOptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString uuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// Strict readers: each fails (returns false) when the key is missing or has another type.
struct Reader {
    const QJsonObject &o;
    bool ok = true;

    QJsonValue take(const char *key)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            ok = false;
        return v;
    }
    QString string(const char *key)
    {
        const QJsonValue v = take(key);
        if (!v.isString())
            ok = false;
        return v.toString();
    }
    bool boolean(const char *key)
    {
        const QJsonValue v = take(key);
        if (!v.isBool())
            ok = false;
        return v.toBool();
    }
    qint64 integer(const char *key, qint64 lo = std::numeric_limits<int>::min(),
                   qint64 hi = std::numeric_limits<int>::max())
    {
        const QJsonValue v = take(key);
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || !std::isfinite(d) || d != std::floor(d) || d < double(lo) || d > double(hi)) {
            ok = false;
            return 0;
        }
        return qint64(d);
    }
    QUuid uuid(const char *key)
    {
        const QUuid id = QUuid::fromString(string(key));
        if (id.isNull())
            ok = false;
        return id;
    }
    bool has(const char *key) const { return o.contains(QLatin1String(key)); }
};

} // namespace

namespace PresetJson {

QJsonObject encode(const ArchivePreset &p)
{
    return QJsonObject{
        {"id", uuidText(p.id)},
        {"name", p.name},
        {"format", p.format},
        {"compressionLevel", p.compressionLevel},
        {"usePassword", p.usePassword},
        {"password", p.password},
        {"zipIndividually", p.zipIndividually},
        {"removeOriginals", p.removeOriginals},
    };
}

QJsonObject encode(const RenamePreset &p)
{
    return QJsonObject{
        {"id", uuidText(p.id)},
        {"name", p.name},
        {"isAdvanced", p.isAdvanced},
        {"trimHead", p.trimHead},
        {"trimTail", p.trimTail},
        {"findText", p.findText},
        {"replaceWith", p.replaceWith},
        {"useRegex", p.useRegex},
        {"caseSensitive", p.caseSensitive},
        {"caseMode", rawValue(p.caseMode)},
        {"prefix", p.prefix},
        {"suffix", p.suffix},
        {"useCounter", p.useCounter},
        {"counterPosition", rawValue(p.counterPosition)},
        {"counterSep", p.counterSep},
        {"counterStart", double(p.counterStart)},
        {"counterStep", double(p.counterStep)},
        {"counterPad", p.counterPad},
        {"keepExt", p.keepExt},
    };
}

QJsonObject encode(const FlattenPreset &p)
{
    return QJsonObject{
        {"id", uuidText(p.id)},
        {"name", p.name},
        {"duplicateMode", p.duplicateMode},
        {"operation", p.operation},
    };
}

QJsonObject encode(const ConversionPreset &p)
{
    return QJsonObject{
        {"id", uuidText(p.id)},
        {"name", p.name},
        {"audioFormat", p.audioFormat},
        {"sampleRate", p.sampleRate},
        {"bitDepth", p.bitDepth},
        {"channels", p.channels},
        {"mp3Bitrate", p.mp3Bitrate},
        {"aacBitrate", p.aacBitrate},
        {"videoFormat", p.videoFormat},
        {"proResProfile", p.proResProfile},
        {"videoCRF", p.videoCRF},
        {"frameRate", p.frameRate},
        {"resolution", p.resolution},
        {"videoChannels", p.videoChannels},
        {"preserveDuration", p.preserveDuration},
        {"burnSubtitles", p.burnSubtitles},
        {"videoAsAudioOnly", p.videoAsAudioOnly},
        {"imageFormat", p.imageFormat},
        {"imageQuality", p.imageQuality},
        {"imageDimensions", p.imageDimensions},
        {"preserveImageMetadata", p.preserveImageMetadata},
        {"removeImageBackground", p.removeImageBackground},
        {"outputMode", p.outputMode},
    };
}

std::optional<ArchivePreset> decodeArchive(const QJsonObject &o)
{
    Reader r{o};
    ArchivePreset p;
    p.id = r.uuid("id");
    p.name = r.string("name");
    p.format = r.string("format");
    p.compressionLevel = r.string("compressionLevel");
    p.usePassword = r.boolean("usePassword");
    p.password = r.string("password");
    p.zipIndividually = r.boolean("zipIndividually");
    p.removeOriginals = r.boolean("removeOriginals");
    return r.ok ? std::optional(p) : std::nullopt;
}

std::optional<RenamePreset> decodeRename(const QJsonObject &o)
{
    Reader r{o};
    RenamePreset p;
    p.id = r.uuid("id");
    p.name = r.string("name");
    p.isAdvanced = r.boolean("isAdvanced");
    p.trimHead = int(r.integer("trimHead"));
    p.trimTail = int(r.integer("trimTail"));
    p.findText = r.string("findText");
    p.replaceWith = r.string("replaceWith");
    p.useRegex = r.boolean("useRegex");
    p.caseSensitive = r.boolean("caseSensitive");
    p.caseMode = caseModeFromStored(r.string("caseMode"));
    p.prefix = r.string("prefix");
    p.suffix = r.string("suffix");
    p.useCounter = r.boolean("useCounter");
    p.counterPosition = counterPositionFromStored(r.string("counterPosition"));
    p.counterSep = r.string("counterSep");
    // JSON numbers are exact up to 2^53.
    constexpr qint64 exact = qint64(1) << 53;
    p.counterStart = r.integer("counterStart", -exact, exact);
    p.counterStep = r.integer("counterStep", -exact, exact);
    p.counterPad = int(r.integer("counterPad"));
    p.keepExt = r.boolean("keepExt");
    return r.ok ? std::optional(p) : std::nullopt;
}

std::optional<FlattenPreset> decodeFlatten(const QJsonObject &o)
{
    Reader r{o};
    FlattenPreset p;
    p.id = r.has("id") ? r.uuid("id") : QUuid::createUuid();
    p.name = r.string("name");
    p.duplicateMode = r.string("duplicateMode");
    p.operation = r.string("operation");
    return r.ok ? std::optional(p) : std::nullopt;
}

std::optional<ConversionPreset> decodeConversion(const QJsonObject &o)
{
    Reader r{o};
    ConversionPreset p;
    p.id = r.has("id") ? r.uuid("id") : QUuid::createUuid();
    p.name = r.string("name");
    p.audioFormat = r.string("audioFormat");
    p.sampleRate = r.string("sampleRate");
    p.bitDepth = r.string("bitDepth");
    p.channels = r.string("channels");
    p.mp3Bitrate = int(r.integer("mp3Bitrate"));
    p.aacBitrate = int(r.integer("aacBitrate"));
    p.videoFormat = r.string("videoFormat");
    p.proResProfile = r.string("proResProfile");
    p.videoCRF = r.string("videoCRF");
    p.frameRate = r.string("frameRate");
    p.resolution = r.string("resolution");
    p.videoChannels = r.string("videoChannels");
    p.preserveDuration = r.boolean("preserveDuration");
    p.burnSubtitles = r.boolean("burnSubtitles");
    p.videoAsAudioOnly = r.boolean("videoAsAudioOnly");
    p.imageFormat = r.has("imageFormat") ? r.string("imageFormat") : QStringLiteral("public.png");
    if (r.has("imageQuality")) {
        const qint64 q = r.integer("imageQuality", std::numeric_limits<qint64>::min() / 2,
                                   std::numeric_limits<qint64>::max() / 2);
        p.imageQuality = int(std::clamp<qint64>(q, 0, 100));
    } else {
        p.imageQuality = 90;
    }
    if (r.has("imageDimensions")) {
        const QString dims = r.string("imageDimensions");
        p.imageDimensions = enumFromRaw<ImageDimensionsPreset>(dims) ? dims : QStringLiteral("original");
    } else {
        p.imageDimensions = QStringLiteral("original");
    }
    p.preserveImageMetadata = r.has("preserveImageMetadata") ? r.boolean("preserveImageMetadata") : true;
    p.removeImageBackground = r.has("removeImageBackground") ? r.boolean("removeImageBackground") : false;
    p.outputMode = r.string("outputMode");
    return r.ok ? std::optional(p) : std::nullopt;
}

namespace {
std::optional<ArchivePreset> decodeOne(const QJsonObject &o, ArchivePreset *) { return decodeArchive(o); }
std::optional<RenamePreset> decodeOne(const QJsonObject &o, RenamePreset *) { return decodeRename(o); }
std::optional<FlattenPreset> decodeOne(const QJsonObject &o, FlattenPreset *) { return decodeFlatten(o); }
std::optional<ConversionPreset> decodeOne(const QJsonObject &o, ConversionPreset *) { return decodeConversion(o); }
} // namespace

template <typename P>
QByteArray encodeList(const QList<P> &list)
{
    QJsonArray array;
    for (const P &p : list)
        array.append(encode(p));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

template <typename P>
std::optional<QList<P>> decodeList(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<P> out;
    for (const QJsonValue &v : doc.array()) {
        if (!v.isObject())
            return std::nullopt;
        auto p = decodeOne(v.toObject(), static_cast<P *>(nullptr));
        if (!p)
            return std::nullopt;
        out.append(*p);
    }
    return out;
}

template QByteArray encodeList(const QList<ArchivePreset> &);
template QByteArray encodeList(const QList<RenamePreset> &);
template QByteArray encodeList(const QList<FlattenPreset> &);
template QByteArray encodeList(const QList<ConversionPreset> &);
template std::optional<QList<ArchivePreset>> decodeList(const QByteArray &);
template std::optional<QList<RenamePreset>> decodeList(const QByteArray &);
template std::optional<QList<FlattenPreset>> decodeList(const QByteArray &);
template std::optional<QList<ConversionPreset>> decodeList(const QByteArray &);

} // namespace PresetJson
