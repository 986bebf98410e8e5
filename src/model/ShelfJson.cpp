#include "model/ShelfJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QThread>
#include <QtConcurrent/QtConcurrentMap>

#include <simdjson.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <numeric>

// "shelves.json" holds every file of every shelf, easily a hundred thousand entries, and it
// is read at start-up. It is read with simdjson's On-Demand parser, straight from the bytes
// (no document tree, no intermediate QString for URLs), and a large list has its shelves
// decoded side by side. The writer below works on the bytes too. The QJsonObject entry
// points are thin conversions over the same code, so there is one set of reading rules.

namespace ShelfJson {

static_assert(kReadPadding >= qsizetype(simdjson::SIMDJSON_PADDING));

namespace {

namespace od = simdjson::ondemand;
using simdjson::error_code;

// ---------------------------------------------------------------------------------------
// The text as the parser sees it.

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The text simdjson reads: the caller's bytes where enough readable bytes follow them, else
// a padded copy. A UTF-8 byte-order mark some editors put at the start is not part of it.
//
// Two things simdjson refuses that our files have always been read with, and that the repairs
// below turn into what they were always read as: bytes that are not UTF-8 (read as U+FFFD,
// as QString::fromUtf8 reads them) and a \u escape of half a surrogate pair (U+FFFD too).
// Each repair makes a copy, only for a text that needs it.
class Text
{
    static constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

public:
    Text(QByteArrayView text, qsizetype readableAfterEnd)
    {
        if (text.startsWith(kByteOrderMark))
            text = text.sliced(3);
        if (readableAfterEnd >= kReadPadding)
            m_view = simdjson::padded_string_view(text.data(), size_t(text.size()),
                                                  size_t(text.size() + readableAfterEnd));
        else
            setCopy(text);
    }
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;

    const simdjson::padded_string_view &view() const { return m_view; }
    const char *begin() const { return m_view.data(); }
    // The bytes readable from `p` on, padding included.
    size_t capacityFrom(const char *p) const { return size_t(m_view.data() + m_view.capacity() - p); }

    void replaceInvalidUtf8()
    {
        // fromUtf8 drops a byte-order mark at the start: a second one is kept, and fails as before.
        const bool mark = bytes().startsWith(kByteOrderMark);
        setCopy((mark ? QByteArray(kByteOrderMark) : QByteArray()) + QString::fromUtf8(bytes()).toUtf8());
    }

    // Rewrites each \u escape of a lone surrogate half as \uFFFD (same length); false when
    // there was none.
    bool replaceLoneSurrogateEscapes()
    {
        QByteArray text = bytes().toByteArray();
        const auto surrogate = [&text](qsizetype i, char32_t lo, char32_t hi) {
            // An escape "\uXXXX" at i (the backslash) whose value lies in [lo, hi].
            if (i < 0 || i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u')
                return false;
            for (int k = 2; k < 6; ++k)
                if (!isHex(text[i + k]))
                    return false;
            const char32_t v = char32_t(QByteArrayView(text).sliced(i + 2, 4).toUInt(nullptr, 16));
            return v >= lo && v <= hi;
        };
        bool changed = false;
        bool pairedLow = false; // the escape at i is the second half of a pair
        for (qsizetype i = 0; i + 6 <= text.size(); ++i) {
            if (text[i] != '\\')
                continue;
            // A backslash that is not itself escaped starts an escape: skip the escaped character.
            if (!surrogate(i, 0xD800, 0xDFFF)) {
                pairedLow = false;
                ++i;
                continue;
            }
            const bool high = surrogate(i, 0xD800, 0xDBFF);
            const bool paired = high ? surrogate(i + 6, 0xDC00, 0xDFFF) : pairedLow;
            pairedLow = high && paired;
            if (!paired) {
                text.replace(i + 2, 4, "FFFD");
                changed = true;
            }
            i += 5;
        }
        if (changed)
            setCopy(text);
        return changed;
    }

private:
    QByteArrayView bytes() const { return QByteArrayView(m_view.data(), qsizetype(m_view.length())); }
    void setCopy(QByteArrayView text)
    {
        m_copy = simdjson::padded_string(text.data(), size_t(text.size()));
        m_view = m_copy;
    }

    simdjson::padded_string m_copy;
    simdjson::padded_string_view m_view;
};

// ---------------------------------------------------------------------------------------
// Field readers. Values are read in document order, so of a repeated key the last one
// counts. Every value is read to its end, including those of keys we do not know: a broken
// text fails wherever it is broken.

// What a field holds: null (absent), a value of the wanted type, something else.
enum class Got { absent, value, wrongType, broken };

class Reader
{
public:
    // `doc` is null when the text could not even be started; positions in messages count
    // from `base`.
    Reader(od::document *doc, const char *base) : m_doc(doc), m_base(base) {}

    const QString &error() const { return m_error; }
    // The text had a string simdjson refused (see Text::replaceLoneSurrogateEscapes).
    bool sawStringError() const { return m_sawStringError; }

    // Marks the record failed for `key` unless the text is already known to be broken.
    bool invalid(std::string_view key)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("missing or invalid \"%1\"").arg(QString::fromUtf8(key.data(), qsizetype(key.size())));
        return false;
    }

    // Marks the text broken, saying where.
    bool broken(const QString &message)
    {
        if (m_error.isEmpty()) {
            m_error = message;
            const auto at = m_doc ? m_doc->current_location() : simdjson::OUT_OF_BOUNDS;
            if (!at.error())
                m_error += QStringLiteral(" (near byte %1)").arg(at.value_unsafe() - m_base);
        }
        return false;
    }
    bool broken(error_code code)
    {
        if (code == simdjson::STRING_ERROR)
            m_sawStringError = true;
        return broken(QString::fromUtf8(simdjson::error_message(code)));
    }
    // True when `e` is no error; else marks the text broken.
    bool check(error_code e) { return !e || broken(e); }

    // Null (read) gives absent; a value of type `want` is left to read, as is a value of any
    // other type (wrongType).
    Got kind(od::value &v, od::json_type want)
    {
        od::json_type type{};
        if (!check(v.type().get(type)))
            return Got::broken;
        if (type == want)
            return Got::value;
        if (type != od::json_type::null)
            return Got::wrongType;
        return readNull(v) ? Got::absent : Got::broken;
    }

    // The view lives as long as the document and the text.
    Got string(od::value &v, std::string_view *out)
    {
        const Got g = kind(v, od::json_type::string);
        if (g != Got::value)
            return g;
        // A string without escapes (most are: URLs, ids, Base64) is read where it lies, not
        // copied: its token is the quoted content, then perhaps blanks.
        std::string_view token = v.raw_json_token();
        while (token.size() > 1 && token.back() != '"')
            token.remove_suffix(1);
        od::raw_json_string raw;
        if (token.size() >= 2 && token.find('\\') == std::string_view::npos && check(v.get_raw_json_string().get(raw))) {
            *out = token.substr(1, token.size() - 2);
            return Got::value;
        }
        return check(v.get_string().get(*out)) ? Got::value : Got::broken;
    }

    Got number(od::value &v, double *out)
    {
        const Got g = kind(v, od::json_type::number);
        if (g != Got::value)
            return g;
        // simdjson checks the number; the value comes from from_chars, as simdjson 3.0's
        // On-Demand get_double rounds some numbers of more than 19 digits wrongly (it reads
        // 0.47843137254901800963 as 0.1094…). It also refuses a few numbers that are fine
        // ("0e999999", an exponent with many leading zeros): those are checked against the
        // grammar. A number too large or too small for a double is out of range (simdjson
        // would read a tiny one as zero).
        std::string_view token = v.raw_json_token();
        while (!token.empty() && isSpace(token.back()))
            token.remove_suffix(1);
        double unused = 0;
        const error_code e = v.get_double().get(unused);
        if (e && (e != simdjson::NUMBER_ERROR || !isJsonNumber(token)))
            return broken(e), Got::broken;
        const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), *out);
        if (ec == std::errc::result_out_of_range)
            return broken(QStringLiteral("number out of range")), Got::broken;
        if (ec != std::errc() || end != token.data() + token.size())
            return broken(simdjson::NUMBER_ERROR), Got::broken;
        return Got::value;
    }

    // An object or an array; false for any other value (a null is read, anything else is
    // left to read).
    bool object(od::value &v, od::object *out)
    {
        return kind(v, od::json_type::object) == Got::value && check(v.get_object().get(*out));
    }
    bool array(od::value &v, od::array *out)
    {
        return kind(v, od::json_type::array) == Got::value && check(v.get_array().get(*out));
    }
    bool rootArray(od::document &doc, od::array *out)
    {
        od::json_type type{};
        if (doc.type().get(type) || type != od::json_type::array)
            return broken(QStringLiteral("not a JSON array"));
        return check(doc.get_array().get(*out));
    }

    // Calls `f(key, value)` for each field in order, `f(value)` for each element; stops at
    // the first false.
    template <typename F>
    bool eachField(od::object &o, F &&f)
    {
        for (auto result : o) {
            od::field field;
            std::string_view key;
            if (!check(std::move(result).get(field)) || !check(field.unescaped_key().get(key)) || !f(key, field.value()))
                return false;
        }
        return true;
    }
    template <typename F>
    bool eachElement(od::array &a, F &&f)
    {
        for (auto result : a) {
            od::value element;
            if (!check(std::move(result).get(element)) || !f(element))
                return false;
        }
        return true;
    }

    // Reads a value we have no use for, checking it.
    bool skip(od::value &v, int depth = 0)
    {
        if (depth > kMaxDepth)
            return broken(QStringLiteral("nested too deeply"));
        od::json_type type{};
        if (!check(v.type().get(type)))
            return false;
        switch (type) {
        case od::json_type::object: {
            od::object o;
            return object(v, &o)
                && eachField(o, [&](std::string_view, od::value &field) { return skip(field, depth + 1); });
        }
        case od::json_type::array: {
            od::array a;
            return array(v, &a) && eachElement(a, [&](od::value &element) { return skip(element, depth + 1); });
        }
        case od::json_type::string: {
            std::string_view s;
            return string(v, &s) == Got::value;
        }
        case od::json_type::number: {
            double d = 0;
            return number(v, &d) == Got::value;
        }
        case od::json_type::boolean: {
            bool b = false;
            return check(v.get_bool().get(b));
        }
        case od::json_type::null:
            return readNull(v);
        }
        return false;
    }

private:
    static constexpr int kMaxDepth = 512;

    bool readNull(od::value &v)
    {
        bool isNull = false;
        return check(v.is_null().get(isNull)) && (isNull || broken(simdjson::N_ATOM_ERROR));
    }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    static bool isJsonNumber(std::string_view token)
    {
        const QRegularExpression number(QStringLiteral("\\A-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?\\z"));
        return number.match(QString::fromLatin1(token.data(), qsizetype(token.size()))).hasMatch();
    }

    od::document *m_doc;
    const char *m_base;
    QString m_error;
    bool m_sawStringError = false;
};

bool failed(Got g)
{
    return g == Got::wrongType || g == Got::broken;
}

bool parseUuidBytes(std::string_view raw, QUuid *out)
{
    const auto id = parseUuid(QLatin1StringView(raw.data(), qsizetype(raw.size())));
    if (id)
        *out = *id;
    return id.has_value();
}

bool parseUrlBytes(std::string_view raw, QUrl *out)
{
    if (raw.empty())
        return false;
    QUrl url = QUrl::fromEncoded(QByteArray::fromRawData(raw.data(), qsizetype(raw.size())), QUrl::TolerantMode);
    if (!url.isValid() || url.isEmpty())
        return false;
    *out = std::move(url);
    return true;
}

// Standard Base64 with padding; anything else is a decoding error.
bool parseBase64(std::string_view raw, QByteArray *out)
{
    // Qt's decoder takes a missing padding; ours does not.
    if (raw.size() % 4 != 0)
        return false;
    auto result = QByteArray::fromBase64Encoding(QByteArray::fromRawData(raw.data(), qsizetype(raw.size())),
                                                 QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return false;
    *out = std::move(*result);
    return true;
}

// A string value as the text it holds. QString::fromUtf8 drops a byte-order mark at the start
// of what it converts; inside a value, U+FEFF is a character like any other (a name pasted
// from another system can begin with one), and dropping it made every save lose one more.
QString text(std::string_view raw)
{
    const QByteArrayView bytes(raw.data(), qsizetype(raw.size()));
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes);
    QStringDecoder keepingMarks(QStringConverter::Utf8,
                                QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    return keepingMarks.decode(bytes);
}

template <typename E>
bool parseEnum(std::string_view raw, E *out)
{
    const auto v = enumFromRaw<E>(text(raw));
    if (!v)
        return false;
    *out = *v;
    return true;
}

// ---------------------------------------------------------------------------------------
// Record readers.

bool readColor(Reader &r, od::value &v, ShelfColorData *out)
{
    od::object o;
    if (!r.object(v, &o))
        return r.invalid("colorData");
    bool has[4] = {false, false, false, false};
    double c[4] = {0, 0, 0, 1};
    const bool ok = r.eachField(o, [&](std::string_view key, od::value &value) {
        const int i = key == "r" ? 0 : key == "g" ? 1 : key == "b" ? 2 : key == "a" ? 3 : -1;
        if (i < 0)
            return r.skip(value);
        if (r.number(value, &c[i]) != Got::value)
            return r.invalid(key);
        has[i] = true;
        return true;
    });
    if (!ok)
        return false;
    static const char *names[4] = {"r", "g", "b", "a"};
    for (int i = 0; i < 4; ++i)
        if (!has[i])
            return r.invalid(names[i]);
    *out = ShelfColorData{c[0], c[1], c[2], c[3]};
    return true;
}

// A window position, or nothing when the value is not an object with numeric "x" and "y"
// inside a sane range; only a broken text fails (`ok` false).
std::optional<ShelfWindowPosition> readWindowPosition(Reader &r, od::value &v, bool *ok)
{
    const Got what = r.kind(v, od::json_type::object);
    od::object o;
    if (what != Got::value || !r.object(v, &o)) {
        *ok = what == Got::absent || (what == Got::wrongType && r.skip(v));
        return std::nullopt;
    }
    bool hasX = false, hasY = false;
    ShelfWindowPosition pos;
    *ok = r.eachField(o, [&](std::string_view key, od::value &value) {
        double d = 0;
        std::string_view raw;
        if (key == "x" || key == "y") {
            const Got g = r.number(value, &d);
            if (g == Got::broken)
                return false;
            if (g != Got::value)
                return g == Got::absent || r.skip(value);
            const bool sane = std::isfinite(d) && std::abs(d) < 1e6;
            (key == "x" ? pos.x : pos.y) = sane ? int(std::lround(d)) : 0;
            (key == "x" ? hasX : hasY) = sane;
        } else if (key == "screen") {
            const Got g = r.string(value, &raw);
            if (g == Got::broken)
                return false;
            if (g != Got::value)
                return g == Got::absent || r.skip(value);
            pos.screen = text(raw);
        } else {
            return r.skip(value);
        }
        return true;
    });
    if (!*ok || !hasX || !hasY)
        return std::nullopt;
    return pos;
}

bool readFile(Reader &r, od::value &v, ShelfFile *out)
{
    od::object o;
    if (!r.object(v, &o))
        return r.invalid("files");
    bool hasId = false, hasUrl = false;
    const bool ok = r.eachField(o, [&](std::string_view key, od::value &value) {
        std::string_view raw;
        if (key == "id") {
            const Got g = r.string(value, &raw);
            if (failed(g) || (g == Got::value && !parseUuidBytes(raw, &out->id)))
                return r.invalid("id");
            hasId = g == Got::value;
        } else if (key == "url") {
            const Got g = r.string(value, &raw);
            if (failed(g) || (g == Got::value && !parseUrlBytes(raw, &out->url)))
                return r.invalid("url");
            hasUrl = g == Got::value;
        } else if (key == "sourceURL") {
            const Got g = r.string(value, &raw);
            if (failed(g) || (g == Got::value && !parseUrlBytes(raw, &out->sourceURL)))
                return r.invalid("sourceURL");
            if (g == Got::absent)
                out->sourceURL.clear();
        } else if (key == "bookmarkData") {
            const Got g = r.string(value, &raw);
            if (failed(g) || (g == Got::value && !parseBase64(raw, &out->bookmarkData)))
                return r.invalid("bookmarkData");
            if (g == Got::absent)
                out->bookmarkData.clear();
        } else {
            return r.skip(value);
        }
        return true;
    });
    if (!ok)
        return false;
    if (!hasId)
        return r.invalid("id");
    if (!hasUrl)
        return r.invalid("url");
    return true;
}

bool readDestination(Reader &r, od::value &v, ShelfFavoriteDestination *out)
{
    od::object o;
    if (!r.object(v, &o))
        return r.invalid("destination");
    bool hasPath = false;
    const bool ok = r.eachField(o, [&](std::string_view key, od::value &value) {
        std::string_view raw;
        if (key == "path") {
            const Got g = r.string(value, &raw);
            if (failed(g))
                return r.invalid("path");
            hasPath = g == Got::value;
            out->path = text(raw);
        } else if (key == "bookmarkData") {
            const Got g = r.string(value, &raw);
            if (failed(g) || (g == Got::value && !parseBase64(raw, &out->bookmarkData)))
                return r.invalid("bookmarkData");
            if (g == Got::absent)
                out->bookmarkData.clear();
        } else {
            return r.skip(value);
        }
        return true;
    });
    if (!ok)
        return false;
    if (!hasPath)
        return r.invalid("path");
    return true;
}

bool readFavorite(Reader &r, od::value &v, ShelfFavoriteAction *out)
{
    od::object o;
    if (!r.object(v, &o))
        return r.invalid("favorites");
    bool hasId = false, hasTool = false, hasPreset = false, hasName = false, hasScope = false;
    std::optional<std::string_view> mode;
    const bool ok = r.eachField(o, [&](std::string_view key, od::value &value) {
        std::string_view raw;
        if (key == "id") {
            const Got g = r.string(value, &raw);
            if (failed(g) || (g == Got::value && !parseUuidBytes(raw, &out->id)))
                return r.invalid("id");
            hasId = g == Got::value;
        } else if (key == "tool") {
            if (r.string(value, &raw) != Got::value || !parseEnum(raw, &out->tool))
                return r.invalid("tool");
            hasTool = true;
        } else if (key == "presetID") {
            if (r.string(value, &raw) != Got::value || !parseUuidBytes(raw, &out->presetID))
                return r.invalid("presetID");
            hasPreset = true;
        } else if (key == "presetName") {
            if (r.string(value, &raw) != Got::value)
                return r.invalid("presetName");
            out->presetName = text(raw);
            hasName = true;
        } else if (key == "scope") {
            const Got g = r.string(value, &raw);
            if (failed(g) || (g == Got::value && !parseEnum(raw, &out->scope)))
                return r.invalid("scope");
            hasScope = g == Got::value;
        } else if (key == "destinationMode") {
            const Got g = r.string(value, &raw);
            if (failed(g))
                return r.invalid("destinationMode");
            mode = g == Got::value ? std::optional(raw) : std::nullopt;
        } else if (key == "destination") {
            const Got g = r.kind(value, od::json_type::object);
            if (g == Got::broken)
                return false;
            if (g == Got::absent) {
                out->destination.reset();
                return true;
            }
            ShelfFavoriteDestination d;
            if (!readDestination(r, value, &d))
                return false;
            out->destination = std::move(d);
        } else if (key == "customLabel") {
            const Got g = r.string(value, &raw);
            if (failed(g))
                return r.invalid("customLabel");
            out->customLabel = g == Got::value ? std::optional(text(raw)) : std::nullopt;
        } else {
            return r.skip(value);
        }
        return true;
    });
    if (!ok)
        return false;
    if (!hasTool)
        return r.invalid("tool");
    if (!hasPreset)
        return r.invalid("presetID");
    if (!hasName)
        return r.invalid("presetName");
    if (!hasId)
        out->id = QUuid::createUuid();
    if (!hasScope)
        out->scope = ShelfFavoriteScope::selectionOrAll;
    out->destinationMode = mode ? destinationModeFromRaw(text(*mode)) : defaultDestinationMode(out->tool);
    return true;
}

bool readShelfFields(Reader &r, od::object &o, Shelf *out)
{
    bool hasId = false, hasName = false, hasColor = false, hasIcon = false, hasFolder = false, hasFiles = false;
    const bool ok = r.eachField(o, [&](std::string_view key, od::value &value) {
        std::string_view raw;
        if (key == "id") {
            if (r.string(value, &raw) != Got::value || !parseUuidBytes(raw, &out->id))
                return r.invalid("id");
            hasId = true;
        } else if (key == "name") {
            if (r.string(value, &raw) != Got::value)
                return r.invalid("name");
            out->name = text(raw);
            hasName = true;
        } else if (key == "colorData") {
            if (!readColor(r, value, &out->colorData))
                return false;
            hasColor = true;
        } else if (key == "icon") {
            if (r.string(value, &raw) != Got::value)
                return r.invalid("icon");
            out->icon = text(raw);
            hasIcon = true;
        } else if (key == "folderURL") {
            if (r.string(value, &raw) != Got::value || !parseUrlBytes(raw, &out->folderURL))
                return r.invalid("folderURL");
            hasFolder = true;
        } else if (key == "files") {
            od::array files;
            if (!r.array(value, &files))
                return r.invalid("files");
            out->files.clear();
            if (!r.eachElement(files, [&](od::value &element) {
                    ShelfFile f;
                    if (!readFile(r, element, &f))
                        return false;
                    out->files.append(std::move(f));
                    return true;
                }))
                return false;
            hasFiles = true;
        } else if (key == "favorites") {
            out->favorites.clear();
            const Got g = r.kind(value, od::json_type::array);
            if (g == Got::absent)
                return true;
            od::array favorites;
            if (g != Got::value || !r.array(value, &favorites))
                return r.invalid("favorites");
            return r.eachElement(favorites, [&](od::value &element) {
                ShelfFavoriteAction f;
                if (!readFavorite(r, element, &f))
                    return false;
                out->favorites.append(std::move(f));
                return true;
            });
        } else if (key == "favoriteButtonDisplayMode") {
            const Got g = r.string(value, &raw);
            if (failed(g) || (g == Got::value && !parseEnum(raw, &out->favoriteButtonDisplayMode)))
                return r.invalid("favoriteButtonDisplayMode");
            if (g == Got::absent)
                out->favoriteButtonDisplayMode = ShelfFavoriteButtonDisplayMode::iconAndName;
        } else if (key == "windowPosition") {
            // Read leniently: a position that cannot be used is no position.
            bool positionOk = true;
            out->windowPosition = readWindowPosition(r, value, &positionOk);
            return positionOk;
        } else if (key == "tuckedEdge" || key == "tuckedScreenID" || key == "tuckedScreenName") {
            // Read leniently: anything unusable means "not tucked", never a failure.
            const Got g = r.string(value, &raw);
            if (g == Got::broken || (g == Got::wrongType && !r.skip(value)))
                return false;
            const std::optional<QString> stored = g == Got::value ? std::optional(text(raw)) : std::nullopt;
            if (key == "tuckedEdge")
                out->tuckedEdge = stored ? enumFromRaw<TuckEdge>(*stored) : std::nullopt;
            else if (key == "tuckedScreenID")
                out->tuckedScreenID = stored;
            else
                out->tuckedScreenName = stored;
        } else {
            return r.skip(value);
        }
        return true;
    });
    if (!ok)
        return false;
    const std::pair<bool, const char *> required[] = {{hasId, "id"},         {hasName, "name"},
                                                      {hasColor, "colorData"}, {hasIcon, "icon"},
                                                      {hasFolder, "folderURL"}, {hasFiles, "files"}};
    for (const auto &[has, name] : required)
        if (!has)
            return r.invalid(name);
    return true;
}

bool readShelf(Reader &r, od::value &v, Shelf *out)
{
    od::object o;
    return r.object(v, &o) ? readShelfFields(r, o, out) : r.invalid("shelf");
}

// ---------------------------------------------------------------------------------------
// Documents.

struct Outcome {
    bool ok = false;
    QString error;
    bool notUtf8 = false;     // the text is not UTF-8
    bool stringError = false; // a string was refused (perhaps for a lone surrogate escape)
};

// Reads the JSON text at [begin, begin + length) of `text` with `read(reader, document)`,
// which must read all of it.
template <typename F>
Outcome readDocument(od::parser &parser, const Text &text, const char *begin, size_t length, F read)
{
    od::document doc;
    const error_code started = parser.iterate(begin, length, text.capacityFrom(begin)).get(doc);
    Reader r(started ? nullptr : &doc, text.begin());
    Outcome out;
    if (started == simdjson::EMPTY)
        r.broken(QStringLiteral("empty document"));
    else if (started)
        r.broken(started);
    else if (read(r, doc))
        out.ok = doc.current_location().error() // nothing follows the value
            || r.broken(QStringLiteral("unexpected text after the value"));
    out.error = r.error();
    out.notUtf8 = started == simdjson::UTF8_ERROR;
    out.stringError = r.sawStringError();
    return out;
}

template <typename F>
Outcome readDocument(const Text &text, F read)
{
    od::parser parser;
    return readDocument(parser, text, text.begin(), text.view().length(), read);
}

// Runs `attempt` (a reading of `text`); when that failed on something simdjson refuses but
// our files have always been read with, repairs the text (see Text) and runs it again.
template <typename F>
Outcome withRepairs(Text &text, F attempt)
{
    Outcome out = attempt();
    if (!out.ok && out.notUtf8) {
        text.replaceInvalidUtf8();
        out = attempt();
    }
    if (!out.ok && out.stringError && text.replaceLoneSurrogateEscapes())
        out = attempt();
    return out;
}

// The shelf list: first where each shelf lies (a quick pass over the list's own structure),
// then the shelves, side by side when there is enough to do.
Outcome readShelves(const Text &text, QList<Shelf> *out)
{
    // A parser's buffers are sized to its largest text; fresh memory costs a page fault per
    // page, so each thread keeps one parser for all its shelves (the first takes over the
    // list's).
    od::parser listParser;
    QList<std::string_view> spans;
    const Outcome list = readDocument(listParser, text, text.begin(), text.view().length(),
                                      [&spans](Reader &r, od::document &doc) {
        od::array shelves;
        return r.rootArray(doc, &shelves) && r.eachElement(shelves, [&](od::value &v) {
            od::object o;
            std::string_view raw;
            if (!r.object(v, &o))
                return r.invalid("shelf");
            if (!r.check(o.raw_json().get(raw)))
                return false;
            spans.append(raw);
            return true;
        });
    });
    if (!list.ok)
        return list;

    out->clear();
    out->resize(spans.size());
    QList<Outcome> results(spans.size());
    // Each shelf has a slot of its own; each thread takes the next shelf nobody has taken.
    Shelf *shelves = out->data();
    Outcome *outcomes = results.data();
    std::atomic<qsizetype> next = 0;
    const auto work = [&](od::parser &parser) {
        for (qsizetype i = next++; i < spans.size(); i = next++) {
            const std::string_view span = spans.at(i);
            outcomes[i] = readDocument(parser, text, span.data(), span.size(), [&](Reader &r, od::document &doc) {
                od::object o;
                return r.check(doc.get_object().get(o)) && readShelfFields(r, o, &shelves[i]);
            });
        }
    };
    constexpr size_t kParallelBytes = 1 << 20;
    const int threads = spans.size() > 1 && text.view().length() >= kParallelBytes
        ? int(std::min<qsizetype>(QThread::idealThreadCount(), spans.size()))
        : 1;
    if (threads == 1) {
        work(listParser);
    } else {
        QList<int> workers(threads);
        std::iota(workers.begin(), workers.end(), 0);
        QtConcurrent::blockingMap(workers, [&](int worker) {
            od::parser parser;
            work(worker == 0 ? listParser : parser);
        });
    }
    for (const Outcome &result : std::as_const(results))
        if (!result.ok)
            return result;
    return list;
}

// One record, read from the bytes of a QJsonValue as the one element of an array.
template <typename T, typename F>
std::optional<T> readValue(const QByteArray &json, F read, QString *error)
{
    Text text('[' + json + ']', 0);
    T value{};
    const Outcome outcome = withRepairs(text, [&] {
        return readDocument(text, [&](Reader &r, od::document &doc) {
            od::array array;
            value = T{};
            return r.rootArray(doc, &array) && r.eachElement(array, [&](od::value &v) { return read(r, v, &value); });
        });
    });
    if (!outcome.ok) {
        if (error)
            *error = outcome.error;
        return std::nullopt;
    }
    return value;
}

// The QJsonValue entry points go through the byte reader too.
QByteArray jsonBytes(const QJsonValue &value)
{
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    if (value.isString())
        return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).mid(1);
    return value.isNull() ? QByteArrayLiteral("null") : QByteArrayLiteral("0");
}

// ---------------------------------------------------------------------------------------
// Writer.

class Writer
{
public:
    QByteArray out;

    void raw(const char *s) { out.append(s); }
    void raw(char c) { out.append(c); }

    void string(const QByteArray &utf8)
    {
        out.append('"');
        const char *p = utf8.constData();
        const char *end = p + utf8.size();
        const char *run = p;
        for (; p < end; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c >= 0x20 && c != '"' && c != '\\')
                continue;
            out.append(run, p - run);
            switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '\t': out.append("\\t"); break;
            case '\b': out.append("\\b"); break;
            case '\f': out.append("\\f"); break;
            default: {
                static const char hex[] = "0123456789abcdef";
                const char esc[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                out.append(esc, 6);
            }
            }
            run = p + 1;
        }
        out.append(run, end - run);
        out.append('"');
    }
    void string(const QString &s) { string(s.toUtf8()); }
    void uuid(const QUuid &id)
    {
        static const char hex[] = "0123456789ABCDEF";
        const QByteArray bytes = id.toRfc4122();
        char buf[38];
        int n = 0;
        buf[n++] = '"';
        for (int i = 0; i < 16; ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10)
                buf[n++] = '-';
            const unsigned char b = static_cast<unsigned char>(bytes[i]);
            buf[n++] = hex[b >> 4];
            buf[n++] = hex[b & 15];
        }
        buf[n++] = '"';
        out.append(buf, n);
    }
    void url(const QUrl &u) { string(u.toEncoded()); }
    void base64(const QByteArray &bytes)
    {
        out.append('"');
        out.append(bytes.toBase64());
        out.append('"');
    }
    void number(double v)
    {
        if (!std::isfinite(v))
            v = 0; // JSON has no form for these
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out.append(buf, r.ptr - buf);
    }
    void key(const char *k)
    {
        out.append('"');
        out.append(k);
        out.append("\":");
    }
};

void write(Writer &w, const ShelfColorData &c)
{
    w.raw("{\"r\":");
    w.number(c.r);
    w.raw(",\"g\":");
    w.number(c.g);
    w.raw(",\"b\":");
    w.number(c.b);
    w.raw(",\"a\":");
    w.number(c.a);
    w.raw('}');
}

void write(Writer &w, const ShelfFile &f)
{
    w.raw("{\"id\":");
    w.uuid(f.id);
    w.raw(",\"url\":");
    w.url(f.url);
    if (!f.sourceURL.isEmpty()) {
        w.raw(",\"sourceURL\":");
        w.url(f.sourceURL);
    }
    if (!f.bookmarkData.isEmpty()) {
        w.raw(",\"bookmarkData\":");
        w.base64(f.bookmarkData);
    }
    w.raw('}');
}

void write(Writer &w, const ShelfFavoriteDestination &d)
{
    w.raw("{\"path\":");
    w.string(d.path);
    if (!d.bookmarkData.isEmpty()) {
        w.raw(",\"bookmarkData\":");
        w.base64(d.bookmarkData);
    }
    w.raw('}');
}

void write(Writer &w, const ShelfFavoriteAction &f)
{
    w.raw("{\"id\":");
    w.uuid(f.id);
    w.raw(",\"tool\":");
    w.string(rawValue(f.tool));
    w.raw(",\"presetID\":");
    w.uuid(f.presetID);
    w.raw(",\"presetName\":");
    w.string(f.presetName);
    w.raw(",\"scope\":");
    w.string(rawValue(f.scope));
    w.raw(",\"destinationMode\":");
    w.string(rawValue(f.destinationMode));
    if (f.destination) {
        w.raw(",\"destination\":");
        write(w, *f.destination);
    }
    if (f.customLabel) {
        w.raw(",\"customLabel\":");
        w.string(*f.customLabel);
    }
    w.raw('}');
}

void write(Writer &w, const Shelf &s)
{
    w.raw("{\"id\":");
    w.uuid(s.id);
    w.raw(",\"name\":");
    w.string(s.name);
    w.raw(",\"colorData\":");
    write(w, s.colorData);
    w.raw(",\"icon\":");
    w.string(s.icon);
    w.raw(",\"folderURL\":");
    w.url(s.folderURL);
    w.raw(",\"files\":[");
    for (qsizetype i = 0; i < s.files.size(); ++i) {
        if (i)
            w.raw(',');
        write(w, s.files[i]);
    }
    w.raw("],\"favorites\":[");
    for (qsizetype i = 0; i < s.favorites.size(); ++i) {
        if (i)
            w.raw(',');
        write(w, s.favorites[i]);
    }
    w.raw("],\"favoriteButtonDisplayMode\":");
    w.string(rawValue(s.favoriteButtonDisplayMode));
    if (s.tuckedEdge) {
        w.raw(",\"tuckedEdge\":");
        w.string(rawValue(*s.tuckedEdge));
    }
    if (s.tuckedScreenID) {
        w.raw(",\"tuckedScreenID\":");
        w.string(*s.tuckedScreenID);
    }
    if (s.tuckedScreenName) {
        w.raw(",\"tuckedScreenName\":");
        w.string(*s.tuckedScreenName);
    }
    if (s.windowPosition) {
        w.raw(",\"windowPosition\":{\"x\":");
        w.raw(QByteArray::number(s.windowPosition->x).constData());
        w.raw(",\"y\":");
        w.raw(QByteArray::number(s.windowPosition->y).constData());
        w.raw(",\"screen\":");
        w.string(s.windowPosition->screen);
        w.raw('}');
    }
    w.raw('}');
}

template <typename T>
QJsonObject toObject(const T &value)
{
    Writer w;
    write(w, value);
    return QJsonDocument::fromJson(w.out).object();
}

} // namespace

// ---- public entry points ----

QJsonObject encode(const ShelfColorData &color) { return toObject(color); }
QJsonObject encode(const ShelfFile &file) { return toObject(file); }
QJsonObject encode(const ShelfFavoriteDestination &destination) { return toObject(destination); }
QJsonObject encode(const ShelfFavoriteAction &favorite) { return toObject(favorite); }
QJsonObject encode(const Shelf &shelf) { return toObject(shelf); }

std::optional<ShelfColorData> decodeColor(const QJsonValue &value, QString *error)
{
    return readValue<ShelfColorData>(jsonBytes(value), readColor, error);
}

std::optional<ShelfFile> decodeFile(const QJsonValue &value, QString *error)
{
    return readValue<ShelfFile>(jsonBytes(value), readFile, error);
}

std::optional<ShelfFavoriteDestination> decodeDestination(const QJsonValue &value, QString *error)
{
    return readValue<ShelfFavoriteDestination>(jsonBytes(value), readDestination, error);
}

std::optional<ShelfFavoriteAction> decodeFavorite(const QJsonValue &value, QString *error)
{
    return readValue<ShelfFavoriteAction>(jsonBytes(value), readFavorite, error);
}

std::optional<Shelf> decodeShelf(const QJsonValue &value, QString *error)
{
    return readValue<Shelf>(jsonBytes(value), readShelf, error);
}

QByteArray encodeShelves(const QList<Shelf> &shelves)
{
    Writer w;
    qsizetype files = 0;
    for (const Shelf &s : shelves)
        files += s.files.size();
    w.out.reserve(256 + shelves.size() * 512 + files * 256);
    w.raw('[');
    for (qsizetype i = 0; i < shelves.size(); ++i) {
        if (i)
            w.raw(',');
        write(w, shelves[i]);
    }
    w.raw(']');
    return w.out;
}

std::optional<QList<Shelf>> decodeShelves(QByteArrayView json, QString *error, qsizetype readableAfterEnd)
{
    Text text(json, readableAfterEnd);
    QList<Shelf> shelves;
    const Outcome outcome = withRepairs(text, [&] { return readShelves(text, &shelves); });
    if (!outcome.ok) {
        if (error)
            *error = outcome.error;
        return std::nullopt;
    }
    return shelves;
}

QByteArray encodeIdSet(const QSet<QUuid> &ids)
{
    Writer w;
    w.raw('[');
    bool first = true;
    for (const QUuid &id : ids) {
        if (!first)
            w.raw(',');
        first = false;
        w.uuid(id);
    }
    w.raw(']');
    return w.out;
}

std::optional<QSet<QUuid>> decodeIdSet(const QByteArray &json)
{
    Text text(json, 0);
    QSet<QUuid> ids;
    const Outcome outcome = withRepairs(text, [&] {
        ids.clear();
        return readDocument(text, [&ids](Reader &r, od::document &doc) {
            od::array array;
            return r.rootArray(doc, &array) && r.eachElement(array, [&](od::value &v) {
                // Strings that are not ids are skipped, as is anything else.
                std::string_view raw;
                QUuid id;
                const Got g = r.string(v, &raw);
                if (g == Got::value && parseUuidBytes(raw, &id))
                    ids.insert(id);
                return g == Got::wrongType ? r.skip(v) : g != Got::broken;
            });
        });
    });
    if (!outcome.ok)
        return std::nullopt;
    return ids;
}

} // namespace ShelfJson
