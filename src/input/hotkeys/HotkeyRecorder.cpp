#include "input/hotkeys/HotkeyRecorder.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

std::function<void(bool)> &observer()
{
    static std::function<void(bool)> function;
    return function;
}

int g_recordingCount = 0;

// The KeyCombo modifier a modifier key stands for (0 for other keys).
std::optional<uint32_t> modifierOfKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
        return KeyCombo::Shift;
    case Qt::Key_Control:
        return KeyCombo::Control;
    case Qt::Key_Alt:
        return KeyCombo::Option;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return KeyCombo::Command;
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
        return 0u;
    default:
        return std::nullopt;
    }
}

} // namespace

HotkeyRecorder::HotkeyRecorder(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setToolTip(QStringLiteral("Double-click, then press a key combination"));
}

HotkeyRecorder::~HotkeyRecorder()
{
    if (m_recording)
        setRecording(false);
}

void HotkeyRecorder::setRecordingObserver(std::function<void(bool)> function)
{
    observer() = std::move(function);
}

bool HotkeyRecorder::isAnyRecording()
{
    return g_recordingCount > 0;
}

void HotkeyRecorder::setCombo(const std::optional<KeyCombo> &combo)
{
    if (m_combo == combo)
        return;
    m_combo = combo;
    update();
}

void HotkeyRecorder::setPlaceholder(const QString &placeholder)
{
    m_placeholder = placeholder;
    update();
}

QString HotkeyRecorder::displayText() const
{
    if (m_recording)
        return m_liveModifiers ? KeyCombo::modifierText(m_liveModifiers) + QStringLiteral("…")
                               : QStringLiteral("Press shortcut…");
    return m_combo ? m_combo->displayText() : m_placeholder;
}

void HotkeyRecorder::setRecording(bool recording)
{
    if (m_recording == recording)
        return;
    m_recording = recording;
    m_liveModifiers = 0;
    g_recordingCount += recording ? 1 : -1;
    const bool edge = recording ? g_recordingCount == 1 : g_recordingCount == 0;
    if (edge && observer())
        observer()(recording);
    update();
    emit recordingChanged(recording);
}

void HotkeyRecorder::startRecording()
{
    m_pendingRecordOnFocus = true;
    if (hasFocus()) {
        m_pendingRecordOnFocus = false;
        setRecording(true);
    } else {
        setFocus(Qt::MouseFocusReason);
        // Without a window that can take focus (an inactive one), start anyway.
        if (m_pendingRecordOnFocus && !hasFocus()) {
            m_pendingRecordOnFocus = false;
            setRecording(true);
        }
    }
}

void HotkeyRecorder::stopRecording()
{
    m_pendingRecordOnFocus = false;
    setRecording(false);
    if (hasFocus())
        clearFocus();
}

void HotkeyRecorder::mousePressEvent(QMouseEvent *event)
{
    if (m_recording)
        stopRecording();
    event->accept();
}

void HotkeyRecorder::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (!m_recording)
        startRecording();
    event->accept();
}

void HotkeyRecorder::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    if (m_pendingRecordOnFocus) {
        m_pendingRecordOnFocus = false;
        setRecording(true);
    }
    update();
}

void HotkeyRecorder::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    setRecording(false);
    update();
}

bool HotkeyRecorder::event(QEvent *event)
{
    if (m_recording) {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Every key comes to the field as a key press: no shortcut of the window acts.
            event->accept();
            return true;
        case QEvent::KeyPress:
            handleKey(static_cast<QKeyEvent *>(event));
            return true;
        case QEvent::KeyRelease: {
            auto *key = static_cast<QKeyEvent *>(event);
            if (const auto modifier = modifierOfKey(key->key()); modifier && *modifier) {
                m_liveModifiers = (KeyCombo::flagsFromQt(key->modifiers()) & ~*modifier) & KeyCombo::AllModifiers;
                update();
            }
            return true;
        }
        default:
            break;
        }
    } else if (event->type() == QEvent::KeyPress) {
        // From the keyboard: Return or Space on the focused field starts recording.
        auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (plain && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space)) {
            startRecording();
            return true;
        }
    }
    return QWidget::event(event);
}

bool HotkeyRecorder::handleKey(QKeyEvent *event)
{
    const int key = event->key();
    if (const auto modifier = modifierOfKey(key)) {
        m_liveModifiers = (KeyCombo::flagsFromQt(event->modifiers()) | *modifier) & KeyCombo::AllModifiers;
        update();
        return true;
    }
    const std::optional<KeyCombo> pressed = KeyCombo::fromQtKey(key, event->modifiers());
    if (!pressed)
        return true; // a key without a position: keep waiting
    if (pressed->keyCode == KeyCombo::KeyDelete || pressed->keyCode == KeyCombo::KeyForwardDelete) {
        finish(std::nullopt, true);
        return true;
    }
    if (pressed->keyCode == KeyCombo::KeyEscape) {
        finish(std::nullopt, false);
        return true;
    }
    const KeyCombo combo{pressed->keyCode, pressed->modifierFlags & KeyCombo::AllModifiers};
    if (!combo.hasModifiers() && !combo.isFunctionKey())
        return true; // only F-keys stand alone
    finish(combo, true);
    return true;
}

void HotkeyRecorder::finish(const std::optional<KeyCombo> &combo, bool changed)
{
    if (changed) {
        m_combo = combo;
        emit comboChanged(m_combo);
    }
    stopRecording();
}

QSize HotkeyRecorder::sizeHint() const
{
    return {180, fontMetrics().height() + 12};
}

QSize HotkeyRecorder::minimumSizeHint() const
{
    return {80, fontMetrics().height() + 8};
}

void HotkeyRecorder::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette &pal = palette();
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, 6, 6);
    p.fillPath(path, pal.color(QPalette::Base));
    const QColor accent = pal.color(QPalette::Highlight);
    QColor border = m_recording || hasFocus() ? accent : pal.color(QPalette::Mid);
    p.setPen(QPen(border, m_recording ? 2.0 : 1.0));
    p.drawPath(path);
    const bool secondary = (m_recording && !m_liveModifiers) || (!m_recording && !m_combo);
    p.setPen(secondary ? pal.color(QPalette::PlaceholderText) : (m_recording ? accent : pal.color(QPalette::Text)));
    p.drawText(rect().adjusted(6, 0, -6, 0), Qt::AlignCenter | Qt::TextSingleLine,
               fontMetrics().elidedText(displayText(), Qt::ElideRight, width() - 12));
}
