#include "app/StartupReport.h"

#include "app/PerchboxApp.h"

#include <QEvent>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <utility>
#include <unistd.h>

namespace {

// Watches the shelf windows for their first paint; writes the line when the last one had it.
class PaintWatch : public QObject
{
public:
    PaintWatch(int fd, const QList<QWidget *> &windows, QObject *parent) : QObject(parent), m_fd(fd)
    {
        for (QWidget *w : windows) {
            if (!w->isVisible())
                continue; // hidden by the user: never painted
            m_waiting.insert(w);
            w->installEventFilter(this);
            connect(w, &QObject::destroyed, this, [this, w] { done(w); });
        }
        check();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            // The backing store reaches the X server right after the paint events of this round.
            QTimer::singleShot(0, this, [this, watched] { done(watched); });
        return false;
    }

private:
    void done(QObject *window)
    {
        if (m_waiting.remove(window))
            window->removeEventFilter(this);
        check();
    }
    void check()
    {
        if (!m_waiting.isEmpty() || m_fd < 0)
            return;
        const char line[] = "shown\n";
        [[maybe_unused]] const ssize_t n = ::write(m_fd, line, sizeof line - 1);
        ::close(m_fd);
        m_fd = -1;
        deleteLater();
    }

    int m_fd;
    QSet<QObject *> m_waiting;
};

} // namespace

static int g_reportFd = -1;

void takeStartupReportDescriptor()
{
    const char *value = std::getenv("PERCHBOX_STARTUP_REPORT_FD");
    if (!value || !*value)
        return;
    char *end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    ::unsetenv("PERCHBOX_STARTUP_REPORT_FD"); // not for the programs we start
    if (*end || fd < 0 || fd > INT_MAX || ::fcntl(int(fd), F_SETFD, FD_CLOEXEC) != 0)
        return;
    g_reportFd = int(fd);
}

void reportStartupWhenShown(PerchboxApp &app)
{
    const int fd = std::exchange(g_reportFd, -1);
    if (fd < 0)
        return;
    const auto watch = [&app, fd] { new PaintWatch(fd, app.delegate().shelfWindows(), &app); };
    if (app.hasLaunched())
        watch();
    else
        QObject::connect(&app, &PerchboxApp::launched, &app, watch, Qt::SingleShotConnection);
}
