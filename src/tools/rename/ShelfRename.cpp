#include "tools/rename/ShelfRename.h"

#include "model/Shelf.h"
#include "model/ShelfManager.h"

#include <QSet>

namespace ShelfRename {

QList<RenameFile> renameFiles(const ShelfManager &manager, const QUuid &shelfId,
                              const QList<QUuid> &fileIds)
{
    QList<RenameFile> out;
    const Shelf *shelf = manager.shelf(shelfId);
    if (!shelf)
        return out;
    const QSet<QUuid> wanted(fileIds.begin(), fileIds.end());
    for (const ShelfFile &file : shelf->files)
        if (wanted.isEmpty() || wanted.contains(file.id))
            out.append({file.id, file.resolvedURL(), file.bookmarkData});
    return out;
}

QStringList performRename(const RenamePlan &plan, ShelfManager &manager, const QUuid &shelfId)
{
    // Only the files still on the shelf take part.
    QList<RenameFile> files = renameFiles(manager, shelfId, {});
    const QList<RenameFile> before = files;
    const QStringList errors = RenameEngine::performRename(plan, files);

    QHash<QUuid, RenameFile> renamed;
    for (qsizetype i = 0; i < files.size(); ++i)
        if (files[i].url != before[i].url)
            renamed.insert(files[i].id, files[i]);
    if (!renamed.isEmpty()) {
        manager.updateShelf(shelfId, [&](Shelf &shelf) {
            for (ShelfFile &file : shelf.files) {
                const auto it = renamed.constFind(file.id);
                if (it == renamed.constEnd())
                    continue;
                file.url = it->url;
                file.bookmarkData = it->bookmarkData;
            }
        });
    }
    manager.saveShelves();
    return errors;
}

} // namespace ShelfRename
