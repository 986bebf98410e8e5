#include "shelf/WindowPlacement.h"

#include <algorithm>

namespace WindowPlacement {

namespace {
std::optional<QPoint> g_pending;
bool g_center = false;
} // namespace

void setPendingPosition(const QPoint &globalPos) { g_pending = globalPos; }
void clearPendingPosition() { g_pending.reset(); }
std::optional<QPoint> pendingPosition() { return g_pending; }
void setCenterNextWindow(bool center) { g_center = center; }
bool centerNextWindow() { return g_center; }

Request takeRequest()
{
    Request r;
    if (g_pending) {
        r.kind = Request::Kind::nextToPoint;
        r.point = *g_pending;
        g_pending.reset();
        g_center = false;
    } else if (g_center) {
        r.kind = Request::Kind::centerOnMainScreen;
        g_center = false;
    }
    return r;
}

QPoint placeNextTo(const QPoint &p, const QSize &size, const QRect &v)
{
    const int w = size.width();
    const int h = size.height();
    const int vLeft = v.x();
    const int vTop = v.y();
    const int vRight = v.x() + v.width();   // exclusive edge
    const int vBottom = v.y() + v.height(); // exclusive edge

    int x = std::min(vRight - w - screenInset, p.x() - w / 2);
    x = std::max(vLeft + screenInset, x);

    int y = p.y() + pointerGap;                  // below the pointer
    if (y + h > vBottom - screenInset)           // would come too close to the bottom
        y = p.y() - pointerGap - h;              // above the pointer instead
    y = std::max(vTop + screenInset, y);
    return {x, y};
}

QPoint centeredIn(const QRect &v, const QSize &size)
{
    const int midX = v.x() + v.width() / 2;
    const int midY = v.y() + v.height() / 2;
    return {midX - size.width() / 2, midY - size.height() / 2};
}

QPoint dragPosition(const QPoint &pressGlobal, const QPoint &windowTopLeftAtPress,
                    const QPoint &currentGlobal)
{
    return windowTopLeftAtPress + (currentGlobal - pressGlobal);
}

} // namespace WindowPlacement
