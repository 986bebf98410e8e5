#include "conversion/ConvertedShelf.h"

#include "conversion/ConversionExporter.h"
#include "model/Shelf.h"
#include "model/ShelfManager.h"
#include "platform/NotificationCenter.h"

#include <QSet>
#include <QTimer>

ShelfColorData convertedShelfColor()
{
    return {175.0 / 255.0, 82.0 / 255.0, 222.0 / 255.0, 1.0};
}

QUuid applyConversionOutputs(ShelfManager &manager, const QUuid &sourceShelfId, const QString &sourceShelfName,
                             const QList<QUrl> &convertedItems, const QList<QUrl> &outputs, bool createShelf,
                             bool clearSource)
{
    if (outputs.isEmpty())
        return {};
    QUuid newId;
    if (createShelf) {
        Shelf shelf = Shelf::make(sourceShelfName + kConvertedShelfSuffix, convertedShelfColor(), kConvertedShelfIcon);
        newId = shelf.id;
        manager.appendShelf(shelf);
        manager.addFiles(outputs, newId);
        QTimer::singleShot(300, &manager, [newId] {
            NotificationCenter::instance().post(Notifications::openSpecificShelf,
                                                {{Notifications::idKey, uuidString(newId)}});
        });
    }
    if (clearSource) {
        const QSet<QUrl> items(convertedItems.begin(), convertedItems.end());
        if (const Shelf *source = manager.shelf(sourceShelfId)) {
            QSet<QUuid> remove;
            for (const ShelfFile &file : source->files) {
                const QUrl at = file.resolvedURL();
                if (items.contains(at) || items.contains(file.url))
                    remove.insert(file.id);
            }
            if (!remove.isEmpty())
                manager.removeFiles(sourceShelfId, remove, false);
        }
    }
    return newId;
}
