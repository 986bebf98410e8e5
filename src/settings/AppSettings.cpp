#include "settings/AppSettings.h"

#include "platform/Autostart.h"
#include "platform/FileBookmark.h"
#include "platform/FilePath.h"
#include "platform/NotificationCenter.h"
#include "settings/SettingsStore.h"

#include <QColor>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <limits>

namespace {

const QString globalCombosKey = QStringLiteral("customGlobalCombos_json");
const QString screenshotFolderKey = QStringLiteral("screenshotFolderBookmark");
const QString outputFolderKey = QStringLiteral("convDefaultOutputFolder");
const QString outputFolderBookmarkKey = QStringLiteral("convDefaultOutputFolderBookmark");

int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::optional<QJsonDocument> parseJson(const std::optional<QByteArray> &data)
{
    if (!data)
        return std::nullopt;
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    return document;
}

QUrl readPath(const SettingsStore &store, const QString &key)
{
    const QString text = store.stringValue(key).value_or(QString());
    return text.isEmpty() ? QUrl() : FilePath::urlFromPath(text);
}

QString pathText(const QUrl &url)
{
    return url.isEmpty() ? QString() : FilePath::displayPath(url);
}

QUrl readBookmark(const SettingsStore &store, const QString &key)
{
    const auto data = store.dataValue(key);
    if (!data || data->isEmpty())
        return {};
    return FileBookmark::resolve(*data).url;
}

// Stores a bookmark of `folder`, or removes the key when there is no folder or it cannot be
// bookmarked.
void writeBookmark(SettingsStore &store, const QString &key, const QUrl &folder)
{
    const QByteArray bookmark = folder.isEmpty() ? QByteArray() : FileBookmark::create(folder);
    if (bookmark.isEmpty())
        store.remove(key);
    else
        store.setData(key, bookmark);
}

// The JSON of the Json-stored fields. A decoder gives nothing when any part is malformed:
// the field then keeps its default.
QJsonDocument toJson(const AppSettings::LegacyShelfHotkeys &names)
{
    QJsonObject object;
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        object.insert(it.key(), it.value());
    return QJsonDocument(object);
}

QJsonDocument toJson(const AppSettings::ShelfCombos &combos)
{
    QJsonObject object;
    for (auto it = combos.cbegin(); it != combos.cend(); ++it)
        object.insert(it.key(), it.value().toJsonObject());
    return QJsonDocument(object);
}

QJsonDocument toJson(const QList<SavedColor> &colors)
{
    QJsonArray array;
    for (const SavedColor &color : colors)
        array.append(QJsonArray{color.red, color.green, color.blue, color.alpha});
    return QJsonDocument(array);
}

bool fromJson(const QJsonDocument &document, AppSettings::LegacyShelfHotkeys *names)
{
    if (!document.isObject())
        return false;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return false;
        names->insert(it.key(), it.value().toString());
    }
    return true;
}

bool fromJson(const QJsonDocument &document, AppSettings::ShelfCombos *combos)
{
    if (!document.isObject())
        return false;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const auto combo = KeyCombo::fromJsonObject(it.value().toObject());
        if (!combo)
            return false;
        combos->insert(it.key(), *combo);
    }
    return true;
}

bool fromJson(const QJsonDocument &document, QList<SavedColor> *colors)
{
    if (!document.isArray())
        return false;
    for (const QJsonValue &item : document.array()) {
        const QJsonArray components = item.toArray();
        if (!item.isArray() || components.size() != 4)
            return false;
        for (const QJsonValue &component : components)
            if (!component.isDouble())
                return false;
        colors->append(SavedColor{components[0].toDouble(), components[1].toDouble(), components[2].toDouble(),
                                  components[3].toDouble()});
    }
    return true;
}

// The stored forms named in PERCHBOX_APP_SETTINGS: how a field is read from the store (with
// its default for a missing or unusable value) and written to it.
namespace StoredAs {

// Most forms store what they are given.
struct AsGiven {
    template <typename T>
    static const T &accept(const T &value) { return value; }
};

struct Bool : AsGiven {
    static bool read(const SettingsStore &store, const QString &key, bool fallback)
    {
        return store.boolValue(key).value_or(fallback);
    }
    static void write(SettingsStore &store, const QString &key, bool value) { store.setBool(key, value); }
};

struct PlainBool : Bool {
    static bool read(const SettingsStore &store, const QString &key, bool fallback)
    {
        return store.contains(key) ? store.plainBool(key) : fallback;
    }
};

struct Int : AsGiven {
    static int read(const SettingsStore &store, const QString &key, int fallback)
    {
        return clampToInt(store.intValue(key).value_or(fallback));
    }
    static void write(SettingsStore &store, const QString &key, int value) { store.setInt(key, value); }
};

struct PlainInt : Int {
    static int read(const SettingsStore &store, const QString &key, int fallback)
    {
        return store.contains(key) ? clampToInt(store.plainInt(key)) : fallback;
    }
};

struct PositivePlainInt : Int {
    static int read(const SettingsStore &store, const QString &key, int fallback)
    {
        const qint64 value = store.plainInt(key);
        return value <= 0 ? fallback : clampToInt(value);
    }
};

struct Percent : Int {
    static int accept(int value) { return std::clamp(value, 0, 100); }
    static int read(const SettingsStore &store, const QString &key, int fallback)
    {
        return int(std::clamp<qint64>(store.intValue(key).value_or(fallback), 0, 100));
    }
};

struct Enum : AsGiven {
    template <typename E>
    static E read(const SettingsStore &store, const QString &key, E fallback)
    {
        const auto raw = store.stringValue(key);
        return raw ? enumFromRaw<E>(*raw, fallback) : fallback;
    }
    template <typename E>
    static void write(SettingsStore &store, const QString &key, E value) { store.setString(key, rawValue(value)); }
};

struct ImageDimensions : Enum {
    static ImageDimensionsPreset read(const SettingsStore &store, const QString &key, ImageDimensionsPreset fallback)
    {
        return parseImageDimensions(store.stringValue(key).value_or(QString())).value_or(fallback);
    }
};

struct Text : AsGiven {
    static QString read(const SettingsStore &store, const QString &key, const QString &fallback)
    {
        return store.stringValue(key).value_or(fallback);
    }
    static void write(SettingsStore &store, const QString &key, const QString &value) { store.setString(key, value); }
};

struct Uuid : AsGiven {
    static QUuid read(const SettingsStore &store, const QString &key, QUuid fallback)
    {
        const auto text = store.stringValue(key);
        return text ? QUuid::fromString(*text) : fallback;
    }
    static void write(SettingsStore &store, const QString &key, QUuid value)
    {
        store.setString(key, value.isNull() ? QString() : AppSettings::shelfKey(value));
    }
};

struct Path : AsGiven {
    static QUrl read(const SettingsStore &store, const QString &key, const QUrl &fallback)
    {
        const QUrl url = readPath(store, key);
        return url.isEmpty() ? fallback : url;
    }
    static void write(SettingsStore &store, const QString &key, const QUrl &value)
    {
        store.setString(key, pathText(value));
    }
};

struct Json : AsGiven {
    template <typename T>
    static T read(const SettingsStore &store, const QString &key, const T &fallback)
    {
        T value;
        const auto document = parseJson(store.dataValue(key));
        return document && fromJson(*document, &value) ? value : fallback;
    }
    template <typename T>
    static void write(SettingsStore &store, const QString &key, const T &value)
    {
        store.setData(key, toJson(value).toJson(QJsonDocument::Compact));
    }
};

} // namespace StoredAs

// Sets `map` without the entries whose shelf id `drop` picks, through `setter`; nothing is
// set (or saved) when there are none.
template <typename Map, typename Drop>
void removeEntries(AppSettings &settings, const Map &map, void (AppSettings::*setter)(const Map &), Drop drop)
{
    Map kept = map;
    if (kept.removeIf([&drop](const auto &entry) { return drop(entry.key()); }) > 0)
        (settings.*setter)(kept);
}

std::optional<KeyCombo> legacyShortcutCombo(GlobalShortcut shortcut)
{
    switch (shortcut) {
    case GlobalShortcut::none: return std::nullopt;
    case GlobalShortcut::optionSpace: return KeyCombo{KeyCombo::KeySpace, KeyCombo::Option};
    case GlobalShortcut::optionD: return KeyCombo{KeyCombo::KeyD, KeyCombo::Option};
    case GlobalShortcut::ctrlOptionD: return KeyCombo{KeyCombo::KeyD, KeyCombo::Control | KeyCombo::Option};
    }
    return std::nullopt;
}

// "ctrl1" … "ctrl9" → the digit; anything else → nothing.
std::optional<int> legacyShelfHotkeyDigit(const QString &name)
{
    if (name.size() != 5 || !name.startsWith(QLatin1String("ctrl")))
        return std::nullopt;
    const QChar digit = name.at(4);
    if (digit < u'1' || digit > u'9')
        return std::nullopt;
    return digit.unicode() - u'0';
}

} // namespace

AppSettings &AppSettings::instance()
{
    static AppSettings settings(SettingsStore::shared());
    return settings;
}

AppSettings::AppSettings(SettingsStore &store, QObject *parent)
    : QObject(parent), m_store(store)
{
    load();
    m_launchAtLogin = Autostart::isEnabled();
    migrateLegacyShortcuts();
    m_initialized = true;
}

AppSettings::~AppSettings() = default;

QString AppSettings::shelfKey(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

void AppSettings::load()
{
#define PERCHBOX_LOAD_SETTING(Type, getter, setter, signal, key, Form, fallback, effect) \
    { \
        const Type defaultValue = fallback; \
        m_##getter = StoredAs::Form::read(m_store, QStringLiteral(key), defaultValue); \
    }
    PERCHBOX_APP_SETTINGS(PERCHBOX_LOAD_SETTING)
#undef PERCHBOX_LOAD_SETTING

    m_screenshotFolder = readBookmark(m_store, screenshotFolderKey);
    // The bookmark wins; the plain path is only used when there is no bookmark data.
    if (m_store.dataValue(outputFolderBookmarkKey))
        m_convDefaultOutputFolder = readBookmark(m_store, outputFolderBookmarkKey);
    else
        m_convDefaultOutputFolder = readPath(m_store, outputFolderKey);

    // The four application combos, from the combined object or else from their own keys.
    std::optional<KeyCombo> combos[4];
    bool fromObject = false;
    if (const auto document = parseJson(m_store.dataValue(globalCombosKey)); document && document->isObject()) {
        fromObject = true;
        for (int i = 0; i < 4; ++i) {
            const QJsonValue value = document->object().value(QLatin1String(globalCombos[i].member));
            if (value.isUndefined() || value.isNull())
                continue;
            combos[i] = KeyCombo::fromJsonObject(value.toObject());
            fromObject = fromObject && combos[i];
        }
    }
    for (int i = 0; i < 4; ++i) {
        if (!fromObject) {
            const auto data = m_store.dataValue(QLatin1String(globalCombos[i].key));
            combos[i] = data ? KeyCombo::fromJson(*data) : std::nullopt;
        }
        this->*globalCombos[i].field = combos[i];
    }
}

// ---- Fields of the list: write the key, tell observers, run the side effect.

template <typename Form, typename T>
void AppSettings::storeField(const QString &key, T &member, SettingArg<T> value,
                             void (AppSettings::*signal)(SettingArg<T>), void (AppSettings::*effect)())
{
    const T stored = Form::accept(value);
    Form::write(m_store, key, stored);
    if (member != stored) {
        member = stored;
        emit (this->*signal)(member);
    }
    if (effect)
        (this->*effect)();
}

#define PERCHBOX_DEFINE_SETTER(Type, getter, setter, signal, key, Form, fallback, effect) \
    void AppSettings::setter(SettingArg<Type> value) \
    { \
        storeField<StoredAs::Form, Type>(QStringLiteral(key), m_##getter, value, &AppSettings::signal, effect); \
    }
PERCHBOX_APP_SETTINGS(PERCHBOX_DEFINE_SETTER)
#undef PERCHBOX_DEFINE_SETTER

void AppSettings::postShelfSizeChanged()
{
    NotificationCenter::instance().post(Notifications::shelfSizeChanged);
}

void AppSettings::postUpdateChannelChanged()
{
    NotificationCenter::instance().post(Notifications::updateChannelChanged);
}

void AppSettings::applyScreenshotEnabled()
{
    if (m_screenshotEnabled)
        emit screenshotWatcherStartRequested();
    else
        emit screenshotWatcherStopRequested();
}

void AppSettings::flushAndRegisterHotkeys()
{
    m_store.flush();
    requestHotkeyRegistration();
}

void AppSettings::requestHotkeyRegistration()
{
    if (m_initialized)
        emit hotkeysRegistrationRequested();
}

// ---- Legacy shortcuts, and the fields with a storage of their own.

void AppSettings::migrateLegacyShortcuts()
{
    bool migrated = false;
    if (!m_customShowAllCombo && m_globalShortcut != GlobalShortcut::none) {
        m_customShowAllCombo = legacyShortcutCombo(m_globalShortcut);
        migrated = true;
    }
    if (!m_customNewShelfCombo && m_newShelfShortcut != GlobalShortcut::none) {
        m_customNewShelfCombo = legacyShortcutCombo(m_newShelfShortcut);
        migrated = true;
    }
    ShelfCombos shelfCombos = m_customShelfCombos;
    for (auto it = m_shelfHotkeys.cbegin(); it != m_shelfHotkeys.cend(); ++it) {
        const auto digit = legacyShelfHotkeyDigit(it.value());
        if (!digit || shelfCombos.contains(it.key()))
            continue;
        shelfCombos.insert(it.key(), KeyCombo{KeyCombo::digitKeyCode(*digit), KeyCombo::Control});
        migrated = true;
    }
    if (!migrated)
        return;

    // Saved like any change: nobody listens yet, and hot keys are registered only once the
    // settings are initialized.
    saveGlobalCombos();
    setCustomShelfCombos(shelfCombos);
    setShelfHotkeys({});
    setGlobalShortcut(GlobalShortcut::none);
    setNewShelfShortcut(GlobalShortcut::none);
    setShelfHotkeysEnabled(false);
    m_store.flush();
}

const AppSettings::GlobalCombo AppSettings::globalCombos[4] = {
    {"showAll", "customShowAllCombo", &AppSettings::m_customShowAllCombo},
    {"newShelf", "customNewShelfCombo", &AppSettings::m_customNewShelfCombo},
    {"tuckLeft", "customTuckLeftCombo", &AppSettings::m_customTuckLeftCombo},
    {"tuckRight", "customTuckRightCombo", &AppSettings::m_customTuckRightCombo},
};

void AppSettings::saveGlobalCombos()
{
    QJsonObject object;
    for (const GlobalCombo &global : globalCombos)
        if (const auto &combo = this->*global.field)
            object.insert(QLatin1String(global.member), combo->toJsonObject());
    m_store.setData(globalCombosKey, QJsonDocument(object).toJson(QJsonDocument::Compact));

    for (const GlobalCombo &global : globalCombos) {
        if (const auto &combo = this->*global.field)
            m_store.setData(QLatin1String(global.key), combo->toJson());
        else
            m_store.remove(QLatin1String(global.key));
    }
    flushAndRegisterHotkeys();
}

#define PB_COMBO_SETTER(Setter, member, signal)                                                \
    void AppSettings::Setter(const std::optional<KeyCombo> &value)                             \
    {                                                                                          \
        const bool changed = member != value;                                                  \
        member = value;                                                                        \
        saveGlobalCombos();                                                                    \
        if (changed)                                                                           \
            emit signal(member);                                                               \
    }
PB_COMBO_SETTER(setCustomShowAllCombo, m_customShowAllCombo, customShowAllComboChanged)
PB_COMBO_SETTER(setCustomNewShelfCombo, m_customNewShelfCombo, customNewShelfComboChanged)
PB_COMBO_SETTER(setCustomTuckLeftCombo, m_customTuckLeftCombo, customTuckLeftComboChanged)
PB_COMBO_SETTER(setCustomTuckRightCombo, m_customTuckRightCombo, customTuckRightComboChanged)
#undef PB_COMBO_SETTER

void AppSettings::setScreenshotFolder(const QUrl &value)
{
    writeBookmark(m_store, screenshotFolderKey, value);
    const bool changed = m_screenshotFolder != value;
    m_screenshotFolder = value;
    if (m_screenshotEnabled)
        emit screenshotWatcherRestartRequested();
    if (changed)
        emit screenshotFolderChanged(m_screenshotFolder);
}

void AppSettings::setConvDefaultOutputFolder(const QUrl &value)
{
    m_store.setString(outputFolderKey, pathText(value));
    writeBookmark(m_store, outputFolderBookmarkKey, value);
    const bool changed = m_convDefaultOutputFolder != value;
    m_convDefaultOutputFolder = value;
    if (changed)
        emit convDefaultOutputFolderChanged(m_convDefaultOutputFolder);
}

void AppSettings::setInputMonitoringGranted(bool granted)
{
    if (m_inputMonitoringGranted == granted)
        return;
    m_inputMonitoringGranted = granted;
    emit inputMonitoringGrantedChanged(granted);
}

bool AppSettings::setLaunchAtLogin(bool enabled, QString *error)
{
    if (!Autostart::setEnabled(enabled, error))
        return false;
    const bool now = Autostart::isEnabled();
    if (now != m_launchAtLogin) {
        m_launchAtLogin = now;
        emit launchAtLoginChanged(now);
    }
    return true;
}

void AppSettings::setShelfCombo(const std::optional<KeyCombo> &combo, const QUuid &shelfId)
{
    const QString key = shelfKey(shelfId);
    ShelfCombos combos = m_customShelfCombos;
    if (combo)
        combos.insert(key, *combo);
    else
        combos.remove(key);
    setCustomShelfCombos(combos);
    removeEntries(*this, m_shelfHotkeys, &AppSettings::setShelfHotkeys, [&key](const QString &id) { return id == key; });
}

void AppSettings::removeShelfHotkeys(const QUuid &shelfId)
{
    const auto ofShelf = [key = shelfKey(shelfId)](const QString &id) { return id == key; };
    removeEntries(*this, m_customShelfCombos, &AppSettings::setCustomShelfCombos, ofShelf);
    removeEntries(*this, m_shelfHotkeys, &AppSettings::setShelfHotkeys, ofShelf);
}

void AppSettings::pruneShelfHotkeys(const QSet<QUuid> &validIds)
{
    QSet<QString> valid;
    for (const QUuid &id : validIds)
        valid.insert(shelfKey(id));
    const auto invalid = [&valid](const QString &id) { return !valid.contains(id); };
    removeEntries(*this, m_customShelfCombos, &AppSettings::setCustomShelfCombos, invalid);
    removeEntries(*this, m_shelfHotkeys, &AppSettings::setShelfHotkeys, invalid);
}

void AppSettings::restoreDefaultShortcuts()
{
    setGlobalShortcut(GlobalShortcut::none);
    setNewShelfShortcut(GlobalShortcut::none);
    setShelfHotkeysEnabled(false);
    setShelfHotkeys({});
    setCustomShowAllCombo(KeyCombo{KeyCombo::KeyD, KeyCombo::Control | KeyCombo::Option});
    setCustomNewShelfCombo(KeyCombo{KeyCombo::KeyD, KeyCombo::Option});
    setCustomTuckLeftCombo(std::nullopt);
    setCustomTuckRightCombo(std::nullopt);
    setCustomShelfCombos({});
}

void AppSettings::addCustomColor(const QColor &color)
{
    const QColor rgb = color.toRgb();
    addCustomColor(SavedColor{rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()});
}

void AppSettings::addCustomColor(const SavedColor &color)
{
    QList<SavedColor> colors = m_savedCustomColors;
    colors.removeAll(color);
    colors.prepend(color);
    if (colors.size() > maxSavedCustomColors)
        colors.resize(maxSavedCustomColors);
    setSavedCustomColors(colors);
}
