#include "input/KeyCombo.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QtTest>

class TestKeyCombo : public QObject
{
    Q_OBJECT
private slots:
    void displayText_data()
    {
        QTest::addColumn<uint>("code");
        QTest::addColumn<uint>("flags");
        QTest::addColumn<QString>("text");
        QTest::newRow("ctrl opt D") << 2u << (KeyCombo::Control | KeyCombo::Option) << "Ctrl+Alt+D";
        QTest::newRow("cmd shift F5") << 96u << (KeyCombo::Command | KeyCombo::Shift) << "Shift+Super+F5";
        QTest::newRow("all modifiers in order") << 49u << (KeyCombo::Command | KeyCombo::Shift | KeyCombo::Option | KeyCombo::Control) << "Ctrl+Alt+Shift+Super+Space";
        QTest::newRow("unknown") << 10u << 0u << "Key10";
        QTest::newRow("F20") << 90u << 0u << "F20";
        QTest::newRow("Num8") << 91u << 0u << "Num8";
        QTest::newRow("Num Enter") << 76u << 0u << "Num Enter";
        QTest::newRow("fwd delete") << 117u << 0u << "⌦";
        QTest::newRow("backslash") << 42u << KeyCombo::Option << "Alt+\\";
        QTest::newRow("grave") << 50u << 0u << "`";
        QTest::newRow("zero") << 29u << 0u << "0";
        QTest::newRow("page down") << 121u << 0u << "Page Down";
        QTest::newRow("up") << 126u << 0u << "↑";
        QTest::newRow("huge code") << 4294967295u << 0u << "Key4294967295";
    }
    void displayText()
    {
        QFETCH(uint, code);
        QFETCH(uint, flags);
        QFETCH(QString, text);
        QCOMPARE((KeyCombo{code, flags}).displayText(), text);
    }

    void functionKeys()
    {
        const uint32_t codes[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109,
                                  103, 111, 105, 107, 113, 106, 64, 79, 80, 90};
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(KeyCombo::functionKeyCode(i + 1), codes[i]);
            QVERIFY((KeyCombo{codes[i], KeyCombo::Shift}).isFunctionKey());
            QCOMPARE(KeyCombo::keyName(codes[i]), QStringLiteral("F%1").arg(i + 1));
        }
        QVERIFY(!(KeyCombo{2, 0}).isFunctionKey());
        QVERIFY(!(KeyCombo{91, 0}).isFunctionKey());
    }

    void jsonRoundTripAndRejection()
    {
        const KeyCombo combo{KeyCombo::KeySpace, KeyCombo::Option | KeyCombo::Command};
        const QJsonObject object = QJsonDocument::fromJson(combo.toJson()).object();
        QCOMPARE(object.value("keyCode").toInt(), 49);
        QCOMPARE(object.value("modifierFlags").toInt(), 0x180000);
        QCOMPARE(KeyCombo::fromJson(combo.toJson()), std::optional(combo));
        QCOMPARE(KeyCombo::fromJson(R"({"modifierFlags": 0, "keyCode": 4294967295, "extra": 1})"),
                 std::optional(KeyCombo{4294967295u, 0}));

        const char *bad[] = {
            R"({"keyCode": 2})",
            R"({"keyCode": "2", "modifierFlags": 0})",
            R"({"keyCode": -1, "modifierFlags": 0})",
            R"({"keyCode": 2.5, "modifierFlags": 0})",
            R"({"keyCode": 4294967296, "modifierFlags": 0})",
            R"({"keyCode": 1e400, "modifierFlags": 0})",
            R"({"keyCode": null, "modifierFlags": 0})",
            R"([2, 0])",
            R"({"keyCode": 2, "modifierFlags": 0)",
            "",
        };
        for (const char *json : bad)
            QVERIFY2(!KeyCombo::fromJson(json), json);
    }

    void equalityAndHashUseBothFields()
    {
        QSet<KeyCombo> set{{2, KeyCombo::Option}, {2, KeyCombo::Option}, {2, KeyCombo::Control}, {3, KeyCombo::Option}};
        QCOMPARE(set.size(), 3);
        QVERIFY((KeyCombo{2, KeyCombo::Option}) != (KeyCombo{2, KeyCombo::Control}));
    }

    void fromQtKeyEvents_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("code"); // -1: no combo
        QTest::addColumn<uint>("flags");
        QTest::newRow("super A") << int(Qt::Key_A) << int(Qt::MetaModifier) << 0 << KeyCombo::Command;
        QTest::newRow("ctrl alt D") << int(Qt::Key_D) << int(Qt::ControlModifier | Qt::AltModifier) << 2 << (KeyCombo::Control | KeyCombo::Option);
        QTest::newRow("lower d") << int('d') << 0 << 2 << 0u;
        QTest::newRow("shift 1 arrives as !") << int(Qt::Key_Exclam) << int(Qt::ShiftModifier) << 18 << KeyCombo::Shift;
        QTest::newRow("shift [ arrives as {") << int(Qt::Key_BraceLeft) << int(Qt::ShiftModifier) << 33 << KeyCombo::Shift;
        QTest::newRow("shift tab") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << 48 << KeyCombo::Shift;
        QTest::newRow("keypad 5") << int(Qt::Key_5) << int(Qt::KeypadModifier) << 87 << 0u;
        QTest::newRow("keypad *") << int(Qt::Key_Asterisk) << int(Qt::KeypadModifier) << 67 << 0u;
        QTest::newRow("shift 8 is *") << int(Qt::Key_Asterisk) << int(Qt::ShiftModifier) << 28 << KeyCombo::Shift;
        QTest::newRow("keypad enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 76 << 0u;
        QTest::newRow("main minus") << int(Qt::Key_Minus) << 0 << 27 << 0u;
        QTest::newRow("F13") << int(Qt::Key_F13) << 0 << 105 << 0u;
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << 51 << 0u;
        QTest::newRow("delete") << int(Qt::Key_Delete) << 0 << 117 << 0u;
        QTest::newRow("shift alone") << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << -1 << 0u;
        QTest::newRow("super alone") << int(Qt::Key_Super_L) << int(Qt::MetaModifier) << -1 << 0u;
        QTest::newRow("unknown") << int(Qt::Key_unknown) << 0 << -1 << 0u;
    }
    void fromQtKeyEvents()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, code);
        QFETCH(uint, flags);
        const auto combo = KeyCombo::fromQtKey(key, Qt::KeyboardModifiers(modifiers));
        if (code < 0) {
            QVERIFY(!combo);
            return;
        }
        QVERIFY(combo);
        QCOMPARE(combo->keyCode, uint32_t(code));
        QCOMPARE(combo->modifierFlags, flags);
    }

    void everyKnownKeyRoundTripsThroughQtAndX11()
    {
        int known = 0;
        for (uint32_t code = 0; code < 128; ++code) {
            const KeyCombo combo{code, KeyCombo::Control | KeyCombo::Command};
            if (!combo.qtKey())
                continue;
            ++known;
            QCOMPARE(KeyCombo::fromQtKey(combo.qtKey(), combo.qtModifiers()), std::optional(combo));
            const auto x11 = combo.x11Keycode();
            QVERIFY2(x11, qPrintable(combo.displayText()));
            QCOMPARE(KeyCombo::keyCodeFromX11(*x11), std::optional(code));
        }
        QVERIFY(known >= 96);
        QCOMPARE((KeyCombo{2, 0}).x11Keycode(), std::optional<uint8_t>(40)); // D
        QCOMPARE((KeyCombo{49, 0}).x11Keycode(), std::optional<uint8_t>(65)); // Space
        QCOMPARE((KeyCombo{10, 0}).x11Keycode(), std::optional<uint8_t>(94)); // ISO extra key
        QVERIFY(!(KeyCombo{10, 0}).qtKey());
        QVERIFY(!KeyCombo::fromQtKey(0, Qt::NoModifier));
        QVERIFY(!(KeyCombo{200, 0}).x11Keycode());
        QVERIFY(!KeyCombo::keyCodeFromX11(0));
    }
};

QTEST_GUILESS_MAIN(TestKeyCombo)
#include "tst_key_combo.moc"
