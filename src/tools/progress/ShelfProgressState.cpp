#include "tools/progress/ShelfProgressState.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>

ShelfProgressState::ShelfProgressState(QObject *parent) : QObject(parent) {}

void ShelfProgressState::setPhase(Phase phase, std::optional<double> percent)
{
    if (percent)
        percent = std::clamp(*percent, 0.0, 1.0);
    if (m_phase == phase && m_percent == percent)
        return;
    m_phase = phase;
    m_percent = phase == Phase::running ? percent : std::nullopt;
    emit changed();
}

void ShelfProgressState::setRunning(std::optional<double> percent)
{
    setPhase(Phase::running, percent);
}

void ShelfProgressState::setLabel(const QString &label)
{
    if (m_label == label)
        return;
    m_label = label;
    emit changed();
}

void ShelfProgressState::setFileCountLabel(const QString &text)
{
    if (m_fileCountLabel == text)
        return;
    m_fileCountLabel = text;
    emit changed();
}

void ShelfProgressState::setEtaString(const QString &text)
{
    if (m_etaString == text)
        return;
    m_etaString = text;
    emit changed();
}

void ShelfProgressState::setEtaSeconds(double seconds)
{
    setEtaString(remainingTimeText(seconds));
}

void ShelfProgressState::setCancelHandler(std::function<void()> handler)
{
    m_cancelHandler = std::move(handler);
    emit changed();
}

void ShelfProgressState::clearCancelHandler()
{
    if (!m_cancelHandler)
        return;
    m_cancelHandler = nullptr;
    emit changed();
}

void ShelfProgressState::markDone()
{
    setPhase(Phase::done, std::nullopt);
    scheduleReturnToIdle();
}

void ShelfProgressState::markError()
{
    m_cancelHandler = nullptr;
    m_phase = Phase::error;
    m_percent.reset();
    emit changed();
    scheduleReturnToIdle();
}

void ShelfProgressState::reset()
{
    m_phase = Phase::idle;
    m_percent.reset();
    m_label.clear();
    m_fileCountLabel.clear();
    m_etaString.clear();
    emit changed();
}

void ShelfProgressState::cancel()
{
    if (m_cancelHandler) {
        // The handler may clear or replace itself; keep it alive for the call.
        auto handler = m_cancelHandler;
        handler();
    }
}

void ShelfProgressState::scheduleReturnToIdle()
{
    // Whatever the phase is by then: a run that started meanwhile restores `running` with
    // its next update.
    QTimer::singleShot(finishDelayMs, this, [this] { setPhase(Phase::idle, std::nullopt); });
}

QString ShelfProgressState::remainingTimeText(double seconds)
{
    if (!(seconds > 5.0) || !std::isfinite(seconds))
        return {};
    const auto s = static_cast<long long>(std::floor(seconds));
    if (s < 60)
        return QStringLiteral("~%1s remaining").arg(s);
    return QStringLiteral("~%1:%2 remaining").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString ShelfProgressState::tooltip(Phase phase, const QString &label, const QString &fileCountLabel,
                                    const TooltipContext &context)
{
    const bool running = phase == Phase::running;
    QString text;
    if (context.isFavoriteActivity) {
        if (!running)
            text = QStringLiteral("View favorite activity");
        else if (!label.isEmpty())
            text = label + QStringLiteral(" · click to view favorite activity");
        else if (fileCountLabel.isEmpty())
            text = QStringLiteral("Click to view favorite activity");
        else
            text = QStringLiteral("Converting ") + fileCountLabel
                   + QStringLiteral(" · click to view favorite activity");
    } else {
        switch (phase) {
        case Phase::running:
            if (!label.isEmpty())
                text = label + QStringLiteral(" — click to cancel");
            else if (fileCountLabel.isEmpty())
                text = QStringLiteral("Click to cancel");
            else
                text = QStringLiteral("Converting ") + fileCountLabel + QStringLiteral(" — click to cancel");
            break;
        case Phase::idle:
            text = context.customizerOpen ? QStringLiteral("Close customizer")
                                          : QStringLiteral("Customize shelf");
            break;
        case Phase::done:
            text = QStringLiteral("Saving…");
            break;
        case Phase::error:
            text = QStringLiteral("Export failed");
            break;
        }
    }
    if (context.queueCount >= 1)
        text += QStringLiteral(" · %1 queued").arg(context.queueCount);
    return text;
}

QString ShelfProgressState::tooltip(const TooltipContext &context) const
{
    return tooltip(m_phase, m_label, m_fileCountLabel, context);
}
