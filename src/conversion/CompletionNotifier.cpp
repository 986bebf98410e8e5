#include "conversion/CompletionNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

namespace CompletionNotifier {

void post(const QString &title, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("complete")); // the default sound
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("perchbox"));
    call << QStringLiteral("Perchbox") // app_name
         << uint(0)                     // replaces_id: a new notification
         << QStringLiteral("perchbox")  // app_icon
         << title << body << QStringList() << hints
         << int(-1); // default timeout
    bus.asyncCall(call);
}

} // namespace CompletionNotifier
