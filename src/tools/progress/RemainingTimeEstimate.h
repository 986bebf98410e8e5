#pragma once

#include <QList>
#include <QPair>

#include <optional>

// The time left in a long run, shown only once it can be trusted. Early in a run the rate
// swings (encoders race through the first frames, a file's first seconds say little about
// its last), and a figure that later quadruples is worse than none. The estimate comes
// from the rate of the last few seconds; it is offered once the run has gone on for a while
// and the predicted end has held still for a few seconds, and withdrawn again if the
// prediction jumps.
class RemainingTimeEstimate
{
public:
    // The rate is measured over this many seconds.
    static constexpr double rateWindowSeconds = 3.0;
    // How long a run must go on, and how long the predicted end must hold within
    // `tolerance` (a share of the predicted whole), before an estimate shows.
    static constexpr double minimumElapsedSeconds = 3.0;
    static constexpr double steadySeconds = 2.0;
    static constexpr double tolerance = 0.10;

    // A sample: `fraction` (0…1) of the work done `elapsedSeconds` after the start. Returns
    // the seconds left, or nothing while the estimate is not steady.
    std::optional<double> update(double elapsedSeconds, double fraction);

    void reset();

private:
    QList<QPair<double, double>> m_samples;     // (elapsed, fraction)
    QList<QPair<double, double>> m_predictions; // (elapsed, predicted end)
    bool m_shown = false;
};
