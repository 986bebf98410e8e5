#pragma once

#include <QPoint>
#include <QRect>
#include <QList>
#include <QSize>
#include <QString>

#include <optional>

// Where a shelf window goes when it appears.
//
// Two process-wide, one-shot requests are read and cleared by the next shelf window that
// appears: a pending position (the pointer position when "show all" was pressed, or the
// point a shelf was asked to open at) and "center next window" (a new shelf made from the
// tray panel or the new-shelf hot key).
//
// All coordinates are Qt's global screen coordinates (origin top left, y downward); a
// window position is its top-left corner.
namespace WindowPlacement {

// The inset kept between a window and the edges of the visible screen area.
inline constexpr int screenInset = 4;
// The gap between the pointer and the window placed next to it.
inline constexpr int pointerGap = 8;

// --- process-wide requests -------------------------------------------------------------
void setPendingPosition(const QPoint &globalPos);
void clearPendingPosition();
std::optional<QPoint> pendingPosition();
void setCenterNextWindow(bool center);
bool centerNextWindow();

// What the next window should do, consuming the requests:
//  - a pending position: it is taken and cleared, and "center next window" is cleared too;
//  - else "center next window": it is cleared;
//  - else nothing (the window keeps the position the window manager gives it).
struct Request {
    enum class Kind { keepPosition, nextToPoint, centerOnMainScreen };
    Kind kind = Kind::keepPosition;
    QPoint point; // for nextToPoint
};
Request takeRequest();

// --- pure arithmetic --------------------------------------------------------------------
// Top-left position for a window of `size` placed next to `pointer` inside `visible`
// (the screen's available geometry): centered horizontally on the pointer and kept 4 px
// inside; below the pointer with an 8 px gap, or above it with the same gap when it would
// reach within 4 px of the bottom; then kept 4 px below the top of the visible area.
QPoint placeNextTo(const QPoint &pointer, const QSize &size, const QRect &visible);

// Top-left position that centers a window of `size` in `visible`.
QPoint centeredIn(const QRect &visible, const QSize &size);

// Moving by the grip: the window's top-left follows the pointer's movement since the
// press, so the top edge stays under the pointer whatever the height does meanwhile.
QPoint dragPosition(const QPoint &pressGlobal, const QPoint &windowTopLeftAtPress,
                    const QPoint &currentGlobal);

// A screen as placement sees it: its name, its available area, whether it is the primary.
struct Screen {
    QString name;
    QRect available;
    bool primary = false;
};

// Where a window of `size` that was last at `topLeft` on the screen named `screenName`
// goes back to: on that screen when it still exists, else on the screen holding the point,
// else on the primary (else the first) screen — moved inside that screen's available area
// by as little as needed. Nothing when there is no screen.
std::optional<QPoint> restoredPosition(const QPoint &topLeft, const QString &screenName, const QSize &size,
                                       const QList<Screen> &screens);

// The `index`-th (from 0; after `steps` the run starts again) place of a window of `size`
// that nothing else placed: centred in `area`, each further one `step` lower and to the
// right. The whole run fits in `area`: a window too tall (or wide) for it starts higher
// (further left), and where even that leaves no room the steps shrink, so the last ones are
// not pressed against the edge one on top of the other.
QPoint centredCascade(const QRect &area, const QSize &size, int index, int step = 24, int steps = 10);

// A new window at `wanted` must not hide a window exactly behind it: while one of `taken`
// (top-left corners of the other windows) lies within a few pixels of the position, the
// position moves down and right by `step`. Kept inside `area` when that is not empty (the
// cascade starts again at the area's top-left corner when it would leave it).
QPoint cascaded(const QPoint &wanted, const QList<QPoint> &taken, int step, const QSize &size, const QRect &area);

// Where a window with the frame `frame` goes so that it covers none of `obstacles` (the
// frames of shelves, which our other windows float above): the position nearest to where
// it is, inside `area` (when that is not empty), with `gap` pixels kept from every
// obstacle it is moved past. Where no such place exists, the one covering the least of
// them (nearest first). With more than `maxObstacles` obstacles the screen is full of them
// and the frame stays where it is.
inline constexpr int maxClearObstacles = 48;
QPoint clearOf(const QRect &frame, const QList<QRect> &obstacles, const QRect &area, int gap);

// `clearOf` the floating frames, and not exactly on another shelf either: when the clear
// place found lies on one of `taken` (two shelves moved out from under the same dialog
// would otherwise stack exactly), it moves on by `step` — down and right, up and left,
// then along one axis — to the nearest place that covers no floating frame, stays in
// `area` and is not taken. Where there is none, the plain cascade from the clear place.
QPoint clearOfAndApart(const QRect &frame, const QList<QRect> &floating, const QList<QPoint> &taken, int step,
                       const QRect &area, int gap);

} // namespace WindowPlacement
