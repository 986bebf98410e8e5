// The presets section every tool window shows, tied to one list of the store: what it lists,
// and what choosing, removing and saving a preset do there.
#include "settings/SettingsStore.h"
#include "tools/presets/PresetStore.h"
#include "tools/presets/PresetsSection.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

class TestPresetsSection : public QObject
{
    Q_OBJECT

    static QStringList names(const PresetsSection &section)
    {
        QStringList out;
        for (const PresetsSection::Entry &e : section.presets())
            out << e.second;
        return out;
    }

private slots:
    void attachedToOneListOfTheStore()
    {
        QTemporaryDir dir;
        SettingsStore settings(dir.filePath("settings.json"));
        PresetStore store(settings);
        FlattenPreset first;
        first.id = QUuid::createUuid();
        first.name = QStringLiteral("Gather");
        store.saveFlatten(first);
        RenamePreset other;
        other.id = QUuid::createUuid();
        other.name = QStringLiteral("Not a flatten preset");
        store.saveRename(other);

        PresetsSection section;
        QList<FlattenPreset> applied;
        section.attach<FlattenPreset>(
            store, [&applied](const FlattenPreset &p) { applied << p; },
            [](const QString &name) {
                FlattenPreset p;
                p.id = QUuid::createUuid();
                p.name = name;
                p.operation = QStringLiteral("move");
                return p;
            });
        QCOMPARE(names(section), QStringList{QStringLiteral("Gather")});

        // Saving makes the record and stores it; the list follows the store.
        emit section.saveRequested(QStringLiteral("Move all"));
        QCOMPARE(store.flattenPresets().size(), 2);
        QCOMPARE(store.flattenPresets().last().operation, QStringLiteral("move"));
        QCOMPARE(names(section), (QStringList{QStringLiteral("Gather"), QStringLiteral("Move all")}));
        // A change of another list leaves it as it is.
        store.deleteRename(other.id);
        QCOMPARE(section.presets().size(), 2);

        // Choosing hands the stored record over; an id that is gone does nothing.
        emit section.applyRequested(store.flattenPresets().last().id);
        QCOMPARE(applied.size(), 1);
        QCOMPARE(applied[0].name, QStringLiteral("Move all"));
        emit section.applyRequested(QUuid::createUuid());
        QCOMPARE(applied.size(), 1);

        // Removing deletes it from the store and the list.
        emit section.removeRequested(first.id);
        QCOMPARE(store.flattenPresets().size(), 1);
        QCOMPARE(names(section), QStringList{QStringLiteral("Move all")});
    }
};

QTEST_MAIN(TestPresetsSection)
#include "tst_presets_section.moc"
