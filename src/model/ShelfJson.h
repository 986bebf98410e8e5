#pragma once

#include "model/Shelf.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

// The JSON form of the shelf records: the content of "shelves.json" and of the two id files.
//
// Writing is compact; optional values are left out when empty; ids are written in upper
// case. Reading follows the rules of each record: the identity, name, colour, icon, folder
// and files of a shelf are required (a missing or ill-typed one fails the shelf, and so the
// whole list), the favorites and their display mode have defaults, and the three tuck
// fields are read leniently (anything unusable simply means "not tucked").
namespace ShelfJson {

// One record each way. Decoders return nothing on failure and, when `error` is given,
// say which key failed.
QJsonObject encode(const ShelfColorData &color);
QJsonObject encode(const ShelfFile &file);
QJsonObject encode(const ShelfFavoriteDestination &destination);
QJsonObject encode(const ShelfFavoriteAction &favorite);
QJsonObject encode(const Shelf &shelf);

std::optional<ShelfColorData> decodeColor(const QJsonValue &value, QString *error = nullptr);
std::optional<ShelfFile> decodeFile(const QJsonValue &value, QString *error = nullptr);
std::optional<ShelfFavoriteDestination> decodeDestination(const QJsonValue &value, QString *error = nullptr);
std::optional<ShelfFavoriteAction> decodeFavorite(const QJsonValue &value, QString *error = nullptr);
// Creates nothing: the shelf's folder is made from its id by the shelf manager.
std::optional<Shelf> decodeShelf(const QJsonValue &value, QString *error = nullptr);

// "shelves.json": a compact JSON array of shelves, in list order.
QByteArray encodeShelves(const QList<Shelf> &shelves);
// The reader looks at up to this many bytes past the end of the text. When the caller can
// say that at least this many readable bytes follow it (`readableAfterEnd`; the rest of a
// mapped file's last page, say), the text is read where it lies, else from a copy.
inline constexpr qsizetype kReadPadding = 64;
// Fails as a whole when the text is not a JSON array or any entry fails.
// Large lists are decoded on several threads. A UTF-8 byte-order mark at the start is skipped.
std::optional<QList<Shelf>> decodeShelves(QByteArrayView json, QString *error = nullptr,
                                          qsizetype readableAfterEnd = 0);

// "openShelves.json" / "hidden-shelf-ids.json": an array of upper-case id strings.
QByteArray encodeIdSet(const QSet<QUuid> &ids);
// Strings that are not ids are skipped; nothing when the text is not a JSON array.
std::optional<QSet<QUuid>> decodeIdSet(const QByteArray &json);

} // namespace ShelfJson
