#pragma once

#include <QString>

#include <functional>

// Desktop notification banners through the freedesktop.org notification service
// (org.freedesktop.Notifications.Notify on the session bus). The call is asynchronous and never
// blocks the caller; without a notification service nothing is shown.
namespace DesktopNotifications {

// Shows a banner with a title and a body. `iconName` is a freedesktop icon name or an absolute
// file path (empty: the program's icon). `done` (optional) is called on the calling thread with
// the notification id, or 0 when no notification service answered.
void notify(const QString &title, const QString &body, const QString &iconName = {},
            std::function<void(unsigned id)> done = {});

// A banner that ends a piece of work (a conversion): the program's icon and the desktop's
// "complete" sound.
void notifyCompletion(const QString &title, const QString &body);

} // namespace DesktopNotifications
