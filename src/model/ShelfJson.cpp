#include "model/ShelfJson.h"

#include "model/ShelfFolder.h"
#include "platform/FilePath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtConcurrent/QtConcurrentMap>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>

// "shelves.json" holds every file of every shelf, easily a hundred thousand entries, and it
// is read at start-up. The reader and writer below work directly on the UTF-8 bytes (no
// document tree, no intermediate QString for URLs), which keeps loading well under a
// quarter of a second for such a list. The QJsonObject entry points are thin conversions
// over the same code, so there is one set of reading rules.

namespace ShelfJson {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// ---------------------------------------------------------------------------------------
// Reader: a strict JSON pull reader over a byte range.

class Reader
{
public:
    Reader(const char *begin, const char *end) : m_p(begin), m_end(end) {}

    bool ok() const { return !m_failed; }
    QString error() const { return m_error; }

    bool fail(const QString &message)
    {
        if (!m_failed) {
            m_failed = true;
            m_error = message;
        }
        return false;
    }

    char peek()
    {
        skipSpace();
        return m_p < m_end ? *m_p : '\0';
    }

    bool atEnd()
    {
        skipSpace();
        return m_p == m_end;
    }

    bool isNull() { return peek() == 'n'; }

    // The position of the next token.
    const char *position()
    {
        skipSpace();
        return m_p;
    }

    bool readNull() { return literal("null"); }

    bool beginArray() { return consume('[', "expected an array"); }
    bool beginObject() { return consume('{', "expected an object"); }

    // Element loop of an array: true while there is another element.
    bool nextElement(bool *first)
    {
        if (m_failed)
            return false;
        const char c = peek();
        if (c == ']') {
            ++m_p;
            return false;
        }
        if (!*first && !consume(',', "expected ',' or ']'"))
            return false;
        *first = false;
        if (peek() == ']')
            return fail(QStringLiteral("trailing comma"));
        return true;
    }

    // Key loop of an object: true while there is another key (stored in `key`, unescaped).
    bool nextKey(bool *first, QByteArray *key)
    {
        if (m_failed)
            return false;
        const char c = peek();
        if (c == '}') {
            ++m_p;
            return false;
        }
        if (!*first && !consume(',', "expected ',' or '}'"))
            return false;
        *first = false;
        if (peek() != '"')
            return fail(QStringLiteral("expected a key"));
        if (!readString(key))
            return false;
        return consume(':', "expected ':'");
    }

    // A string's content, unescaped, as UTF-8. Without escapes the bytes are not copied:
    // the result then points into the source and must not outlive it.
    bool readString(QByteArray *out)
    {
        if (!consume('"', "expected a string"))
            return false;
        const char *start = m_p;
        bool escaped = false;
        while (m_p < m_end) {
            const unsigned char c = static_cast<unsigned char>(*m_p);
            if (c == '"')
                break;
            if (c < 0x20)
                return fail(QStringLiteral("control character in a string"));
            if (c == '\\') {
                escaped = true;
                if (++m_p == m_end)
                    break;
            }
            ++m_p;
        }
        if (m_p >= m_end)
            return fail(QStringLiteral("unterminated string"));
        const char *stop = m_p++;
        if (!escaped) {
            *out = QByteArray::fromRawData(start, stop - start);
            return true;
        }
        return unescape(start, stop, out);
    }

    bool readNumber(double *out)
    {
        skipSpace();
        const char *start = m_p;
        const char *p = m_p;
        if (p < m_end && *p == '-')
            ++p;
        if (p == m_end || !isDigit(*p))
            return fail(QStringLiteral("expected a number"));
        if (*p == '0')
            ++p;
        else
            while (p < m_end && isDigit(*p))
                ++p;
        if (p < m_end && *p == '.') {
            ++p;
            if (p == m_end || !isDigit(*p))
                return fail(QStringLiteral("bad number"));
            while (p < m_end && isDigit(*p))
                ++p;
        }
        if (p < m_end && (*p == 'e' || *p == 'E')) {
            ++p;
            if (p < m_end && (*p == '+' || *p == '-'))
                ++p;
            if (p == m_end || !isDigit(*p))
                return fail(QStringLiteral("bad number"));
            while (p < m_end && isDigit(*p))
                ++p;
        }
        const auto result = std::from_chars(start, p, *out);
        if (result.ec == std::errc::result_out_of_range)
            return fail(QStringLiteral("number out of range"));
        if (result.ec != std::errc() || result.ptr != p)
            return fail(QStringLiteral("bad number"));
        m_p = p;
        return true;
    }

    // Skips any value (checking its syntax).
    bool skipValue(int depth = 0)
    {
        if (depth > kMaxDepth)
            return fail(QStringLiteral("nested too deeply"));
        switch (peek()) {
        case '{': {
            ++m_p;
            bool first = true;
            QByteArray key;
            while (nextKey(&first, &key))
                if (!skipValue(depth + 1))
                    return false;
            return ok();
        }
        case '[': {
            ++m_p;
            bool first = true;
            while (nextElement(&first))
                if (!skipValue(depth + 1))
                    return false;
            return ok();
        }
        case '"': {
            QByteArray s;
            return readString(&s);
        }
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default: {
            double d;
            return readNumber(&d);
        }
        }
    }

private:
    static constexpr int kMaxDepth = 512;

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    void skipSpace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    bool consume(char c, const char *message)
    {
        if (peek() != c)
            return fail(QString::fromLatin1(message));
        ++m_p;
        return true;
    }

    bool literal(const char *word)
    {
        skipSpace();
        const size_t n = std::strlen(word);
        if (size_t(m_end - m_p) < n || std::memcmp(m_p, word, n) != 0)
            return fail(QStringLiteral("unexpected character"));
        m_p += n;
        return true;
    }

    static bool hex4(const char *p, const char *end, char32_t *out)
    {
        if (end - p < 4)
            return false;
        char32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hexDigit(p[i]);
            if (h < 0)
                return false;
            v = (v << 4) | char32_t(h);
        }
        *out = v;
        return true;
    }

    static void appendUtf8(QByteArray *out, char32_t cp)
    {
        if (cp < 0x80) {
            out->append(char(cp));
        } else if (cp < 0x800) {
            out->append(char(0xC0 | (cp >> 6)));
            out->append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->append(char(0xE0 | (cp >> 12)));
            out->append(char(0x80 | ((cp >> 6) & 0x3F)));
            out->append(char(0x80 | (cp & 0x3F)));
        } else {
            out->append(char(0xF0 | (cp >> 18)));
            out->append(char(0x80 | ((cp >> 12) & 0x3F)));
            out->append(char(0x80 | ((cp >> 6) & 0x3F)));
            out->append(char(0x80 | (cp & 0x3F)));
        }
    }

    bool unescape(const char *p, const char *end, QByteArray *out)
    {
        QByteArray s;
        s.reserve(end - p);
        while (p < end) {
            if (*p != '\\') {
                s.append(*p++);
                continue;
            }
            ++p; // the string scan guarantees a character after the backslash
            const char e = *p++;
            switch (e) {
            case '"': s.append('"'); break;
            case '\\': s.append('\\'); break;
            case '/': s.append('/'); break;
            case 'b': s.append('\b'); break;
            case 'f': s.append('\f'); break;
            case 'n': s.append('\n'); break;
            case 'r': s.append('\r'); break;
            case 't': s.append('\t'); break;
            case 'u': {
                char32_t cp;
                if (!hex4(p, end, &cp))
                    return fail(QStringLiteral("bad \\u escape"));
                p += 4;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    char32_t low;
                    if (end - p >= 6 && p[0] == '\\' && p[1] == 'u' && hex4(p + 2, end, &low) && low >= 0xDC00
                        && low <= 0xDFFF) {
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        p += 6;
                    } else {
                        cp = 0xFFFD; // a lone surrogate
                    }
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    cp = 0xFFFD;
                }
                appendUtf8(&s, cp);
                break;
            }
            default:
                return fail(QStringLiteral("bad escape"));
            }
        }
        *out = std::move(s);
        return true;
    }

    const char *m_p;
    const char *m_end;
    bool m_failed = false;
    QString m_error;
};

// ---------------------------------------------------------------------------------------
// Field readers. Each reads the value at the cursor. "Optional" readers treat null as
// absent; a value of the wrong type fails the record.

enum class Got { absent, value, wrongType };

Got readOptionalString(Reader &r, QByteArray *raw)
{
    const char c = r.peek();
    if (c == 'n')
        return r.readNull() ? Got::absent : Got::wrongType;
    if (c != '"')
        return Got::wrongType;
    return r.readString(raw) ? Got::value : Got::wrongType;
}

// The canonical 8-4-4-4-12 form, either case, straight from the bytes.
bool parseUuidBytes(const QByteArray &raw, QUuid *out)
{
    if (raw.size() != 36)
        return false;
    char bytes[16];
    int n = 0;
    for (int i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (raw[i] != '-')
                return false;
            ++i;
            continue;
        }
        const int hi = hexDigit(raw[i]), lo = hexDigit(raw[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[n++] = char((hi << 4) | lo);
        i += 2;
    }
    *out = QUuid::fromRfc4122(QByteArrayView(bytes, 16));
    return true;
}

bool parseUrlBytes(const QByteArray &raw, QUrl *out)
{
    if (raw.isEmpty())
        return false;
    QUrl url = QUrl::fromEncoded(raw, QUrl::TolerantMode);
    if (!url.isValid() || url.isEmpty())
        return false;
    *out = std::move(url);
    return true;
}

// Standard Base64 with padding; anything else is a decoding error.
bool parseBase64(const QByteArray &raw, QByteArray *out)
{
    static const auto table = [] {
        std::array<signed char, 256> t {};
        t.fill(-1);
        const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            t[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
        return t;
    }();
    const qsizetype n = raw.size();
    if (n % 4 != 0)
        return false;
    if (n == 0) {
        out->clear();
        return true;
    }
    const int padding = raw[n - 1] == '=' ? (raw[n - 2] == '=' ? 2 : 1) : 0;
    QByteArray result(n / 4 * 3 - padding, Qt::Uninitialized);
    char *dst = result.data();
    const auto *src = reinterpret_cast<const unsigned char *>(raw.constData());
    qsizetype o = 0;
    for (qsizetype i = 0; i < n; i += 4) {
        const bool last = i + 4 == n;
        int v[4];
        for (int k = 0; k < 4; ++k) {
            if (last && k >= 4 - padding) {
                v[k] = 0;
                continue;
            }
            v[k] = table[src[i + k]];
            if (v[k] < 0)
                return false;
        }
        const quint32 triple = (quint32(v[0]) << 18) | (quint32(v[1]) << 12) | (quint32(v[2]) << 6) | quint32(v[3]);
        if (o < result.size())
            dst[o++] = char(triple >> 16);
        if (o < result.size())
            dst[o++] = char((triple >> 8) & 0xFF);
        if (o < result.size())
            dst[o++] = char(triple & 0xFF);
    }
    *out = std::move(result);
    return true;
}

// `key` may be a key read from the document: a view into its bytes, with no NUL after it.
QString invalid(QByteArrayView key)
{
    return QStringLiteral("missing or invalid \"%1\"").arg(QString::fromUtf8(key));
}

// Marks the record failed unless the reader already holds a syntax error.
bool failKey(Reader &r, QString *error, QByteArrayView key)
{
    if (error && r.ok())
        *error = invalid(key);
    else if (error)
        *error = r.error();
    return false;
}

// ---------------------------------------------------------------------------------------
// Record readers.

bool readColor(Reader &r, ShelfColorData *out, QString *error)
{
    if (r.peek() != '{')
        return failKey(r, error, "colorData");
    r.beginObject();
    bool first = true, has[4] = {false, false, false, false};
    double c[4] = {0, 0, 0, 1};
    QByteArray key;
    while (r.nextKey(&first, &key)) {
        int i = -1;
        if (key.size() == 1)
            i = key == "r" ? 0 : key == "g" ? 1 : key == "b" ? 2 : key == "a" ? 3 : -1;
        if (i < 0) {
            if (!r.skipValue())
                return failKey(r, error, "colorData");
            continue;
        }
        const char p = r.peek();
        if (!(p == '-' || (p >= '0' && p <= '9')) || !r.readNumber(&c[i]))
            return failKey(r, error, key);
        has[i] = true;
    }
    if (!r.ok())
        return failKey(r, error, "colorData");
    static const char *names[4] = {"r", "g", "b", "a"};
    for (int i = 0; i < 4; ++i)
        if (!has[i])
            return failKey(r, error, names[i]);
    *out = ShelfColorData{c[0], c[1], c[2], c[3]};
    return true;
}

// A window position, or nothing when the value is not an object with numeric "x" and "y"
// inside a sane range; only a broken document leaves the reader failed.
std::optional<ShelfWindowPosition> readWindowPosition(Reader &r)
{
    if (r.peek() != '{') {
        r.skipValue();
        return std::nullopt;
    }
    r.beginObject();
    bool first = true, hasX = false, hasY = false;
    ShelfWindowPosition pos;
    QByteArray key, raw;
    while (r.nextKey(&first, &key)) {
        const char p = r.peek();
        if ((key == "x" || key == "y") && (p == '-' || (p >= '0' && p <= '9'))) {
            double v = 0;
            if (!r.readNumber(&v))
                return std::nullopt;
            const bool sane = std::isfinite(v) && std::abs(v) < 1e6;
            (key == "x" ? pos.x : pos.y) = sane ? int(std::lround(v)) : 0;
            (key == "x" ? hasX : hasY) = sane;
        } else if (key == "screen" && p == '"') {
            if (!r.readString(&raw))
                return std::nullopt;
            pos.screen = QString::fromUtf8(raw);
        } else if (!r.skipValue()) {
            return std::nullopt;
        }
    }
    if (!r.ok() || !hasX || !hasY)
        return std::nullopt;
    return pos;
}

bool readFile(Reader &r, ShelfFile *out, QString *error)
{
    if (r.peek() != '{')
        return failKey(r, error, "files");
    r.beginObject();
    bool first = true, hasId = false, hasUrl = false;
    QByteArray key, raw;
    while (r.nextKey(&first, &key)) {
        if (key == "id") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType || (g == Got::value && !parseUuidBytes(raw, &out->id)))
                return failKey(r, error, "id");
            hasId = g == Got::value;
        } else if (key == "url") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType || (g == Got::value && !parseUrlBytes(raw, &out->url)))
                return failKey(r, error, "url");
            hasUrl = g == Got::value;
        } else if (key == "sourceURL") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType || (g == Got::value && !parseUrlBytes(raw, &out->sourceURL)))
                return failKey(r, error, "sourceURL");
            if (g == Got::absent)
                out->sourceURL.clear();
        } else if (key == "bookmarkData") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType || (g == Got::value && !parseBase64(raw, &out->bookmarkData)))
                return failKey(r, error, "bookmarkData");
            if (g == Got::absent)
                out->bookmarkData.clear();
        } else if (!r.skipValue()) {
            return failKey(r, error, "files");
        }
    }
    if (!r.ok())
        return failKey(r, error, "files");
    if (!hasId)
        return failKey(r, error, "id");
    if (!hasUrl)
        return failKey(r, error, "url");
    return true;
}

bool readDestination(Reader &r, ShelfFavoriteDestination *out, QString *error)
{
    if (r.peek() != '{')
        return failKey(r, error, "destination");
    r.beginObject();
    bool first = true, hasPath = false;
    QByteArray key, raw;
    while (r.nextKey(&first, &key)) {
        if (key == "path") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType)
                return failKey(r, error, "path");
            hasPath = g == Got::value;
            out->path = QString::fromUtf8(raw);
        } else if (key == "bookmarkData") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType || (g == Got::value && !parseBase64(raw, &out->bookmarkData)))
                return failKey(r, error, "bookmarkData");
            if (g == Got::absent)
                out->bookmarkData.clear();
        } else if (!r.skipValue()) {
            return failKey(r, error, "destination");
        }
    }
    if (!r.ok())
        return failKey(r, error, "destination");
    if (!hasPath)
        return failKey(r, error, "path");
    return true;
}

template <typename E>
bool parseEnum(const QByteArray &raw, E *out)
{
    const auto v = enumFromRaw<E>(QString::fromUtf8(raw));
    if (!v)
        return false;
    *out = *v;
    return true;
}

bool readFavorite(Reader &r, ShelfFavoriteAction *out, QString *error)
{
    if (r.peek() != '{')
        return failKey(r, error, "favorites");
    r.beginObject();
    bool first = true, hasId = false, hasTool = false, hasPreset = false, hasName = false, hasScope = false;
    std::optional<QByteArray> mode;
    QByteArray key, raw;
    while (r.nextKey(&first, &key)) {
        if (key == "id") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType || (g == Got::value && !parseUuidBytes(raw, &out->id)))
                return failKey(r, error, "id");
            hasId = g == Got::value;
        } else if (key == "tool") {
            const Got g = readOptionalString(r, &raw);
            if (g != Got::value || !parseEnum(raw, &out->tool))
                return failKey(r, error, "tool");
            hasTool = true;
        } else if (key == "presetID") {
            const Got g = readOptionalString(r, &raw);
            if (g != Got::value || !parseUuidBytes(raw, &out->presetID))
                return failKey(r, error, "presetID");
            hasPreset = true;
        } else if (key == "presetName") {
            const Got g = readOptionalString(r, &raw);
            if (g != Got::value)
                return failKey(r, error, "presetName");
            out->presetName = QString::fromUtf8(raw);
            hasName = true;
        } else if (key == "scope") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType || (g == Got::value && !parseEnum(raw, &out->scope)))
                return failKey(r, error, "scope");
            hasScope = g == Got::value;
        } else if (key == "destinationMode") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType)
                return failKey(r, error, "destinationMode");
            mode = g == Got::value ? std::optional<QByteArray>(QByteArray(raw.constData(), raw.size()))
                                   : std::nullopt;
        } else if (key == "destination") {
            if (r.isNull()) {
                r.readNull();
                out->destination.reset();
            } else {
                ShelfFavoriteDestination d;
                if (!readDestination(r, &d, error))
                    return false;
                out->destination = std::move(d);
            }
        } else if (key == "customLabel") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType)
                return failKey(r, error, "customLabel");
            out->customLabel = g == Got::value ? std::optional<QString>(QString::fromUtf8(raw)) : std::nullopt;
        } else if (!r.skipValue()) {
            return failKey(r, error, "favorites");
        }
    }
    if (!r.ok())
        return failKey(r, error, "favorites");
    if (!hasTool)
        return failKey(r, error, "tool");
    if (!hasPreset)
        return failKey(r, error, "presetID");
    if (!hasName)
        return failKey(r, error, "presetName");
    if (!hasId)
        out->id = QUuid::createUuid();
    if (!hasScope)
        out->scope = ShelfFavoriteScope::selectionOrAll;
    out->destinationMode = mode ? destinationModeFromRaw(QString::fromUtf8(*mode)) : defaultDestinationMode(out->tool);
    return true;
}

bool readShelf(Reader &r, Shelf *out, QString *error)
{
    if (r.peek() != '{')
        return failKey(r, error, "shelf");
    r.beginObject();
    bool first = true, hasId = false, hasName = false, hasColor = false, hasIcon = false, hasFolder = false,
         hasFiles = false;
    QByteArray key, raw;
    while (r.nextKey(&first, &key)) {
        if (key == "id") {
            const Got g = readOptionalString(r, &raw);
            if (g != Got::value || !parseUuidBytes(raw, &out->id))
                return failKey(r, error, "id");
            hasId = true;
        } else if (key == "name") {
            if (readOptionalString(r, &raw) != Got::value)
                return failKey(r, error, "name");
            out->name = QString::fromUtf8(raw);
            hasName = true;
        } else if (key == "colorData") {
            if (!readColor(r, &out->colorData, error))
                return false;
            hasColor = true;
        } else if (key == "icon") {
            if (readOptionalString(r, &raw) != Got::value)
                return failKey(r, error, "icon");
            out->icon = QString::fromUtf8(raw);
            hasIcon = true;
        } else if (key == "folderURL") {
            if (readOptionalString(r, &raw) != Got::value || !parseUrlBytes(raw, &out->folderURL))
                return failKey(r, error, "folderURL");
            hasFolder = true;
        } else if (key == "files") {
            if (r.peek() != '[')
                return failKey(r, error, "files");
            r.beginArray();
            out->files.clear();
            bool firstFile = true;
            while (r.nextElement(&firstFile)) {
                ShelfFile f;
                if (!readFile(r, &f, error))
                    return false;
                out->files.append(std::move(f));
            }
            if (!r.ok())
                return failKey(r, error, "files");
            hasFiles = true;
        } else if (key == "favorites") {
            out->favorites.clear();
            if (r.isNull()) {
                r.readNull();
                continue;
            }
            if (r.peek() != '[')
                return failKey(r, error, "favorites");
            r.beginArray();
            bool firstFav = true;
            while (r.nextElement(&firstFav)) {
                ShelfFavoriteAction f;
                if (!readFavorite(r, &f, error))
                    return false;
                out->favorites.append(std::move(f));
            }
            if (!r.ok())
                return failKey(r, error, "favorites");
        } else if (key == "favoriteButtonDisplayMode") {
            const Got g = readOptionalString(r, &raw);
            if (g == Got::wrongType || (g == Got::value && !parseEnum(raw, &out->favoriteButtonDisplayMode)))
                return failKey(r, error, "favoriteButtonDisplayMode");
            if (g == Got::absent)
                out->favoriteButtonDisplayMode = ShelfFavoriteButtonDisplayMode::iconAndName;
        } else if (key == "windowPosition") {
            // Read leniently: a position that cannot be used is no position.
            out->windowPosition = readWindowPosition(r);
            if (!r.ok())
                return failKey(r, error, "windowPosition");
        } else if (key == "tuckedEdge" || key == "tuckedScreenID" || key == "tuckedScreenName") {
            // Read leniently: anything unusable means "not tucked", never a failure.
            std::optional<QString> text;
            if (r.peek() == '"') {
                if (!r.readString(&raw))
                    return failKey(r, error, key);
                text = QString::fromUtf8(raw);
            } else if (!r.skipValue()) {
                return failKey(r, error, key);
            }
            if (key == "tuckedEdge")
                out->tuckedEdge = text ? enumFromRaw<TuckEdge>(*text) : std::nullopt;
            else if (key == "tuckedScreenID")
                out->tuckedScreenID = text;
            else
                out->tuckedScreenName = text;
        } else if (!r.skipValue()) {
            return failKey(r, error, "shelf");
        }
    }
    if (!r.ok())
        return failKey(r, error, "shelf");
    const std::pair<bool, const char *> required[] = {{hasId, "id"},     {hasName, "name"},
                                                      {hasColor, "colorData"}, {hasIcon, "icon"},
                                                      {hasFolder, "folderURL"}, {hasFiles, "files"}};
    for (const auto &[has, name] : required)
        if (!has)
            return failKey(r, error, name);
    return true;
}

// Runs one record reader over a whole document that must hold exactly that value.
template <typename T, typename F>
std::optional<T> readDocument(const QByteArray &json, F readValue, QString *error)
{
    Reader r(json.constData(), json.constData() + json.size());
    T value{};
    if (!readValue(r, &value, error))
        return std::nullopt;
    if (!r.atEnd()) {
        if (error)
            *error = QStringLiteral("unexpected text after the value");
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
    return readDocument<ShelfColorData>(jsonBytes(value), readColor, error);
}

std::optional<ShelfFile> decodeFile(const QJsonValue &value, QString *error)
{
    return readDocument<ShelfFile>(jsonBytes(value), readFile, error);
}

std::optional<ShelfFavoriteDestination> decodeDestination(const QJsonValue &value, QString *error)
{
    return readDocument<ShelfFavoriteDestination>(jsonBytes(value), readDestination, error);
}

std::optional<ShelfFavoriteAction> decodeFavorite(const QJsonValue &value, QString *error)
{
    return readDocument<ShelfFavoriteAction>(jsonBytes(value), readFavorite, error);
}

std::optional<Shelf> decodeShelf(const QJsonValue &value, QString *error)
{
    return readDocument<Shelf>(jsonBytes(value), readShelf, error);
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

// A byte-order mark some editors put at the start of UTF-8 text is not part of the JSON.
static QByteArrayView withoutByteOrderMark(QByteArrayView json)
{
    return json.startsWith("\xEF\xBB\xBF") ? json.sliced(3) : json;
}

std::optional<QList<Shelf>> decodeShelves(QByteArrayView text, QString *error)
{
    const QByteArrayView json = withoutByteOrderMark(text);
    const auto setError = [error](const QString &message) {
        if (error)
            *error = message;
        return std::nullopt;
    };
    // First pass: check the syntax and find where each shelf lies.
    Reader r(json.data(), json.data() + json.size());
    if (r.peek() != '[')
        return setError(r.atEnd() ? QStringLiteral("empty document") : QStringLiteral("not a JSON array"));
    r.beginArray();
    QList<std::pair<const char *, const char *>> ranges;
    bool first = true;
    while (r.nextElement(&first)) {
        const char *start = r.position();
        if (!r.skipValue())
            break;
        ranges.append(std::pair(start, r.position()));
    }
    if (!r.ok())
        return setError(r.error());
    if (!r.atEnd())
        return setError(QStringLiteral("unexpected text after the value"));

    // Second pass: decode the shelves, side by side when there is enough to do.
    struct Slot {
        Shelf shelf;
        bool ok = false;
        QString error;
    };
    QList<Slot> results(ranges.size());
    const auto decodeOne = [&ranges, &results](qsizetype i) {
        Reader sub(ranges[i].first, ranges[i].second);
        Slot &slot = results[i];
        slot.ok = readShelf(sub, &slot.shelf, &slot.error) && sub.atEnd();
    };
    constexpr qsizetype kParallelBytes = 1 << 20;
    if (ranges.size() > 1 && json.size() >= kParallelBytes) {
        QList<qsizetype> indexes(ranges.size());
        std::iota(indexes.begin(), indexes.end(), 0);
        QtConcurrent::blockingMap(indexes, [&decodeOne](qsizetype i) { decodeOne(i); });
    } else {
        for (qsizetype i = 0; i < ranges.size(); ++i)
            decodeOne(i);
    }
    QList<Shelf> out;
    out.reserve(results.size());
    for (Slot &slot : results) {
        if (!slot.ok)
            return setError(slot.error.isEmpty() ? QStringLiteral("invalid shelf") : slot.error);
        out.append(std::move(slot.shelf));
    }
    return out;
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

std::optional<QSet<QUuid>> decodeIdSet(const QByteArray &text)
{
    const QByteArrayView json = withoutByteOrderMark(text);
    Reader r(json.data(), json.data() + json.size());
    if (r.peek() != '[')
        return std::nullopt;
    r.beginArray();
    QSet<QUuid> out;
    bool first = true;
    QByteArray raw;
    while (r.nextElement(&first)) {
        if (r.peek() == '"') {
            if (!r.readString(&raw))
                break;
            QUuid id;
            if (parseUuidBytes(raw, &id))
                out.insert(id);
        } else if (!r.skipValue()) {
            break;
        }
    }
    if (!r.ok() || !r.atEnd())
        return std::nullopt;
    return out;
}

} // namespace ShelfJson
