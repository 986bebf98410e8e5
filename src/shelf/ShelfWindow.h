#pragma once

#include <QPoint>
#include <QPointer>
#include <QUuid>
#include <QWidget>

class ShelfManager;
class QTimer;

// One open shelf: a frameless, always-on-top panel showing the shelf's header and files.
//
// The application creates a ShelfWindow for every shelf it opens and calls present(); the
// window applies the process-wide placement requests (shelf/WindowPlacement.h) and shows
// itself. When it is closed (by the user, by "close when empty", or because its shelf was
// deleted) it tells the manager `closeShelf` unless the program is quitting, and deletes
// itself (WA_DeleteOnClose).
//
// Window identity: objectName() and windowTitle() are "perchbox-shelf-" followed by the
// shelf's upper-case UUID; the X11 WM_CLASS instance name is the same string, so
// `xdotool search --name perchbox-shelf-` finds every shelf window.
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

    // While the program quits, closing windows keep their shelves in the open list so
    // they come back at the next start. The application sets this before quitting.
    static void setTerminating(bool terminating);
    static bool isTerminating();

    // True while the pointer is over this window: the keyboard shortcuts act only then.
    bool isHoveredForPaste() const { return m_hovered; }

    // Re-applies the look of the current theme (background, corners, fonts). Called on
    // every open window when the theme setting changes.
    void applyTheme();

signals:
    // The grip was pressed / released (the tuck manager listens to these).
    void gripDragBegan();
    void gripDragEnded();
    // Emitted from closeEvent, before the window is deleted.
    void shelfWindowClosed(const QUuid &shelfId);

protected:
    void closeEvent(QCloseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    friend class ShelfGrip;
    void applyCornerRadius();
    void startCornerTimer();
    void updateMask();

    ShelfManager &m_manager;
    QUuid m_shelfId;
    bool m_hovered = false;
    bool m_closing = false;
    QTimer *m_cornerTimer = nullptr;
    int m_cornerTicks = 0;
    class ShelfContentView *m_content = nullptr;
};
