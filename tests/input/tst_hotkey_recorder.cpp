// The shortcut recorder and the per-shelf shortcut dialog, driven by synthetic mouse and key
// events.
#include "input/hotkeys/HotkeyRecorder.h"
#include "input/hotkeys/ShortcutDialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TestHotkeyRecorder : public QObject
{
    Q_OBJECT

    struct Field {
        QWidget window;
        HotkeyRecorder *recorder = new HotkeyRecorder(&window);
        QList<std::optional<KeyCombo>> reported;
        Field()
        {
            QObject::connect(recorder, &HotkeyRecorder::comboChanged, &window,
                             [this](const std::optional<KeyCombo> &c) { reported << c; });
            window.resize(240, 60);
            window.show();
            window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&window));
        }
        void doubleClick() { QTest::mouseDClick(recorder, Qt::LeftButton); }
    };

private slots:
    void doubleClickStartsAndAComboEnds()
    {
        Field f;
        QTest::mouseClick(f.recorder, Qt::LeftButton);
        QVERIFY(!f.recorder->isRecording()); // a single click does nothing
        QCOMPARE(f.recorder->displayText(), HotkeyRecorder::defaultPlaceholder);

        f.doubleClick();
        QVERIFY(f.recorder->isRecording());
        QCOMPARE(f.recorder->displayText(), QStringLiteral("Press shortcut…"));
        // Alt + Space records and ends recording; the callback gets the combo.
        QTest::keyClick(f.recorder, Qt::Key_Space, Qt::AltModifier);
        QVERIFY(!f.recorder->isRecording());
        QCOMPARE(f.reported.size(), 1);
        QCOMPARE(f.reported.first(), std::optional(KeyCombo{KeyCombo::KeySpace, KeyCombo::Option}));
        QCOMPARE(f.recorder->displayText(), QStringLiteral("Alt+Space"));
        QVERIFY(!f.recorder->hasFocus());
    }

    void bareKeysOnlyForFunctionKeys()
    {
        Field f;
        f.doubleClick();
        QTest::keyClick(f.recorder, Qt::Key_A);
        QVERIFY(f.recorder->isRecording());
        QVERIFY(f.reported.isEmpty());
        QTest::keyClick(f.recorder, Qt::Key_F5);
        QVERIFY(!f.recorder->isRecording());
        QCOMPARE(f.reported.value(0), std::optional(KeyCombo{96, 0}));
        QCOMPARE(f.recorder->displayText(), QStringLiteral("F5"));

        // Shifted symbols are taken at their key: Ctrl+Shift+1, not "!".
        f.doubleClick();
        QTest::keyClick(f.recorder, Qt::Key_Exclam, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f.recorder->combo(), std::optional(KeyCombo{18, KeyCombo::Control | KeyCombo::Shift}));
        QCOMPARE(f.recorder->displayText(), QStringLiteral("Ctrl+Shift+1"));
    }

    void escapeKeepsDeleteClears()
    {
        Field f;
        f.recorder->setCombo(KeyCombo{KeyCombo::KeyD, KeyCombo::Control | KeyCombo::Option});
        QCOMPARE(f.recorder->displayText(), QStringLiteral("Ctrl+Alt+D"));
        f.doubleClick();
        QTest::keyClick(f.recorder, Qt::Key_Escape);
        QVERIFY(!f.recorder->isRecording());
        QVERIFY(f.reported.isEmpty());
        QCOMPARE(f.recorder->combo(), std::optional(KeyCombo{KeyCombo::KeyD, KeyCombo::Control | KeyCombo::Option}));

        f.doubleClick();
        QTest::keyClick(f.recorder, Qt::Key_Backspace);
        QVERIFY(!f.recorder->isRecording());
        QCOMPARE(f.reported, (QList<std::optional<KeyCombo>>{std::nullopt}));
        QCOMPARE(f.recorder->combo(), std::nullopt);
        QCOMPARE(f.recorder->displayText(), HotkeyRecorder::defaultPlaceholder);

        // Forward Delete clears as well.
        f.recorder->setCombo(KeyCombo{96, 0});
        f.doubleClick();
        QTest::keyClick(f.recorder, Qt::Key_Delete);
        QCOMPARE(f.recorder->combo(), std::nullopt);
    }

    void liveModifiersAndEndings()
    {
        Field f;
        f.doubleClick();
        // Holding Super and Shift shows them, in the fixed order, followed by "…". (Sent one
        // by one: QTest would release every held modifier with the first release.)
        const auto send = [&f](QEvent::Type type, int key, Qt::KeyboardModifiers mods) {
            QKeyEvent event(type, key, mods);
            QApplication::sendEvent(f.recorder, &event);
        };
        send(QEvent::KeyPress, Qt::Key_Meta, Qt::NoModifier);
        QCOMPARE(f.recorder->displayText(), QStringLiteral("Super+…"));
        send(QEvent::KeyPress, Qt::Key_Shift, Qt::MetaModifier);
        QCOMPARE(f.recorder->displayText(), QStringLiteral("Shift+Super+…"));
        QVERIFY(f.recorder->isRecording()); // modifiers alone never finish
        send(QEvent::KeyRelease, Qt::Key_Shift, Qt::MetaModifier | Qt::ShiftModifier);
        QCOMPARE(f.recorder->displayText(), QStringLiteral("Super+…"));
        send(QEvent::KeyRelease, Qt::Key_Meta, Qt::MetaModifier);
        QCOMPARE(f.recorder->displayText(), QStringLiteral("Press shortcut…"));

        // A click while recording ends it, as does losing the focus.
        QTest::mouseClick(f.recorder, Qt::LeftButton);
        QVERIFY(!f.recorder->isRecording());
        f.doubleClick();
        QVERIFY(f.recorder->isRecording());
        f.recorder->clearFocus();
        QVERIFY(!f.recorder->isRecording());
        QVERIFY(f.reported.isEmpty());
    }

    void recordingObserverAndTabStaysInField()
    {
        QList<bool> states;
        HotkeyRecorder::setRecordingObserver([&states](bool on) { states << on; });
        {
            Field f;
            auto *other = new HotkeyRecorder(&f.window);
            other->move(0, 30);
            other->show();
            f.doubleClick();
            QVERIFY(HotkeyRecorder::isAnyRecording());
            // Tab is a key like any other here (Ctrl+Tab records), not a focus move.
            QTest::keyClick(f.recorder, Qt::Key_Tab, Qt::ControlModifier);
            QCOMPARE(f.recorder->combo(), std::optional(KeyCombo{KeyCombo::KeyTab, KeyCombo::Control}));
            QVERIFY(!HotkeyRecorder::isAnyRecording());
            f.doubleClick();
        } // destroyed while recording: the observer hears the end
        HotkeyRecorder::setRecordingObserver({});
        QCOMPARE(states, (QList<bool>{true, false, true, false}));
        QVERIFY(!HotkeyRecorder::isAnyRecording());
    }

    void shortcutDialog()
    {
        // No combo yet: "Set Shortcut for", no Clear.
        {
            ShortcutDialog dialog(QStringLiteral("Inbox"), std::nullopt);
            QCOMPARE(dialog.title(), QStringLiteral("Set Shortcut for Inbox"));
            QVERIFY(!dialog.clearButton());
            QCOMPARE(dialog.recorder()->width(), 180);
            QCOMPARE(dialog.recorder()->placeholder(), QStringLiteral("Double-click to record…"));
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QTest::mouseDClick(dialog.recorder(), Qt::LeftButton);
            QTest::keyClick(dialog.recorder(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
            dialog.saveButton()->click();
            QCOMPARE(dialog.choice(), ShortcutDialog::Choice::save);
            QCOMPARE(dialog.recordedCombo(), std::optional(KeyCombo{40, KeyCombo::Control | KeyCombo::Option}));
        }
        // With a combo: "Change Shortcut for", Clear offered.
        {
            ShortcutDialog dialog(QStringLiteral("Inbox"), KeyCombo{96, 0});
            QCOMPARE(dialog.title(), QStringLiteral("Change Shortcut for Inbox"));
            QVERIFY(dialog.clearButton());
            QCOMPARE(dialog.recorder()->displayText(), QStringLiteral("F5"));
            dialog.clearButton()->click();
            QCOMPARE(dialog.choice(), ShortcutDialog::Choice::clear);
        }
        // Escape while recording belongs to the field, not to the dialog.
        {
            ShortcutDialog dialog(QStringLiteral("Inbox"), KeyCombo{96, 0});
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            dialog.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
            QTest::mouseDClick(dialog.recorder(), Qt::LeftButton);
            QTest::keyClick(dialog.recorder(), Qt::Key_Escape);
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.choice(), ShortcutDialog::Choice::cancel);
        }
    }
};

QTEST_MAIN(TestHotkeyRecorder)
#include "tst_hotkey_recorder.moc"
