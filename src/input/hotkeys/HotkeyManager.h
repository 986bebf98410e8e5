#pragma once

#include "input/KeyCombo.h"
#include "input/hotkeys/HotkeyRegistrar.h"
#include "model/Shelf.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QUuid>

#include <functional>

class AppSettings;
class ShelfManager;
class ShelfTuckManager;

// The system-wide hot keys: registers every stored combination with the system's hot-key
// service and turns a press into its action.
//
// registerAll() rebuilds the registrations from the settings, in this order: the four
// application combos ("Show / hide shelves", "New shelf", "Tuck active shelf left",
// "Tuck active shelf right"), then the per-shelf combos by ascending shelf UUID string. An
// empty combo, a combo already registered in the same pass, and a shelf that no longer exists
// are skipped, so a global action wins over a shelf with the same combination and the shelf
// whose id sorts first wins among shelves. Registrations get ids from 1000 upwards; one the
// system refuses is skipped and does not use up its id.
//
// Main thread only.
class HotkeyManager : public QObject
{
    Q_OBJECT
public:
    // The signature every registration carries: "PRCH" packed big-endian.
    static constexpr uint32_t signature = (uint32_t('P') << 24) | (uint32_t('R') << 16) | (uint32_t('C') << 8) | 'H';
    // Fixed ids of the older fixed hot keys; registerAll hands out ids from firstCustomId.
    static constexpr uint32_t showAppID = 1;
    static constexpr uint32_t newShelfID = 2;
    static constexpr uint32_t sendToShelfID = 3;
    static constexpr uint32_t firstCustomID = 1000;
    // A summoned shelf that is not open yet is looked for this often, this many times.
    static constexpr int summonRetryMs = 50;
    static constexpr int summonRetries = 20;

    HotkeyManager(ShelfManager &shelves, AppSettings &settings, ShelfTuckManager &tuck, QObject *parent = nullptr);
    ~HotkeyManager() override;

    // The hot-key service (not owned; null: no hot keys). Registers nothing by itself.
    void setRegistrar(HotkeyRegistrar *registrar);
    HotkeyRegistrar *registrar() const { return m_registrar; }

    // Installed by the application shell.
    std::function<void()> onShowApp;
    std::function<void()> onNewShelf;

    void registerAll();
    // Drops every registration (and registers again when resumed): while a shortcut is being
    // recorded, a combination that is ours reaches the recorder instead of its action.
    void setSuspended(bool suspended);
    bool isSuspended() const { return m_suspended; }

    // A press of the hot key with this id (queued here from the service's callback).
    void dispatch(uint32_t id);
    // Brings a shelf to the pointer: unhides it, opens it if needed, then asks the tuck
    // manager to fly it there ("Perchbox.highlightShelf" with "fromHotkey").
    void summonShelf(const QUuid &shelfId);
    // Toggles the tuck of the active shelf on `edge`. False when there is no shelf to tuck.
    bool tuckActiveShelf(TuckEdge edge);

    // What is registered now: id → handle, and id → the combo it was registered with.
    const QMap<uint32_t, HotkeyRegistrar::Handle> &customRefs() const { return m_customRefs; }
    std::optional<KeyCombo> comboOf(uint32_t id) const;
    // The id registered for a combo, if any.
    std::optional<uint32_t> idOfCombo(const KeyCombo &combo) const;
    // Combos the system refused in the last pass (held by another program, unknown key).
    const QList<KeyCombo> &refusedCombos() const { return m_refused; }

    // Legacy per-shelf registrations (id → shelf); dispatch summons these shelves.
    QHash<uint32_t, QUuid> shelfHotkeyIDs;

signals:
    // After every registration pass.
    void registrationsChanged();

private:
    void unregisterEverything();
    bool registerOne(const KeyCombo &combo, const QString &name, const QString &description,
                     std::function<void()> action);

    ShelfManager &m_shelves;
    AppSettings &m_settings;
    ShelfTuckManager &m_tuck;
    HotkeyRegistrar *m_registrar = nullptr;
    bool m_suspended = false;

    QMap<uint32_t, HotkeyRegistrar::Handle> m_customRefs;
    QHash<uint32_t, std::function<void()>> m_customActions;
    QHash<uint32_t, KeyCombo> m_customCombos;
    QList<KeyCombo> m_refused;
};
