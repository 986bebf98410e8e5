#include "conversion/ConvertedShelf.h"

#include "conversion/ConversionExporter.h"
#include "conversion/MediaModel.h"
#include "model/Shelf.h"
#include "model/ShelfManager.h"
#include "platform/FilePath.h"
#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"

#include <QFileInfo>
#include <QSet>
#include <QTimer>

ShelfColorData convertedShelfColor()
{
    return {175.0 / 255.0, 82.0 / 255.0, 222.0 / 255.0, 1.0};
}

ConversionAnnouncement conversionAnnouncement(const ConversionReport &report, const QString &sourceShelfName,
                                              const QStringList &leftOnShelf)
{
    ConversionAnnouncement a;
    const QString leftLine = leftOnShelf.isEmpty() ? QString()
                                                   : QStringLiteral("Not converted, so left on the shelf: ")
                                                         + leftOnShelf.join(QStringLiteral(", "));
    if (!report.outputs.isEmpty()) {
        QString body = ConversionExporter::notificationBody(int(report.outputs.size()), sourceShelfName);
        if (!leftLine.isEmpty())
            body += QLatin1Char('\n') + leftLine;
        a.notificationBody = body;
    }
    if (report.failures.isEmpty() && (report.cancelled || !report.outputs.isEmpty()))
        return a;
    a.alertTitle = report.outputs.isEmpty() ? QStringLiteral("Nothing Was Converted")
                                            : QStringLiteral("Some Files Could Not Be Converted");
    QStringList lines = report.failureLines();
    if (lines.isEmpty())
        lines << QStringLiteral("No file produced an output.");
    if (!leftLine.isEmpty())
        lines << QString() << leftLine;
    a.alertText = lines.join(QLatin1Char('\n'));
    return a;
}

QList<QUrl> fullyConvertedItems(const QList<QUrl> &items, const QList<ResolvedMediaFile> &media,
                                const QList<QUrl> &convertedSources)
{
    const QSet<QUrl> converted(convertedSources.begin(), convertedSources.end());
    QList<QUrl> out;
    for (const QUrl &item : items) {
        bool any = false;
        bool all = true;
        for (const ResolvedMediaFile &file : media) {
            if (file.sourceItem != item)
                continue;
            any = true;
            all = all && converted.contains(file.url);
        }
        if (any && all)
            out << item;
    }
    return out;
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

ConversionAnnouncement settleConversionRun(ShelfManager *manager, const QUuid &sourceShelfId,
                                           const QString &sourceShelfName, const QList<QUrl> &items,
                                           const QList<ResolvedMediaFile> &media, const ConversionReport &report)
{
    const AppSettings &s = AppSettings::instance();
    const QList<QUrl> cleared = fullyConvertedItems(items, media, report.convertedSources);
    QStringList left;
    if (s.clearShelfAfterConversion() && !report.outputs.isEmpty() && !report.cancelled)
        for (const QUrl &item : items)
            if (!cleared.contains(item))
                left << QFileInfo(FilePath::displayPath(item)).fileName();
    if (manager)
        applyConversionOutputs(*manager, sourceShelfId, sourceShelfName, cleared, report.outputs,
                               s.createConvertedShelf(), s.clearShelfAfterConversion());
    return conversionAnnouncement(report, sourceShelfName, left);
}
