#include "model/ShelfLookup.h"

std::optional<QUuid> findShelfByNameOrId(const QList<Shelf> &shelves, const QString &query, QString *error)
{
    if (const std::optional<QUuid> id = parseUuid(query)) {
        for (const Shelf &shelf : shelves)
            if (shelf.id == *id)
                return shelf.id;
    }
    for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
        QList<QUuid> hits;
        for (const Shelf &shelf : shelves)
            if (shelf.name.compare(query, cs) == 0)
                hits.append(shelf.id);
        if (hits.size() == 1)
            return hits.first();
        if (hits.size() > 1) {
            if (error)
                *error = QStringLiteral("%1 shelves are called \"%2\"; name it by its id").arg(hits.size()).arg(query);
            return std::nullopt;
        }
    }
    if (error)
        *error = QStringLiteral("no shelf \"%1\"").arg(query);
    return std::nullopt;
}
