#pragma once

#include "input/KeyCombo.h"

#include <QDialog>

#include <optional>

class HotkeyRecorder;
class QPushButton;

// The shortcut dialog of a shelf ("Set Custom Shortcut…" / "Change Custom Shortcut…"):
// titled "Set Shortcut for " (or "Change Shortcut for ") and the shelf's name, with a
// recorder and the buttons "Save", "Clear" (only when the shelf has a combo) and "Cancel".
class ShortcutDialog : public QDialog
{
    Q_OBJECT
public:
    enum class Choice { cancel, save, clear };

    ShortcutDialog(const QString &shelfName, const std::optional<KeyCombo> &current, QWidget *parent = nullptr);

    HotkeyRecorder *recorder() const { return m_recorder; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *clearButton() const { return m_clear; }
    QString title() const { return m_title; }

    Choice choice() const { return m_choice; }
    // What Save stores: the recorded combo (empty when the field was cleared).
    std::optional<KeyCombo> recordedCombo() const;

    // Runs the dialog; returns the combo to store, or nothing to change nothing. A stored
    // empty combo (Clear, or Save on a cleared field) is an engaged optional holding nullopt.
    static std::optional<std::optional<KeyCombo>> ask(const QString &shelfName, const std::optional<KeyCombo> &current,
                                                      QWidget *parent = nullptr);

private:
    HotkeyRecorder *m_recorder = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_clear = nullptr;
    QString m_title;
    Choice m_choice = Choice::cancel;
};
