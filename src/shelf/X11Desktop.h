#pragma once

#include <QByteArray>

class QWindow;

// Small X11 facts the shelf windows need. Every function is harmless (returns the
// conservative answer or does nothing) on a non-X11 platform.
namespace X11Desktop {

// True when a compositing manager runs on the default screen (the _NET_WM_CM_S<n>
// selection has an owner): only then are translucent windows really translucent. The
// answer is kept for a second.
bool compositingManagerRunning();

// Sets WM_CLASS of `window` to (instance, "Perchbox").
void setWindowClass(QWindow *window, const QByteArray &instance);

} // namespace X11Desktop
