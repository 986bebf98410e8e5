#include "conversion/model/OnnxFloat32.h"

#include <QFloat16>
#include <QHash>
#include <QList>
#include <QSet>

#include <vector>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "ONNX raw tensor data is little-endian");

namespace {

// ---- protobuf wire format ---------------------------------------------------------------

enum Wire : int { varintWire = 0, fixed64Wire = 1, bytesWire = 2, fixed32Wire = 5 };

struct Field {
    quint32 number = 0;
    int wire = 0;
    quint64 value = 0;   // varint fields
    QByteArrayView data; // length-delimited fields
    QByteArrayView raw;  // the whole field, tag included
};

class Reader
{
public:
    explicit Reader(QByteArrayView data) : m_data(data) {}

    // The next field; false at the end or on malformed data (then failed() is true).
    bool next(Field *field)
    {
        if (m_pos >= m_data.size() || m_failed)
            return false;
        const qsizetype start = m_pos;
        quint64 tag;
        if (!varint(&tag) || (tag >> 3) == 0 || (tag >> 3) > 0x1fffffff)
            return fail();
        field->number = quint32(tag >> 3);
        field->wire = int(tag & 7);
        field->data = {};
        field->value = 0;
        switch (field->wire) {
        case varintWire:
            if (!varint(&field->value))
                return fail();
            break;
        case fixed64Wire:
        case fixed32Wire: {
            const qsizetype n = field->wire == fixed64Wire ? 8 : 4;
            if (m_data.size() - m_pos < n)
                return fail();
            m_pos += n;
            break;
        }
        case bytesWire: {
            quint64 length;
            if (!varint(&length) || length > quint64(m_data.size() - m_pos))
                return fail();
            field->data = m_data.sliced(m_pos, qsizetype(length));
            m_pos += qsizetype(length);
            break;
        }
        default:
            return fail();
        }
        field->raw = m_data.sliced(start, m_pos - start);
        return true;
    }
    bool failed() const { return m_failed; }

private:
    bool varint(quint64 *value)
    {
        quint64 v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (m_pos >= m_data.size())
                return false;
            const quint8 byte = quint8(m_data[m_pos++]);
            v |= quint64(byte & 0x7f) << shift;
            if (!(byte & 0x80)) {
                *value = v;
                return true;
            }
        }
        return false;
    }
    bool fail()
    {
        m_failed = true;
        return false;
    }

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    bool m_failed = false;
};

void putVarint(QByteArray &out, quint64 v)
{
    while (v >= 0x80) {
        out.append(char(v | 0x80));
        v >>= 7;
    }
    out.append(char(v));
}

void putVarintField(QByteArray &out, quint32 number, quint64 v)
{
    putVarint(out, quint64(number) << 3 | varintWire);
    putVarint(out, v);
}

void putBytesField(QByteArray &out, quint32 number, QByteArrayView data)
{
    putVarint(out, quint64(number) << 3 | bytesWire);
    putVarint(out, quint64(data.size()));
    out.append(data);
}

// ---- ONNX messages (field numbers of onnx.proto) -------------------------------------------

namespace Model { enum : quint32 { graph = 7 }; }
namespace Graph { enum : quint32 { node = 1, initializer = 5, input = 11, output = 12, valueInfo = 13 }; }
namespace Node { enum : quint32 { input = 1, output = 2, opType = 4, attribute = 5 }; }
namespace Attribute { enum : quint32 { name = 1, i = 3, t = 5, g = 6, tensors = 10, graphs = 11 }; }
namespace Tensor { enum : quint32 { dataType = 2, int32Data = 5, name = 8, rawData = 9, dataLocation = 14 }; }
namespace ValueInfo { enum : quint32 { name = 1, type = 2 }; }
namespace Type { enum : quint32 { tensorType = 1, sequenceType = 4, mapType = 5, sparseTensorType = 8, optionalType = 9 }; }
namespace DataType { enum : quint64 { float32 = 1, float16 = 10 }; }

struct Converter {
    QString error;

    bool fail(const QString &why)
    {
        if (error.isEmpty())
            error = why;
        return false;
    }

    static QByteArray float16ToFloat32(QByteArrayView halves)
    {
        const qsizetype count = halves.size() / 2;
        QByteArray out(count * qsizetype(sizeof(float)), Qt::Uninitialized);
        qFloatFromFloat16(reinterpret_cast<float *>(out.data()), reinterpret_cast<const qfloat16 *>(halves.data()), count);
        return out;
    }

    // TensorProto: float16 data (raw, or one value per int32_data entry) becomes raw float32.
    bool tensor(QByteArrayView in, QByteArray &out)
    {
        Reader scan(in);
        Field f;
        bool half = false;
        while (scan.next(&f)) {
            if (f.number == Tensor::dataType && f.wire == varintWire)
                half = f.value == DataType::float16;
            else if (f.number == Tensor::dataLocation && f.wire == varintWire && f.value != 0)
                return fail(QStringLiteral("the model keeps its weights in separate files"));
        }
        if (scan.failed())
            return fail(QStringLiteral("damaged tensor"));
        if (!half) {
            out.append(in);
            return true;
        }
        Reader r(in);
        QByteArray halves;
        qsizetype rawAt = -1;
        while (r.next(&f)) {
            if (f.number == Tensor::dataType) {
                putVarintField(out, Tensor::dataType, DataType::float32);
            } else if (f.number == Tensor::rawData && f.wire == bytesWire) {
                if (f.data.size() % 2)
                    return fail(QStringLiteral("float16 tensor with an odd byte count"));
                halves.append(f.data);
                rawAt = out.size();
            } else if (f.number == Tensor::int32Data) {
                // float16 values kept as their 16-bit patterns, packed or one per field.
                auto take = [&halves](quint64 v) {
                    const quint16 bits = quint16(v);
                    halves.append(reinterpret_cast<const char *>(&bits), 2);
                };
                if (f.wire == varintWire) {
                    take(f.value);
                } else if (f.wire == bytesWire) {
                    // Packed: varints one after the other, without tags.
                    qsizetype pos = 0;
                    while (pos < f.data.size()) {
                        quint64 v = 0;
                        int shift = 0;
                        quint8 byte;
                        do {
                            if (pos >= f.data.size() || shift > 63)
                                return fail(QStringLiteral("damaged tensor data"));
                            byte = quint8(f.data[pos++]);
                            v |= quint64(byte & 0x7f) << shift;
                            shift += 7;
                        } while (byte & 0x80);
                        take(v);
                    }
                }
                if (rawAt < 0)
                    rawAt = out.size();
            } else {
                out.append(f.raw);
            }
        }
        if (r.failed())
            return fail(QStringLiteral("damaged tensor"));
        QByteArray raw;
        putBytesField(raw, Tensor::rawData, float16ToFloat32(halves));
        out.insert(rawAt < 0 ? out.size() : rawAt, raw);
        return true;
    }

    // TypeProto: float16 element types become float32, at any depth.
    bool type(QByteArrayView in, QByteArray &out)
    {
        Reader r(in);
        Field f;
        while (r.next(&f)) {
            if ((f.number == Type::tensorType || f.number == Type::sparseTensorType) && f.wire == bytesWire) {
                QByteArray inner;
                Reader t(f.data);
                Field e;
                while (t.next(&e)) {
                    if (e.number == 1 && e.wire == varintWire && e.value == DataType::float16)
                        putVarintField(inner, 1, DataType::float32);
                    else
                        inner.append(e.raw);
                }
                if (t.failed())
                    return fail(QStringLiteral("damaged type"));
                putBytesField(out, f.number, inner);
            } else if ((f.number == Type::sequenceType || f.number == Type::optionalType || f.number == Type::mapType)
                       && f.wire == bytesWire) {
                // sequence and optional hold a TypeProto as field 1, map its value type as field 2.
                const quint32 nested = f.number == Type::mapType ? 2 : 1;
                QByteArray inner;
                Reader t(f.data);
                Field e;
                while (t.next(&e)) {
                    if (e.number == nested && e.wire == bytesWire) {
                        QByteArray converted;
                        if (!type(e.data, converted))
                            return false;
                        putBytesField(inner, nested, converted);
                    } else {
                        inner.append(e.raw);
                    }
                }
                if (t.failed())
                    return fail(QStringLiteral("damaged type"));
                putBytesField(out, f.number, inner);
            } else {
                out.append(f.raw);
            }
        }
        return !r.failed() || fail(QStringLiteral("damaged type"));
    }

    bool valueInfo(QByteArrayView in, QByteArray &out, QString *name)
    {
        Reader r(in);
        Field f;
        while (r.next(&f)) {
            if (f.number == ValueInfo::type && f.wire == bytesWire) {
                QByteArray converted;
                if (!type(f.data, converted))
                    return false;
                putBytesField(out, f.number, converted);
            } else {
                if (f.number == ValueInfo::name && f.wire == bytesWire && name)
                    *name = QString::fromUtf8(f.data);
                out.append(f.raw);
            }
        }
        return !r.failed() || fail(QStringLiteral("damaged value declaration"));
    }

    bool attribute(QByteArrayView in, bool cast, QByteArray &out)
    {
        Reader r(in);
        Field f;
        bool isTo = false;
        Reader scan(in);
        while (scan.next(&f))
            if (f.number == Attribute::name && f.wire == bytesWire)
                isTo = f.data == "to";
        while (r.next(&f)) {
            if (cast && isTo && f.number == Attribute::i && f.wire == varintWire && f.value == DataType::float16) {
                putVarintField(out, f.number, DataType::float32);
            } else if ((f.number == Attribute::t || f.number == Attribute::tensors) && f.wire == bytesWire) {
                QByteArray converted;
                if (!tensor(f.data, converted))
                    return false;
                putBytesField(out, f.number, converted);
            } else if ((f.number == Attribute::g || f.number == Attribute::graphs) && f.wire == bytesWire) {
                QByteArray converted;
                if (!graph(f.data, false, converted))
                    return false;
                putBytesField(out, f.number, converted);
            } else {
                out.append(f.raw);
            }
        }
        return !r.failed() || fail(QStringLiteral("damaged node attribute"));
    }

    struct NodeInfo {
        QByteArray bytes;
        QList<QByteArray> inputs;
        QList<QByteArray> outputs;
    };

    bool node(QByteArrayView in, NodeInfo &info)
    {
        Reader scan(in);
        Field f;
        bool cast = false;
        while (scan.next(&f))
            if (f.number == Node::opType && f.wire == bytesWire)
                cast = f.data == "Cast";
        Reader r(in);
        while (r.next(&f)) {
            if (f.number == Node::attribute && f.wire == bytesWire) {
                QByteArray converted;
                if (!attribute(f.data, cast, converted))
                    return false;
                putBytesField(info.bytes, f.number, converted);
                continue;
            }
            if (f.number == Node::input && f.wire == bytesWire)
                info.inputs.append(f.data.toByteArray());
            else if (f.number == Node::output && f.wire == bytesWire)
                info.outputs.append(f.data.toByteArray());
            info.bytes.append(f.raw);
        }
        return !r.failed() || fail(QStringLiteral("damaged node"));
    }

    // GraphProto. `sort`: put the nodes in dependency order (the main graph; a subgraph may
    // read names of the graph around it, so its order is kept).
    bool graph(QByteArrayView in, bool sort, QByteArray &out)
    {
        // The graph's fields in their order; nodes are placed back into their slots afterwards.
        std::vector<QByteArray> pieces;
        std::vector<size_t> nodeSlots;
        std::vector<NodeInfo> nodes;
        QSet<QByteArray> known{QByteArray()};
        Reader r(in);
        Field f;
        while (r.next(&f)) {
            QByteArray piece;
            if (f.number == Graph::node && f.wire == bytesWire) {
                NodeInfo info;
                if (!node(f.data, info))
                    return false;
                nodeSlots.push_back(pieces.size());
                nodes.push_back(std::move(info));
            } else if (f.number == Graph::initializer && f.wire == bytesWire) {
                QByteArray converted;
                if (!tensor(f.data, converted))
                    return false;
                Reader names(f.data);
                Field n;
                while (names.next(&n))
                    if (n.number == Tensor::name && n.wire == bytesWire)
                        known.insert(n.data.toByteArray());
                putBytesField(piece, f.number, converted);
            } else if ((f.number == Graph::input || f.number == Graph::output || f.number == Graph::valueInfo)
                       && f.wire == bytesWire) {
                QByteArray converted;
                QString name;
                if (!valueInfo(f.data, converted, &name))
                    return false;
                if (f.number == Graph::input)
                    known.insert(name.toUtf8());
                putBytesField(piece, f.number, converted);
            } else {
                piece = f.raw.toByteArray();
            }
            pieces.push_back(std::move(piece));
        }
        if (r.failed())
            return fail(QStringLiteral("damaged graph"));

        std::vector<size_t> order(nodes.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        if (sort) {
            // Passes over the pending nodes, taking each one whose inputs are all known.
            std::vector<size_t> sorted;
            sorted.reserve(nodes.size());
            std::vector<size_t> pending = order;
            while (!pending.empty()) {
                std::vector<size_t> rest;
                for (size_t i : pending) {
                    bool ready = true;
                    for (const QByteArray &input : nodes[i].inputs)
                        if (!known.contains(input)) {
                            ready = false;
                            break;
                        }
                    if (ready) {
                        sorted.push_back(i);
                        for (const QByteArray &output : nodes[i].outputs)
                            known.insert(output);
                    } else {
                        rest.push_back(i);
                    }
                }
                if (rest.size() == pending.size())
                    return fail(QStringLiteral("the graph has a cycle or reads a value nothing produces"));
                pending = std::move(rest);
            }
            order = std::move(sorted);
        }
        for (size_t k = 0; k < nodeSlots.size(); ++k)
            putBytesField(pieces[nodeSlots[k]], Graph::node, nodes[order[k]].bytes);

        for (const QByteArray &piece : pieces)
            out.append(piece);
        return true;
    }

    bool model(QByteArrayView in, QByteArray &out)
    {
        Reader r(in);
        Field f;
        bool sawGraph = false;
        while (r.next(&f)) {
            if (f.number == Model::graph && f.wire == bytesWire) {
                QByteArray converted;
                converted.reserve(f.data.size() * 2);
                if (!graph(f.data, true, converted))
                    return false;
                putBytesField(out, f.number, converted);
                sawGraph = true;
            } else {
                out.append(f.raw);
            }
        }
        if (r.failed())
            return fail(QStringLiteral("not an ONNX model (damaged data)"));
        return sawGraph || fail(QStringLiteral("not an ONNX model (no graph)"));
    }
};

} // namespace

namespace OnnxFloat32 {

bool convert(QByteArrayView model, QByteArray *out, QString *error)
{
    Converter converter;
    QByteArray result;
    result.reserve(model.size() * 2);
    if (!converter.model(model, result)) {
        if (error)
            *error = converter.error;
        return false;
    }
    *out = std::move(result);
    return true;
}

} // namespace OnnxFloat32
