#include "platform/Autostart.h"
#include "platform/FileBookmark.h"
#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const KeyCombo ctrlOptD{KeyCombo::KeyD, KeyCombo::Control | KeyCombo::Option};
const KeyCombo optD{KeyCombo::KeyD, KeyCombo::Option};
const KeyCombo optSpace{KeyCombo::KeySpace, KeyCombo::Option};

QJsonObject jsonObject(const std::optional<QByteArray> &data)
{
    return data ? QJsonDocument::fromJson(*data).object() : QJsonObject();
}

QString text(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }
QString text(int value) { return QString::number(value); }
QString text(const QString &value) { return u'"' + value + u'"'; }
QString text(const QUuid &value) { return value.isNull() ? QStringLiteral("-") : AppSettings::shelfKey(value); }
QString text(const QUrl &value) { return value.isEmpty() ? QStringLiteral("-") : value.toString(); }
QString text(const std::optional<KeyCombo> &value) { return value ? QString::fromUtf8(value->toJson()) : QStringLiteral("-"); }
QString text(const std::optional<QString> &value) { return value ? *value : QStringLiteral("-"); }
template <typename E>
    requires std::is_enum_v<E>
QString text(E value)
{
    return rawValue(value);
}
template <typename V>
QString text(const QMap<QString, V> &map)
{
    QStringList entries;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        entries << it.key() + u'=' + text(std::optional(it.value()));
    return u'{' + entries.join(u',') + u'}';
}
QString text(const QList<SavedColor> &colors)
{
    QStringList entries;
    for (const SavedColor &c : colors)
        entries << QStringLiteral("[%1 %2 %3 %4]").arg(c.red).arg(c.green).arg(c.blue).arg(c.alpha);
    return entries.join(u',');
}

// Every field as "name: value", one line each, in the order of the class.
QStringList describe(const AppSettings &s)
{
    QStringList out;
#define PB_FIELD(name) out << QStringLiteral(#name ": ") + text(s.name())
    PB_FIELD(dragMode); PB_FIELD(closeWhenEmpty); PB_FIELD(maxFilesPerShelf); PB_FIELD(theme);
    PB_FIELD(shelfLayout); PB_FIELD(shelfSize); PB_FIELD(shelfSortOrder);
    PB_FIELD(screenshotEnabled); PB_FIELD(screenshotShelfID); PB_FIELD(screenshotUseTempShelf);
    PB_FIELD(screenshotFolder);
    PB_FIELD(shelfHotkeysEnabled); PB_FIELD(shelfHotkeys); PB_FIELD(globalShortcut); PB_FIELD(newShelfShortcut);
    PB_FIELD(showInDock); PB_FIELD(automaticUpdateChecks); PB_FIELD(useNightlyChannel); PB_FIELD(hotkeyPinEnabled);
    PB_FIELD(hotkeyHoldUntilHotkey); PB_FIELD(sendToFinderEnabled); PB_FIELD(defaultShelfID);
    PB_FIELD(showZipFeature); PB_FIELD(showBatchRenameFeature); PB_FIELD(showSendToShelfFeature);
    PB_FIELD(showFlattenFeature); PB_FIELD(showConvertFeature);
    PB_FIELD(clearShelfAfterConversion); PB_FIELD(createConvertedShelf); PB_FIELD(convDefaultOutputFolder);
    PB_FIELD(convDefaultOutputMode); PB_FIELD(convDefaultVideoFormat); PB_FIELD(convDefaultProResProfile);
    PB_FIELD(convDefaultVideoCRF); PB_FIELD(convDefaultAudioFormat); PB_FIELD(convDefaultSampleRate);
    PB_FIELD(convDefaultChannels); PB_FIELD(convDefaultVideoChannels); PB_FIELD(convDefaultFrameRate);
    PB_FIELD(convDefaultBurnSubtitles); PB_FIELD(convDefaultImageFormat); PB_FIELD(convDefaultImageQuality);
    PB_FIELD(convDefaultImageDimensions); PB_FIELD(convDefaultPreserveImageMetadata);
    PB_FIELD(convDefaultRemoveImageBackground);
    PB_FIELD(flattenDefaultDestination); PB_FIELD(flattenDuplicateMode); PB_FIELD(flattenOperation);
    PB_FIELD(archiveFormat); PB_FIELD(compressionLevel); PB_FIELD(archivePassword); PB_FIELD(archivePasswordEnabled);
    PB_FIELD(customShowAllCombo); PB_FIELD(customNewShelfCombo); PB_FIELD(customTuckLeftCombo);
    PB_FIELD(customTuckRightCombo); PB_FIELD(customShelfCombos); PB_FIELD(savedCustomColors);
    PB_FIELD(pwGenLength); PB_FIELD(pwGenUppercase); PB_FIELD(pwGenLowercase); PB_FIELD(pwGenNumbers);
    PB_FIELD(pwGenSymbols); PB_FIELD(pwGenSymbolSet); PB_FIELD(pwGenExcludeChars); PB_FIELD(pwGenMinUppercase);
    PB_FIELD(pwGenMinLowercase); PB_FIELD(pwGenMinNumbers); PB_FIELD(pwGenMinSymbols);
#undef PB_FIELD
    return out;
}

// Shows where two descriptions part, rather than only that they differ.
void compareLines(const QStringList &actual, const QStringList &expected)
{
    for (qsizetype i = 0; i < std::min(actual.size(), expected.size()); ++i)
        QCOMPARE(actual.at(i), expected.at(i));
    QCOMPARE(actual.size(), expected.size());
}
} // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;
    QTemporaryDir m_files;
    std::unique_ptr<SettingsStore> m_store;

    QString storePath() const { return m_config.filePath(QStringLiteral("settings.json")); }
    // Simulates a restart: the store is saved, then read again from its file.
    SettingsStore &reopen()
    {
        m_store.reset();
        m_store = std::make_unique<SettingsStore>(storePath());
        return *m_store;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    }
    void init()
    {
        m_store.reset();
        QFile::remove(storePath());
        QFile::remove(Autostart::entryPath());
        m_store = std::make_unique<SettingsStore>(storePath());
    }
    void cleanup() { m_store.reset(); }

    void freshStoreLoadsDefaults()
    {
        AppSettings s(*m_store);
        QVERIFY(s.initialized());
        QCOMPARE(s.dragMode(), DragMode::copy);
        QCOMPARE(s.theme(), AppTheme::system);
        QCOMPARE(s.shelfLayout(), ShelfLayout::list);
        QCOMPARE(s.shelfSize(), ShelfSize::compact);
        QCOMPARE(s.shelfSortOrder(), ShelfSortOrder::manual);
        QVERIFY(!s.screenshotEnabled());
        QVERIFY(s.screenshotUseTempShelf());
        QVERIFY(s.automaticUpdateChecks());
        QVERIFY(s.showZipFeature() && s.showBatchRenameFeature() && s.showSendToShelfFeature()
                && s.showFlattenFeature() && s.showConvertFeature());
        QCOMPARE(s.archiveFormat(), ArchiveFormat::zip);
        QCOMPARE(s.compressionLevel(), CompressionLevel::normal);
        QVERIFY(!s.archivePasswordEnabled());
        QCOMPARE(s.archivePassword(), QString());
        QCOMPARE(s.convDefaultImageQuality(), 90);
        QCOMPARE(s.pwGenLength(), 16);
        QCOMPARE(s.pwGenSymbolSet(), QStringLiteral("!@#$%^&*"));
        QCOMPARE(s.convDefaultProResProfile(), ProResProfile::p422hq);
        QCOMPARE(s.convDefaultVideoCRF(), VideoQualityCRF::high);
        QCOMPARE(s.flattenDuplicateMode(), FlattenDuplicateMode::keepForReview);
        QCOMPARE(s.convDefaultImageFormat(), ImageOutputFormat::png);
        QVERIFY(!s.customShowAllCombo() && !s.customNewShelfCombo());
        QVERIFY(s.customShelfCombos().isEmpty());
        QVERIFY(s.screenshotShelfID().isNull());
        QVERIFY(s.convDefaultOutputFolder().isEmpty());
        QVERIFY(!s.launchAtLogin());
        QVERIFY(s.inputMonitoringGranted());
        // Loading writes nothing.
        QVERIFY(m_store->keys().isEmpty());
    }

    void storedValuesAreReadByTheirRules_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("quality above") << "convDefaultImageQuality" << QVariant(qint64(150)) << "quality" << QVariant(100);
        QTest::newRow("quality below") << "convDefaultImageQuality" << QVariant(qint64(-5)) << "quality" << QVariant(0);
        QTest::newRow("quality string") << "convDefaultImageQuality" << QVariant("50") << "quality" << QVariant(90);
        QTest::newRow("drag upper case") << "dragMode" << QVariant("MOVE") << "dragMode" << QVariant(int(DragMode::copy));
        QTest::newRow("drag move") << "dragMode" << QVariant("move") << "dragMode" << QVariant(int(DragMode::move));
        QTest::newRow("bool as string") << "automaticUpdateChecks" << QVariant("false") << "updates" << QVariant(true);
        QTest::newRow("bool as int") << "automaticUpdateChecks" << QVariant(qint64(0)) << "updates" << QVariant(true);
        QTest::newRow("closeWhenEmpty plain yes") << "closeWhenEmpty" << QVariant("YES") << "close" << QVariant(true);
        QTest::newRow("closeWhenEmpty plain int") << "closeWhenEmpty" << QVariant(qint64(1)) << "close" << QVariant(true);
        QTest::newRow("max files string") << "maxFilesPerShelf" << QVariant("12") << "maxFiles" << QVariant(12);
        QTest::newRow("pw length zero") << "pwGenLength" << QVariant(qint64(0)) << "pwLength" << QVariant(16);
        QTest::newRow("pw length negative") << "pwGenLength" << QVariant(qint64(-4)) << "pwLength" << QVariant(16);
        QTest::newRow("pw length 40") << "pwGenLength" << QVariant(qint64(40)) << "pwLength" << QVariant(40);
        QTest::newRow("pw min mistyped") << "pwGenMinNumbers" << QVariant("3") << "pwMinNumbers" << QVariant(1);
        QTest::newRow("dims 9:16") << "convDefaultImageDimensions" << QVariant("9:16") << "dims" << QVariant(int(ImageDimensionsPreset::sixteenByNine));
        QTest::newRow("dims 2:1") << "convDefaultImageDimensions" << QVariant("2:1") << "dims" << QVariant(int(ImageDimensionsPreset::original));
        QTest::newRow("image format unknown") << "convDefaultImageFormat" << QVariant("com.microsoft.bmp") << "imageFormat" << QVariant(int(ImageOutputFormat::png));
        QTest::newRow("image format tiff") << "convDefaultImageFormat" << QVariant("public.tiff") << "imageFormat" << QVariant(int(ImageOutputFormat::tiff));
        QTest::newRow("uuid garbage") << "defaultShelfID" << QVariant("not-a-uuid") << "defaultShelf" << QVariant(QString());
        QTest::newRow("uuid lower case") << "defaultShelfID" << QVariant("0a1b2c3d-0000-4000-8000-00000000000f") << "defaultShelf" << QVariant(QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000F"));
    }
    void storedValuesAreReadByTheirRules()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QString, field);
        QFETCH(QVariant, expected);
        if (stored.typeId() == QMetaType::LongLong)
            m_store->setInt(key, stored.toLongLong());
        else
            m_store->setString(key, stored.toString());
        AppSettings s(*m_store);
        const QHash<QString, QVariant> actual{
            {"quality", s.convDefaultImageQuality()},
            {"dragMode", int(s.dragMode())},
            {"updates", s.automaticUpdateChecks()},
            {"close", s.closeWhenEmpty()},
            {"maxFiles", s.maxFilesPerShelf()},
            {"pwLength", s.pwGenLength()},
            {"pwMinNumbers", s.pwGenMinNumbers()},
            {"dims", int(s.convDefaultImageDimensions())},
            {"imageFormat", int(s.convDefaultImageFormat())},
            {"defaultShelf", s.defaultShelfID().isNull() ? QString() : AppSettings::shelfKey(s.defaultShelfID())},
        };
        QCOMPARE(actual.value(field), expected);
        // The bad value stays in the store until the field is written.
        QVERIFY(m_store->contains(key));
    }

    // Every setter, each with a value other than its default, writes the file below, byte for
    // byte (machine-dependent parts replaced: the scratch folder and the bookmark bytes).
    void everySetterWritesTheGoldenFile()
    {
        const QString exports = m_files.filePath(QStringLiteral("Exports ü"));
        const QString shots = m_files.filePath(QStringLiteral("Shots"));
        QVERIFY(QDir().mkpath(exports) && QDir().mkpath(shots));
        const QUuid shelfA = QUuid::fromString(QStringLiteral("0a1b2c3d-0000-4000-8000-00000000000f"));
        const QUuid shelfB = QUuid::fromString(QStringLiteral("{f0e1d2c3-1111-4222-8333-444455556666}"));
        QStringList described;
        {
            AppSettings s(*m_store);
            s.setDragMode(DragMode::move);
            s.setCloseWhenEmpty(true);
            s.setMaxFilesPerShelf(250);
            s.setTheme(AppTheme::onyx);
            s.setShelfLayout(ShelfLayout::grid);
            s.setShelfSize(ShelfSize::large);
            s.setShelfSortOrder(ShelfSortOrder::dateAsc);
            s.setScreenshotEnabled(true);
            s.setScreenshotShelfID(shelfA);
            s.setScreenshotUseTempShelf(false);
            s.setScreenshotFolder(QUrl::fromLocalFile(shots));
            s.setShelfHotkeysEnabled(true);
            s.setShelfHotkeys({{AppSettings::shelfKey(shelfA), "ctrl4"}, {AppSettings::shelfKey(shelfB), "none"}});
            s.setGlobalShortcut(GlobalShortcut::ctrlOptionD);
            s.setNewShelfShortcut(GlobalShortcut::optionSpace);
            s.setShowInDock(true);
            s.setAutomaticUpdateChecks(false);
            s.setUseNightlyChannel(true);
            s.setHotkeyPinEnabled(false);
            s.setHotkeyHoldUntilHotkey(true);
            s.setSendToFinderEnabled(false);
            s.setDefaultShelfID(shelfB);
            s.setShowZipFeature(false);
            s.setShowBatchRenameFeature(false);
            s.setShowSendToShelfFeature(false);
            s.setShowFlattenFeature(false);
            s.setShowConvertFeature(false);
            s.setClearShelfAfterConversion(true);
            s.setCreateConvertedShelf(false);
            s.setConvDefaultOutputFolder(QUrl::fromLocalFile(exports));
            s.setConvDefaultOutputMode(ConversionOutputMode::mirrorTree);
            s.setConvDefaultVideoFormat(VideoOutputFormat::h265);
            s.setConvDefaultProResProfile(ProResProfile::p4444xq);
            s.setConvDefaultVideoCRF(VideoQualityCRF::veryHigh);
            s.setConvDefaultAudioFormat(AudioOutputFormat::m4a);
            s.setConvDefaultSampleRate(AudioSampleRate::r88200);
            s.setConvDefaultChannels(AudioChannels::mono);
            s.setConvDefaultVideoChannels(AudioChannels::stereo);
            s.setConvDefaultFrameRate(VideoFrameRate::f2397);
            s.setConvDefaultBurnSubtitles(false);
            s.setConvDefaultImageFormat(ImageOutputFormat::webp);
            s.setConvDefaultImageQuality(-20); // clamped to 0
            s.setConvDefaultImageDimensions(ImageDimensionsPreset::fiveByFour);
            s.setConvDefaultPreserveImageMetadata(false);
            s.setConvDefaultRemoveImageBackground(true);
            s.setFlattenDefaultDestination(QUrl::fromLocalFile(QStringLiteral("/srv/flat \"out\"/€")));
            s.setFlattenDuplicateMode(FlattenDuplicateMode::overwriteNewest);
            s.setFlattenOperation(FlattenOperation::move);
            s.setArchiveFormat(ArchiveFormat::tarGz);
            s.setCompressionLevel(CompressionLevel::max);
            s.setArchivePassword(QStringLiteral("pa\"ss\\wörd 🔑"));
            s.setArchivePasswordEnabled(true);
            s.setCustomShowAllCombo(optSpace);
            s.setCustomNewShelfCombo(ctrlOptD);
            s.setCustomTuckLeftCombo(KeyCombo{KeyCombo::functionKeyCode(7), KeyCombo::Shift});
            s.setCustomTuckRightCombo(KeyCombo{KeyCombo::digitKeyCode(0), KeyCombo::Command});
            s.setCustomShelfCombos({{AppSettings::shelfKey(shelfA), optD}, {AppSettings::shelfKey(shelfB), ctrlOptD}});
            s.setSavedCustomColors({SavedColor{0.25, 0.5, 0.75, 1}, SavedColor{1, 0, 0.1, 0.5}});
            s.setPwGenLength(64);
            s.setPwGenUppercase(false);
            s.setPwGenLowercase(false);
            s.setPwGenNumbers(false);
            s.setPwGenSymbols(true);
            s.setPwGenSymbolSet(QStringLiteral("-_=+?"));
            s.setPwGenExcludeChars(QStringLiteral("0Ol1I|`\""));
            s.setPwGenMinUppercase(2);
            s.setPwGenMinLowercase(3);
            s.setPwGenMinNumbers(4);
            s.setPwGenMinSymbols(5);
            described = describe(s);
        }
        m_store.reset(); // saves

        QFile file(storePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString written = QString::fromUtf8(file.readAll());
        for (const QString &folder : {exports, shots})
            written.replace(QString::fromLatin1(FileBookmark::create(QUrl::fromLocalFile(folder)).toBase64()),
                            QStringLiteral("<bookmark of %1>").arg(QFileInfo(folder).fileName()));
        written.replace(m_files.path(), QStringLiteral("$FILES"));
        QFile golden(QStringLiteral(PERCHBOX_TEST_DATA "/data/every-setting.golden.json"));
        QVERIFY2(golden.open(QIODevice::ReadOnly), qPrintable(golden.fileName()));
        compareLines(written.split(u'\n'), QString::fromUtf8(golden.readAll()).split(u'\n'));
        if (QTest::currentTestFailed())
            return;

        // And every field reads back as it was set.
        compareLines(describe(AppSettings(reopen())), described);
    }

    // A store from an older version, with values of the wrong type or out of range: what
    // every field loads as, and what the migration leaves in the store.
    void oldAndOutOfRangeValuesLoad()
    {
        const QString keep = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000F");
        const QString move = QStringLiteral("F0E1D2C3-1111-4222-8333-444455556666");
        const QString folder = m_files.filePath(QStringLiteral("Old Exports"));
        QVERIFY(QDir().mkpath(folder));
        m_store->setString("dragMode", "MOVE");
        m_store->setString("closeWhenEmpty", "yes");
        m_store->setDouble("maxFilesPerShelf", 1e12);
        m_store->setString("theme", "retro");
        m_store->setString("shelfLayout", "");
        m_store->setInt("shelfSize", 1);
        m_store->setString("shelfSortOrder", "sizeDesc");
        m_store->setString("screenshotEnabled", "true");
        m_store->setString("screenshotShelfID", "{0a1b2c3d-0000-4000-8000-00000000000f}");
        m_store->setBool("screenshotUseTempShelf", false);
        m_store->setData("screenshotFolderBookmark", "not a bookmark");
        m_store->setBool("shelfHotkeysEnabled", true);
        m_store->setData("shelfHotkeys_json", QJsonDocument(QJsonObject{{keep, "ctrl3"}, {move, "ctrl9"}, {"x", "ctrl0"}}).toJson());
        m_store->setString("globalShortcut", "optionD");
        m_store->setString("newShelfShortcut", "optionSpace");
        m_store->setInt("showInDock", 1);
        m_store->setBool("automaticUpdateChecks", false);
        m_store->setString("defaultShelfID", "");
        m_store->setBool("showFlattenFeature", false);
        m_store->setString("convDefaultOutputFolder", folder);
        m_store->setString("convDefaultOutputMode", "overwrite");
        m_store->setString("convDefaultVideoFormat", "H264");
        m_store->setString("convDefaultProResProfile", "6");
        m_store->setString("convDefaultVideoCRF", "23");
        m_store->setString("convDefaultSampleRate", "44100");
        m_store->setString("convDefaultChannels", "3");
        m_store->setString("convDefaultFrameRate", "25");
        m_store->setInt("convDefaultImageFormat", 2);
        m_store->setInt("convDefaultImageQuality", 4'000'000'000'000);
        m_store->setString("convDefaultImageDimensions", "1920:1080");
        m_store->setString("flattenDefaultDestination", "");
        m_store->setString("flattenDuplicateMode", "keepBoth");
        m_store->setString("archiveFormat", "7z");
        m_store->setString("compressionLevel", "Max");
        m_store->setInt("archivePassword", 1234);
        m_store->setData("customShowAllCombo", ctrlOptD.toJson());
        m_store->setData("customTuckLeftCombo", "{\"keyCode\": 97}");
        m_store->setData("customTuckRightCombo", KeyCombo{KeyCombo::functionKeyCode(12), 0}.toJson());
        m_store->setData("customShelfCombos_json", QJsonDocument(QJsonObject{{keep, optSpace.toJsonObject()}}).toJson());
        m_store->setData("savedCustomColors_json", "[[0.5, 0.25, 1, 1], [2, -1, 0, 0.5]]");
        m_store->setString("pwGenLength", "24 chars");
        m_store->setString("pwGenUppercase", "false");
        m_store->setBool("pwGenSymbols", true);
        m_store->setData("pwGenSymbolSet", "#");
        m_store->setString("pwGenExcludeChars", "");
        m_store->setInt("pwGenMinUppercase", -3);
        m_store->setInt("pwGenMinLowercase", -5'000'000'000);
        m_store->setDouble("pwGenMinNumbers", 2.0);
        m_store->setBool("pwGenMinSymbols", true);

        const QStringList expected{
            "dragMode: copy",
            "closeWhenEmpty: true",
            "maxFilesPerShelf: 2147483647",
            "theme: retro",
            "shelfLayout: list",
            "shelfSize: compact",
            "shelfSortOrder: sizeDesc",
            "screenshotEnabled: false",
            "screenshotShelfID: 0A1B2C3D-0000-4000-8000-00000000000F",
            "screenshotUseTempShelf: false",
            "screenshotFolder: -",
            "shelfHotkeysEnabled: false",
            "shelfHotkeys: {}",
            "globalShortcut: none",
            "newShelfShortcut: none",
            "showInDock: false",
            "automaticUpdateChecks: false",
            "useNightlyChannel: false",
            "hotkeyPinEnabled: true",
            "hotkeyHoldUntilHotkey: false",
            "sendToFinderEnabled: true",
            "defaultShelfID: -",
            "showZipFeature: true",
            "showBatchRenameFeature: true",
            "showSendToShelfFeature: true",
            "showFlattenFeature: false",
            "showConvertFeature: true",
            "clearShelfAfterConversion: false",
            "createConvertedShelf: true",
            "convDefaultOutputFolder: " + QUrl::fromLocalFile(folder).toString(),
            "convDefaultOutputMode: overwrite",
            "convDefaultVideoFormat: prores",
            "convDefaultProResProfile: 3",
            "convDefaultVideoCRF: 23",
            "convDefaultAudioFormat: wav",
            "convDefaultSampleRate: 44100",
            "convDefaultChannels: original",
            "convDefaultVideoChannels: original",
            "convDefaultFrameRate: 25",
            "convDefaultBurnSubtitles: true",
            "convDefaultImageFormat: public.png",
            "convDefaultImageQuality: 100",
            "convDefaultImageDimensions: 16:9",
            "convDefaultPreserveImageMetadata: true",
            "convDefaultRemoveImageBackground: false",
            "flattenDefaultDestination: -",
            "flattenDuplicateMode: keepForReview",
            "flattenOperation: copy",
            "archiveFormat: 7z",
            "compressionLevel: normal",
            "archivePassword: \"\"",
            "archivePasswordEnabled: false",
            // The separate keys are read (there is no combined object); the legacy
            // shortcut fills only the combo that is still empty.
            "customShowAllCombo: " + QString::fromUtf8(ctrlOptD.toJson()),
            "customNewShelfCombo: " + QString::fromUtf8(optSpace.toJson()),
            "customTuckLeftCombo: -",
            "customTuckRightCombo: " + QString::fromUtf8(KeyCombo{KeyCombo::functionKeyCode(12), 0}.toJson()),
            "customShelfCombos: {" + keep + "=" + QString::fromUtf8(optSpace.toJson()) + "," + move + "="
                + QString::fromUtf8(KeyCombo{KeyCombo::digitKeyCode(9), KeyCombo::Control}.toJson()) + "}",
            "savedCustomColors: [0.5 0.25 1 1],[2 -1 0 0.5]",
            "pwGenLength: 24",
            "pwGenUppercase: true",
            "pwGenLowercase: true",
            "pwGenNumbers: true",
            "pwGenSymbols: true",
            "pwGenSymbolSet: \"!@#$%^&*\"",
            "pwGenExcludeChars: \"\"",
            "pwGenMinUppercase: -3",
            "pwGenMinLowercase: -2147483648",
            "pwGenMinNumbers: 1",
            "pwGenMinSymbols: 0",
        };
        {
            AppSettings s(reopen());
            compareLines(describe(s), expected);
            if (QTest::currentTestFailed())
                return;
        }
        // The migration wrote its results; the mistyped values it did not touch stay.
        QCOMPARE(m_store->stringValue("globalShortcut"), std::optional<QString>("none"));
        QCOMPARE(m_store->stringValue("newShelfShortcut"), std::optional<QString>("none"));
        QCOMPARE(m_store->boolValue("shelfHotkeysEnabled"), std::optional<bool>(false));
        QCOMPARE(m_store->dataValue("shelfHotkeys_json"), std::optional<QByteArray>("{}"));
        QCOMPARE(jsonObject(m_store->dataValue("customGlobalCombos_json")).keys(),
                 QStringList({"newShelf", "showAll", "tuckRight"}));
        QCOMPARE(jsonObject(m_store->dataValue("customShelfCombos_json")).keys(), QStringList({keep, move}));
        QCOMPARE(m_store->dataValue("customTuckLeftCombo"), std::nullopt);
        QCOMPARE(m_store->stringValue("dragMode"), std::optional<QString>("MOVE"));
        QCOMPARE(m_store->intValue("convDefaultImageQuality"), std::optional<qint64>(4'000'000'000'000));
        QCOMPARE(m_store->dataValue("screenshotFolderBookmark"), std::optional<QByteArray>("not a bookmark"));
    }

    void settersWriteAtOnceAndSurviveARestart()
    {
        const QUuid shelf = QUuid::createUuid();
        {
            AppSettings s(*m_store);
            QSignalSpy themeSpy(&s, &AppSettings::themeChanged);
            s.setTheme(AppTheme::retro);
            s.setTheme(AppTheme::retro);
            QCOMPARE(themeSpy.count(), 1); // told once per real change
            QCOMPARE(m_store->stringValue("theme"), std::optional<QString>("retro"));
            s.setConvDefaultVideoCRF(VideoQualityCRF::low);
            s.setArchiveFormat(ArchiveFormat::sevenZip);
            s.setConvDefaultFrameRate(VideoFrameRate::f2997);
            s.setScreenshotShelfID(shelf);
            s.setFlattenDefaultDestination(QUrl::fromLocalFile(QStringLiteral("/tmp/out dir")));
            s.setPwGenExcludeChars(QStringLiteral("0Ol1I|`\""));
            s.setConvDefaultImageQuality(250);
            s.setMaxFilesPerShelf(7);
        }
        QCOMPARE(m_store->stringValue("convDefaultVideoCRF"), std::optional<QString>("28"));
        QCOMPARE(m_store->stringValue("archiveFormat"), std::optional<QString>("7z"));
        QCOMPARE(m_store->stringValue("convDefaultFrameRate"), std::optional<QString>("30000/1001"));
        QCOMPARE(m_store->stringValue("screenshotShelfID"), std::optional<QString>(AppSettings::shelfKey(shelf)));
        QCOMPARE(m_store->stringValue("flattenDefaultDestination"), std::optional<QString>("/tmp/out dir"));
        AppSettings s(reopen());
        QCOMPARE(s.theme(), AppTheme::retro);
        QCOMPARE(s.convDefaultVideoCRF(), VideoQualityCRF::low);
        QCOMPARE(s.archiveFormat(), ArchiveFormat::sevenZip);
        QCOMPARE(s.convDefaultFrameRate(), VideoFrameRate::f2997);
        QCOMPARE(s.screenshotShelfID(), shelf);
        QCOMPARE(s.flattenDefaultDestination(), QUrl::fromLocalFile(QStringLiteral("/tmp/out dir")));
        QCOMPARE(s.pwGenExcludeChars(), QStringLiteral("0Ol1I|`\""));
        QCOMPARE(s.convDefaultImageQuality(), 100);
        QCOMPARE(s.maxFilesPerShelf(), 7);
    }

    void sideEffectsReachTheirListeners()
    {
        AppSettings s(*m_store);
        QStringList posted;
        QObject context;
        NotificationCenter::instance().observe(Notifications::shelfSizeChanged, &context,
                                               [&](const QVariantMap &) { posted << "size"; });
        NotificationCenter::instance().observe(Notifications::updateChannelChanged, &context,
                                               [&](const QVariantMap &) { posted << "channel"; });
        s.setShelfSize(ShelfSize::large);
        s.setUseNightlyChannel(true);
        QCOMPARE(posted, QStringList({"size", "channel"}));

        QSignalSpy start(&s, &AppSettings::screenshotWatcherStartRequested);
        QSignalSpy stop(&s, &AppSettings::screenshotWatcherStopRequested);
        QSignalSpy restart(&s, &AppSettings::screenshotWatcherRestartRequested);
        QSignalSpy dock(&s, &AppSettings::showInDockChanged);
        s.setScreenshotFolder(QUrl::fromLocalFile(m_files.path())); // watcher off: no restart
        QCOMPARE(restart.count(), 0);
        s.setScreenshotEnabled(true);
        s.setScreenshotFolder(QUrl());
        s.setScreenshotEnabled(false);
        QCOMPARE(start.count(), 1);
        QCOMPARE(restart.count(), 1);
        QCOMPARE(stop.count(), 1);
        QVERIFY(!m_store->contains("screenshotFolderBookmark"));
        s.setShowInDock(true);
        QCOMPARE(dock.count(), 1);
        QCOMPARE(dock.first().first().toBool(), true);
    }

    void foldersAreStoredAsPathAndBookmark()
    {
        const QString folder = m_files.filePath(QStringLiteral("Exports"));
        QVERIFY(QDir().mkpath(folder));
        {
            AppSettings s(*m_store);
            s.setConvDefaultOutputFolder(QUrl::fromLocalFile(folder));
            QCOMPARE(m_store->stringValue("convDefaultOutputFolder"), std::optional<QString>(folder));
            QVERIFY(m_store->dataValue("convDefaultOutputFolderBookmark"));
            s.setScreenshotFolder(QUrl::fromLocalFile(folder));
            QVERIFY(m_store->dataValue("screenshotFolderBookmark"));
        }
        {
            AppSettings s(reopen());
            QCOMPARE(s.convDefaultOutputFolder().toLocalFile(), folder);
            QCOMPARE(s.screenshotFolder().toLocalFile(), folder);
            // Clearing writes "" and removes the bookmark.
            s.setConvDefaultOutputFolder(QUrl());
            QCOMPARE(m_store->stringValue("convDefaultOutputFolder"), std::optional<QString>(QString()));
            QVERIFY(!m_store->contains("convDefaultOutputFolderBookmark"));
        }
        // A bookmark that cannot be resolved loads as empty even with a path beside it.
        m_store->setString("convDefaultOutputFolder", folder);
        m_store->setData("convDefaultOutputFolderBookmark", "garbage");
        QVERIFY(AppSettings(*m_store).convDefaultOutputFolder().isEmpty());
        // Without bookmark data the path is used.
        m_store->remove("convDefaultOutputFolderBookmark");
        QCOMPARE(AppSettings(*m_store).convDefaultOutputFolder().toLocalFile(), folder);
    }

    void globalComboSavesKeepAllKeysInStep()
    {
        AppSettings s(*m_store);
        QSignalSpy register_(&s, &AppSettings::hotkeysRegistrationRequested);
        s.setCustomTuckLeftCombo(KeyCombo{KeyCombo::functionKeyCode(5), 0});
        s.setCustomShowAllCombo(ctrlOptD);
        QCOMPARE(register_.count(), 2);

        const QJsonObject stored = jsonObject(m_store->dataValue("customGlobalCombos_json"));
        QCOMPARE(stored.keys(), QStringList({"showAll", "tuckLeft"}));
        QCOMPARE(KeyCombo::fromJsonObject(stored["showAll"].toObject()), std::optional(ctrlOptD));
        QCOMPARE(KeyCombo::fromJson(*m_store->dataValue("customShowAllCombo")), std::optional(ctrlOptD));
        QVERIFY(m_store->contains("customTuckLeftCombo"));
        QVERIFY(!m_store->contains("customNewShelfCombo"));
        QVERIFY(!m_store->isDirty()); // flushed with the save

        s.setCustomTuckLeftCombo(std::nullopt);
        QVERIFY(!m_store->contains("customTuckLeftCombo"));
        QVERIFY(!jsonObject(m_store->dataValue("customGlobalCombos_json")).contains("tuckLeft"));
    }

    void globalCombosFallBackToTheSeparateKeys()
    {
        m_store->setData("customGlobalCombos_json", "{\"showAll\": {\"keyCode\": \"x\"}}");
        m_store->setData("customNewShelfCombo", optD.toJson());
        m_store->setData("customTuckRightCombo", "not json");
        AppSettings s(*m_store);
        QVERIFY(!s.customShowAllCombo());
        QCOMPARE(s.customNewShelfCombo(), std::optional(optD));
        QVERIFY(!s.customTuckRightCombo());

        // A decodable combined object wins over the separate keys.
        m_store->setData("customGlobalCombos_json", "{}");
        QVERIFY(!AppSettings(*m_store).customNewShelfCombo());
    }

    void legacyGlobalShortcutMigrates()
    {
        m_store->setString("globalShortcut", "optionSpace");
        m_store->setString("newShelfShortcut", "ctrlOptionD");
        AppSettings s(*m_store);
        QCOMPARE(s.customShowAllCombo(), std::optional(optSpace));
        QCOMPARE(s.customNewShelfCombo(), std::optional(ctrlOptD));
        QCOMPARE(s.globalShortcut(), GlobalShortcut::none);
        QCOMPARE(m_store->stringValue("globalShortcut"), std::optional<QString>("none"));
        QCOMPARE(m_store->stringValue("newShelfShortcut"), std::optional<QString>("none"));
        QCOMPARE(m_store->boolValue("shelfHotkeysEnabled"), std::optional<bool>(false));
        QVERIFY(jsonObject(m_store->dataValue("customGlobalCombos_json")).contains("showAll"));
        QVERIFY(!m_store->isDirty());
        // Runs once: a second start finds nothing legacy.
        AppSettings again(reopen());
        QCOMPARE(again.customShowAllCombo(), std::optional(optSpace));
    }

    void legacyShelfHotkeysMigrate()
    {
        const QString keep = AppSettings::shelfKey(QUuid::createUuid());
        const QString move = AppSettings::shelfKey(QUuid::createUuid());
        const QString none = AppSettings::shelfKey(QUuid::createUuid());
        const KeyCombo custom{KeyCombo::functionKeyCode(2), KeyCombo::Shift};
        m_store->setData("shelfHotkeys_json",
                         QJsonDocument(QJsonObject{{keep, "ctrl3"}, {move, "ctrl5"}, {none, "none"}}).toJson());
        m_store->setData("customShelfCombos_json",
                         QJsonDocument(QJsonObject{{keep, custom.toJsonObject()}}).toJson());
        m_store->setBool("shelfHotkeysEnabled", true);
        AppSettings s(*m_store);
        QCOMPARE(s.customShelfCombos().value(keep), custom);
        QCOMPARE(s.customShelfCombos().value(move), (KeyCombo{23, KeyCombo::Control})); // digit 5
        QVERIFY(!s.customShelfCombos().contains(none));
        QVERIFY(s.shelfHotkeys().isEmpty());
        QVERIFY(!s.shelfHotkeysEnabled());
        QCOMPARE(jsonObject(m_store->dataValue("customShelfCombos_json")).size(), 2);
        QVERIFY(jsonObject(m_store->dataValue("shelfHotkeys_json")).isEmpty());
    }

    void nothingLegacyMeansNoMigration()
    {
        const QString shelf = AppSettings::shelfKey(QUuid::createUuid());
        m_store->setData("shelfHotkeys_json", QJsonDocument(QJsonObject{{shelf, "ctrl0"}}).toJson());
        m_store->setString("globalShortcut", "optionD");
        m_store->setData("customShowAllCombo", ctrlOptD.toJson()); // already has a combo
        AppSettings s(*m_store);
        QCOMPARE(s.customShowAllCombo(), std::optional(ctrlOptD));
        QCOMPARE(s.globalShortcut(), GlobalShortcut::optionD);
        QCOMPARE(s.shelfHotkeys().value(shelf), QStringLiteral("ctrl0"));
        QVERIFY(!m_store->contains("customGlobalCombos_json"));
    }

    void restoreDefaultShortcuts()
    {
        AppSettings s(*m_store);
        s.setShelfCombo(KeyCombo{0, KeyCombo::Command}, QUuid::createUuid());
        s.setCustomTuckRightCombo(optSpace);
        s.restoreDefaultShortcuts();
        QCOMPARE(s.customShowAllCombo(), std::optional(ctrlOptD));
        QCOMPARE(s.customNewShelfCombo(), std::optional(optD));
        QVERIFY(!s.customTuckLeftCombo() && !s.customTuckRightCombo());
        QVERIFY(s.customShelfCombos().isEmpty());
        QCOMPARE(s.customShowAllCombo()->displayText(), QStringLiteral("Ctrl+Alt+D"));
        QCOMPARE(s.customNewShelfCombo()->displayText(), QStringLiteral("Alt+D"));
    }

    void shelfHotkeysAreSetRemovedAndPruned()
    {
        const QUuid a = QUuid::createUuid(), b = QUuid::createUuid(), c = QUuid::createUuid();
        const KeyCombo combo{KeyCombo::digitKeyCode(1), KeyCombo::Control};
        AppSettings s(*m_store);
        s.setShelfHotkeys({{AppSettings::shelfKey(a), "ctrl1"}, {AppSettings::shelfKey(b), "ctrl2"}});
        QSignalSpy register_(&s, &AppSettings::hotkeysRegistrationRequested);

        s.setShelfCombo(combo, a);
        QCOMPARE(register_.count(), 1);
        QCOMPARE(s.customShelfCombos().value(AppSettings::shelfKey(a)), combo);
        QVERIFY(!s.shelfHotkeys().contains(AppSettings::shelfKey(a))); // legacy entry dropped
        // The combos were flushed to disk at once.
        QVERIFY(jsonObject(SettingsStore(storePath()).dataValue("customShelfCombos_json"))
                    .contains(AppSettings::shelfKey(a)));

        s.setShelfCombo(std::nullopt, a);
        QVERIFY(s.customShelfCombos().isEmpty());

        s.setShelfCombo(combo, c);
        register_.clear();
        s.removeShelfHotkeys(a); // nothing left for a: no save, no re-registration
        QCOMPARE(register_.count(), 0);
        s.removeShelfHotkeys(b);
        QVERIFY(s.shelfHotkeys().isEmpty());
        QCOMPARE(register_.count(), 0);

        // Keys that are not the canonical upper-case id of a live shelf are pruned.
        QMap<QString, KeyCombo> combos = s.customShelfCombos();
        combos.insert(c.toString(QUuid::WithoutBraces), combo); // lower case
        combos.insert(AppSettings::shelfKey(b), combo);
        s.setCustomShelfCombos(combos);
        register_.clear();
        s.pruneShelfHotkeys({c});
        QCOMPARE(s.customShelfCombos().keys(), QStringList({AppSettings::shelfKey(c)}));
        QCOMPARE(register_.count(), 1);
        s.pruneShelfHotkeys({c});
        QCOMPARE(register_.count(), 1); // unchanged: not saved again
    }

    void customColoursKeepFiveNewestFirst()
    {
        AppSettings s(*m_store);
        for (int i = 0; i < 6; ++i)
            s.addCustomColor(QColor::fromRgbF(i / 10.0, 0.5, 0.25, 1.0));
        QCOMPARE(s.savedCustomColors().size(), 5);
        QCOMPARE(s.savedCustomColors().first().red, QColor::fromRgbF(0.5, 0, 0).redF());
        QCOMPARE(s.savedCustomColors().last().red, QColor::fromRgbF(0.1, 0, 0).redF()); // 0.0 dropped

        s.addCustomColor(QColor::fromRgbF(0.2, 0.5, 0.25, 1.0));
        QCOMPARE(s.savedCustomColors().size(), 5);
        QCOMPARE(s.savedCustomColors().first().red, QColor::fromRgbF(0.2, 0, 0).redF());
        QCOMPARE(s.savedCustomColors().count(s.savedCustomColors().first()), 1);

        const QList<SavedColor> saved = s.savedCustomColors();
        QCOMPARE(AppSettings(reopen()).savedCustomColors(), saved);
        // Entries that are not four numbers make the list undecodable: default (empty).
        m_store->setData("savedCustomColors_json", "[[1, 0, 0, 1], [1, 0]]");
        QVERIFY(AppSettings(*m_store).savedCustomColors().isEmpty());
    }

    void hostileJsonValuesGiveDefaults()
    {
        const QString shelf = AppSettings::shelfKey(QUuid::createUuid());
        m_store->setData("customShelfCombos_json", "{\"" + shelf.toUtf8() + "\": {\"keyCode\": -1, \"modifierFlags\": 0}}");
        m_store->setData("shelfHotkeys_json", "{\"a\": 5}");
        m_store->setString("savedCustomColors_json", "[[1,1,1,1]]"); // text, not data
        m_store->setData("customGlobalCombos_json", QByteArray(5000, '{'));
        AppSettings s(*m_store);
        QVERIFY(s.customShelfCombos().isEmpty());
        QVERIFY(s.shelfHotkeys().isEmpty());
        QVERIFY(s.savedCustomColors().isEmpty());
        QVERIFY(!s.customShowAllCombo());
    }

    void launchAtLoginWritesTheAutostartEntry()
    {
        AppSettings s(*m_store);
        QSignalSpy spy(&s, &AppSettings::launchAtLoginChanged);
        QString error;
        QVERIFY(s.setLaunchAtLogin(true, &error));
        QVERIFY(s.launchAtLogin());
        QFile entry(Autostart::entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nX-GNOME-Autostart-enabled=true\n"));
        QVERIFY(text.contains("\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + "\n"));
        QVERIFY(AppSettings(*m_store).launchAtLogin());

        QVERIFY(s.setLaunchAtLogin(false, &error));
        QVERIFY(!s.launchAtLogin());
        QVERIFY(!QFile::exists(Autostart::entryPath()));
        QCOMPARE(spy.count(), 2);

        // A file where the autostart folder should be: an error, the field unchanged.
        const QString folder = QFileInfo(Autostart::entryPath()).absolutePath();
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!s.setLaunchAtLogin(true, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!s.launchAtLogin());
        QFile::remove(folder);
    }

    void autostartExecIsQuoted()
    {
        const QByteArray text = Autostart::entryText(QStringLiteral("/opt/My Apps/perch\"box%1"));
        QVERIFY(text.contains("\nExec=\"/opt/My Apps/perch\\\"box%%1\"\n"));
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_app_settings.moc"
