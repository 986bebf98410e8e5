// The desktop-session plumbing of global hot keys: the GlobalShortcuts portal client against
// a small fake portal on a private bus, the permission state built on it, logind's sleep
// signal, and the choice of the Qt platform on Wayland.
#include "PrivateBus.h"

#include "input/hotkeys/GlobalHotkeyManager.h"
#include "input/hotkeys/HotkeyManager.h"
#include "input/hotkeys/PortalHotkeyRegistrar.h"
#include "platform/DisplayPlatform.h"
#include "platform/SleepWatcher.h"

#include "TuckFakes.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QtTest>

namespace {

struct FakeShortcut {
    QString id;
    QVariantMap properties;
};
using FakeShortcutList = QList<FakeShortcut>;

} // namespace

Q_DECLARE_METATYPE(FakeShortcut)
Q_DECLARE_METATYPE(FakeShortcutList)

namespace {

QDBusArgument &operator<<(QDBusArgument &argument, const FakeShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, FakeShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// The portal's GlobalShortcuts interface as a desktop serves it: sessions, bindings and the
// Request objects that answer them; and logind's manager for the sleep signal.
class FakeDesktop : public QDBusVirtualObject
{
public:
    explicit FakeDesktop(QDBusConnection bus) : m_bus(bus) {}

    uint bindResponse = 0; // 0 approved, 1 declined by the user
    int sessionsCreated = 0;
    QStringList closedSessions;
    QString session;
    FakeShortcutList bound;

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString member = message.member();
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && member == QLatin1String("Get")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(1)))));
            return true;
        }
        if (message.interface() == QLatin1String("org.freedesktop.portal.Session") && member == QLatin1String("Close")) {
            closedSessions << message.path();
            connection.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("CreateSession")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().at(0));
            ++sessionsCreated;
            session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                          .arg(sender(message), options.value(QStringLiteral("session_handle_token")).toString());
            respond(message, options, 0, {{QStringLiteral("session_handle"), session}});
            return true;
        }
        if (member == QLatin1String("BindShortcuts")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().at(3));
            FakeShortcutList shortcuts;
            message.arguments().at(1).value<QDBusArgument>() >> shortcuts;
            if (bindResponse != 0) {
                respond(message, options, bindResponse, {});
                return true;
            }
            bound = shortcuts;
            for (FakeShortcut &shortcut : shortcuts)
                shortcut.properties.insert(QStringLiteral("trigger_description"),
                                           QStringLiteral("desktop: ") + shortcut.properties.value(QStringLiteral("preferred_trigger")).toString());
            respond(message, options, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}});
            return true;
        }
        return false;
    }

    void activate(const QString &sessionPath, const QString &shortcutId)
    {
        QDBusMessage signal = QDBusMessage::createSignal(PortalHotkeyRegistrar::path, PortalHotkeyRegistrar::interface,
                                                         QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(sessionPath)) << shortcutId << qulonglong(1234) << QVariantMap();
        m_bus.send(signal);
    }

    void prepareForSleep(bool sleeping)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                                         QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        m_bus.send(signal);
    }

private:
    static QString sender(const QDBusMessage &message)
    {
        QString name = message.service();
        name.remove(0, 1);
        name.replace(QLatin1Char('.'), QLatin1Char('_'));
        return name;
    }
    void respond(const QDBusMessage &message, const QVariantMap &options, uint code, const QVariantMap &results)
    {
        const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                    .arg(sender(message), options.value(QStringLiteral("handle_token")).toString());
        m_bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                           QStringLiteral("Response"));
        response << code << results;
        m_bus.send(response);
    }

    QDBusConnection m_bus;
};

const KeyCombo ctrlAltD{KeyCombo::KeyD, KeyCombo::Control | KeyCombo::Option};
const KeyCombo superF5{96, KeyCombo::Command};

} // namespace

class TestDesktopSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<FakeDesktop> m_desktop;
    QDBusConnection m_service{QStringLiteral("none")};
    int m_clients = 0;

    QDBusConnection client() { return m_bus->connect(QStringLiteral("client%1").arg(++m_clients)); }

private slots:
    void initTestCase()
    {
        qDBusRegisterMetaType<FakeShortcut>();
        qDBusRegisterMetaType<FakeShortcutList>();
        m_bus = std::make_unique<PrivateBus>();
        if (!m_bus->isRunning())
            QSKIP("dbus-daemon is not available");
        m_service = m_bus->connect(QStringLiteral("desktop"));
        QVERIFY(m_service.isConnected());
        m_desktop = std::make_unique<FakeDesktop>(m_service);
        QVERIFY(m_service.registerVirtualObject(PortalHotkeyRegistrar::path, m_desktop.get(), QDBusConnection::SubPath));
        QVERIFY(m_service.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), m_desktop.get()));
    }

    void cleanupTestCase()
    {
        m_desktop.reset();
        m_bus.reset();
    }

    void triggers()
    {
        QCOMPARE(PortalHotkeyRegistrar::triggerFor(ctrlAltD), QStringLiteral("CTRL+ALT+d"));
        QCOMPARE(PortalHotkeyRegistrar::triggerFor(superF5), QStringLiteral("LOGO+F5"));
        QCOMPARE(PortalHotkeyRegistrar::triggerFor({KeyCombo::KeySpace, KeyCombo::Shift | KeyCombo::Option}),
                 QStringLiteral("ALT+SHIFT+space"));
        QCOMPARE(PortalHotkeyRegistrar::triggerFor({85, KeyCombo::Control}), QStringLiteral("CTRL+KP_3"));
        QCOMPARE(PortalHotkeyRegistrar::triggerFor({10, KeyCombo::Control}), std::nullopt); // no key there
    }

    void noPortalOnTheBus()
    {
        // Nobody owns the portal's name yet.
        PortalHotkeyRegistrar portal(client());
        QTRY_COMPARE(portal.state(), PortalHotkeyRegistrar::State::unavailable);
        QCOMPARE(portal.registerHotkey({ctrlAltD, 1000, QStringLiteral("show-all"), QStringLiteral("Show")}), std::nullopt);

        // The permission state says why and what to do instead.
        TuckFixture f;
        HotkeyManager hotkeys(*f.shelves, *f.settings, *f.tuck);
        GlobalHotkeyManager global(*f.settings, hotkeys, {true, false}, client());
        QTRY_COMPARE(global.mechanism(), GlobalHotkeyManager::Mechanism::none);
        QVERIFY(!f.settings->inputMonitoringGranted());
        QVERIFY(global.unavailableReason().contains(QStringLiteral("perchbox summon SHELF")));
        QVERIFY(!global.requestInputMonitoring());
    }

    void createBindActivate()
    {
        QVERIFY(m_service.registerService(PortalHotkeyRegistrar::service));
        QVERIFY(m_service.registerService(QStringLiteral("org.freedesktop.login1")));
        PortalHotkeyRegistrar portal(client());
        QList<uint32_t> pressed;
        portal.pressed = [&pressed](uint32_t id) { pressed << id; };
        QTRY_COMPARE(portal.state(), PortalHotkeyRegistrar::State::idle);

        const auto showAll = portal.registerHotkey({ctrlAltD, 1000, QStringLiteral("show-all"), QStringLiteral("Show / hide shelves")});
        const auto shelf = portal.registerHotkey({superF5, 1001, QStringLiteral("shelf-A"), QStringLiteral("Bring \"A\"")});
        QVERIFY(showAll && shelf);
        portal.commit();
        QTRY_COMPARE(portal.state(), PortalHotkeyRegistrar::State::bound);
        QCOMPARE(m_desktop->sessionsCreated, 1);
        QCOMPARE(m_desktop->bound.size(), 2);
        QCOMPARE(m_desktop->bound.at(0).id, QStringLiteral("shelf-A"));
        QCOMPARE(m_desktop->bound.at(1).id, QStringLiteral("show-all"));
        QCOMPARE(m_desktop->bound.at(1).properties.value(QStringLiteral("preferred_trigger")).toString(), QStringLiteral("CTRL+ALT+d"));
        QCOMPARE(m_desktop->bound.at(1).properties.value(QStringLiteral("description")).toString(), QStringLiteral("Show / hide shelves"));
        QCOMPARE(portal.triggerDescriptions().value(QStringLiteral("shelf-A")), QStringLiteral("desktop: LOGO+F5"));

        // Activated → the registration's id; another session's activation is not ours.
        m_desktop->activate(m_desktop->session, QStringLiteral("show-all"));
        QTRY_COMPARE(pressed, (QList<uint32_t>{1000}));
        m_desktop->activate(QStringLiteral("/org/freedesktop/portal/desktop/session/other/x"), QStringLiteral("shelf-A"));
        m_desktop->activate(m_desktop->session, QStringLiteral("shelf-A"));
        QTRY_COMPARE(pressed, (QList<uint32_t>{1000, 1001}));

        // Committing the same set binds nothing new; a changed set goes into a new session.
        portal.commit();
        QTest::qWait(50);
        QCOMPARE(m_desktop->sessionsCreated, 1);
        const QString firstSession = m_desktop->session;
        portal.unregisterHotkey(*shelf);
        portal.commit();
        QTRY_COMPARE(m_desktop->sessionsCreated, 2);
        QTRY_COMPARE(portal.state(), PortalHotkeyRegistrar::State::bound);
        QCOMPARE(m_desktop->closedSessions, (QStringList{firstSession}));
        QCOMPARE(m_desktop->bound.size(), 1);
        m_desktop->activate(firstSession, QStringLiteral("show-all"));
        m_desktop->activate(m_desktop->session, QStringLiteral("show-all"));
        QTRY_COMPARE(pressed.size(), 3);
    }

    void permissionFollowsApproval()
    {
        TuckFixture f;
        HotkeyManager hotkeys(*f.shelves, *f.settings, *f.tuck);
        int shown = 0;
        hotkeys.onShowApp = [&shown] { ++shown; };
        f.settings->setCustomShowAllCombo(ctrlAltD);

        // Declined: not granted; asking again binds again.
        m_desktop->bindResponse = 1;
        GlobalHotkeyManager global(*f.settings, hotkeys, {true, false}, client());
        QCOMPARE(global.mechanism(), GlobalHotkeyManager::Mechanism::portal);
        hotkeys.registerAll();
        QTRY_COMPARE(global.portal()->state(), PortalHotkeyRegistrar::State::refused);
        QVERIFY(!f.settings->inputMonitoringGranted());
        QVERIFY(global.unavailableReason().contains(QStringLiteral("did not allow")));

        m_desktop->bindResponse = 0;
        global.requestInputMonitoring();
        QTRY_VERIFY(f.settings->inputMonitoringGranted());
        QVERIFY(global.unavailableReason().isEmpty());
        m_desktop->activate(m_desktop->session, QStringLiteral("show-all"));
        QTRY_COMPARE(shown, 1);
    }

    void sleepWatcher()
    {
        SleepWatcher watcher(client());
        QVERIFY(watcher.isListening());
        QSignalSpy resumed(&watcher, &SleepWatcher::resumed);
        QSignalSpy sleeping(&watcher, &SleepWatcher::aboutToSleep);
        m_desktop->prepareForSleep(true);
        QVERIFY(sleeping.wait(5000));
        QCOMPARE(resumed.size(), 0);
        m_desktop->prepareForSleep(false);
        QVERIFY(resumed.wait(5000));
    }

    void platformChoice()
    {
        using DisplayPlatform::preferredPlatform;
        // Wayland with XWayland: X11, so that windows can be placed.
        QCOMPARE(preferredPlatform("", "wayland", "wayland-0", ":0"), QByteArray("xcb"));
        QCOMPARE(preferredPlatform("", "", "wayland-0", ":1"), QByteArray("xcb"));
        // The user's choice stands; no XWayland, or an X11 session: Qt's choice.
        QCOMPARE(preferredPlatform("wayland", "wayland", "wayland-0", ":0"), QByteArray());
        QCOMPARE(preferredPlatform("", "wayland", "wayland-0", ""), QByteArray());
        QCOMPARE(preferredPlatform("", "x11", "", ":0"), QByteArray());
        QVERIFY(DisplayPlatform::isWaylandSession("Wayland", ""));
        QVERIFY(!DisplayPlatform::isWaylandSession("tty", ""));
    }
};

QTEST_MAIN(TestDesktopSession)
#include "tst_desktop_session.moc"
