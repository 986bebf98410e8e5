#include "app/cli/CliProgress.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>

CliProgress::CliProgress(bool enabled) : m_enabled(enabled) {}

CliProgress::~CliProgress()
{
    clear();
}

QString CliProgress::format(const Status &s)
{
    QStringList parts;
    QString head = s.label;
    if (s.fraction) {
        const int percent = int(std::floor(std::clamp(*s.fraction, 0.0, 1.0) * 100.0));
        head += (head.isEmpty() ? QString() : QStringLiteral(" ")) + QString::number(percent) + QLatin1Char('%');
    }
    if (!head.isEmpty())
        parts << head;
    if (!s.files.isEmpty())
        parts << s.files;
    if (!s.remaining.isEmpty())
        parts << s.remaining;
    return parts.join(QStringLiteral(" · "));
}

void CliProgress::update(const Status &status)
{
    if (!m_enabled)
        return;
    const QString text = format(status);
    if (text == m_last)
        return;
    if (m_shown && m_sinceDraw.isValid() && m_sinceDraw.elapsed() < 100)
        return;
    m_last = text;
    m_sinceDraw.start();
    std::fprintf(stderr, "\r\033[K%s", text.toUtf8().constData());
    std::fflush(stderr);
    m_shown = true;
}

void CliProgress::clear()
{
    if (!m_enabled || !m_shown)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_shown = false;
    m_last.clear();
}
