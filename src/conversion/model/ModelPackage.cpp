#include "conversion/model/ModelPackage.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <zlib.h>

namespace {

constexpr qsizetype kBlock = 512;
constexpr qsizetype kReadSize = 1 << 20;
const QString kDist = QStringLiteral("package/dist/");

bool setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Octal number field of a tar header (NUL or space terminated).
bool octal(const char *field, int length, qint64 *value)
{
    qint64 v = 0;
    int i = 0;
    while (i < length && field[i] == ' ')
        ++i;
    bool any = false;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) {
        v = v * 8 + (field[i] - '0');
        any = true;
    }
    if (!any || v < 0)
        return false;
    *value = v;
    return true;
}

QString fieldString(const char *field, int length)
{
    return QString::fromUtf8(field, qstrnlen(field, length));
}

// "path" from a pax extended header ("LEN key=value\n" records).
QString paxPath(const QByteArray &records)
{
    qsizetype pos = 0;
    while (pos < records.size()) {
        const qsizetype space = records.indexOf(' ', pos);
        if (space < 0)
            break;
        bool ok = false;
        const qsizetype length = records.mid(pos, space - pos).toLongLong(&ok);
        if (!ok || length <= 0 || pos + length > records.size())
            break;
        const QByteArray record = records.mid(space + 1, pos + length - space - 2);
        if (record.startsWith("path="))
            return QString::fromUtf8(record.mid(5));
        pos += length;
    }
    return {};
}

// Walks the tar stream as decompressed data arrives.
class TarReader
{
public:
    TarReader(const std::function<bool(const QString &)> &wanted, QHash<QString, QByteArray> *members)
        : m_wanted(wanted), m_members(members)
    {
    }

    bool feed(const char *data, qsizetype size, QString *error)
    {
        while (size > 0 && !m_ended) {
            if (m_remaining > 0 || m_padding > 0) {
                if (m_remaining > 0) {
                    const qsizetype n = std::min<qint64>(size, m_remaining);
                    if (m_keep)
                        m_current.append(data, n);
                    data += n;
                    size -= n;
                    m_remaining -= n;
                    if (m_remaining == 0 && !finishMember(error))
                        return false;
                    continue;
                }
                const qsizetype n = std::min<qint64>(size, m_padding);
                data += n;
                size -= n;
                m_padding -= n;
                continue;
            }
            const qsizetype n = std::min<qsizetype>(size, kBlock - m_header.size());
            m_header.append(data, n);
            data += n;
            size -= n;
            if (m_header.size() == kBlock && !startMember(error))
                return false;
        }
        return true;
    }

    // True when the archive ended properly (its end blocks, or at least a complete last member).
    bool complete() const { return m_ended || (m_sawMember && m_remaining == 0 && m_padding == 0 && m_header.isEmpty()); }

private:
    bool startMember(QString *error)
    {
        const QByteArray header = std::exchange(m_header, {});
        if (header.count('\0') == kBlock) {
            if (++m_zeroBlocks >= 2)
                m_ended = true;
            return true;
        }
        m_zeroBlocks = 0;
        // Header checksum: the sum of its bytes with the checksum field read as spaces.
        qint64 stored;
        if (!octal(header.constData() + 148, 8, &stored))
            return setError(error, QStringLiteral("the package is damaged (bad archive header)"));
        qint64 sum = 0;
        for (qsizetype i = 0; i < kBlock; ++i)
            sum += (i >= 148 && i < 156) ? ' ' : quint8(header[i]);
        if (sum != stored)
            return setError(error, QStringLiteral("the package is damaged (bad archive header)"));
        qint64 size;
        if (!octal(header.constData() + 124, 12, &size))
            return setError(error, QStringLiteral("the package is damaged (bad member size)"));
        m_type = header[156];
        QString name = fieldString(header.constData(), 100);
        if (header.mid(257, 5) == "ustar") {
            const QString prefix = fieldString(header.constData() + 345, 155);
            if (!prefix.isEmpty())
                name = prefix + QLatin1Char('/') + name;
        }
        if (!m_longName.isEmpty())
            name = std::exchange(m_longName, {});
        m_name = name;
        m_remaining = size;
        m_padding = (kBlock - size % kBlock) % kBlock;
        const bool regular = m_type == '0' || m_type == '\0';
        const bool meta = m_type == 'x' || m_type == 'L';
        m_keep = meta || (regular && m_wanted(m_name));
        m_current.clear();
        if (m_keep)
            m_current.reserve(qsizetype(std::min<qint64>(size, qint64(64) << 20)));
        m_sawMember = true;
        if (size == 0)
            return finishMember(error);
        return true;
    }

    bool finishMember(QString *)
    {
        if (!m_keep)
            return true;
        if (m_type == 'x') {
            m_longName = paxPath(m_current);
        } else if (m_type == 'L') {
            m_longName = QString::fromUtf8(m_current.constData(), qstrnlen(m_current.constData(), m_current.size()));
        } else {
            m_members->insert(m_name, std::exchange(m_current, {}));
        }
        m_current.clear();
        return true;
    }

    std::function<bool(const QString &)> m_wanted;
    QHash<QString, QByteArray> *m_members;
    QByteArray m_header;
    QByteArray m_current;
    QString m_name;
    QString m_longName;
    qint64 m_remaining = 0;
    qint64 m_padding = 0;
    char m_type = 0;
    bool m_keep = false;
    bool m_ended = false;
    bool m_sawMember = false;
    int m_zeroBlocks = 0;
};

} // namespace

namespace ModelPackage {

bool readMembers(const QString &path, const std::function<bool(const QString &)> &wanted,
                 QHash<QString, QByteArray> *members, const std::atomic<bool> *cancel, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    z_stream zs = {};
    // 15 + 32: a zlib or gzip stream, told apart by its header.
    if (inflateInit2(&zs, 15 + 32) != Z_OK)
        return setError(error, QStringLiteral("cannot start decompressing"));
    struct Cleanup {
        z_stream *zs;
        ~Cleanup() { inflateEnd(zs); }
    } cleanup{&zs};

    TarReader tar(wanted, members);
    QByteArray in(kReadSize, Qt::Uninitialized);
    QByteArray out(4 * kReadSize, Qt::Uninitialized);
    bool streamEnded = false;
    while (true) {
        if (cancel && cancel->load())
            return setError(error, QStringLiteral("cancelled"));
        const qint64 got = file.read(in.data(), in.size());
        if (got < 0)
            return setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        if (got == 0)
            break;
        zs.next_in = reinterpret_cast<Bytef *>(in.data());
        zs.avail_in = uInt(got);
        while (zs.avail_in > 0) {
            if (streamEnded) {
                // A further gzip member follows the first one.
                inflateReset(&zs);
                streamEnded = false;
            }
            zs.next_out = reinterpret_cast<Bytef *>(out.data());
            zs.avail_out = uInt(out.size());
            const int rc = inflate(&zs, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                return setError(error, QStringLiteral("the package is damaged (%1)")
                                           .arg(QString::fromLatin1(zs.msg ? zs.msg : "decompression failed")));
            const qsizetype produced = out.size() - qsizetype(zs.avail_out);
            if (produced > 0 && !tar.feed(out.constData(), produced, error))
                return false;
            if (rc == Z_STREAM_END)
                streamEnded = true;
            else if (rc == Z_BUF_ERROR && produced == 0)
                break;
        }
    }
    if (!streamEnded || !tar.complete())
        return setError(error, QStringLiteral("the package is incomplete (it ends too early)"));
    return true;
}

bool extractModel(const QString &path, const QString &key, QByteArray *model, const std::atomic<bool> *cancel,
                  QString *error)
{
    const QString resourcesName = kDist + QStringLiteral("resources.json");
    QHash<QString, QByteArray> found;
    if (!readMembers(path, [&](const QString &name) { return name == resourcesName; }, &found, cancel, error))
        return false;
    if (!found.contains(resourcesName))
        return setError(error, QStringLiteral("the package has no list of models"));
    const QJsonObject entry = QJsonDocument::fromJson(found.value(resourcesName)).object().value(key).toObject();
    const QJsonArray chunks = entry.value(QStringLiteral("chunks")).toArray();
    if (chunks.isEmpty())
        return setError(error, QStringLiteral("the package does not list the model %1").arg(key));

    struct Chunk {
        QString hash;
        qint64 start;
        qint64 end;
    };
    QList<Chunk> parts;
    QSet<QString> wanted;
    qint64 expected = 0;
    for (const QJsonValue &value : chunks) {
        const QJsonObject chunk = value.toObject();
        const QString hash = chunk.value(QStringLiteral("hash")).toString().toLower();
        const QJsonArray offsets = chunk.value(QStringLiteral("offsets")).toArray();
        const qint64 start = offsets.at(0).toInteger(-1);
        const qint64 end = offsets.at(1).toInteger(-1);
        if (hash.size() != 64 || hash.contains(QLatin1Char('/')) || start != expected || end <= start)
            return setError(error, QStringLiteral("the package's list of model pieces does not line up"));
        parts.append({hash, start, end});
        wanted.insert(kDist + hash);
        expected = end;
    }
    const qint64 listedSize = entry.value(QStringLiteral("size")).toInteger(expected);
    if (listedSize != expected)
        return setError(error, QStringLiteral("the package's list of model pieces does not line up"));

    found.clear();
    if (!readMembers(path, [&](const QString &name) { return wanted.contains(name); }, &found, cancel, error))
        return false;
    QByteArray joined;
    joined.reserve(expected);
    for (const Chunk &part : parts) {
        const auto it = found.constFind(kDist + part.hash);
        if (it == found.cend())
            return setError(error, QStringLiteral("the package lacks a piece of the model"));
        if (it->size() != part.end - part.start
            || QCryptographicHash::hash(*it, QCryptographicHash::Sha256).toHex() != part.hash.toLatin1())
            return setError(error, QStringLiteral("a piece of the model is damaged (checksum mismatch)"));
        joined.append(*it);
    }
    *model = std::move(joined);
    return true;
}

} // namespace ModelPackage
