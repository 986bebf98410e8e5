#pragma once

#include <QElapsedTimer>
#include <QString>

#include <optional>

// The progress line on a terminal's standard error: "Converting… 45% · file 3/10 · ~0:12
// remaining", redrawn in place at most ten times a second and cleared when the run ends.
// Does nothing when standard error is not a terminal.
class CliProgress
{
public:
    // `enabled`: normally isatty(STDERR_FILENO).
    explicit CliProgress(bool enabled);
    ~CliProgress();

    struct Status {
        QString label;                 // "Converting…"
        std::optional<double> fraction; // 0…1; absent: indeterminate
        QString files;                 // "file 3/10", "12 files"
        QString remaining;             // "~0:12 remaining"
    };
    // The text of one line (without the carriage return).
    static QString format(const Status &status);

    void update(const Status &status);
    // Clears the line, so that a message can follow on a clean line.
    void clear();

private:
    bool m_enabled;
    bool m_shown = false;
    QElapsedTimer m_sinceDraw;
    QString m_last;
};
