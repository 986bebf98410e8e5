#pragma once

#include <QList>
#include <QStringList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

class ShelfManager;
struct ResolvedMediaFile;

// What the Convert launcher does with a finished job's outputs: with `createShelf` a new
// shelf "<source name> — Converted" (purple, "arrow.triangle.2.circlepath") receives them
// and is opened 0.3 s later through "Perchbox.openSpecificShelf"; with `clearSource` the
// converted items leave the source shelf (nothing is deleted from disk; pass only the items
// fullyConvertedItems() names). Main thread. Returns the new shelf's id (null when none was
// made).
QUuid applyConversionOutputs(ShelfManager &manager, const QUuid &sourceShelfId, const QString &sourceShelfName,
                             const QList<QUrl> &convertedItems, const QList<QUrl> &outputs, bool createShelf,
                             bool clearSource);

// The items of a selection that "Clear source shelf after conversion" may take off the
// shelf: those with at least one media file, every one of which produced an output. An
// item that failed, was skipped (no media in it) or was converted only in part stays.
QList<QUrl> fullyConvertedItems(const QList<QUrl> &items, const QList<ResolvedMediaFile> &media,
                                const QList<QUrl> &convertedSources);

// What to tell the user when a Convert run from the panel ends: the "Conversion Complete"
// notification's body when files were produced (with a line naming the items that stayed on
// the source shelf although clearing was on), and an alert when any file produced nothing,
// naming each with its reason ("Nothing Was Converted" when none did). A cancelled run
// without failures says nothing more; no other run ends without a word.
struct ConversionReport;
struct ConversionAnnouncement {
    std::optional<QString> notificationBody;
    std::optional<QString> alertTitle;
    QString alertText;
};
ConversionAnnouncement conversionAnnouncement(const ConversionReport &report, const QString &sourceShelfName,
                                              const QStringList &leftOnShelf);

// The end of a Convert run started from the panel: the outputs go where the settings say
// (createConvertedShelf; with clearShelfAfterConversion only the fully converted items leave
// the source shelf, and only when something was produced and the run was not cancelled),
// and the result is what to tell the user, naming the items that stayed on the shelf. With
// `manager` gone (null) only the announcement is made.
ConversionAnnouncement settleConversionRun(ShelfManager *manager, const QUuid &sourceShelfId,
                                           const QString &sourceShelfName, const QList<QUrl> &items,
                                           const QList<ResolvedMediaFile> &media, const ConversionReport &report);

// The standard purple of converted shelves.
struct ShelfColorData;
ShelfColorData convertedShelfColor();
inline const QString kConvertedShelfIcon = QStringLiteral("arrow.triangle.2.circlepath");
