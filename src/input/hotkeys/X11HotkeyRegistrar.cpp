#include "input/hotkeys/X11HotkeyRegistrar.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

constexpr uint32_t keysymNumLock = 0xff7f;
constexpr uint32_t keysymAltL = 0xffe9;
constexpr uint32_t keysymAltR = 0xffea;
constexpr uint32_t keysymMetaL = 0xffe7;
constexpr uint32_t keysymSuperL = 0xffeb;
constexpr uint32_t keysymSuperR = 0xffec;

// The modifier bits a press may carry that say nothing about the combination.
constexpr uint16_t relevantModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2
                                       | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

} // namespace

X11HotkeyRegistrar::X11HotkeyRegistrar(QObject *parent) : QObject(parent)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    m_connection = x11->connection();
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (!screens.rem) {
        m_connection = nullptr;
        return;
    }
    m_root = screens.data->root;
    lookUpModifiers();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotkeyRegistrar::~X11HotkeyRegistrar()
{
    if (!m_connection)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const Grab &grab : std::as_const(m_grabs))
        ungrab(grab);
    xcb_flush(m_connection);
}

void X11HotkeyRegistrar::lookUpModifiers()
{
    // Which keycodes carry NumLock, Alt and Super, and which modifier each is on.
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const uint8_t minKeycode = setup->min_keycode;
    const uint8_t count = uint8_t(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t *mapping = xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, minKeycode, count), nullptr);
    xcb_get_modifier_mapping_reply_t *modmap =
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
    m_numLock = 0;
    m_alt = 0;
    m_super = 0;
    if (mapping && modmap) {
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
        const int perKeycode = mapping->keysyms_per_keycode;
        const auto keysymsOf = [&](uint8_t keycode, auto &&test) {
            if (keycode < minKeycode || keycode - minKeycode >= count)
                return false;
            for (int i = 0; i < perKeycode; ++i)
                if (test(keysyms[(keycode - minKeycode) * perKeycode + i]))
                    return true;
            return false;
        };
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(modmap);
        const int perModifier = modmap->keycodes_per_modifier;
        // Shift, Lock and Control are fixed; Mod1 … Mod5 are what the mapping says.
        for (int modifier = 3; modifier < 8; ++modifier) {
            const uint16_t mask = uint16_t(1u << modifier);
            for (int k = 0; k < perModifier; ++k) {
                const uint8_t keycode = codes[modifier * perModifier + k];
                if (!keycode)
                    continue;
                if (!m_numLock && keysymsOf(keycode, [](xcb_keysym_t s) { return s == keysymNumLock; }))
                    m_numLock = mask;
                if (!m_alt && keysymsOf(keycode, [](xcb_keysym_t s) { return s == keysymAltL || s == keysymAltR || s == keysymMetaL; }))
                    m_alt = mask;
                if (!m_super && keysymsOf(keycode, [](xcb_keysym_t s) { return s == keysymSuperL || s == keysymSuperR; }))
                    m_super = mask;
            }
        }
    }
    std::free(mapping);
    std::free(modmap);
    // The usual assignment where the server does not say.
    if (!m_alt)
        m_alt = XCB_MOD_MASK_1;
    if (!m_super)
        m_super = XCB_MOD_MASK_4;
}

uint16_t X11HotkeyRegistrar::x11Modifiers(uint32_t flags) const
{
    uint16_t mods = 0;
    if (flags & KeyCombo::Shift)
        mods |= XCB_MOD_MASK_SHIFT;
    if (flags & KeyCombo::Control)
        mods |= XCB_MOD_MASK_CONTROL;
    if (flags & KeyCombo::Option)
        mods |= m_alt;
    if (flags & KeyCombo::Command)
        mods |= m_super;
    return mods;
}

QList<uint16_t> X11HotkeyRegistrar::lockVariants() const
{
    QList<uint16_t> variants{0, XCB_MOD_MASK_LOCK};
    if (m_numLock)
        variants << m_numLock << uint16_t(m_numLock | XCB_MOD_MASK_LOCK);
    return variants;
}

std::optional<HotkeyRegistrar::Handle> X11HotkeyRegistrar::registerHotkey(const Binding &binding)
{
    if (!m_connection)
        return std::nullopt;
    const std::optional<uint8_t> keycode = binding.combo.x11Keycode();
    if (!keycode)
        return std::nullopt;
    const Grab grab{*keycode, x11Modifiers(binding.combo.modifierFlags), binding.id};
    for (const Grab &other : std::as_const(m_grabs))
        if (other.keycode == grab.keycode && other.modifiers == grab.modifiers)
            return std::nullopt; // ours already, for another action

    QList<xcb_void_cookie_t> cookies;
    for (uint16_t variant : lockVariants())
        cookies << xcb_grab_key_checked(m_connection, 0, m_root, uint16_t(grab.modifiers | variant), grab.keycode,
                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    bool refused = false;
    for (const xcb_void_cookie_t &cookie : std::as_const(cookies)) {
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookie)) {
            refused = true; // BadAccess: another client grabbed it first
            std::free(error);
        }
    }
    if (refused) {
        // Release the variants that did succeed; a variant another client holds is not ours
        // to release, and ungrabbing a grab we do not hold does nothing.
        ungrab(grab);
        xcb_flush(m_connection);
        return std::nullopt;
    }
    const Handle handle = m_nextHandle++;
    m_grabs.insert(handle, grab);
    return handle;
}

void X11HotkeyRegistrar::ungrab(const Grab &grab)
{
    for (uint16_t variant : lockVariants())
        xcb_ungrab_key(m_connection, grab.keycode, m_root, uint16_t(grab.modifiers | variant));
}

void X11HotkeyRegistrar::unregisterHotkey(Handle handle)
{
    const auto it = m_grabs.constFind(handle);
    if (it == m_grabs.constEnd() || !m_connection)
        return;
    ungrab(*it);
    m_down.remove(it->keycode);
    m_grabs.erase(it);
    xcb_flush(m_connection);
}

bool X11HotkeyRegistrar::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !m_connection)
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & ~0x80;
    if (type == XCB_MAPPING_NOTIFY) {
        auto *mapping = reinterpret_cast<xcb_mapping_notify_event_t *>(event);
        if (mapping->request == XCB_MAPPING_MODIFIER || mapping->request == XCB_MAPPING_KEYBOARD) {
            QMetaObject::invokeMethod(this, [this] {
                lookUpModifiers();
                emit keyboardMappingChanged();
            }, Qt::QueuedConnection);
        }
        return false;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
    if (key->event != m_root)
        return false;
    if (type == XCB_KEY_RELEASE) {
        m_down.remove(key->detail);
        return true;
    }
    const uint16_t state = key->state & relevantModifiers & uint16_t(~m_numLock);
    for (const Grab &grab : std::as_const(m_grabs)) {
        if (grab.keycode != key->detail || grab.modifiers != state)
            continue;
        if (m_down.contains(key->detail))
            return true; // auto-repeat of a held key
        m_down.insert(key->detail);
        if (pressed)
            pressed(grab.id);
        return true;
    }
    return true;
}
