#include "shelf/ShelfFileView.h"

#include "input/drag/DragOutLogic.h"
#include "platform/Icons.h"
#include "shelf/ShelfFileModel.h"
#include "shelf/Theme.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDrag>
#include <QFileIconProvider>
#include <QMimeData>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyle>
#include <QTextLayout>
#include <QTimer>

#include "platform/FilePath.h"
#include "platform/MimeIcons.h"

namespace {

// A coloured icon or a thumbnail keeps its colours; a thin contour in the theme's icon colour
// sets it apart from any shelf background (a white page on a light shelf, a dark photo on a
// dark one).
void paintWithContour(QPainter *p, const QRect &target, const QPixmap &pixmap, const QColor &contour)
{
    if (pixmap.isNull())
        return;
    QPixmap silhouette = pixmap;
    {
        QPainter sp(&silhouette);
        sp.setCompositionMode(QPainter::CompositionMode_SourceIn);
        sp.fillRect(QRect(QPoint(0, 0), silhouette.size()), contour);
    }
    p->save();
    p->setOpacity(0.85);
    for (const QPoint d : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)})
        p->drawPixmap(target.translated(d), silhouette);
    p->restore();
    p->drawPixmap(target, pixmap);
}
const QString kMarkerFormat = QStringLiteral("application/x-perchbox-shelf-files");
}

// ---- metrics ----------------------------------------------------------------------------

int ShelfFileMetrics::iconSize() const
{
    if (layout == ShelfLayout::grid)
        return size == ShelfSize::compact ? 40 : 52;
    return size == ShelfSize::compact ? 18 : 26;
}

QSize ShelfFileMetrics::itemSize() const
{
    const int inner = windowWidth() - 16; // window padding
    if (layout == ShelfLayout::grid) {
        const int cell = inner / 3;
        return {cell, iconSize() + 2 * fontSize() + 16};
    }
    return {inner, iconSize() + 10};
}

// ---- delegate ---------------------------------------------------------------------------

ShelfFileDelegate::ShelfFileDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

QSize ShelfFileDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    QSize s = m_metrics.itemSize();
    if (m_metrics.layout == ShelfLayout::grid && m_cellWidth > 0)
        s.setWidth(m_cellWidth);
    return s;
}

QRect ShelfFileDelegate::removeButtonRect(const QRect &r) const
{
    const int s = ShelfFileMetrics::removeButtonSize;
    if (m_metrics.layout == ShelfLayout::grid)
        return {r.left() + 2, r.top() + 2, s, s};
    return {r.right() - s - 4, r.center().y() - s / 2, s, s};
}

QRect ShelfFileDelegate::menuButtonRect(const QRect &r) const
{
    if (m_metrics.layout == ShelfLayout::grid)
        return {};
    const int s = ShelfFileMetrics::menuButtonSize;
    const QRect rm = removeButtonRect(r);
    return {rm.left() - s - 4, r.center().y() - s / 2, s, s};
}

void ShelfFileDelegate::paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const AppTheme theme = m_metrics.theme;
    const QRect r = option.rect.adjusted(1, 1, -1, -1);
    const bool selected = index.data(ShelfFileModel::SelectedRole).toBool();
    const bool exists = index.data(ShelfFileModel::ExistsRole).toBool();
    const bool hovered = m_hovered.isValid() && m_hovered == index;
    const QColor text = Theme::textColor(theme, option.palette);
    const QColor secondary = Theme::secondaryTextColor(theme, option.palette);

    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    if (selected || hovered) {
        QColor bg = selected ? option.palette.color(QPalette::Highlight) : text;
        bg.setAlphaF(selected ? 0.35f : 0.08f);
        p->setPen(Qt::NoPen);
        p->setBrush(bg);
        const qreal radius = theme == AppTheme::retro ? 0 : 6;
        p->drawRoundedRect(r, radius, radius);
    }

    const int iconPx = m_metrics.iconSize();
    QRect iconRect;
    QRect nameRect;
    QRect sizeRect;
    if (m_metrics.layout == ShelfLayout::grid) {
        iconRect = QRect(r.center().x() - iconPx / 2, r.top() + 6, iconPx, iconPx);
        nameRect = QRect(r.left() + 2, iconRect.bottom() + 3, r.width() - 4, r.bottom() - iconRect.bottom() - 3);
    } else {
        iconRect = QRect(r.left() + 6, r.center().y() - iconPx / 2, iconPx, iconPx);
        const int right = r.right() - 6;
        sizeRect = QRect(right - 64, r.top(), 64, r.height());
        nameRect = QRect(iconRect.right() + 6, r.top(), sizeRect.left() - iconRect.right() - 10, r.height());
    }

    // Icon, thumbnail or the warning symbol.
    if (!exists) {
        tintedSymbolIcon(QStringLiteral("exclamationmark.triangle.fill"), Theme::warningColor(theme, option.palette))
            .paint(p, iconRect.adjusted(iconPx / 8, iconPx / 8, -iconPx / 8, -iconPx / 8));
    } else {
        const qreal dpr = p->device() ? p->device()->devicePixelRatioF() : 1.0;
        const QColor iconColor = Theme::iconColor(theme, option.palette);
        const QImage thumb = index.data(ShelfFileModel::ThumbnailRole).value<QImage>();
        if (!thumb.isNull()) {
            QSize s = thumb.size().scaled(iconRect.size(), Qt::KeepAspectRatio);
            QRect target(QPoint(0, 0), s);
            target.moveCenter(iconRect.center());
            QPixmap pm = QPixmap::fromImage(thumb.scaled(s * dpr, Qt::KeepAspectRatio, Qt::SmoothTransformation));
            pm.setDevicePixelRatio(dpr);
            paintWithContour(p, target, pm, iconColor);
        } else {
            // Symbolic icons take the theme's foreground; coloured ones keep their colours.
            const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
            if (isSymbolicIcon(icon))
                p->drawPixmap(iconRect, recolouredPixmap(icon, iconRect.size(), iconColor, dpr));
            else
                paintWithContour(p, iconRect, icon.pixmap(iconRect.size(), dpr), iconColor);
        }
    }

    // Name and size.
    QFont nameFont = Theme::font(theme, m_metrics.fontSize());
    p->setFont(nameFont);
    p->setPen(exists ? text : secondary);
    const QString name = index.data(Qt::DisplayRole).toString();
    if (m_metrics.layout == ShelfLayout::grid) {
        const QStringList lines = gridNameLines(nameFont, name, nameRect.width());
        const int lineHeight = QFontMetrics(nameFont).height();
        for (int i = 0; i < lines.size(); ++i)
            p->drawText(QRect(nameRect.left(), nameRect.top() + i * lineHeight, nameRect.width(), lineHeight),
                        Qt::AlignHCenter | Qt::AlignTop, lines.at(i));
    } else {
        const QFontMetrics fm(nameFont);
        p->drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft,
                    fm.elidedText(name, Qt::ElideMiddle, nameRect.width()));
        if (!hovered) {
            QFont sizeFont = Theme::font(theme, m_metrics.fontSize() - 1);
            p->setFont(sizeFont);
            p->setPen(secondary);
            p->drawText(sizeRect, Qt::AlignVCenter | Qt::AlignRight,
                        exists ? index.data(ShelfFileModel::SizeTextRole).toString() : QString());
        }
    }

    // Selection mark.
    if (selected) {
        const int s = 12;
        QRect mark = m_metrics.layout == ShelfLayout::grid
                         ? QRect(r.right() - s - 2, r.top() + 2, s, s)
                         : QRect(iconRect.left() - 4, iconRect.bottom() - s + 4, s, s);
        p->setPen(Qt::NoPen);
        p->setBrush(option.palette.color(QPalette::Highlight));
        p->drawEllipse(mark);
        QPen pen(Qt::white, 1.6);
        p->setPen(pen);
        const QPointF a(mark.left() + s * 0.27, mark.top() + s * 0.52);
        const QPointF b(mark.left() + s * 0.45, mark.top() + s * 0.70);
        const QPointF c(mark.left() + s * 0.75, mark.top() + s * 0.32);
        p->drawPolyline(QList<QPointF>{a, b, c});
    }

    // Hover buttons.
    if (hovered) {
        const QColor iconColor = Theme::iconColor(theme, option.palette);
        tintedSymbolIcon(QStringLiteral("xmark.circle.fill"), iconColor).paint(p, removeButtonRect(option.rect));
        const QRect mr = menuButtonRect(option.rect);
        if (!mr.isEmpty())
            tintedSymbolIcon(QStringLiteral("line.3.horizontal"), iconColor).paint(p, mr);
    }
    p->restore();
}

QStringList gridNameLines(const QFont &font, const QString &name, int width)
{
    const QFontMetrics fm(font);
    if (fm.horizontalAdvance(name) <= width)
        return {name};
    // The first line ends at the last break opportunity that fits (spaces, hyphens, …);
    // a name without one stays on one line, shortened in the middle.
    QTextLayout layout(name, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(width);
    layout.endLayout();
    const int cut = first.isValid() ? first.textLength() : 0;
    if (cut <= 0 || cut >= name.size() || first.naturalTextWidth() > width)
        return {fm.elidedText(name, Qt::ElideMiddle, width)};
    return {name.left(cut).trimmed(), fm.elidedText(name.mid(cut).trimmed(), Qt::ElideMiddle, width)};
}

// ---- drag helpers -----------------------------------------------------------------------

bool AltModifierFilter::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->modifiers() & Qt::AltModifier)
            mouse->setModifiers(mouse->modifiers() & ~Qt::AltModifier);
    }
    return false;
}

QPixmap fannedDragPixmap(const QList<QUrl> &urls, qreal dpr)
{
    const int icon = 32;
    const int extra = DragOut::fanOffset(int(urls.size()) - 1);
    QPixmap pm(QSize(icon + extra, icon + extra) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    static QMimeDatabase db;
    // The last items first, so that the first file lies on top.
    const int n = int(std::min<qsizetype>(urls.size(), 64));
    for (int i = n - 1; i >= 0; --i) {
        const QString path = FilePath::displayPath(urls.at(i));
        const QMimeType mt = db.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
        const QIcon ic = iconForMimeType(mt);
        const int off = DragOut::fanOffset(i);
        ic.paint(&p, QRect(off, off, icon, icon));
    }
    return pm;
}

QMimeData *shelfDragMimeData(const QList<QUrl> &urls, const QList<QUuid> &ids, const QUuid &shelf, DragSource source)
{
    auto *md = new QMimeData;
    QByteArray list;
    for (const QUrl &u : urls)
        list += u.toEncoded() + "\r\n";
    md->setData(QStringLiteral("text/uri-list"), list);
    QByteArray marker = QByteArray::number(QCoreApplication::applicationPid()) + '\n'
                        + (source == DragSource::stack ? "stack\n" : "row\n") + shelf.toByteArray(QUuid::WithoutBraces);
    for (const QUuid &id : ids)
        marker += '\n' + id.toByteArray(QUuid::WithoutBraces);
    md->setData(kMarkerFormat, marker);
    return md;
}

std::optional<ShelfDragMarker> shelfDragMarker(const QMimeData *data)
{
    if (!data || !data->hasFormat(kMarkerFormat))
        return std::nullopt;
    const QList<QByteArray> lines = data->data(kMarkerFormat).split('\n');
    if (lines.size() < 3 || lines.at(0).toLongLong() != QCoreApplication::applicationPid())
        return std::nullopt;
    ShelfDragMarker m;
    m.source = lines.at(1) == "stack" ? DragSource::stack : DragSource::row;
    m.sourceShelf = QUuid::fromString(QLatin1String(lines.at(2)));
    for (qsizetype i = 3; i < lines.size(); ++i) {
        const QUuid id = QUuid::fromString(QLatin1String(lines.at(i)));
        if (!id.isNull())
            m.fileIds.append(id);
    }
    return m;
}

// ---- view -------------------------------------------------------------------------------

ShelfFileView::ShelfFileView(ShelfFileModel *model, QWidget *parent)
    : QListView(parent)
    , m_model(model)
    , m_delegate(new ShelfFileDelegate(this))
{
    setModel(model);
    setItemDelegate(m_delegate);
    // Rows coming and going decide whether the grid needs room for a scroll bar.
    connect(model, &QAbstractItemModel::rowsInserted, this, &ShelfFileView::fitGridToViewport);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ShelfFileView::fitGridToViewport);
    connect(model, &QAbstractItemModel::modelReset, this, &ShelfFileView::fitGridToViewport);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false); // drags are started by hand below
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    setMouseTracking(true);
    setUniformItemSizes(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    setPalette(pal);
    setFocusPolicy(Qt::NoFocus);
    setMetrics({});
}

void ShelfFileView::setMetrics(const ShelfFileMetrics &m)
{
    m_delegate->setMetrics(m);
    if (m.layout == ShelfLayout::grid) {
        setViewMode(QListView::IconMode);
        setFlow(QListView::LeftToRight);
        setWrapping(true);
        setResizeMode(QListView::Adjust);
        setMovement(QListView::Static);
        setSpacing(0);
        m_delegate->setCellWidth(0);
        setGridSize(m.itemSize());
        fitGridToViewport();
    } else {
        setViewMode(QListView::ListMode);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setFlow(QListView::TopToBottom);
        setWrapping(false);
        setGridSize(QSize());
    }
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setDragEnabled(false);
    m_model->setThumbnailSize(m.iconSize());
    doItemsLayout();
    viewport()->update();
}

void ShelfFileView::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    fitGridToViewport();
}

void ShelfFileView::fitGridToViewport()
{
    // Three cells across the width the list view lays out in, so that no cell wraps into an
    // extra row that the window's height does not count. The list view keeps room for a
    // scroll bar it may need; when every row fits, it needs none.
    const ShelfFileMetrics &m = metrics();
    if (m.layout != ShelfLayout::grid)
        return;
    const int rows = (m_model->rowCount() + 2) / 3;
    const bool fits = rows * m.itemSize().height() + 2 <= height();
    setVerticalScrollBarPolicy(fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    const int scrollBar = fits ? 0 : style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    // (It also wraps a cell that would end exactly at the right edge.)
    const int cell = std::max(1, std::min(m.itemSize().width(), (maximumViewportSize().width() - scrollBar - 1) / 3));
    if (gridSize().width() == cell)
        return;
    m_delegate->setCellWidth(cell);
    setGridSize(QSize(cell, m.itemSize().height()));
}

int ShelfFileView::contentHeight(int maxHeight) const
{
    const ShelfFileMetrics &m = metrics();
    const int n = m_model->rowCount();
    int h;
    if (m.layout == ShelfLayout::grid)
        h = ((n + 2) / 3) * m.itemSize().height();
    else
        h = n * m.itemSize().height();
    return std::min(h + 2, maxHeight);
}

void ShelfFileView::setHover(const QModelIndex &index)
{
    const QPersistentModelIndex p(index);
    if (p == m_delegate->hovered())
        return;
    m_delegate->setHovered(p);
    viewport()->update();
}

void ShelfFileView::leaveEvent(QEvent *event)
{
    setHover({});
    QListView::leaveEvent(event);
}

bool ShelfFileView::viewportEvent(QEvent *event)
{
    // The rows are drawn on the viewport: it is the viewport that the pointer leaves (and a
    // hidden window or an ended drag leaves no row under it).
    switch (event->type()) {
    case QEvent::Leave:
    case QEvent::Hide:
    case QEvent::DragEnter:
        if (m_delegate->hovered().isValid())
            setHover({});
        break;
    default:
        break;
    }
    return QListView::viewportEvent(event);
}

void ShelfFileView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    const QModelIndex idx = indexAt(event->position().toPoint());
    m_pressIndex = idx;
    m_pressPos = event->position();
    m_pending = idx.isValid();
    m_dragActive = false;
    m_pressTarget = PressTarget::none;
    if (idx.isValid()) {
        const QRect r = visualRect(idx);
        const QPoint pos = event->position().toPoint();
        if (m_delegate->removeButtonRect(r).contains(pos))
            m_pressTarget = PressTarget::remove;
        else if (m_delegate->menuButtonRect(r).contains(pos))
            m_pressTarget = PressTarget::menu;
        else
            m_pressTarget = PressTarget::item;
    }
    event->accept();
}

void ShelfFileView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        setHover(indexAt(event->position().toPoint()));
        QListView::mouseMoveEvent(event);
        return;
    }
    if (m_dragActive || !m_pending || !m_pressIndex.isValid())
        return;
    if (!DragOut::beyondThreshold(m_pressPos, event->position(), DragOut::rowThreshold))
        return;
    const QList<ShelfFile> files = dragFilesForRow ? dragFilesForRow(m_pressIndex.row()) : QList<ShelfFile>{};
    m_pending = false;
    if (files.isEmpty())
        return;
    runRowDrag(files);
}

void ShelfFileView::startDrag(Qt::DropActions)
{
    // Drags start only through the row source above.
}

void ShelfFileView::runRowDrag(const QList<ShelfFile> &files)
{
    const QList<DragOut::CapturedDraggedFile> captured = DragOut::capture(files);
    // The behaviour of this drag: the setting, or what the keys held now ask for.
    const DragMode setting = dragMode ? dragMode() : DragMode::copy;
    const DragMode mode = DragOut::requestedMode(setting, QGuiApplication::queryKeyboardModifiers());
    m_dragActive = true;
    emit dragStarted();

    QList<QUrl> urls;
    QList<QUuid> ids;
    for (const auto &c : captured) {
        urls.append(c.sourceURL);
        ids.append(c.file.id);
    }
    auto *drag = new QDrag(this);
    drag->setMimeData(shelfDragMimeData(urls, ids, shelfId, DragSource::row));
    const QPixmap pm = fannedDragPixmap(urls, devicePixelRatioF());
    drag->setPixmap(pm);
    drag->setHotSpot(QPoint(16, 16));
    const DragOut::Offer offer = DragOut::rowOffer(mode);
    // Alt has done its part (it chose the mode); held on, Qt would read it as "link" and
    // propose a copy. Installed once the drag's own filter is in place, so it runs first.
    auto *keepAltOut = new AltModifierFilter;
    QTimer::singleShot(0, keepAltOut, [keepAltOut] { qApp->installEventFilter(keepAltOut); });
    const Qt::DropAction result =
        drag->exec(DragOut::dropActions(offer), DragOut::proposedAction(offer));
    delete keepAltOut;
    const bool inside = drag->target() != nullptr; // a widget of ours took the drop
    m_dragActive = false;
    m_pressIndex = QPersistentModelIndex();
    // The pointer is wherever the drop happened: the row under it now, if any, is hovered.
    const QPoint pointer = viewport()->mapFromGlobal(QCursor::pos());
    setHover(viewport()->rect().contains(pointer) ? indexAt(pointer) : QModelIndex());

    const DragOut::Operation op = result == Qt::MoveAction ? DragOut::Operation::move
                                  : (result == Qt::CopyAction || result == Qt::LinkAction)
                                      ? DragOut::Operation::copy
                                      : DragOut::Operation::none;
    const DragOut::Completion c = DragOut::completeRowDrag(captured, mode, op, inside);
    if (c.receiverCopied)
        emit receiverCopied(urls);
    if (!c.moveCompleted) {
        emit dragEnded();
        return;
    }
    QList<ShelfFile> moved;
    for (const auto &m : c.moved)
        moved.append(m.file);
    emit moveCompleted(moved);
}

void ShelfFileView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_dragActive) {
        event->accept();
        return;
    }
    const bool wasPending = m_pending;
    m_pending = false;
    const QModelIndex idx = indexAt(event->position().toPoint());
    if (wasPending && m_pressIndex.isValid() && idx == m_pressIndex) {
        const QUuid id = idx.data(ShelfFileModel::FileIdRole).toUuid();
        const QRect r = visualRect(idx);
        const QPoint pos = event->position().toPoint();
        if (m_pressTarget == PressTarget::remove && m_delegate->removeButtonRect(r).contains(pos))
            emit removeClicked(id);
        else if (m_pressTarget == PressTarget::menu && m_delegate->menuButtonRect(r).contains(pos))
            emit rowMenuRequested(id, viewport()->mapToGlobal(m_delegate->menuButtonRect(r).bottomLeft()));
        else if (m_pressTarget == PressTarget::item)
            emit fileClicked(id, event->modifiers());
    }
    m_pressIndex = QPersistentModelIndex();
    event->accept();
}

void ShelfFileView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QModelIndex idx = indexAt(event->position().toPoint());
    if (idx.isValid() && event->button() == Qt::LeftButton)
        emit fileDoubleClicked(idx.data(ShelfFileModel::FileIdRole).toUuid());
    event->accept();
}

void ShelfFileView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex idx = indexAt(event->pos());
    if (idx.isValid())
        emit contextMenuRequested(idx.data(ShelfFileModel::FileIdRole).toUuid(), event->globalPos());
    event->accept();
}
