#include "model/Shelf.h"
#include "model/ShelfColor.h"
#include "model/ShelfFolder.h"
#include "model/ShelfJson.h"
#include "platform/FileBookmark.h"
#include "platform/FilePath.h"

#include <QDataStream>
#include <QDir>
#include <QRandomGenerator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <sys/stat.h>

// The JSON form of shelves: what is written, and every reading rule that can break.
class TestShelfJson : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    // A stored shelf in its minimal valid form.
    QJsonObject minimalShelf(const QString &id = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000A")) const
    {
        return QJsonObject{
            {"id", id},
            {"name", "Work"},
            {"colorData", QJsonObject{{"r", 0.1}, {"g", 0.2}, {"b", 0.3}, {"a", 1}}},
            {"icon", "tray"},
            {"folderURL", QString::fromLatin1(FilePath::urlFromPath(m_home.path() + "/Perchbox/Shelves/" + id + "/").toEncoded())},
            {"files", QJsonArray{}},
        };
    }
    static QJsonObject minimalFavorite(const QString &tool)
    {
        return QJsonObject{{"tool", tool}, {"presetID", "11111111-2222-4333-8444-555555555555"}, {"presetName", "P"}};
    }
    static std::optional<QList<Shelf>> decode(const QJsonArray &array)
    {
        return ShelfJson::decodeShelves(QJsonDocument(array).toJson(QJsonDocument::Compact));
    }
    static std::optional<Shelf> decodeOne(const QJsonObject &shelf)
    {
        const auto list = decode(QJsonArray{shelf});
        if (!list || list->size() != 1)
            return std::nullopt;
        return list->first();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
    }

    void fullShelfRoundTrip()
    {
        QTemporaryDir dir;
        // Names with spaces, non-ASCII text and bytes that are not valid UTF-8.
        const QByteArray dirBytes = QFile::encodeName(dir.path());
        const QList<QByteArray> names{"plain.txt", "with space & #hash?.txt", "Ünïcødé 日本.png",
                                      QByteArray("bad\xff\xfe-name.bin")};
        Shelf shelf = Shelf::make("Renders ✨", ShelfColorData{-0.25, 1.5, 0.5, 0.75}, "photo");
        for (const QByteArray &name : names) {
            const QByteArray path = dirBytes + '/' + name;
            FILE *f = ::fopen(path.constData(), "w");
            QVERIFY(f);
            ::fclose(f);
            ShelfFile file;
            file.id = QUuid::createUuid();
            file.url = FilePath::urlFromBytes(path);
            file.bookmarkData = FileBookmark::create(file.url);
            QVERIFY(!file.bookmarkData.isEmpty());
            shelf.files.append(file);
        }
        shelf.files[1].sourceURL = FilePath::urlFromPath("/tmp/source file.mov");
        ShelfFavoriteAction fav;
        fav.id = QUuid::createUuid();
        fav.tool = ShelfFavoriteToolKind::convert;
        fav.presetID = QUuid::createUuid();
        fav.presetName = "To MP3";
        fav.scope = ShelfFavoriteScope::allFiles;
        fav.destinationMode = ShelfFavoriteDestinationMode::savedFolder;
        fav.destination = ShelfFavoriteDestination{"/home/u/Out Folder", QByteArray("\x01\x02\x03", 3)};
        fav.customLabel = QString("MP3!");
        shelf.favorites.append(fav);
        shelf.favoriteButtonDisplayMode = ShelfFavoriteButtonDisplayMode::nameOnly;
        shelf.tuckedEdge = TuckEdge::right;
        shelf.tuckedScreenID = QString("HDMI-1");
        shelf.tuckedScreenName = QString("Dell U2720Q");

        const QByteArray json = ShelfJson::encodeShelves({shelf, Shelf::make("B", {}, "tray")});
        QVERIFY(!json.contains('\n'));
        QVERIFY(!json.contains(": "));
        const auto back = ShelfJson::decodeShelves(json);
        QVERIFY(back);
        QCOMPARE(back->size(), 2);
        QCOMPARE(back->first(), shelf);
        for (int i = 0; i < shelf.files.size(); ++i) {
            const ShelfFile &f = back->first().files[i];
            QCOMPARE(f.bookmarkData, shelf.files[i].bookmarkData);
            QCOMPARE(f.sourceURL, shelf.files[i].sourceURL);
            QCOMPARE(FilePath::bytes(f.url), dirBytes + '/' + names[i]);
            QCOMPARE(FilePath::bytes(f.resolvedURL()), dirBytes + '/' + names[i]);
        }
        ShelfFolder::removeTree(dirBytes); // beyond QTemporaryDir for non-UTF-8 names
    }

    void writtenForm()
    {
        Shelf shelf = Shelf::make("A", ShelfColorData::systemBlue(), "tray");
        ShelfFile file;
        file.id = QUuid::fromString(QStringLiteral("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee"));
        file.url = FilePath::urlFromPath("/tmp/a b/ä.txt");
        shelf.files.append(file);
        ShelfFavoriteAction fav;
        fav.id = QUuid::createUuid();
        fav.presetID = QUuid::createUuid();
        fav.presetName = "Zip";
        shelf.favorites.append(fav);

        const QJsonArray array = QJsonDocument::fromJson(ShelfJson::encodeShelves({shelf})).array();
        const QJsonObject o = array.first().toObject();
        QCOMPARE(o.keys().size(), 8); // the three tuck keys are left out
        QVERIFY(!o.contains("tuckedEdge") && !o.contains("tuckedScreenID") && !o.contains("tuckedScreenName"));
        QCOMPARE(o["id"].toString(), uuidString(shelf.id));
        QCOMPARE(o["id"].toString(), o["id"].toString().toUpper());
        QCOMPARE(o["favoriteButtonDisplayMode"].toString(), QString("iconAndName"));
        const QJsonObject f = o["files"].toArray().first().toObject();
        QCOMPARE(f.keys(), (QStringList{"id", "url"}));
        QCOMPARE(f["id"].toString(), QString("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"));
        QCOMPARE(f["url"].toString(), QString("file:///tmp/a%20b/%C3%A4.txt"));
        const QJsonObject fv = o["favorites"].toArray().first().toObject();
        QCOMPARE(fv.keys(), (QStringList{"destinationMode", "id", "presetID", "presetName", "scope", "tool"}));
        QCOMPARE(fv["tool"].toString(), QString("archive"));
        QCOMPARE(fv["scope"].toString(), QString("selectionOrAll"));

        ShelfFavoriteDestination d{"/x", QByteArray("\xfb\xff", 2)};
        QCOMPARE(ShelfJson::encode(d)["bookmarkData"].toString(), QString("+/8=")); // standard alphabet
        QVERIFY(!ShelfJson::encode(ShelfFavoriteDestination{"/x", {}}).contains("bookmarkData"));
    }

    void readingCreatesNoFolder()
    {
        // A crafted folderURL must not make us create folders anywhere; the shelf manager
        // makes each shelf's folder from its id.
        const QString id = "0A1B2C3D-0000-4000-8000-0000000000FF";
        const QString elsewhere = m_home.path() + "/anywhere/deep";
        QJsonObject shelf = minimalShelf(id);
        shelf["folderURL"] = QString::fromLatin1(FilePath::urlFromPath(elsewhere + "/").toEncoded());
        QVERIFY(decodeOne(shelf));
        QVERIFY(!QFileInfo::exists(m_home.path() + "/anywhere"));
        QVERIFY(!QFileInfo::exists(m_home.path() + "/Perchbox/Shelves/" + id));
    }

    void byteOrderMarkIsSkipped()
    {
        const QByteArray json = QJsonDocument(QJsonArray{minimalShelf()}).toJson(QJsonDocument::Compact);
        const auto shelves = ShelfJson::decodeShelves("\xEF\xBB\xBF" + json);
        QVERIFY(shelves);
        QCOMPARE(shelves->size(), 1);
        const QUuid id = QUuid::createUuid();
        QCOMPARE(ShelfJson::decodeIdSet("\xEF\xBB\xBF[\"" + id.toByteArray(QUuid::WithoutBraces) + "\"]"),
                 std::optional<QSet<QUuid>>(QSet<QUuid>{id}));
        QVERIFY(!ShelfJson::decodeShelves("\xEF\xBB")); // half a mark is damage
    }

    // Only the mark before the document is skipped: one that begins a value is part of it, and
    // stays through any number of saves (each save lost one of them, found by fuzzing).
    void byteOrderMarkInsideAValueIsKept()
    {
        QJsonObject shelf = minimalShelf();
        const QString name = QStringLiteral("\uFEFF\uFEFFInbox");
        shelf.insert("name", name);
        shelf.insert("favoriteButtonDisplayMode", QStringLiteral("\uFEFFiconOnly"));
        QByteArray json = QJsonDocument(QJsonArray{shelf}).toJson(QJsonDocument::Compact);
        QVERIFY(!ShelfJson::decodeShelves(json)); // not a display mode
        shelf.remove("favoriteButtonDisplayMode");
        json = QJsonDocument(QJsonArray{shelf}).toJson(QJsonDocument::Compact);
        for (int save = 0; save < 3; ++save) {
            const auto shelves = ShelfJson::decodeShelves(json);
            QVERIFY(shelves);
            QCOMPARE(shelves->first().name, name);
            json = ShelfJson::encodeShelves(*shelves);
        }
        // Bytes that are not UTF-8 after the marks: the marks stay, the bytes become U+FFFD.
        const auto repaired = ShelfJson::decodeShelves(json.replace("Inbox", "\xB4Inbox"));
        QVERIFY(repaired);
        QCOMPARE(repaired->first().name, QStringLiteral("\uFEFF\uFEFF\uFFFDInbox"));
    }

    void lenientShelfKeys()
    {
        // No favorites, no display mode: defaults.
        auto s = decodeOne(minimalShelf());
        QVERIFY(s);
        QVERIFY(s->favorites.isEmpty());
        QCOMPARE(s->favoriteButtonDisplayMode, ShelfFavoriteButtonDisplayMode::iconAndName);
        QVERIFY(!s->tuckedEdge && !s->tuckedScreenID && !s->tuckedScreenName);

        QJsonObject o = minimalShelf();
        o["favorites"] = QJsonValue::Null;
        o["favoriteButtonDisplayMode"] = QJsonValue::Null;
        QVERIFY(decodeOne(o));

        // Tuck fields never fail the shelf.
        for (const QJsonValue &edge : {QJsonValue("top"), QJsonValue(3), QJsonValue(QJsonArray{}), QJsonValue(QJsonValue::Null)}) {
            QJsonObject t = minimalShelf();
            t["tuckedEdge"] = edge;
            t["tuckedScreenID"] = 42;
            t["tuckedScreenName"] = QJsonObject{};
            s = decodeOne(t);
            QVERIFY(s);
            QVERIFY(!s->tuckedEdge && !s->tuckedScreenID && !s->tuckedScreenName);
        }
        o = minimalShelf();
        o["tuckedEdge"] = "left";
        o["tuckedScreenName"] = "";
        s = decodeOne(o);
        QCOMPARE(s->tuckedEdge, std::optional<TuckEdge>(TuckEdge::left));
        QCOMPARE(s->tuckedScreenName, std::optional<QString>(QString()));
    }

    // Where a shelf window was: kept in an extra key that older versions skip; anything
    // unusable in it is no position, never a failed shelf.
    void windowPosition()
    {
        QJsonObject o = minimalShelf();
        o["windowPosition"] = QJsonObject{{"x", 612}, {"y", -40}, {"screen", "HDMI-1"}};
        auto s = decodeOne(o);
        QVERIFY(s && s->windowPosition);
        QCOMPARE(s->windowPosition->x, 612);
        QCOMPARE(s->windowPosition->y, -40);
        QCOMPARE(s->windowPosition->screen, QStringLiteral("HDMI-1"));

        // Written back as it was read, beside the keys every version knows.
        const QJsonObject written = ShelfJson::encode(*s);
        QCOMPARE(written["windowPosition"].toObject()["x"].toInt(), 612);
        QCOMPARE(written["windowPosition"].toObject()["screen"].toString(), QStringLiteral("HDMI-1"));
        QCOMPARE(decodeOne(written)->windowPosition, s->windowPosition);
        QVERIFY(!ShelfJson::encode(*decodeOne(minimalShelf())).contains("windowPosition"));

        for (const QJsonValue &bad : {QJsonValue("12,40"), QJsonValue(3), QJsonValue(QJsonArray{1, 2}),
                                      QJsonValue(QJsonObject{{"x", 5}}), QJsonValue(QJsonObject{{"x", "5"}, {"y", 5}}),
                                      QJsonValue(QJsonObject{{"x", 1e300}, {"y", 5}}), QJsonValue(QJsonValue::Null)}) {
            QJsonObject b = minimalShelf();
            b["windowPosition"] = bad;
            s = decodeOne(b);
            QVERIFY2(s, qPrintable(QJsonDocument(QJsonArray{bad}).toJson()));
            QVERIFY(!s->windowPosition);
        }
        // Extra keys inside are skipped; no screen name is fine.
        o["windowPosition"] = QJsonObject{{"x", 1}, {"y", 2}, {"scale", 2}, {"future", QJsonObject{{"a", 1}}}};
        s = decodeOne(o);
        QVERIFY(s && s->windowPosition);
        QCOMPARE(s->windowPosition->screen, QString());
    }

    void strictShelfKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value"); // undefined: removed
        for (const char *key : {"id", "name", "colorData", "icon", "folderURL", "files"}) {
            QTest::addRow("missing %s", key) << QString(key) << QJsonValue(QJsonValue::Undefined);
            QTest::addRow("null %s", key) << QString(key) << QJsonValue(QJsonValue::Null);
        }
        QTest::newRow("numeric name") << "name" << QJsonValue(5);
        QTest::newRow("id not a uuid") << "id" << QJsonValue("not-a-uuid");
        QTest::newRow("id in braces") << "id" << QJsonValue("{0A1B2C3D-0000-4000-8000-00000000000A}");
        QTest::newRow("files an object") << "files" << QJsonValue(QJsonObject{});
        QTest::newRow("colour lacks alpha") << "colorData" << QJsonValue(QJsonObject{{"r", 1}, {"g", 1}, {"b", 1}});
        QTest::newRow("colour as text") << "colorData" << QJsonValue(QJsonObject{{"r", "1"}, {"g", 1}, {"b", 1}, {"a", 1}});
        QTest::newRow("folder not a url") << "folderURL" << QJsonValue("");
        QTest::newRow("unknown display mode") << "favoriteButtonDisplayMode" << QJsonValue("huge");
        QTest::newRow("favorites not an array") << "favorites" << QJsonValue("x");
        QTest::newRow("file without url") << "files" << QJsonValue(QJsonArray{QJsonObject{{"id", "0A1B2C3D-0000-4000-8000-00000000000A"}}});
        QTest::newRow("file with bad base64") << "files" << QJsonValue(QJsonArray{QJsonObject{
            {"id", "0A1B2C3D-0000-4000-8000-00000000000A"}, {"url", "file:///tmp/x"}, {"bookmarkData", "%%%"}}});
        QTest::newRow("favorite with unknown tool") << "favorites" << QJsonValue(QJsonArray{minimalFavorite("paint")});
    }
    void strictShelfKeys()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QJsonObject bad = minimalShelf();
        if (value.isUndefined())
            bad.remove(key);
        else
            bad[key] = value;
        QString error;
        // One bad shelf fails the whole list.
        QVERIFY(!ShelfJson::decodeShelves(QJsonDocument(QJsonArray{minimalShelf(), bad}).toJson(), &error));
        QVERIFY(!error.isEmpty());
    }

    void favoriteReadingRules()
    {
        const auto decodeFav = [](const QJsonObject &o) { return ShelfJson::decodeFavorite(o); };
        QCOMPARE(decodeFav(minimalFavorite("rename"))->destinationMode, ShelfFavoriteDestinationMode::none);
        for (const char *tool : {"archive", "flatten", "convert"})
            QCOMPARE(decodeFav(minimalFavorite(tool))->destinationMode, ShelfFavoriteDestinationMode::askEachTime);

        // Old and unknown modes read as askEachTime and are written back as such.
        for (const char *mode : {"usePresetFolder", "somethingNew", ""}) {
            QJsonObject o = minimalFavorite("rename");
            o["destinationMode"] = mode;
            const auto f = decodeFav(o);
            QVERIFY(f);
            QCOMPARE(f->destinationMode, ShelfFavoriteDestinationMode::askEachTime);
            QCOMPARE(ShelfJson::encode(*f)["destinationMode"].toString(), QString("askEachTime"));
        }
        QJsonObject saved = minimalFavorite("archive");
        saved["destinationMode"] = "savedFolder";
        saved["destination"] = QJsonObject{{"path", "/out"}};
        saved["customLabel"] = "Go";
        auto f = decodeFav(saved);
        QCOMPARE(f->destinationMode, ShelfFavoriteDestinationMode::savedFolder);
        QCOMPARE(f->destination->path, QString("/out"));
        QCOMPARE(f->customLabel, std::optional<QString>("Go"));
        QCOMPARE(f->scope, ShelfFavoriteScope::selectionOrAll);

        // Without an id: a fresh one at every load.
        const auto a = decodeFav(minimalFavorite("flatten"));
        const auto b = decodeFav(minimalFavorite("flatten"));
        QVERIFY(!a->id.isNull() && !b->id.isNull());
        QVERIFY(a->id != b->id);

        // Strict enumerations and required keys.
        QJsonObject bad = minimalFavorite("archive");
        bad["scope"] = "everything";
        QVERIFY(!decodeFav(bad));
        for (const char *key : {"tool", "presetID", "presetName"}) {
            QJsonObject o = minimalFavorite("archive");
            o.remove(key);
            QVERIFY(!decodeFav(o));
        }
        bad = minimalFavorite("archive");
        bad["destination"] = QJsonObject{{"bookmarkData", ""}};
        QVERIFY(!decodeFav(bad));
    }

    void uuidsInEitherCase()
    {
        QJsonObject o = minimalShelf("0a1b2c3d-0000-4000-8000-00000000abcd");
        o["files"] = QJsonArray{QJsonObject{{"id", "deadbeef-0000-4000-8000-00000000abcd"}, {"url", "file:///tmp/x"}}};
        const auto s = decodeOne(o);
        QVERIFY(s);
        QCOMPARE(uuidString(s->id), QString("0A1B2C3D-0000-4000-8000-00000000ABCD"));
        QCOMPARE(s->files.first().id, QUuid::fromString(QStringLiteral("DEADBEEF-0000-4000-8000-00000000ABCD")));
    }

    void hostileInput()
    {
        const QList<QByteArray> inputs{
            "", "   ", "{}", "null", "\"text\"", "[1,2]", "[null]", "[[]]", "[{}]",
            QByteArray(200000, '['),
            QJsonDocument(QJsonArray{minimalShelf()}).toJson().chopped(7), // truncated
            QByteArray("[{\"id\":\"\xff\xfe\"}]"),
        };
        for (const QByteArray &in : inputs)
            QVERIFY2(!ShelfJson::decodeShelves(in), in.left(40).constData());
        QCOMPARE(ShelfJson::decodeShelves("[]")->size(), 0);
        QCOMPARE(ShelfJson::decodeShelves(" [ ] ")->size(), 0);
    }

    // Found by fuzz/fuzz_shelves_json: the message about a colour component of the wrong
    // type read the key's name on past its end, up to a NUL that a file mapped into memory
    // need not have.
    void errorNamesTheKeyAlone()
    {
        QJsonObject shelf = minimalShelf();
        shelf["colorData"] = QJsonObject{{"r", 0}, {"g", QJsonArray{2}}, {"b", 0}, {"a", 1}};
        const QByteArray text = QJsonDocument(QJsonArray{shelf}).toJson(QJsonDocument::Compact);
        QString error;
        QVERIFY(!ShelfJson::decodeShelves(QByteArrayView(text.constData(), text.size()), &error));
        QCOMPARE(error, QStringLiteral("missing or invalid \"g\""));
    }

    void jsonSyntax()
    {
        // Escapes, including a surrogate pair and an escaped key.
        const QByteArray folder = minimalShelf().value("folderURL").toString().toUtf8();
        const QByteArray text = "[{\"\\u0069d\":\"0A1B2C3D-0000-4000-8000-00000000000A\","
                                "\"name\":\"\\\"q\\\" \\\\ \\/ \\n\\t\\u00e9\\ud83d\\ude00\","
                                "\"colorData\":{\"r\":1e0,\"g\":-0.0,\"b\":1E-2,\"a\":0.5},"
                                "\"icon\":\"tray\",\"folderURL\":\"" + folder + "\",\"files\":[ ] } ]\n";
        QString error;
        const auto ok = ShelfJson::decodeShelves(text, &error);
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(ok->first().name, QString::fromUtf8("\"q\" \\ / \n\t\u00e9\U0001F600"));
        QCOMPARE(ok->first().colorData, (ShelfColorData{1, -0.0, 0.01, 0.5}));

        // Names with quotes and control characters are written as valid JSON and come back.
        Shelf odd = Shelf::make(QString::fromUtf8("a\"b\\c\x01\x1f\n\u2028 ✓"), ShelfColorData{qInf(), qQNaN(), 0.5, 1}, "tray");
        const QByteArray written = ShelfJson::encodeShelves({odd});
        QJsonParseError parseError;
        QJsonDocument::fromJson(written, &parseError);
        QCOMPARE(parseError.error, QJsonParseError::NoError);
        const auto back = ShelfJson::decodeShelves(written);
        QVERIFY(back);
        QCOMPARE(back->first().name, odd.name);
        QCOMPARE(back->first().colorData, (ShelfColorData{0, 0, 0.5, 1})); // no JSON form for inf/NaN

        // Not JSON: each of these breaks one rule of the grammar.
        QByteArray good = ShelfJson::encodeShelves({Shelf::make("x", {}, "tray")});
        const QList<std::pair<QByteArray, QByteArray>> breaks{
            {"\"r\":0", "\"r\":00"},  {"\"r\":0", "\"r\":+0"}, {"\"r\":0", "\"r\":.5"},
            {"\"r\":0", "\"r\":NaN"}, {"\"r\":0", "\"r\":1e"}, {"\"r\":0", "\"r\":0,"},
            {"\"icon\":\"tray\"", "\"icon\":'tray'"}, {"\"icon\":\"tray\"", "\"icon\":\"tr\tay\""},
            {"\"icon\":\"tray\"", "\"icon\":\"tr\\xay\""}, {"\"icon\":\"tray\"", "\"icon\":\"\\u12G4\""},
            {"\"icon\":\"tray\"", "\"icon\"\"tray\""}, {"\"files\":[]", "\"files\":[,]"},
            {"\"}]", "\"}],"}, {"\"}]", "\"}] x"}, {"\"}]", "\"}"}, {"\"icon\":\"tray\"", "\"icon\":\"tray"},
        };
        QVERIFY(ShelfJson::decodeShelves(good));
        for (const auto &[from, to] : breaks) {
            QByteArray bad = good;
            QVERIFY2(bad.contains(from), from.constData());
            bad.replace(from, to);
            QVERIFY2(!ShelfJson::decodeShelves(bad), to.constData());
        }
    }

    // What the writer made of these files when they were read by the reader before this one,
    // byte for byte, and what it writes reads back to the same bytes. The second file holds
    // what only older files have: bytes that are not UTF-8 (read as U+FFFD), \u escapes of
    // half a surrogate pair (U+FFFD too), a byte-order mark, a key of that kind.
    void writtenBytesAreStable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("everything") << "shelves-golden";
        QTest::newRow("old damage") << "shelves-repaired";
    }
    void writtenBytesAreStable()
    {
        QFETCH(QString, name);
        const auto read = [](const QString &file) {
            QFile f(QStringLiteral(PERCHBOX_TEST_DATA "/data/") + file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray expected = read(name + ".expected.json");
        QVERIFY(!expected.isEmpty());
        QString error;
        const auto shelves = ShelfJson::decodeShelves(read(name + ".json"), &error);
        QVERIFY2(shelves, qPrintable(error));
        QCOMPARE(ShelfJson::encodeShelves(*shelves), expected);
        const auto again = ShelfJson::decodeShelves(expected, &error);
        QVERIFY2(again, qPrintable(error));
        QCOMPARE(ShelfJson::encodeShelves(*again), expected);
    }

    // read(write(x)) == x and writing is byte-stable: for the fuzz target's seed inputs and
    // for generated shelves with every kind of content.
    void roundTripIsByteStable()
    {
        const QDir corpus(QStringLiteral(PERCHBOX_SOURCE_DIR "/fuzz/corpus/fuzz_shelves_json"));
        const QStringList seeds = corpus.entryList(QDir::Files);
        QVERIFY(!seeds.isEmpty());
        for (const QString &seed : seeds) {
            QFile f(corpus.filePath(seed));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const auto shelves = ShelfJson::decodeShelves(f.readAll());
            if (!shelves)
                continue;
            // A URL not in its canonical form is written canonically: from the first save on,
            // the bytes stay.
            const QByteArray written = ShelfJson::encodeShelves(*shelves);
            const auto back = ShelfJson::decodeShelves(written);
            QVERIFY2(back && back->size() == shelves->size(), qPrintable(seed));
            QCOMPARE(ShelfJson::encodeShelves(*back), written);
        }

        QRandomGenerator rng(20);
        const auto text = [&rng] {
            static const QStringList parts{"a", " ", "\"", "\\", "/", "\n", "\t", QString(QChar(1)), "é", "日本",
                                           "😀", "\u2028", "{}", "[,]", "\\u0041", "null"};
            QString s;
            for (int i = rng.bounded(6); i > 0; --i)
                s += parts[rng.bounded(int(parts.size()))];
            return s;
        };
        const auto number = [&rng] {
            const double values[] = {0, -0.0, 1, -1, 0.1, 1.0 / 3, 1e-300, 4.9e-324, 1.7976931348623157e308, -2.5e17};
            return rng.bounded(2) ? values[rng.bounded(10)] : (rng.generateDouble() - 0.5) * std::pow(10.0, rng.bounded(-20, 20));
        };
        QList<Shelf> shelves;
        for (int s = 0; s < 30; ++s) {
            Shelf shelf = Shelf::make(text(), ShelfColorData{number(), number(), number(), number()}, text());
            for (int i = rng.bounded(20); i > 0; --i) {
                QByteArray bookmark(rng.bounded(40), Qt::Uninitialized);
                for (char &c : bookmark)
                    c = char(rng.bounded(256));
                shelf.files.append({QUuid::createUuid(), FilePath::urlFromPath("/tmp/" + text() + ".txt"),
                                    rng.bounded(2) ? FilePath::urlFromPath("/src/" + text()) : QUrl(), bookmark});
            }
            for (int i = rng.bounded(3); i > 0; --i) {
                ShelfFavoriteAction fav;
                fav.id = QUuid::createUuid();
                fav.tool = allCases<ShelfFavoriteToolKind>()[rng.bounded(4)];
                fav.presetID = QUuid::createUuid();
                fav.presetName = text();
                fav.scope = ShelfFavoriteScope(rng.bounded(2));
                fav.destinationMode = ShelfFavoriteDestinationMode(rng.bounded(3));
                if (rng.bounded(2))
                    fav.destination = ShelfFavoriteDestination{text(), QByteArray(rng.bounded(5), 'b')};
                if (rng.bounded(2))
                    fav.customLabel = text();
                shelf.favorites.append(fav);
            }
            shelf.favoriteButtonDisplayMode = ShelfFavoriteButtonDisplayMode(rng.bounded(3));
            if (rng.bounded(2)) {
                shelf.tuckedEdge = TuckEdge(rng.bounded(2));
                shelf.tuckedScreenID = text();
                shelf.tuckedScreenName = text();
            }
            if (rng.bounded(2))
                shelf.windowPosition = ShelfWindowPosition{rng.bounded(-5000, 5000), rng.bounded(-5000, 5000), text()};
            shelves.append(shelf);
        }
        const QByteArray written = ShelfJson::encodeShelves(shelves);
        QString error;
        const auto back = ShelfJson::decodeShelves(written, &error);
        QVERIFY2(back, qPrintable(error));
        QCOMPARE(*back, shelves);
        for (qsizetype s = 0; s < shelves.size(); ++s)
            for (qsizetype i = 0; i < shelves[s].files.size(); ++i) {
                QCOMPARE(back->at(s).files[i].bookmarkData, shelves[s].files[i].bookmarkData);
                QCOMPARE(back->at(s).files[i].sourceURL, shelves[s].files[i].sourceURL);
            }
        QCOMPARE(ShelfJson::encodeShelves(*back), written);
    }

    void numbers()
    {
        const QByteArray good = ShelfJson::encodeShelves({Shelf::make("x", {}, "tray")});
        const auto red = [&good](const QByteArray &number) -> std::optional<double> {
            QByteArray json = good;
            json.replace("\"r\":0", "\"r\":" + number);
            const auto shelves = ShelfJson::decodeShelves(json);
            return shelves ? std::optional(shelves->first().colorData.r) : std::nullopt;
        };
        // Digits beyond what a double holds are rounded once, correctly.
        QCOMPARE(red("0.47843137254901800963"), 0.478431372549018);
        QCOMPARE(red("123456789012345678901234567890"), 1.2345678901234568e29);
        QCOMPARE(red("0e999999"), 0.0);
        QCOMPARE(red("1E+0002"), 100.0);
        QCOMPARE(red("4.9e-324"), 4.9e-324);
        // Too large or too small for a double: the file is damaged.
        for (const char *out : {"1e400", "-1e400", "1e-400", "2.4703282292062327e-324"})
            QVERIFY2(!red(out), out);
    }

    // Where the caller says readable bytes follow the text (a mapped file's last page), the
    // text is read where it lies; whatever those bytes hold is not part of it.
    void readsInPlace()
    {
        const QByteArray json = ShelfJson::encodeShelves({Shelf::make("Here", {}, "tray")});
        const auto inPlace = [](const QByteArray &text, qsizetype length) {
            return ShelfJson::decodeShelves(QByteArrayView(text.constData(), length), nullptr,
                                            text.size() - length);
        };
        const QByteArray after = ",{}] trailing \" text" + QByteArray(ShelfJson::kReadPadding, ' ');
        const auto shelves = inPlace(json + after, json.size());
        QVERIFY(shelves && shelves->size() == 1);
        QCOMPARE(shelves->first().name, QStringLiteral("Here"));
        // A text cut inside a string does not end in the bytes that follow it.
        const qsizetype cut = json.indexOf("Here") + 2;
        QVERIFY(!inPlace(json + after, cut));
        QVERIFY(!inPlace(json.left(cut) + "re\"" + json.mid(cut + 3) + after, cut));
    }

    void largeListsKeepOrderAndFailAsAWhole()
    {
        // Big enough to be decoded on several threads.
        QList<Shelf> shelves;
        for (int s = 0; s < 24; ++s) {
            Shelf shelf = Shelf::make(QString("Shelf %1").arg(s), {}, "tray");
            for (int i = 0; i < 800; ++i)
                shelf.files.append({QUuid::createUuid(), FilePath::urlFromPath(QString("/data/%1/f %2").arg(s).arg(i)),
                                    {}, QByteArray(48, char(i))});
            shelves.append(shelf);
        }
        QByteArray json = ShelfJson::encodeShelves(shelves);
        QVERIFY(json.size() > (1 << 20));
        const auto back = ShelfJson::decodeShelves(json);
        QVERIFY(back);
        QCOMPARE(*back, shelves);
        QCOMPARE(back->last().files.last().bookmarkData, shelves.last().files.last().bookmarkData);

        const qsizetype lastIcon = json.lastIndexOf("\"icon\":\"tray\"");
        json.replace(lastIcon, 13, "\"icon\":17   ");
        QString error;
        QVERIFY(!ShelfJson::decodeShelves(json, &error));
        QVERIFY2(error.contains("icon"), qPrintable(error));
    }

    void idSets()
    {
        const auto ids = ShelfJson::decodeIdSet(
            R"(["0A1B2C3D-0000-4000-8000-00000000000A", "nope", 7, null, "0a1b2c3d-0000-4000-8000-00000000000b"])");
        QVERIFY(ids);
        QCOMPARE(ids->size(), 2);
        QVERIFY(!ShelfJson::decodeIdSet("{\"a\":1}"));
        QVERIFY(!ShelfJson::decodeIdSet("[\"0A1B2C3D"));
        const QSet<QUuid> set{QUuid::createUuid(), QUuid::createUuid()};
        const QByteArray written = ShelfJson::encodeIdSet(set);
        QCOMPARE(written, written.toUpper());
        QCOMPARE(*ShelfJson::decodeIdSet(written), set);
    }

    void equality()
    {
        ShelfFile a{QUuid::createUuid(), QUrl("file:///tmp/a"), {}, "one"};
        ShelfFile b = a;
        b.bookmarkData = "two";
        b.sourceURL = QUrl("file:///tmp/src");
        QCOMPARE(a, b);
        b.url = QUrl("file:///tmp/b");
        QVERIFY(!(a == b));

        Shelf s1 = Shelf::make("S", {}, "tray");
        Shelf s2 = s1;
        QCOMPARE(s1, s2);
        s2.tuckedScreenName = QString();
        QVERIFY(!(s1 == s2));
        s2 = s1;
        s2.files.append(a);
        QVERIFY(!(s1 == s2));
    }

    void colours()
    {
        QCOMPARE(shelfColorData(QColor()), ShelfColorData::systemBlue());
        QCOMPARE(shelfColorData(QColor(Qt::red)), (ShelfColorData{1, 0, 0, 1}));
        const ShelfColorData hsv = shelfColorData(QColor::fromHsvF(0.0f, 1.0f, 1.0f, 0.5f));
        QVERIFY(qAbs(hsv.r - 1) < 1e-3 && qAbs(hsv.g) < 1e-3 && qAbs(hsv.a - 0.5) < 1e-3);
        // Extended components are taken as they are.
        const ShelfColorData wide{1.25, -0.1, 0.5, 1};
        const QColor c = toQColor(wide);
        QVERIFY(c.isValid());
        const ShelfColorData back = shelfColorData(c);
        QVERIFY(qAbs(back.r - 1.25) < 1e-2 && qAbs(back.g + 0.1) < 1e-2 && qAbs(back.b - 0.5) < 1e-2);
        const QColor plain = toQColor({0.2, 0.4, 0.6, 0.8});
        QCOMPARE(plain.spec(), QColor::Rgb);
        QVERIFY(qAbs(plain.alphaF() - 0.8) < 1e-3);
    }

    void resolvedUrls()
    {
        QTemporaryDir dir;
        const QString original = dir.path() + "/report.pdf";
        QFile f(original);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        ShelfFile file{QUuid::createUuid(), FilePath::urlFromPath(original), {}, {}};
        QCOMPARE(file.resolvedURL(), file.url); // no bookmark
        file.bookmarkData = FileBookmark::create(file.url);
        QVERIFY(QFile::rename(original, dir.path() + "/renamed.pdf"));
        QCOMPARE(FilePath::displayPath(file.resolvedURL()), dir.path() + "/renamed.pdf");
        file.bookmarkData = "garbage";
        QCOMPARE(file.resolvedURL(), file.url);

        ShelfFavoriteDestination d{dir.path() + "/out dir", {}};
        QCOMPARE(d.resolvedURL(), FilePath::urlFromPath(dir.path() + "/out dir/"));
        d.bookmarkData = FileBookmark::create(FilePath::urlFromPath(dir.path()));
        QCOMPARE(FilePath::displayPath(d.resolvedURL()), dir.path());
    }

    // Found by fuzz_file_bookmark: a bookmark whose path holds a NUL resolved to a URL that
    // kept the bytes after it, while the file system had looked only at those before it.
    void bookmarkPathWithNulLeadsNowhere()
    {
        QTemporaryDir dir;
        QByteArray bookmark;
        QDataStream out(&bookmark, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << quint32(0x50424B31) << quint64(0) << quint64(0) << (QFile::encodeName(dir.path()) + QByteArray("\0/etc", 5));
        QVERIFY(FileBookmark::resolve(bookmark).url.isEmpty());
        const ShelfFile file{QUuid::createUuid(), FilePath::urlFromPath(dir.path() + "/a"), {}, bookmark};
        QCOMPARE(file.resolvedURL(), file.url);
    }
};

QTEST_GUILESS_MAIN(TestShelfJson)
#include "tst_shelf_json.moc"
