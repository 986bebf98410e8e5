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
#include <cmath>
#include <limits>
#include <type_traits>

namespace {

const QString globalCombosKey = QStringLiteral("customGlobalCombos_json");
const QString shelfCombosKey = QStringLiteral("customShelfCombos_json");
const QString shelfHotkeysKey = QStringLiteral("shelfHotkeys_json");
const QString customColorsKey = QStringLiteral("savedCustomColors_json");
const QString screenshotFolderKey = QStringLiteral("screenshotFolderBookmark");
const QString outputFolderKey = QStringLiteral("convDefaultOutputFolder");
const QString outputFolderBookmarkKey = QStringLiteral("convDefaultOutputFolderBookmark");

// Members of the stored global combos object and the separate keys kept in step with it.
const QString showAllMember = QStringLiteral("showAll");
const QString newShelfMember = QStringLiteral("newShelf");
const QString tuckLeftMember = QStringLiteral("tuckLeft");
const QString tuckRightMember = QStringLiteral("tuckRight");
const QString showAllKey = QStringLiteral("customShowAllCombo");
const QString newShelfKey = QStringLiteral("customNewShelfCombo");
const QString tuckLeftKey = QStringLiteral("customTuckLeftCombo");
const QString tuckRightKey = QStringLiteral("customTuckRightCombo");

int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

QString uuidText(const QUuid &id)
{
    return id.isNull() ? QString() : AppSettings::shelfKey(id);
}

QString pathText(const QUrl &url)
{
    return url.isEmpty() ? QString() : FilePath::displayPath(url);
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

QByteArray compactJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
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

template <typename E>
E AppSettings::readEnum(const QString &key, E fallback) const
{
    const auto raw = m_store.stringValue(key);
    return raw ? enumFromRaw<E>(*raw, fallback) : fallback;
}

QUuid AppSettings::readUuid(const QString &key) const
{
    const auto text = m_store.stringValue(key);
    return text ? QUuid::fromString(*text) : QUuid();
}

QUrl AppSettings::readPath(const QString &key) const
{
    const QString text = m_store.stringValue(key).value_or(QString());
    return text.isEmpty() ? QUrl() : FilePath::urlFromPath(text);
}

QUrl AppSettings::readBookmark(const QString &key) const
{
    const auto data = m_store.dataValue(key);
    if (!data || data->isEmpty())
        return {};
    return FileBookmark::resolve(*data).url;
}

void AppSettings::load()
{
    m_dragMode = readEnum(QStringLiteral("dragMode"), DragMode::copy);
    m_closeWhenEmpty = m_store.plainBool(QStringLiteral("closeWhenEmpty"));
    m_maxFilesPerShelf = clampToInt(m_store.plainInt(QStringLiteral("maxFilesPerShelf")));
    m_theme = readEnum(QStringLiteral("theme"), AppTheme::system);
    m_shelfLayout = readEnum(QStringLiteral("shelfLayout"), ShelfLayout::list);
    m_shelfSize = readEnum(QStringLiteral("shelfSize"), ShelfSize::compact);
    m_shelfSortOrder = readEnum(QStringLiteral("shelfSortOrder"), ShelfSortOrder::manual);
    m_screenshotEnabled = m_store.boolValue(QStringLiteral("screenshotEnabled")).value_or(false);
    m_screenshotShelfID = readUuid(QStringLiteral("screenshotShelfID"));
    m_screenshotUseTempShelf = m_store.boolValue(QStringLiteral("screenshotUseTempShelf")).value_or(true);
    m_shelfHotkeysEnabled = m_store.boolValue(QStringLiteral("shelfHotkeysEnabled")).value_or(false);
    m_globalShortcut = readEnum(QStringLiteral("globalShortcut"), GlobalShortcut::none);
    m_newShelfShortcut = readEnum(QStringLiteral("newShelfShortcut"), GlobalShortcut::none);
    m_showInDock = m_store.boolValue(QStringLiteral("showInDock")).value_or(false);
    m_automaticUpdateChecks = m_store.boolValue(QStringLiteral("automaticUpdateChecks")).value_or(true);
    m_useNightlyChannel = m_store.boolValue(QStringLiteral("useNightlyChannel")).value_or(false);
    m_hotkeyPinEnabled = m_store.boolValue(QStringLiteral("hotkeyPinEnabled")).value_or(true);
    m_hotkeyHoldUntilHotkey = m_store.boolValue(QStringLiteral("hotkeyHoldUntilHotkey")).value_or(false);
    m_sendToFinderEnabled = m_store.boolValue(QStringLiteral("sendToFinderEnabled")).value_or(true);
    m_defaultShelfID = readUuid(QStringLiteral("defaultShelfID"));
    m_showZipFeature = m_store.boolValue(QStringLiteral("showZipFeature")).value_or(true);
    m_showBatchRenameFeature = m_store.boolValue(QStringLiteral("showBatchRenameFeature")).value_or(true);
    m_showSendToShelfFeature = m_store.boolValue(QStringLiteral("showSendToShelfFeature")).value_or(true);
    m_showFlattenFeature = m_store.boolValue(QStringLiteral("showFlattenFeature")).value_or(true);
    m_showConvertFeature = m_store.boolValue(QStringLiteral("showConvertFeature")).value_or(true);
    m_clearShelfAfterConversion = m_store.boolValue(QStringLiteral("clearShelfAfterConversion")).value_or(false);
    m_createConvertedShelf = m_store.boolValue(QStringLiteral("createConvertedShelf")).value_or(true);
    m_convDefaultOutputMode = readEnum(QStringLiteral("convDefaultOutputMode"), ConversionOutputMode::flatFolder);
    m_convDefaultVideoFormat = readEnum(QStringLiteral("convDefaultVideoFormat"), VideoOutputFormat::prores);
    m_convDefaultProResProfile = readEnum(QStringLiteral("convDefaultProResProfile"), ProResProfile::p422hq);
    m_convDefaultVideoCRF = readEnum(QStringLiteral("convDefaultVideoCRF"), VideoQualityCRF::high);
    m_convDefaultAudioFormat = readEnum(QStringLiteral("convDefaultAudioFormat"), AudioOutputFormat::wav);
    m_convDefaultSampleRate = readEnum(QStringLiteral("convDefaultSampleRate"), AudioSampleRate::original);
    m_convDefaultChannels = readEnum(QStringLiteral("convDefaultChannels"), AudioChannels::original);
    m_convDefaultVideoChannels = readEnum(QStringLiteral("convDefaultVideoChannels"), AudioChannels::original);
    m_convDefaultFrameRate = readEnum(QStringLiteral("convDefaultFrameRate"), VideoFrameRate::original);
    m_convDefaultBurnSubtitles = m_store.boolValue(QStringLiteral("convDefaultBurnSubtitles")).value_or(true);
    m_convDefaultImageFormat = readEnum(QStringLiteral("convDefaultImageFormat"), ImageOutputFormat::png);
    m_convDefaultImageQuality = int(std::clamp<qint64>(m_store.intValue(QStringLiteral("convDefaultImageQuality")).value_or(90), 0, 100));
    m_convDefaultImageDimensions = parseImageDimensions(m_store.stringValue(QStringLiteral("convDefaultImageDimensions")).value_or(QString())).value_or(ImageDimensionsPreset::original);
    m_convDefaultPreserveImageMetadata = m_store.boolValue(QStringLiteral("convDefaultPreserveImageMetadata")).value_or(true);
    m_convDefaultRemoveImageBackground = m_store.boolValue(QStringLiteral("convDefaultRemoveImageBackground")).value_or(false);
    m_flattenDefaultDestination = readPath(QStringLiteral("flattenDefaultDestination"));
    m_flattenDuplicateMode = readEnum(QStringLiteral("flattenDuplicateMode"), FlattenDuplicateMode::keepForReview);
    m_flattenOperation = readEnum(QStringLiteral("flattenOperation"), FlattenOperation::copy);
    m_archiveFormat = readEnum(QStringLiteral("archiveFormat"), ArchiveFormat::zip);
    m_compressionLevel = readEnum(QStringLiteral("compressionLevel"), CompressionLevel::normal);
    m_archivePassword = m_store.stringValue(QStringLiteral("archivePassword")).value_or(QString());
    m_archivePasswordEnabled = m_store.boolValue(QStringLiteral("archivePasswordEnabled")).value_or(false);
    {
        const qint64 length = m_store.plainInt(QStringLiteral("pwGenLength"));
        m_pwGenLength = length <= 0 ? 16 : clampToInt(length);
    }
    m_pwGenUppercase = m_store.boolValue(QStringLiteral("pwGenUppercase")).value_or(true);
    m_pwGenLowercase = m_store.boolValue(QStringLiteral("pwGenLowercase")).value_or(true);
    m_pwGenNumbers = m_store.boolValue(QStringLiteral("pwGenNumbers")).value_or(true);
    m_pwGenSymbols = m_store.boolValue(QStringLiteral("pwGenSymbols")).value_or(false);
    m_pwGenSymbolSet = m_store.stringValue(QStringLiteral("pwGenSymbolSet")).value_or(QStringLiteral("!@#$%^&*"));
    m_pwGenExcludeChars = m_store.stringValue(QStringLiteral("pwGenExcludeChars")).value_or(QString());
    m_pwGenMinUppercase = clampToInt(m_store.intValue(QStringLiteral("pwGenMinUppercase")).value_or(1));
    m_pwGenMinLowercase = clampToInt(m_store.intValue(QStringLiteral("pwGenMinLowercase")).value_or(1));
    m_pwGenMinNumbers = clampToInt(m_store.intValue(QStringLiteral("pwGenMinNumbers")).value_or(1));
    m_pwGenMinSymbols = clampToInt(m_store.intValue(QStringLiteral("pwGenMinSymbols")).value_or(0));

    m_screenshotFolder = readBookmark(screenshotFolderKey);
    // The bookmark wins; the plain path is only used when there is no bookmark data.
    if (m_store.dataValue(outputFolderBookmarkKey))
        m_convDefaultOutputFolder = readBookmark(outputFolderBookmarkKey);
    else
        m_convDefaultOutputFolder = readPath(outputFolderKey);

    // Legacy per-shelf hot-key names.
    if (const auto document = parseJson(m_store.dataValue(shelfHotkeysKey)); document && document->isObject()) {
        QMap<QString, QString> map;
        bool valid = true;
        const QJsonObject object = document->object();
        for (auto it = object.begin(); it != object.end() && valid; ++it) {
            valid = it.value().isString();
            map.insert(it.key(), it.value().toString());
        }
        if (valid)
            m_shelfHotkeys = map;
    }

    // The four application combos, from the combined object or else the separate keys.
    bool globalsLoaded = false;
    if (const auto document = parseJson(m_store.dataValue(globalCombosKey)); document && document->isObject()) {
        const QJsonObject object = document->object();
        std::optional<KeyCombo> combos[4];
        bool valid = true;
        const QString members[4] = {showAllMember, newShelfMember, tuckLeftMember, tuckRightMember};
        for (int i = 0; i < 4; ++i) {
            const QJsonValue value = object.value(members[i]);
            if (value.isUndefined() || value.isNull())
                continue;
            combos[i] = KeyCombo::fromJsonObject(value.toObject());
            if (!combos[i])
                valid = false;
        }
        if (valid) {
            m_customShowAllCombo = combos[0];
            m_customNewShelfCombo = combos[1];
            m_customTuckLeftCombo = combos[2];
            m_customTuckRightCombo = combos[3];
            globalsLoaded = true;
        }
    }
    if (!globalsLoaded) {
        auto legacy = [this](const QString &key) -> std::optional<KeyCombo> {
            const auto data = m_store.dataValue(key);
            return data ? KeyCombo::fromJson(*data) : std::nullopt;
        };
        m_customShowAllCombo = legacy(showAllKey);
        m_customNewShelfCombo = legacy(newShelfKey);
        m_customTuckLeftCombo = legacy(tuckLeftKey);
        m_customTuckRightCombo = legacy(tuckRightKey);
    }

    if (const auto document = parseJson(m_store.dataValue(shelfCombosKey)); document && document->isObject()) {
        QMap<QString, KeyCombo> map;
        bool valid = true;
        const QJsonObject object = document->object();
        for (auto it = object.begin(); it != object.end() && valid; ++it) {
            const auto combo = KeyCombo::fromJsonObject(it.value().toObject());
            valid = combo.has_value();
            if (combo)
                map.insert(it.key(), *combo);
        }
        if (valid)
            m_customShelfCombos = map;
    }

    if (const auto document = parseJson(m_store.dataValue(customColorsKey)); document && document->isArray()) {
        QList<SavedColor> colors;
        bool valid = true;
        for (const QJsonValue &item : document->array()) {
            const QJsonArray components = item.toArray();
            if (!item.isArray() || components.size() != 4) {
                valid = false;
                break;
            }
            double values[4];
            for (int i = 0; i < 4; ++i) {
                valid = valid && components.at(i).isDouble();
                values[i] = components.at(i).toDouble();
            }
            if (!valid)
                break;
            colors.append(SavedColor{values[0], values[1], values[2], values[3]});
        }
        if (valid)
            m_savedCustomColors = colors;
    }
}

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
    for (auto it = m_shelfHotkeys.cbegin(); it != m_shelfHotkeys.cend(); ++it) {
        const auto digit = legacyShelfHotkeyDigit(it.value());
        if (!digit || m_customShelfCombos.contains(it.key()))
            continue;
        m_customShelfCombos.insert(it.key(), KeyCombo{KeyCombo::digitKeyCode(*digit), KeyCombo::Control});
        migrated = true;
    }
    if (!migrated)
        return;

    m_globalShortcut = GlobalShortcut::none;
    m_newShelfShortcut = GlobalShortcut::none;
    m_shelfHotkeysEnabled = false;
    m_shelfHotkeys.clear();
    saveGlobalCombos();
    saveShelfCombos();
    saveShelfHotkeys();
    m_store.setString(QStringLiteral("globalShortcut"), rawValue(GlobalShortcut::none));
    m_store.setString(QStringLiteral("newShelfShortcut"), rawValue(GlobalShortcut::none));
    m_store.setBool(QStringLiteral("shelfHotkeysEnabled"), false);
    m_store.flush();
}

void AppSettings::requestHotkeyRegistration()
{
    if (m_initialized)
        emit hotkeysRegistrationRequested();
}

void AppSettings::saveGlobalCombos()
{
    QJsonObject object;
    const std::pair<const QString &, const std::optional<KeyCombo> &> members[] = {
        {showAllMember, m_customShowAllCombo},
        {newShelfMember, m_customNewShelfCombo},
        {tuckLeftMember, m_customTuckLeftCombo},
        {tuckRightMember, m_customTuckRightCombo},
    };
    for (const auto &[member, combo] : members)
        if (combo)
            object.insert(member, combo->toJsonObject());
    m_store.setData(globalCombosKey, compactJson(object));

    const std::pair<const QString &, const std::optional<KeyCombo> &> separate[] = {
        {showAllKey, m_customShowAllCombo},
        {newShelfKey, m_customNewShelfCombo},
        {tuckLeftKey, m_customTuckLeftCombo},
        {tuckRightKey, m_customTuckRightCombo},
    };
    for (const auto &[key, combo] : separate) {
        if (combo)
            m_store.setData(key, combo->toJson());
        else
            m_store.remove(key);
    }
    m_store.flush();
    requestHotkeyRegistration();
}

void AppSettings::saveShelfCombos()
{
    QJsonObject object;
    for (auto it = m_customShelfCombos.cbegin(); it != m_customShelfCombos.cend(); ++it)
        object.insert(it.key(), it.value().toJsonObject());
    m_store.setData(shelfCombosKey, compactJson(object));
    m_store.flush();
    requestHotkeyRegistration();
}

void AppSettings::saveShelfHotkeys()
{
    QJsonObject object;
    for (auto it = m_shelfHotkeys.cbegin(); it != m_shelfHotkeys.cend(); ++it)
        object.insert(it.key(), it.value());
    m_store.setData(shelfHotkeysKey, compactJson(object));
}

void AppSettings::saveCustomColors()
{
    QJsonArray array;
    for (const SavedColor &color : std::as_const(m_savedCustomColors))
        array.append(QJsonArray{color.red, color.green, color.blue, color.alpha});
    m_store.setData(customColorsKey, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

void AppSettings::applyScreenshotEnabled()
{
    if (m_screenshotEnabled)
        emit screenshotWatcherStartRequested();
    else
        emit screenshotWatcherStopRequested();
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

void AppSettings::setScreenshotFolder(const QUrl &value)
{
    const QByteArray bookmark = value.isEmpty() ? QByteArray() : FileBookmark::create(value);
    if (bookmark.isEmpty())
        m_store.remove(screenshotFolderKey);
    else
        m_store.setData(screenshotFolderKey, bookmark);
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
    const QByteArray bookmark = value.isEmpty() ? QByteArray() : FileBookmark::create(value);
    if (bookmark.isEmpty())
        m_store.remove(outputFolderBookmarkKey);
    else
        m_store.setData(outputFolderBookmarkKey, bookmark);
    const bool changed = m_convDefaultOutputFolder != value;
    m_convDefaultOutputFolder = value;
    if (changed)
        emit convDefaultOutputFolderChanged(m_convDefaultOutputFolder);
}

void AppSettings::setShelfHotkeys(const QMap<QString, QString> &value)
{
    const bool changed = m_shelfHotkeys != value;
    m_shelfHotkeys = value;
    saveShelfHotkeys();
    if (changed)
        emit shelfHotkeysChanged(m_shelfHotkeys);
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

void AppSettings::setCustomShelfCombos(const QMap<QString, KeyCombo> &value)
{
    const bool changed = m_customShelfCombos != value;
    m_customShelfCombos = value;
    saveShelfCombos();
    if (changed)
        emit customShelfCombosChanged(m_customShelfCombos);
}

void AppSettings::setSavedCustomColors(const QList<SavedColor> &value)
{
    const bool changed = m_savedCustomColors != value;
    m_savedCustomColors = value;
    saveCustomColors();
    if (changed)
        emit savedCustomColorsChanged(m_savedCustomColors);
}

void AppSettings::setShelfCombo(const std::optional<KeyCombo> &combo, const QUuid &shelfId)
{
    const QString key = shelfKey(shelfId);
    QMap<QString, KeyCombo> combos = m_customShelfCombos;
    if (combo)
        combos.insert(key, *combo);
    else
        combos.remove(key);
    setCustomShelfCombos(combos);
    if (m_shelfHotkeys.contains(key)) {
        QMap<QString, QString> legacy = m_shelfHotkeys;
        legacy.remove(key);
        setShelfHotkeys(legacy);
    }
}

void AppSettings::removeShelfHotkeys(const QUuid &shelfId)
{
    const QString key = shelfKey(shelfId);
    if (m_customShelfCombos.contains(key)) {
        QMap<QString, KeyCombo> combos = m_customShelfCombos;
        combos.remove(key);
        setCustomShelfCombos(combos);
    }
    if (m_shelfHotkeys.contains(key)) {
        QMap<QString, QString> legacy = m_shelfHotkeys;
        legacy.remove(key);
        setShelfHotkeys(legacy);
    }
}

void AppSettings::pruneShelfHotkeys(const QSet<QUuid> &validIds)
{
    QSet<QString> valid;
    for (const QUuid &id : validIds)
        valid.insert(shelfKey(id));

    QMap<QString, KeyCombo> combos = m_customShelfCombos;
    combos.removeIf([&valid](const auto &entry) { return !valid.contains(entry.key()); });
    if (combos.size() != m_customShelfCombos.size())
        setCustomShelfCombos(combos);

    QMap<QString, QString> legacy = m_shelfHotkeys;
    legacy.removeIf([&valid](const auto &entry) { return !valid.contains(entry.key()); });
    if (legacy.size() != m_shelfHotkeys.size())
        setShelfHotkeys(legacy);
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

// ---- Plain fields: write the key, tell observers, run the side effect.

template <typename T, typename Signal>
void AppSettings::assign(T &member, const T &value, Signal signal)
{
    if (member == value)
        return;
    member = value;
    emit (this->*signal)(member);
}

template <typename T, typename Signal>
void AppSettings::store(const QString &key, T &member, const T &value, Signal signal)
{
    if constexpr (std::is_same_v<T, bool>)
        m_store.setBool(key, value);
    else if constexpr (std::is_same_v<T, int>)
        m_store.setInt(key, value);
    else
        m_store.setString(key, rawValue(value));
    assign(member, value, signal);
}

void AppSettings::setDragMode(DragMode value)
{
    store(QStringLiteral("dragMode"), m_dragMode, value, &AppSettings::dragModeChanged);
}

void AppSettings::setCloseWhenEmpty(bool value)
{
    store(QStringLiteral("closeWhenEmpty"), m_closeWhenEmpty, value, &AppSettings::closeWhenEmptyChanged);
}

void AppSettings::setMaxFilesPerShelf(int value)
{
    store(QStringLiteral("maxFilesPerShelf"), m_maxFilesPerShelf, value, &AppSettings::maxFilesPerShelfChanged);
}

void AppSettings::setTheme(AppTheme value)
{
    store(QStringLiteral("theme"), m_theme, value, &AppSettings::themeChanged);
}

void AppSettings::setShelfLayout(ShelfLayout value)
{
    store(QStringLiteral("shelfLayout"), m_shelfLayout, value, &AppSettings::shelfLayoutChanged);
}

void AppSettings::setShelfSize(ShelfSize value)
{
    m_store.setString(QStringLiteral("shelfSize"), rawValue(value));
    assign(m_shelfSize, value, &AppSettings::shelfSizeChanged);
    NotificationCenter::instance().post(Notifications::shelfSizeChanged);
}

void AppSettings::setShelfSortOrder(ShelfSortOrder value)
{
    store(QStringLiteral("shelfSortOrder"), m_shelfSortOrder, value, &AppSettings::shelfSortOrderChanged);
}

void AppSettings::setScreenshotEnabled(bool value)
{
    m_store.setBool(QStringLiteral("screenshotEnabled"), value);
    assign(m_screenshotEnabled, value, &AppSettings::screenshotEnabledChanged);
    applyScreenshotEnabled();
}

void AppSettings::setScreenshotShelfID(QUuid value)
{
    m_store.setString(QStringLiteral("screenshotShelfID"), uuidText(value));
    assign(m_screenshotShelfID, value, &AppSettings::screenshotShelfIDChanged);
}

void AppSettings::setScreenshotUseTempShelf(bool value)
{
    store(QStringLiteral("screenshotUseTempShelf"), m_screenshotUseTempShelf, value, &AppSettings::screenshotUseTempShelfChanged);
}

void AppSettings::setShelfHotkeysEnabled(bool value)
{
    store(QStringLiteral("shelfHotkeysEnabled"), m_shelfHotkeysEnabled, value, &AppSettings::shelfHotkeysEnabledChanged);
}

void AppSettings::setGlobalShortcut(GlobalShortcut value)
{
    store(QStringLiteral("globalShortcut"), m_globalShortcut, value, &AppSettings::globalShortcutChanged);
}

void AppSettings::setNewShelfShortcut(GlobalShortcut value)
{
    store(QStringLiteral("newShelfShortcut"), m_newShelfShortcut, value, &AppSettings::newShelfShortcutChanged);
}

void AppSettings::setShowInDock(bool value)
{
    store(QStringLiteral("showInDock"), m_showInDock, value, &AppSettings::showInDockChanged);
}

void AppSettings::setAutomaticUpdateChecks(bool value)
{
    store(QStringLiteral("automaticUpdateChecks"), m_automaticUpdateChecks, value, &AppSettings::automaticUpdateChecksChanged);
}

void AppSettings::setUseNightlyChannel(bool value)
{
    m_store.setBool(QStringLiteral("useNightlyChannel"), value);
    assign(m_useNightlyChannel, value, &AppSettings::useNightlyChannelChanged);
    NotificationCenter::instance().post(Notifications::updateChannelChanged);
}

void AppSettings::setHotkeyPinEnabled(bool value)
{
    store(QStringLiteral("hotkeyPinEnabled"), m_hotkeyPinEnabled, value, &AppSettings::hotkeyPinEnabledChanged);
}

void AppSettings::setHotkeyHoldUntilHotkey(bool value)
{
    store(QStringLiteral("hotkeyHoldUntilHotkey"), m_hotkeyHoldUntilHotkey, value, &AppSettings::hotkeyHoldUntilHotkeyChanged);
}

void AppSettings::setSendToFinderEnabled(bool value)
{
    store(QStringLiteral("sendToFinderEnabled"), m_sendToFinderEnabled, value, &AppSettings::sendToFinderEnabledChanged);
}

void AppSettings::setDefaultShelfID(QUuid value)
{
    m_store.setString(QStringLiteral("defaultShelfID"), uuidText(value));
    assign(m_defaultShelfID, value, &AppSettings::defaultShelfIDChanged);
}

void AppSettings::setShowZipFeature(bool value)
{
    store(QStringLiteral("showZipFeature"), m_showZipFeature, value, &AppSettings::showZipFeatureChanged);
}

void AppSettings::setShowBatchRenameFeature(bool value)
{
    store(QStringLiteral("showBatchRenameFeature"), m_showBatchRenameFeature, value, &AppSettings::showBatchRenameFeatureChanged);
}

void AppSettings::setShowSendToShelfFeature(bool value)
{
    store(QStringLiteral("showSendToShelfFeature"), m_showSendToShelfFeature, value, &AppSettings::showSendToShelfFeatureChanged);
}

void AppSettings::setShowFlattenFeature(bool value)
{
    store(QStringLiteral("showFlattenFeature"), m_showFlattenFeature, value, &AppSettings::showFlattenFeatureChanged);
}

void AppSettings::setShowConvertFeature(bool value)
{
    store(QStringLiteral("showConvertFeature"), m_showConvertFeature, value, &AppSettings::showConvertFeatureChanged);
}

void AppSettings::setClearShelfAfterConversion(bool value)
{
    store(QStringLiteral("clearShelfAfterConversion"), m_clearShelfAfterConversion, value, &AppSettings::clearShelfAfterConversionChanged);
}

void AppSettings::setCreateConvertedShelf(bool value)
{
    store(QStringLiteral("createConvertedShelf"), m_createConvertedShelf, value, &AppSettings::createConvertedShelfChanged);
}

void AppSettings::setConvDefaultOutputMode(ConversionOutputMode value)
{
    store(QStringLiteral("convDefaultOutputMode"), m_convDefaultOutputMode, value, &AppSettings::convDefaultOutputModeChanged);
}

void AppSettings::setConvDefaultVideoFormat(VideoOutputFormat value)
{
    store(QStringLiteral("convDefaultVideoFormat"), m_convDefaultVideoFormat, value, &AppSettings::convDefaultVideoFormatChanged);
}

void AppSettings::setConvDefaultProResProfile(ProResProfile value)
{
    store(QStringLiteral("convDefaultProResProfile"), m_convDefaultProResProfile, value, &AppSettings::convDefaultProResProfileChanged);
}

void AppSettings::setConvDefaultVideoCRF(VideoQualityCRF value)
{
    store(QStringLiteral("convDefaultVideoCRF"), m_convDefaultVideoCRF, value, &AppSettings::convDefaultVideoCRFChanged);
}

void AppSettings::setConvDefaultAudioFormat(AudioOutputFormat value)
{
    store(QStringLiteral("convDefaultAudioFormat"), m_convDefaultAudioFormat, value, &AppSettings::convDefaultAudioFormatChanged);
}

void AppSettings::setConvDefaultSampleRate(AudioSampleRate value)
{
    store(QStringLiteral("convDefaultSampleRate"), m_convDefaultSampleRate, value, &AppSettings::convDefaultSampleRateChanged);
}

void AppSettings::setConvDefaultChannels(AudioChannels value)
{
    store(QStringLiteral("convDefaultChannels"), m_convDefaultChannels, value, &AppSettings::convDefaultChannelsChanged);
}

void AppSettings::setConvDefaultVideoChannels(AudioChannels value)
{
    store(QStringLiteral("convDefaultVideoChannels"), m_convDefaultVideoChannels, value, &AppSettings::convDefaultVideoChannelsChanged);
}

void AppSettings::setConvDefaultFrameRate(VideoFrameRate value)
{
    store(QStringLiteral("convDefaultFrameRate"), m_convDefaultFrameRate, value, &AppSettings::convDefaultFrameRateChanged);
}

void AppSettings::setConvDefaultBurnSubtitles(bool value)
{
    store(QStringLiteral("convDefaultBurnSubtitles"), m_convDefaultBurnSubtitles, value, &AppSettings::convDefaultBurnSubtitlesChanged);
}

void AppSettings::setConvDefaultImageFormat(ImageOutputFormat value)
{
    store(QStringLiteral("convDefaultImageFormat"), m_convDefaultImageFormat, value, &AppSettings::convDefaultImageFormatChanged);
}

void AppSettings::setConvDefaultImageQuality(int value)
{
    const int clamped = std::clamp(value, 0, 100);
    m_store.setInt(QStringLiteral("convDefaultImageQuality"), clamped);
    assign(m_convDefaultImageQuality, clamped, &AppSettings::convDefaultImageQualityChanged);
}

void AppSettings::setConvDefaultImageDimensions(ImageDimensionsPreset value)
{
    store(QStringLiteral("convDefaultImageDimensions"), m_convDefaultImageDimensions, value, &AppSettings::convDefaultImageDimensionsChanged);
}

void AppSettings::setConvDefaultPreserveImageMetadata(bool value)
{
    store(QStringLiteral("convDefaultPreserveImageMetadata"), m_convDefaultPreserveImageMetadata, value, &AppSettings::convDefaultPreserveImageMetadataChanged);
}

void AppSettings::setConvDefaultRemoveImageBackground(bool value)
{
    store(QStringLiteral("convDefaultRemoveImageBackground"), m_convDefaultRemoveImageBackground, value, &AppSettings::convDefaultRemoveImageBackgroundChanged);
}

void AppSettings::setFlattenDefaultDestination(const QUrl &value)
{
    m_store.setString(QStringLiteral("flattenDefaultDestination"), pathText(value));
    assign(m_flattenDefaultDestination, value, &AppSettings::flattenDefaultDestinationChanged);
}

void AppSettings::setFlattenDuplicateMode(FlattenDuplicateMode value)
{
    store(QStringLiteral("flattenDuplicateMode"), m_flattenDuplicateMode, value, &AppSettings::flattenDuplicateModeChanged);
}

void AppSettings::setFlattenOperation(FlattenOperation value)
{
    store(QStringLiteral("flattenOperation"), m_flattenOperation, value, &AppSettings::flattenOperationChanged);
}

void AppSettings::setArchiveFormat(ArchiveFormat value)
{
    store(QStringLiteral("archiveFormat"), m_archiveFormat, value, &AppSettings::archiveFormatChanged);
}

void AppSettings::setCompressionLevel(CompressionLevel value)
{
    store(QStringLiteral("compressionLevel"), m_compressionLevel, value, &AppSettings::compressionLevelChanged);
}

void AppSettings::setArchivePassword(const QString &value)
{
    m_store.setString(QStringLiteral("archivePassword"), value);
    assign(m_archivePassword, value, &AppSettings::archivePasswordChanged);
}

void AppSettings::setArchivePasswordEnabled(bool value)
{
    store(QStringLiteral("archivePasswordEnabled"), m_archivePasswordEnabled, value, &AppSettings::archivePasswordEnabledChanged);
}

void AppSettings::setPwGenLength(int value)
{
    store(QStringLiteral("pwGenLength"), m_pwGenLength, value, &AppSettings::pwGenLengthChanged);
}

void AppSettings::setPwGenUppercase(bool value)
{
    store(QStringLiteral("pwGenUppercase"), m_pwGenUppercase, value, &AppSettings::pwGenUppercaseChanged);
}

void AppSettings::setPwGenLowercase(bool value)
{
    store(QStringLiteral("pwGenLowercase"), m_pwGenLowercase, value, &AppSettings::pwGenLowercaseChanged);
}

void AppSettings::setPwGenNumbers(bool value)
{
    store(QStringLiteral("pwGenNumbers"), m_pwGenNumbers, value, &AppSettings::pwGenNumbersChanged);
}

void AppSettings::setPwGenSymbols(bool value)
{
    store(QStringLiteral("pwGenSymbols"), m_pwGenSymbols, value, &AppSettings::pwGenSymbolsChanged);
}

void AppSettings::setPwGenSymbolSet(const QString &value)
{
    m_store.setString(QStringLiteral("pwGenSymbolSet"), value);
    assign(m_pwGenSymbolSet, value, &AppSettings::pwGenSymbolSetChanged);
}

void AppSettings::setPwGenExcludeChars(const QString &value)
{
    m_store.setString(QStringLiteral("pwGenExcludeChars"), value);
    assign(m_pwGenExcludeChars, value, &AppSettings::pwGenExcludeCharsChanged);
}

void AppSettings::setPwGenMinUppercase(int value)
{
    store(QStringLiteral("pwGenMinUppercase"), m_pwGenMinUppercase, value, &AppSettings::pwGenMinUppercaseChanged);
}

void AppSettings::setPwGenMinLowercase(int value)
{
    store(QStringLiteral("pwGenMinLowercase"), m_pwGenMinLowercase, value, &AppSettings::pwGenMinLowercaseChanged);
}

void AppSettings::setPwGenMinNumbers(int value)
{
    store(QStringLiteral("pwGenMinNumbers"), m_pwGenMinNumbers, value, &AppSettings::pwGenMinNumbersChanged);
}

void AppSettings::setPwGenMinSymbols(int value)
{
    store(QStringLiteral("pwGenMinSymbols"), m_pwGenMinSymbols, value, &AppSettings::pwGenMinSymbolsChanged);
}

