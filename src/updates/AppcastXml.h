#pragma once

#include <QByteArray>
#include <QString>
#include <QXmlStreamAttributes>

// Reads an appcast (an RSS document) event by event, the way an event-driven XML parser
// hands it to its delegate. Feeds come from the network, so the reader is strict: a
// document with a DTD (and so any entity declaration or external entity) is refused as
// malformed, and nothing outside the document is ever fetched.
namespace AppcastXml {

class Handler
{
public:
    virtual ~Handler() = default;
    // Element names are the qualified names as written ("sparkle:shortVersionString").
    virtual void elementStarted(const QString &qualifiedName, const QXmlStreamAttributes &attributes) = 0;
    // Text between tags; `cdata` when it came from a CDATA section.
    virtual void charactersFound(const QString &text, bool cdata) = 0;
    virtual void elementEnded(const QString &qualifiedName) = 0;
};

// Parses `data`, calling `handler` for each event. False when the document is not
// well-formed XML or has a DTD; the events before the fault have been delivered.
bool parse(const QByteArray &data, Handler &handler);

} // namespace AppcastXml
