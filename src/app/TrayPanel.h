#pragma once

#include <QListView>
#include <QStyledItemDelegate>
#include <QUuid>
#include <QWidget>

#include <functional>

class AppDelegate;
class AppSettings;
class QLabel;
class QPushButton;
class ShelfListModel;
class ShelfManager;

// One row of the shelf list: drag handle, tinted shelf icon, name, default star, hide and
// remove buttons. Buttons are drawn by the delegate and hit-tested by the view.
class ShelfRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    enum class Part { none, handle, star, hide, remove, body };

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // Which part of a row (with rectangle `rect`) lies under `pos`.
    static Part partAt(const QRect &rect, const QPoint &pos, const QModelIndex &index);
    static QRect partRect(const QRect &rect, Part part);
};

// The list view: click opens, the buttons act, dragging by the handle reorders.
class ShelfListView : public QListView
{
    Q_OBJECT
public:
    explicit ShelfListView(QWidget *parent = nullptr);

signals:
    void openRequested(const QUuid &id);
    void hideRequested(const QUuid &id);
    void removeRequested(const QUuid &id);
    void moveRequested(int from, int to);
    void hovered(const QUuid &id);
    void contextMenuRequestedFor(const QUuid &id, const QPoint &globalPos);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    int m_dragRow = -1;
    QModelIndex m_pressed;
    ShelfRowDelegate::Part m_pressedPart = ShelfRowDelegate::Part::none;
    QUuid m_lastHovered;
};

// The tray panel: the header "Perchbox" (with a warning while global shortcuts cannot
// work), the shelf list or "No shelves yet", and the footer commands.
class TrayPanel : public QWidget
{
    Q_OBJECT
public:
    TrayPanel(AppDelegate &delegate, QWidget *parent = nullptr);

    ShelfListModel *model() const { return m_model; }
    ShelfListView *view() const { return m_view; }

    // Builds the row context menu of a shelf (also used by tests to check the entries).
    class QMenu *makeContextMenu(const QUuid &id, QWidget *parent);

    // Opens the shortcut recorder for a shelf ("Set Custom Shortcut…"); the entry is
    // disabled while no recorder is installed.
    void setShortcutEditor(std::function<void(QWidget *parent, const QUuid &id)> editor)
    {
        m_shortcutEditor = std::move(editor);
    }

    // Asks "Remove all shelves?"; on "Remove All" deletes every shelf.
    void confirmRemoveAll();
    // The rename dialog ("Rename Shelf", field "Shelf name", "Rename" / "Cancel").
    void renameShelf(const QUuid &id);

signals:
    void openSettingsRequested();
    void checkForUpdatesRequested();
    void tutorialRequested();
    void quitRequested();
    void inputMonitoringRequested();
    // The panel should go away (after a command that opened something else).
    void dismissRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void updateEmptyState();
    void updateWarning();

    AppDelegate &m_delegate;
    ShelfManager &m_manager;
    AppSettings &m_settings;
    ShelfListModel *m_model = nullptr;
    ShelfListView *m_view = nullptr;
    QLabel *m_empty = nullptr;
    QPushButton *m_warning = nullptr;
    std::function<void(QWidget *, const QUuid &)> m_shortcutEditor;
};
