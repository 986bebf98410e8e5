#pragma once

#include <QObject>
#include <QString>

#include <memory>

class AppSettings;
class HotkeyManager;
class HotkeyRegistrar;
class PortalHotkeyRegistrar;
class QDBusConnection;
class X11HotkeyRegistrar;

// Chooses how global hot keys reach the program and keeps the "inputMonitoringGranted"
// setting in step with whether they can:
//   - an X11 session: key grabs on the root window; always granted;
//   - a Wayland session with the GlobalShortcuts portal: the portal; granted once the desktop
//     has approved the binding;
//   - a Wayland session without it: not granted (the grabs still work through XWayland while
//     one of the program's windows has the keyboard); the reason says which commands the
//     user can bind in the desktop's own keyboard settings instead.
class GlobalHotkeyManager : public QObject
{
    Q_OBJECT
public:
    enum class Mechanism { none, x11, portal };

    struct Session {
        bool wayland = false; // a Wayland session (WAYLAND_DISPLAY or XDG_SESSION_TYPE=wayland)
        bool x11 = false;     // the program runs on the xcb platform
    };
    // The running program's session.
    static Session currentSession();

    // `portalBus`: where to look for the portal (the session bus).
    GlobalHotkeyManager(AppSettings &settings, HotkeyManager &hotkeys, Session session,
                        const QDBusConnection &portalBus, QObject *parent = nullptr);
    ~GlobalHotkeyManager() override;

    Mechanism mechanism() const { return m_mechanism; }
    PortalHotkeyRegistrar *portal() const { return m_portal.get(); }
    bool inputMonitoringGranted() const;
    // Why hot keys are off, in a sentence or two (empty while they work).
    QString unavailableReason() const;

    // The warning's click: asks the portal to bind again (the desktop shows its dialog), or,
    // where nothing can be done, returns false and leaves the explanation to the caller.
    bool requestInputMonitoring();

    // The commands a user can bind in any desktop's keyboard settings.
    static QString shellCommandsText();

signals:
    void stateChanged();

private:
    void update();
    void useX11();

    AppSettings &m_settings;
    HotkeyManager &m_hotkeys;
    Session m_session;
    Mechanism m_mechanism = Mechanism::none;
    std::unique_ptr<X11HotkeyRegistrar> m_x11;
    std::unique_ptr<PortalHotkeyRegistrar> m_portal;
};
