#include "shelf/X11Desktop.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>

namespace X11Desktop {

static xcb_connection_t *connection(int *screen = nullptr)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11)
        return nullptr;
    if (screen) {
        // The default screen of the display named by DISPLAY (":0.1" → 1).
        *screen = 0;
        const QByteArray display = qgetenv("DISPLAY");
        const int dot = display.lastIndexOf('.');
        const int colon = display.lastIndexOf(':');
        if (dot > colon && colon >= 0)
            *screen = std::atoi(display.constData() + dot + 1);
    }
    return x11->connection();
}

bool compositingManagerRunning()
{
    // Asked by every shelf window as it is made: a restore of many shelves asks once, not
    // twice a window (each answer is a round trip to the display server).
    static xcb_connection_t *askedOf = nullptr;
    static xcb_atom_t selection = XCB_NONE;
    static std::chrono::steady_clock::time_point askedAt;
    static bool lastAnswer = false;
    int screen = 0;
    xcb_connection_t *c = connection(&screen);
    if (!c)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (c == askedOf && now - askedAt < std::chrono::seconds(1))
        return lastAnswer;
    if (c != askedOf) {
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr);
        if (!atom)
            return false;
        selection = atom->atom;
        std::free(atom);
        askedOf = c;
    }
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    lastAnswer = owner && owner->owner != XCB_NONE;
    std::free(owner);
    askedAt = now;
    return lastAnswer;
}

void setWindowClass(QWindow *window, const QByteArray &instance)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    const QByteArray value = instance + '\0' + QByteArray("Perchbox") + '\0';
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                        XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, uint32_t(value.size()),
                        value.constData());
    xcb_flush(c);
}

} // namespace X11Desktop
