#pragma once

#include "model/Shelf.h"
#include "settings/SettingsEnums.h"

#include <QColor>
#include <QFrame>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QToolButton;
class QPushButton;
class ShelfManager;
class ShelfProgressRingButton;

// The window grip: pressing and dragging it moves the shelf window so that the window's
// top edge stays under the pointer (even while the shelf grows).
class ShelfGrip : public QWidget
{
    Q_OBJECT
public:
    explicit ShelfGrip(QWidget *parent = nullptr);
    QSize sizeHint() const override { return {36, 10}; }

signals:
    void dragBegan();
    void dragEnded();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPoint m_pressGlobal;
    QPoint m_windowAtPress;
    bool m_dragging = false;
};

// The stack handle: drags the given files out as one stack (copy offered; with the drag
// mode "move" the files leave the shelf after a drop that did something).
class StackDragHandle : public QWidget
{
    Q_OBJECT
public:
    explicit StackDragHandle(QWidget *parent = nullptr);
    std::function<QList<ShelfFile>()> files;
    std::function<DragMode()> dragMode;
    QUuid shelfId; // named in the drag marker
    QColor iconColor = Qt::black;
    QSize sizeHint() const override { return {22, 18}; }

signals:
    void moveCompleted(const QList<ShelfFile> &files);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPointF m_press;
    bool m_hasPress = false;
    bool m_dragStarted = false;
};

// Header of a shelf window: grip, icon, name (click to rename), default-shelf star, stack
// handle, the progress ring (its idle face opens the customizer), edge and hide buttons,
// the favorites bar below them, and the header context menu.
class ShelfHeader : public QWidget
{
    Q_OBJECT
public:
    ShelfHeader(ShelfManager &manager, const QUuid &shelfId, QWidget *window);

    void refresh(); // from the shelf record and the settings
    ShelfGrip *grip() const { return m_grip; }
    StackDragHandle *stackHandle() const { return m_stack; }
    ShelfProgressRingButton *ring() const { return m_ring; }
    QWidget *favoritesBar() const { return m_favoritesBar; }
    // The ring's idle face says "Close customizer" while the customizer is open.
    void setCustomizerOpen(bool open);

signals:
    void customizerRequested();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void renameShelf();
    void elideName();
    void fillHeaderMenu(class QMenu *menu);

    ShelfManager &m_manager;
    QUuid m_shelfId;
    QWidget *m_window;
    ShelfGrip *m_grip;
    QLabel *m_icon;
    QPushButton *m_name;
    QString m_fullName; // the name button shows it elided to its width
    QLabel *m_star;
    StackDragHandle *m_stack;
    ShelfProgressRingButton *m_ring;
    QWidget *m_favoritesBar = nullptr;
    QToolButton *m_left;
    QToolButton *m_right;
    QToolButton *m_float;
    QToolButton *m_hide;
    QString m_iconKey;
    QColor m_iconColor;
};

// The colour and icon editor opened by the idle face of the header's ring.
class ShelfCustomizer : public QFrame
{
    Q_OBJECT
public:
    ShelfCustomizer(ShelfManager &manager, const QUuid &shelfId, QWidget *parent);

    // The ten preset colours in their order (blue, purple, pink, red, orange, yellow,
    // green, teal, indigo, gray) and the twelve icon names.
    static QList<QPair<QString, QColor>> presetColors();
    static QStringList iconNames();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void setColor(const QColor &color);
    void setIcon(const QString &name);
    void rebuildRecent();

    ShelfManager &m_manager;
    QUuid m_shelfId;
    QWidget *m_recentRow = nullptr;
    std::optional<QColor> m_pickedCustom;
};
