#include "input/tuck/TuckGeometry.h"

#include <algorithm>

namespace TuckGeometry {

int clampY(int y, int height, const QRect &visible)
{
    return std::max(visible.top(), std::min(y, visible.top() + visible.height() - height));
}

static int clampX(int x, int width, const QRect &visible)
{
    return std::max(visible.left(), std::min(x, visible.left() + visible.width() - width));
}

QRect clampInto(const QRect &frame, const QRect &visible)
{
    return QRect(QPoint(clampX(frame.x(), frame.width(), visible), clampY(frame.y(), frame.height(), visible)),
                 frame.size());
}

QRect stripFrame(const QRect &expanded, TuckEdge edge, const QRect &visible)
{
    const int x = edge == TuckEdge::left ? visible.left() : visible.left() + visible.width() - stripWidth;
    return QRect(x, clampY(expanded.y(), expanded.height(), visible), stripWidth, expanded.height());
}

QRect peekFrame(const QRect &expanded, TuckEdge edge, const QRect &visible)
{
    const int x = edge == TuckEdge::left ? visible.left() : visible.left() + visible.width() - expanded.width();
    return QRect(QPoint(x, clampY(expanded.y(), expanded.height(), visible)), expanded.size());
}

QRect pointerFrame(const QSize &size, const QPoint &pointer, const QRect &visible)
{
    int x = pointer.x() - size.width() / 2;
    int y = pointer.y() - size.height() / 2;
    x = std::max(visible.left() + pointerMargin,
                 std::min(x, visible.left() + visible.width() - size.width() - pointerMargin));
    y = std::max(visible.top() + pointerMargin,
                 std::min(y, visible.top() + visible.height() - size.height() - pointerMargin));
    return QRect(QPoint(x, y), size);
}

std::optional<qsizetype> screenAt(const QList<Screen> &screens, const QPoint &point)
{
    for (qsizetype i = 0; i < screens.size(); ++i)
        if (screens.at(i).geometry.contains(point))
            return i;
    return std::nullopt;
}

std::optional<qsizetype> screenOfFrame(const QList<Screen> &screens, const QRect &frame)
{
    if (screens.isEmpty())
        return std::nullopt;
    if (const auto at = screenAt(screens, frame.center()))
        return at;
    qsizetype best = 0;
    qint64 bestArea = -1;
    for (qsizetype i = 0; i < screens.size(); ++i) {
        const QRect overlap = screens.at(i).geometry.intersected(frame);
        const qint64 area = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = i;
        }
    }
    return best;
}

std::optional<qsizetype> chooseScreen(const QList<Screen> &screens, const std::optional<QString> &storedId,
                                      const std::optional<QString> &storedName, const QRect &windowFrame,
                                      TuckEdge edge)
{
    if (storedId && !storedId->isEmpty())
        for (qsizetype i = 0; i < screens.size(); ++i)
            if (screens.at(i).id == *storedId)
                return i;
    if (storedName && !storedName->isEmpty())
        for (qsizetype i = 0; i < screens.size(); ++i)
            if (screens.at(i).name == *storedName)
                return i;
    const QPoint edgePoint(edge == TuckEdge::left ? windowFrame.left() : windowFrame.right(),
                           windowFrame.center().y());
    if (const auto at = screenAt(screens, edgePoint))
        return at;
    return screenOfFrame(screens, windowFrame);
}

std::optional<TuckEdge> edgeNear(const QRect &frame, const QRect &visible)
{
    if (frame.left() <= visible.left() + edgeSnapDistance)
        return TuckEdge::left;
    if (frame.left() + frame.width() >= visible.left() + visible.width() - edgeSnapDistance)
        return TuckEdge::right;
    return std::nullopt;
}

} // namespace TuckGeometry
