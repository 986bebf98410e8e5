#pragma once

#include "tools/rename/RenameEngine.h"

class ShelfManager;

// Batch Rename on a shelf: the bridge between the rename engine and the shelf manager.
namespace ShelfRename {

// The shelf's files with the given ids, in shelf order, as rename inputs (each at its
// resolved location). Empty `fileIds`: every file of the shelf.
QList<RenameFile> renameFiles(const ShelfManager &manager, const QUuid &shelfId,
                              const QList<QUuid> &fileIds);

// Applies a plan to the shelf's files on disk. Entries whose file left the shelf are
// skipped; each renamed entry gets its new url and a new bookmark (and keeps its id); the
// shelves are saved. Returns the error lines ("old name: reason"); presenting them is the
// caller's business (the window shows "Some files could not be renamed", a favorite run
// reports by itself).
QStringList performRename(const RenamePlan &plan, ShelfManager &manager, const QUuid &shelfId);

} // namespace ShelfRename
