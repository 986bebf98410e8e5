#include "platform/DesktopNotifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace DesktopNotifications {

namespace {

void send(const QString &title, const QString &body, const QString &iconName, const QVariantMap &extraHints,
          std::function<void(unsigned id)> done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (done)
            done(0);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints = extraHints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("perchbox"));
    const QString appName = QCoreApplication::applicationName().isEmpty() ? QStringLiteral("Perchbox")
                                                                          : QCoreApplication::applicationName();
    message << appName << 0u << (iconName.isEmpty() ? QStringLiteral("perchbox") : iconName) << title << body
            << QStringList() << hints << -1;
    if (!done) {
        bus.asyncCall(message); // fire and forget: fine from any thread
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [done](QDBusPendingCallWatcher *w) {
        QDBusPendingReply<unsigned> reply = *w;
        done(reply.isError() ? 0u : reply.value());
        w->deleteLater();
    });
}

} // namespace

void notify(const QString &title, const QString &body, const QString &iconName,
            std::function<void(unsigned id)> done)
{
    send(title, body, iconName, {}, std::move(done));
}

void notifyCompletion(const QString &title, const QString &body)
{
    send(title, body, {}, {{QStringLiteral("sound-name"), QStringLiteral("complete")}}, {});
}

} // namespace DesktopNotifications
