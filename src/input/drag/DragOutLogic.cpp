#include "input/drag/DragOutLogic.h"

#include "platform/FilePath.h"

#include <QFileInfo>

#include <cmath>

namespace DragOut {

bool beyondThreshold(const QPointF &press, const QPointF &now, double threshold)
{
    const double dx = now.x() - press.x();
    const double dy = now.y() - press.y();
    return std::sqrt(dx * dx + dy * dy) > threshold;
}

int fanOffset(int index)
{
    return 2 * std::min(std::max(index, 0), 3);
}

QList<CapturedDraggedFile> capture(const QList<ShelfFile> &files)
{
    QList<CapturedDraggedFile> out;
    out.reserve(files.size());
    for (const ShelfFile &f : files)
        out.append({f, f.resolvedURL()});
    return out;
}

DragMode requestedMode(DragMode setting, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::ControlModifier)
        return DragMode::copy;
    if (modifiers & Qt::ShiftModifier)
        return DragMode::move;
    if (modifiers & Qt::AltModifier)
        return setting == DragMode::move ? DragMode::copy : DragMode::move;
    return setting;
}

Offer rowOffer(DragMode mode)
{
    if (mode == DragMode::move)
        return {true, true, Operation::move};
    return {true, false, Operation::copy};
}

Offer stackOffer()
{
    return {true, false, Operation::copy};
}

Qt::DropActions dropActions(const Offer &offer)
{
    Qt::DropActions actions;
    if (offer.copy)
        actions |= Qt::CopyAction;
    if (offer.move)
        actions |= Qt::MoveAction;
    return actions;
}

Qt::DropAction proposedAction(const Offer &offer)
{
    switch (offer.proposed) {
    case Operation::move: return Qt::MoveAction;
    case Operation::copy: return Qt::CopyAction;
    case Operation::none: break;
    }
    return Qt::IgnoreAction;
}

QSet<QUuid> &shelfDroppedFileIDs()
{
    static QSet<QUuid> ids;
    return ids;
}

void noteDroppedOnShelf(const QList<QUuid> &ids)
{
    for (const QUuid &id : ids)
        shelfDroppedFileIDs().insert(id);
}

Completion completeRowDrag(const QList<CapturedDraggedFile> &captured, DragMode mode, Operation op,
                           bool insideApplication)
{
    Completion c;
    QSet<QUuid> &dropped = shelfDroppedFileIDs();
    if (op == Operation::move) {
        for (const CapturedDraggedFile &f : captured)
            if (!dropped.contains(f.file.id))
                c.moved.append(f);
        c.moveCompleted = !c.moved.isEmpty();
    } else if (op == Operation::copy) {
        c.receiverCopied = mode == DragMode::move && !insideApplication;
    }
    for (const CapturedDraggedFile &f : captured)
        dropped.remove(f.file.id);
    return c;
}

bool completeStackDrag(const QList<ShelfFile> &files, DragMode setting, Operation op, bool insideApplication)
{
    for (const ShelfFile &f : files)
        shelfDroppedFileIDs().remove(f.id);
    return op != Operation::none && !insideApplication && !files.isEmpty() && setting == DragMode::move;
}

QString receiverCopiedTitle()
{
    return QStringLiteral("Copied, Not Moved");
}

QString receiverCopiedBody(const QList<QUrl> &sources)
{
    if (sources.size() == 1) {
        const QString name = QFileInfo(FilePath::displayPath(sources.first())).fileName();
        return QStringLiteral("The program you dropped \u201C%1\u201D on copied it instead of moving it. "
                              "It stays on the shelf and in its folder.")
            .arg(name);
    }
    return QStringLiteral("The program you dropped %1 files on copied them instead of moving them. "
                          "They stay on the shelf and in their folders.")
        .arg(sources.size());
}

} // namespace DragOut
