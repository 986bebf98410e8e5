#include "platform/TrayHost.h"

#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace {
constexpr int kAvailabilityPollMs = 2000;
constexpr int kPanelGap = 4;
} // namespace

TrayHost::TrayHost(QWidget *panel, QObject *parent) : QObject(parent), m_panel(panel) {}

TrayHost::~TrayHost()
{
    delete m_panel.data();
}

void TrayHost::start()
{
    if (m_started)
        return;
    m_started = true;
    if (QSystemTrayIcon::isSystemTrayAvailable())
        useTray();
    else
        useWindow();
    // A tray host may start after us (or go away): follow it.
    auto *poll = new QTimer(this);
    poll->setInterval(kAvailabilityPollMs);
    connect(poll, &QTimer::timeout, this, &TrayHost::checkAvailability);
    poll->start();
}

void TrayHost::checkAvailability()
{
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available && !m_tray) {
        const bool panelShown = isPanelVisible();
        hidePanel();
        useTray();
        if (panelShown)
            showPanel();
    } else if (!available && m_tray) {
        useWindow();
    }
}

void TrayHost::useTray()
{
    if (m_panel) {
        const bool visible = m_panel->isVisible();
        m_panel->hide();
        m_panel->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
        Q_UNUSED(visible);
    }
    m_tray = new QSystemTrayIcon(m_icon, this);
    m_tray->setToolTip(m_toolTip);
    if (m_menu)
        m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            togglePanel();
    });
    m_tray->show();
    if (!m_appeared) {
        m_appeared = true;
        // The item is on screen once the event loop has placed it.
        QTimer::singleShot(0, this, &TrayHost::itemAppeared);
    }
}

void TrayHost::useWindow()
{
    delete m_tray;
    m_tray = nullptr;
    if (!m_panel)
        return;
    m_panel->hide();
    m_panel->setWindowFlags(Qt::Window);
    m_panel->setWindowTitle(QStringLiteral("Perchbox"));
    m_panel->setWindowIcon(m_icon);
    if (!m_windowPlaced) {
        m_windowPlaced = true;
        placeWindowInCorner();
    }
    m_panel->show();
    if (!m_appeared) {
        m_appeared = true;
        QTimer::singleShot(0, this, &TrayHost::itemAppeared);
    }
}

void TrayHost::setIcon(const QIcon &icon)
{
    m_icon = icon;
    if (m_tray)
        m_tray->setIcon(icon);
    if (m_panel)
        m_panel->setWindowIcon(icon);
}

void TrayHost::setToolTip(const QString &text)
{
    m_toolTip = text;
    if (m_tray)
        m_tray->setToolTip(text);
}

void TrayHost::setContextMenu(QMenu *menu)
{
    m_menu = menu;
    if (m_tray)
        m_tray->setContextMenu(menu);
}

bool TrayHost::isPanelVisible() const
{
    return m_panel && m_panel->isVisible();
}

void TrayHost::showPanel()
{
    if (!m_panel)
        return;
    if (m_tray)
        placePanelAtTray();
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
}

void TrayHost::hidePanel()
{
    // Without a tray the window is the program's face: it stays (minimizing is up to the user).
    if (m_panel && m_tray)
        m_panel->hide();
}

void TrayHost::togglePanel()
{
    if (isPanelVisible() && m_tray)
        hidePanel();
    else
        showPanel();
}

void TrayHost::placeWindowInCorner()
{
    // Where a tray panel would drop down: the top-right corner of the main screen. Shelves
    // appear in the middle or at the pointer, and this window floats above them, so it
    // must not be where they come up.
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize size = m_panel->sizeHint().expandedTo(m_panel->size());
    m_panel->resize(size);
    m_panel->move(std::max(area.left(), area.left() + area.width() - size.width() - 4 * kPanelGap),
                  area.top() + 4 * kPanelGap);
}

void TrayHost::placePanelAtTray()
{
    const QRect icon = m_tray->geometry();
    const QSize size = m_panel->sizeHint().expandedTo(m_panel->size());
    QScreen *screen = icon.isValid() ? QGuiApplication::screenAt(icon.center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QPoint pos;
    if (icon.isValid()) {
        // Below an icon in a top panel, above one in a bottom panel; aligned with its left edge.
        const bool top = icon.center().y() < area.center().y();
        pos.setX(icon.left());
        pos.setY(top ? icon.bottom() + kPanelGap : icon.top() - size.height() - kPanelGap);
    } else {
        pos = QPoint(area.right() - size.width() - kPanelGap, area.top() + kPanelGap);
    }
    pos.setX(std::clamp(pos.x(), area.left() + kPanelGap, std::max(area.left() + kPanelGap, area.right() - size.width() - kPanelGap)));
    pos.setY(std::clamp(pos.y(), area.top() + kPanelGap, std::max(area.top() + kPanelGap, area.bottom() - size.height() - kPanelGap)));
    m_panel->resize(size);
    m_panel->move(pos);
}
