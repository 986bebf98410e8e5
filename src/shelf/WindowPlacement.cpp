#include "shelf/WindowPlacement.h"

#include <algorithm>
#include <cstdlib>

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

std::optional<QPoint> restoredPosition(const QPoint &topLeft, const QString &screenName, const QSize &size,
                                       const QList<Screen> &screens)
{
    if (screens.isEmpty())
        return std::nullopt;
    const Screen *screen = nullptr;
    for (const Screen &s : screens)
        if (!screenName.isEmpty() && s.name == screenName)
            screen = &s;
    const QPoint centre = topLeft + QPoint(size.width() / 2, size.height() / 2);
    for (const Screen &s : screens)
        if (!screen && s.available.contains(centre))
            screen = &s;
    for (const Screen &s : screens)
        if (!screen && s.primary)
            screen = &s;
    if (!screen)
        screen = &screens.first();
    const QRect v = screen->available;
    const int x = std::clamp(topLeft.x(), v.left(), std::max(v.left(), v.left() + v.width() - size.width()));
    const int y = std::clamp(topLeft.y(), v.top(), std::max(v.top(), v.top() + v.height() - size.height()));
    return QPoint(x, y);
}

QPoint centredCascade(const QRect &area, const QSize &size, int index, int step, int steps)
{
    steps = std::max(steps, 2);
    index = ((index % steps) + steps) % steps; // the run starts again after `steps`
    const QPoint centred = centeredIn(area, size);
    // Along one axis: where the run starts and how far each step goes.
    const auto axis = [&](int wanted, int low, int span, int extent) {
        const int room = std::max(0, span - extent);
        const int stride = std::min(step, room / (steps - 1));
        const int first = std::clamp(wanted, low, low + room - stride * (steps - 1));
        return first + stride * index;
    };
    return {axis(centred.x(), area.left(), area.width(), size.width()),
            axis(centred.y(), area.top(), area.height(), size.height())};
}

namespace {

// Whether a window at `p` would lie (within a few pixels) exactly on one of `taken`.
bool occupiedAt(const QList<QPoint> &taken, const QPoint &p)
{
    constexpr int near = 3;
    for (const QPoint &t : taken)
        if (std::abs(t.x() - p.x()) <= near && std::abs(t.y() - p.y()) <= near)
            return true;
    return false;
}

} // namespace

QPoint cascaded(const QPoint &wanted, const QList<QPoint> &taken, int step, const QSize &size, const QRect &area)
{
    step = std::max(step, 8);
    QPoint at = wanted;
    for (int tries = 0; tries <= taken.size() && occupiedAt(taken, at); ++tries) {
        at += QPoint(step, step);
        if (!area.isEmpty()
            && (at.x() + size.width() > area.left() + area.width() || at.y() + size.height() > area.top() + area.height()))
            at = area.topLeft() + QPoint(screenInset, screenInset) + QPoint(step, 0) * (tries % 4);
    }
    return at;
}

QPoint clearOf(const QRect &frame, const QList<QRect> &obstacles, const QRect &area, int gap)
{
    const QPoint start = frame.topLeft();
    if (obstacles.isEmpty() || obstacles.size() > maxClearObstacles)
        return start;
    const int w = frame.width();
    const int h = frame.height();
    // Candidate edges: where the frame is, and flush beside each obstacle on every side.
    QList<int> xs{start.x()};
    QList<int> ys{start.y()};
    for (const QRect &o : obstacles) {
        xs << o.left() + o.width() + gap << o.left() - gap - w;
        ys << o.top() + o.height() + gap << o.top() - gap - h;
    }
    const auto inside = [&](QPoint p) {
        if (area.isEmpty())
            return p;
        p.setX(std::clamp(p.x(), area.left(), std::max(area.left(), area.left() + area.width() - w)));
        p.setY(std::clamp(p.y(), area.top(), std::max(area.top(), area.top() + area.height() - h)));
        return p;
    };
    const auto covered = [&](const QPoint &p) {
        const QRect r(p, frame.size());
        qint64 sum = 0;
        for (const QRect &o : obstacles) {
            const QRect cut = r.intersected(o);
            if (!cut.isEmpty())
                sum += qint64(cut.width()) * cut.height();
        }
        return sum;
    };
    const auto distance = [&](const QPoint &p) {
        const qint64 dx = p.x() - start.x();
        const qint64 dy = p.y() - start.y();
        return dx * dx + dy * dy;
    };
    QPoint best = inside(start);
    qint64 bestCovered = covered(best);
    qint64 bestDistance = distance(best);
    for (int x : std::as_const(xs)) {
        for (int y : std::as_const(ys)) {
            const QPoint p = inside(QPoint(x, y));
            const qint64 c = covered(p);
            const qint64 d = distance(p);
            if (c < bestCovered || (c == bestCovered && d < bestDistance)) {
                best = p;
                bestCovered = c;
                bestDistance = d;
            }
        }
    }
    return best;
}

QPoint clearOfAndApart(const QRect &frame, const QList<QRect> &floating, const QList<QPoint> &taken, int step,
                       const QRect &area, int gap)
{
    const QPoint clear = clearOf(frame, floating, area, gap);
    if (!occupiedAt(taken, clear))
        return clear;
    step = std::max(step, 8);
    const QSize size = frame.size();
    const auto fits = [&](const QPoint &p) {
        if (!area.isEmpty() && !area.contains(QRect(p, size)))
            return false;
        const QRect r(p, size);
        for (const QRect &f : floating)
            if (r.intersects(f))
                return false;
        return !occupiedAt(taken, p);
    };
    static constexpr QPoint directions[] = {{1, 1}, {-1, -1}, {0, 1}, {0, -1}, {1, 0}, {-1, 0}};
    const int reach = std::min<int>(int(taken.size()) + 1, 64);
    for (int k = 1; k <= reach; ++k)
        for (const QPoint &d : directions)
            if (const QPoint p = clear + d * (k * step); fits(p))
                return p;
    return cascaded(clear, taken, step, size, area);
}

} // namespace WindowPlacement
