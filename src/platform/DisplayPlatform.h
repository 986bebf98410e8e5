#pragma once

#include <QByteArray>

// Which Qt platform the program runs on. Shelf windows must be placeable (tucked against an
// edge, flown to the pointer), which Wayland does not let a program do: on a Wayland session
// that has XWayland (DISPLAY is set) the program asks for the xcb platform, unless the user
// chose a platform with QT_QPA_PLATFORM.
namespace DisplayPlatform {

// True for a Wayland session: XDG_SESSION_TYPE says "wayland", or WAYLAND_DISPLAY is set.
bool isWaylandSession(const QByteArray &sessionType, const QByteArray &waylandDisplay);

// The platform to set in QT_QPA_PLATFORM from the environment's values, or empty to leave
// Qt's own choice.
QByteArray preferredPlatform(const QByteArray &qpaPlatform, const QByteArray &sessionType,
                             const QByteArray &waylandDisplay, const QByteArray &display);

// Sets QT_QPA_PLATFORM for this process as preferredPlatform() says. Call before the
// application object is made.
void apply();

} // namespace DisplayPlatform
