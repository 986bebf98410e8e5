#include "updates/AppcastXml.h"

#include <QXmlStreamReader>

namespace AppcastXml {

bool parse(const QByteArray &data, Handler &handler)
{
    QXmlStreamReader reader(data);
    // Element names as written, prefix included: no namespace processing.
    reader.setNamespaceProcessing(false);
    bool sawElement = false;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            // Entity declarations (and with them entity bombs and external entities) only
            // come with a DTD; an appcast never needs one.
            return false;
        case QXmlStreamReader::EntityReference:
            // An entity the document does not declare.
            return false;
        case QXmlStreamReader::StartElement:
            sawElement = true;
            handler.elementStarted(reader.qualifiedName().toString(), reader.attributes());
            break;
        case QXmlStreamReader::Characters:
            handler.charactersFound(reader.text().toString(), reader.isCDATA());
            break;
        case QXmlStreamReader::EndElement:
            handler.elementEnded(reader.qualifiedName().toString());
            break;
        default:
            break;
        }
    }
    return !reader.hasError() && sawElement;
}

} // namespace AppcastXml
