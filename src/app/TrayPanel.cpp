#include "app/TrayPanel.h"

#include "app/AppDelegate.h"
#include "app/ShelfListModel.h"
#include "model/ShelfManager.h"
#include "platform/Icons.h"
#include "platform/NotificationCenter.h"
#include "platform/SendToIntegration.h"
#include "settings/AppSettings.h"
#include "shelf/RenameShelfDialog.h"

#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace {
constexpr int kRowHeight = 30;
constexpr int kButton = 22;
constexpr int kIcon = 16;
constexpr int kPad = 6;
} // namespace

// ---- delegate -------------------------------------------------------------------------------

QRect ShelfRowDelegate::partRect(const QRect &rect, Part part)
{
    const int cy = rect.center().y();
    switch (part) {
    case Part::handle:
        return QRect(rect.left() + kPad, cy - kButton / 2, kIcon, kButton);
    case Part::remove:
        return QRect(rect.right() - kPad - kButton + 1, cy - kButton / 2, kButton, kButton);
    case Part::hide:
        return QRect(rect.right() - kPad - 2 * kButton - 1, cy - kButton / 2, kButton, kButton);
    case Part::star:
        return QRect(rect.right() - kPad - 3 * kButton - 2, cy - kButton / 2, kButton, kButton);
    default:
        return rect;
    }
}

ShelfRowDelegate::Part ShelfRowDelegate::partAt(const QRect &rect, const QPoint &pos, const QModelIndex &index)
{
    if (!rect.contains(pos))
        return Part::none;
    if (partRect(rect, Part::handle).adjusted(-kPad, 0, 2, 0).contains(pos))
        return Part::handle;
    if (partRect(rect, Part::remove).contains(pos))
        return Part::remove;
    if (index.data(ShelfListModel::IsVisibleRole).toBool() && partRect(rect, Part::hide).contains(pos))
        return Part::hide;
    if (index.data(ShelfListModel::IsDefaultRole).toBool() && partRect(rect, Part::star).contains(pos))
        return Part::star;
    return Part::body;
}

void ShelfRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    painter->save();
    const QRect r = option.rect;
    // The row under the pointer, and the keyboard's current row while the list has focus.
    const bool keyboardCurrent = (option.state & QStyle::State_HasFocus) != 0;
    if ((option.state & QStyle::State_MouseOver) || keyboardCurrent)
        painter->fillRect(r, option.palette.color(QPalette::Highlight).lighter(option.palette.color(QPalette::Window).lightness() > 128 ? 170 : 60));
    if (keyboardCurrent) {
        painter->setPen(QPen(option.palette.color(QPalette::Highlight), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(r.adjusted(0, 0, -1, -1));
    }
    const QColor text = option.palette.color(QPalette::WindowText);
    QColor faint = text;
    faint.setAlphaF(0.45f);

    const QRect handle = partRect(r, Part::handle);
    tintedSymbolIcon(QStringLiteral("line.3.horizontal"), faint).paint(painter, handle.adjusted(0, 3, 0, -3));

    const QRect iconRect(handle.right() + kPad, r.center().y() - kIcon / 2, kIcon, kIcon);
    const QColor tint = index.data(ShelfListModel::ColorRole).value<QColor>();
    tintedSymbolIcon(index.data(ShelfListModel::IconNameRole).toString(), tint.isValid() ? tint : text)
        .paint(painter, iconRect);

    int right = partRect(r, Part::hide).left() - kPad;
    const bool isDefault = index.data(ShelfListModel::IsDefaultRole).toBool();
    if (isDefault) {
        tintedSymbolIcon(QStringLiteral("star.fill"), QColor(0xf5, 0xb7, 0x00))
            .paint(painter, partRect(r, Part::star).adjusted(3, 3, -3, -3));
        right = partRect(r, Part::star).left() - kPad;
    }
    if (index.data(ShelfListModel::IsVisibleRole).toBool())
        tintedSymbolIcon(QStringLiteral("eye.slash"), text).paint(painter, partRect(r, Part::hide).adjusted(3, 3, -3, -3));
    tintedSymbolIcon(QStringLiteral("trash"), text).paint(painter, partRect(r, Part::remove).adjusted(3, 3, -3, -3));

    const QRect nameRect(iconRect.right() + kPad, r.top(), right - iconRect.right() - kPad, r.height());
    QFont font = option.font;
    if (!index.data(ShelfListModel::IsOpenRole).toBool())
        painter->setPen(faint.darker(110));
    else
        painter->setPen(text);
    painter->setFont(font);
    painter->drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft,
                      option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, nameRect.width()));
    painter->restore();
}

QSize ShelfRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), kRowHeight);
}

bool ShelfRowDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                 const QModelIndex &index)
{
    if (!event || !view || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QString tip;
    switch (partAt(option.rect, event->pos(), index)) {
    case Part::remove:
        tip = QStringLiteral("Remove shelf permanently");
        break;
    case Part::hide:
        tip = QStringLiteral("Hide shelf");
        break;
    case Part::star:
        tip = QStringLiteral("Default shelf for \"%1\"").arg(SendToIntegration::serviceTitle);
        break;
    case Part::handle:
        tip = QStringLiteral("Drag to reorder");
        break;
    default:
        tip = index.data(Qt::ToolTipRole).toString();
    }
    QToolTip::showText(event->globalPos(), tip, view);
    return true;
}

// ---- view -----------------------------------------------------------------------------------

ShelfListView::ShelfListView(QWidget *parent) : QListView(parent)
{
    setMouseTracking(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setUniformItemSizes(true);
    viewport()->setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Shelves"));
}

void ShelfListView::mousePressEvent(QMouseEvent *event)
{
    m_pressed = indexAt(event->position().toPoint());
    m_pressedPart = m_pressed.isValid()
        ? ShelfRowDelegate::partAt(visualRect(m_pressed), event->position().toPoint(), m_pressed)
        : ShelfRowDelegate::Part::none;
    m_dragRow = (event->button() == Qt::LeftButton && m_pressedPart == ShelfRowDelegate::Part::handle) ? m_pressed.row() : -1;
    if (m_dragRow >= 0)
        setCursor(Qt::ClosedHandCursor);
    event->accept();
}

void ShelfListView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex over = indexAt(pos);
    if (m_dragRow >= 0) {
        // Live reorder: the dragged row follows the pointer.
        int target = over.isValid() ? over.row() : (pos.y() < 0 ? 0 : model()->rowCount() - 1);
        if (target >= 0 && target != m_dragRow) {
            emit moveRequested(m_dragRow, target);
            m_dragRow = target;
        }
        return;
    }
    const QUuid id = over.data(ShelfListModel::IdRole).toUuid();
    if (id != m_lastHovered) {
        m_lastHovered = id;
        if (!id.isNull())
            emit hovered(id);
    }
    viewport()->update();
}

void ShelfListView::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasDragging = m_dragRow >= 0;
    m_dragRow = -1;
    unsetCursor();
    if (wasDragging || event->button() != Qt::LeftButton)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid() || index != m_pressed)
        return;
    const QUuid id = index.data(ShelfListModel::IdRole).toUuid();
    switch (ShelfRowDelegate::partAt(visualRect(index), event->position().toPoint(), index)) {
    case ShelfRowDelegate::Part::remove:
        if (m_pressedPart == ShelfRowDelegate::Part::remove)
            emit removeRequested(id);
        break;
    case ShelfRowDelegate::Part::hide:
        if (m_pressedPart == ShelfRowDelegate::Part::hide)
            emit hideRequested(id);
        break;
    case ShelfRowDelegate::Part::handle:
        break;
    default:
        emit openRequested(id);
    }
}

void ShelfListView::keyPressEvent(QKeyEvent *event)
{
    // Arrows, Home and End move the current row (the view's own handling); Enter or Space
    // opens its shelf, Delete removes it, the menu key opens its menu.
    const QModelIndex current = currentIndex();
    const QUuid id = current.data(ShelfListModel::IdRole).toUuid();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (current.isValid() && mods == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            emit openRequested(id);
            return;
        case Qt::Key_Delete:
            emit removeRequested(id);
            return;
        case Qt::Key_Menu:
            emit contextMenuRequestedFor(id, viewport()->mapToGlobal(visualRect(current).bottomLeft()));
            return;
        default:
            break;
        }
    }
    QListView::keyPressEvent(event);
}

void ShelfListView::focusInEvent(QFocusEvent *event)
{
    QListView::focusInEvent(event);
    if (!currentIndex().isValid() && model() && model()->rowCount() > 0)
        setCurrentIndex(model()->index(0, 0));
}

void ShelfListView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    if (index.isValid())
        emit contextMenuRequestedFor(index.data(ShelfListModel::IdRole).toUuid(), event->globalPos());
}

void ShelfListView::leaveEvent(QEvent *event)
{
    m_lastHovered = QUuid();
    QListView::leaveEvent(event);
}

// ---- panel ----------------------------------------------------------------------------------

TrayPanel::TrayPanel(AppDelegate &delegate, QWidget *parent)
    : QWidget(parent), m_delegate(delegate), m_manager(delegate.manager()), m_settings(delegate.settings())
{
    setObjectName(QStringLiteral("PerchboxPanel"));
    setWindowTitle(QStringLiteral("Perchbox"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(6);

    auto *title = new QLabel(QStringLiteral("Perchbox"), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    title->setFont(titleFont);
    layout->addWidget(title);

    m_warning = new QPushButton(symbolIcon(QStringLiteral("exclamationmark.triangle.fill")),
                                QStringLiteral("Global shortcuts are off. Click to enable them."), this);
    m_warning->setFlat(true);
    m_warning->setAccessibleName(QStringLiteral("Input Monitoring is off: enable it"));
    m_warning->setStyleSheet(QStringLiteral("text-align: left; color: #d97706;"));
    connect(m_warning, &QPushButton::clicked, this, &TrayPanel::inputMonitoringRequested);
    layout->addWidget(m_warning);

    m_model = new ShelfListModel(m_manager, m_settings, this);
    m_view = new ShelfListView(this);
    m_view->setModel(m_model);
    m_view->setItemDelegate(new ShelfRowDelegate(m_view));
    m_view->setMinimumHeight(120);
    layout->addWidget(m_view, 1);

    m_empty = new QLabel(QStringLiteral("No shelves yet"), this);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setMinimumHeight(60);
    layout->addWidget(m_empty);

    connect(m_view, &ShelfListView::openRequested, this, [this](const QUuid &id) { m_delegate.showShelf(id); });
    connect(m_view, &ShelfListView::hideRequested, this, [this](const QUuid &id) {
        if (QWidget *window = m_delegate.windowForShelf(id))
            window->hide();
        m_manager.hideShelf(id);
    });
    connect(m_view, &ShelfListView::removeRequested, this, [this](const QUuid &id) { m_manager.deleteShelf(id); });
    connect(m_view, &ShelfListView::moveRequested, m_model, &ShelfListModel::moveShelf);
    connect(m_view, &ShelfListView::hovered, this, [](const QUuid &id) {
        NotificationCenter::instance().post(Notifications::highlightShelf, {{Notifications::idKey, uuidString(id)}});
    });
    connect(m_view, &ShelfListView::contextMenuRequestedFor, this, [this](const QUuid &id, const QPoint &pos) {
        QMenu *menu = makeContextMenu(id, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(pos);
    });

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    auto makeButton = [this, layout](const QString &symbol, const QString &text) {
        auto *button = new QPushButton(symbolIcon(symbol), text, this);
        button->setFlat(true);
        button->setStyleSheet(QStringLiteral("text-align: left; padding: 3px 4px;"));
        layout->addWidget(button);
        return button;
    };
    connect(makeButton(QStringLiteral("plus"), QStringLiteral("New shelf")), &QPushButton::clicked, this,
            [this] { m_delegate.newShelfFromPanel(); });
    connect(makeButton(QStringLiteral("trash"), QStringLiteral("Remove all shelves")), &QPushButton::clicked, this,
            &TrayPanel::confirmRemoveAll);
    connect(makeButton(QStringLiteral("gearshape"), QStringLiteral("Open Settings")), &QPushButton::clicked, this,
            [this] {
                emit dismissRequested();
                emit openSettingsRequested();
            });
    connect(makeButton(QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("Check for Updates")),
            &QPushButton::clicked, this, [this] {
                emit dismissRequested();
                emit checkForUpdatesRequested();
            });
    connect(makeButton(QStringLiteral("questionmark.circle"), QStringLiteral("Show Tutorial")), &QPushButton::clicked,
            this, [this] {
                emit dismissRequested();
                emit tutorialRequested();
            });
    QPushButton *quit = makeButton(QStringLiteral("power"), QStringLiteral("Quit Perchbox"));
    quit->setToolTip(QStringLiteral("Ctrl+Alt+Q"));
    connect(quit, &QPushButton::clicked, this, &TrayPanel::quitRequested);

    connect(m_model, &QAbstractItemModel::modelReset, this, &TrayPanel::updateEmptyState);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &TrayPanel::updateEmptyState);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &TrayPanel::updateEmptyState);
    connect(&m_settings, &AppSettings::inputMonitoringGrantedChanged, this, &TrayPanel::updateWarning);
    updateEmptyState();
    updateWarning();
    resize(300, 420);
}

void TrayPanel::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (auto *button = qobject_cast<QAbstractButton *>(focusWidget()); button && button->isEnabled()) {
            button->click();
            return;
        }
    }
    if (mods == Qt::NoModifier && event->key() == Qt::Key_Escape) {
        emit dismissRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TrayPanel::updateEmptyState()
{
    const bool empty = m_model->rowCount() == 0;
    m_empty->setVisible(empty);
    m_view->setVisible(!empty);
}

void TrayPanel::updateWarning()
{
    m_warning->setVisible(!m_settings.inputMonitoringGranted());
}

QMenu *TrayPanel::makeContextMenu(const QUuid &id, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->addAction(QStringLiteral("Open Shelf"), this, [this, id] { m_delegate.showShelf(id); });
    menu->addAction(QStringLiteral("Rename Shelf"), this, [this, id] { renameShelf(id); });

    const auto combo = m_settings.customShelfCombos().value(AppSettings::shelfKey(id));
    const bool hasCombo = m_settings.customShelfCombos().contains(AppSettings::shelfKey(id));
    QAction *edit = menu->addAction(hasCombo ? QStringLiteral("Change Custom Shortcut…") : QStringLiteral("Set Custom Shortcut…"),
                                    this, [this, id] {
                                        if (m_shortcutEditor)
                                            m_shortcutEditor(this, id);
                                    });
    edit->setEnabled(bool(m_shortcutEditor));
    if (hasCombo)
        menu->addAction(QStringLiteral("Clear Shortcut (") + combo.displayText() + QStringLiteral(")"), this,
                        [this, id] { m_settings.setShelfCombo(std::nullopt, id); });

    if (m_settings.defaultShelfID() == id && !id.isNull())
        menu->addAction(symbolIcon(QStringLiteral("star.slash")), QStringLiteral("Remove as Default for Send to Perchbox"), this,
                        [this] { m_settings.setDefaultShelfID(QUuid()); });
    else
        menu->addAction(symbolIcon(QStringLiteral("star.fill")), QStringLiteral("Set as Default for Send to Perchbox"), this,
                        [this, id] { m_settings.setDefaultShelfID(id); });
    menu->addSeparator();
    menu->addAction(symbolIcon(QStringLiteral("trash")), QStringLiteral("Remove Shelf Permanently"), this,
                    [this, id] { m_manager.deleteShelf(id); });
    return menu;
}

void TrayPanel::confirmRemoveAll()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Remove all shelves?"), QStringLiteral("Remove all shelves?"),
                    QMessageBox::NoButton, this);
    box.setInformativeText(QStringLiteral("Every shelf and the files kept in its own folder are removed. "
                                          "Files elsewhere on disk are not touched."));
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    QPushButton *remove = box.addButton(QStringLiteral("Remove All"), QMessageBox::DestructiveRole);
    // Return never destroys: Cancel is the default (and has the focus); removing needs a click.
    remove->setAutoDefault(false);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == remove)
        m_manager.deleteAllShelves();
}

void TrayPanel::renameShelf(const QUuid &id)
{
    const Shelf *shelf = m_manager.shelf(id);
    if (!shelf)
        return;
    if (const std::optional<QString> name = askShelfName(this, shelf->name))
        m_manager.renameShelf(id, *name);
}
