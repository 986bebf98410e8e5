#include "model/ShelfJson.h"

#include "model/ShelfFolder.h"
#include "platform/FilePath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace ShelfJson {

namespace {

// Sets the error text (when asked for) and fails.
template <typename T>
std::optional<T> fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return std::nullopt;
}

QString urlText(const QUrl &url)
{
    return QString::fromLatin1(url.toEncoded());
}

QString base64(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

// Readers for one key. Each returns false when the key is present but unusable; `present`
// tells apart a missing/null key from a usable one.
bool readString(const QJsonObject &o, QLatin1String key, QString *out, bool *present)
{
    const QJsonValue v = o.value(key);
    *present = false;
    if (v.isUndefined() || v.isNull())
        return true;
    if (!v.isString())
        return false;
    *out = v.toString();
    *present = true;
    return true;
}

bool readUuid(const QJsonObject &o, QLatin1String key, QUuid *out, bool *present)
{
    QString text;
    if (!readString(o, key, &text, present))
        return false;
    if (!*present)
        return true;
    const auto id = parseUuid(text);
    if (!id)
        return false;
    *out = *id;
    return true;
}

bool readUrl(const QJsonObject &o, QLatin1String key, QUrl *out, bool *present)
{
    QString text;
    if (!readString(o, key, &text, present))
        return false;
    if (!*present)
        return true;
    const QUrl url = QUrl::fromEncoded(text.toUtf8(), QUrl::TolerantMode);
    if (!url.isValid() || url.isEmpty())
        return false;
    *out = url;
    return true;
}

bool readBytes(const QJsonObject &o, QLatin1String key, QByteArray *out, bool *present)
{
    QString text;
    if (!readString(o, key, &text, present))
        return false;
    if (!*present)
        return true;
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    *out = std::move(*decoded);
    return true;
}

template <typename E>
bool readEnum(const QJsonObject &o, QLatin1String key, E *out, bool *present)
{
    QString text;
    if (!readString(o, key, &text, present))
        return false;
    if (!*present)
        return true;
    const auto value = enumFromRaw<E>(text);
    if (!value)
        return false;
    *out = *value;
    return true;
}

QString missing(QLatin1String key) { return QStringLiteral("missing or invalid \"%1\"").arg(key); }

} // namespace

// ---- encoding ----

QJsonObject encode(const ShelfColorData &color)
{
    return QJsonObject{{QLatin1String("r"), color.r},
                       {QLatin1String("g"), color.g},
                       {QLatin1String("b"), color.b},
                       {QLatin1String("a"), color.a}};
}

QJsonObject encode(const ShelfFile &file)
{
    QJsonObject o{{QLatin1String("id"), uuidString(file.id)}, {QLatin1String("url"), urlText(file.url)}};
    if (!file.sourceURL.isEmpty())
        o.insert(QLatin1String("sourceURL"), urlText(file.sourceURL));
    if (!file.bookmarkData.isEmpty())
        o.insert(QLatin1String("bookmarkData"), base64(file.bookmarkData));
    return o;
}

QJsonObject encode(const ShelfFavoriteDestination &destination)
{
    QJsonObject o{{QLatin1String("path"), destination.path}};
    if (!destination.bookmarkData.isEmpty())
        o.insert(QLatin1String("bookmarkData"), base64(destination.bookmarkData));
    return o;
}

QJsonObject encode(const ShelfFavoriteAction &favorite)
{
    QJsonObject o{{QLatin1String("id"), uuidString(favorite.id)},
                  {QLatin1String("tool"), rawValue(favorite.tool)},
                  {QLatin1String("presetID"), uuidString(favorite.presetID)},
                  {QLatin1String("presetName"), favorite.presetName},
                  {QLatin1String("scope"), rawValue(favorite.scope)},
                  {QLatin1String("destinationMode"), rawValue(favorite.destinationMode)}};
    if (favorite.destination)
        o.insert(QLatin1String("destination"), encode(*favorite.destination));
    if (favorite.customLabel)
        o.insert(QLatin1String("customLabel"), *favorite.customLabel);
    return o;
}

QJsonObject encode(const Shelf &shelf)
{
    QJsonArray files;
    for (const ShelfFile &f : shelf.files)
        files.append(encode(f));
    QJsonArray favorites;
    for (const ShelfFavoriteAction &f : shelf.favorites)
        favorites.append(encode(f));
    QJsonObject o{{QLatin1String("id"), uuidString(shelf.id)},
                  {QLatin1String("name"), shelf.name},
                  {QLatin1String("colorData"), encode(shelf.colorData)},
                  {QLatin1String("icon"), shelf.icon},
                  {QLatin1String("folderURL"), urlText(shelf.folderURL)},
                  {QLatin1String("files"), files},
                  {QLatin1String("favorites"), favorites},
                  {QLatin1String("favoriteButtonDisplayMode"), rawValue(shelf.favoriteButtonDisplayMode)}};
    if (shelf.tuckedEdge)
        o.insert(QLatin1String("tuckedEdge"), rawValue(*shelf.tuckedEdge));
    if (shelf.tuckedScreenID)
        o.insert(QLatin1String("tuckedScreenID"), *shelf.tuckedScreenID);
    if (shelf.tuckedScreenName)
        o.insert(QLatin1String("tuckedScreenName"), *shelf.tuckedScreenName);
    return o;
}

// ---- decoding ----

std::optional<ShelfColorData> decodeColor(const QJsonValue &value, QString *error)
{
    if (!value.isObject())
        return fail<ShelfColorData>(error, QStringLiteral("colour is not an object"));
    const QJsonObject o = value.toObject();
    double c[4];
    const char *keys[4] = {"r", "g", "b", "a"};
    for (int i = 0; i < 4; ++i) {
        const QJsonValue v = o.value(QLatin1String(keys[i]));
        if (!v.isDouble())
            return fail<ShelfColorData>(error, missing(QLatin1String(keys[i])));
        c[i] = v.toDouble();
    }
    return ShelfColorData{c[0], c[1], c[2], c[3]};
}

std::optional<ShelfFile> decodeFile(const QJsonValue &value, QString *error)
{
    if (!value.isObject())
        return fail<ShelfFile>(error, QStringLiteral("file entry is not an object"));
    const QJsonObject o = value.toObject();
    ShelfFile f;
    bool present = false;
    if (!readUuid(o, QLatin1String("id"), &f.id, &present) || !present)
        return fail<ShelfFile>(error, missing(QLatin1String("id")));
    if (!readUrl(o, QLatin1String("url"), &f.url, &present) || !present)
        return fail<ShelfFile>(error, missing(QLatin1String("url")));
    if (!readUrl(o, QLatin1String("sourceURL"), &f.sourceURL, &present))
        return fail<ShelfFile>(error, missing(QLatin1String("sourceURL")));
    if (!readBytes(o, QLatin1String("bookmarkData"), &f.bookmarkData, &present))
        return fail<ShelfFile>(error, missing(QLatin1String("bookmarkData")));
    return f;
}

std::optional<ShelfFavoriteDestination> decodeDestination(const QJsonValue &value, QString *error)
{
    if (!value.isObject())
        return fail<ShelfFavoriteDestination>(error, QStringLiteral("destination is not an object"));
    const QJsonObject o = value.toObject();
    ShelfFavoriteDestination d;
    bool present = false;
    if (!readString(o, QLatin1String("path"), &d.path, &present) || !present)
        return fail<ShelfFavoriteDestination>(error, missing(QLatin1String("path")));
    if (!readBytes(o, QLatin1String("bookmarkData"), &d.bookmarkData, &present))
        return fail<ShelfFavoriteDestination>(error, missing(QLatin1String("bookmarkData")));
    return d;
}

std::optional<ShelfFavoriteAction> decodeFavorite(const QJsonValue &value, QString *error)
{
    using R = ShelfFavoriteAction;
    if (!value.isObject())
        return fail<R>(error, QStringLiteral("favorite is not an object"));
    const QJsonObject o = value.toObject();
    ShelfFavoriteAction f;
    bool present = false;
    if (!readUuid(o, QLatin1String("id"), &f.id, &present))
        return fail<R>(error, missing(QLatin1String("id")));
    if (!present)
        f.id = QUuid::createUuid();
    if (!readEnum(o, QLatin1String("tool"), &f.tool, &present) || !present)
        return fail<R>(error, missing(QLatin1String("tool")));
    if (!readUuid(o, QLatin1String("presetID"), &f.presetID, &present) || !present)
        return fail<R>(error, missing(QLatin1String("presetID")));
    if (!readString(o, QLatin1String("presetName"), &f.presetName, &present) || !present)
        return fail<R>(error, missing(QLatin1String("presetName")));
    if (!readEnum(o, QLatin1String("scope"), &f.scope, &present))
        return fail<R>(error, missing(QLatin1String("scope")));
    if (!present)
        f.scope = ShelfFavoriteScope::selectionOrAll;
    QString mode;
    if (!readString(o, QLatin1String("destinationMode"), &mode, &present))
        return fail<R>(error, missing(QLatin1String("destinationMode")));
    f.destinationMode = present ? destinationModeFromRaw(mode) : defaultDestinationMode(f.tool);
    const QJsonValue dest = o.value(QLatin1String("destination"));
    if (!dest.isUndefined() && !dest.isNull()) {
        auto d = decodeDestination(dest, error);
        if (!d)
            return std::nullopt;
        f.destination = std::move(*d);
    }
    QString label;
    if (!readString(o, QLatin1String("customLabel"), &label, &present))
        return fail<R>(error, missing(QLatin1String("customLabel")));
    if (present)
        f.customLabel = label;
    return f;
}

std::optional<Shelf> decodeShelf(const QJsonValue &value, QString *error)
{
    if (!value.isObject())
        return fail<Shelf>(error, QStringLiteral("shelf is not an object"));
    const QJsonObject o = value.toObject();
    Shelf s;
    bool present = false;
    if (!readUuid(o, QLatin1String("id"), &s.id, &present) || !present)
        return fail<Shelf>(error, missing(QLatin1String("id")));
    if (!readString(o, QLatin1String("name"), &s.name, &present) || !present)
        return fail<Shelf>(error, missing(QLatin1String("name")));
    auto color = decodeColor(o.value(QLatin1String("colorData")), error);
    if (!color)
        return std::nullopt;
    s.colorData = *color;
    if (!readString(o, QLatin1String("icon"), &s.icon, &present) || !present)
        return fail<Shelf>(error, missing(QLatin1String("icon")));
    if (!readUrl(o, QLatin1String("folderURL"), &s.folderURL, &present) || !present)
        return fail<Shelf>(error, missing(QLatin1String("folderURL")));

    const QJsonValue files = o.value(QLatin1String("files"));
    if (!files.isArray())
        return fail<Shelf>(error, missing(QLatin1String("files")));
    const QJsonArray fileArray = files.toArray();
    s.files.reserve(fileArray.size());
    for (const QJsonValue &v : fileArray) {
        auto f = decodeFile(v, error);
        if (!f)
            return std::nullopt;
        s.files.append(std::move(*f));
    }

    const QJsonValue favorites = o.value(QLatin1String("favorites"));
    if (favorites.isArray()) {
        for (const QJsonValue &v : favorites.toArray()) {
            auto f = decodeFavorite(v, error);
            if (!f)
                return std::nullopt;
            s.favorites.append(std::move(*f));
        }
    } else if (!favorites.isUndefined() && !favorites.isNull()) {
        return fail<Shelf>(error, missing(QLatin1String("favorites")));
    }

    if (!readEnum(o, QLatin1String("favoriteButtonDisplayMode"), &s.favoriteButtonDisplayMode, &present))
        return fail<Shelf>(error, missing(QLatin1String("favoriteButtonDisplayMode")));

    // The tuck fields never fail the shelf.
    const QJsonValue edge = o.value(QLatin1String("tuckedEdge"));
    if (edge.isString())
        s.tuckedEdge = enumFromRaw<TuckEdge>(edge.toString());
    const QJsonValue screenID = o.value(QLatin1String("tuckedScreenID"));
    if (screenID.isString())
        s.tuckedScreenID = screenID.toString();
    const QJsonValue screenName = o.value(QLatin1String("tuckedScreenName"));
    if (screenName.isString())
        s.tuckedScreenName = screenName.toString();

    ShelfFolder::makePath(FilePath::bytes(s.folderURL));
    return s;
}

QByteArray encodeShelves(const QList<Shelf> &shelves)
{
    QJsonArray array;
    for (const Shelf &s : shelves)
        array.append(encode(s));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<Shelf>> decodeShelves(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail<QList<Shelf>>(error, parseError.errorString());
    if (!doc.isArray())
        return fail<QList<Shelf>>(error, QStringLiteral("not a JSON array"));
    QList<Shelf> out;
    const QJsonArray array = doc.array();
    for (const QJsonValue &v : array) {
        auto s = decodeShelf(v, error);
        if (!s)
            return std::nullopt;
        out.append(std::move(*s));
    }
    return out;
}

QByteArray encodeIdSet(const QSet<QUuid> &ids)
{
    QJsonArray array;
    for (const QUuid &id : ids)
        array.append(uuidString(id));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QSet<QUuid>> decodeIdSet(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QSet<QUuid> out;
    for (const QJsonValue &v : doc.array()) {
        if (!v.isString())
            continue;
        if (const auto id = parseUuid(v.toString()))
            out.insert(*id);
    }
    return out;
}

} // namespace ShelfJson
