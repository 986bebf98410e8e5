#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QUuid>
#include <QWidget>

class QFrame;
class QLineEdit;
class QVBoxLayout;

// The "PRESETS" section every tool window shows: one row per preset (choose it to apply
// it; its small remove button deletes it at once), "None saved" when there are none, and a
// "Save…" button whose popover asks for a name.
//
// The section knows nothing about a particular tool: the window gives it the names and
// reacts to its signals, e.g. for Flatten:
//
//   section->setPresets(PresetsSection::entries(store.flattenPresets()));
//   connect(&store, &PresetStore::flattenPresetsChanged, …setPresets again…);
//   connect(section, &PresetsSection::applyRequested, … store.flattenPreset(id) …);
//   connect(section, &PresetsSection::removeRequested, &store, &PresetStore::deleteFlatten);
//   connect(section, &PresetsSection::saveRequested, … store.saveFlatten(build(name)) …);
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
