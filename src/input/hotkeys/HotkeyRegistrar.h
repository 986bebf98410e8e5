#pragma once

#include "input/KeyCombo.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// The system's hot-key service, as the hot-key manager uses it: X11 key grabs, the
// GlobalShortcuts portal, or a fake in tests.
class HotkeyRegistrar
{
public:
    using Handle = quint64;

    struct Binding {
        KeyCombo combo;
        uint32_t id = 0;     // the manager's id of the registration
        QString name;        // a stable name of the action ("show-all", "shelf-<UUID>")
        QString description; // what it does, in words ("Show / hide shelves")
    };

    virtual ~HotkeyRegistrar() = default;

    // Registers a system-wide hot key. Returns its handle, or nothing when the system refused
    // (another program holds the combination, the key is unknown, …).
    virtual std::optional<Handle> registerHotkey(const Binding &binding) = 0;
    virtual void unregisterHotkey(Handle handle) = 0;
    // The end of a registration pass: services that bind every hot key at once do it now.
    virtual void commit() {}

    // Set by the manager: called with the binding's id when a registered hot key is pressed.
    std::function<void(uint32_t id)> pressed;
};
