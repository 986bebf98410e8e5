#pragma once

#include "input/tuck/TuckGeometry.h"
#include "model/Shelf.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QRect>
#include <QSet>
#include <QUuid>
#include <QVariantMap>

#include <functional>
#include <optional>

class AppSettings;
class ShelfManager;

// A shelf window as the tuck manager sees it. The window layer implements it for each shelf
// window and reports the window's events to the manager (pointerEntered, …).
class TuckWindow
{
public:
    virtual ~TuckWindow() = default;
    // The window's outer frame in global coordinates.
    virtual QRect frame() const = 0;
    // Moves the window; while the manager owns its size (setManaged) it is resized too.
    virtual void setFrame(const QRect &frame) = 0;
    // The size the shelf's content wants: its untucked size.
    virtual QSize fullSize() const = 0;
    virtual bool isShown() const = 0;
    virtual void raise() = 0;
    // While managed the window does not size itself to its content; the manager does.
    virtual void setManaged(bool managed) = 0;
    // The strip look (the shelf's colour with a grip) instead of the shelf's content.
    virtual void setStrip(bool strip) = 0;
    // A menu or dialog of the shelf is open: a peek is held out meanwhile.
    virtual bool isBusy() const { return false; }
    // A short visual highlight of an untucked shelf (hover on its row in the tray panel).
    virtual void flash() {}
};

// What the manager needs from the desktop: screens, the pointer, timers and animations.
// The program uses the real ones; tests inject fake screens and a clock they advance.
class TuckEnvironment
{
public:
    virtual ~TuckEnvironment() = default;
    virtual QList<TuckGeometry::Screen> screens() const = 0;
    virtual QPoint cursorPos() const = 0;
    // A single-shot timer; returns an id above 0 for stopTimer.
    virtual int startTimer(int ms, std::function<void()> fire) = 0;
    virtual void stopTimer(int id) = 0;
    // Animates the window's frame to `target` over `ms` (ease in, ease out; 0: at once), then
    // calls `done`. A new animation of the same window replaces the running one, whose `done`
    // is then never called.
    virtual void animate(TuckWindow *window, const QRect &target, int ms, std::function<void()> done) = 0;
    virtual void stopAnimation(TuckWindow *window) = 0;
};

// Edge tucking of shelf windows and their flights to the pointer on hot keys.
//
// A tucked shelf shrinks to a 24 px strip at the left or right edge of its screen; the
// pointer entering the strip peeks the shelf out at full size, and 0.6 s after the pointer
// left it slides back. A hot key flies an untucked shelf to the pointer (it goes back on the
// next press, or after files are dropped on it unless "Hold shelf at cursor" is on) and
// brings a tucked shelf out at the pointer. The tuck edge and screen are kept in the shelf
// record, so a tucked shelf comes back tucked after a restart.
//
// Notifications posted (userInfo {"id": shelf UUID}): "Perchbox.leftTuckSlideWillPeek",
// "…DidPeek", "…WillRetuck", "…DidRetuck" (and the "right…" ones), "Perchbox.shelfPeeked",
// "Perchbox.shelfUnpeeked", "Perchbox.shelfWillRetuck". Observed: "Perchbox.highlightShelf",
// "Perchbox.shelfSizeChanged", "Perchbox.shelfReceivedDrop" (a drop on a shelf held at the
// pointer). Screen changes and resume from sleep are reported by the program.
//
// Main thread only.
class ShelfTuckManager : public QObject
{
    Q_OBJECT
public:
    ShelfTuckManager(ShelfManager &shelves, AppSettings &settings, TuckEnvironment &environment,
                     QObject *parent = nullptr);
    ~ShelfTuckManager() override;

    // Windows: registered when they appear, unregistered before they go (not owned). A
    // window whose shelf record holds a tuck edge is tucked again when it is shown.
    void registerWindow(const QUuid &id, TuckWindow *window);
    void unregisterWindow(const QUuid &id);
    TuckWindow *window(const QUuid &id) const { return m_windows.value(id); }
    bool hasWindow(const QUuid &id) const { return m_windows.contains(id); }

    // Tucks on `edge` of the screen with identifier `screenId` (else the screen chosen from
    // the record and the window's position). Does not write the record.
    void tuck(const QUuid &id, TuckEdge edge, const std::optional<QString> &screenId = std::nullopt);
    // Ends any peek or float state and gives the window its full frame again.
    void untuck(const QUuid &id);
    // Untucks a shelf tucked on `edge`, else tucks it there; the record's tuck fields follow
    // and the shelf becomes the active one. False when the shelf has no window.
    bool toggleTuck(TuckEdge edge, const QUuid &id);
    // "Float Freely": untucked (record cleared), and no longer held at the pointer.
    void floatFreely(const QUuid &id);
    void peek(const QUuid &id);
    // Slides a peeked (or floated-out) tucked shelf back to its strip.
    void retuck(const QUuid &id);

    // The shelf the tuck hot keys act on: the active shelf when it has a shown window; else
    // the shown window under the pointer; else the shown window that appeared last.
    std::optional<QUuid> currentActiveShelfID() const;
    void setActiveShelf(const QUuid &id);
    std::optional<QUuid> activeShelfID() const { return m_activeShelfID; }
    // A hidden shelf shown by its hot key: it is hidden again when it goes back.
    void hideAgainAfterHotkeyCycle(const QUuid &id) { m_rehideAfterHotkeyCycleIDs.insert(id); }

    // Window events.
    void pointerEntered(const QUuid &id);
    void pointerLeft(const QUuid &id);
    void headerDragBegan(const QUuid &id);
    void headerDragEnded(const QUuid &id);
    void windowActivated(const QUuid &id);
    void windowShown(const QUuid &id);

    void handleHighlight(const QVariantMap &userInfo);
    void handleShelfSizeChanged(const QUuid &id);
    void handleDropOnPinnedShelf(const QUuid &id);
    void handleScreenConfigurationChanged();
    void handleSystemWake();

    // State, for the window layer and tests.
    std::optional<TuckEdge> tuckedEdge(const QUuid &id) const;
    std::optional<QRect> expandedFrame(const QUuid &id) const;
    bool isPeeked(const QUuid &id) const { return m_peekedIDs.contains(id); }
    bool isPinned(const QUuid &id) const { return m_pinnedIDs.contains(id); }
    bool isCursorFloated(const QUuid &id) const { return m_cursorFloatIDs.contains(id); }
    bool isFloatingPinned(const QUuid &id) const { return m_floatingPinnedIDs.contains(id); }
    bool isDraggingHeader(const QUuid &id) const { return m_isDraggingHeader.contains(id); }
    bool hasCollapseTimer(const QUuid &id) const { return m_collapseTimers.contains(id); }

private:
    enum class Slide { willPeek, didPeek, willRetuck, didRetuck };
    enum class Hold { checkPointer, always };

    void place(const QUuid &id, bool animated);
    std::optional<TuckGeometry::Screen> screenFor(const QUuid &id, TuckEdge edge, const QRect &frame) const;
    QRect visibleFor(const QUuid &id) const;
    void clearTransient(const QUuid &id);
    void startCollapse(const QUuid &id, int ms, Hold hold, std::function<void()> then);
    void stopCollapse(const QUuid &id);
    bool pointerHolds(const QUuid &id) const;
    void flyToPointer(const QUuid &id);
    void floatOutAtPointer(const QUuid &id);
    void returnToOriginalFrame(const QUuid &id);
    void goBack(const QUuid &id);
    void endHotkeyCycle(const QUuid &id);
    void storeTuck(const QUuid &id, const std::optional<TuckEdge> &edge, const std::optional<TuckGeometry::Screen> &screen);
    void postSlide(const QUuid &id, TuckEdge edge, Slide slide);
    void post(const QString &name, const QUuid &id);

    ShelfManager &m_shelves;
    AppSettings &m_settings;
    TuckEnvironment &m_env;

    QHash<QUuid, TuckWindow *> m_windows;
    QList<QUuid> m_order; // registration order
    QHash<QUuid, TuckEdge> m_tucked;
    QHash<QUuid, QRect> m_expandedFrames;
    QHash<QUuid, int> m_collapseTimers;
    QHash<QUuid, int> m_dropTimers;
    QSet<QUuid> m_peekedIDs;
    QSet<QUuid> m_isDraggingHeader;
    QSet<QUuid> m_cursorMonitors;
    QSet<QUuid> m_pinnedIDs;
    QSet<QUuid> m_cursorFloatIDs;
    QSet<QUuid> m_floatingPinnedIDs;
    QHash<QUuid, QRect> m_floatingOriginalFrames;
    QSet<QUuid> m_rehideAfterHotkeyCycleIDs;
    std::optional<QUuid> m_activeShelfID;
};
