#pragma once

#include "input/hotkeys/HotkeyRegistrar.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QObject>
#include <QSet>

#include <cstdint>

struct xcb_connection_t;

// System-wide hot keys on X11 (and XWayland): passive key grabs on the root window.
//
// Each combination is grabbed once for every state of the lock keys (none, CapsLock,
// NumLock, both), so that it works whatever the lock lights say; NumLock's modifier bit is
// looked up in the server's modifier map, as are Alt's and Super's. The grab is all or
// nothing: when the server refuses any variant (BadAccess: another client holds it) the
// others are released and the registration fails. Presses arrive through a native event
// filter on the application's own connection; a held key's auto-repeat is not a new press.
class X11HotkeyRegistrar : public QObject, public HotkeyRegistrar, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // Uses the application's X11 connection; isAvailable() is false without one.
    explicit X11HotkeyRegistrar(QObject *parent = nullptr);
    ~X11HotkeyRegistrar() override;

    bool isAvailable() const { return m_connection != nullptr; }

    std::optional<Handle> registerHotkey(const Binding &binding) override;
    void unregisterHotkey(Handle handle) override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // The X11 modifier bits that Control/Option/Shift/Command stand for on this server.
    uint16_t x11Modifiers(uint32_t modifierFlags) const;
    uint16_t numLockMask() const { return m_numLock; }

signals:
    // The server's keyboard or modifier mapping changed: register again.
    void keyboardMappingChanged();

private:
    struct Grab {
        uint8_t keycode = 0;
        uint16_t modifiers = 0;
        uint32_t id = 0;
    };

    void lookUpModifiers();
    QList<uint16_t> lockVariants() const;
    void ungrab(const Grab &grab);

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    uint16_t m_numLock = 0;
    uint16_t m_alt = 0;
    uint16_t m_super = 0;
    Handle m_nextHandle = 1;
    QHash<Handle, Grab> m_grabs;
    QSet<uint8_t> m_down; // keys whose press was delivered and not yet released
};
