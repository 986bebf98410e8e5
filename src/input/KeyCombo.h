#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QJsonObject>
#include <QString>
#include <Qt>

#include <cstdint>
#include <functional>
#include <optional>

// A key combination: the main key and the modifiers held with it.
//
// The stored form is portable and fixed: `keyCode` is a key *position* numbered as on a
// US keyboard layout (0 "A", 1 "S", 2 "D", 49 Space, 122 F1, …) and `modifierFlags` holds
// the bits below. Combos are written to settings as {"keyCode": n, "modifierFlags": n}.
//
// On Linux "Command" is the Super (Meta) key, "Option" is Alt and "Control" is Ctrl.
struct KeyCombo {
    static constexpr uint32_t Shift = 0x20000;
    static constexpr uint32_t Control = 0x40000;
    static constexpr uint32_t Option = 0x80000;
    static constexpr uint32_t Command = 0x100000;
    static constexpr uint32_t AllModifiers = Shift | Control | Option | Command;

    // Key codes used by the program itself.
    enum KeyCodes : uint32_t {
        KeyA = 0, KeyS = 1, KeyD = 2, KeyReturn = 36, KeyTab = 48, KeySpace = 49,
        KeyDelete = 51, KeyEscape = 53, KeyForwardDelete = 117,
    };

    uint32_t keyCode = 0;
    uint32_t modifierFlags = 0;

    friend bool operator==(const KeyCombo &, const KeyCombo &) = default;

    // True for F1 … F20.
    bool isFunctionKey() const;
    bool hasModifiers() const { return (modifierFlags & AllModifiers) != 0; }

    // "Ctrl+Alt+D": the modifiers in the order Ctrl, Alt, Shift, Super (whatever the order
    // of pressing), each followed by "+", then the key name.
    QString displayText() const;
    // The key's name alone ("D", "Space", "F5", "Num Enter", "Key10" for unknown codes).
    static QString keyName(uint32_t keyCode);
    // "Ctrl+Alt+Shift+Super+" for the bits set in `modifierFlags` ("" for none): Control is
    // Ctrl, Option is Alt, Command is Super.
    static QString modifierText(uint32_t modifierFlags);

    QJsonObject toJsonObject() const;
    QByteArray toJson() const; // compact UTF-8
    // Both members must be present, numeric, whole and within 0 … 2^32-1.
    static std::optional<KeyCombo> fromJsonObject(const QJsonObject &object);
    static std::optional<KeyCombo> fromJson(const QByteArray &json);

    // The key code of a digit key of the main row (0 … 9).
    static uint32_t digitKeyCode(int digit);
    // The key code of F1 … F20; 0 with an out-of-range number.
    static uint32_t functionKeyCode(int number);

    // From a Qt key event: `key` is QKeyEvent::key(), `modifiers` its modifiers. Shifted
    // US symbols ('!', '{', …) are taken at the position of their key; a key on the keypad
    // is recognised by Qt::KeypadModifier. Modifier keys alone and keys without a position
    // give nothing.
    static std::optional<KeyCombo> fromQtKey(int key, Qt::KeyboardModifiers modifiers);
    // The unshifted Qt key at this position (Qt::Key_D for 2); 0 when there is none.
    int qtKey() const;
    // The Qt modifiers of `modifierFlags`, plus Qt::KeypadModifier for keypad keys.
    Qt::KeyboardModifiers qtModifiers() const;
    static uint32_t flagsFromQt(Qt::KeyboardModifiers modifiers);

    // X11 hardware key codes (evdev numbering, as with the evdev and libinput drivers), so
    // that a combo reaches the same physical key whatever the keyboard layout.
    std::optional<uint8_t> x11Keycode() const;
    static std::optional<uint32_t> keyCodeFromX11(uint8_t x11Keycode);
};

inline size_t qHash(const KeyCombo &combo, size_t seed = 0) noexcept
{
    return qHashMulti(seed, combo.keyCode, combo.modifierFlags);
}

template <>
struct std::hash<KeyCombo> {
    size_t operator()(const KeyCombo &combo) const noexcept { return qHash(combo); }
};
