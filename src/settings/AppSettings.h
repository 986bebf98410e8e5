#pragma once

#include "conversion/ConversionOptions.h"
#include "input/KeyCombo.h"
#include "settings/SettingsEnums.h"
#include "tools/archive/ArchiveOptions.h"
#include "tools/flatten/FlattenOptions.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>
#include <type_traits>

class QColor;
class SettingsStore;

// A saved custom colour: device RGB components and alpha, each 0 … 1.
struct SavedColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
    friend bool operator==(const SavedColor &, const SavedColor &) = default;
};

// How a setting's value is handed in and out: small values by value, the rest by const
// reference.
template <typename T>
using SettingArg = std::conditional_t<std::is_scalar_v<T> || std::is_same_v<T, QUuid>, T, const T &>;

// The settings that are one value under one key, each declared once:
//   X(type, getter, setter, change signal, "key", stored form, default, side effect)
// The getter, the setter, the member (m_<getter>), the load and the store write all come from
// this line. A missing or unusable stored value loads as the default. Stored forms (see
// StoredAs in AppSettings.cpp):
//   Bool       a boolean
//   PlainBool  a boolean, number or number-like text ("yes", "1"), written as a boolean
//   Int        an integer
//   PlainInt   an integer, or any number or a number at the start of a text
//   PositivePlainInt  as PlainInt, but 0 or less gives the default
//   Percent    an integer, clamped to 0 … 100 when loaded and when set
//   Enum       the raw value (case-sensitive)
//   ImageDimensions  the raw value, or one of the aspect-ratio spellings ("9:16", "1:1")
//   Text; Uuid (upper case, "" for none); Path ("" for none); Json (compact UTF-8 data)
// The side effect (a private member function, or nullptr) runs after every set, changed or
// not, after the change signal. The change signals are written out in the class, because moc
// does not see signals made by a macro; a setter only compiles with a signal of its type.
#define PERCHBOX_APP_SETTINGS(X) \
    /* General */ \
    X(DragMode, dragMode, setDragMode, dragModeChanged, "dragMode", Enum, DragMode::copy, nullptr) \
    X(bool, closeWhenEmpty, setCloseWhenEmpty, closeWhenEmptyChanged, "closeWhenEmpty", PlainBool, false, nullptr) \
    X(int, maxFilesPerShelf, setMaxFilesPerShelf, maxFilesPerShelfChanged, "maxFilesPerShelf", PlainInt, 0, nullptr) \
    X(AppTheme, theme, setTheme, themeChanged, "theme", Enum, AppTheme::system, nullptr) \
    X(ShelfLayout, shelfLayout, setShelfLayout, shelfLayoutChanged, "shelfLayout", Enum, ShelfLayout::list, nullptr) \
    X(ShelfSize, shelfSize, setShelfSize, shelfSizeChanged, "shelfSize", Enum, ShelfSize::compact, &AppSettings::postShelfSizeChanged) \
    X(ShelfSortOrder, shelfSortOrder, setShelfSortOrder, shelfSortOrderChanged, "shelfSortOrder", Enum, ShelfSortOrder::manual, nullptr) \
    /* Screenshots */ \
    X(bool, screenshotEnabled, setScreenshotEnabled, screenshotEnabledChanged, "screenshotEnabled", Bool, false, &AppSettings::applyScreenshotEnabled) \
    X(QUuid, screenshotShelfID, setScreenshotShelfID, screenshotShelfIDChanged, "screenshotShelfID", Uuid, QUuid(), nullptr) \
    X(bool, screenshotUseTempShelf, setScreenshotUseTempShelf, screenshotUseTempShelfChanged, "screenshotUseTempShelf", Bool, true, nullptr) \
    /* Legacy shortcuts */ \
    X(bool, shelfHotkeysEnabled, setShelfHotkeysEnabled, shelfHotkeysEnabledChanged, "shelfHotkeysEnabled", Bool, false, nullptr) \
    X(LegacyShelfHotkeys, shelfHotkeys, setShelfHotkeys, shelfHotkeysChanged, "shelfHotkeys_json", Json, {}, nullptr) \
    X(GlobalShortcut, globalShortcut, setGlobalShortcut, globalShortcutChanged, "globalShortcut", Enum, GlobalShortcut::none, nullptr) \
    X(GlobalShortcut, newShelfShortcut, setNewShelfShortcut, newShelfShortcutChanged, "newShelfShortcut", Enum, GlobalShortcut::none, nullptr) \
    /* Application */ \
    X(bool, showInDock, setShowInDock, showInDockChanged, "showInDock", Bool, false, nullptr) \
    X(bool, automaticUpdateChecks, setAutomaticUpdateChecks, automaticUpdateChecksChanged, "automaticUpdateChecks", Bool, true, nullptr) \
    X(bool, useNightlyChannel, setUseNightlyChannel, useNightlyChannelChanged, "useNightlyChannel", Bool, false, &AppSettings::postUpdateChannelChanged) \
    X(bool, hotkeyPinEnabled, setHotkeyPinEnabled, hotkeyPinEnabledChanged, "hotkeyPinEnabled", Bool, true, nullptr) \
    X(bool, hotkeyHoldUntilHotkey, setHotkeyHoldUntilHotkey, hotkeyHoldUntilHotkeyChanged, "hotkeyHoldUntilHotkey", Bool, false, nullptr) \
    X(bool, sendToFinderEnabled, setSendToFinderEnabled, sendToFinderEnabledChanged, "sendToFinderEnabled", Bool, true, nullptr) \
    X(QUuid, defaultShelfID, setDefaultShelfID, defaultShelfIDChanged, "defaultShelfID", Uuid, QUuid(), nullptr) \
    /* Features shown in shelf menus */ \
    X(bool, showZipFeature, setShowZipFeature, showZipFeatureChanged, "showZipFeature", Bool, true, nullptr) \
    X(bool, showBatchRenameFeature, setShowBatchRenameFeature, showBatchRenameFeatureChanged, "showBatchRenameFeature", Bool, true, nullptr) \
    X(bool, showSendToShelfFeature, setShowSendToShelfFeature, showSendToShelfFeatureChanged, "showSendToShelfFeature", Bool, true, nullptr) \
    X(bool, showFlattenFeature, setShowFlattenFeature, showFlattenFeatureChanged, "showFlattenFeature", Bool, true, nullptr) \
    X(bool, showConvertFeature, setShowConvertFeature, showConvertFeatureChanged, "showConvertFeature", Bool, true, nullptr) \
    /* Conversion defaults */ \
    X(bool, clearShelfAfterConversion, setClearShelfAfterConversion, clearShelfAfterConversionChanged, "clearShelfAfterConversion", Bool, false, nullptr) \
    X(bool, createConvertedShelf, setCreateConvertedShelf, createConvertedShelfChanged, "createConvertedShelf", Bool, true, nullptr) \
    X(ConversionOutputMode, convDefaultOutputMode, setConvDefaultOutputMode, convDefaultOutputModeChanged, "convDefaultOutputMode", Enum, ConversionOutputMode::flatFolder, nullptr) \
    X(VideoOutputFormat, convDefaultVideoFormat, setConvDefaultVideoFormat, convDefaultVideoFormatChanged, "convDefaultVideoFormat", Enum, VideoOutputFormat::prores, nullptr) \
    X(ProResProfile, convDefaultProResProfile, setConvDefaultProResProfile, convDefaultProResProfileChanged, "convDefaultProResProfile", Enum, ProResProfile::p422hq, nullptr) \
    X(VideoQualityCRF, convDefaultVideoCRF, setConvDefaultVideoCRF, convDefaultVideoCRFChanged, "convDefaultVideoCRF", Enum, VideoQualityCRF::high, nullptr) \
    X(AudioOutputFormat, convDefaultAudioFormat, setConvDefaultAudioFormat, convDefaultAudioFormatChanged, "convDefaultAudioFormat", Enum, AudioOutputFormat::wav, nullptr) \
    X(AudioSampleRate, convDefaultSampleRate, setConvDefaultSampleRate, convDefaultSampleRateChanged, "convDefaultSampleRate", Enum, AudioSampleRate::original, nullptr) \
    X(AudioChannels, convDefaultChannels, setConvDefaultChannels, convDefaultChannelsChanged, "convDefaultChannels", Enum, AudioChannels::original, nullptr) \
    X(AudioChannels, convDefaultVideoChannels, setConvDefaultVideoChannels, convDefaultVideoChannelsChanged, "convDefaultVideoChannels", Enum, AudioChannels::original, nullptr) \
    X(VideoFrameRate, convDefaultFrameRate, setConvDefaultFrameRate, convDefaultFrameRateChanged, "convDefaultFrameRate", Enum, VideoFrameRate::original, nullptr) \
    X(bool, convDefaultBurnSubtitles, setConvDefaultBurnSubtitles, convDefaultBurnSubtitlesChanged, "convDefaultBurnSubtitles", Bool, true, nullptr) \
    X(ImageOutputFormat, convDefaultImageFormat, setConvDefaultImageFormat, convDefaultImageFormatChanged, "convDefaultImageFormat", Enum, ImageOutputFormat::png, nullptr) \
    X(int, convDefaultImageQuality, setConvDefaultImageQuality, convDefaultImageQualityChanged, "convDefaultImageQuality", Percent, 90, nullptr) \
    X(ImageDimensionsPreset, convDefaultImageDimensions, setConvDefaultImageDimensions, convDefaultImageDimensionsChanged, "convDefaultImageDimensions", ImageDimensions, ImageDimensionsPreset::original, nullptr) \
    X(bool, convDefaultPreserveImageMetadata, setConvDefaultPreserveImageMetadata, convDefaultPreserveImageMetadataChanged, "convDefaultPreserveImageMetadata", Bool, true, nullptr) \
    X(bool, convDefaultRemoveImageBackground, setConvDefaultRemoveImageBackground, convDefaultRemoveImageBackgroundChanged, "convDefaultRemoveImageBackground", Bool, false, nullptr) \
    /* Flatten and archive defaults */ \
    X(QUrl, flattenDefaultDestination, setFlattenDefaultDestination, flattenDefaultDestinationChanged, "flattenDefaultDestination", Path, QUrl(), nullptr) \
    X(FlattenDuplicateMode, flattenDuplicateMode, setFlattenDuplicateMode, flattenDuplicateModeChanged, "flattenDuplicateMode", Enum, FlattenDuplicateMode::keepForReview, nullptr) \
    X(FlattenOperation, flattenOperation, setFlattenOperation, flattenOperationChanged, "flattenOperation", Enum, FlattenOperation::copy, nullptr) \
    X(ArchiveFormat, archiveFormat, setArchiveFormat, archiveFormatChanged, "archiveFormat", Enum, ArchiveFormat::zip, nullptr) \
    X(CompressionLevel, compressionLevel, setCompressionLevel, compressionLevelChanged, "compressionLevel", Enum, CompressionLevel::normal, nullptr) \
    X(QString, archivePassword, setArchivePassword, archivePasswordChanged, "archivePassword", Text, QString(), nullptr) \
    X(bool, archivePasswordEnabled, setArchivePasswordEnabled, archivePasswordEnabledChanged, "archivePasswordEnabled", Bool, false, nullptr) \
    /* Per-shelf key combos and colours */ \
    X(ShelfCombos, customShelfCombos, setCustomShelfCombos, customShelfCombosChanged, "customShelfCombos_json", Json, {}, &AppSettings::flushAndRegisterHotkeys) \
    X(QList<SavedColor>, savedCustomColors, setSavedCustomColors, savedCustomColorsChanged, "savedCustomColors_json", Json, {}, nullptr) \
    /* Password generator */ \
    X(int, pwGenLength, setPwGenLength, pwGenLengthChanged, "pwGenLength", PositivePlainInt, 16, nullptr) \
    X(bool, pwGenUppercase, setPwGenUppercase, pwGenUppercaseChanged, "pwGenUppercase", Bool, true, nullptr) \
    X(bool, pwGenLowercase, setPwGenLowercase, pwGenLowercaseChanged, "pwGenLowercase", Bool, true, nullptr) \
    X(bool, pwGenNumbers, setPwGenNumbers, pwGenNumbersChanged, "pwGenNumbers", Bool, true, nullptr) \
    X(bool, pwGenSymbols, setPwGenSymbols, pwGenSymbolsChanged, "pwGenSymbols", Bool, false, nullptr) \
    X(QString, pwGenSymbolSet, setPwGenSymbolSet, pwGenSymbolSetChanged, "pwGenSymbolSet", Text, QStringLiteral("!@#$%^&*"), nullptr) \
    X(QString, pwGenExcludeChars, setPwGenExcludeChars, pwGenExcludeCharsChanged, "pwGenExcludeChars", Text, QString(), nullptr) \
    X(int, pwGenMinUppercase, setPwGenMinUppercase, pwGenMinUppercaseChanged, "pwGenMinUppercase", Int, 1, nullptr) \
    X(int, pwGenMinLowercase, setPwGenMinLowercase, pwGenMinLowercaseChanged, "pwGenMinLowercase", Int, 1, nullptr) \
    X(int, pwGenMinNumbers, setPwGenMinNumbers, pwGenMinNumbersChanged, "pwGenMinNumbers", Int, 1, nullptr) \
    X(int, pwGenMinSymbols, setPwGenMinSymbols, pwGenMinSymbolsChanged, "pwGenMinSymbols", Int, 0, nullptr)

// Every user preference of the application, loaded from the settings store once when the
// object is made and written back the moment a field is set. Each field has a getter, a
// setter (writes the key at once, then runs the field's side effect) and a change signal
// (emitted when the value really changed). Most fields are declared in the list above; the
// ones written out below have a storage of their own (folder bookmarks, the four
// application combos kept under one key and four more).
//
// Side effects that belong to other parts of the program are signals the application
// connects: hotkeysRegistrationRequested(), the screenshot watcher requests, and
// showInDockChanged() (taskbar presence). The shelf-size and update-channel changes are
// posted through NotificationCenter ("Perchbox.shelfSizeChanged",
// "Perchbox.updateChannelChanged").
//
// Shelf identifiers in the hot-key maps are upper-case UUID strings without braces.
// Main thread only.
class AppSettings : public QObject
{
    Q_OBJECT
public:
    // Legacy per-shelf hot-key names ("ctrl1" … "ctrl9", "none") by shelf id.
    using LegacyShelfHotkeys = QMap<QString, QString>;
    // Per-shelf combos by shelf id.
    using ShelfCombos = QMap<QString, KeyCombo>;

    // The shared instance, on SettingsStore::shared().
    static AppSettings &instance();

    // Loads every field from `store` (tests use their own store).
    explicit AppSettings(SettingsStore &store, QObject *parent = nullptr);
    ~AppSettings() override;

    SettingsStore &store() const { return m_store; }

    // False while loading, true afterwards.
    bool initialized() const { return m_initialized; }

    // Whether global key presses can be received. Always true on X11; kept settable for
    // the permission handling of other desktops.
    bool inputMonitoringGranted() const { return m_inputMonitoringGranted; }
    void setInputMonitoringGranted(bool granted);

    // Whether Perchbox starts at login (the autostart entry exists and is enabled).
    bool launchAtLogin() const { return m_launchAtLogin; }
    // Writes or removes the autostart entry; on failure returns false with the reason in
    // `error` and leaves launchAtLogin() as it was.
    bool setLaunchAtLogin(bool enabled, QString *error = nullptr);

    // Per-shelf combos. An empty combo removes the shelf's entry.
    void setShelfCombo(const std::optional<KeyCombo> &combo, const QUuid &shelfId);
    // Forgets every hot key of a deleted shelf.
    void removeShelfHotkeys(const QUuid &shelfId);
    // Drops the hot keys of every shelf that is not in `validIds`.
    void pruneShelfHotkeys(const QSet<QUuid> &validIds);
    // The "Restore Default Shortcuts" command.
    void restoreDefaultShortcuts();
    // Puts a colour at the front of the saved custom colours (at most five, no duplicates).
    void addCustomColor(const QColor &color);
    void addCustomColor(const SavedColor &color);

    static constexpr int maxSavedCustomColors = 5;
    // The canonical form of a shelf id in the hot-key maps.
    static QString shelfKey(const QUuid &id);

    // The fields of PERCHBOX_APP_SETTINGS.
#define PERCHBOX_DECLARE_SETTING(Type, getter, setter, signal, key, Form, fallback, effect) \
    SettingArg<Type> getter() const { return m_##getter; } \
    void setter(SettingArg<Type> value);
    PERCHBOX_APP_SETTINGS(PERCHBOX_DECLARE_SETTING)
#undef PERCHBOX_DECLARE_SETTING

    // Folders, each kept as a bookmark (the output folder also as a path).
    const QUrl &screenshotFolder() const { return m_screenshotFolder; }
    void setScreenshotFolder(const QUrl &value);
    const QUrl &convDefaultOutputFolder() const { return m_convDefaultOutputFolder; }
    void setConvDefaultOutputFolder(const QUrl &value);

    // The application's key combos, saved together (an empty optional means: not set).
    const std::optional<KeyCombo> &customShowAllCombo() const { return m_customShowAllCombo; }
    void setCustomShowAllCombo(const std::optional<KeyCombo> &value);
    const std::optional<KeyCombo> &customNewShelfCombo() const { return m_customNewShelfCombo; }
    void setCustomNewShelfCombo(const std::optional<KeyCombo> &value);
    const std::optional<KeyCombo> &customTuckLeftCombo() const { return m_customTuckLeftCombo; }
    void setCustomTuckLeftCombo(const std::optional<KeyCombo> &value);
    const std::optional<KeyCombo> &customTuckRightCombo() const { return m_customTuckRightCombo; }
    void setCustomTuckRightCombo(const std::optional<KeyCombo> &value);

signals:
    // Have the hot-key manager register all hot keys afresh.
    void hotkeysRegistrationRequested();
    // Start the screenshot watcher when it is not running already.
    void screenshotWatcherStartRequested();
    void screenshotWatcherStopRequested();
    // Stop and start the running watcher so that a new folder is watched.
    void screenshotWatcherRestartRequested();

    void inputMonitoringGrantedChanged(bool granted);
    void launchAtLoginChanged(bool enabled);

    // General
    void dragModeChanged(DragMode value);
    void closeWhenEmptyChanged(bool value);
    void maxFilesPerShelfChanged(int value);
    void themeChanged(AppTheme value);
    void shelfLayoutChanged(ShelfLayout value);
    void shelfSizeChanged(ShelfSize value);
    void shelfSortOrderChanged(ShelfSortOrder value);

    // Screenshots
    void screenshotEnabledChanged(bool value);
    void screenshotShelfIDChanged(QUuid value);
    void screenshotUseTempShelfChanged(bool value);
    void screenshotFolderChanged(const QUrl &value);

    // Legacy shortcuts
    void shelfHotkeysEnabledChanged(bool value);
    void shelfHotkeysChanged(const QMap<QString, QString> &value);
    void globalShortcutChanged(GlobalShortcut value);
    void newShelfShortcutChanged(GlobalShortcut value);

    // Application
    void showInDockChanged(bool value);
    void automaticUpdateChecksChanged(bool value);
    void useNightlyChannelChanged(bool value);
    void hotkeyPinEnabledChanged(bool value);
    void hotkeyHoldUntilHotkeyChanged(bool value);
    void sendToFinderEnabledChanged(bool value);
    void defaultShelfIDChanged(QUuid value);

    // Features shown in shelf menus
    void showZipFeatureChanged(bool value);
    void showBatchRenameFeatureChanged(bool value);
    void showSendToShelfFeatureChanged(bool value);
    void showFlattenFeatureChanged(bool value);
    void showConvertFeatureChanged(bool value);

    // Conversion defaults
    void clearShelfAfterConversionChanged(bool value);
    void createConvertedShelfChanged(bool value);
    void convDefaultOutputFolderChanged(const QUrl &value);
    void convDefaultOutputModeChanged(ConversionOutputMode value);
    void convDefaultVideoFormatChanged(VideoOutputFormat value);
    void convDefaultProResProfileChanged(ProResProfile value);
    void convDefaultVideoCRFChanged(VideoQualityCRF value);
    void convDefaultAudioFormatChanged(AudioOutputFormat value);
    void convDefaultSampleRateChanged(AudioSampleRate value);
    void convDefaultChannelsChanged(AudioChannels value);
    void convDefaultVideoChannelsChanged(AudioChannels value);
    void convDefaultFrameRateChanged(VideoFrameRate value);
    void convDefaultBurnSubtitlesChanged(bool value);
    void convDefaultImageFormatChanged(ImageOutputFormat value);
    void convDefaultImageQualityChanged(int value);
    void convDefaultImageDimensionsChanged(ImageDimensionsPreset value);
    void convDefaultPreserveImageMetadataChanged(bool value);
    void convDefaultRemoveImageBackgroundChanged(bool value);

    // Flatten and archive defaults
    void flattenDefaultDestinationChanged(const QUrl &value);
    void flattenDuplicateModeChanged(FlattenDuplicateMode value);
    void flattenOperationChanged(FlattenOperation value);
    void archiveFormatChanged(ArchiveFormat value);
    void compressionLevelChanged(CompressionLevel value);
    void archivePasswordChanged(const QString &value);
    void archivePasswordEnabledChanged(bool value);

    // Key combos (an empty optional means: not set)
    void customShowAllComboChanged(const std::optional<KeyCombo> &value);
    void customNewShelfComboChanged(const std::optional<KeyCombo> &value);
    void customTuckLeftComboChanged(const std::optional<KeyCombo> &value);
    void customTuckRightComboChanged(const std::optional<KeyCombo> &value);
    void customShelfCombosChanged(const QMap<QString, KeyCombo> &value);
    void savedCustomColorsChanged(const QList<SavedColor> &value);

    // Password generator
    void pwGenLengthChanged(int value);
    void pwGenUppercaseChanged(bool value);
    void pwGenLowercaseChanged(bool value);
    void pwGenNumbersChanged(bool value);
    void pwGenSymbolsChanged(bool value);
    void pwGenSymbolSetChanged(const QString &value);
    void pwGenExcludeCharsChanged(const QString &value);
    void pwGenMinUppercaseChanged(int value);
    void pwGenMinLowercaseChanged(int value);
    void pwGenMinNumbersChanged(int value);
    void pwGenMinSymbolsChanged(int value);

private:
    // The four application combos: their member in the combined "customGlobalCombos_json"
    // object, and the key of their own kept in step with it.
    struct GlobalCombo {
        const char *member;
        const char *key;
        std::optional<KeyCombo> AppSettings::*field;
    };
    static const GlobalCombo globalCombos[4];

    void load();
    void migrateLegacyShortcuts();
    void saveGlobalCombos();
    void requestHotkeyRegistration();
    // Side effects named in PERCHBOX_APP_SETTINGS.
    void postShelfSizeChanged();
    void postUpdateChannelChanged();
    void applyScreenshotEnabled();
    void flushAndRegisterHotkeys();

    // Writes `value` under `key` in the stored form `Form`, stores it in `member` and emits
    // `signal` when it differs from the old value, then runs `effect`.
    template <typename Form, typename T>
    void storeField(const QString &key, T &member, SettingArg<T> value, void (AppSettings::*signal)(SettingArg<T>),
                    void (AppSettings::*effect)());

    SettingsStore &m_store;
    bool m_initialized = false;
    bool m_inputMonitoringGranted = true;
    bool m_launchAtLogin = false;

#define PERCHBOX_SETTING_MEMBER(Type, getter, setter, signal, key, Form, fallback, effect) Type m_##getter = fallback;
    PERCHBOX_APP_SETTINGS(PERCHBOX_SETTING_MEMBER)
#undef PERCHBOX_SETTING_MEMBER

    QUrl m_screenshotFolder;
    QUrl m_convDefaultOutputFolder;
    std::optional<KeyCombo> m_customShowAllCombo;
    std::optional<KeyCombo> m_customNewShelfCombo;
    std::optional<KeyCombo> m_customTuckLeftCombo;
    std::optional<KeyCombo> m_customTuckRightCombo;
};
