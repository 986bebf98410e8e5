#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

#include "tools/progress/ShelfProgressState.h"

class QTimer;

// A ring filled to a known fraction, or a spinning partial ring when the fraction is not
// known. With `showsCancelOnHover` the centre turns into an "xmark" under the pointer.
class ProgressRingView : public QWidget
{
    Q_OBJECT
public:
    explicit ProgressRingView(QWidget *parent = nullptr);

    void setPercent(std::optional<double> percent);
    std::optional<double> percent() const { return m_percent; }
    void setFileCountLabel(const QString &text);
    void setShowsCancelOnHover(bool on) { m_cancelOnHover = on; update(); }
    bool isShowingCancel() const { return m_cancelOnHover && m_hovered; }
    // Set by an owner that takes the pointer events itself (the ring button).
    void setHovered(bool hovered) { m_hovered = hovered; update(); }

    QSize sizeHint() const override { return {24, 24}; }

protected:
    void paintEvent(QPaintEvent *) override;
    void enterEvent(QEnterEvent *) override;
    void leaveEvent(QEvent *) override;

private:
    std::optional<double> m_percent;
    QString m_fileCountLabel;
    bool m_cancelOnHover = false;
    bool m_hovered = false;
    int m_angle = 0;
    QTimer *m_spin;
};

// The short finished or failed mark: a coloured disc with a check mark or an exclamation.
class CompletedRingView : public QWidget
{
    Q_OBJECT
public:
    CompletedRingView(QColor color, QString symbolName, QWidget *parent = nullptr);
    void setMark(QColor color, const QString &symbolName);
    QString symbolName() const { return m_symbol; }
    QSize sizeHint() const override { return {24, 24}; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_color;
    QString m_symbol; // "checkmark" or "exclamationmark"
};

// The shelf header's button: the idle icon (opens or closes the customizer), the progress
// ring while a tool runs (tap to cancel, or to view the favorite activity), and the done or
// error mark afterwards. It only reads the progress state.
class ShelfProgressRingButton : public QWidget
{
    Q_OBJECT
public:
    explicit ShelfProgressRingButton(QWidget *parent = nullptr);

    void setState(ShelfProgressState *state);
    // The symbol of the idle face (e.g. "pencil", see platform/Icons.h).
    void setIdleIconName(const QString &name);
    void setCustomizerOpen(bool open);
    void setQueueCount(int count);
    void setFavoriteActivity(bool favorite);
    void setOnRunningTap(std::function<void()> action) { m_onRunningTap = std::move(action); }
    void setOnIdleTap(std::function<void()> action) { m_onIdleTap = std::move(action); }

    QString currentToolTip() const;
    QSize sizeHint() const override { return {22, 22}; }
    ShelfProgressState *state() const { return m_state; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *) override;
    void leaveEvent(QEvent *) override;
    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override { refresh(); }

private:
    void refresh();

    QPointer<ShelfProgressState> m_state;
    QString m_idleIcon = QStringLiteral("pencil");
    bool m_customizerOpen = false;
    int m_queueCount = 0;
    bool m_favorite = false;
    std::function<void()> m_onRunningTap;
    std::function<void()> m_onIdleTap;
    QElapsedTimer m_runningShown; // since the running face showed
    bool m_pressMayCancel = true;
    ProgressRingView *m_ring;
    CompletedRingView *m_completed;
};
