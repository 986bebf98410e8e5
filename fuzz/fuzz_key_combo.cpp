// One key combination in its stored JSON form ({"keyCode": n, "modifierFlags": n}), as
// settings, hot keys and the recorder read it, and everything that is shown or grabbed
// from it.
//
// Invariants: a combo that decodes writes back to the same combo; its text names its key;
// an X11 key code maps back to the same key position; a key Qt reports maps to a combo.

#include "FuzzSupport.h"

#include "input/KeyCombo.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto combo = KeyCombo::fromJson(json)) {
        FUZZ_CHECK(KeyCombo::fromJson(combo->toJson()) == combo, combo->toJson());
        const QString text = combo->displayText();
        FUZZ_CHECK(text.endsWith(KeyCombo::keyName(combo->keyCode)), text.toUtf8());
        FUZZ_CHECK(!KeyCombo::keyName(combo->keyCode).isEmpty());
        if (const auto x11 = combo->x11Keycode())
            FUZZ_CHECK(KeyCombo::keyCodeFromX11(*x11) == combo->keyCode, combo->toJson());
        if (const int key = combo->qtKey()) {
            // What the recorder makes of the key Qt reports for this position.
            const auto recorded = KeyCombo::fromQtKey(key, combo->qtModifiers());
            FUZZ_CHECK(recorded && recorded->modifierFlags == (combo->modifierFlags & KeyCombo::AllModifiers),
                       combo->toJson());
        }
        (void)combo->isFunctionKey();
        (void)combo->hasModifiers();
    }

    // Whatever a key event says, by the raw numbers.
    if (size >= 8) {
        int key = 0;
        unsigned modifiers = 0;
        std::memcpy(&key, data, 4);
        std::memcpy(&modifiers, data + 4, 4);
        if (const auto combo = KeyCombo::fromQtKey(key, Qt::KeyboardModifiers(int(modifiers)))) {
            FUZZ_CHECK(combo->qtKey() != 0 || combo->keyCode == 10, QByteArray::number(key));
            FUZZ_CHECK(KeyCombo::fromJson(combo->toJson()) == combo);
        }
    }
    return 0;
}
