#include "tools/progress/RemainingTimeEstimate.h"

#include <algorithm>
#include <cmath>

namespace {

// Drops the entries older than `from`, keeping the last one before it so that the span
// still reaches back that far.
void keepSince(QList<QPair<double, double>> &list, double from)
{
    while (list.size() > 2 && list.at(1).first <= from)
        list.removeFirst();
}

} // namespace

std::optional<double> RemainingTimeEstimate::update(double elapsed, double fraction)
{
    if (!(fraction > 0.0) || !(elapsed > 0.0) || !std::isfinite(elapsed) || !std::isfinite(fraction))
        return std::nullopt;
    fraction = std::min(fraction, 1.0);
    m_samples.append({elapsed, fraction});
    keepSince(m_samples, elapsed - rateWindowSeconds);

    const auto &[since, doneThen] = m_samples.first();
    const double rate = elapsed > since ? (fraction - doneThen) / (elapsed - since) : 0.0;
    if (!(rate > 0.0)) {
        m_shown = false;
        return std::nullopt;
    }
    const double end = elapsed + (1.0 - fraction) / rate;
    m_predictions.append({elapsed, end});
    keepSince(m_predictions, elapsed - steadySeconds);

    double low = end, high = end;
    for (const auto &[at, predicted] : m_predictions) {
        low = std::min(low, predicted);
        high = std::max(high, predicted);
    }
    const bool covered = m_predictions.size() >= 3 && elapsed - m_predictions.first().first >= steadySeconds;
    const double spread = high - low;
    if (elapsed >= minimumElapsedSeconds && covered && spread <= tolerance * end)
        m_shown = true;
    else if (!covered || spread > 3 * tolerance * end)
        m_shown = false; // once shown, only a real jump withdraws it
    if (!m_shown)
        return std::nullopt;
    return std::max(0.0, end - elapsed);
}

void RemainingTimeEstimate::reset()
{
    m_samples.clear();
    m_predictions.clear();
    m_shown = false;
}
