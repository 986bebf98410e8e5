#include "shelf/WindowRules.h"

#include "shelf/WindowPlacement.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QDateTime>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>

namespace WindowRules {

namespace {

QPointer<QWidget> g_lastOwner;
// Our windows that float with the shelves (dialogs, tool windows, the tutorial, settings), so
// that a shelf appearing later does not cover them.
QList<QPointer<QWidget>> g_stacked;
// The frame of the last decorated window whose frame the window manager told us: used for
// a window that shows before its own frame is known.
QMargins g_lastFrame;
// How long the window manager may take to frame a window that just appeared.
constexpr qint64 kSettleMs = 1500;
const char *const kShownAt = "_perchbox_shownAt";
const char *const kPlaced = "_perchbox_placed";
const char *const kClampPending = "_perchbox_clampPending";
// The room kept between a window of ours and a shelf it was moved beside.
constexpr int kShelfGap = 8;

bool isShelfWindow(const QWidget *w)
{
    return w->objectName().startsWith(QLatin1String("perchbox-shelf-"));
}

bool isOwnerCandidate(const QWidget *w)
{
    return w && (isShelfWindow(w) || w->objectName() == QLatin1String("PerchboxPanel"));
}

// Top-level widgets whose position we may correct: everything but shelves, menus (they
// place themselves) and tool tips.
bool isClampedWindow(const QWidget *w)
{
    if (!w->isWindow() || isShelfWindow(w) || qobject_cast<const QMenu *>(w))
        return false;
    // The tray icon lives inside the tray host; other bypassing windows place themselves.
    if (w->windowFlags() & Qt::X11BypassWindowManagerHint)
        return false;
    switch (w->windowType()) {
    case Qt::ToolTip:
    case Qt::Desktop:
    case Qt::SubWindow:
    case Qt::ForeignWindow:
        return false;
    default:
        break;
    }
    // A combo box's list places itself next to its box.
    return !w->inherits("QComboBoxPrivateContainer");
}

// False for windows the window manager draws no frame around.
bool isDecorated(const QWidget *w)
{
    return w->windowType() != Qt::Popup
        && !(w->windowFlags() & (Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint));
}

QMargins frameOf(const QWidget *w)
{
    if (!isDecorated(w))
        return {};
    // A frame that cannot be a window manager's (a window not framed yet) is not trusted.
    if (QWindow *handle = w->windowHandle()) {
        const QMargins m = handle->frameMargins();
        const auto sane = [](int v) { return v >= 0 && v <= 64; };
        if (!m.isNull() && sane(m.left()) && sane(m.top()) && sane(m.right()) && sane(m.bottom())) {
            g_lastFrame = m;
            return m;
        }
    }
    return g_lastFrame;
}

// The frame of `w` on the screen. A window the window manager has not framed yet (one just
// shown) gets its frame where it was placed, the window itself moving right and down inside
// it; the frame's size is the last one seen, or, before any window was framed (at the first
// start), an allowance for a title bar and borders.
QRect frameGeometryOf(const QWidget *w)
{
    if (QWindow *handle = w->windowHandle(); handle && !handle->frameMargins().isNull())
        return w->frameGeometry();
    QMargins m = frameOf(w);
    if (m.isNull() && isDecorated(w))
        m = QMargins(4, 32, 4, 4);
    return QRect(w->pos(), w->size().grownBy(m));
}

QScreen *screenFor(const QWidget *w)
{
    if (QScreen *s = QGuiApplication::screenAt(w->geometry().center()))
        return s;
    if (const QWidget *parent = w->parentWidget())
        if (QScreen *s = QGuiApplication::screenAt(parent->window()->geometry().center()))
            return s;
    if (QWidget *owner = currentOwner(); owner && owner != w)
        if (QScreen *s = QGuiApplication::screenAt(owner->geometry().center()))
            return s;
    return QGuiApplication::primaryScreen();
}

void applyStacking(QWidget *w)
{
    if (!(w->windowFlags() & Qt::WindowStaysOnTopHint)) {
        w->overrideWindowFlags(w->windowFlags() | Qt::WindowStaysOnTopHint);
        if (QWindow *handle = w->windowHandle())
            handle->setFlags(w->windowFlags());
    }
    QWindow *handle = w->windowHandle();
    if (handle && !handle->transientParent()) {
        QWidget *owner = currentOwner();
        if (owner && owner != w && owner->isVisible() && owner->windowHandle() && !w->isAncestorOf(owner))
            handle->setTransientParent(owner->windowHandle());
    }
    g_stacked.removeAll(nullptr);
    if (!g_stacked.contains(w))
        g_stacked.append(w);
    // Above the shelves that were raised before it (same layer: the last raised wins).
    const QPointer<QWidget> guard(w);
    QTimer::singleShot(0, w, [guard] {
        if (guard && guard->isVisible())
            guard->raise();
    });
}

bool isUnplacedDialog(const QWidget *w)
{
    return qobject_cast<const QDialog *>(w) && !w->testAttribute(Qt::WA_Moved);
}

// The widget whose native window `w` is transient for (its parent's window, else the owner
// the stacking rules gave it), or null.
QWidget *ownerOf(const QWidget *w)
{
    if (const QWidget *parent = w->parentWidget())
        return parent->window();
    const QWindow *handle = w->windowHandle();
    const QWindow *transientParent = handle ? handle->transientParent() : nullptr;
    if (!transientParent)
        return nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->windowHandle() == transientParent)
            return top;
    return nullptr;
}

// A window of ours that floats above the shelves would hide the one it appears on: on its
// first showing it moves to the nearest place on its screen that covers no shelf. Only
// positions we know are checked: a window given one, and a dialog, which comes up centred
// on the window it belongs to (Qt and the window manager both put it there; it is placed
// only after this runs, so that position is worked out here). The window manager places
// other windows itself and avoids what is there.
// Moves `w`, whose frame is (or is about to be) `frame`, to the nearest place on its screen
// where it covers no visible shelf; false when it stays where it is.
bool moveFrameClearOfShelves(QWidget *w, QRect frame)
{
    QScreen *screen = screenFor(w);
    if (!screen)
        return false;
    const QRect area = screen->availableGeometry();
    QList<QRect> shelves;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top == w || !top->isVisible() || !isShelfWindow(top))
            continue;
        if (const QRect r = top->frameGeometry(); r.intersects(area))
            shelves.append(r);
        if (shelves.size() > WindowPlacement::maxClearObstacles)
            return false; // a screen full of shelves: nowhere better to go
    }
    if (shelves.isEmpty())
        return false;
    const QPoint at = WindowPlacement::clearOf(frame, shelves, area, kShelfGap);
    if (at == frame.topLeft())
        return false;
    w->move(at);
    return true;
}

void placeClearOfShelves(QWidget *w)
{
    if (w->property(kPlaced).toBool())
        return;
    w->setProperty(kPlaced, true);
    const bool unplacedDialog = isUnplacedDialog(w);
    if (!unplacedDialog && !w->testAttribute(Qt::WA_Moved))
        return;
    QRect frame = w->geometry().marginsAdded(frameOf(w));
    if (unplacedDialog) {
        // A dialog that covers nothing is left to be centred as usual.
        QScreen *screen = screenFor(w);
        if (!screen)
            return;
        const QWidget *owner = ownerOf(w);
        frame.moveCenter(owner && owner->isVisible() ? owner->frameGeometry().center()
                                                     : screen->availableGeometry().center());
        frame = clampedInto(frame, screen->availableGeometry());
    }
    moveFrameClearOfShelves(w, frame);
}

// A shelf that shows is raised to the top of the floating layer; our other floating windows
// that are open go back above it.
void raiseStackedAboveShelves()
{
    g_stacked.removeAll(nullptr);
    if (g_stacked.isEmpty())
        return;
    QTimer::singleShot(0, qApp, [] {
        for (const QPointer<QWidget> &w : std::as_const(g_stacked))
            if (w && w->isVisible())
                w->raise();
    });
}

// The label a layout puts in front of a control: its form label, or the label just before
// it in the same row.
QString layoutLabelFor(const QWidget *control)
{
    const QWidget *parent = control->parentWidget();
    if (!parent || !parent->layout())
        return {};
    QList<const QLayout *> pending{parent->layout()};
    while (!pending.isEmpty()) {
        const QLayout *layout = pending.takeFirst();
        if (const auto *form = qobject_cast<const QFormLayout *>(layout))
            if (const auto *label = qobject_cast<const QLabel *>(form->labelForField(const_cast<QWidget *>(control))))
                return label->text();
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem *item = layout->itemAt(i);
            if (item->widget() == control && i > 0)
                if (const auto *label = qobject_cast<const QLabel *>(layout->itemAt(i - 1)->widget()))
                    return label->text();
            if (item->layout())
                pending.append(item->layout());
        }
    }
    return {};
}

QString plainName(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    text = text.trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}

bool isControl(const QWidget *w)
{
    // The text field inside a spin box or an editable combo box is part of that control.
    if (qobject_cast<const QLineEdit *>(w) && w->parentWidget()
        && (qobject_cast<const QAbstractSpinBox *>(w->parentWidget()) || qobject_cast<const QComboBox *>(w->parentWidget())))
        return false;
    return qobject_cast<const QAbstractButton *>(w) || qobject_cast<const QLineEdit *>(w)
        || qobject_cast<const QComboBox *>(w) || qobject_cast<const QAbstractSpinBox *>(w)
        || (qobject_cast<const QAbstractItemView *>(w) && !w->inherits("QComboBoxListView")
            && !w->inherits("QHeaderView")); // a table's header is part of the table
}

// Enter and Escape in windows that are not dialogs (dialogs have their own): Escape closes
// the window, Enter presses the focused button, else the default button.
bool handleWindowKey(QWidget *window, QKeyEvent *key)
{
    if (qobject_cast<QDialog *>(window) || window->objectName() == QLatin1String("PerchboxPanel"))
        return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    if (key->key() == Qt::Key_Escape) {
        window->close();
        return true;
    }
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    if (auto *focused = qobject_cast<QAbstractButton *>(QApplication::focusWidget());
        focused && focused->window() == window && focused->isEnabled()) {
        focused->click();
        return true;
    }
    for (QPushButton *button : window->findChildren<QPushButton *>())
        if (button->isDefault() && button->isVisibleTo(window) && button->isEnabled()) {
            button->click();
            return true;
        }
    return false;
}

// Checks the window against its screen once the window manager has framed it (its frame
// is known then), unless a check is already due.
void clampOnceFramed(QWidget *w)
{
    if (w->property(kClampPending).toBool())
        return;
    w->setProperty(kClampPending, true);
    const qint64 since = QDateTime::currentMSecsSinceEpoch() - w->property(kShownAt).toLongLong();
    const QPointer<QWidget> guard(w);
    QTimer::singleShot(int(std::clamp<qint64>(kSettleMs - since, 0, kSettleMs)), w, [guard] {
        if (!guard)
            return;
        guard->setProperty(kClampPending, false);
        if (guard->isVisible())
            clampToScreen(guard);
    });
}

class RulesFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Polish:
            // Wheel focus would let the wheel focus the box and then change it.
            if (auto *w = qobject_cast<QWidget *>(watched);
                w && (qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractSpinBox *>(w))
                && w->focusPolicy() == Qt::WheelFocus)
                w->setFocusPolicy(Qt::StrongFocus);
            break;
        case QEvent::Wheel:
            if (wheelPassesThrough(watched)) {
                // Ignored but handled: the application hands the event on to the parent.
                event->ignore();
                return true;
            }
            break;
        case QEvent::KeyPress:
            // A key nobody took reaches the window last.
            if (auto *w = qobject_cast<QWidget *>(watched); w && w->isWindow() && isRuledWindow(w))
                return handleWindowKey(w, static_cast<QKeyEvent *>(event));
            break;
        case QEvent::Show:
            if (auto *w = qobject_cast<QWidget *>(watched); w && w->isWindow()) {
                if (isShelfWindow(w))
                    raiseStackedAboveShelves();
                if (isRuledWindow(w)) {
                    applyStacking(w);
                    nameControls(w);
                }
                if (isClampedWindow(w)) {
                    w->setProperty(kShownAt, QDateTime::currentMSecsSinceEpoch());
                    // Only a position we gave is checked now. Without one the window has none
                    // yet: a dialog is centred on its owner (inside the screen) after this,
                    // the window manager places any other window.
                    if (w->testAttribute(Qt::WA_Moved))
                        clampToScreen(w);
                    // Until the window manager has framed it, its frame is a guess (the
                    // title bar may reach past the bottom): checked again once it is known.
                    clampOnceFramed(w);
                }
                if (isRuledWindow(w))
                    placeClearOfShelves(w);
            }
            break;
        case QEvent::Resize:
            if (auto *w = qobject_cast<QWidget *>(watched); w && w->isWindow() && w->isVisible() && isClampedWindow(w)) {
                // A window that grows while shown is brought back in — once the window manager
                // has framed it (while it does, the reported position is the frame's inside).
                // Moves are the user's: a window may be put partly off screen on purpose.
                // One that grows before then is checked once it has been framed.
                const qint64 shownAt = w->property(kShownAt).toLongLong();
                if (QDateTime::currentMSecsSinceEpoch() - shownAt >= kSettleMs)
                    clampToScreen(w);
                else
                    clampOnceFramed(w);
            }
            break;
        default:
            break;
        }
        return false;
    }
};

QPointer<RulesFilter> g_filter;

} // namespace

void install()
{
    if (g_filter || !qApp)
        return;
    g_filter = new RulesFilter(qApp);
    qApp->installEventFilter(g_filter);
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, g_filter, [](QWindow *window) {
        if (!window)
            return;
        // By its native window (a lookup, not a walk over every widget of the program: with
        // thousands of shelves each focus change took milliseconds).
        if (QWidget *w = QWidget::find(window->winId()); w && w->windowHandle() == window && isOwnerCandidate(w))
            g_lastOwner = w;
    });
}

bool isInstalled()
{
    return bool(g_filter);
}

QRect clampedInto(const QRect &frame, const QRect &available)
{
    if (available.isEmpty())
        return frame;
    const int w = std::min(frame.width(), available.width());
    const int h = std::min(frame.height(), available.height());
    const int x = std::clamp(frame.x(), available.left(), available.left() + available.width() - w);
    const int y = std::clamp(frame.y(), available.top(), available.top() + available.height() - h);
    return {x, y, w, h};
}

void clampToScreen(QWidget *window)
{
    if (!window)
        return;
    QScreen *screen = screenFor(window);
    if (!screen)
        return;
    const QMargins m = frameOf(window);
    const QRect frame = window->geometry().marginsAdded(m);
    const QRect fitted = clampedInto(frame, screen->availableGeometry());
    if (fitted == frame)
        return;
    if (fitted.size() != frame.size())
        window->resize(fitted.marginsRemoved(m).size());
    // For a window, move() places the top-left corner of its frame.
    if (fitted.topLeft() != frame.topLeft())
        window->move(fitted.topLeft());
}

void keepClearOfShelves(QWidget *window)
{
    if (window && window->isWindow())
        moveFrameClearOfShelves(window, window->geometry().marginsAdded(frameOf(window)));
}

QList<QRect> floatingFrames()
{
    QList<QRect> frames;
    g_stacked.removeAll(nullptr);
    for (const QPointer<QWidget> &w : std::as_const(g_stacked))
        if (w->isVisible() && !w->isMinimized())
            frames.append(frameGeometryOf(w));
    return frames;
}

QWidget *currentOwner()
{
    QWidget *active = QApplication::activeWindow();
    if (active && active->isVisible() && !qobject_cast<QMenu *>(active) && active->windowType() != Qt::Popup)
        return active;
    if (g_lastOwner && g_lastOwner->isVisible())
        return g_lastOwner;
    return nullptr;
}

void noteOwnerUsed(QWidget *window)
{
    if (isOwnerCandidate(window))
        g_lastOwner = window;
}

bool isRuledWindow(const QWidget *window)
{
    if (!window || !window->isWindow() || !isClampedWindow(window))
        return false;
    if (window->windowType() == Qt::Popup || window->windowType() == Qt::SplashScreen)
        return false;
    return !(window->windowFlags() & Qt::X11BypassWindowManagerHint);
}

void nameControls(QWidget *root)
{
    if (!root)
        return;
    const auto name = [](QWidget *w) -> QString {
        if (!w->accessibleName().isEmpty())
            return {};
        if (QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w))
            if (!iface->text(QAccessible::Name).trimmed().isEmpty())
                return {};
        QString text = plainName(layoutLabelFor(w));
        if (text.isEmpty())
            text = plainName(w->toolTip());
        if (text.isEmpty())
            if (const auto *edit = qobject_cast<const QLineEdit *>(w))
                text = plainName(edit->placeholderText());
        return text;
    };
    for (QWidget *w : root->findChildren<QWidget *>()) {
        if (!isControl(w))
            continue;
        const QString text = name(w);
        if (!text.isEmpty())
            w->setAccessibleName(text);
    }
}

QString accessibleNameOf(QWidget *control)
{
    if (!control->accessibleName().isEmpty())
        return control->accessibleName();
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(control);
    return iface ? iface->text(QAccessible::Name).trimmed() : QString();
}

QList<QWidget *> unnamedControls(QWidget *root)
{
    QList<QWidget *> out;
    for (QWidget *w : root->findChildren<QWidget *>())
        if (isControl(w) && w->isVisibleTo(root) && accessibleNameOf(w).isEmpty())
            out.append(w);
    return out;
}

bool wheelPassesThrough(const QObject *receiver)
{
    for (const QObject *o = receiver; o && o->isWidgetType(); o = o->parent()) {
        const auto *w = static_cast<const QWidget *>(o);
        if (qobject_cast<const QComboBox *>(w) || qobject_cast<const QAbstractSpinBox *>(w))
            return !w->hasFocus();
        if (w->isWindow())
            break;
    }
    return false;
}

} // namespace WindowRules
