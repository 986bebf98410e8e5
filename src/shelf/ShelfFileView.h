#pragma once

#include "model/Shelf.h"
#include "settings/SettingsEnums.h"

#include <QListView>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>

class ShelfFileModel;

// Geometry of rows and cells for a layout and size.
struct ShelfFileMetrics {
    ShelfLayout layout = ShelfLayout::list;
    ShelfSize size = ShelfSize::compact;
    AppTheme theme = AppTheme::system;
    int windowWidth() const { return size == ShelfSize::compact ? 220 : 260; }
    int iconSize() const;   // list: 18 / 26; grid: 40 / 52
    int fontSize() const { return size == ShelfSize::compact ? 11 : 13; }
    QSize itemSize() const; // one row or cell
    static constexpr int removeButtonSize = 14;
    static constexpr int menuButtonSize = 14;
};

// Draws one file: icon or thumbnail (warning symbol when the file is gone), name, size,
// selection mark, and on hover the remove button and the row menu button.
class ShelfFileDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit ShelfFileDelegate(QObject *parent = nullptr);
    void setMetrics(const ShelfFileMetrics &m) { m_metrics = m; }
    const ShelfFileMetrics &metrics() const { return m_metrics; }
    void setHovered(const QPersistentModelIndex &index) { m_hovered = index; }
    const QPersistentModelIndex &hovered() const { return m_hovered; }
    // The width of a grid cell as the view lays it out (0: the metrics' width).
    void setCellWidth(int width) { m_cellWidth = width; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Hit areas inside an item rectangle.
    QRect removeButtonRect(const QRect &item) const;
    QRect menuButtonRect(const QRect &item) const; // empty in grid layout

private:
    ShelfFileMetrics m_metrics;
    QPersistentModelIndex m_hovered;
    int m_cellWidth = 0;
};

// The list or grid of a shelf's files. Selection is kept by the shelf (its own rules),
// so the view reports clicks instead of selecting; it starts drags out of the shelf.
class ShelfFileView : public QListView
{
    Q_OBJECT
public:
    explicit ShelfFileView(ShelfFileModel *model, QWidget *parent = nullptr);

    void setMetrics(const ShelfFileMetrics &m);
    const ShelfFileMetrics &metrics() const { return m_delegate->metrics(); }
    ShelfFileModel *fileModel() const { return m_model; }

    // The height that shows every row, capped at `maxHeight`.
    int contentHeight(int maxHeight) const;

    // Set by the window: the files a drag from `row` carries (the row's file, or the
    // selection when the row is part of it) and the drag mode at this moment.
    std::function<QList<ShelfFile>(int row)> dragFilesForRow;
    std::function<DragMode()> dragMode;
    // The shelf shown (named in the drag marker).
    QUuid shelfId;

signals:
    void fileClicked(const QUuid &id, Qt::KeyboardModifiers modifiers);
    void fileDoubleClicked(const QUuid &id);
    void removeClicked(const QUuid &id);
    void rowMenuRequested(const QUuid &id, const QPoint &globalPos);
    void contextMenuRequested(const QUuid &id, const QPoint &globalPos);
    // Entries that left the shelf by a move-drag (the receiver moved the files).
    void moveCompleted(const QList<ShelfFile> &files);
    // A move-drag that the receiver (outside the program) made a copy of; the entries stay.
    void receiverCopied(const QList<QUrl> &sources);
    void dragStarted();
    void dragEnded();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    void setHover(const QModelIndex &index);
    void fitGridToViewport();
    void runRowDrag(const QList<ShelfFile> &files);

    ShelfFileModel *m_model;
    ShelfFileDelegate *m_delegate;
    QPersistentModelIndex m_pressIndex;
    QPointF m_pressPos;
    bool m_pending = false;
    bool m_dragActive = false;
    enum class PressTarget { item, remove, menu, none } m_pressTarget = PressTarget::none;
};

// A file name in a grid cell `width` pixels wide: one line when it fits, else two lines
// broken where a line may break (never inside a word), the second shortened in the middle;
// a long name with no break opportunity is one line shortened in the middle.
QStringList gridNameLines(const QFont &font, const QString &name, int width);

// Builds the drag image of files: 32 px icons, item i offset by 2 × min(i, 3) px.
QPixmap fannedDragPixmap(const QList<QUrl> &urls, qreal devicePixelRatio);

// Takes Alt off the mouse events of a running drag (see ShelfFileView::runRowDrag).
class AltModifierFilter : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Where a drag out of a shelf starts: a row (or the selection) or the stack handle.
enum class DragSource { row, stack };

// Mime data of a drag out of a shelf: the URLs, plus a marker with the entries' ids so
// that a shelf of this application that receives the drop can tell (and so that the
// source shelf can ignore its own drag, and every shelf a stack drag).
QMimeData *shelfDragMimeData(const QList<QUrl> &urls, const QList<QUuid> &fileIds, const QUuid &sourceShelf,
                             DragSource source);
// Reads the marker: the dragged entries' ids, their shelf and the kind of source (nothing
// when absent or when the drag comes from another process).
struct ShelfDragMarker {
    DragSource source = DragSource::row;
    QUuid sourceShelf;
    QList<QUuid> fileIds;
};
std::optional<ShelfDragMarker> shelfDragMarker(const QMimeData *data);
