#pragma once

#include "tools/presets/Presets.h"

#include <QObject>

class SettingsStore;

// The application's saved presets: four ordered lists, one per tool, each kept as JSON
// text in a data value of the settings store under its versioned key. Every change writes
// all four lists back at once and emits the list's change signal and presetsChanged().
//
// Names are unique within a list (saving under an existing name replaces that preset in
// place and keeps its id); there are no built-in presets. Main thread only.
class PresetStore : public QObject
{
    Q_OBJECT
public:
    static inline const QString archiveKey = QStringLiteral("pbx.archivePresets.v1");
    static inline const QString convKey = QStringLiteral("pbx.conversionPresets.v1");
    static inline const QString flattenKey = QStringLiteral("pbx.flattenPresets.v1");
    static inline const QString renameKey = QStringLiteral("pbx.renamePresets.v1");

    // The shared store on SettingsStore::shared(), created and loaded on first use.
    static PresetStore &shared();

    // A store on `settings` (tests use their own); loads at once.
    explicit PresetStore(SettingsStore &settings, QObject *parent = nullptr);

    const QList<ArchivePreset> &archivePresets() const { return m_archive; }
    const QList<ConversionPreset> &conversionPresets() const { return m_conversion; }
    const QList<FlattenPreset> &flattenPresets() const { return m_flatten; }
    const QList<RenamePreset> &renamePresets() const { return m_rename; }

    // Upsert by name (exact, case-sensitive): an existing preset of that name is replaced in
    // place and its id kept; otherwise the preset is appended.
    void saveArchive(ArchivePreset preset);
    void saveConversion(ConversionPreset preset);
    void saveFlatten(FlattenPreset preset);
    void saveRename(RenamePreset preset);

    // Removes every preset of the list with that id.
    void deleteArchive(const QUuid &id);
    void deleteConversion(const QUuid &id);
    void deleteFlatten(const QUuid &id);
    void deleteRename(const QUuid &id);

    // Lookup for favorites: the first preset with that id.
    std::optional<ArchivePreset> archivePreset(const QUuid &id) const;
    std::optional<ConversionPreset> conversionPreset(const QUuid &id) const;
    std::optional<FlattenPreset> flattenPreset(const QUuid &id) const;
    std::optional<RenamePreset> renamePreset(const QUuid &id) const;

    // Reads the four lists again from the settings store (run once by the constructor).
    void load();
    // Writes all four lists.
    void persist();

    // Trims blanks and tabs (not line breaks) from both ends of a typed preset name.
    static QString trimmedPresetName(const QString &typed);

signals:
    void archivePresetsChanged();
    void conversionPresetsChanged();
    void flattenPresetsChanged();
    void renamePresetsChanged();
    // Any of the four lists changed.
    void presetsChanged();

private:
    SettingsStore &m_settings;
    QList<ArchivePreset> m_archive;
    QList<ConversionPreset> m_conversion;
    QList<FlattenPreset> m_flatten;
    QList<RenamePreset> m_rename;
};
