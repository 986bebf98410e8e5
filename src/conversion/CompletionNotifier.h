#pragma once

#include <QString>

// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications Notify on the session bus). Fire and forget: the call is
// asynchronous and a missing service is ignored.
namespace CompletionNotifier {

void post(const QString &title, const QString &body);

} // namespace CompletionNotifier
