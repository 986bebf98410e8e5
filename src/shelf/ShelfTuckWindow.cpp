#include "shelf/ShelfTuckWindow.h"

#include "model/ShelfColor.h"
#include "model/ShelfManager.h"
#include "platform/Icons.h"
#include "shelf/ShelfWindow.h"

#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace {

constexpr int kFlashMs = 1200;

// The strip of a tucked shelf: the shelf's colour, its icon, and a grip.
class TuckStripView : public QWidget
{
public:
    TuckStripView(ShelfWindow &window) : QWidget(&window), m_window(window)
    {
        setAttribute(Qt::WA_NoMousePropagation);
        setCursor(Qt::PointingHandCursor);
        setObjectName(QStringLiteral("tuckStrip"));
        hide();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const Shelf *shelf = m_window.manager().shelf(m_window.shelfId());
        QColor tint = shelf ? toQColor(shelf->colorData) : QColor(0, 122, 255);
        if (!tint.isValid())
            tint = QColor(0, 122, 255);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        const qreal radius = std::min<qreal>(8, width() / 2.0);
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
        QColor fill = tint;
        fill.setAlphaF(0.9f);
        p.fillPath(path, fill);
        const QColor ink = tint.lightnessF() > 0.6 ? QColor(0, 0, 0, 170) : QColor(255, 255, 255, 220);
        if (shelf && width() >= 16) {
            const int side = std::min(16, width() - 6);
            tintedSymbolIcon(shelf->icon, ink).paint(&p, QRect((width() - side) / 2, 6, side, side));
        }
        // The grip: three short bars in the middle.
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        const qreal cx = width() / 2.0;
        const qreal cy = height() / 2.0;
        for (int i = -1; i <= 1; ++i)
            p.drawRoundedRect(QRectF(cx - 5, cy + i * 5 - 1, 10, 2), 1, 1);
    }
    void mousePressEvent(QMouseEvent *event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent *event) override { event->accept(); }

private:
    ShelfWindow &m_window;
};

// A short highlight around an untucked shelf.
class FlashOverlay : public QWidget
{
public:
    FlashOverlay(ShelfWindow &window) : QWidget(&window), m_window(window)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const Shelf *shelf = m_window.manager().shelf(m_window.shelfId());
        QColor tint = shelf ? toQColor(shelf->colorData) : QColor(0, 122, 255);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(tint, 3));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 12, 12);
    }

private:
    ShelfWindow &m_window;
};

} // namespace

ShelfTuckWindow::ShelfTuckWindow(ShelfWindow &window, ShelfTuckManager &manager)
    : QObject(&window), m_window(&window), m_alive(&window), m_manager(manager), m_id(window.shelfId())
{
    m_strip = new TuckStripView(window);
    m_flash = new FlashOverlay(window);
    window.installEventFilter(this);
    connect(&window, &ShelfWindow::gripDragBegan, this, [this] { m_manager.headerDragBegan(m_id); });
    connect(&window, &ShelfWindow::gripDragEnded, this, [this] { m_manager.headerDragEnded(m_id); });
    connect(&window.manager(), &ShelfManager::shelvesChanged, m_strip, qOverload<>(&QWidget::update));
}

ShelfTuckWindow::~ShelfTuckWindow()
{
    if (m_manager.window(m_id) == this)
        m_manager.unregisterWindow(m_id);
}

QRect ShelfTuckWindow::frame() const
{
    return m_alive ? m_window->frameGeometry() : QRect();
}

void ShelfTuckWindow::setFrame(const QRect &frame)
{
    if (!m_alive)
        return;
    if (m_window->isGeometryManaged())
        m_window->setGeometry(frame);
    else
        m_window->move(frame.topLeft());
}

QSize ShelfTuckWindow::fullSize() const
{
    return m_alive ? m_window->fullSize() : QSize();
}

bool ShelfTuckWindow::isShown() const
{
    return m_alive && m_window->isVisible();
}

void ShelfTuckWindow::raise()
{
    if (m_alive)
        m_window->raise();
}

void ShelfTuckWindow::setManaged(bool managed)
{
    if (m_alive)
        m_window->setGeometryManaged(managed);
}

void ShelfTuckWindow::setStrip(bool strip)
{
    if (!m_alive || m_strip->isVisible() == strip)
        return;
    m_strip->setGeometry(m_window->rect());
    m_strip->setVisible(strip);
    if (strip)
        m_strip->raise();
}

bool ShelfTuckWindow::isBusy() const
{
    return m_dragOver || QApplication::activePopupWidget() || QApplication::activeModalWidget();
}

void ShelfTuckWindow::flash()
{
    if (!m_alive)
        return;
    m_flash->setGeometry(m_window->rect());
    m_flash->raise();
    m_flash->show();
    QTimer::singleShot(kFlashMs, m_flash, &QWidget::hide);
}

bool ShelfTuckWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != static_cast<QObject *>(m_window))
        return false;
    switch (event->type()) {
    case QEvent::Enter:
        m_manager.pointerEntered(m_id);
        break;
    case QEvent::Leave:
        m_manager.pointerLeft(m_id);
        break;
    case QEvent::DragEnter:
        // Files dragged to a tucked shelf: it peeks out to take them.
        m_dragOver = true;
        m_manager.pointerEntered(m_id);
        break;
    case QEvent::DragLeave:
        m_dragOver = false;
        m_manager.pointerLeft(m_id);
        break;
    case QEvent::Drop:
        m_dragOver = false;
        m_manager.pointerLeft(m_id);
        break;
    case QEvent::WindowActivate:
        m_manager.windowActivated(m_id);
        break;
    case QEvent::Show:
        m_manager.windowShown(m_id);
        break;
    case QEvent::Resize:
        m_strip->setGeometry(m_window->rect());
        m_flash->setGeometry(m_window->rect());
        break;
    default:
        break;
    }
    return false;
}
