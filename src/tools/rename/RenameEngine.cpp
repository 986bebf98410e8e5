#include "tools/rename/RenameEngine.h"

#include "platform/FileBookmark.h"
#include "platform/FilePath.h"
#include "tools/flatten/FileOps.h"

#include <QFile>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <cerrno>
#include <limits>

namespace {

icu::UnicodeString toIcu(const QString &s)
{
    return icu::UnicodeString(reinterpret_cast<const UChar *>(s.utf16()), int32_t(s.size()));
}

// A read-only ICU view of `s` (no copy); `s` must outlive it.
icu::UnicodeString aliasIcu(const QString &s)
{
    return icu::UnicodeString(false, reinterpret_cast<const UChar *>(s.utf16()), int32_t(s.size()));
}

// Plain ASCII without carriage returns: every character is one user-perceived character
// and case mapping needs no tables.
bool isSimpleAscii(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x80 || c == u'\r')
            return false;
    return true;
}

QString fromIcu(const icu::UnicodeString &s)
{
    return QString(reinterpret_cast<const QChar *>(s.getBuffer()), s.length());
}

// Splits a name at its last dot into base and extension. A leading dot (".profile") or a
// trailing dot does not start an extension.
bool splitExtension(const QString &name, QString *base, QString *ext)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1) {
        *base = name;
        ext->clear();
        return false;
    }
    *base = name.left(dot);
    *ext = name.mid(dot + 1);
    return true;
}

qint64 saturatingCounter(qint64 start, qint64 index, qint64 step)
{
    qint64 product = 0;
    qint64 sum = 0;
    if (__builtin_mul_overflow(index, step, &product))
        return (index < 0) != (step < 0) ? std::numeric_limits<qint64>::min()
                                         : std::numeric_limits<qint64>::max();
    if (__builtin_add_overflow(start, product, &sum))
        return product < 0 ? std::numeric_limits<qint64>::min()
                           : std::numeric_limits<qint64>::max();
    return sum;
}

QString describeMoveError(int err, const QString &newName)
{
    if (err == EEXIST || err == ENOTEMPTY)
        return QStringLiteral("A file named \"%1\" already exists.").arg(newName);
    return FileOps::errorDescription(err);
}

// Applies a case mapping to the stretches of `text` that are text, keeping every escaped
// byte of a name that is not valid UTF-8 exactly where and what it was (a case mapping
// would turn it into U+FFFD and lose it).
QString mapCase(const QString &text, bool upper)
{
    const auto mapping = [upper](const QString &t) { return upper ? t.toUpper() : t.toLower(); };
    qsizetype i = 0;
    for (; i < text.size(); ++i)
        if (FileOps::isEscapedByte(text, i))
            break;
    if (i == text.size())
        return mapping(text);
    QString out;
    out.reserve(text.size());
    qsizetype start = 0;
    for (i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !FileOps::isEscapedByte(text, i))
            continue;
        out += mapping(text.mid(start, i - start));
        if (i < text.size())
            out += text.at(i);
        start = i + 1;
    }
    return out;
}

QString toLowerKeepingBytes(const QString &text)
{
    return mapCase(text, false);
}

QString toUpperKeepingBytes(const QString &text)
{
    return mapCase(text, true);
}

// File names hold at most this many bytes.
constexpr qsizetype kMaxNameBytes = 255;

bool namesNoFile(const QString &name)
{
    return name.isEmpty() || name == u"." || name == u"..";
}

// Drops whole characters from the end of `text` until it takes at most `budget` bytes on
// disk (an escaped byte counts as the one byte it is; a surrogate pair stays together).
QString shortenedTo(const QString &text, qsizetype budget)
{
    qsizetype bytes = FileOps::encodeName(text).size();
    qsizetype end = text.size();
    while (end > 0 && bytes > budget) {
        qsizetype start = end - 1;
        if (start > 0 && text.at(start).isLowSurrogate() && text.at(start - 1).isHighSurrogate())
            --start;
        bytes -= FileOps::encodeName(text.mid(start, end - start)).size();
        end = start;
    }
    return text.left(end);
}

// A name the file system takes in the file's own folder, whatever the options made of it:
// "/" (as in "AC/DC") becomes "-"; a name longer than a file system takes loses characters
// at the end of its base so that the extension `tail` stays; a name that would be empty,
// "." or ".." — no file, or the folders around it — leaves the file its old name.
QString usableName(QString base, QString tail, const QString &oldName)
{
    base.replace(u'/', u'-');
    tail.replace(u'/', u'-');
    QString name = base + tail;
    if (FileOps::encodeName(name).size() > kMaxNameBytes) {
        const qsizetype tailBytes = FileOps::encodeName(tail).size();
        name = tailBytes < kMaxNameBytes ? shortenedTo(base, kMaxNameBytes - tailBytes) + tail
                                         : shortenedTo(name, kMaxNameBytes);
    }
    if (!namesNoFile(name))
        return name;
    // Only a name that no file has can fail here too; it still gets a usable one.
    if (oldName != name && !oldName.isEmpty())
        return usableName(oldName, QString(), QString());
    return QStringLiteral("-");
}

} // namespace

struct RenameRules::Impl {
    RenamePreset preset;
    std::unique_ptr<icu::RegexPattern> pattern;
    mutable std::unique_ptr<icu::RegexMatcher> matcher;
    icu::UnicodeString replacement;
    mutable std::unique_ptr<icu::BreakIterator> characters;
    bool useRegex = false;
    Qt::CaseSensitivity literalCase = Qt::CaseSensitive;

    icu::BreakIterator *breaker() const
    {
        if (!characters) {
            UErrorCode status = U_ZERO_ERROR;
            characters.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
            if (U_FAILURE(status))
                characters.reset();
        }
        return characters.get();
    }

    // Removes `head` user-perceived characters from the start and `tail` from the end.
    QString trim(const QString &base, int head, int tail) const
    {
        if (base.isEmpty())
            return base;
        if (isSimpleAscii(base)) {
            const qsizetype from = qMin<qsizetype>(head, base.size());
            return base.mid(from, qMax<qsizetype>(0, base.size() - from - tail));
        }
        icu::BreakIterator *it = breaker();
        if (!it) { // no ICU data: fall back to UTF-16 units
            const qsizetype from = qMin<qsizetype>(head, base.size());
            const qsizetype count = qMax<qsizetype>(0, base.size() - from - tail);
            return base.mid(from, count);
        }
        const icu::UnicodeString text = aliasIcu(base);
        it->setText(text);
        int32_t start = 0;
        if (head > 0) {
            it->first();
            for (int i = 0; i < head; ++i) {
                const int32_t next = it->next();
                if (next == icu::BreakIterator::DONE) {
                    start = text.length();
                    break;
                }
                start = next;
            }
        }
        int32_t end = text.length();
        if (tail > 0) {
            it->last();
            for (int i = 0; i < tail; ++i) {
                const int32_t prev = it->previous();
                if (prev == icu::BreakIterator::DONE) {
                    end = 0;
                    break;
                }
                end = prev;
            }
        }
        if (end <= start)
            return {};
        return base.mid(start, end - start);
    }

    QString titleCase(const QString &base) const
    {
        QStringList words;
        for (const QString &word : base.split(u' ', Qt::SkipEmptyParts)) {
            if (isSimpleAscii(word)) {
                words.append(word.left(1).toUpper() + word.mid(1).toLower());
                continue;
            }
            if (FileOps::isEscapedByte(word, 0)) { // a byte has no case: it stays first
                words.append(word.left(1) + toLowerKeepingBytes(word.mid(1)));
                continue;
            }
            // The first user-perceived character: a code point and the marks that follow
            // it (only the base letter has a case; the rest of a cluster keeps its form).
            qsizetype firstEnd = word.at(0).isHighSurrogate() && word.size() > 1 ? 2 : 1;
            while (firstEnd < word.size()) {
                const char32_t cp = word.at(firstEnd).isHighSurrogate() && firstEnd + 1 < word.size()
                                        ? QChar::surrogateToUcs4(word.at(firstEnd), word.at(firstEnd + 1))
                                        : word.at(firstEnd).unicode();
                if (!QChar::isMark(cp) && cp != 0x200D)
                    break;
                firstEnd += cp > 0xFFFF ? 2 : 1;
            }
            // Qt's case mapping is the full, locale-independent one ("ß" → "SS"), and
            // table-driven: much cheaper per word than a locale-aware ICU call.
            words.append(toUpperKeepingBytes(word.left(firstEnd)) + toLowerKeepingBytes(word.mid(firstEnd)));
        }
        return words.join(u' ');
    }
};

RenameRules::RenameRules(const RenamePreset &preset) : d(std::make_unique<Impl>())
{
    d->preset = preset;
    if (!preset.findText.isEmpty() && preset.isAdvanced && preset.useRegex) {
        d->useRegex = true;
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        const uint32_t flags = preset.caseSensitive ? 0 : UREGEX_CASE_INSENSITIVE;
        d->pattern.reset(icu::RegexPattern::compile(toIcu(preset.findText), flags, parseError, status));
        if (U_FAILURE(status)) {
            d->pattern.reset();
        } else {
            d->matcher.reset(d->pattern->matcher(status));
            if (U_FAILURE(status))
                d->matcher.reset();
        }
        d->replacement = toIcu(preset.replaceWith);
    }
    d->literalCase = (preset.isAdvanced && !preset.caseSensitive) ? Qt::CaseInsensitive
                                                                    : Qt::CaseSensitive;
}

RenameRules::~RenameRules() = default;

QString RenameRules::newName(const QString &fileName, qint64 index) const
{
    const RenamePreset &p = d->preset;
    QString base;
    QString tail;
    if (p.keepExt) {
        QString ext;
        if (splitExtension(fileName, &base, &ext))
            tail = u'.' + ext;
    } else {
        base = fileName;
    }

    if (p.trimHead >= 1 || p.trimTail >= 1)
        base = d->trim(base, qMax(0, p.trimHead), qMax(0, p.trimTail));

    if (!p.findText.isEmpty()) {
        if (d->useRegex) {
            if (d->matcher) {
                const icu::UnicodeString input = aliasIcu(base);
                d->matcher->reset(input);
                UErrorCode status = U_ZERO_ERROR;
                const icu::UnicodeString out = d->matcher->replaceAll(d->replacement, status);
                if (U_SUCCESS(status))
                    base = fromIcu(out);
                d->matcher->reset(icu::UnicodeString());
            }
        } else {
            base.replace(p.findText, p.replaceWith, d->literalCase);
        }
    }

    if (p.isAdvanced) {
        switch (p.caseMode) {
        case CaseMode::unchanged:
            break;
        case CaseMode::lower:
            base = toLowerKeepingBytes(base);
            break;
        case CaseMode::upper:
            base = toUpperKeepingBytes(base);
            break;
        case CaseMode::title:
            base = d->titleCase(base);
            break;
        }
    }

    QString name = p.prefix + base + p.suffix;

    if (p.useCounter) {
        const QString number = RenameEngine::counterText(p, index);
        if (p.counterPosition == CounterPosition::prefix)
            name = number + p.counterSep + name;
        else
            name = name + p.counterSep + number;
    }
    return usableName(name, tail, fileName);
}

namespace RenameEngine {

QString invalidNameReason(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("The new name is empty.");
    if (name == u"." || name == u"..")
        return QStringLiteral("\"%1\" is not a valid file name.").arg(name);
    if (name.contains(u'/'))
        return QStringLiteral("The new name \"%1\" contains \"/\".").arg(name);
    if (name.contains(QChar(u'\0')))
        return QStringLiteral("The new name contains a NUL character.");
    if (FileOps::encodeName(name).size() > 255)
        return QStringLiteral("The new name is longer than 255 bytes.");
    return {};
}

QString fileName(const QUrl &url)
{
    return FileOps::decodeName(FileOps::lastComponent(FilePath::bytes(url)));
}

QString newName(const RenameFile &file, qint64 index, const RenamePreset &preset)
{
    return RenameRules(preset).newName(fileName(file.url), index);
}

bool hasInvalidRegex(const RenamePreset &preset)
{
    if (!(preset.useRegex && preset.isAdvanced && !preset.findText.isEmpty()))
        return false;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    std::unique_ptr<icu::RegexPattern> pattern(
        icu::RegexPattern::compile(toIcu(preset.findText), 0, parseError, status));
    return U_FAILURE(status) || !pattern;
}

RenamePlan plannedNames(const QList<RenameFile> &files, const RenamePreset &preset)
{
    RenamePlan plan;
    if (hasInvalidRegex(preset))
        return plan;
    const RenameRules rules(preset);
    for (qsizetype i = 0; i < files.size(); ++i)
        plan.insert(files[i].id.toString(QUuid::WithoutBraces).toUpper(),
                    rules.newName(fileName(files[i].url), i));
    return plan;
}

QStringList performRename(const RenamePlan &plan, QList<RenameFile> &files)
{
    QStringList errors;
    for (auto it = plan.cbegin(); it != plan.cend(); ++it) {
        const QUuid id = QUuid::fromString(it.key());
        if (id.isNull())
            continue;
        RenameFile *file = nullptr;
        for (RenameFile &candidate : files)
            if (candidate.id == id) {
                file = &candidate;
                break;
            }
        if (!file)
            continue;

        const QByteArray oldPath = FilePath::bytes(file->url);
        const QByteArray oldName = FileOps::lastComponent(oldPath);
        const QString oldDisplay = QFile::decodeName(oldName);
        const QString &newName = it.value();
        if (const QString reason = RenameEngine::invalidNameReason(newName); !reason.isEmpty()) {
            errors.append(oldDisplay + QStringLiteral(": ") + reason);
            continue;
        }
        const QByteArray newNameBytes = FileOps::encodeName(newName);
        if (newNameBytes == oldName)
            continue;
        const QByteArray folder = FileOps::parentPath(oldPath);
        const QByteArray newPath = (folder == "/" ? QByteArray() : folder) + '/' + newNameBytes;

        if (const int err = FileOps::renameNoReplace(oldPath, newPath)) {
            errors.append(oldDisplay + QStringLiteral(": ") + describeMoveError(err, newName));
            continue;
        }
        file->url = FilePath::urlFromBytes(newPath);
        file->bookmarkData = FileBookmark::create(file->url);
    }
    return errors;
}

QString counterText(const RenamePreset &preset, qint64 index)
{
    const qint64 n = saturatingCounter(preset.counterStart, index, preset.counterStep);
    // Names are at most 255 bytes; a wider padding could only make them fail.
    const int pad = qBound(0, preset.counterPad, 255);
    return QString::number(n).rightJustified(pad, u'0');
}

QString sequenceHint(const RenamePreset &preset)
{
    QStringList numbers;
    for (int i = 0; i < 4; ++i)
        numbers.append(counterText(preset, i));
    return QStringLiteral("Sequence: ") + numbers.join(QStringLiteral(", ")) + QStringLiteral("…");
}

QString exampleHint(const RenamePreset &preset)
{
    const QString number = counterText(preset, 0);
    if (preset.counterPosition == CounterPosition::prefix)
        return QStringLiteral("Example: ") + number + preset.counterSep + QStringLiteral("filename.ext");
    return QStringLiteral("Example: filename") + preset.counterSep + number + QStringLiteral(".ext");
}

QString presetRendering(const RenamePreset &p)
{
    // Unit separators keep fields apart whatever text the user typed.
    const QChar sep(0x1F);
    QStringList parts{
        p.isAdvanced ? QStringLiteral("A") : QStringLiteral("S"),
        QString::number(p.trimHead),
        QString::number(p.trimTail),
        p.findText,
        p.replaceWith,
        QString::number(p.useRegex),
        QString::number(p.caseSensitive),
        rawValue(p.caseMode),
        p.prefix,
        p.suffix,
        QString::number(p.useCounter),
        rawValue(p.counterPosition),
        p.counterSep,
        QString::number(p.counterStart),
        QString::number(p.counterStep),
        QString::number(p.counterPad),
        QString::number(p.keepExt),
    };
    return parts.join(sep);
}

RenamePreviewSignature previewSignature(const QList<RenameFile> &files, const RenamePreset &preset)
{
    RenamePreviewSignature sig;
    sig.fileCount = files.size();
    if (!files.isEmpty()) {
        sig.firstFileID = files.first().id;
        sig.firstFilePath = files.first().url.toString(QUrl::FullyEncoded);
        sig.lastFileID = files.last().id;
        sig.lastFilePath = files.last().url.toString(QUrl::FullyEncoded);
    }
    sig.preset = presetRendering(preset);
    return sig;
}

} // namespace RenameEngine
