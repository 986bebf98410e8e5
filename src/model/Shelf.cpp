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

std::optional<QUuid> parseUuid(QAnyStringView text)
{
    // QUuid::fromString checks the 8-4-4-4-12 form; braces, which it also takes, do not fit
    // in 36 characters.
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    // A null result is a failure, unless the text is the nil id itself.
    if (id.isNull() && !QAnyStringView::equal(text, QLatin1StringView("00000000-0000-0000-0000-000000000000")))
        return std::nullopt;
    return id;
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
