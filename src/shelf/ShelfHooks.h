#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <functional>

class QMenu;
class QWidget;
class ShelfProgressRingButton;
class ShelfProgressState;

// Entry points that shelf windows call into other parts of the application (tools, tuck
// manager, hot keys, favorites, progress). Each part installs its function at start-up;
// a menu entry or button whose hook is not installed is hidden.
//
// `files` are the resolved file URLs of the targets in shelf order.
struct ShelfHooks {
    using ToolHook = std::function<void(QWidget *shelfWindow, const QUuid &shelfId,
                                         const QList<QUrl> &files)>;
    ToolHook openZip;         // "Zip…"
    ToolHook openBatchRename; // "Rename…"
    ToolHook openFlatten;     // "Flatten to Folder…"
    ToolHook openConvert;     // "Convert…"

    // True while a tool runs on the shelf (its progress state is not idle): an empty
    // shelf then does not close itself.
    std::function<bool(const QUuid &shelfId)> isToolRunning;
    // The progress state of the tools running on a shelf, shown by the header's ring.
    std::function<ShelfProgressState *(const QUuid &shelfId)> progressState;

    // Tuck manager: registration of a shelf window, and the header's edge actions.
    std::function<void(QWidget *shelfWindow, const QUuid &shelfId)> registerWindow;
    std::function<void(const QUuid &shelfId)> unregisterWindow;
    std::function<void(QWidget *shelfWindow, const QUuid &shelfId)> tuckLeft;
    std::function<void(QWidget *shelfWindow, const QUuid &shelfId)> tuckRight;
    std::function<void(QWidget *shelfWindow, const QUuid &shelfId)> floatFreely;

    // Per-shelf hot key: the text of the current combination ("" when none), and the
    // header menu's "Set/Change Custom Shortcut…" and "Clear Shortcut (…)".
    std::function<QString(const QUuid &shelfId)> shortcutText;
    std::function<void(QWidget *shelfWindow, const QUuid &shelfId)> editShortcut;
    std::function<void(const QUuid &shelfId)> clearShortcut;

    // Favorites: fills the header menu's "Favorites" submenu; makes the favorites bar of
    // the header (its second row), which also gives the header's ring its favorite side.
    std::function<void(QMenu *favoritesMenu, QWidget *shelfWindow, const QUuid &shelfId)>
        fillFavoritesMenu;
    std::function<QWidget *(QWidget *shelfWindow, const QUuid &shelfId, ShelfProgressRingButton *ring)>
        makeFavoritesBar;
};

// The one set of hooks of the process.
ShelfHooks &shelfHooks();
