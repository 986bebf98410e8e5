#pragma once

#include "model/Shelf.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

// The arithmetic of edge tucking and of flights to the pointer. Pure functions on Qt's
// global coordinates (origin top left, y downward); a frame is a window's outer rectangle.
namespace TuckGeometry {

// Width of the strip a tucked shelf shrinks to.
inline constexpr int stripWidth = 24;
// How far inside the visible screen area a shelf flown to the pointer is kept.
inline constexpr int pointerMargin = 4;
// Frame animations (ease in, ease out).
inline constexpr int animationMs = 280;
// A peeked shelf slides back this long after the pointer left it.
inline constexpr int retuckDelayMs = 600;
// A tucked shelf floated out by its hot key goes back after this (when not pinned).
inline constexpr int hotkeyFloatMs = 2000;
// A tucked shelf peeked by a hover in the tray panel goes back after this.
inline constexpr int highlightPeekMs = 1500;
// Files dropped on a shelf held at the pointer are acted on this long after the drop.
inline constexpr int dropSettleMs = 150;
// A header drag that ends with the shelf this close to a screen's side edge keeps it tucked
// there (on that edge); farther away the shelf floats freely.
inline constexpr int edgeSnapDistance = 48;

struct Screen {
    QString id;      // stable identifier (the output name, e.g. "HDMI-1")
    QString name;    // display name (maker and model)
    QRect geometry;  // the whole screen
    QRect available; // without panels and docks
};

// `y` moved into [visible top, visible bottom − height] (the top wins when the window is
// taller than the area).
int clampY(int y, int height, const QRect &visible);
// `frame` moved (not resized) so that it lies inside `visible` where it fits.
QRect clampInto(const QRect &frame, const QRect &visible);

// The strip of a tucked shelf whose full frame is `expanded`: 24 wide, as tall as the shelf,
// flush with the edge, at the shelf's height clamped into the visible area.
QRect stripFrame(const QRect &expanded, TuckEdge edge, const QRect &visible);
// The full-size frame of a peeked shelf: flush with the edge, at the same height as its strip.
QRect peekFrame(const QRect &expanded, TuckEdge edge, const QRect &visible);
// A window of `size` centred on `pointer`, kept 4 px inside `visible`.
QRect pointerFrame(const QSize &size, const QPoint &pointer, const QRect &visible);

// The screen a shelf is tucked on: the one with the stored identifier, else the one with the
// stored name, else the one that holds the window's requested edge, else the window's
// screen (the one holding its centre, else the one it overlaps most), else the first.
// Returns an index into `screens`, or nothing when there are none.
std::optional<qsizetype> chooseScreen(const QList<Screen> &screens, const std::optional<QString> &storedId,
                                      const std::optional<QString> &storedName, const QRect &windowFrame,
                                      TuckEdge edge);
// The screen whose geometry holds `point`, or nothing.
std::optional<qsizetype> screenAt(const QList<Screen> &screens, const QPoint &point);
// The window's screen: holding its centre, else the most overlapped, else the first.
std::optional<qsizetype> screenOfFrame(const QList<Screen> &screens, const QRect &frame);

// Where a header drag of a tucked shelf ended up: near the left or right edge of the
// screen holding the frame (within edgeSnapDistance), or nowhere near one.
std::optional<TuckEdge> edgeNear(const QRect &frame, const QRect &visible);

} // namespace TuckGeometry
