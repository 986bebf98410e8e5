#pragma once

#include "model/Shelf.h"

#include <QString>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <optional>

class QMenu;
class QWidget;
class PresetStore;
class ShelfManager;

// Pinning favorites and editing them: the "Favorites" menus (the header's submenu and the
// star menu of the favorites bar), each button's context menu, and the sheets they open.
// Every edit goes into the shelf record and the shelf list is saved at once.
namespace FavoriteEditing {

// "Pin Zip Favorite", "Pin Rename Favorite", "Pin Convert Favorite", "Pin Flatten Favorite"
// (each listing the tool's presets, or saying there are none) and "Button Appearance".
void fillFavoritesMenu(QMenu *menu, ShelfManager &manager, const PresetStore &presets, const QUuid &shelfId);

// ---- edits ----
// Appends a favorite pinned to the preset; returns it.
ShelfFavoriteAction pin(ShelfManager &manager, const QUuid &shelfId, ShelfFavoriteToolKind tool,
                        const QUuid &presetId, const QString &presetName);
void setDisplayMode(ShelfManager &manager, const QUuid &shelfId, ShelfFavoriteButtonDisplayMode mode);
// Runs `edit` on the favorite; false when it is no longer on the shelf.
bool updateFavorite(ShelfManager &manager, const QUuid &shelfId, const QUuid &favoriteId,
                    const std::function<void(ShelfFavoriteAction &)> &edit);
void unpin(ShelfManager &manager, const QUuid &shelfId, const QUuid &favoriteId);
// The output goes to `folder` from now on (kept with a bookmark).
void setSavedFolder(ShelfManager &manager, const QUuid &shelfId, const QUuid &favoriteId, const QUrl &folder);
// An empty or missing label means the preset name.
void setLabel(ShelfManager &manager, const QUuid &shelfId, const QUuid &favoriteId,
              const std::optional<QString> &label);

// ---- the button's context menu ----
struct ButtonMenuActions {
    // Folder choosers and sheets; the desktop's by default (tests answer directly).
    std::function<std::optional<QUrl>(QWidget *parent, const QString &title)> chooseFolder;
    enum class OutputChoice { savedFolder, askEachTime, cancel };
    std::function<OutputChoice(QWidget *parent, const QString &toolName)> askOutput;
    // The label sheet: a new label (empty: the preset name), or nothing when cancelled.
    std::function<std::optional<QString>(QWidget *parent, const QString &current, const QString &presetName)> askLabel;

    static ButtonMenuActions desktop();
};
// The output choice (not for Rename, which renames in place), "Choose Saved Folder…",
// "Label…" and "Unpin Favorite", for the favorite with that id.
void fillButtonMenu(QMenu *menu, QWidget *parent, ShelfManager &manager, const QUuid &shelfId,
                    const QUuid &favoriteId, const ButtonMenuActions &actions = ButtonMenuActions::desktop());

} // namespace FavoriteEditing
