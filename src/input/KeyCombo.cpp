#include "input/KeyCombo.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>

namespace {

struct KeyEntry {
    uint32_t code;     // portable key position
    const char *name;  // display name (UTF-8)
    int qtKey;         // unshifted Qt key at this position, 0 for none
    bool keypad;       // Qt reports the key with Qt::KeypadModifier
    uint8_t x11;       // evdev X11 key code, 0 for none
};

// One row per known key position.
constexpr KeyEntry keyTable[] = {
    // Letters.
    {0, "A", Qt::Key_A, false, 38},   {1, "S", Qt::Key_S, false, 39},
    {2, "D", Qt::Key_D, false, 40},   {3, "F", Qt::Key_F, false, 41},
    {4, "H", Qt::Key_H, false, 43},   {5, "G", Qt::Key_G, false, 42},
    {6, "Z", Qt::Key_Z, false, 52},   {7, "X", Qt::Key_X, false, 53},
    {8, "C", Qt::Key_C, false, 54},   {9, "V", Qt::Key_V, false, 55},
    {11, "B", Qt::Key_B, false, 56},  {12, "Q", Qt::Key_Q, false, 24},
    {13, "W", Qt::Key_W, false, 25},  {14, "E", Qt::Key_E, false, 26},
    {15, "R", Qt::Key_R, false, 27},  {16, "Y", Qt::Key_Y, false, 29},
    {17, "T", Qt::Key_T, false, 28},  {31, "O", Qt::Key_O, false, 32},
    {32, "U", Qt::Key_U, false, 30},  {34, "I", Qt::Key_I, false, 31},
    {35, "P", Qt::Key_P, false, 33},  {37, "L", Qt::Key_L, false, 46},
    {38, "J", Qt::Key_J, false, 44},  {40, "K", Qt::Key_K, false, 45},
    {45, "N", Qt::Key_N, false, 57},  {46, "M", Qt::Key_M, false, 58},
    // Digits of the main row.
    {18, "1", Qt::Key_1, false, 10},  {19, "2", Qt::Key_2, false, 11},
    {20, "3", Qt::Key_3, false, 12},  {21, "4", Qt::Key_4, false, 13},
    {23, "5", Qt::Key_5, false, 14},  {22, "6", Qt::Key_6, false, 15},
    {26, "7", Qt::Key_7, false, 16},  {28, "8", Qt::Key_8, false, 17},
    {25, "9", Qt::Key_9, false, 18},  {29, "0", Qt::Key_0, false, 19},
    // Punctuation.
    {24, "=", Qt::Key_Equal, false, 21},        {27, "-", Qt::Key_Minus, false, 20},
    {30, "]", Qt::Key_BracketRight, false, 35}, {33, "[", Qt::Key_BracketLeft, false, 34},
    {39, "'", Qt::Key_Apostrophe, false, 48},   {41, ";", Qt::Key_Semicolon, false, 47},
    {42, "\\", Qt::Key_Backslash, false, 51},   {43, ",", Qt::Key_Comma, false, 59},
    {44, "/", Qt::Key_Slash, false, 61},        {47, ".", Qt::Key_Period, false, 60},
    {50, "`", Qt::Key_QuoteLeft, false, 49},
    // Named keys.
    {36, "Return", Qt::Key_Return, false, 36},  {48, "Tab", Qt::Key_Tab, false, 23},
    {49, "Space", Qt::Key_Space, false, 65},    {51, "Delete", Qt::Key_Backspace, false, 22},
    {53, "Esc", Qt::Key_Escape, false, 9},      {115, "Home", Qt::Key_Home, false, 110},
    {116, "Page Up", Qt::Key_PageUp, false, 112}, {119, "End", Qt::Key_End, false, 115},
    {121, "Page Down", Qt::Key_PageDown, false, 117},
    {117, "\u2326", Qt::Key_Delete, false, 119},
    {123, "\u2190", Qt::Key_Left, false, 113},  {124, "\u2192", Qt::Key_Right, false, 114},
    {125, "\u2193", Qt::Key_Down, false, 116},  {126, "\u2191", Qt::Key_Up, false, 111},
    // Function keys.
    {122, "F1", Qt::Key_F1, false, 67},   {120, "F2", Qt::Key_F2, false, 68},
    {99, "F3", Qt::Key_F3, false, 69},    {118, "F4", Qt::Key_F4, false, 70},
    {96, "F5", Qt::Key_F5, false, 71},    {97, "F6", Qt::Key_F6, false, 72},
    {98, "F7", Qt::Key_F7, false, 73},    {100, "F8", Qt::Key_F8, false, 74},
    {101, "F9", Qt::Key_F9, false, 75},   {109, "F10", Qt::Key_F10, false, 76},
    {103, "F11", Qt::Key_F11, false, 95}, {111, "F12", Qt::Key_F12, false, 96},
    {105, "F13", Qt::Key_F13, false, 191}, {107, "F14", Qt::Key_F14, false, 192},
    {113, "F15", Qt::Key_F15, false, 193}, {106, "F16", Qt::Key_F16, false, 194},
    {64, "F17", Qt::Key_F17, false, 195},  {79, "F18", Qt::Key_F18, false, 196},
    {80, "F19", Qt::Key_F19, false, 197},  {90, "F20", Qt::Key_F20, false, 198},
    // Keypad.
    {65, "Num.", Qt::Key_Period, true, 91},     {67, "Num*", Qt::Key_Asterisk, true, 63},
    {69, "Num+", Qt::Key_Plus, true, 86},       {75, "Num/", Qt::Key_Slash, true, 106},
    {76, "Num Enter", Qt::Key_Enter, true, 104}, {78, "Num-", Qt::Key_Minus, true, 82},
    {82, "Num0", Qt::Key_0, true, 90},  {83, "Num1", Qt::Key_1, true, 87},
    {84, "Num2", Qt::Key_2, true, 88},  {85, "Num3", Qt::Key_3, true, 89},
    {86, "Num4", Qt::Key_4, true, 83},  {87, "Num5", Qt::Key_5, true, 84},
    {88, "Num6", Qt::Key_6, true, 85},  {89, "Num7", Qt::Key_7, true, 79},
    {91, "Num8", Qt::Key_8, true, 80},  {92, "Num9", Qt::Key_9, true, 81},
    // Keys without a display name of their own ("Key" + code).
    {114, nullptr, Qt::Key_Insert, false, 118}, // Help, at the Insert position
    {81, nullptr, Qt::Key_Equal, true, 125},    // keypad "="
    {10, nullptr, 0, false, 94},                // the extra key left of Z on ISO keyboards
};

// Shifted characters of a US layout and the key they are typed on.
constexpr std::pair<int, uint32_t> shiftedSymbols[] = {
    {Qt::Key_Exclam, 18},      {Qt::Key_At, 19},          {Qt::Key_NumberSign, 20},
    {Qt::Key_Dollar, 21},      {Qt::Key_Percent, 23},     {Qt::Key_AsciiCircum, 22},
    {Qt::Key_Ampersand, 26},   {Qt::Key_Asterisk, 28},    {Qt::Key_ParenLeft, 25},
    {Qt::Key_ParenRight, 29},  {Qt::Key_Underscore, 27},  {Qt::Key_Plus, 24},
    {Qt::Key_BraceLeft, 33},   {Qt::Key_BraceRight, 30},  {Qt::Key_Bar, 42},
    {Qt::Key_Colon, 41},       {Qt::Key_QuoteDbl, 39},    {Qt::Key_Less, 43},
    {Qt::Key_Greater, 47},     {Qt::Key_Question, 44},    {Qt::Key_AsciiTilde, 50},
    {Qt::Key_Backtab, 48},
};

const KeyEntry *entryForCode(uint32_t code)
{
    for (const KeyEntry &entry : keyTable)
        if (entry.code == code)
            return &entry;
    return nullptr;
}

constexpr uint32_t functionKeyCodes[20] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109,
                                           103, 111, 105, 107, 113, 106, 64, 79, 80, 90};

std::optional<uint32_t> jsonUInt32(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < 0 || number > 4294967295.0 || std::floor(number) != number)
        return std::nullopt;
    return static_cast<uint32_t>(number);
}

} // namespace

bool KeyCombo::isFunctionKey() const
{
    for (uint32_t code : functionKeyCodes)
        if (code == keyCode)
            return true;
    return false;
}

uint32_t KeyCombo::functionKeyCode(int number)
{
    return number >= 1 && number <= 20 ? functionKeyCodes[number - 1] : 0;
}

uint32_t KeyCombo::digitKeyCode(int digit)
{
    static constexpr uint32_t codes[10] = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
    return digit >= 0 && digit <= 9 ? codes[digit] : codes[0];
}

QString KeyCombo::modifierText(uint32_t flags)
{
    QString text;
    if (flags & Control)
        text += QLatin1String("Ctrl+");
    if (flags & Option)
        text += QLatin1String("Alt+");
    if (flags & Shift)
        text += QLatin1String("Shift+");
    if (flags & Command)
        text += QLatin1String("Super+");
    return text;
}

QString KeyCombo::keyName(uint32_t code)
{
    const KeyEntry *entry = entryForCode(code);
    if (entry && entry->name)
        return QString::fromUtf8(entry->name);
    return QStringLiteral("Key") + QString::number(code);
}

QString KeyCombo::displayText() const
{
    return modifierText(modifierFlags) + keyName(keyCode);
}

QJsonObject KeyCombo::toJsonObject() const
{
    return QJsonObject{{QStringLiteral("keyCode"), double(keyCode)},
                       {QStringLiteral("modifierFlags"), double(modifierFlags)}};
}

QByteArray KeyCombo::toJson() const
{
    return QJsonDocument(toJsonObject()).toJson(QJsonDocument::Compact);
}

std::optional<KeyCombo> KeyCombo::fromJsonObject(const QJsonObject &object)
{
    const auto code = jsonUInt32(object.value(QStringLiteral("keyCode")));
    const auto flags = jsonUInt32(object.value(QStringLiteral("modifierFlags")));
    if (!code || !flags)
        return std::nullopt;
    return KeyCombo{*code, *flags};
}

std::optional<KeyCombo> KeyCombo::fromJson(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJsonObject(document.object());
}

uint32_t KeyCombo::flagsFromQt(Qt::KeyboardModifiers modifiers)
{
    uint32_t flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= Shift;
    if (modifiers & Qt::ControlModifier)
        flags |= Control;
    if (modifiers & Qt::AltModifier)
        flags |= Option;
    if (modifiers & Qt::MetaModifier)
        flags |= Command;
    return flags;
}

std::optional<KeyCombo> KeyCombo::fromQtKey(int key, Qt::KeyboardModifiers modifiers)
{
    if (key == 0 || key == Qt::Key_unknown)
        return std::nullopt;
    const bool keypad = modifiers & Qt::KeypadModifier;
    const uint32_t flags = flagsFromQt(modifiers);
    // Qt reports letters in upper case whatever the shift state; lower-case Latin-1
    // letters can come from some input paths, so fold them.
    if (key >= 'a' && key <= 'z')
        key = key - 'a' + 'A';

    // Exact match first, preferring the keypad row when Qt says the key is on the keypad.
    const KeyEntry *fallback = nullptr;
    for (const KeyEntry &entry : keyTable) {
        if (entry.qtKey != key)
            continue;
        if (entry.keypad == keypad)
            return KeyCombo{entry.code, flags};
        if (!fallback)
            fallback = &entry;
    }
    if (!keypad) {
        for (const auto &[symbol, code] : shiftedSymbols)
            if (symbol == key)
                return KeyCombo{code, flags};
    }
    if (fallback)
        return KeyCombo{fallback->code, flags};
    return std::nullopt;
}

int KeyCombo::qtKey() const
{
    const KeyEntry *entry = entryForCode(keyCode);
    return entry ? entry->qtKey : 0;
}

Qt::KeyboardModifiers KeyCombo::qtModifiers() const
{
    Qt::KeyboardModifiers modifiers;
    if (modifierFlags & Shift)
        modifiers |= Qt::ShiftModifier;
    if (modifierFlags & Control)
        modifiers |= Qt::ControlModifier;
    if (modifierFlags & Option)
        modifiers |= Qt::AltModifier;
    if (modifierFlags & Command)
        modifiers |= Qt::MetaModifier;
    const KeyEntry *entry = entryForCode(keyCode);
    if (entry && entry->keypad)
        modifiers |= Qt::KeypadModifier;
    return modifiers;
}

std::optional<uint8_t> KeyCombo::x11Keycode() const
{
    const KeyEntry *entry = entryForCode(keyCode);
    if (!entry || entry->x11 == 0)
        return std::nullopt;
    return entry->x11;
}

std::optional<uint32_t> KeyCombo::keyCodeFromX11(uint8_t x11Keycode)
{
    if (x11Keycode == 0)
        return std::nullopt;
    for (const KeyEntry &entry : keyTable)
        if (entry.x11 == x11Keycode)
            return entry.code;
    return std::nullopt;
}
