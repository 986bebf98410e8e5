#pragma once

#include "model/Shelf.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

class PresetStore;

// The rules of favorite buttons that need no window: texts, the files a click takes, what
// a new favorite looks like, and how a shell command names a favorite.
namespace FavoriteRules {

// The tool's name in messages, sheet titles and the folder chooser: "Zip", "Rename",
// "Flatten", "Convert".
QString toolDisplayName(ShelfFavoriteToolKind tool);
// "The saved Zip preset could not be found." and its siblings.
QString missingPresetMessage(ShelfFavoriteToolKind tool);
// The title of a failed run's alert: "Export Failed" (Zip), "Rename Favorite Failed",
// "Flatten Favorite Failed", "Convert Favorite Failed".
QString failureTitle(ShelfFavoriteToolKind tool);
// The symbol drawn on a button of that tool.
QString toolSymbol(ShelfFavoriteToolKind tool);

// The favorite's name: its custom label when set and not empty, else the preset name.
QString label(const ShelfFavoriteAction &favorite);
// The button text: the name, followed by " (Missing Preset)" when the preset is gone.
QString buttonText(const ShelfFavoriteAction &favorite, bool presetMissing);
// True when the tool's preset list holds the favorite's preset.
bool presetExists(const PresetStore &store, const ShelfFavoriteAction &favorite);

// The pinning menus, in their order (Zip, Rename, Convert, Flatten), with their titles
// ("Pin Zip Favorite" …) and the text shown when the tool has no presets ("No zip presets yet" …).
QList<ShelfFavoriteToolKind> pinMenuOrder();
QString pinMenuTitle(ShelfFavoriteToolKind tool);
QString noPresetsText(ShelfFavoriteToolKind tool);
// The presets a favorite can be pinned to: (id, name) in the store's order.
struct PresetChoice {
    QUuid id;
    QString name;
};
QList<PresetChoice> presetChoices(const PresetStore &store, ShelfFavoriteToolKind tool);

// A favorite newly pinned to a preset: a new id, the preset's id and name, the selection
// (or all files) as scope, and no destination for Rename, "ask each time" for the others.
ShelfFavoriteAction pinned(ShelfFavoriteToolKind tool, const QUuid &presetId, const QString &presetName);

// The files a click takes, in shelf order: all of them, or the selected ones (all when none
// is selected). Empty: the click does nothing.
QList<ShelfFile> filesForClick(ShelfFavoriteScope scope, const QList<ShelfFile> &shelfFiles,
                               const QSet<QUuid> &selected);

// The header's compact status: "Running: " and the label, then " · 2 more queued" when runs wait.
QString compactStatus(const QString &runningLabel, int queued);

// The favorite a shell command names: by its name (custom label or preset name, as on the
// button), by its preset's name, or by its 1-based position. Returns its index, or nothing
// with one line in `error`.
std::optional<qsizetype> findFavorite(const QList<ShelfFavoriteAction> &favorites, const QString &query,
                                      QString *error);

} // namespace FavoriteRules
