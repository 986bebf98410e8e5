#include "shelf/ShelfHeader.h"

#include "input/drag/DragOutLogic.h"
#include "model/ShelfColor.h"
#include "model/ShelfManager.h"
#include "platform/Icons.h"
#include "settings/AppSettings.h"
#include "shelf/RenameShelfDialog.h"
#include "shelf/ShelfFileView.h"
#include "shelf/ShelfHooks.h"
#include "shelf/Theme.h"
#include "shelf/WindowPlacement.h"
#include "tools/progress/ProgressRingButton.h"

#include <algorithm>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDrag>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

// ---- grip -------------------------------------------------------------------------------

ShelfGrip::ShelfGrip(QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::OpenHandCursor);
    setFixedHeight(10);
    setToolTip(QString());
}

void ShelfGrip::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor c = Theme::textColor(AppSettings::instance().theme(), palette());
    c.setAlphaF(0.3f);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const QRectF bar(width() / 2.0 - 18, height() / 2.0 - 2, 36, 4);
    p.drawRoundedRect(bar, 2, 2);
}

void ShelfGrip::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressGlobal = event->globalPosition().toPoint();
    m_windowAtPress = window()->pos();
    m_dragging = true;
    setCursor(Qt::ClosedHandCursor);
    emit dragBegan();
    event->accept();
}

void ShelfGrip::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    window()->move(WindowPlacement::dragPosition(m_pressGlobal, m_windowAtPress,
                                                 event->globalPosition().toPoint()));
    event->accept();
}

void ShelfGrip::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_dragging = false;
    setCursor(Qt::OpenHandCursor);
    emit dragEnded();
    event->accept();
}

// ---- stack handle -----------------------------------------------------------------------

StackDragHandle::StackDragHandle(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(22, 18);
    setCursor(Qt::OpenHandCursor);
    setToolTip(QStringLiteral("Drag all files"));
}

void StackDragHandle::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QIcon doc = tintedSymbolIcon(QStringLiteral("doc"), iconColor);
    for (int i = 2; i >= 0; --i)
        doc.paint(&p, QRect(2 + 2 * i, 1 + i, 12, 14));
}

void StackDragHandle::mousePressEvent(QMouseEvent *event)
{
    m_press = event->position();
    m_hasPress = true;
    m_dragStarted = false;
    event->accept();
}

void StackDragHandle::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragStarted || !m_hasPress || !files)
        return;
    if (!DragOut::beyondThreshold(m_press, event->position(), DragOut::stackThreshold))
        return;
    const QList<ShelfFile> list = files();
    if (list.isEmpty())
        return;
    m_dragStarted = true;
    m_hasPress = false;
    const DragMode setting = dragMode ? dragMode() : DragMode::copy;
    QList<QUrl> urls;
    QList<QUuid> ids;
    for (const auto &c : DragOut::capture(list)) {
        urls << c.sourceURL;
        ids << c.file.id;
    }
    auto *drag = new QDrag(this);
    // Shelves refuse a stack drag (the marker says so): it offers nothing inside the program.
    drag->setMimeData(shelfDragMimeData(urls, ids, shelfId, DragSource::stack));
    drag->setPixmap(fannedDragPixmap(urls, devicePixelRatioF()));
    drag->setHotSpot(QPoint(16, 16));
    const DragOut::Offer offer = DragOut::stackOffer();
    const Qt::DropAction result = drag->exec(DragOut::dropActions(offer), DragOut::proposedAction(offer));
    const bool inside = drag->target() != nullptr;
    const DragOut::Operation op = result == Qt::IgnoreAction ? DragOut::Operation::none
                                                             : DragOut::Operation::copy;
    if (DragOut::completeStackDrag(list, setting, op, inside))
        emit moveCompleted(list);
}

void StackDragHandle::mouseReleaseEvent(QMouseEvent *event)
{
    m_hasPress = false;
    event->accept();
}

// ---- header -----------------------------------------------------------------------------

static const char *const kSymbolProperty = "perchboxSymbol";

static QToolButton *symbolButton(const QString &symbol, const QString &help, QWidget *parent)
{
    auto *b = new QToolButton(parent);
    b->setIconSize(QSize(13, 13));
    b->setAutoRaise(true);
    b->setToolTip(help);
    b->setAccessibleName(help);
    b->setFocusPolicy(Qt::NoFocus);
    b->setObjectName(symbol);
    // Drawn in the theme's foreground by ShelfHeader::refresh().
    b->setProperty(kSymbolProperty, symbol);
    return b;
}

ShelfHeader::ShelfHeader(ShelfManager &manager, const QUuid &shelfId, QWidget *window)
    : QWidget(window)
    , m_manager(manager)
    , m_shelfId(shelfId)
    , m_window(window)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_grip = new ShelfGrip(this);
    outer->addWidget(m_grip);

    auto *row = new QHBoxLayout;
    row->setContentsMargins(2, 0, 0, 2);
    row->setSpacing(2);
    outer->addLayout(row);

    m_icon = new QLabel(this);
    m_icon->setFixedSize(16, 16);
    row->addWidget(m_icon);

    m_name = new QPushButton(this);
    m_name->setFlat(true);
    m_name->setToolTip(QStringLiteral("Click to rename"));
    m_name->setFocusPolicy(Qt::NoFocus);
    m_name->setCursor(Qt::PointingHandCursor);
    m_name->setStyleSheet(QStringLiteral("QPushButton { border: none; text-align: left; padding: 0 2px; background: transparent; }"));
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    connect(m_name, &QPushButton::clicked, this, &ShelfHeader::renameShelf);
    m_name->installEventFilter(this); // re-elided whenever its room changes
    row->addWidget(m_name, 1);

    m_star = new QLabel(this);
    m_star->setFixedSize(12, 12);
    m_star->setToolTip(QStringLiteral("Default shelf for \"Send to Perchbox\""));
    row->addWidget(m_star);

    m_stack = new StackDragHandle(this);
    row->addWidget(m_stack);

    const ShelfHooks &hooks = shelfHooks();
    m_ring = new ShelfProgressRingButton(this);
    m_ring->setIdleIconName(QStringLiteral("pencil"));
    m_ring->setOnIdleTap([this] { emit customizerRequested(); });
    if (hooks.progressState)
        m_ring->setState(hooks.progressState(shelfId));
    row->addWidget(m_ring);

    m_left = symbolButton(QStringLiteral("arrow.left.to.line"), QStringLiteral("Tuck to left edge of this screen"), this);
    m_right = symbolButton(QStringLiteral("arrow.right.to.line"), QStringLiteral("Tuck to right edge of this screen"), this);
    m_float = symbolButton(QStringLiteral("arrow.up.and.down.and.arrow.left.and.right"), QStringLiteral("Float shelf freely"), this);
    connect(m_left, &QToolButton::clicked, this, [this] {
        if (shelfHooks().tuckLeft)
            shelfHooks().tuckLeft(m_window, m_shelfId);
    });
    connect(m_right, &QToolButton::clicked, this, [this] {
        if (shelfHooks().tuckRight)
            shelfHooks().tuckRight(m_window, m_shelfId);
    });
    connect(m_float, &QToolButton::clicked, this, [this] {
        if (shelfHooks().floatFreely)
            shelfHooks().floatFreely(m_window, m_shelfId);
    });
    row->addWidget(m_left);
    row->addWidget(m_right);
    row->addWidget(m_float);

    m_hide = symbolButton(QStringLiteral("eye.slash.fill"), QStringLiteral("Hide shelf"), this);
    connect(m_hide, &QToolButton::clicked, this, [this] { m_manager.hideShelf(m_shelfId); });
    row->addWidget(m_hide);

    if (hooks.makeFavoritesBar) {
        m_favoritesBar = hooks.makeFavoritesBar(window, shelfId, m_ring);
        if (m_favoritesBar) {
            m_favoritesBar->setParent(this);
            outer->addWidget(m_favoritesBar);
        }
    }
    refresh();
}

void ShelfHeader::setCustomizerOpen(bool open)
{
    m_ring->setCustomizerOpen(open);
}

void ShelfHeader::refresh()
{
    const Shelf *shelf = m_manager.shelf(m_shelfId);
    if (!shelf)
        return;
    const AppSettings &settings = AppSettings::instance();
    const AppTheme theme = settings.theme();
    const bool large = settings.shelfSize() == ShelfSize::large;
    // Drawing the symbol is the costly part: only when icon or colour changed.
    const QString iconKey = shelf->icon + QLatin1Char('|') + toQColor(shelf->colorData).name(QColor::HexArgb);
    if (iconKey != m_iconKey) {
        m_iconKey = iconKey;
        m_icon->setPixmap(tintedSymbolIcon(shelf->icon, toQColor(shelf->colorData)).pixmap(16, 16));
    }
    // Symbols in the theme's foreground, so that they show on dark and light alike.
    const QColor iconColor = Theme::iconColor(theme, palette());
    if (iconColor != m_iconColor) {
        m_iconColor = iconColor;
        for (QToolButton *b : findChildren<QToolButton *>()) {
            const QString symbol = b->property(kSymbolProperty).toString();
            if (!symbol.isEmpty())
                b->setIcon(tintedSymbolIcon(symbol, iconColor));
        }
        m_star->setPixmap(tintedSymbolIcon(QStringLiteral("star.fill"), iconColor).pixmap(12, 12));
        m_stack->iconColor = iconColor;
        m_stack->update();
    }
    QFont f = Theme::font(theme, large ? 14 : 12, QFont::DemiBold);
    m_name->setFont(f);
    QPalette pal = m_name->palette();
    pal.setColor(QPalette::ButtonText, Theme::textColor(theme, palette()));
    m_name->setPalette(pal);
    m_fullName = shelf->name;
    m_name->setAccessibleName(shelf->name);
    elideName();
    m_star->setVisible(settings.defaultShelfID() == m_shelfId);
    const ShelfHooks &hooks = shelfHooks();
    // Only the moves that change something are offered: a floating shelf can be tucked to
    // either edge, a tucked one floated or moved to the other edge. The name keeps the room.
    const std::optional<TuckEdge> tucked = shelf->tuckedEdge;
    m_left->setVisible(bool(hooks.tuckLeft) && tucked != TuckEdge::left);
    m_right->setVisible(bool(hooks.tuckRight) && tucked != TuckEdge::right);
    m_float->setVisible(bool(hooks.floatFreely) && tucked.has_value());
    m_stack->setVisible(!shelf->files.isEmpty());
}

void ShelfHeader::renameShelf()
{
    const Shelf *shelf = m_manager.shelf(m_shelfId);
    if (!shelf)
        return;
    if (const std::optional<QString> name = askShelfName(m_window, shelf->name, true))
        m_manager.renameShelf(m_shelfId, *name);
}

void ShelfHeader::fillHeaderMenu(QMenu *menu)
{
    const ShelfHooks &hooks = shelfHooks();
    menu->addAction(QStringLiteral("Hide Shelf"), this, [this] { m_manager.hideShelf(m_shelfId); });
    if (hooks.tuckLeft || hooks.tuckRight || hooks.floatFreely) {
        menu->addSeparator();
        if (hooks.tuckLeft)
            menu->addAction(QStringLiteral("Tuck to Left Edge"), this, [this] { shelfHooks().tuckLeft(m_window, m_shelfId); });
        if (hooks.tuckRight)
            menu->addAction(QStringLiteral("Tuck to Right Edge"), this, [this] { shelfHooks().tuckRight(m_window, m_shelfId); });
        if (hooks.floatFreely)
            menu->addAction(QStringLiteral("Float Freely"), this, [this] { shelfHooks().floatFreely(m_window, m_shelfId); });
    }
    if (hooks.editShortcut) {
        menu->addSeparator();
        const QString current = hooks.shortcutText ? hooks.shortcutText(m_shelfId) : QString();
        menu->addAction(current.isEmpty() ? QStringLiteral("Set Custom Shortcut…") : QStringLiteral("Change Custom Shortcut…"),
                        this, [this] { shelfHooks().editShortcut(m_window, m_shelfId); });
        if (!current.isEmpty() && hooks.clearShortcut)
            menu->addAction(QStringLiteral("Clear Shortcut (") + current + QLatin1Char(')'), this,
                            [this] { shelfHooks().clearShortcut(m_shelfId); });
    }
    if (hooks.fillFavoritesMenu) {
        QMenu *fav = menu->addMenu(QStringLiteral("Favorites"));
        hooks.fillFavoritesMenu(fav, m_window, m_shelfId);
    }
    menu->addSeparator();
    AppSettings &settings = AppSettings::instance();
    if (settings.defaultShelfID() == m_shelfId)
        menu->addAction(symbolIcon(QStringLiteral("star.slash")), QStringLiteral("Remove as Default for Send to Perchbox"), this,
                        [] { AppSettings::instance().setDefaultShelfID(QUuid()); });
    else
        menu->addAction(symbolIcon(QStringLiteral("star.fill")), QStringLiteral("Set as Default for Send to Perchbox"), this,
                        [this] { AppSettings::instance().setDefaultShelfID(m_shelfId); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Remove Shelf Permanently"), this, [this] { m_manager.deleteShelf(m_shelfId); });
}

void ShelfHeader::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    fillHeaderMenu(&menu);
    menu.exec(event->globalPos());
    event->accept();
}

// ---- customizer -------------------------------------------------------------------------

QList<QPair<QString, QColor>> ShelfCustomizer::presetColors()
{
    return {
        {QStringLiteral("blue"), QColor(0, 122, 255)},
        {QStringLiteral("purple"), QColor(175, 82, 222)},
        {QStringLiteral("pink"), QColor(255, 45, 85)},
        {QStringLiteral("red"), QColor(255, 59, 48)},
        {QStringLiteral("orange"), QColor(255, 149, 0)},
        {QStringLiteral("yellow"), QColor(255, 204, 0)},
        {QStringLiteral("green"), QColor(52, 199, 89)},
        {QStringLiteral("teal"), QColor(48, 176, 199)},
        {QStringLiteral("indigo"), QColor(88, 86, 214)},
        {QStringLiteral("gray"), QColor(142, 142, 147)},
    };
}

QStringList ShelfCustomizer::iconNames()
{
    return {"tray", "folder", "archivebox", "doc", "photo", "film",
            "music.note", "link", "star", "bookmark", "tag", "paperclip"};
}

static QToolButton *swatch(const QColor &c, const QString &tip, QWidget *parent)
{
    auto *b = new QToolButton(parent);
    b->setFixedSize(18, 18);
    b->setToolTip(tip);
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(QStringLiteral("QToolButton { background: %1; border-radius: 9px; border: 1px solid rgba(0,0,0,60); }")
                         .arg(c.name(QColor::HexArgb)));
    return b;
}

ShelfCustomizer::ShelfCustomizer(ShelfManager &manager, const QUuid &shelfId, QWidget *parent)
    : QFrame(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
    , m_manager(manager)
    , m_shelfId(shelfId)
{
    setWindowTitle(QStringLiteral("Customize Shelf"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    setObjectName(QStringLiteral("perchbox-customizer"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);

    auto *colors = new QGridLayout;
    colors->setSpacing(4);
    int i = 0;
    for (const auto &[name, color] : presetColors()) {
        QToolButton *b = swatch(color, name, this);
        connect(b, &QToolButton::clicked, this, [this, color = color] { setColor(color); });
        colors->addWidget(b, i / 5, i % 5);
        ++i;
    }
    layout->addLayout(colors);

    auto *customRow = new QHBoxLayout;
    customRow->addWidget(new QLabel(QStringLiteral("Color"), this));
    auto *well = new QToolButton(this);
    well->setText(QStringLiteral("…"));
    well->setToolTip(QStringLiteral("Pick a custom color — saved when you close the customizer"));
    connect(well, &QToolButton::clicked, this, [this] {
        const Shelf *shelf = m_manager.shelf(m_shelfId);
        const QColor initial = shelf ? toQColor(shelf->colorData) : QColor(Qt::blue);
        const QColor c = QColorDialog::getColor(initial, this, QStringLiteral("Color"), QColorDialog::ShowAlphaChannel);
        if (c.isValid()) {
            m_pickedCustom = c;
            setColor(c);
        }
    });
    customRow->addWidget(well);
    customRow->addStretch();
    layout->addLayout(customRow);

    layout->addWidget(new QLabel(QStringLiteral("Recent"), this));
    m_recentRow = new QWidget(this);
    new QHBoxLayout(m_recentRow);
    m_recentRow->layout()->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_recentRow);
    rebuildRecent();

    layout->addWidget(new QLabel(QStringLiteral("Icon"), this));
    auto *icons = new QGridLayout;
    icons->setSpacing(2);
    i = 0;
    for (const QString &name : iconNames()) {
        auto *b = new QToolButton(this);
        b->setIcon(symbolIcon(name));
        b->setToolTip(name);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, name] { setIcon(name); });
        icons->addWidget(b, i / 6, i % 6);
        ++i;
    }
    layout->addLayout(icons);

    auto *done = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(done, &QDialogButtonBox::rejected, this, &QWidget::close);
    layout->addWidget(done);
}

void ShelfCustomizer::rebuildRecent()
{
    QLayout *l = m_recentRow->layout();
    while (QLayoutItem *item = l->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const SavedColor &s : AppSettings::instance().savedCustomColors()) {
        const QColor c = QColor::fromRgbF(float(s.red), float(s.green), float(s.blue), float(s.alpha));
        QToolButton *b = swatch(c, c.name(), m_recentRow);
        connect(b, &QToolButton::clicked, this, [this, c] { setColor(c); });
        l->addWidget(b);
    }
    static_cast<QHBoxLayout *>(l)->addStretch();
}

void ShelfCustomizer::setColor(const QColor &color)
{
    const ShelfColorData data = shelfColorData(color);
    m_manager.updateShelf(m_shelfId, [&](Shelf &s) { s.colorData = data; });
}

void ShelfCustomizer::setIcon(const QString &name)
{
    m_manager.updateShelf(m_shelfId, [&](Shelf &s) { s.icon = name; });
}

void ShelfCustomizer::hideEvent(QHideEvent *event)
{
    if (m_pickedCustom) {
        AppSettings::instance().addCustomColor(*m_pickedCustom);
        m_pickedCustom.reset();
        rebuildRecent();
    }
    QFrame::hideEvent(event);
}

bool ShelfHeader::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_name && event->type() == QEvent::Resize)
        elideName();
    return QWidget::eventFilter(watched, event);
}

void ShelfHeader::elideName()
{
    // The buttons beside the name take what they need; the name gets the rest and ends in "…"
    // when it does not fit (never cut off mid-letter).
    const int width = std::max(m_name->width() - 6, 16);
    const QString shown = m_name->fontMetrics().elidedText(m_fullName, Qt::ElideRight, width);
    if (m_name->text() != shown)
        m_name->setText(shown);
}
