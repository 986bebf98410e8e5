#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

class ShelfManager;

// What the Convert launcher does with a finished job's outputs: with `createShelf` a new
// shelf "<source name> — Converted" (purple, "arrow.triangle.2.circlepath") receives them
// and is opened 0.3 s later through "Perchbox.openSpecificShelf"; with `clearSource` the
// converted items leave the source shelf (nothing is deleted from disk). Main thread.
// Returns the new shelf's id (null when none was made).
QUuid applyConversionOutputs(ShelfManager &manager, const QUuid &sourceShelfId, const QString &sourceShelfName,
                             const QList<QUrl> &convertedItems, const QList<QUrl> &outputs, bool createShelf,
                             bool clearSource);

// The standard purple of converted shelves.
struct ShelfColorData;
ShelfColorData convertedShelfColor();
inline const QString kConvertedShelfIcon = QStringLiteral("arrow.triangle.2.circlepath");
