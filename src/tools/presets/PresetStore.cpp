#include "tools/presets/PresetStore.h"

#include "settings/SettingsStore.h"

namespace {

template <typename P>
void upsert(QList<P> &list, P preset)
{
    for (P &existing : list) {
        if (existing.name == preset.name) {
            preset.id = existing.id;
            existing = std::move(preset);
            return;
        }
    }
    list.append(std::move(preset));
}

template <typename P>
void removeId(QList<P> &list, const QUuid &id)
{
    list.removeIf([&](const P &p) { return p.id == id; });
}

template <typename P>
std::optional<P> findId(const QList<P> &list, const QUuid &id)
{
    for (const P &p : list)
        if (p.id == id)
            return p;
    return std::nullopt;
}

template <typename P>
void loadList(const SettingsStore &settings, const QString &key, QList<P> &list)
{
    list.clear();
    const std::optional<QByteArray> data = settings.dataValue(key);
    if (!data)
        return;
    if (auto decoded = PresetJson::decodeList<P>(*data))
        list = std::move(*decoded);
}

} // namespace

PresetStore &PresetStore::shared()
{
    static PresetStore *store = new PresetStore(SettingsStore::shared());
    return *store;
}

PresetStore::PresetStore(SettingsStore &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
    load();
}

void PresetStore::load()
{
    loadList(m_settings, archiveKey, m_archive);
    loadList(m_settings, convKey, m_conversion);
    loadList(m_settings, flattenKey, m_flatten);
    loadList(m_settings, renameKey, m_rename);
}

void PresetStore::persist()
{
    m_settings.setData(archiveKey, PresetJson::encodeList(m_archive));
    m_settings.setData(convKey, PresetJson::encodeList(m_conversion));
    m_settings.setData(flattenKey, PresetJson::encodeList(m_flatten));
    m_settings.setData(renameKey, PresetJson::encodeList(m_rename));
}

void PresetStore::saveArchive(ArchivePreset preset)
{
    upsert(m_archive, std::move(preset));
    persist();
    emit archivePresetsChanged();
    emit presetsChanged();
}

void PresetStore::saveConversion(ConversionPreset preset)
{
    upsert(m_conversion, std::move(preset));
    persist();
    emit conversionPresetsChanged();
    emit presetsChanged();
}

void PresetStore::saveFlatten(FlattenPreset preset)
{
    upsert(m_flatten, std::move(preset));
    persist();
    emit flattenPresetsChanged();
    emit presetsChanged();
}

void PresetStore::saveRename(RenamePreset preset)
{
    upsert(m_rename, std::move(preset));
    persist();
    emit renamePresetsChanged();
    emit presetsChanged();
}

void PresetStore::deleteArchive(const QUuid &id)
{
    removeId(m_archive, id);
    persist();
    emit archivePresetsChanged();
    emit presetsChanged();
}

void PresetStore::deleteConversion(const QUuid &id)
{
    removeId(m_conversion, id);
    persist();
    emit conversionPresetsChanged();
    emit presetsChanged();
}

void PresetStore::deleteFlatten(const QUuid &id)
{
    removeId(m_flatten, id);
    persist();
    emit flattenPresetsChanged();
    emit presetsChanged();
}

void PresetStore::deleteRename(const QUuid &id)
{
    removeId(m_rename, id);
    persist();
    emit renamePresetsChanged();
    emit presetsChanged();
}

std::optional<ArchivePreset> PresetStore::archivePreset(const QUuid &id) const { return findId(m_archive, id); }
std::optional<ConversionPreset> PresetStore::conversionPreset(const QUuid &id) const { return findId(m_conversion, id); }
std::optional<FlattenPreset> PresetStore::flattenPreset(const QUuid &id) const { return findId(m_flatten, id); }
std::optional<RenamePreset> PresetStore::renamePreset(const QUuid &id) const { return findId(m_rename, id); }

QString PresetStore::trimmedPresetName(const QString &typed)
{
    qsizetype start = 0;
    qsizetype end = typed.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (start < end && blank(typed.at(start)))
        ++start;
    while (end > start && blank(typed.at(end - 1)))
        --end;
    return typed.mid(start, end - start);
}
