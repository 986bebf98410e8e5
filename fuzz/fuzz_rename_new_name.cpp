// Batch Rename's new names: any preset (as a preset file or the window may hold it) applied
// to any file name (bytes as they come from disk, at any position in the list).
//
// Invariant: the new name is never empty, never "." or "..", never contains "/" and never
// takes more than 255 bytes, so no rename can leave the file's folder or fail for its name.

#include "FuzzSupport.h"

#include "tools/flatten/FileOps.h"
#include "tools/rename/RenameEngine.h"

#include <cstring>

namespace {

// The input: a header of 24 bytes (option bits, case mode, trims, counter start, step and
// padding, the index), then findText, replaceWith, prefix, suffix, counterSep and the old
// name separated by the byte 0x1E. Numbers are little-endian; with the "wild" bit they take
// any value a preset file may hold, else they stay within the window's limits.
template <typename T>
T number(const uint8_t *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

RenamePreset takePreset(const uint8_t *h, const QList<QByteArray> &fields)
{
    RenamePreset p;
    const uint8_t bits = h[0];
    p.isAdvanced = bits & 1;
    p.useRegex = bits & 2;
    p.caseSensitive = bits & 4;
    p.useCounter = bits & 8;
    p.keepExt = bits & 16;
    p.counterPosition = (bits & 32) ? CounterPosition::prefix : CounterPosition::suffix;
    const bool wild = bits & 64;
    p.caseMode = CaseMode(h[1] % 4);
    const int trimHead = number<int32_t>(h + 2), trimTail = number<int32_t>(h + 6);
    const qint64 start = number<int32_t>(h + 10), step = number<int32_t>(h + 14);
    const int pad = number<int16_t>(h + 18);
    p.trimHead = wild ? trimHead : qAbs(trimHead % 100);
    p.trimTail = wild ? trimTail : qAbs(trimTail % 100);
    p.counterStart = wild ? start * start * (start < 0 ? -1 : 1) : qAbs(start % 100000);
    p.counterStep = wild ? step * step * (step < 0 ? -1 : 1) : 1 + qAbs(step % 1000);
    p.counterPad = wild ? pad * 1000 : 1 + qAbs(pad % 8);
    p.findText = QString::fromUtf8(fields.value(0));
    p.replaceWith = QString::fromUtf8(fields.value(1));
    p.prefix = QString::fromUtf8(fields.value(2));
    p.suffix = QString::fromUtf8(fields.value(3));
    p.counterSep = QString::fromUtf8(fields.value(4));
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr size_t kHeader = 24;
    if (size < kHeader)
        return 0;
    const QList<QByteArray> fields =
        QByteArray(reinterpret_cast<const char *>(data + kHeader), qsizetype(size - kHeader)).split('\x1e');
    const RenamePreset preset = takePreset(data, fields);
    const qint64 index = number<uint16_t>(data + 20);
    // A file name as read from disk: bytes, those that are not UTF-8 carried as escapes.
    const QString oldName = FileOps::decodeName(fields.value(5));

    const RenameRules rules(preset);
    const QString name = rules.newName(oldName, index);
    const QByteArray bytes = FileOps::encodeName(name);
    const QByteArray detail = "old " + FileOps::encodeName(oldName).toPercentEncoding() + " new "
                            + bytes.toPercentEncoding();
    FUZZ_CHECK(!name.isEmpty(), detail);
    FUZZ_CHECK(name != u"." && name != u"..", detail);
    FUZZ_CHECK(!bytes.contains('/'), detail);
    FUZZ_CHECK(bytes.size() <= 255, detail);
    // A name the file system takes is what performRename accepts, apart from NUL characters,
    // which only a preset file can hold and which are refused with a reason.
    if (!name.contains(QChar(u'\0')))
        FUZZ_CHECK(RenameEngine::invalidNameReason(name).isEmpty(), detail);
    // The same rules give the same name.
    FUZZ_CHECK(RenameRules(preset).newName(oldName, index) == name, detail);
    return 0;
}
