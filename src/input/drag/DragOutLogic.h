#pragma once

#include "model/Shelf.h"
#include "settings/SettingsEnums.h"

#include <QList>
#include <QPointF>
#include <QSet>
#include <QUrl>
#include <QUuid>

// What happens when files are dragged out of a shelf: when a drag starts, what the
// receiver is offered, and what the shelf does when the drop completes. Pure decisions,
// no widgets; the shelf's list view wires them to a QDrag.
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

// What a row drag offers outside the application: copy and move when the captured mode
// is move, copy only otherwise. Inside the application nothing is offered (shelves take
// drops through their own drop handler, which adds the files instead).
struct Offer {
    bool copy = false;
    bool move = false;
};
Offer rowOffer(DragMode capturedMode, bool insideApplication);
Offer stackOffer(bool insideApplication);

// The behaviour of a completed row drag: move when exactly one of "captured mode is move"
// and "Alt held at the drop" is true, else copy.
DragMode effectiveMode(DragMode capturedMode, bool altHeld);

// The process-wide set of ids of shelf files that a shelf of this application received
// by a drop (inserted by the shelves' drop handlers, read and cleared at drag end).
QSet<QUuid> &shelfDroppedFileIDs();
void noteDroppedOnShelf(const QList<QUuid> &ids);

// The result of a row drag that ended with operation `op`.
struct Completion {
    bool moveCompleted = false;                // call onMoveCompleted with `moved`
    QList<CapturedDraggedFile> moved;           // entries that leave the shelf
    QList<QUrl> deleteAfterDelay;               // sources to delete one second later
};
// Decides and applies the end of a row drag:
//  - op none, or effective mode copy: nothing (onDragEnded);
//  - move: the captured files that were not dropped on one of our shelves leave the
//    shelf; every captured id leaves shelfDroppedFileIDs; when the receiver copied
//    (op != move), their source files are deleted one second later.
Completion completeRowDrag(const QList<CapturedDraggedFile> &captured, DragMode capturedMode,
                           Operation op, bool altHeld);

// The end of a stack drag: the files leave the shelf when the drop did something and the
// mode is move; source files are never deleted by the stack handle.
bool stackDragRemovesFiles(Operation op, DragMode mode, int fileCount);

// The delay before copy-as-move deletes the sources.
inline constexpr int copyAsMoveDelayMs = 1000;
// Deletes the files (and folders, recursively) on a background thread after the delay;
// errors are ignored. Works on raw path bytes.
void deleteSourcesLater(const QList<QUrl> &urls, int delayMs = copyAsMoveDelayMs);
// The deletion itself, synchronous (what deleteSourcesLater runs in the background).
void deleteSourcesNow(const QList<QUrl> &urls);

} // namespace DragOut
