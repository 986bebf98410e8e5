#pragma once

#include "model/RawEnum.h"

#include <QAnyStringView>
#include <QByteArray>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <QUuid>

#include <optional>

// The plain values that describe a shelf, the files on it and the favorite buttons pinned
// to it. They are copied on assignment; the ShelfManager owns the list of shelves and every
// other part edits shelves through it. Their JSON form is in model/ShelfJson.h.

// ---- enumerations (stored by raw string) ----

enum class TuckEdge { left, right };
PERCHBOX_RAW_ENUM(TuckEdge, {TuckEdge::left, "left"}, {TuckEdge::right, "right"});

enum class ShelfFavoriteToolKind { archive, flatten, rename, convert };
PERCHBOX_RAW_ENUM(ShelfFavoriteToolKind,
                  {ShelfFavoriteToolKind::archive, "archive"},
                  {ShelfFavoriteToolKind::flatten, "flatten"},
                  {ShelfFavoriteToolKind::rename, "rename"},
                  {ShelfFavoriteToolKind::convert, "convert"});

enum class ShelfFavoriteScope { selectionOrAll, allFiles };
PERCHBOX_RAW_ENUM(ShelfFavoriteScope,
                  {ShelfFavoriteScope::selectionOrAll, "selectionOrAll"},
                  {ShelfFavoriteScope::allFiles, "allFiles"});

enum class ShelfFavoriteDestinationMode { none, askEachTime, savedFolder };
PERCHBOX_RAW_ENUM(ShelfFavoriteDestinationMode,
                  {ShelfFavoriteDestinationMode::none, "none"},
                  {ShelfFavoriteDestinationMode::askEachTime, "askEachTime"},
                  {ShelfFavoriteDestinationMode::savedFolder, "savedFolder"});

enum class ShelfFavoriteButtonDisplayMode { iconAndName, iconOnly, nameOnly };
PERCHBOX_RAW_ENUM(ShelfFavoriteButtonDisplayMode,
                  {ShelfFavoriteButtonDisplayMode::iconAndName, "iconAndName"},
                  {ShelfFavoriteButtonDisplayMode::iconOnly, "iconOnly"},
                  {ShelfFavoriteButtonDisplayMode::nameOnly, "nameOnly"});

// The enumerations can key a QSet or QHash.
inline size_t qHash(TuckEdge v, size_t seed = 0) noexcept { return ::qHash(int(v), seed); }
inline size_t qHash(ShelfFavoriteToolKind v, size_t seed = 0) noexcept { return ::qHash(int(v), seed); }
inline size_t qHash(ShelfFavoriteScope v, size_t seed = 0) noexcept { return ::qHash(int(v), seed); }
inline size_t qHash(ShelfFavoriteDestinationMode v, size_t seed = 0) noexcept { return ::qHash(int(v), seed); }
inline size_t qHash(ShelfFavoriteButtonDisplayMode v, size_t seed = 0) noexcept { return ::qHash(int(v), seed); }

// The destination mode is read leniently: older files say "usePresetFolder", and any
// string we do not know means "ask each time".
ShelfFavoriteDestinationMode destinationModeFromRaw(QStringView raw);

// The destination mode a favorite gets when its stored form has none.
ShelfFavoriteDestinationMode defaultDestinationMode(ShelfFavoriteToolKind tool);

// ---- identifiers ----

// The canonical upper-case 8-4-4-4-12 form used in files, settings and window identifiers.
QString uuidString(const QUuid &id);
// Parses the canonical form in either case; anything else (braces, other lengths) fails.
std::optional<QUuid> parseUuid(QAnyStringView text);

// ---- values ----

// A colour as extended-sRGB components; not clamped (values outside 0…1 are allowed).
// Conversion to and from QColor is in model/ShelfColor.h (it needs Qt GUI).
struct ShelfColorData {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 1;

    // The standard blue of new shelves and the fallback for colours without an RGB form.
    static ShelfColorData systemBlue() { return {0.0, 122.0 / 255.0, 1.0, 1.0}; }

    bool operator==(const ShelfColorData &) const = default;
};

struct ShelfFile {
    QUuid id;
    QUrl url;              // where the file was when it was added
    QUrl sourceURL;        // empty: none
    QByteArray bookmarkData; // empty: none

    // The URL the bookmark leads to now, or `url` when there is no bookmark or it fails.
    // Every file operation on a shelf file goes through this.
    QUrl resolvedURL() const;

    // Entries are the same entry when id and url agree; the bookmark and source do not count.
    bool operator==(const ShelfFile &other) const { return id == other.id && url == other.url; }
};

struct ShelfFavoriteDestination {
    QString path;             // a POSIX path
    QByteArray bookmarkData;  // empty: none

    // The bookmark's folder, or a directory URL made from `path`.
    QUrl resolvedURL() const;

    bool operator==(const ShelfFavoriteDestination &) const = default;
};

struct ShelfFavoriteAction {
    QUuid id;
    ShelfFavoriteToolKind tool = ShelfFavoriteToolKind::archive;
    QUuid presetID;
    QString presetName;
    ShelfFavoriteScope scope = ShelfFavoriteScope::selectionOrAll;
    ShelfFavoriteDestinationMode destinationMode = ShelfFavoriteDestinationMode::askEachTime;
    std::optional<ShelfFavoriteDestination> destination;
    std::optional<QString> customLabel;

    bool operator==(const ShelfFavoriteAction &) const = default;
};

// Where a free-floating shelf window was last: its top-left corner in the desktop's
// logical pixels (origin top left, y downward) and the name of the screen it was on.
// Stored under "windowPosition", a key older versions skip.
struct ShelfWindowPosition {
    int x = 0;
    int y = 0;
    QString screen;

    bool operator==(const ShelfWindowPosition &) const = default;
};

struct Shelf {
    QUuid id;
    QString name;
    ShelfColorData colorData;
    QString icon;
    QUrl folderURL;
    QList<ShelfFile> files;
    QList<ShelfFavoriteAction> favorites;
    ShelfFavoriteButtonDisplayMode favoriteButtonDisplayMode = ShelfFavoriteButtonDisplayMode::iconAndName;
    std::optional<TuckEdge> tuckedEdge;
    std::optional<QString> tuckedScreenID;
    std::optional<QString> tuckedScreenName;
    std::optional<ShelfWindowPosition> windowPosition;

    bool operator==(const Shelf &) const = default;

    // A new shelf: fresh id, its folder created, no files, no favorites, not tucked.
    static Shelf make(const QString &name, const ShelfColorData &color, const QString &icon);
};

// QUuid, QUrl, QByteArray and QString move by memcpy; so do records made of them.
Q_DECLARE_TYPEINFO(ShelfFile, Q_RELOCATABLE_TYPE);

// Default names and icons of the shelves the application makes.
namespace ShelfDefaults {
inline const QString newShelfName = QStringLiteral("New Shelf");
inline const QString newShelfIcon = QStringLiteral("tray");
inline const QString inboxName = QStringLiteral("Inbox");
inline const QString inboxIcon = QStringLiteral("tray.fill");
inline const QString screenshotsName = QStringLiteral("Screenshots");
inline const QString screenshotsIcon = QStringLiteral("photo");
} // namespace ShelfDefaults
