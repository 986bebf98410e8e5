#include "tools/favorites/FavoriteRules.h"

#include "tools/presets/PresetStore.h"

#include <functional>

namespace FavoriteRules {

QString toolDisplayName(ShelfFavoriteToolKind tool)
{
    switch (tool) {
    case ShelfFavoriteToolKind::archive: return QStringLiteral("Zip");
    case ShelfFavoriteToolKind::rename: return QStringLiteral("Rename");
    case ShelfFavoriteToolKind::flatten: return QStringLiteral("Flatten");
    case ShelfFavoriteToolKind::convert: return QStringLiteral("Convert");
    }
    return {};
}

QString missingPresetMessage(ShelfFavoriteToolKind tool)
{
    return QStringLiteral("The saved %1 preset could not be found.").arg(toolDisplayName(tool));
}

QString failureTitle(ShelfFavoriteToolKind tool)
{
    if (tool == ShelfFavoriteToolKind::archive)
        return QStringLiteral("Export Failed");
    return QStringLiteral("%1 Favorite Failed").arg(toolDisplayName(tool));
}

QString toolSymbol(ShelfFavoriteToolKind tool)
{
    switch (tool) {
    case ShelfFavoriteToolKind::archive: return QStringLiteral("archivebox");
    case ShelfFavoriteToolKind::rename: return QStringLiteral("tag");
    case ShelfFavoriteToolKind::flatten: return QStringLiteral("folder");
    case ShelfFavoriteToolKind::convert: return QStringLiteral("arrow.triangle.2.circlepath");
    }
    return {};
}

QString label(const ShelfFavoriteAction &favorite)
{
    if (favorite.customLabel && !favorite.customLabel->isEmpty())
        return *favorite.customLabel;
    return favorite.presetName;
}

QString buttonText(const ShelfFavoriteAction &favorite, bool presetMissing)
{
    return presetMissing ? label(favorite) + QStringLiteral(" (Missing Preset)") : label(favorite);
}

bool presetExists(const PresetStore &store, const ShelfFavoriteAction &favorite)
{
    switch (favorite.tool) {
    case ShelfFavoriteToolKind::archive: return store.archivePreset(favorite.presetID).has_value();
    case ShelfFavoriteToolKind::rename: return store.renamePreset(favorite.presetID).has_value();
    case ShelfFavoriteToolKind::flatten: return store.flattenPreset(favorite.presetID).has_value();
    case ShelfFavoriteToolKind::convert: return store.conversionPreset(favorite.presetID).has_value();
    }
    return false;
}

QList<ShelfFavoriteToolKind> pinMenuOrder()
{
    return {ShelfFavoriteToolKind::archive, ShelfFavoriteToolKind::rename, ShelfFavoriteToolKind::convert,
            ShelfFavoriteToolKind::flatten};
}

QString pinMenuTitle(ShelfFavoriteToolKind tool)
{
    return QStringLiteral("Pin %1 Favorite").arg(toolDisplayName(tool));
}

QString noPresetsText(ShelfFavoriteToolKind tool)
{
    switch (tool) {
    case ShelfFavoriteToolKind::archive: return QStringLiteral("No zip presets yet");
    case ShelfFavoriteToolKind::rename: return QStringLiteral("No rename presets yet");
    case ShelfFavoriteToolKind::flatten: return QStringLiteral("No flatten presets yet");
    case ShelfFavoriteToolKind::convert: return QStringLiteral("No conversion presets yet");
    }
    return {};
}

namespace {
template <typename P>
QList<PresetChoice> choices(const QList<P> &presets)
{
    QList<PresetChoice> out;
    out.reserve(presets.size());
    for (const P &p : presets)
        out.append({p.id, p.name});
    return out;
}
} // namespace

QList<PresetChoice> presetChoices(const PresetStore &store, ShelfFavoriteToolKind tool)
{
    switch (tool) {
    case ShelfFavoriteToolKind::archive: return choices(store.archivePresets());
    case ShelfFavoriteToolKind::rename: return choices(store.renamePresets());
    case ShelfFavoriteToolKind::flatten: return choices(store.flattenPresets());
    case ShelfFavoriteToolKind::convert: return choices(store.conversionPresets());
    }
    return {};
}

ShelfFavoriteAction pinned(ShelfFavoriteToolKind tool, const QUuid &presetId, const QString &presetName)
{
    ShelfFavoriteAction favorite;
    favorite.id = QUuid::createUuid();
    favorite.tool = tool;
    favorite.presetID = presetId;
    favorite.presetName = presetName;
    favorite.scope = ShelfFavoriteScope::selectionOrAll;
    favorite.destinationMode = defaultDestinationMode(tool);
    return favorite;
}

QList<ShelfFile> filesForClick(ShelfFavoriteScope scope, const QList<ShelfFile> &shelfFiles,
                               const QSet<QUuid> &selected)
{
    if (scope == ShelfFavoriteScope::selectionOrAll && !selected.isEmpty()) {
        QList<ShelfFile> out;
        for (const ShelfFile &file : shelfFiles)
            if (selected.contains(file.id))
                out.append(file);
        if (!out.isEmpty())
            return out;
    }
    return shelfFiles;
}

QString compactStatus(const QString &runningLabel, int queued)
{
    QString text = QStringLiteral("Running: ") + runningLabel;
    if (queued > 0)
        text += QStringLiteral(" · %1 more queued").arg(queued);
    return text;
}

std::optional<qsizetype> findFavorite(const QList<ShelfFavoriteAction> &favorites, const QString &query,
                                      QString *error)
{
    const auto fail = [error](const QString &text) -> std::optional<qsizetype> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    if (favorites.isEmpty())
        return fail(QStringLiteral("the shelf has no favorites"));
    // By name as on the button, then by preset name; exact first, then ignoring case.
    const QList<std::function<QString(const ShelfFavoriteAction &)>> names{
        [](const ShelfFavoriteAction &f) { return label(f); },
        [](const ShelfFavoriteAction &f) { return f.presetName; },
    };
    for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
        for (const auto &nameOf : names) {
            QList<qsizetype> hits;
            for (qsizetype i = 0; i < favorites.size(); ++i)
                if (nameOf(favorites[i]).compare(query, cs) == 0)
                    hits.append(i);
            if (hits.size() == 1)
                return hits.first();
            if (hits.size() > 1)
                return fail(QStringLiteral("%1 favorites are called \"%2\"; name it by its position (1 to %3)")
                                .arg(hits.size())
                                .arg(query)
                                .arg(favorites.size()));
        }
    }
    bool isNumber = false;
    const int position = query.toInt(&isNumber);
    if (isNumber && position >= 1 && position <= favorites.size())
        return qsizetype(position - 1);
    QStringList known;
    for (const ShelfFavoriteAction &f : favorites)
        known << QLatin1Char('"') + label(f) + QLatin1Char('"');
    return fail(QStringLiteral("no favorite \"%1\" on the shelf (it has %2)").arg(query, known.join(QStringLiteral(", "))));
}

} // namespace FavoriteRules
