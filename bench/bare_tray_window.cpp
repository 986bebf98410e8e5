// The start-up benchmark's reference: a bare Qt program that shows one frameless window and a
// tray icon, and, like Perchbox with PERCHBOX_STARTUP_REPORT_FD set, writes "shown\n" to that
// descriptor once the window has been painted. It then runs until it is terminated.
#include <QApplication>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <unistd.h>

namespace {

class Window : public QWidget
{
public:
    explicit Window(int fd) : m_fd(fd) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(rect(), QColor(0xf0, 0xf0, 0xf0));
        if (m_fd >= 0) {
            QTimer::singleShot(0, this, [this] {
                const char line[] = "shown\n";
                [[maybe_unused]] const ssize_t n = ::write(m_fd, line, sizeof line - 1);
                ::close(m_fd);
                m_fd = -1;
            });
        }
    }

private:
    int m_fd;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const char *fd = std::getenv("PERCHBOX_STARTUP_REPORT_FD");
    QPixmap pixmap(22, 22);
    pixmap.fill(QColor(0, 122, 255));
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.show();
    Window window(fd ? std::atoi(fd) : -1);
    window.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
    window.resize(220, 200);
    window.show();
    return app.exec();
}
