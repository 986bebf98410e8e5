// "settings.json": the typed settings store's file, and every setting the application reads
// from it at start-up (AppSettings).
//
// Invariant: the values read from a file survive a save and a fresh load (same keys, same
// types, same values).

#include "FuzzSupport.h"

#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"

#include <QFile>

#include <cmath>

namespace {

bool sameValue(const SettingsStore &a, const SettingsStore &b, const QString &key)
{
    const auto type = a.type(key);
    if (!type || b.type(key) != type)
        return false;
    switch (*type) {
    case SettingsStore::Type::boolean: return a.boolValue(key) == b.boolValue(key);
    case SettingsStore::Type::integer: return a.intValue(key) == b.intValue(key);
    case SettingsStore::Type::real: {
        const double x = *a.doubleValue(key), y = *b.doubleValue(key);
        return (std::isnan(x) && std::isnan(y)) || x == y;
    }
    case SettingsStore::Type::string: return a.stringValue(key) == b.stringValue(key);
    case SettingsStore::Type::data: return a.dataValue(key) == b.dataValue(key);
    }
    return false;
}

void copyValue(const SettingsStore &from, SettingsStore &to, const QString &key)
{
    switch (*from.type(key)) {
    case SettingsStore::Type::boolean: to.setBool(key, *from.boolValue(key)); break;
    case SettingsStore::Type::integer: to.setInt(key, *from.intValue(key)); break;
    case SettingsStore::Type::real: to.setDouble(key, *from.doubleValue(key)); break;
    case SettingsStore::Type::string: to.setString(key, *from.stringValue(key)); break;
    case SettingsStore::Type::data: to.setData(key, *from.dataValue(key)); break;
    }
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = Fuzz::scratchDir() + QStringLiteral("/settings.json");
    const QString saved = Fuzz::scratchDir() + QStringLiteral("/saved-settings.json");
    if (!writeFile(input, QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))))
        std::abort();
    QFile::remove(saved);

    // Read-only, as the command line reads it: a damaged file is left where it is.
    SettingsStore store(input, nullptr, SettingsStore::Access::readOnly);
    {
        AppSettings settings(store); // every key the program reads, with its own rules
        (void)settings.customShelfCombos();
    }

    {
        SettingsStore writer(saved);
        for (const QString &key : store.keys())
            copyValue(store, writer, key);
        QString error;
        FUZZ_CHECK(writer.flush(&error), error.toUtf8());
    }
    SettingsStore reread(saved, nullptr, SettingsStore::Access::readOnly);
    FUZZ_CHECK(reread.keys() == store.keys());
    for (const QString &key : store.keys())
        FUZZ_CHECK(sameValue(store, reread, key), key.toUtf8());
    return 0;
}
