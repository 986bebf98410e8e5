#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

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

} // namespace WindowPlacement
