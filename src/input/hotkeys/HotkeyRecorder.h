#pragma once

#include "input/KeyCombo.h"

#include <QWidget>

#include <functional>
#include <optional>

// The field in which the user records a key combination.
//
// A double click starts recording (a single click does nothing), as do Return and Space on the
// focused field; a click while recording, or the field losing focus, ends it. While recording: Escape ends it and keeps the combo;
// Backspace or Delete clears the combo; modifier keys alone only show themselves ("Ctrl+Shift+…");
// any other key records the combination with the modifiers held, except that a key without
// modifiers is taken only when it is an F-key. The field shows "Press shortcut…" while
// recording with nothing held, else the combo ("Ctrl+Alt+D") or the placeholder.
//
// While any recorder records, the program's global hot keys are released (see
// setRecordingObserver), so that a combination that is already ours reaches the field.
class HotkeyRecorder : public QWidget
{
    Q_OBJECT
public:
    static inline const QString defaultPlaceholder = QStringLiteral("Double-click to record…");

    explicit HotkeyRecorder(QWidget *parent = nullptr);
    ~HotkeyRecorder() override;

    const std::optional<KeyCombo> &combo() const { return m_combo; }
    // Sets the combo without telling comboChanged (the binding's way in).
    void setCombo(const std::optional<KeyCombo> &combo);
    QString placeholder() const { return m_placeholder; }
    void setPlaceholder(const QString &placeholder);

    bool isRecording() const { return m_recording; }
    uint32_t liveModifiers() const { return m_liveModifiers; }
    // The text the field shows now.
    QString displayText() const;

    // Starts recording as a double click does (takes the focus when it has not got it).
    void startRecording();
    void stopRecording();

    // Called with true when the first recorder starts recording and false when the last
    // stops; the hot-key layer releases its hot keys meanwhile.
    static void setRecordingObserver(std::function<void(bool recording)> observer);
    static bool isAnyRecording();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // After every change the user made (an empty optional: cleared).
    void comboChanged(const std::optional<KeyCombo> &combo);
    void recordingChanged(bool recording);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void setRecording(bool recording);
    // True when the key event was taken.
    bool handleKey(QKeyEvent *event);
    void finish(const std::optional<KeyCombo> &combo, bool changed);

    std::optional<KeyCombo> m_combo;
    QString m_placeholder = defaultPlaceholder;
    bool m_recording = false;
    uint32_t m_liveModifiers = 0;
    bool m_pendingRecordOnFocus = false;
};
