// The key combinations kept in settings as JSON data: the four application combos (one
// object, "customGlobalCombos_json", or the older separate keys), the per-shelf combos
// ("customShelfCombos_json") and the legacy per-shelf hot-key names ("shelfHotkeys_json"),
// as AppSettings reads and migrates them. The input is split at the byte 0x1E into the
// values of these keys (an empty part: the key is not set); its first byte picks the legacy
// shortcut settings.
//
// Invariant: the combos AppSettings ends up with are saved by its setters in a form that
// loads back to the same combos.

#include "FuzzSupport.h"

#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"

namespace {

const char *const kKeys[] = {
    "customGlobalCombos_json", "customShelfCombos_json", "shelfHotkeys_json",
    "customShowAllCombo",      "customNewShelfCombo",    "customTuckLeftCombo",
    "customTuckRightCombo",
};
const char *const kShortcutKeys[] = {"globalShortcut", "newShelfShortcut"};
const char *const kShortcuts[] = {"none", "optionSpace", "optionD", "ctrlOptionD"};

QString missingFile()
{
    return Fuzz::scratchDir() + QStringLiteral("/no-such-settings.json");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // In memory only: a read-only store on a file that is not there.
    SettingsStore store(missingFile(), nullptr, SettingsStore::Access::readOnly);
    store.setString(QLatin1String(kShortcutKeys[0]), QLatin1String(kShortcuts[data[0] % 4]));
    store.setString(QLatin1String(kShortcutKeys[1]), QLatin1String(kShortcuts[(data[0] >> 2) % 4]));
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)).split('\x1e');
    for (qsizetype i = 0; i < qsizetype(std::size(kKeys)) && i < parts.size(); ++i)
        if (!parts[i].isEmpty())
            store.setData(QLatin1String(kKeys[i]), parts[i]);

    AppSettings loaded(store);

    // Through the setters into a fresh store, and loaded again.
    SettingsStore savedStore(missingFile(), nullptr, SettingsStore::Access::readOnly);
    {
        AppSettings writer(savedStore);
        writer.setCustomShowAllCombo(loaded.customShowAllCombo());
        writer.setCustomNewShelfCombo(loaded.customNewShelfCombo());
        writer.setCustomTuckLeftCombo(loaded.customTuckLeftCombo());
        writer.setCustomTuckRightCombo(loaded.customTuckRightCombo());
        writer.setCustomShelfCombos(loaded.customShelfCombos());
        writer.setShelfHotkeys(loaded.shelfHotkeys());
    }
    AppSettings reread(savedStore);
    FUZZ_CHECK(reread.customShowAllCombo() == loaded.customShowAllCombo());
    FUZZ_CHECK(reread.customNewShelfCombo() == loaded.customNewShelfCombo());
    FUZZ_CHECK(reread.customTuckLeftCombo() == loaded.customTuckLeftCombo());
    FUZZ_CHECK(reread.customTuckRightCombo() == loaded.customTuckRightCombo());
    FUZZ_CHECK(reread.customShelfCombos() == loaded.customShelfCombos());
    FUZZ_CHECK(reread.shelfHotkeys() == loaded.shelfHotkeys());
    return 0;
}
