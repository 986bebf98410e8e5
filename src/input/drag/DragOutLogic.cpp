#include "input/drag/DragOutLogic.h"

#include "platform/FilePath.h"

#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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

Offer rowOffer(DragMode capturedMode, bool insideApplication)
{
    if (insideApplication)
        return {};
    return {true, capturedMode == DragMode::move};
}

Offer stackOffer(bool insideApplication)
{
    if (insideApplication)
        return {};
    return {true, false};
}

DragMode effectiveMode(DragMode capturedMode, bool altHeld)
{
    return ((capturedMode == DragMode::move) != altHeld) ? DragMode::move : DragMode::copy;
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

Completion completeRowDrag(const QList<CapturedDraggedFile> &captured, DragMode capturedMode,
                           Operation op, bool altHeld)
{
    Completion c;
    if (op == Operation::none || effectiveMode(capturedMode, altHeld) == DragMode::copy)
        return c;
    QSet<QUuid> &dropped = shelfDroppedFileIDs();
    for (const CapturedDraggedFile &f : captured)
        if (!dropped.contains(f.file.id))
            c.moved.append(f);
    for (const CapturedDraggedFile &f : captured)
        dropped.remove(f.file.id);
    if (c.moved.isEmpty())
        return c;
    if (op != Operation::move)
        for (const CapturedDraggedFile &f : c.moved)
            c.deleteAfterDelay.append(f.sourceURL);
    c.moveCompleted = true;
    return c;
}

bool stackDragRemovesFiles(Operation op, DragMode mode, int fileCount)
{
    return op != Operation::none && fileCount > 0 && mode == DragMode::move;
}

static void removeTree(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR *d = ::opendir(path.constData())) {
            while (dirent *e = ::readdir(d)) {
                if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
                    continue;
                removeTree(path + '/' + QByteArray(e->d_name));
            }
            ::closedir(d);
        }
        ::rmdir(path.constData());
    } else {
        ::unlink(path.constData());
    }
}

void deleteSourcesNow(const QList<QUrl> &urls)
{
    for (const QUrl &u : urls) {
        const QByteArray p = FilePath::bytes(u);
        if (!p.isEmpty() && p != "/")
            removeTree(p);
    }
}

void deleteSourcesLater(const QList<QUrl> &urls, int delayMs)
{
    if (urls.isEmpty())
        return;
    QTimer::singleShot(delayMs, [urls] {
        (void)QtConcurrent::run(QThreadPool::globalInstance(), [urls] { deleteSourcesNow(urls); });
    });
}

} // namespace DragOut
