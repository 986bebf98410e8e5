#pragma once

#include "model/Shelf.h"
#include "settings/SettingsEnums.h"

#include <QList>
#include <QPointF>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

// What happens when files are dragged out of a shelf: when a drag starts, what the
// receiver is offered, and what the shelf does when the drop completes. Pure decisions,
// no widgets; the shelf's list view wires them to a QDrag.
//
// A drag source on Linux cannot know when (or whether) a receiver's copy has finished, so
// Perchbox never deletes a dragged file: a move is the receiver's own (file managers move a
// file-URL drop themselves when the move action is offered and proposed). When the drop ends
// as a move, the entries leave the shelf; when it ends as a copy, they stay.
namespace DragOut {

// A press on a row starts a drag once the pointer has moved strictly more than 4 px; the
// stack handle starts strictly beyond 3 px.
inline constexpr double rowThreshold = 4.0;
inline constexpr double stackThreshold = 3.0;
bool beyondThreshold(const QPointF &press, const QPointF &now, double threshold);

// Icons of the dragged files fan out: item i is offset by 2 × min(i, 3) px in x and y.
int fanOffset(int index);

// A file of a running drag and the location handed to the receiver (its resolved URL).
struct CapturedDraggedFile {
    ShelfFile file;
    QUrl sourceURL;
};
QList<CapturedDraggedFile> capture(const QList<ShelfFile> &files);

// Operations (the receiver's view): none, copy, move.
enum class Operation { none, copy, move };

// The behaviour of one row drag, from the setting and the keys held as it starts. Window
// managers take Alt+drag to move windows, so the desktop's own convention rules: Ctrl forces a
// copy, Shift forces a move (each the flip of one default); Alt, where it reaches us, flips the
// setting. Ctrl wins over Shift.
DragMode requestedMode(DragMode setting, Qt::KeyboardModifiers modifiers);

// What a drag offers the receiver, and the action it proposes. A copy offers copy alone (a
// file manager given the choice moves within one file system); a move offers both and
// proposes move, so that a receiver that can only copy still can.
struct Offer {
    bool copy = false;
    bool move = false;
    Operation proposed = Operation::none;
};
Offer rowOffer(DragMode mode);
// The stack handle: copy, outside the program only (its drops inside are refused).
Offer stackOffer();
// An offer in the drag's terms: the actions it allows and the one it proposes.
Qt::DropActions dropActions(const Offer &offer);
Qt::DropAction proposedAction(const Offer &offer);

// The process-wide set of ids of shelf files that a shelf of this application received
// by a drop (inserted by the shelves' drop handlers, cleared at the end of every drag).
QSet<QUuid> &shelfDroppedFileIDs();
void noteDroppedOnShelf(const QList<QUuid> &ids);

// The result of a row drag that ended with operation `op`.
struct Completion {
    bool moveCompleted = false;        // the entries in `moved` leave the shelf
    QList<CapturedDraggedFile> moved;
    // A move the receiver made a copy of (outside the program): the entries stay, and the
    // user is told once.
    bool receiverCopied = false;
};
// Decides the end of a row drag in `mode` (as requestedMode gave it at the start):
//  - op none: nothing;
//  - op move: the captured files that were not dropped on one of our shelves leave the shelf
//    (the receiver moved them);
//  - op copy: nothing leaves; in move mode outside the program `receiverCopied` is set.
// Every captured id leaves shelfDroppedFileIDs. Nothing is ever deleted from disk.
Completion completeRowDrag(const QList<CapturedDraggedFile> &captured, DragMode mode, Operation op,
                           bool insideApplication);

// The end of a stack drag: the entries leave the shelf when a receiver outside the program
// took the drop and the setting is move. Source files are never deleted. The captured ids
// leave shelfDroppedFileIDs.
bool completeStackDrag(const QList<ShelfFile> &files, DragMode setting, Operation op, bool insideApplication);

// The notification for a move the receiver made a copy of: title and body.
QString receiverCopiedTitle();
QString receiverCopiedBody(const QList<QUrl> &sources);

} // namespace DragOut
