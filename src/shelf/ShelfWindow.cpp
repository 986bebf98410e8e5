#include "shelf/ShelfWindow.h"

#include "conversion/MediaBackend.h"
#include "input/drag/DragOutLogic.h"
#include "model/ShelfManager.h"
#include "platform/DesktopNotifications.h"
#include "platform/DesktopServices.h"
#include "platform/FilePath.h"
#include "platform/Icons.h"
#include "platform/NotificationCenter.h"
#include "platform/Trash.h"
#include "settings/AppSettings.h"
#include "shelf/OpenWith.h"
#include "shelf/QuickLookWindow.h"
#include "shelf/ShelfFileModel.h"
#include "shelf/ShelfFileView.h"
#include "shelf/ShelfHeader.h"
#include "shelf/ShelfHooks.h"
#include "shelf/ShelfIntake.h"
#include "shelf/ShelfLogic.h"
#include "shelf/Theme.h"
#include "shelf/WindowPlacement.h"
#include "shelf/WindowRules.h"
#include "shelf/X11Desktop.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <optional>
#include <QPainterPath>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <QtConcurrent>

ShelfHooks &shelfHooks()
{
    static ShelfHooks hooks;
    return hooks;
}

struct ShelfWindow::SelectionState {
    ShelfLogic::Selection selection;
};

namespace {
QList<ShelfWindow *> &registry()
{
    static QList<ShelfWindow *> windows;
    return windows;
}

// Ticks every few seconds while the program runs; each window's model checks its files then.
QTimer &recheckClock()
{
    static QTimer *clock = [] {
        auto *timer = new QTimer(qApp);
        timer->setInterval(3000);
        timer->start();
        return timer;
    }();
    return *clock;
}

// The application-wide key filter of every shelf window. Key events are offered to the open
// windows' eventFilter, newest first (the order in which filters of their own would be asked),
// until one takes the event. A filter per window would see every event of the program once per
// window: with thousands of shelves that alone kept the event loop busy.
class ShelfKeyDispatcher : public QObject
{
public:
    using QObject::QObject;
    static void ensureInstalled()
    {
        static ShelfKeyDispatcher *dispatcher = [] {
            auto *d = new ShelfKeyDispatcher(qApp);
            qApp->installEventFilter(d);
            return d;
        }();
        (void)dispatcher;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
            return false;
        const QList<ShelfWindow *> windows = ShelfWindow::openWindows();
        for (auto it = windows.crbegin(); it != windows.crend(); ++it)
            if (static_cast<QObject *>(*it)->eventFilter(watched, event))
                return true;
        return false;
    }
};
bool g_terminating = false;
bool g_showingInBatch = false;
constexpr int kMaxListHeight = 480;
constexpr int kEmptyHeight = 120;
constexpr int kPadding = 8;
} // namespace

// ---- identity and registry ----------------------------------------------------------------

QString ShelfWindow::identifierFor(const QUuid &shelfId)
{
    return QStringLiteral("perchbox-shelf-") + uuidString(shelfId);
}

ShelfWindow *ShelfWindow::find(const QUuid &shelfId)
{
    for (ShelfWindow *w : registry())
        if (w->m_shelfId == shelfId && !w->m_closing)
            return w;
    return nullptr;
}

QList<ShelfWindow *> ShelfWindow::openWindows()
{
    QList<ShelfWindow *> out;
    for (ShelfWindow *w : registry())
        if (!w->m_closing)
            out.append(w);
    return out;
}

void ShelfWindow::setTerminating(bool terminating)
{
    if (terminating && !g_terminating)
        rememberAllPositions();
    g_terminating = terminating;
}

void ShelfWindow::rememberAllPositions()
{
    // One change for all windows (not one per window, each of which every other window
    // would follow).
    const QList<ShelfWindow *> windows = openWindows();
    if (windows.isEmpty())
        return;
    ShelfManager &manager = windows.first()->m_manager;
    QHash<QUuid, ShelfWindowPosition> positions;
    for (ShelfWindow *w : windows)
        if (&w->m_manager == &manager)
            if (const auto p = w->freePosition())
                positions.insert(w->m_shelfId, *p);
    QList<Shelf> shelves = manager.shelves();
    bool changed = false;
    for (Shelf &shelf : shelves) {
        const auto it = positions.constFind(shelf.id);
        if (it != positions.constEnd() && shelf.windowPosition != *it) {
            shelf.windowPosition = *it;
            changed = true;
        }
    }
    if (changed)
        manager.setShelves(shelves);
}
bool ShelfWindow::isTerminating() { return g_terminating; }
void ShelfWindow::setShowingInBatch(bool batch) { g_showingInBatch = batch; }

// ---- construction -------------------------------------------------------------------------

ShelfWindow::ShelfWindow(ShelfManager &manager, const QUuid &shelfId, QWidget *parent)
    : QWidget(parent)
    , m_manager(manager)
    , m_shelfId(shelfId)
    , m_selection(std::make_unique<SelectionState>())
{
    registry().append(this);
    AppSettings &settings = AppSettings::instance();
    Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    flags |= settings.showInDock() ? Qt::Window : Qt::Tool;
    setWindowFlags(flags);
    // Small sizes of the application's icon, made once for every shelf: the window manager
    // is handed each size a window's icon has, for each of many shelves.
    if (settings.showInDock())
        setWindowIcon(iconAtSizes(QApplication::windowIcon(), {16, 32, 48}));
    else
        setWindowIcon(iconAtSizes(QApplication::windowIcon(), {16, 32}));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    // The title is the shelf's name (taskbars, window lists, screen readers); the identifier
    // names the object and the X11 window class.
    setObjectName(identifierFor(shelfId));
    if (const Shelf *shelf = manager.shelf(shelfId))
        setWindowTitle(shelf->name);
    setAcceptDrops(true);
    setMouseTracking(true);

    // Translucency needs a compositing manager; without one the window is opaque and its
    // rounded shape comes from a mask, so the corners are never black.
    m_translucent = X11Desktop::compositingManagerRunning()
                    || QGuiApplication::platformName() != QLatin1String("xcb");
    if (m_translucent)
        setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, 2, kPadding, kPadding);
    layout->setSpacing(4);
    layout->setSizeConstraint(QLayout::SetNoConstraint);

    m_header = new ShelfHeader(manager, shelfId, this);
    layout->addWidget(m_header);
    connect(m_header->grip(), &ShelfGrip::dragBegan, this, &ShelfWindow::gripDragBegan);
    connect(m_header->grip(), &ShelfGrip::dragEnded, this, &ShelfWindow::gripDragEnded);
    connect(m_header, &ShelfHeader::customizerRequested, this, &ShelfWindow::openCustomizer);
    connect(this, &ShelfWindow::gripDragEnded, this, &ShelfWindow::onGripDragEnded);

    // The header's height follows its favorites bar (buttons wrap, the status line comes
    // and goes): the window follows the header.
    m_header->installEventFilter(this);

    m_model = new ShelfFileModel(this);
    m_view = new ShelfFileView(m_model, this);
    m_view->shelfId = shelfId;
    m_view->setAccessibleName(QStringLiteral("Files"));
    m_view->dragMode = [] { return AppSettings::instance().dragMode(); };
    m_view->dragFilesForRow = [this](int row) {
        const ShelfFile *f = m_model->fileAt(row);
        if (!f)
            return QList<ShelfFile>{};
        if (m_selection->selection.selected.contains(f->id))
            return filesWithIds(ShelfLogic::selectedInOrder(m_selection->selection, m_model->order()));
        return QList<ShelfFile>{*f};
    };
    layout->addWidget(m_view, 1);

    m_empty = new QWidget(this);
    {
        auto *el = new QVBoxLayout(m_empty);
        auto *icon = new QLabel(m_empty);
        icon->setObjectName(QStringLiteral("emptyIcon"));
        icon->setAlignment(Qt::AlignCenter);
        auto *l1 = new QLabel(QStringLiteral("Drop files here"), m_empty);
        auto *l2 = new QLabel(QStringLiteral("or Ctrl+V to paste"), m_empty);
        l1->setObjectName(QStringLiteral("emptyTitle"));
        l2->setObjectName(QStringLiteral("emptySubtitle"));
        l1->setAlignment(Qt::AlignCenter);
        l2->setAlignment(Qt::AlignCenter);
        el->addStretch();
        el->addWidget(icon);
        el->addWidget(l1);
        el->addWidget(l2);
        el->addStretch();
    }
    layout->addWidget(m_empty, 1);

    m_header->stackHandle()->files = [this] {
        const QList<QUuid> sel = ShelfLogic::selectedInOrder(m_selection->selection, m_model->order());
        if (!sel.isEmpty())
            return filesWithIds(sel);
        return m_model->files();
    };
    m_header->stackHandle()->dragMode = [] { return AppSettings::instance().dragMode(); };
    m_header->stackHandle()->shelfId = shelfId;
    connect(m_header->stackHandle(), &StackDragHandle::moveCompleted, this, [this](const QList<ShelfFile> &files) {
        QSet<QUuid> ids;
        for (const ShelfFile &f : files)
            ids.insert(f.id);
        m_manager.removeFiles(m_shelfId, ids, false);
    });

    connect(m_view, &ShelfFileView::fileClicked, this, [this](const QUuid &id, Qt::KeyboardModifiers mods) {
        clickFile(id, mods & Qt::ShiftModifier);
    });
    connect(m_view, &ShelfFileView::fileDoubleClicked, this, [this](const QUuid &id) {
        const QList<ShelfFile> f = filesWithIds({id});
        if (!f.isEmpty())
            DesktopServices::open(f.first().resolvedURL());
    });
    connect(m_view, &ShelfFileView::removeClicked, this, [this](const QUuid &id) { removeEntries({id}); });
    connect(m_view, &ShelfFileView::contextMenuRequested, this, &ShelfWindow::showFileMenu);
    connect(m_view, &ShelfFileView::rowMenuRequested, this, &ShelfWindow::showRowMenu);
    connect(m_view, &ShelfFileView::moveCompleted, this, [this](const QList<ShelfFile> &files) {
        QSet<QUuid> ids;
        for (const ShelfFile &f : files)
            ids.insert(f.id);
        // The receiver moved the files: only the entries leave.
        m_manager.removeFiles(m_shelfId, ids, false);
    });
    // Asked to move, the receiver copied: everything stays; say so once.
    connect(m_view, &ShelfFileView::receiverCopied, this, [](const QList<QUrl> &sources) {
        DesktopNotifications::notify(DragOut::receiverCopiedTitle(), DragOut::receiverCopiedBody(sources));
    });

    // Follow the shelf and the settings.
    connect(&manager, &ShelfManager::shelvesChanged, this, &ShelfWindow::shelfChanged);
    connect(&manager, &ShelfManager::closeShelfWindowsRequested, this, [this](const QUuid &id) {
        if (id == m_shelfId)
            close();
    });
    connect(&manager, &ShelfManager::userHiddenShelfIDsChanged, this, [this] {
        if (m_manager.isShelfHidden(m_shelfId))
            hide();
        else if (!isVisible() && !m_closing && m_manager.isShelfOpen(m_shelfId))
            show();
    });
    connect(&settings, &AppSettings::themeChanged, this, &ShelfWindow::applyTheme);
    connect(&settings, &AppSettings::shelfLayoutChanged, this, &ShelfWindow::applyLayoutSettings);
    connect(&settings, &AppSettings::shelfSizeChanged, this, &ShelfWindow::applyLayoutSettings);
    connect(&settings, &AppSettings::defaultShelfIDChanged, m_header, &ShelfHeader::refresh);

    // Files that vanish (or come back) are noticed every few seconds; one clock for all
    // windows (a timer each costs every timer start and stop a walk over thousands).
    connect(&recheckClock(), &QTimer::timeout, m_model, &ShelfFileModel::recheckFiles);

    // Keyboard shortcuts act while the pointer is over the window, whichever of our
    // windows has the keyboard (see ShelfKeyDispatcher).
    ShelfKeyDispatcher::ensureInstalled();

    applyLayoutSettings();
    shelfChanged();
    applyTheme();
}

ShelfWindow::~ShelfWindow()
{
    registry().removeAll(this);
}

// ---- appearance ---------------------------------------------------------------------------

void ShelfWindow::applyTheme()
{
    const AppTheme theme = AppSettings::instance().theme();
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Theme::textColor(theme, QApplication::palette()));
    pal.setColor(QPalette::Text, Theme::textColor(theme, QApplication::palette()));
    setPalette(pal);
    for (QLabel *l : m_empty->findChildren<QLabel *>()) {
        if (l->objectName() == QLatin1String("emptyTitle"))
            l->setFont(Theme::font(theme, 13, QFont::DemiBold));
        else if (l->objectName() == QLatin1String("emptySubtitle"))
            l->setFont(Theme::font(theme, 11));
        else if (l->objectName() == QLatin1String("emptyIcon"))
            l->setPixmap(tintedSymbolIcon(QStringLiteral("arrow.down.to.line"), Theme::iconColor(theme, QApplication::palette()))
                             .pixmap(24, 24));
    }
    ShelfFileMetrics m = m_view->metrics();
    m.theme = theme;
    m_view->setMetrics(m);
    m_header->refresh();
    updateMask();
    update();
}

void ShelfWindow::updateMask()
{
    const int radius = Theme::cornerRadius(AppSettings::instance().theme());
    if (m_translucent || radius == 0) {
        if (!mask().isEmpty())
            clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), radius, radius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void ShelfWindow::paintEvent(QPaintEvent *event)
{
    const AppTheme theme = AppSettings::instance().theme();
    QPainter p(this);
    const int radius = Theme::cornerRadius(theme);
    const QColor bg = Theme::windowBackground(theme, m_translucent, QApplication::palette());
    // The shelf's tint along the border, and the drop highlight.
    std::optional<QPen> border;
    if (const Shelf *shelf = m_manager.shelf(m_shelfId)) {
        QColor tint = QColor::fromRgbF(float(shelf->colorData.r), float(shelf->colorData.g),
                                       float(shelf->colorData.b), 1.0f);
        if (!tint.isValid())
            tint = QColor(0, 122, 255);
        tint.setAlphaF(m_targeted ? 0.9f : 0.35f);
        border = QPen(tint, m_targeted ? 2.5 : 1.0);
    }
    // The backing store of a translucent window is cleared to transparent before painting,
    // so the background is written as it is (no blending with what was there).
    const auto background = m_translucent ? QPainter::CompositionMode_Source : QPainter::CompositionMode_SourceOver;
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    const auto paintShape = [&](const QRect &clip) {
        p.setClipRect(clip);
        p.setRenderHint(QPainter::Antialiasing);
        p.setCompositionMode(background);
        p.fillPath(path, bg);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        if (border)
            p.strokePath(path, *border);
    };
    // Only the bands with the rounded corners need the path; the long middle is a plain fill
    // with straight border lines (an antialiased path over the whole window is slow).
    const QRect area = rect();
    const int band = radius + 3;
    if (radius == 0 || area.height() <= 2 * band) {
        paintShape(area);
        return;
    }
    const QRect dirty = event->rect();
    const QRect top(0, 0, area.width(), band);
    const QRect bottom(0, area.height() - band, area.width(), band);
    const QRect middle(0, band, area.width(), area.height() - 2 * band);
    if (dirty.intersects(top))
        paintShape(top);
    if (dirty.intersects(bottom))
        paintShape(bottom);
    if (dirty.intersects(middle)) {
        p.setClipRect(middle);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setCompositionMode(background);
        p.fillRect(middle, bg);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        if (border) {
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(*border);
            p.drawLine(QPointF(0.5, middle.top()), QPointF(0.5, middle.bottom() + 1));
            p.drawLine(QPointF(area.width() - 0.5, middle.top()), QPointF(area.width() - 0.5, middle.bottom() + 1));
        }
    }
}

void ShelfWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateMask();
}

void ShelfWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    X11Desktop::setWindowClass(windowHandle(), identifierFor(m_shelfId).toUtf8());
}

// ---- placement ----------------------------------------------------------------------------

QWidget *ShelfWindow::createPresented(ShelfManager &manager, const QUuid &shelfId)
{
    auto *window = new ShelfWindow(manager, shelfId);
    window->present();
    return window;
}

void ShelfWindow::present()
{
    m_manager.openShelf(m_shelfId);
    if (shelfHooks().registerWindow)
        shelfHooks().registerWindow(this, m_shelfId);
    updateSize();
    const WindowPlacement::Request r = WindowPlacement::takeRequest();
    if (r.kind == WindowPlacement::Request::Kind::nextToPoint) {
        QScreen *screen = QGuiApplication::screenAt(r.point);
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen)
            move(WindowPlacement::placeNextTo(r.point, size(), screen->availableGeometry()));
    } else if (r.kind == WindowPlacement::Request::Kind::centerOnMainScreen) {
        QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen && !QGuiApplication::screens().isEmpty())
            screen = QGuiApplication::screens().first();
        if (screen)
            move(WindowPlacement::centeredIn(screen->availableGeometry(), size()));
    } else if (!isTucked()) {
        moveToRememberedPosition();
    }
    if (!testAttribute(Qt::WA_Moved))
        placeWhereNothingElseDid();
    if (r.kind != WindowPlacement::Request::Kind::keepPosition)
        cascadeAwayFromOtherShelves();
    if (!isTucked())
        moveFromUnderFloatingWindows();
    if (!m_manager.isShelfHidden(m_shelfId)) {
        // The header's buttons ask for their polish and layout by posted events; settled
        // now, the window is painted once. Left to the event loop, they came after the
        // window's first paint when many shelves were shown at once, and every shelf was
        // drawn (and composited) a second time.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::PolishRequest);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        setAttribute(Qt::WA_ShowWithoutActivating, g_showingInBatch);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
        raise();
    }
}

void ShelfWindow::placeWhereNothingElseDid()
{
    // A window shown without a position is placed by the window manager, which measures it
    // against every window already there (openbox's placement): with thousands of shelves each
    // new one took seconds. So it always gets one: centred on the main screen, each further
    // shelf a little lower and to the right.
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen && !QGuiApplication::screens().isEmpty())
        screen = QGuiApplication::screens().first();
    if (!screen)
        return;
    move(WindowPlacement::centredCascade(screen->availableGeometry(), size(), int(openWindows().size() - 1)));
}

bool ShelfWindow::isTucked() const
{
    const Shelf *shelf = m_manager.shelf(m_shelfId);
    return shelf && shelf->tuckedEdge.has_value();
}

void ShelfWindow::moveToRememberedPosition()
{
    const Shelf *shelf = m_manager.shelf(m_shelfId);
    if (!shelf || !shelf->windowPosition)
        return;
    QList<WindowPlacement::Screen> screens;
    for (QScreen *s : QGuiApplication::screens())
        screens.append({s->name(), s->availableGeometry(), s == QGuiApplication::primaryScreen()});
    const ShelfWindowPosition &p = *shelf->windowPosition;
    if (const auto at = WindowPlacement::restoredPosition(QPoint(p.x, p.y), p.screen, size(), screens)) {
        move(*at);
        m_freePosition = *at;
    }
}

void ShelfWindow::moveFromUnderFloatingWindows()
{
    // Our dialogs and tool windows float above every shelf: one that appears under them
    // would be hidden, so it comes up beside them instead.
    const QList<QRect> floating = WindowRules::floatingFrames();
    if (floating.isEmpty())
        return;
    QScreen *screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QPoint at = WindowPlacement::clearOfAndApart(geometry(), floating, otherShelfPositions(),
                                                       m_header->sizeHint().height(), screen->availableGeometry(),
                                                       WindowPlacement::pointerGap);
    if (at != pos())
        move(at);
}

QList<QPoint> ShelfWindow::otherShelfPositions() const
{
    QList<QPoint> taken;
    for (ShelfWindow *other : openWindows())
        if (other != this && other->isVisible())
            taken.append(other->pos());
    return taken;
}

void ShelfWindow::cascadeAwayFromOtherShelves()
{
    const QList<QPoint> taken = otherShelfPositions();
    QRect area;
    if (QScreen *s = QGuiApplication::screenAt(geometry().center()))
        area = s->availableGeometry();
    const QPoint at = WindowPlacement::cascaded(pos(), taken, m_header->sizeHint().height(), size(), area);
    if (at != pos())
        move(at);
}

std::optional<ShelfWindowPosition> ShelfWindow::freePosition() const
{
    if (isTucked() || !m_freePosition)
        return std::nullopt;
    const QPoint at = *m_freePosition;
    QScreen *screen = QGuiApplication::screenAt(QRect(at, size()).center());
    return ShelfWindowPosition{at.x(), at.y(), screen ? screen->name() : QString()};
}

void ShelfWindow::rememberPosition()
{
    const std::optional<ShelfWindowPosition> position = freePosition();
    const Shelf *shelf = m_manager.shelf(m_shelfId);
    if (!position || !shelf || shelf->windowPosition == position)
        return;
    m_manager.updateShelf(m_shelfId, [&position](Shelf &s) { s.windowPosition = position; });
}

void ShelfWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    // Where the shelf floats freely; a tucked shelf's place is the tuck's own.
    if (!m_closing && !isTucked())
        m_freePosition = pos();
}

void ShelfWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (m_closing || event->spontaneous())
        return;
    // Shown again, the window comes back where it was (not where the window manager would
    // put a new one).
    if (m_freePosition && !isTucked())
        move(*m_freePosition);
    rememberPosition();
}

void ShelfWindow::applyLayoutSettings()
{
    const AppSettings &s = AppSettings::instance();
    ShelfFileMetrics m;
    m.layout = s.shelfLayout();
    m.size = s.shelfSize();
    m.theme = s.theme();
    m_view->setMetrics(m);
    m_header->refresh();
    updateSize();
}

void ShelfWindow::updateSize()
{
    const ShelfFileMetrics &m = m_view->metrics();
    const bool empty = m_model->rowCount() == 0;
    m_view->setVisible(!empty);
    m_empty->setVisible(empty);
    const int contentH = empty ? kEmptyHeight : m_view->contentHeight(kMaxListHeight);
    m_view->setFixedHeight(empty ? 0 : contentH);
    m_empty->setFixedHeight(kEmptyHeight);
    const int headerWidth = m.windowWidth() - 2 * kPadding;
    const int headerH = m_header->hasHeightForWidth() ? m_header->heightForWidth(headerWidth)
                                                      : m_header->sizeHint().height();
    int h = 2 + headerH + 4 + contentH + kPadding;
    const QSize target(m.windowWidth(), h);
    const bool changed = target != m_fullSize;
    m_fullSize = target;
    if (changed)
        NotificationCenter::instance().post(Notifications::shelfSizeChanged,
                                            {{Notifications::idKey, uuidString(m_shelfId)}});
    if (!m_geometryManaged && size() != target)
        setFixedSize(target);
}

void ShelfWindow::setGeometryManaged(bool managed)
{
    if (m_geometryManaged == managed)
        return;
    m_geometryManaged = managed;
    if (managed) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        setFixedSize(m_fullSize);
    }
}

// ---- the shelf record ---------------------------------------------------------------------

void ShelfWindow::shelfChanged()
{
    // Quitting, the windows go; what changes now is saved for the next start only.
    if (m_closing || (g_terminating && m_lastFileCount >= 0))
        return;
    const Shelf *shelf = m_manager.shelf(m_shelfId);
    if (!shelf) {
        // The shelf was deleted.
        close();
        return;
    }
    // Every change of any shelf arrives here: skip those of other shelves.
    const quint64 revision = m_manager.shelfRevision(m_shelfId);
    if (m_lastFileCount >= 0 && revision == m_shownRevision)
        return;
    m_shownRevision = revision;
    m_model->setFiles(shelf->files);
    if (!m_selection->selection.selected.isEmpty()) {
        ShelfLogic::prune(m_selection->selection, m_model->order());
        syncSelection();
    }
    m_header->refresh();
    if (windowTitle() != shelf->name)
        setWindowTitle(shelf->name);
    updateSize();
    update();
    const int count = int(shelf->files.size());
    if (count == 0 && m_lastFileCount > 0)
        scheduleCloseWhenEmpty();
    m_lastFileCount = count;
}

void ShelfWindow::scheduleCloseWhenEmpty()
{
    const auto toolRunning = [this] {
        return shelfHooks().isToolRunning && shelfHooks().isToolRunning(m_shelfId);
    };
    if (!ShelfLogic::shouldCloseWhenEmpty(0, AppSettings::instance().closeWhenEmpty(), toolRunning()))
        return;
    QTimer::singleShot(ShelfLogic::closeWhenEmptyDelayMs, this, [this, toolRunning] {
        const Shelf *shelf = m_manager.shelf(m_shelfId);
        if (shelf && ShelfLogic::shouldCloseWhenEmpty(int(shelf->files.size()),
                                                      AppSettings::instance().closeWhenEmpty(), toolRunning()))
            close();
    });
}

void ShelfWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closing) {
        if (!g_terminating) // at quit all windows were remembered at once
            rememberPosition();
        m_closing = true;
        if (shelfHooks().unregisterWindow)
            shelfHooks().unregisterWindow(m_shelfId);
        if (!g_terminating && m_manager.shelf(m_shelfId))
            m_manager.closeShelf(m_shelfId);
        if (m_customizer)
            m_customizer->close();
        emit shelfWindowClosed(m_shelfId);
    }
    event->accept();
}

// ---- selection ----------------------------------------------------------------------------

QList<QUuid> ShelfWindow::selectedFileIds() const
{
    return ShelfLogic::selectedInOrder(m_selection->selection, m_model->order());
}

void ShelfWindow::clickFile(const QUuid &fileId, bool shift)
{
    ShelfLogic::click(m_selection->selection, m_model->order(), fileId, shift);
    syncSelection();
}

void ShelfWindow::selectAll()
{
    ShelfLogic::selectAll(m_selection->selection, m_model->order());
    syncSelection();
}

void ShelfWindow::syncSelection()
{
    m_model->setSelection(m_selection->selection.selected);
    warmUpForSelection();
}

void ShelfWindow::warmUpForSelection()
{
    // Converting selected pictures with "Remove background" on (the Convert default) needs the
    // segmentation network, which takes seconds to load: start now, while the user reaches for
    // the menu.
    const AppSettings &settings = AppSettings::instance();
    if (m_selection->selection.selected.isEmpty() || !settings.showConvertFeature()
        || !settings.convDefaultRemoveImageBackground())
        return;
    static const QMimeDatabase db;
    for (const QUuid &id : std::as_const(m_selection->selection.selected)) {
        const ShelfFile *f = m_model->fileAt(m_model->rowOf(id));
        if (f && db.mimeTypeForFile(FilePath::displayPath(f->url), QMimeDatabase::MatchExtension)
                     .name()
                     .startsWith(QLatin1String("image/"))) {
            warmUpBackgroundRemoval();
            return;
        }
    }
}

QList<ShelfFile> ShelfWindow::filesWithIds(const QList<QUuid> &ids) const
{
    const QSet<QUuid> wanted(ids.cbegin(), ids.cend());
    QList<ShelfFile> out;
    for (const ShelfFile &f : m_model->files())
        if (wanted.contains(f.id))
            out.append(f);
    return out;
}

void ShelfWindow::quickLook()
{
    if (QuickLookWindow::isOpen()) {
        QuickLookWindow::shared()->close();
        return;
    }
    const ShelfLogic::PreviewList list = ShelfLogic::previewList(m_selection->selection, m_model->order());
    if (list.ids.isEmpty())
        return;
    QList<QUrl> urls;
    for (const ShelfFile &f : filesWithIds(list.ids))
        urls.append(f.resolvedURL());
    QuickLookWindow::shared()->showFiles(urls, list.start);
}

// ---- keyboard -----------------------------------------------------------------------------

bool ShelfWindow::isHoveredForPaste() const
{
    return isVisible() && !m_closing && frameGeometry().contains(QCursor::pos());
}

bool ShelfWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress && watched == windowHandle())
        WindowRules::noteOwnerUsed(this); // dialogs opened from here stay with this shelf
    if (watched == m_header && event->type() == QEvent::LayoutRequest) {
        QTimer::singleShot(0, this, &ShelfWindow::updateSize);
        return false;
    }
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return QWidget::eventFilter(watched, event);
    // Each key press reaches the filter once per receiving widget: act for the window that
    // got it first only.
    auto *w = static_cast<QWidget *>(watched);
    if (!w->isWindow())
        return false;
    if (w != this && qobject_cast<QuickLookWindow *>(w))
        return false; // the preview handles its own keys
    // Keys sent to this window, or to any of ours while the pointer is over this one.
    if (w != this && !isHoveredForPaste())
        return false;
    auto *ke = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers mods = ke->modifiers() & ~Qt::KeypadModifier;
    if (ke->key() == Qt::Key_V && mods == Qt::ControlModifier) {
        paste();
        return true;
    }
    if (ke->key() == Qt::Key_A && mods == Qt::ControlModifier) {
        selectAll();
        return true;
    }
    if (ke->key() == Qt::Key_Space && mods == Qt::NoModifier) {
        quickLook();
        return true;
    }
    // Escape in a dialog or tool window is theirs (it closes them).
    if (ke->key() == Qt::Key_Escape && mods == Qt::NoModifier && !m_selection->selection.selected.isEmpty()
        && (w == this || !WindowRules::isRuledWindow(w))) {
        clearSelection();
        return true;
    }
    return false;
}

void ShelfWindow::clearSelection()
{
    m_selection->selection.selected.clear();
    syncSelection();
}

// ---- intake -------------------------------------------------------------------------------

void ShelfWindow::paste()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    const QList<QUrl> urls = ShelfIntake::paste(data, QDir::tempPath(),
                                                QDateTime::currentSecsSinceEpoch());
    if (!urls.isEmpty())
        m_manager.addFiles(urls, m_shelfId);
}

bool ShelfWindow::acceptsPayload(const QMimeData *data) const
{
    if (!data)
        return false;
    if (const auto marker = shelfDragMarker(data);
        marker && (marker->sourceShelf == m_shelfId || marker->source == DragSource::stack))
        return false; // our own drag coming back, or a stack, which offers nothing inside the program
    if (!ShelfIntake::fileUrls(data).isEmpty())
        return true;
    QStringList formats = data->formats();
    if (data->hasImage())
        formats << QStringLiteral("image/png");
    return ShelfLogic::pickDropImageKind(formats).has_value();
}

QList<QUrl> ShelfWindow::takeDrop(const QMimeData *data)
{
    if (!acceptsPayload(data))
        return {};
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QList<QUrl> urls = ShelfIntake::drop(data, desktop, QDateTime::currentMSecsSinceEpoch());
    if (urls.isEmpty())
        return {};
    if (const auto marker = shelfDragMarker(data))
        DragOut::noteDroppedOnShelf(marker->fileIds);
    m_manager.addFiles(urls, m_shelfId);
    NotificationCenter::instance().post(Notifications::shelfReceivedDrop,
                                        {{Notifications::idKey, uuidString(m_shelfId)}});
    return urls;
}

void ShelfWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!acceptsPayload(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    m_targeted = true;
    update();
}

void ShelfWindow::dragMoveEvent(QDragMoveEvent *event)
{
    if (!acceptsPayload(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ShelfWindow::dragLeaveEvent(QDragLeaveEvent *)
{
    m_targeted = false;
    update();
}

void ShelfWindow::dropEvent(QDropEvent *event)
{
    m_targeted = false;
    update();
    const QList<QUrl> urls = takeDrop(event->mimeData());
    if (urls.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

// ---- moving by the background ---------------------------------------------------------------

void ShelfWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_moving = true;
        m_movePressGlobal = event->globalPosition().toPoint();
        m_moveWindowAtPress = pos();
        emit gripDragBegan();
    }
    event->accept();
}

void ShelfWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_moving)
        move(WindowPlacement::dragPosition(m_movePressGlobal, m_moveWindowAtPress,
                                           event->globalPosition().toPoint()));
    event->accept();
}

void ShelfWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_moving) {
        m_moving = false;
        emit gripDragEnded();
    }
    event->accept();
}

void ShelfWindow::onGripDragEnded()
{
    rememberPosition();
}

// ---- menus --------------------------------------------------------------------------------

void ShelfWindow::openCustomizer()
{
    if (m_customizer) {
        m_customizer->close();
        return;
    }
    m_customizer = new ShelfCustomizer(m_manager, m_shelfId, this);
    m_header->setCustomizerOpen(true);
    connect(m_customizer, &QObject::destroyed, m_header, [header = m_header] { header->setCustomizerOpen(false); });
    m_customizer->adjustSize();
    QPoint at = mapToGlobal(QPoint(width(), 0)) + QPoint(6, 0);
    if (QScreen *s = screen()) {
        const QRect avail = s->availableGeometry();
        if (at.x() + m_customizer->width() > avail.right())
            at.setX(mapToGlobal(QPoint(0, 0)).x() - m_customizer->width() - 6);
    }
    m_customizer->move(at);
    m_customizer->show();
}

void ShelfWindow::showRowMenu(const QUuid &fileId, const QPoint &globalPos)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("Quick Look"), this, [this, fileId] {
        const QList<ShelfFile> f = filesWithIds({fileId});
        if (!f.isEmpty())
            QuickLookWindow::shared()->showFiles({f.first().resolvedURL()}, 0);
    });
    menu.addAction(QStringLiteral("Remove"), this, [this, fileId] { removeEntries({fileId}); });
    menu.exec(globalPos);
}

void ShelfWindow::showFileMenu(const QUuid &fileId, const QPoint &globalPos)
{
    QMenu *menu = buildFileMenu(fileId, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

QMenu *ShelfWindow::buildFileMenu(const QUuid &fileId, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    const QList<QUuid> targetIds = ShelfLogic::menuTargets(m_selection->selection, m_model->order(), fileId);
    const QList<ShelfFile> targets = filesWithIds(targetIds);
    if (targets.isEmpty())
        return menu;
    QList<QUrl> urls;
    QStringList names;
    for (const ShelfFile &f : targets) {
        urls << f.resolvedURL();
        names << ShelfFileModel::displayName(urls.last());
    }
    const bool single = targets.size() == 1;
    const AppSettings &settings = AppSettings::instance();
    const ShelfHooks &hooks = shelfHooks();

    QAction *title = menu->addAction(ShelfLogic::menuTitle(names));
    title->setEnabled(false);
    title->setObjectName(QStringLiteral("title"));
    menu->addSeparator();

    if (single) {
        const QUrl url = urls.first();
        menu->addAction(QStringLiteral("Quick Look"), this,
                        [url] { QuickLookWindow::shared()->showFiles({url}, 0); });
        menu->addAction(QStringLiteral("Open"), this, [url] { DesktopServices::open(url); });
        QMenu *with = menu->addMenu(QStringLiteral("Open With"));
        const QList<OpenWith::Application> apps = OpenWith::applicationsForFile(url);
        for (const OpenWith::Application &app : apps)
            with->addAction(QIcon::fromTheme(app.icon), app.name, this,
                            [app, url] { OpenWith::launch(app, {url}); });
        with->setEnabled(!apps.isEmpty());
        menu->addAction(QStringLiteral("Show in File Manager"), this, [url] { DesktopServices::reveal({url}); });
        menu->addAction(QStringLiteral("Copy File"), this, [url] {
            QGuiApplication::clipboard()->clear();
            QGuiApplication::clipboard()->setMimeData(ShelfIntake::copiedFilesMimeData({url}));
        });
        menu->addAction(QStringLiteral("Copy Path"), this, [url] {
            QGuiApplication::clipboard()->clear();
            QGuiApplication::clipboard()->setText(FilePath::displayPath(url));
        });
        menu->addSeparator();
    }

    // Tools.
    struct Tool {
        ShelfLogic::ToolEntry entry;
        bool enabled;
        ShelfHooks::ToolHook hook;
    };
    const QList<Tool> tools{
        {ShelfLogic::ToolEntry::zip, settings.showZipFeature(), hooks.openZip},
        {ShelfLogic::ToolEntry::rename, settings.showBatchRenameFeature(), hooks.openBatchRename},
        {ShelfLogic::ToolEntry::flatten, settings.showFlattenFeature(), hooks.openFlatten},
        {ShelfLogic::ToolEntry::convert, settings.showConvertFeature(), hooks.openConvert},
    };
    const Shelf *shelf = m_manager.shelf(m_shelfId);
    const int onShelf = shelf ? int(shelf->files.size()) : 0;
    bool anyTool = false;
    for (const Tool &t : tools) {
        if (!t.enabled || !t.hook)
            continue;
        anyTool = true;
        const ShelfLogic::MenuTexts texts = ShelfLogic::toolTexts(t.entry, names, onShelf);
        const auto hook = t.hook;
        const QUuid shelfId = m_shelfId;
        if (single) {
            QMenu *sub = menu->addMenu(texts.toolSubmenu);
            sub->addAction(texts.toolOne, this, [this, hook, shelfId, urls] { hook(this, shelfId, urls); });
            sub->addAction(texts.toolAll, this, [this, hook, shelfId] {
                QList<QUrl> all;
                if (const Shelf *s = m_manager.shelf(shelfId))
                    for (const ShelfFile &f : s->files)
                        all << f.resolvedURL();
                hook(this, shelfId, all);
            });
        } else {
            menu->addAction(texts.toolPlural, this, [this, hook, shelfId, urls] { hook(this, shelfId, urls); });
        }
    }

    // Send to another shelf.
    if (settings.showSendToShelfFeature() && m_manager.shelves().size() > 1) {
        QMenu *send = menu->addMenu(ShelfLogic::sendToShelfText(int(targets.size())));
        for (const Shelf &other : m_manager.shelves()) {
            if (other.id == m_shelfId)
                continue;
            const QUuid to = other.id;
            send->addAction(other.name, this, [this, targets, to] {
                m_manager.moveFiles(targets, m_shelfId, to);
                m_selection->selection.selected.clear();
                syncSelection();
            });
        }
        anyTool = true;
    }
    if (anyTool)
        menu->addSeparator();

    QAction *remove = menu->addAction(ShelfLogic::removeText(names), this, [this, targetIds] { removeEntries(targetIds); });
    remove->setObjectName(QStringLiteral("destructive"));
    QAction *trash = menu->addAction(symbolIcon(QStringLiteral("trash")), ShelfLogic::trashText(names), this,
                                     [this, targetIds] { trashEntries(targetIds); });
    trash->setObjectName(QStringLiteral("destructive"));
    return menu;
}

void ShelfWindow::removeEntries(const QList<QUuid> &ids)
{
    const QSet<QUuid> set(ids.cbegin(), ids.cend());
    for (const QUuid &id : ids)
        m_selection->selection.selected.remove(id);
    // removeFiles deletes files that lie in a shelf's own folder, and nothing else.
    m_manager.removeFiles(m_shelfId, set, true);
    m_manager.saveShelves();
    syncSelection();
}

void ShelfWindow::trashEntries(const QList<QUuid> &ids)
{
    const QList<ShelfFile> files = filesWithIds(ids);
    QList<QUrl> urls;
    for (const ShelfFile &f : files)
        urls << f.resolvedURL();
    auto *watcher = new QFutureWatcher<QList<Trash::Result>>(this);
    const QPointer<ShelfWindow> self(this);
    ShelfManager *manager = &m_manager;
    const QUuid shelfId = m_shelfId;
    connect(watcher, &QFutureWatcher<QList<Trash::Result>>::finished, this, [watcher, files, manager, shelfId, self] {
        watcher->deleteLater();
        const QList<Trash::Result> results = watcher->result();
        QSet<QUuid> moved;
        QStringList failures;
        for (qsizetype i = 0; i < results.size() && i < files.size(); ++i) {
            if (results.at(i).ok)
                moved.insert(files.at(i).id);
            else
                failures << ShelfFileModel::displayName(results.at(i).url) + QStringLiteral(": ") + results.at(i).error;
        }
        if (!moved.isEmpty()) {
            manager->removeFiles(shelfId, moved, false);
            manager->saveShelves();
        }
        if (!failures.isEmpty()) {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Perchbox"),
                            QStringLiteral("Some files could not be moved to Trash"), QMessageBox::Ok,
                            self ? self.data() : nullptr);
            box.setInformativeText(failures.join(QLatin1Char('\n')));
            box.setWindowFlag(Qt::WindowStaysOnTopHint);
            box.exec();
        }
    });
    watcher->setFuture(QtConcurrent::run([urls] { return Trash::moveToTrash(urls); }));
}
