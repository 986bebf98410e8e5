#include "model/Shelf.h"

#include "model/ShelfFolder.h"
#include "platform/FileBookmark.h"
#include "platform/FilePath.h"

#include <QFile>

ShelfFavoriteDestinationMode destinationModeFromRaw(QStringView raw)
{
    if (raw == u"none")
        return ShelfFavoriteDestinationMode::none;
    if (raw == u"savedFolder")
        return ShelfFavoriteDestinationMode::savedFolder;
    // "askEachTime", the former "usePresetFolder" and anything unknown.
    return ShelfFavoriteDestinationMode::askEachTime;
}

ShelfFavoriteDestinationMode defaultDestinationMode(ShelfFavoriteToolKind tool)
{
    return tool == ShelfFavoriteToolKind::rename ? ShelfFavoriteDestinationMode::none
                                                 : ShelfFavoriteDestinationMode::askEachTime;
}

QString uuidString(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

static bool isHex(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

std::optional<QUuid> parseUuid(QStringView text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < 36; ++i) {
        const char16_t c = text[i].unicode();
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != u'-')
                return std::nullopt;
        } else if (!isHex(c)) {
            return std::nullopt;
        }
    }
    return QUuid::fromString(text);
}

QUrl ShelfFile::resolvedURL() const
{
    return FileBookmark::resolvedUrl(bookmarkData, url);
}

QUrl ShelfFavoriteDestination::resolvedURL() const
{
    if (!bookmarkData.isEmpty()) {
        const FileBookmark::Resolution r = FileBookmark::resolve(bookmarkData);
        if (!r.url.isEmpty())
            return r.url;
    }
    QByteArray bytes = QFile::encodeName(path);
    if (!bytes.endsWith('/'))
        bytes += '/';
    return FilePath::urlFromBytes(bytes);
}

Shelf Shelf::make(const QString &name, const ShelfColorData &color, const QString &icon)
{
    Shelf shelf;
    shelf.id = QUuid::createUuid();
    shelf.name = name;
    shelf.colorData = color;
    shelf.icon = icon;
    shelf.folderURL = shelfFolderURL(shelf.id);
    return shelf;
}
