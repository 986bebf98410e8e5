#pragma once

#include <QList>
#include <QRect>
#include <QString>

class QEvent;
class QObject;
class QWidget;

// Rules that every window of the program follows, applied in one place by an application-wide
// event filter (install() once, before the first window shows):
//
//  - Stacking. Shelves float above other programs, so every other window of ours — dialogs,
//    alerts, file choosers, tool windows, settings — floats too, is transient for its owner
//    (the shelf or panel it was opened from, else the window that was active, else the shelf
//    last used) and is raised above the shelves when it appears.
//  - Shelves. A dialog, or a window shown at a position of ours, that would cover a shelf
//    when it first appears moves to the nearest place on its screen where it covers none.
//  - Screen. A window or pop-up that appears, or grows while shown, is moved (and, when it
//    is larger than the screen, shrunk) into the available area of its screen.
//  - Keys. In windows that are not dialogs, Escape closes the window and Enter presses the
//    focused button, else the default one (dialogs do this themselves).
//  - Names. Controls without an accessible name get the one a sighted user reads beside them.
//  - Wheel. Combo boxes and spin boxes take the mouse wheel only when they have the keyboard
//    focus; otherwise the wheel scrolls whatever holds them.
//
// Shelf windows themselves are left alone: their placement and stacking are their own.
namespace WindowRules {

void install();
bool isInstalled();

// The frame `frame` moved — and shrunk where it does not fit — so that it lies inside
// `available`. A frame that already fits is returned unchanged.
QRect clampedInto(const QRect &frame, const QRect &available);

// Moves (and shrinks) a visible or about-to-show top-level widget into the available
// geometry of the screen it is on (the screen under its centre, else its owner's, else the
// primary screen), counting the window manager's frame.
void clampToScreen(QWidget *window);

// The window a new window of ours should stay with: the active window when it is ours, else
// the shelf window or panel used last, else null.
QWidget *currentOwner();
// Remembers a shelf window or the panel as the window last used (the rules also notice
// focus changes by themselves).
void noteOwnerUsed(QWidget *window);

// Moves a window of ours that a program change put over a shelf (a panel that re-centres
// itself once its content is known) to the nearest place where it covers none.
void keepClearOfShelves(QWidget *window);

// The frames of our visible windows that float above the shelves (dialogs, tool windows,
// settings, the tutorial, the panel window): a shelf that appears under one moves clear.
QList<QRect> floatingFrames();

// True when a top-level widget is one the stacking rules apply to.
bool isRuledWindow(const QWidget *window);

// Gives every control (button, field, box, list) of `root` that has no accessible name one
// from what a sighted user reads next to it: its form label or the label before it, its
// tool tip, its placeholder. Applied to every window of ours when it shows.
void nameControls(QWidget *root);
// What assistive technology hears as the control's name ("" when nothing).
QString accessibleNameOf(QWidget *control);
// The visible controls of `root` without a name.
QList<QWidget *> unnamedControls(QWidget *root);

// True when a wheel event sent to `receiver` must not change it (an unfocused combo or
// spin box, or a part of one) and should go to its parent instead.
bool wheelPassesThrough(const QObject *receiver);

} // namespace WindowRules
