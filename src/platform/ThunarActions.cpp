#include "platform/ThunarActions.h"

#include <QList>
#include <QStringDecoder>
#include <QXmlStreamReader>

namespace ThunarActions {

QByteArray actionElement(const QString &name, const QString &submenu, const QString &uniqueId,
                         const QString &command, const QString &description)
{
    const auto text = [](const QString &s) { return s.toHtmlEscaped().toUtf8(); };
    return "<action>\n"
           "\t<icon>perchbox</icon>\n"
           "\t<name>" + text(name) + "</name>\n"
           "\t<submenu>" + text(submenu) + "</submenu>\n"
           "\t<unique-id>" + text(uniqueId) + "</unique-id>\n"
           "\t<command>" + text(command) + "</command>\n"
           "\t<description>" + text(description) + "</description>\n"
           "\t<range></range>\n"
           "\t<patterns>*</patterns>\n"
           "\t<directories/>\n"
           "\t<audio-files/>\n"
           "\t<image-files/>\n"
           "\t<other-files/>\n"
           "\t<text-files/>\n"
           "\t<video-files/>\n"
           "</action>\n";
}

bool replaceOurs(const QByteArray &existing, const std::function<bool(const QString &uniqueId)> &isOurs,
                 const QByteArray &block, QByteArray *result)
{
    result->clear();
    QByteArray source = existing;
    if (source.trimmed().isEmpty())
        source = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n";

    // Find our <action> elements and the closing </actions> by their offsets in the text, so
    // that everything else (the user's actions, comments, formatting) stays byte for byte.
    // Text that is not UTF-8 would come back with its bytes replaced: such a file is not
    // one we can read.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(source);
    if (decoder.hasError())
        return false;
    QXmlStreamReader reader(text);
    struct Range { qint64 begin; qint64 end; };
    QList<Range> ours;
    qint64 closingAt = -1;   // where "</actions>" begins
    bool selfClosing = false; // "<actions/>"
    qint64 actionBegin = -1;
    bool inUniqueId = false;
    QString uniqueId;
    int depth = 0;
    bool rootSeen = false;
    // The reader's offset is exact right after a tag's ">", so every position is found from
    // the end of a tag backwards.
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        const qint64 after = reader.characterOffset();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (depth == 1) {
                if (reader.name() != QLatin1String("actions"))
                    return false;
                rootSeen = true;
            } else if (depth == 2 && reader.name() == QLatin1String("action")) {
                actionBegin = text.lastIndexOf(QLatin1String("<action"), after - 1);
                uniqueId.clear();
            } else if (depth == 3 && reader.name() == QLatin1String("unique-id")) {
                inUniqueId = true;
            }
        } else if (token == QXmlStreamReader::Characters && inUniqueId) {
            uniqueId += reader.text();
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 3)
                inUniqueId = false;
            if (depth == 2 && reader.name() == QLatin1String("action") && isOurs(uniqueId.trimmed())
                && actionBegin >= 0) {
                qint64 end = after;
                // Take the line break after our element with it.
                if (end < text.size() && text.at(end) == QLatin1Char('\n'))
                    ++end;
                ours.append({actionBegin, end});
            }
            if (depth == 1) {
                selfClosing = text.mid(after - 2, 2) == QLatin1String("/>");
                closingAt = selfClosing ? text.lastIndexOf(QLatin1String("<actions"), after - 1)
                                        : text.lastIndexOf(QLatin1String("</actions"), after - 1);
            }
            --depth;
        }
    }
    if (reader.hasError() || !rootSeen || closingAt < 0)
        return false;

    QString out;
    qint64 pos = 0;
    for (const Range &r : ours) {
        out += text.mid(pos, r.begin - pos);
        pos = r.end;
    }
    const QString actions = QString::fromUtf8(block);
    if (selfClosing && actions.isEmpty()) {
        // Nothing of ours was in "<actions/>" and nothing goes in: it stays as it is.
        out += text.mid(pos);
    } else if (selfClosing) {
        // "<actions/>": there is nothing of the user's inside; write the element out in full.
        out += text.mid(pos, closingAt - pos);
        out += QStringLiteral("<actions>\n") + actions + QStringLiteral("</actions>");
        out += text.mid(text.indexOf(QLatin1String("/>"), closingAt) + 2);
    } else {
        out += text.mid(pos, closingAt - pos);
        if (!actions.isEmpty() && !out.endsWith(QLatin1Char('\n')))
            out += QLatin1Char('\n');
        out += actions;
        out += text.mid(closingAt);
    }
    *result = out.toUtf8();
    return true;
}

} // namespace ThunarActions
