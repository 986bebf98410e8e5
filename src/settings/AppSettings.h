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

// Every user preference of the application, loaded from the settings store once when the
// object is made and written back the moment a field is set. Each field has a getter, a
// setter (writes the key at once, then runs the field's side effect) and a change signal
// (emitted when the value really changed).
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

    // General
    DragMode dragMode() const { return m_dragMode; }
    void setDragMode(DragMode value);
    bool closeWhenEmpty() const { return m_closeWhenEmpty; }
    void setCloseWhenEmpty(bool value);
    int maxFilesPerShelf() const { return m_maxFilesPerShelf; }
    void setMaxFilesPerShelf(int value);
    AppTheme theme() const { return m_theme; }
    void setTheme(AppTheme value);
    ShelfLayout shelfLayout() const { return m_shelfLayout; }
    void setShelfLayout(ShelfLayout value);
    ShelfSize shelfSize() const { return m_shelfSize; }
    void setShelfSize(ShelfSize value);
    ShelfSortOrder shelfSortOrder() const { return m_shelfSortOrder; }
    void setShelfSortOrder(ShelfSortOrder value);

    // Screenshots
    bool screenshotEnabled() const { return m_screenshotEnabled; }
    void setScreenshotEnabled(bool value);
    QUuid screenshotShelfID() const { return m_screenshotShelfID; }
    void setScreenshotShelfID(QUuid value);
    bool screenshotUseTempShelf() const { return m_screenshotUseTempShelf; }
    void setScreenshotUseTempShelf(bool value);
    const QUrl &screenshotFolder() const { return m_screenshotFolder; }
    void setScreenshotFolder(const QUrl &value);

    // Legacy shortcuts
    bool shelfHotkeysEnabled() const { return m_shelfHotkeysEnabled; }
    void setShelfHotkeysEnabled(bool value);
    const QMap<QString, QString> &shelfHotkeys() const { return m_shelfHotkeys; }
    void setShelfHotkeys(const QMap<QString, QString> &value);
    GlobalShortcut globalShortcut() const { return m_globalShortcut; }
    void setGlobalShortcut(GlobalShortcut value);
    GlobalShortcut newShelfShortcut() const { return m_newShelfShortcut; }
    void setNewShelfShortcut(GlobalShortcut value);

    // Application
    bool showInDock() const { return m_showInDock; }
    void setShowInDock(bool value);
    bool automaticUpdateChecks() const { return m_automaticUpdateChecks; }
    void setAutomaticUpdateChecks(bool value);
    bool useNightlyChannel() const { return m_useNightlyChannel; }
    void setUseNightlyChannel(bool value);
    bool hotkeyPinEnabled() const { return m_hotkeyPinEnabled; }
    void setHotkeyPinEnabled(bool value);
    bool hotkeyHoldUntilHotkey() const { return m_hotkeyHoldUntilHotkey; }
    void setHotkeyHoldUntilHotkey(bool value);
    bool sendToFinderEnabled() const { return m_sendToFinderEnabled; }
    void setSendToFinderEnabled(bool value);
    QUuid defaultShelfID() const { return m_defaultShelfID; }
    void setDefaultShelfID(QUuid value);

    // Features shown in shelf menus
    bool showZipFeature() const { return m_showZipFeature; }
    void setShowZipFeature(bool value);
    bool showBatchRenameFeature() const { return m_showBatchRenameFeature; }
    void setShowBatchRenameFeature(bool value);
    bool showSendToShelfFeature() const { return m_showSendToShelfFeature; }
    void setShowSendToShelfFeature(bool value);
    bool showFlattenFeature() const { return m_showFlattenFeature; }
    void setShowFlattenFeature(bool value);
    bool showConvertFeature() const { return m_showConvertFeature; }
    void setShowConvertFeature(bool value);

    // Conversion defaults
    bool clearShelfAfterConversion() const { return m_clearShelfAfterConversion; }
    void setClearShelfAfterConversion(bool value);
    bool createConvertedShelf() const { return m_createConvertedShelf; }
    void setCreateConvertedShelf(bool value);
    const QUrl &convDefaultOutputFolder() const { return m_convDefaultOutputFolder; }
    void setConvDefaultOutputFolder(const QUrl &value);
    ConversionOutputMode convDefaultOutputMode() const { return m_convDefaultOutputMode; }
    void setConvDefaultOutputMode(ConversionOutputMode value);
    VideoOutputFormat convDefaultVideoFormat() const { return m_convDefaultVideoFormat; }
    void setConvDefaultVideoFormat(VideoOutputFormat value);
    ProResProfile convDefaultProResProfile() const { return m_convDefaultProResProfile; }
    void setConvDefaultProResProfile(ProResProfile value);
    VideoQualityCRF convDefaultVideoCRF() const { return m_convDefaultVideoCRF; }
    void setConvDefaultVideoCRF(VideoQualityCRF value);
    AudioOutputFormat convDefaultAudioFormat() const { return m_convDefaultAudioFormat; }
    void setConvDefaultAudioFormat(AudioOutputFormat value);
    AudioSampleRate convDefaultSampleRate() const { return m_convDefaultSampleRate; }
    void setConvDefaultSampleRate(AudioSampleRate value);
    AudioChannels convDefaultChannels() const { return m_convDefaultChannels; }
    void setConvDefaultChannels(AudioChannels value);
    AudioChannels convDefaultVideoChannels() const { return m_convDefaultVideoChannels; }
    void setConvDefaultVideoChannels(AudioChannels value);
    VideoFrameRate convDefaultFrameRate() const { return m_convDefaultFrameRate; }
    void setConvDefaultFrameRate(VideoFrameRate value);
    bool convDefaultBurnSubtitles() const { return m_convDefaultBurnSubtitles; }
    void setConvDefaultBurnSubtitles(bool value);
    ImageOutputFormat convDefaultImageFormat() const { return m_convDefaultImageFormat; }
    void setConvDefaultImageFormat(ImageOutputFormat value);
    int convDefaultImageQuality() const { return m_convDefaultImageQuality; }
    void setConvDefaultImageQuality(int value);
    ImageDimensionsPreset convDefaultImageDimensions() const { return m_convDefaultImageDimensions; }
    void setConvDefaultImageDimensions(ImageDimensionsPreset value);
    bool convDefaultPreserveImageMetadata() const { return m_convDefaultPreserveImageMetadata; }
    void setConvDefaultPreserveImageMetadata(bool value);
    bool convDefaultRemoveImageBackground() const { return m_convDefaultRemoveImageBackground; }
    void setConvDefaultRemoveImageBackground(bool value);

    // Flatten and archive defaults
    const QUrl &flattenDefaultDestination() const { return m_flattenDefaultDestination; }
    void setFlattenDefaultDestination(const QUrl &value);
    FlattenDuplicateMode flattenDuplicateMode() const { return m_flattenDuplicateMode; }
    void setFlattenDuplicateMode(FlattenDuplicateMode value);
    FlattenOperation flattenOperation() const { return m_flattenOperation; }
    void setFlattenOperation(FlattenOperation value);
    ArchiveFormat archiveFormat() const { return m_archiveFormat; }
    void setArchiveFormat(ArchiveFormat value);
    CompressionLevel compressionLevel() const { return m_compressionLevel; }
    void setCompressionLevel(CompressionLevel value);
    const QString &archivePassword() const { return m_archivePassword; }
    void setArchivePassword(const QString &value);
    bool archivePasswordEnabled() const { return m_archivePasswordEnabled; }
    void setArchivePasswordEnabled(bool value);

    // Key combos (an empty optional means: not set)
    const std::optional<KeyCombo> &customShowAllCombo() const { return m_customShowAllCombo; }
    void setCustomShowAllCombo(const std::optional<KeyCombo> &value);
    const std::optional<KeyCombo> &customNewShelfCombo() const { return m_customNewShelfCombo; }
    void setCustomNewShelfCombo(const std::optional<KeyCombo> &value);
    const std::optional<KeyCombo> &customTuckLeftCombo() const { return m_customTuckLeftCombo; }
    void setCustomTuckLeftCombo(const std::optional<KeyCombo> &value);
    const std::optional<KeyCombo> &customTuckRightCombo() const { return m_customTuckRightCombo; }
    void setCustomTuckRightCombo(const std::optional<KeyCombo> &value);
    const QMap<QString, KeyCombo> &customShelfCombos() const { return m_customShelfCombos; }
    void setCustomShelfCombos(const QMap<QString, KeyCombo> &value);
    const QList<SavedColor> &savedCustomColors() const { return m_savedCustomColors; }
    void setSavedCustomColors(const QList<SavedColor> &value);

    // Password generator
    int pwGenLength() const { return m_pwGenLength; }
    void setPwGenLength(int value);
    bool pwGenUppercase() const { return m_pwGenUppercase; }
    void setPwGenUppercase(bool value);
    bool pwGenLowercase() const { return m_pwGenLowercase; }
    void setPwGenLowercase(bool value);
    bool pwGenNumbers() const { return m_pwGenNumbers; }
    void setPwGenNumbers(bool value);
    bool pwGenSymbols() const { return m_pwGenSymbols; }
    void setPwGenSymbols(bool value);
    const QString &pwGenSymbolSet() const { return m_pwGenSymbolSet; }
    void setPwGenSymbolSet(const QString &value);
    const QString &pwGenExcludeChars() const { return m_pwGenExcludeChars; }
    void setPwGenExcludeChars(const QString &value);
    int pwGenMinUppercase() const { return m_pwGenMinUppercase; }
    void setPwGenMinUppercase(int value);
    int pwGenMinLowercase() const { return m_pwGenMinLowercase; }
    void setPwGenMinLowercase(int value);
    int pwGenMinNumbers() const { return m_pwGenMinNumbers; }
    void setPwGenMinNumbers(int value);
    int pwGenMinSymbols() const { return m_pwGenMinSymbols; }
    void setPwGenMinSymbols(int value);

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
    void load();
    void migrateLegacyShortcuts();
    void saveGlobalCombos();
    void saveShelfCombos();
    void saveShelfHotkeys();
    void saveCustomColors();
    void applyScreenshotEnabled();
    void requestHotkeyRegistration();

    // Stores `value` and emits `signal` when it differs from the old value.
    template <typename T, typename Signal>
    void assign(T &member, const T &value, Signal signal);
    // Writes `value` under `key` (bool, int or an option's raw value), then assigns.
    template <typename T, typename Signal>
    void store(const QString &key, T &member, const T &value, Signal signal);
    template <typename E>
    E readEnum(const QString &key, E fallback) const;
    QUuid readUuid(const QString &key) const;
    QUrl readPath(const QString &key) const;
    QUrl readBookmark(const QString &key) const;

    SettingsStore &m_store;
    bool m_initialized = false;
    bool m_inputMonitoringGranted = true;
    bool m_launchAtLogin = false;

    // General
    DragMode m_dragMode = DragMode::copy;
    bool m_closeWhenEmpty = false;
    int m_maxFilesPerShelf = 0;
    AppTheme m_theme = AppTheme::system;
    ShelfLayout m_shelfLayout = ShelfLayout::list;
    ShelfSize m_shelfSize = ShelfSize::compact;
    ShelfSortOrder m_shelfSortOrder = ShelfSortOrder::manual;

    // Screenshots
    bool m_screenshotEnabled = false;
    QUuid m_screenshotShelfID = QUuid();
    bool m_screenshotUseTempShelf = true;
    QUrl m_screenshotFolder = QUrl();

    // Legacy shortcuts
    bool m_shelfHotkeysEnabled = false;
    QMap<QString, QString> m_shelfHotkeys = {};
    GlobalShortcut m_globalShortcut = GlobalShortcut::none;
    GlobalShortcut m_newShelfShortcut = GlobalShortcut::none;

    // Application
    bool m_showInDock = false;
    bool m_automaticUpdateChecks = true;
    bool m_useNightlyChannel = false;
    bool m_hotkeyPinEnabled = true;
    bool m_hotkeyHoldUntilHotkey = false;
    bool m_sendToFinderEnabled = true;
    QUuid m_defaultShelfID = QUuid();

    // Features shown in shelf menus
    bool m_showZipFeature = true;
    bool m_showBatchRenameFeature = true;
    bool m_showSendToShelfFeature = true;
    bool m_showFlattenFeature = true;
    bool m_showConvertFeature = true;

    // Conversion defaults
    bool m_clearShelfAfterConversion = false;
    bool m_createConvertedShelf = true;
    QUrl m_convDefaultOutputFolder = QUrl();
    ConversionOutputMode m_convDefaultOutputMode = ConversionOutputMode::flatFolder;
    VideoOutputFormat m_convDefaultVideoFormat = VideoOutputFormat::prores;
    ProResProfile m_convDefaultProResProfile = ProResProfile::p422hq;
    VideoQualityCRF m_convDefaultVideoCRF = VideoQualityCRF::high;
    AudioOutputFormat m_convDefaultAudioFormat = AudioOutputFormat::wav;
    AudioSampleRate m_convDefaultSampleRate = AudioSampleRate::original;
    AudioChannels m_convDefaultChannels = AudioChannels::original;
    AudioChannels m_convDefaultVideoChannels = AudioChannels::original;
    VideoFrameRate m_convDefaultFrameRate = VideoFrameRate::original;
    bool m_convDefaultBurnSubtitles = true;
    ImageOutputFormat m_convDefaultImageFormat = ImageOutputFormat::png;
    int m_convDefaultImageQuality = 90;
    ImageDimensionsPreset m_convDefaultImageDimensions = ImageDimensionsPreset::original;
    bool m_convDefaultPreserveImageMetadata = true;
    bool m_convDefaultRemoveImageBackground = false;

    // Flatten and archive defaults
    QUrl m_flattenDefaultDestination = QUrl();
    FlattenDuplicateMode m_flattenDuplicateMode = FlattenDuplicateMode::keepForReview;
    FlattenOperation m_flattenOperation = FlattenOperation::copy;
    ArchiveFormat m_archiveFormat = ArchiveFormat::zip;
    CompressionLevel m_compressionLevel = CompressionLevel::normal;
    QString m_archivePassword = QString();
    bool m_archivePasswordEnabled = false;

    // Key combos (an empty optional means: not set)
    std::optional<KeyCombo> m_customShowAllCombo = std::nullopt;
    std::optional<KeyCombo> m_customNewShelfCombo = std::nullopt;
    std::optional<KeyCombo> m_customTuckLeftCombo = std::nullopt;
    std::optional<KeyCombo> m_customTuckRightCombo = std::nullopt;
    QMap<QString, KeyCombo> m_customShelfCombos = {};
    QList<SavedColor> m_savedCustomColors = {};

    // Password generator
    int m_pwGenLength = 16;
    bool m_pwGenUppercase = true;
    bool m_pwGenLowercase = true;
    bool m_pwGenNumbers = true;
    bool m_pwGenSymbols = false;
    QString m_pwGenSymbolSet = QStringLiteral("!@#$%^&*");
    QString m_pwGenExcludeChars = QString();
    int m_pwGenMinUppercase = 1;
    int m_pwGenMinLowercase = 1;
    int m_pwGenMinNumbers = 1;
    int m_pwGenMinSymbols = 0;
};
