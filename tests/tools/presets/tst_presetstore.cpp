#include "settings/SettingsStore.h"
#include "tools/presets/PresetRules.h"
#include "tools/presets/PresetStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QJsonObject conversionJson()
{
    ConversionPreset p;
    p.id = QUuid::createUuid();
    p.name = "c";
    return PresetJson::encode(p);
}

QByteArray arrayOf(const QJsonObject &o)
{
    return QJsonDocument(QJsonArray{o}).toJson();
}

} // namespace

class TestPresetStore : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_settings;

private slots:
    void init()
    {
        QFile::remove(m_dir.filePath("settings.json"));
        m_settings = std::make_unique<SettingsStore>(m_dir.filePath("settings.json"));
    }

    void upsertKeepsIdAndPosition()
    {
        PresetStore store(*m_settings);
        QSignalSpy changed(&store, &PresetStore::presetsChanged);
        QVERIFY(store.renamePresets().isEmpty());
        RenamePreset a = PresetRules::buildRename(RenamePreset{}, "A");
        RenamePreset b = PresetRules::buildRename(RenamePreset{}, "B");
        store.saveRename(a);
        store.saveRename(b);
        RenamePreset a2 = PresetRules::buildRename(RenamePreset{}, "A");
        a2.prefix = "new";
        store.saveRename(a2);
        QCOMPARE(store.renamePresets().size(), 2);
        QCOMPARE(store.renamePresets()[0].id, a.id);
        QCOMPARE(store.renamePresets()[0].prefix, QString("new"));
        RenamePreset lower = PresetRules::buildRename(RenamePreset{}, "a"); // names are case-sensitive
        store.saveRename(lower);
        QCOMPARE(store.renamePresets().size(), 3);
        QCOMPARE(changed.size(), 4);

        // Every change writes all four lists; a new store reads them back the same.
        QVERIFY(m_settings->dataValue(PresetStore::archiveKey).has_value());
        QVERIFY(m_settings->dataValue(PresetStore::convKey).has_value());
        QVERIFY(m_settings->dataValue(PresetStore::flattenKey).has_value());
        PresetStore again(*m_settings);
        QCOMPARE(again.renamePresets(), store.renamePresets());

        store.deleteRename(a.id);
        QCOMPARE(store.renamePresets().size(), 2);
        QCOMPARE(store.renamePresets()[0].id, b.id);
        QCOMPARE(store.renamePresets()[1].id, lower.id);
        QVERIFY(!store.renamePreset(a.id));
        QCOMPARE(store.renamePreset(b.id)->name, QString("B"));
    }

    void roundTripsEveryRecord()
    {
        PresetStore store(*m_settings);
        ArchivePreset ar;
        ar.id = QUuid::createUuid();
        ar.name = "zip it";
        ar.format = "7z";
        ar.usePassword = true;
        ar.password = "pw\"\\";
        store.saveArchive(ar);
        ConversionPreset cv;
        cv.id = QUuid::createUuid();
        cv.name = "conv";
        cv.imageQuality = 42;
        cv.imageDimensions = "16:9";
        store.saveConversion(cv);
        FlattenPreset fl{QUuid::createUuid(), "flat", "overwriteNewest", "move"};
        store.saveFlatten(fl);
        RenamePreset rn;
        rn.id = QUuid::createUuid();
        rn.name = "ren";
        rn.counterStart = 99999;
        rn.caseMode = CaseMode::title;
        rn.counterPosition = CounterPosition::prefix;
        store.saveRename(rn);
        PresetStore again(*m_settings);
        QCOMPARE(again.archivePresets(), QList<ArchivePreset>{ar});
        QCOMPARE(again.conversionPresets(), QList<ConversionPreset>{cv});
        QCOMPARE(again.flattenPresets(), QList<FlattenPreset>{fl});
        QCOMPARE(again.renamePresets(), QList<RenamePreset>{rn});
        // The id is written as the canonical upper-case string.
        const QJsonArray arr = QJsonDocument::fromJson(*m_settings->dataValue(PresetStore::renameKey)).array();
        QCOMPARE(arr[0].toObject()["id"].toString(), rn.id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(arr[0].toObject().keys().size(), 19);
    }

    void lenientAndStrictKeys()
    {
        QJsonObject c = conversionJson();
        c.remove("imageQuality");
        c.remove("preserveImageMetadata");
        c.remove("id");
        c["imageDimensions"] = "2:1";
        auto p = PresetJson::decodeConversion(c);
        QVERIFY(p);
        QCOMPARE(p->imageQuality, 90);
        QCOMPARE(p->imageDimensions, QString("original"));
        QVERIFY(p->preserveImageMetadata);
        QVERIFY(!p->id.isNull());
        c["imageQuality"] = 250;
        QCOMPARE(PresetJson::decodeConversion(c)->imageQuality, 100);
        c["imageQuality"] = -5;
        QCOMPARE(PresetJson::decodeConversion(c)->imageQuality, 0);
        c.remove("imageFormat");
        c.remove("removeImageBackground");
        QCOMPARE(PresetJson::decodeConversion(c)->imageFormat, QString("public.png"));
        c.remove("mp3Bitrate");
        QVERIFY(!PresetJson::decodeConversion(c));

        // Flatten: only the id may be missing, and then a new one is made on every load.
        const QByteArray flat = R"([{"name":"f","duplicateMode":"keepForReview","operation":"copy"}])";
        const auto f1 = PresetJson::decodeList<FlattenPreset>(flat);
        const auto f2 = PresetJson::decodeList<FlattenPreset>(flat);
        QVERIFY(f1 && f2);
        QVERIFY(!f1->first().id.isNull());
        QVERIFY(f1->first().id != f2->first().id);
        QVERIFY(!PresetJson::decodeList<FlattenPreset>(R"([{"name":"f","operation":"copy"}])"));

        // Rename and archive records need every key, with the right types.
        RenamePreset r;
        r.id = QUuid::createUuid();
        QJsonObject ro = PresetJson::encode(r);
        QVERIFY(PresetJson::decodeRename(ro));
        ro["trimHead"] = "3";
        QVERIFY(!PresetJson::decodeRename(ro));
        ro = PresetJson::encode(r);
        ro["caseMode"] = "Title";
        ro["counterPosition"] = "Prefix";
        QCOMPARE(PresetJson::decodeRename(ro)->caseMode, CaseMode::unchanged);
        QCOMPARE(PresetJson::decodeRename(ro)->counterPosition, CounterPosition::suffix);
        ro["id"] = "not-a-uuid";
        QVERIFY(!PresetJson::decodeRename(ro));
    }

    void badListLoadsEmptyUntilNextChange()
    {
        ArchivePreset good;
        good.id = QUuid::createUuid();
        good.name = "good";
        ArchivePreset badPreset;
        badPreset.id = QUuid::createUuid();
        badPreset.name = "bad";
        QJsonObject bad = PresetJson::encode(badPreset);
        bad.remove("zipIndividually");
        const QByteArray stored = QJsonDocument(QJsonArray{PresetJson::encode(good), bad}).toJson();
        m_settings->setData(PresetStore::archiveKey, stored);
        m_settings->setData(PresetStore::flattenKey, "not json at all");
        m_settings->setData(PresetStore::convKey, arrayOf(conversionJson()));
        PresetStore store(*m_settings);
        QVERIFY(store.archivePresets().isEmpty());
        QVERIFY(store.flattenPresets().isEmpty());
        QCOMPARE(store.conversionPresets().size(), 1); // other lists are unaffected
        QCOMPARE(*m_settings->dataValue(PresetStore::archiveKey), stored); // left alone until a change
        store.saveRename(PresetRules::buildRename(RenamePreset{}, "r"));
        QCOMPARE(*m_settings->dataValue(PresetStore::archiveKey), QByteArray("[]"));
    }

    void presetNameTrimming()
    {
        QCOMPARE(PresetStore::trimmedPresetName(" \t My preset \t "), QString("My preset"));
        QCOMPARE(PresetStore::trimmedPresetName(" \t "), QString());
        QCOMPARE(PresetStore::trimmedPresetName("\nx\n"), QString("\nx\n"));
    }

    void buildAndApplyRules()
    {
        ArchiveToolOptions zip;
        zip.format = ArchiveFormat::zip;
        zip.usePassword = true;
        zip.password = "secret";
        ArchivePreset ap = PresetRules::buildArchive(zip, "z");
        QVERIFY(!ap.usePassword);
        QCOMPARE(ap.password, QString("secret"));
        zip.format = ArchiveFormat::sevenZip;
        QVERIFY(PresetRules::buildArchive(zip, "z").usePassword);

        ArchiveToolOptions target;
        target.format = ArchiveFormat::tarGz;
        target.compressionLevel = CompressionLevel::max;
        ap.format = "rar";
        ap.compressionLevel = "ultra";
        ap.usePassword = true;
        PresetRules::applyArchive(ap, target);
        QCOMPARE(target.format, ArchiveFormat::tarGz); // unknown strings change nothing
        QCOMPARE(target.compressionLevel, CompressionLevel::max);
        QVERIFY(!target.usePassword); // not 7z: switched off
        ap.format = "7z";
        PresetRules::applyArchive(ap, target);
        QVERIFY(target.usePassword);

        FlattenToolOptions flat{FlattenDuplicateMode::overwriteNewest, FlattenOperation::move};
        FlattenPreset fp = PresetRules::buildFlatten(flat, "f");
        QCOMPARE(fp.duplicateMode, QString("overwriteNewest"));
        QCOMPARE(fp.operation, QString("move"));
        FlattenToolOptions other;
        fp.operation = "teleport";
        PresetRules::applyFlatten(fp, other);
        QCOMPARE(other.duplicateMode, FlattenDuplicateMode::overwriteNewest);
        QCOMPARE(other.operation, FlattenOperation::copy);
    }
};

QTEST_GUILESS_MAIN(TestPresetStore)
#include "tst_presetstore.moc"
