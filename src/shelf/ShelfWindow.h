#pragma once

#include <QPoint>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include "model/Shelf.h"

#include <memory>
#include <optional>

class ShelfManager;
class QTimer;
class QMenu;
class QMimeData;

// One open shelf: a frameless, always-on-top panel showing the shelf's header and files.
//
// The application creates a ShelfWindow for every shelf it opens and calls present(); the
// window applies the process-wide placement requests (shelf/WindowPlacement.h) and shows
// itself. When it is closed (by the user, by "close when empty", or because its shelf was
// deleted) it tells the manager `closeShelf` unless the program is quitting, and deletes
// itself (WA_DeleteOnClose).
//
// Window identity: objectName() is "perchbox-shelf-" followed by the shelf's upper-case
// UUID; the X11 WM_CLASS instance name is the same string, so
// `xdotool search --classname perchbox-shelf-` finds every shelf window. The window title is
// the shelf's name.
//
// Position: where the window floats freely is kept in the shelf record ("windowPosition")
// when the user has moved it, when it hides and when it closes; a window that appears with
// no placement request goes back there (kept inside a screen that exists). A tucked shelf's
// place belongs to the tuck.
class ShelfWindow : public QWidget
{
    Q_OBJECT
public:
    ShelfWindow(ShelfManager &manager, const QUuid &shelfId, QWidget *parent = nullptr);
    ~ShelfWindow() override;

    QUuid shelfId() const { return m_shelfId; }
    ShelfManager &manager() const { return m_manager; }

    // "perchbox-shelf-" + the canonical upper-case UUID string.
    static QString identifierFor(const QUuid &shelfId);
    // The open window of a shelf, or nullptr.
    static ShelfWindow *find(const QUuid &shelfId);
    static QList<ShelfWindow *> openWindows();

    // Places the window (pending position / center next window / window manager's choice)
    // and shows it raised. Use this instead of show() for a window that appears.
    void present();
    // A new window for the shelf, presented: the program's shelf-window factory.
    static QWidget *createPresented(ShelfManager &manager, const QUuid &shelfId);

    // While the program quits, closing windows keep their shelves in the open list so
    // they come back at the next start. The application sets this before quitting.
    static void setTerminating(bool terminating);
    // While set, shelves that show do not take the focus (many shown at once; the caller
    // activates the last).
    static void setShowingInBatch(bool batch);
    static bool isTerminating();

    // True while the pointer is over this window: the keyboard shortcuts act only then.
    bool isHoveredForPaste() const;

    // Re-applies the look of the current theme (background, corners, fonts). Called on
    // every open window when the theme setting changes.
    void applyTheme();

    // While the tuck manager owns the window's frame (a tucked shelf: strip, peek, flight),
    // the window does not size itself to its content. fullSize() is the size the content
    // wants either way; a change of it is posted as "Perchbox.shelfSizeChanged".
    void setGeometryManaged(bool managed);
    bool isGeometryManaged() const { return m_geometryManaged; }
    QSize fullSize() const { return m_fullSize; }

    // Content operations (also used by the menus and tests).
    void paste();
    void selectAll();
    void clearSelection();
    void quickLook();
    // The selection and its anchor, in the rules of a shelf window.
    QList<QUuid> selectedFileIds() const;
    void clickFile(const QUuid &fileId, bool shift);
    // Files of the shelf with these ids, in shelf order.
    QList<ShelfFile> filesWithIds(const QList<QUuid> &ids) const;
    // Takes a drop or paste payload (what dropEvent does); returns the URLs handed to
    // addFiles (empty when nothing was taken).
    QList<QUrl> takeDrop(const QMimeData *data);
    // The file context menu for `fileId` (built, not shown).
    QMenu *buildFileMenu(const QUuid &fileId, QWidget *parent);
    // Removes entries (owned files deleted), as "Remove" does.
    void removeEntries(const QList<QUuid> &ids);
    // Moves the files to the trash in the background; failures stay and are reported.
    void trashEntries(const QList<QUuid> &ids);

    class ShelfFileView *fileView() const { return m_view; }
    class ShelfFileModel *fileModel() const { return m_model; }

signals:
    // The grip was pressed / released (the tuck manager listens to these).
    void gripDragBegan();
    void gripDragEnded();
    // Emitted from closeEvent, before the window is deleted.
    void shelfWindowClosed(const QUuid &shelfId);

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeWhereNothingElseDid();
    bool isTucked() const;
    void moveToRememberedPosition();
    void cascadeAwayFromOtherShelves();
    QList<QPoint> otherShelfPositions() const;
    void moveFromUnderFloatingWindows();
    void rememberPosition();
    std::optional<ShelfWindowPosition> freePosition() const;
    static void rememberAllPositions();
    void onGripDragEnded();
    void updateMask();
    void shelfChanged();
    void applyLayoutSettings();
    void updateSize();
    void syncSelection();
    void warmUpForSelection();
    void showFileMenu(const QUuid &fileId, const QPoint &globalPos);
    void showRowMenu(const QUuid &fileId, const QPoint &globalPos);
    void openCustomizer();
    void scheduleCloseWhenEmpty();
    bool acceptsPayload(const QMimeData *data) const;

    ShelfManager &m_manager;
    QUuid m_shelfId;
    bool m_closing = false;
    bool m_translucent = false;
    bool m_targeted = false;
    bool m_geometryManaged = false;
    QSize m_fullSize;
    int m_lastFileCount = -1;
    quint64 m_shownRevision = 0; // the manager's revision of the shelf last shown
    // Moving by the background (same rule as the grip).
    bool m_moving = false;
    QPoint m_movePressGlobal;
    QPoint m_moveWindowAtPress;
    std::optional<QPoint> m_freePosition;

    class ShelfHeader *m_header = nullptr;
    class ShelfFileModel *m_model = nullptr;
    class ShelfFileView *m_view = nullptr;
    QWidget *m_empty = nullptr;
    QPointer<class ShelfCustomizer> m_customizer;
    struct SelectionState;
    std::unique_ptr<SelectionState> m_selection;
};
