#include "input/tuck/ShelfTuckManager.h"

#include "model/ShelfManager.h"
#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"

using namespace TuckGeometry;

namespace {
std::optional<QUuid> idOf(const QVariantMap &info)
{
    const QVariant value = info.value(Notifications::idKey);
    if (value.metaType() == QMetaType::fromType<QUuid>())
        return value.toUuid();
    return parseUuid(value.toString());
}
} // namespace

ShelfTuckManager::ShelfTuckManager(ShelfManager &shelves, AppSettings &settings, TuckEnvironment &environment,
                                   QObject *parent)
    : QObject(parent), m_shelves(shelves), m_settings(settings), m_env(environment)
{
    NotificationCenter &center = NotificationCenter::instance();
    center.observe(Notifications::highlightShelf, this, [this](const QVariantMap &info) { handleHighlight(info); });
    center.observe(Notifications::shelfSizeChanged, this, [this](const QVariantMap &info) {
        if (const auto id = idOf(info))
            handleShelfSizeChanged(*id);
    });
    center.observe(Notifications::shelfReceivedDrop, this, [this](const QVariantMap &info) {
        if (const auto id = idOf(info))
            handleDropOnPinnedShelf(*id);
    });
}

ShelfTuckManager::~ShelfTuckManager()
{
    for (const QUuid &id : QList<QUuid>(m_windows.keys()))
        unregisterWindow(id);
}

// ---- windows --------------------------------------------------------------------------------

void ShelfTuckManager::registerWindow(const QUuid &id, TuckWindow *window)
{
    if (!window)
        return;
    if (m_windows.contains(id))
        unregisterWindow(id);
    m_windows.insert(id, window);
    m_order.append(id);
    setActiveShelf(id);
    const Shelf *shelf = m_shelves.shelf(id);
    if (shelf && shelf->tuckedEdge) {
        m_tucked.insert(id, *shelf->tuckedEdge);
        window->setManaged(true);
        window->setStrip(true);
        if (window->isShown())
            place(id, false);
        // Otherwise when it is shown (windowShown), once it has its position.
    }
}

void ShelfTuckManager::unregisterWindow(const QUuid &id)
{
    TuckWindow *window = m_windows.take(id);
    if (!window)
        return;
    m_env.stopAnimation(window);
    clearTransient(id);
    if (const auto timer = m_dropTimers.take(id))
        m_env.stopTimer(timer);
    m_order.removeAll(id);
    m_tucked.remove(id);
    m_expandedFrames.remove(id);
    if (m_activeShelfID == id)
        m_activeShelfID.reset();
}

void ShelfTuckManager::windowShown(const QUuid &id)
{
    if (m_tucked.contains(id))
        place(id, false);
}

void ShelfTuckManager::windowActivated(const QUuid &id)
{
    if (m_windows.contains(id))
        setActiveShelf(id);
}

void ShelfTuckManager::setActiveShelf(const QUuid &id)
{
    m_activeShelfID = id;
}

std::optional<QUuid> ShelfTuckManager::currentActiveShelfID() const
{
    const auto shown = [this](const QUuid &id) {
        TuckWindow *w = m_windows.value(id);
        return w && w->isShown();
    };
    if (m_activeShelfID && shown(*m_activeShelfID))
        return m_activeShelfID;
    const QPoint pointer = m_env.cursorPos();
    for (auto it = m_order.crbegin(); it != m_order.crend(); ++it)
        if (shown(*it) && m_windows.value(*it)->frame().contains(pointer))
            return *it;
    for (auto it = m_order.crbegin(); it != m_order.crend(); ++it)
        if (shown(*it))
            return *it;
    return std::nullopt;
}

std::optional<TuckEdge> ShelfTuckManager::tuckedEdge(const QUuid &id) const
{
    const auto it = m_tucked.constFind(id);
    return it == m_tucked.constEnd() ? std::nullopt : std::optional(*it);
}

std::optional<QRect> ShelfTuckManager::expandedFrame(const QUuid &id) const
{
    const auto it = m_expandedFrames.constFind(id);
    return it == m_expandedFrames.constEnd() ? std::nullopt : std::optional(*it);
}

// ---- tucking --------------------------------------------------------------------------------

std::optional<Screen> ShelfTuckManager::screenFor(const QUuid &id, TuckEdge edge, const QRect &frame) const
{
    const QList<Screen> screens = m_env.screens();
    const Shelf *shelf = m_shelves.shelf(id);
    const auto index = chooseScreen(screens, shelf ? shelf->tuckedScreenID : std::nullopt,
                                    shelf ? shelf->tuckedScreenName : std::nullopt, frame, edge);
    if (!index)
        return std::nullopt;
    return screens.at(*index);
}

QRect ShelfTuckManager::visibleFor(const QUuid &id) const
{
    const QRect expanded = m_expandedFrames.value(id);
    const auto screen = screenFor(id, m_tucked.value(id), expanded);
    return screen ? screen->available : expanded;
}

void ShelfTuckManager::tuck(const QUuid &id, TuckEdge edge, const std::optional<QString> &screenId)
{
    TuckWindow *w = m_windows.value(id);
    if (!w)
        return;
    // Cancel peek and float state; the full frame is the remembered one of a tucked shelf,
    // else the window's own.
    clearTransient(id);
    m_floatingPinnedIDs.remove(id);
    m_floatingOriginalFrames.remove(id);
    const QRect base = m_tucked.contains(id) && m_expandedFrames.contains(id)
        ? m_expandedFrames.value(id)
        : QRect(w->frame().topLeft(), w->fullSize());
    const QList<Screen> screens = m_env.screens();
    std::optional<Screen> screen;
    if (screenId)
        for (const Screen &s : screens)
            if (s.id == *screenId)
                screen = s;
    if (!screen)
        screen = screenFor(id, edge, base);
    if (!screen)
        return;
    m_tucked.insert(id, edge);
    const QRect expanded = clampInto(base, screen->available);
    m_expandedFrames.insert(id, expanded);
    w->setManaged(true);
    w->setStrip(true);
    m_env.animate(w, stripFrame(expanded, edge, screen->available), animationMs, {});
}

void ShelfTuckManager::place(const QUuid &id, bool animated)
{
    TuckWindow *w = m_windows.value(id);
    if (!w || !m_tucked.contains(id))
        return;
    clearTransient(id);
    const TuckEdge edge = m_tucked.value(id);
    const QRect base = m_expandedFrames.contains(id) ? m_expandedFrames.value(id)
                                                     : QRect(w->frame().topLeft(), w->fullSize());
    const auto screen = screenFor(id, edge, base);
    if (!screen)
        return;
    const QRect expanded = clampInto(QRect(base.topLeft(), w->fullSize()), screen->available);
    m_expandedFrames.insert(id, expanded);
    w->setManaged(true);
    w->setStrip(true);
    m_env.animate(w, stripFrame(expanded, edge, screen->available), animated ? animationMs : 0, {});
}

void ShelfTuckManager::untuck(const QUuid &id)
{
    TuckWindow *w = m_windows.value(id);
    if (!w)
        return;
    clearTransient(id);
    const bool wasTucked = m_tucked.contains(id);
    const QRect expanded = m_expandedFrames.value(id, QRect(w->frame().topLeft(), w->fullSize()));
    const QRect visible = wasTucked ? visibleFor(id) : expanded;
    m_tucked.remove(id);
    m_expandedFrames.remove(id);
    if (!wasTucked)
        return;
    // The window keeps the strip look and its managed size while it grows back, then shows
    // its content and sizes itself again.
    w->setManaged(true);
    m_env.animate(w, clampInto(QRect(expanded.topLeft(), w->fullSize()), visible), animationMs, [w] {
        w->setStrip(false);
        w->setManaged(false);
    });
}

bool ShelfTuckManager::toggleTuck(TuckEdge edge, const QUuid &id)
{
    TuckWindow *w = m_windows.value(id);
    if (!w)
        return false;
    setActiveShelf(id);
    if (tuckedEdge(id) == edge) {
        untuck(id);
        storeTuck(id, std::nullopt, std::nullopt);
        return true;
    }
    tuck(id, edge);
    if (m_tucked.contains(id))
        storeTuck(id, edge, screenFor(id, edge, m_expandedFrames.value(id)));
    return true;
}

void ShelfTuckManager::floatFreely(const QUuid &id)
{
    if (!m_windows.contains(id))
        return;
    if (m_tucked.contains(id)) {
        untuck(id);
        storeTuck(id, std::nullopt, std::nullopt);
    }
    m_floatingPinnedIDs.remove(id);
    m_floatingOriginalFrames.remove(id);
    stopCollapse(id);
}

void ShelfTuckManager::storeTuck(const QUuid &id, const std::optional<TuckEdge> &edge,
                                 const std::optional<Screen> &screen)
{
    const Shelf *shelf = m_shelves.shelf(id);
    if (!shelf)
        return;
    const std::optional<QString> screenId = edge && screen ? std::optional(screen->id) : std::nullopt;
    const std::optional<QString> screenName = edge && screen ? std::optional(screen->name) : std::nullopt;
    if (shelf->tuckedEdge == edge && shelf->tuckedScreenID == screenId && shelf->tuckedScreenName == screenName)
        return;
    m_shelves.updateShelf(id, [&](Shelf &s) {
        s.tuckedEdge = edge;
        s.tuckedScreenID = screenId;
        s.tuckedScreenName = screenName;
    });
}

// ---- peeking --------------------------------------------------------------------------------

void ShelfTuckManager::peek(const QUuid &id)
{
    TuckWindow *w = m_windows.value(id);
    if (!w || !m_tucked.contains(id))
        return;
    if (m_isDraggingHeader.contains(id) || m_cursorFloatIDs.contains(id))
        return;
    stopCollapse(id);
    if (m_peekedIDs.contains(id))
        return;
    m_peekedIDs.insert(id);
    const TuckEdge edge = m_tucked.value(id);
    const QRect target = peekFrame(m_expandedFrames.value(id), edge, visibleFor(id));
    postSlide(id, edge, Slide::willPeek);
    post(Notifications::shelfPeeked, id);
    w->setManaged(true);
    w->raise();
    m_env.animate(w, target, animationMs, [this, id, w, edge] {
        w->setStrip(false);
        postSlide(id, edge, Slide::didPeek);
    });
}

void ShelfTuckManager::retuck(const QUuid &id)
{
    TuckWindow *w = m_windows.value(id);
    if (!w || !m_tucked.contains(id))
        return;
    if (!m_peekedIDs.contains(id) && !m_cursorFloatIDs.contains(id))
        return;
    const TuckEdge edge = m_tucked.value(id);
    const QRect target = stripFrame(m_expandedFrames.value(id), edge, visibleFor(id));
    postSlide(id, edge, Slide::willRetuck);
    post(Notifications::shelfUnpeeked, id);
    post(Notifications::shelfWillRetuck, id);
    clearTransient(id);
    w->setManaged(true);
    w->setStrip(true);
    m_env.animate(w, target, animationMs, [this, id, edge] { postSlide(id, edge, Slide::didRetuck); });
    endHotkeyCycle(id);
}

void ShelfTuckManager::pointerEntered(const QUuid &id)
{
    if (!m_windows.contains(id))
        return;
    setActiveShelf(id);
    if (m_cursorFloatIDs.contains(id)) {
        // Floated out by its hot key and not pinned: held while the pointer is over it.
        if (m_cursorMonitors.contains(id))
            stopCollapse(id);
        return;
    }
    if (m_tucked.contains(id))
        peek(id);
}

void ShelfTuckManager::pointerLeft(const QUuid &id)
{
    if (!m_windows.contains(id) || m_isDraggingHeader.contains(id))
        return;
    if (m_cursorFloatIDs.contains(id)) {
        if (m_cursorMonitors.contains(id))
            startCollapse(id, hotkeyFloatMs, Hold::checkPointer, [this, id] { retuck(id); });
        return;
    }
    if (m_peekedIDs.contains(id))
        startCollapse(id, retuckDelayMs, Hold::checkPointer, [this, id] { retuck(id); });
}

bool ShelfTuckManager::pointerHolds(const QUuid &id) const
{
    TuckWindow *w = m_windows.value(id);
    return w && (w->isBusy() || w->frame().contains(m_env.cursorPos()));
}

void ShelfTuckManager::startCollapse(const QUuid &id, int ms, Hold hold, std::function<void()> then)
{
    stopCollapse(id);
    const int timer = m_env.startTimer(ms, [this, id, ms, hold, then] {
        m_collapseTimers.remove(id);
        // The pointer is over the shelf (an enter event may not have reached us, as after a
        // drop) or a menu or dialog of the program is open: look again a little later.
        if (hold == Hold::checkPointer && pointerHolds(id)) {
            startCollapse(id, ms, hold, then);
            return;
        }
        then();
    });
    m_collapseTimers.insert(id, timer);
}

void ShelfTuckManager::stopCollapse(const QUuid &id)
{
    if (const auto timer = m_collapseTimers.take(id))
        m_env.stopTimer(timer);
}

void ShelfTuckManager::clearTransient(const QUuid &id)
{
    stopCollapse(id);
    m_peekedIDs.remove(id);
    m_cursorFloatIDs.remove(id);
    m_pinnedIDs.remove(id);
    m_cursorMonitors.remove(id);
    m_isDraggingHeader.remove(id);
}

// ---- header drags ---------------------------------------------------------------------------

void ShelfTuckManager::headerDragBegan(const QUuid &id)
{
    if (!m_windows.contains(id))
        return;
    if (m_tucked.contains(id)) {
        m_isDraggingHeader.insert(id);
        stopCollapse(id);
    }
}

void ShelfTuckManager::headerDragEnded(const QUuid &id)
{
    TuckWindow *w = m_windows.value(id);
    if (!w)
        return;
    if (!m_isDraggingHeader.remove(id)) {
        // An untucked shelf held at the pointer that the user moved by hand stays there.
        m_floatingPinnedIDs.remove(id);
        m_floatingOriginalFrames.remove(id);
        return;
    }
    if (!m_tucked.contains(id))
        return;
    const QRect frame = w->frame();
    const QList<Screen> screens = m_env.screens();
    const auto index = screenOfFrame(screens, frame);
    const std::optional<TuckEdge> edge = index ? edgeNear(frame, screens.at(*index).available) : std::nullopt;
    if (!edge) {
        // Dragged away from the edge: the shelf floats freely where it was dropped.
        clearTransient(id);
        m_tucked.remove(id);
        m_expandedFrames.remove(id);
        w->setStrip(false);
        w->setManaged(false);
        storeTuck(id, std::nullopt, std::nullopt);
        endHotkeyCycle(id);
        return;
    }
    // Still at an edge: tucked there (on this screen), at the new height, peeked.
    const Screen &screen = screens.at(*index);
    m_tucked.insert(id, *edge);
    m_expandedFrames.insert(id, clampInto(QRect(frame.topLeft(), w->fullSize()), screen.available));
    storeTuck(id, *edge, screen);
    clearTransient(id);
    m_peekedIDs.insert(id);
    w->setStrip(false);
    m_env.animate(w, peekFrame(m_expandedFrames.value(id), *edge, screen.available), animationMs, {});
    if (!w->frame().contains(m_env.cursorPos()))
        startCollapse(id, retuckDelayMs, Hold::checkPointer, [this, id] { retuck(id); });
}

// ---- hot keys and highlights ----------------------------------------------------------------

void ShelfTuckManager::handleHighlight(const QVariantMap &info)
{
    const auto id = idOf(info);
    if (!id)
        return;
    TuckWindow *w = m_windows.value(*id);
    if (!w)
        return;
    const bool fromHotkey = info.value(Notifications::fromHotkeyKey).toBool();
    const bool tucked = m_tucked.contains(*id);

    if (fromHotkey && tucked && m_pinnedIDs.contains(*id)) {
        m_pinnedIDs.remove(*id);
        retuck(*id);
    } else if (fromHotkey && m_floatingPinnedIDs.contains(*id)) {
        returnToOriginalFrame(*id);
    } else if (fromHotkey && !tucked) {
        flyToPointer(*id);
    } else if (fromHotkey) {
        floatOutAtPointer(*id);
    } else if (tucked) {
        // The tray panel's hover: a short peek.
        if (m_cursorFloatIDs.contains(*id))
            return;
        peek(*id);
        startCollapse(*id, highlightPeekMs, Hold::checkPointer, [this, id = *id] { retuck(id); });
    } else if (w->isShown()) {
        w->raise();
        w->flash();
    }
}

void ShelfTuckManager::flyToPointer(const QUuid &id)
{
    TuckWindow *w = m_windows.value(id);
    const QRect original = w->frame();
    m_floatingOriginalFrames.insert(id, original);
    const QPoint pointer = m_env.cursorPos();
    const QList<Screen> screens = m_env.screens();
    auto index = screenAt(screens, pointer);
    if (!index)
        index = screenOfFrame(screens, original);
    if (!index)
        return;
    w->setManaged(false);
    w->setStrip(false);
    m_env.animate(w, pointerFrame(original.size(), pointer, screens.at(*index).available), animationMs, {});
    w->raise();
    setActiveShelf(id);
    if (m_settings.hotkeyPinEnabled())
        m_floatingPinnedIDs.insert(id);
}

void ShelfTuckManager::floatOutAtPointer(const QUuid &id)
{
    TuckWindow *w = m_windows.value(id);
    const QPoint pointer = m_env.cursorPos();
    const QList<Screen> screens = m_env.screens();
    const QRect expanded = m_expandedFrames.value(id, QRect(w->frame().topLeft(), w->fullSize()));
    auto index = screenAt(screens, pointer);
    if (!index)
        index = screenOfFrame(screens, w->frame());
    if (!index)
        return;
    clearTransient(id);
    m_cursorFloatIDs.insert(id);
    post(Notifications::shelfPeeked, id);
    w->setManaged(true);
    m_env.animate(w, pointerFrame(expanded.size(), pointer, screens.at(*index).available), animationMs,
                  [w] { w->setStrip(false); });
    w->raise();
    setActiveShelf(id);
    if (m_settings.hotkeyPinEnabled()) {
        m_pinnedIDs.insert(id);
        return;
    }
    m_cursorMonitors.insert(id);
    startCollapse(id, hotkeyFloatMs, Hold::checkPointer, [this, id] { retuck(id); });
}

void ShelfTuckManager::returnToOriginalFrame(const QUuid &id)
{
    TuckWindow *w = m_windows.value(id);
    m_floatingPinnedIDs.remove(id);
    stopCollapse(id);
    const auto original = m_floatingOriginalFrames.contains(id) ? std::optional(m_floatingOriginalFrames.take(id))
                                                                 : std::nullopt;
    if (w && original && !m_tucked.contains(id)) {
        w->setManaged(false);
        m_env.animate(w, QRect(original->topLeft(), w->frame().size()), animationMs, {});
    }
    endHotkeyCycle(id);
}

void ShelfTuckManager::goBack(const QUuid &id)
{
    if (m_tucked.contains(id) && m_pinnedIDs.contains(id)) {
        m_pinnedIDs.remove(id);
        retuck(id);
    } else if (m_floatingPinnedIDs.contains(id)) {
        returnToOriginalFrame(id);
    }
}

void ShelfTuckManager::endHotkeyCycle(const QUuid &id)
{
    if (m_rehideAfterHotkeyCycleIDs.remove(id))
        m_shelves.hideShelf(id);
}

void ShelfTuckManager::handleDropOnPinnedShelf(const QUuid &id)
{
    const auto held = [this, id] {
        return (m_tucked.contains(id) && m_pinnedIDs.contains(id)) || m_floatingPinnedIDs.contains(id);
    };
    if (!held())
        return;
    if (const auto timer = m_dropTimers.take(id))
        m_env.stopTimer(timer);
    m_dropTimers.insert(id, m_env.startTimer(dropSettleMs, [this, id, held] {
        m_dropTimers.remove(id);
        if (!held() || m_settings.hotkeyHoldUntilHotkey())
            return;
        // The pointer is still over the shelf that took the drop: no pointer check here.
        startCollapse(id, retuckDelayMs, Hold::always, [this, id] { goBack(id); });
    }));
}

// ---- size, screens, wake --------------------------------------------------------------------

void ShelfTuckManager::handleShelfSizeChanged(const QUuid &id)
{
    TuckWindow *w = m_windows.value(id);
    if (!w || !m_tucked.contains(id))
        return;
    const TuckEdge edge = m_tucked.value(id);
    const QRect visible = visibleFor(id);
    const QRect expanded = clampInto(QRect(m_expandedFrames.value(id).topLeft(), w->fullSize()), visible);
    m_expandedFrames.insert(id, expanded);
    if (m_peekedIDs.contains(id))
        m_env.animate(w, peekFrame(expanded, edge, visible), 0, [w] { w->setStrip(false); });
    else if (m_cursorFloatIDs.contains(id))
        m_env.animate(w, clampInto(QRect(w->frame().topLeft(), expanded.size()), visible), 0, [w] { w->setStrip(false); });
    else
        m_env.animate(w, stripFrame(expanded, edge, visible), 0, {});
}

void ShelfTuckManager::handleScreenConfigurationChanged()
{
    for (const QUuid &id : QList<QUuid>(m_order))
        if (m_tucked.contains(id) && m_windows.value(id)->isShown())
            place(id, false);
}

void ShelfTuckManager::handleSystemWake()
{
    handleScreenConfigurationChanged();
}

// ---- notifications --------------------------------------------------------------------------

void ShelfTuckManager::post(const QString &name, const QUuid &id)
{
    NotificationCenter::instance().post(name, {{Notifications::idKey, uuidString(id)}});
}

void ShelfTuckManager::postSlide(const QUuid &id, TuckEdge edge, Slide slide)
{
    const bool left = edge == TuckEdge::left;
    switch (slide) {
    case Slide::willPeek:
        return post(left ? Notifications::leftTuckSlideWillPeek : Notifications::rightTuckSlideWillPeek, id);
    case Slide::didPeek:
        return post(left ? Notifications::leftTuckSlideDidPeek : Notifications::rightTuckSlideDidPeek, id);
    case Slide::willRetuck:
        return post(left ? Notifications::leftTuckSlideWillRetuck : Notifications::rightTuckSlideWillRetuck, id);
    case Slide::didRetuck:
        return post(left ? Notifications::leftTuckSlideDidRetuck : Notifications::rightTuckSlideDidRetuck, id);
    }
}
