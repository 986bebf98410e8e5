#include "input/hotkeys/GlobalHotkeyManager.h"

#include "input/hotkeys/HotkeyManager.h"
#include "input/hotkeys/PortalHotkeyRegistrar.h"
#include "input/hotkeys/X11HotkeyRegistrar.h"
#include "platform/DisplayPlatform.h"
#include "settings/AppSettings.h"

#include <QGuiApplication>

GlobalHotkeyManager::Session GlobalHotkeyManager::currentSession()
{
    Session session;
    session.wayland = DisplayPlatform::isWaylandSession(qgetenv("XDG_SESSION_TYPE"), qgetenv("WAYLAND_DISPLAY"));
    session.x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    return session;
}

GlobalHotkeyManager::GlobalHotkeyManager(AppSettings &settings, HotkeyManager &hotkeys, Session session,
                                         const QDBusConnection &portalBus, QObject *parent)
    : QObject(parent), m_settings(settings), m_hotkeys(hotkeys), m_session(session)
{
    if (m_session.wayland) {
        m_portal = std::make_unique<PortalHotkeyRegistrar>(portalBus);
        m_mechanism = Mechanism::portal;
        m_hotkeys.setRegistrar(m_portal.get());
        connect(m_portal.get(), &PortalHotkeyRegistrar::stateChanged, this, [this](PortalHotkeyRegistrar::State state) {
            if (state == PortalHotkeyRegistrar::State::unavailable && m_mechanism == Mechanism::portal) {
                // No portal: the X11 grabs of XWayland are the next best thing.
                useX11();
                m_hotkeys.registerAll();
            }
            update();
        });
    } else if (m_session.x11) {
        useX11();
    }
    update();
}

GlobalHotkeyManager::~GlobalHotkeyManager()
{
    m_hotkeys.setRegistrar(nullptr);
}

void GlobalHotkeyManager::useX11()
{
    if (!m_session.x11) {
        m_mechanism = Mechanism::none;
        m_hotkeys.setRegistrar(nullptr);
        return;
    }
    m_x11 = std::make_unique<X11HotkeyRegistrar>();
    if (!m_x11->isAvailable()) {
        m_x11.reset();
        m_mechanism = Mechanism::none;
        m_hotkeys.setRegistrar(nullptr);
        return;
    }
    m_mechanism = Mechanism::x11;
    m_hotkeys.setRegistrar(m_x11.get());
    connect(m_x11.get(), &X11HotkeyRegistrar::keyboardMappingChanged, &m_hotkeys, &HotkeyManager::registerAll);
}

bool GlobalHotkeyManager::inputMonitoringGranted() const
{
    switch (m_mechanism) {
    case Mechanism::x11:
        return !m_session.wayland;
    case Mechanism::portal:
        return m_portal && m_portal->isBound();
    case Mechanism::none:
        break;
    }
    return false;
}

void GlobalHotkeyManager::update()
{
    m_settings.setInputMonitoringGranted(inputMonitoringGranted());
    emit stateChanged();
}

QString GlobalHotkeyManager::shellCommandsText()
{
    return QStringLiteral("perchbox toggle\nperchbox new-shelf\nperchbox tuck left\nperchbox tuck right\n"
                          "perchbox summon SHELF");
}

QString GlobalHotkeyManager::unavailableReason() const
{
    if (inputMonitoringGranted())
        return {};
    if (m_mechanism == Mechanism::portal && m_portal) {
        switch (m_portal->state()) {
        case PortalHotkeyRegistrar::State::refused:
            return QStringLiteral("The desktop did not allow Perchbox's global shortcuts. Click to ask again.");
        case PortalHotkeyRegistrar::State::probing:
        case PortalHotkeyRegistrar::State::binding:
            return QStringLiteral("Waiting for the desktop to approve Perchbox's global shortcuts.");
        default:
            return QStringLiteral("Perchbox's global shortcuts are not bound yet. Click to bind them.");
        }
    }
    if (m_session.wayland)
        return QStringLiteral("This desktop does not let programs set global shortcuts (it has no GlobalShortcuts "
                              "portal), so Perchbox's shortcuts work only while one of its windows is active. "
                              "Bind these commands in the desktop's keyboard settings instead:\n")
            + shellCommandsText();
    return QStringLiteral("Global shortcuts need an X11 or a Wayland desktop session. You can bind these commands "
                          "in the desktop's keyboard settings instead:\n")
        + shellCommandsText();
}

bool GlobalHotkeyManager::requestInputMonitoring()
{
    if (inputMonitoringGranted())
        return true;
    if (m_mechanism == Mechanism::portal && m_portal) {
        m_portal->requestBinding();
        update();
        return m_portal->isBound();
    }
    update();
    return false;
}
