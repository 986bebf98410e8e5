#pragma once

#include "input/hotkeys/HotkeyRegistrar.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QHash>
#include <QList>
#include <QObject>
#include <QVariantMap>

#include <functional>

// System-wide hot keys on Wayland desktops through the GlobalShortcuts portal
// (org.freedesktop.portal.GlobalShortcuts: KDE Plasma 6, GNOME 48 and later, Hyprland, …).
//
// The portal binds all of a program's shortcuts at once, in a session, and the desktop asks
// the user to approve them (its approval stands in for the input-monitoring permission). So
// registerHotkey() only collects, and commit() binds the collected shortcuts: it creates the
// session when there is none, or replaces it when the set changed. Each shortcut has a stable
// id (the binding's name) and the combo as its preferred trigger; the desktop may assign a
// different trigger, and presses of whatever it assigned arrive as "Activated".
//
// Every call is asynchronous; nothing blocks the main loop.
class PortalHotkeyRegistrar : public QObject, public HotkeyRegistrar
{
    Q_OBJECT
public:
    enum class State {
        probing,     // asking whether the portal is there
        unavailable, // no GlobalShortcuts portal on this bus
        idle,        // the portal is there, nothing bound yet
        binding,     // a session or binding request is under way
        bound,       // the shortcuts are bound and presses arrive
        refused,     // the user or the desktop declined the binding
    };

    static inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    // Talks to the portal on `bus` (the session bus in the program; a private bus in tests).
    explicit PortalHotkeyRegistrar(const QDBusConnection &bus, QObject *parent = nullptr);
    ~PortalHotkeyRegistrar() override;

    State state() const { return m_state; }
    bool isBound() const { return m_state == State::bound; }
    // The desktop's own words for the trigger of each bound shortcut, by name (may be empty).
    QHash<QString, QString> triggerDescriptions() const { return m_triggers; }

    std::optional<Handle> registerHotkey(const Binding &binding) override;
    void unregisterHotkey(Handle handle) override;
    void commit() override;
    // Binds again now (after the user declined, or to show the desktop's dialog once more).
    void requestBinding();

    // The trigger in the portal's shortcut notation ("CTRL+ALT+d", "LOGO+F5"), or nothing for
    // a key it has no name for.
    static std::optional<QString> triggerFor(const KeyCombo &combo);

signals:
    void stateChanged(State state);

private slots:
    void onActivated(const QDBusMessage &message);

private:
    void setState(State state);
    void createSession();
    void bind();
    void closeSession();
    // Calls `method` with a fresh request token in `options`; `onResponse` gets the
    // Request's response code and results.
    void request(const QString &method, QVariantList arguments, int optionsIndex,
                 std::function<void(uint, const QVariantMap &)> onResponse);
    QString requestPath(const QString &token) const;
    QString nextToken();

    QDBusConnection m_bus;
    State m_state = State::probing;
    QHash<Handle, Binding> m_bindings;
    Handle m_nextHandle = 1;
    QString m_session;
    QList<Binding> m_boundSet; // what the current session holds
    bool m_dirty = false;      // the collected set differs from the bound one
    bool m_committed = false;  // commit() was called at least once
    QHash<QString, QString> m_triggers;
    int m_tokenCounter = 0;
};
