#pragma once

#include "tools/presets/PresetStore.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QUuid>
#include <QWidget>

#include <functional>

class QFrame;
class QLineEdit;
class QVBoxLayout;

// The "PRESETS" section every tool window shows: one row per preset (choose it to apply
// it; its small remove button deletes it at once), "None saved" when there are none, and a
// "Save…" button whose popover asks for a name.
//
// The section knows nothing about a particular tool: `attach` ties it to one list of the
// store, and the window says only how a preset applies and what it saves, e.g. for Flatten:
//
//   section->attach<FlattenPreset>(store, [this](const FlattenPreset &p) { …apply p… },
//                                  [this](const QString &name) { return build(name); });

// The store's operations on the list of records of type P.
template <typename P>
struct PresetList;
template <>
struct PresetList<ArchivePreset> {
    static constexpr auto all = &PresetStore::archivePresets;
    static constexpr auto changed = &PresetStore::archivePresetsChanged;
    static constexpr auto find = &PresetStore::archivePreset;
    static constexpr auto save = &PresetStore::saveArchive;
    static constexpr auto remove = &PresetStore::deleteArchive;
};
template <>
struct PresetList<ConversionPreset> {
    static constexpr auto all = &PresetStore::conversionPresets;
    static constexpr auto changed = &PresetStore::conversionPresetsChanged;
    static constexpr auto find = &PresetStore::conversionPreset;
    static constexpr auto save = &PresetStore::saveConversion;
    static constexpr auto remove = &PresetStore::deleteConversion;
};
template <>
struct PresetList<FlattenPreset> {
    static constexpr auto all = &PresetStore::flattenPresets;
    static constexpr auto changed = &PresetStore::flattenPresetsChanged;
    static constexpr auto find = &PresetStore::flattenPreset;
    static constexpr auto save = &PresetStore::saveFlatten;
    static constexpr auto remove = &PresetStore::deleteFlatten;
};
template <>
struct PresetList<RenamePreset> {
    static constexpr auto all = &PresetStore::renamePresets;
    static constexpr auto changed = &PresetStore::renamePresetsChanged;
    static constexpr auto find = &PresetStore::renamePreset;
    static constexpr auto save = &PresetStore::saveRename;
    static constexpr auto remove = &PresetStore::deleteRename;
};

class PresetsSection : public QWidget
{
    Q_OBJECT
public:
    using Entry = QPair<QUuid, QString>; // id, name

    explicit PresetsSection(QWidget *parent = nullptr);

    void setPresets(const QList<Entry> &entries);
    QList<Entry> presets() const { return m_entries; }

    // The entries of any preset list (records with `id` and `name`).
    template <typename P>
    static QList<Entry> entries(const QList<P> &list)
    {
        QList<Entry> out;
        for (const P &p : list)
            out.append({p.id, p.name});
        return out;
    }

    // Shows the store's list of P and follows its changes; choosing a preset hands it to
    // `apply`, its remove button deletes it, and "Save…" stores what `named` makes of the
    // typed name.
    template <typename P>
    void attach(PresetStore &store, std::function<void(const P &)> apply, std::function<P(const QString &)> named)
    {
        using List = PresetList<P>;
        const auto show = [this, &store] { setPresets(entries((store.*List::all)())); };
        show();
        connect(&store, List::changed, this, show);
        connect(this, &PresetsSection::applyRequested, this, [&store, apply](const QUuid &id) {
            if (const std::optional<P> preset = (store.*List::find)(id))
                apply(*preset);
        });
        connect(this, &PresetsSection::removeRequested, &store, List::remove);
        connect(this, &PresetsSection::saveRequested, this,
                [&store, named](const QString &name) { (store.*List::save)(named(name)); });
    }

    // Opens the "Save as Preset" popover (also what the "Save…" button does).
    void openSavePopover();
    QWidget *savePopover() const;

signals:
    void applyRequested(const QUuid &id);
    void removeRequested(const QUuid &id);
    // The typed name, trimmed of blanks and tabs; never empty.
    void saveRequested(const QString &name);

private:
    void rebuildRows();
    void commitSave();

    QList<Entry> m_entries;
    QVBoxLayout *m_rows = nullptr;
    QFrame *m_popover = nullptr;
    QLineEdit *m_nameField = nullptr;
};
