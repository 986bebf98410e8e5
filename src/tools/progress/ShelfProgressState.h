#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// The progress of the tool running on one shelf (archive, conversion, a favorite run). Tools
// write into it; the shelf header's ring button reads it. Main thread only.
class ShelfProgressState : public QObject
{
    Q_OBJECT
public:
    enum class Phase { running, idle, done, error };
    Q_ENUM(Phase)

    // How long a finished or failed mark stays before the state returns to idle.
    static constexpr int finishDelayMs = 1500;

    explicit ShelfProgressState(QObject *parent = nullptr);

    Phase phase() const { return m_phase; }
    // The fraction done while running (0.0 … 1.0); empty means indeterminate.
    std::optional<double> percent() const { return m_percent; }
    bool isRunning() const { return m_phase == Phase::running; }
    QString label() const { return m_label; }
    QString fileCountLabel() const { return m_fileCountLabel; }
    QString etaString() const { return m_etaString; }
    bool canCancel() const { return bool(m_cancelHandler); }

    // Writers.
    void setRunning(std::optional<double> percent = std::nullopt);
    void setLabel(const QString &label);
    void setFileCountLabel(const QString &text);
    void setEtaString(const QString &text);
    // Sets the remaining-time text from an estimate in seconds.
    void setEtaSeconds(double seconds);
    void setCancelHandler(std::function<void()> handler);
    void clearCancelHandler();

    // done, then idle after finishDelayMs.
    void markDone();
    // error, the cancel handler removed, then idle after finishDelayMs.
    void markError();
    // idle with label, count and remaining time emptied.
    void reset();

    // Called by the ring button when the user cancels; does nothing without a handler.
    void cancel();

    // "~42s remaining", "~3:07 remaining", or empty for 5 seconds or less.
    static QString remainingTimeText(double seconds);

    // The ring button's tooltip.
    struct TooltipContext {
        bool customizerOpen = false;
        int queueCount = 0;
        bool isFavoriteActivity = false;
    };
    static QString tooltip(Phase phase, const QString &label, const QString &fileCountLabel,
                           const TooltipContext &context);
    QString tooltip(const TooltipContext &context) const;

signals:
    void changed();

private:
    void setPhase(Phase phase, std::optional<double> percent);
    void scheduleReturnToIdle();

    Phase m_phase = Phase::idle;
    std::optional<double> m_percent;
    QString m_label;
    QString m_fileCountLabel;
    QString m_etaString;
    std::function<void()> m_cancelHandler;
};
