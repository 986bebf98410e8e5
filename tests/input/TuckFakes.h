#pragma once

// Fakes for the tuck manager: windows that are plain rectangles, screens that are a list,
// a pointer that tests move, and a clock that tests advance (timers and animations fire
// when their time comes, never by waiting).
#include "input/tuck/ShelfTuckManager.h"
#include "model/ShelfManager.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"

#include <QTemporaryDir>

#include <map>
#include <memory>

class FakeTuckWindow : public TuckWindow
{
public:
    explicit FakeTuckWindow(const QRect &frame) : m_frame(frame), m_full(frame.size()) {}

    QRect frame() const override { return m_frame; }
    void setFrame(const QRect &frame) override
    {
        // An unmanaged window keeps its own size, as a real one does.
        m_frame = managed ? frame : QRect(frame.topLeft(), m_full);
    }
    QSize fullSize() const override { return m_full; }
    bool isShown() const override { return shown; }
    void raise() override { ++raised; }
    void setManaged(bool on) override
    {
        managed = on;
        if (!on)
            m_frame.setSize(m_full);
    }
    void setStrip(bool on) override { strip = on; }
    bool isBusy() const override { return busy; }
    void flash() override { ++flashed; }

    // The content's size changes (files arrive): an unmanaged window follows at once.
    void setFullSize(const QSize &size)
    {
        m_full = size;
        if (!managed)
            m_frame.setSize(size);
    }

    bool shown = true;
    bool managed = false;
    bool strip = false;
    bool busy = false;
    int raised = 0;
    int flashed = 0;

private:
    QRect m_frame;
    QSize m_full;
};

class FakeTuckEnvironment : public TuckEnvironment
{
public:
    QList<TuckGeometry::Screen> screenList;
    QPoint pointer;
    qint64 now = 0;

    QList<TuckGeometry::Screen> screens() const override { return screenList; }
    QPoint cursorPos() const override { return pointer; }

    int startTimer(int ms, std::function<void()> fire) override
    {
        const int id = m_next++;
        m_timers[id] = {now + ms, std::move(fire)};
        return id;
    }
    void stopTimer(int id) override { m_timers.erase(id); }

    void animate(TuckWindow *window, const QRect &target, int ms, std::function<void()> done) override
    {
        stopAnimation(window);
        animations.append({window, target, ms});
        // The frame is where the animation ends; `done` comes when its time is up.
        window->setFrame(target);
        if (ms <= 0) {
            if (done)
                done();
            return;
        }
        const int id = startTimer(ms, std::move(done));
        m_animationTimers[window] = id;
    }
    void stopAnimation(TuckWindow *window) override
    {
        const auto it = m_animationTimers.find(window);
        if (it != m_animationTimers.end()) {
            stopTimer(it->second);
            m_animationTimers.erase(it);
        }
    }

    // Moves the clock on, firing what falls due in order.
    void advance(int ms)
    {
        const qint64 end = now + ms;
        while (true) {
            auto next = m_timers.end();
            for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
                if (it->second.due <= end && (next == m_timers.end() || it->second.due < next->second.due))
                    next = it;
            if (next == m_timers.end())
                break;
            now = next->second.due;
            auto fire = std::move(next->second.fire);
            for (auto a = m_animationTimers.begin(); a != m_animationTimers.end(); ++a)
                if (a->second == next->first) {
                    m_animationTimers.erase(a);
                    break;
                }
            m_timers.erase(next);
            if (fire)
                fire();
        }
        now = end;
    }
    int pendingTimers() const { return int(m_timers.size()); }

    struct Animation {
        TuckWindow *window;
        QRect target;
        int ms;
    };
    QList<Animation> animations;

private:
    struct Timer {
        qint64 due;
        std::function<void()> fire;
    };
    int m_next = 1;
    std::map<int, Timer> m_timers;
    std::map<TuckWindow *, int> m_animationTimers;
};

// Settings, a shelf manager and a tuck manager on temporary folders, with one 1440 × 900
// screen whose work area leaves 24 px at the top for a panel.
struct TuckFixture {
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ShelfManager> shelves;
    FakeTuckEnvironment env;
    std::unique_ptr<ShelfTuckManager> tuck;
    std::map<QUuid, std::unique_ptr<FakeTuckWindow>> windows;

    static TuckGeometry::Screen screen(const QString &id, const QRect &geometry, const QRect &available)
    {
        return {id, QStringLiteral("Screen ") + id, geometry, available};
    }

    TuckFixture()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));
        store = std::make_unique<SettingsStore>(dir.path() + QStringLiteral("/settings.json"));
        settings = std::make_unique<AppSettings>(*store);
        shelves = std::make_unique<ShelfManager>();
        env.screenList = {screen(QStringLiteral("A"), QRect(0, 0, 1440, 900), QRect(0, 24, 1440, 876))};
        env.pointer = QPoint(700, 450);
        tuck = std::make_unique<ShelfTuckManager>(*shelves, *settings, env);
    }
    ~TuckFixture()
    {
        tuck.reset();
    }

    // A shelf with a shown window at `frame`.
    QUuid addShelf(const QRect &frame, const QString &name = QStringLiteral("S"))
    {
        const Shelf shelf = Shelf::make(name, ShelfColorData::systemBlue(), QStringLiteral("tray"));
        shelves->appendShelf(shelf);
        openWindow(shelf.id, frame);
        return shelf.id;
    }
    FakeTuckWindow *openWindow(const QUuid &id, const QRect &frame)
    {
        auto window = std::make_unique<FakeTuckWindow>(frame);
        FakeTuckWindow *raw = window.get();
        windows[id] = std::move(window);
        tuck->registerWindow(id, raw);
        return raw;
    }
    FakeTuckWindow *window(const QUuid &id) { return windows.at(id).get(); }
    const Shelf &record(const QUuid &id) { return *shelves->shelf(id); }
};
