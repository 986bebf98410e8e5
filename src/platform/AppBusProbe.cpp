#include "platform/AppBus.h"

#include <dbus/dbus.h>

namespace AppBus {

bool instanceRunning()
{
    DBusError error;
    dbus_error_init(&error);
    // A private connection of our own: closed here, it leaves nothing behind for Qt's.
    DBusConnection *connection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!connection) {
        dbus_error_free(&error);
        return false;
    }
    dbus_connection_set_exit_on_disconnect(connection, false);
    const QByteArray name = serviceName.toUtf8();
    const bool owned = dbus_bus_name_has_owner(connection, name.constData(), &error);
    dbus_error_free(&error);
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return owned;
}

} // namespace AppBus
