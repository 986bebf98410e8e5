#include "platform/DisplayPlatform.h"

#include <QtGlobal>

namespace DisplayPlatform {

bool isWaylandSession(const QByteArray &sessionType, const QByteArray &waylandDisplay)
{
    return sessionType.trimmed().toLower() == "wayland" || !waylandDisplay.isEmpty();
}

QByteArray preferredPlatform(const QByteArray &qpaPlatform, const QByteArray &sessionType,
                             const QByteArray &waylandDisplay, const QByteArray &display)
{
    if (!qpaPlatform.isEmpty() || display.isEmpty())
        return {};
    return isWaylandSession(sessionType, waylandDisplay) ? QByteArrayLiteral("xcb") : QByteArray();
}

void apply()
{
    const QByteArray platform = preferredPlatform(qgetenv("QT_QPA_PLATFORM"), qgetenv("XDG_SESSION_TYPE"),
                                                  qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}

} // namespace DisplayPlatform
