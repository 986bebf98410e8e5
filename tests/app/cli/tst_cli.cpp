// The command-line verbs, run through the built perchbox program on real temporary files
// with presets saved through PresetStore, and the per-preset file-manager entries.
#include "app/cli/CliArguments.h"
#include "app/cli/CliProgress.h"
#include "app/cli/FlattenDryRun.h"
#include "app/cli/PresetMenuSync.h"
#include "platform/PresetFileManagerEntries.h"
#include "platform/SendToIntegration.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "tools/presets/PresetStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file below `root`, as paths relative to it, sorted.
QStringList tree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

bool ffmpeg(const QStringList &args)
{
    QDir().mkpath(QFileInfo(args.last()).absolutePath());
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

struct Result {
    int status = -1;
    QString out;
    QString err;
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QString m_work;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<PresetStore> m_presets;
    std::unique_ptr<AppSettings> m_appSettings;
    QMap<QString, QString> m_extraEnv;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        for (auto it = m_extraEnv.cbegin(); it != m_extraEnv.cend(); ++it)
            env.insert(it.key(), it.value());
        return env;
    }

    Result perchbox(const QStringList &args, const QByteArray &input = {})
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.setWorkingDirectory(m_work);
        p.start(QStringLiteral(PERCHBOX_EXECUTABLE), args);
        if (!input.isEmpty())
            p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(120000))
            return {};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }

    QString work(const QString &rel) const { return m_work + QLatin1Char('/') + rel; }

    void savePresets()
    {
        QString error;
        QVERIFY2(m_settings->flush(&error), qPrintable(error));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
        m_settings = std::make_unique<SettingsStore>(SettingsStore::defaultPath());
        m_presets = std::make_unique<PresetStore>(*m_settings);

        RenamePreset holiday;
        holiday.id = QUuid::createUuid();
        holiday.name = QStringLiteral("Holiday");
        holiday.isAdvanced = true;
        holiday.findText = QStringLiteral("IMG");
        holiday.replaceWith = QStringLiteral("Holiday");
        m_presets->saveRename(holiday);

        FlattenPreset keep;
        keep.id = QUuid::createUuid();
        keep.name = QStringLiteral("Keep both");
        m_presets->saveFlatten(keep);

        ArchivePreset zip;
        zip.id = QUuid::createUuid();
        zip.name = QStringLiteral("Plain zip");
        m_presets->saveArchive(zip);
        ArchivePreset each = zip;
        each.id = QUuid::createUuid();
        each.name = QStringLiteral("Each");
        each.zipIndividually = true;
        m_presets->saveArchive(each);

        ConversionPreset aiff;
        aiff.id = QUuid::createUuid();
        aiff.name = QStringLiteral("To AIFF");
        aiff.audioFormat = QStringLiteral("aiff");
        m_presets->saveConversion(aiff);
        ConversionPreset heavy;
        heavy.id = QUuid::createUuid();
        heavy.name = QStringLiteral("Heavy video");
        heavy.videoFormat = QStringLiteral("prores");
        heavy.proResProfile = QStringLiteral("5");
        heavy.resolution = QStringLiteral("3840:2160");
        m_presets->saveConversion(heavy);
        ConversionPreset cutOut;
        cutOut.id = QUuid::createUuid();
        cutOut.name = QStringLiteral("Cut out");
        cutOut.removeImageBackground = true;
        m_presets->saveConversion(cutOut);
        savePresets();
    }

    void init()
    {
        m_work = m_home.filePath(QStringLiteral("work-") + QString::fromLatin1(QTest::currentTestFunction()));
        QDir(m_work).removeRecursively();
        QVERIFY(QDir().mkpath(m_work));
    }

    // --help, bad usage and unknown names: exit 2 with a message that says what exists.
    void usage()
    {
        Result r = perchbox({"--help"});
        QCOMPARE(r.status, 0);
        for (const char *verb : {"--send", "--quit", "run TOOL", "presets export", "--dry-run", "--preset-file"})
            QVERIFY2(r.out.contains(QLatin1String(verb)), verb);

        r = perchbox({"run", "unzip", "--preset", "x", "a"});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains("zip, rename, flatten, convert"));

        r = perchbox({"run", "rename", "--preset", "Nope", "a"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("no rename preset named \"Nope\"") && r.err.contains("\"Holiday\""), qPrintable(r.err));

        QVERIFY(writeFile(work("a.txt"), "a"));
        r = perchbox({"run", "zip", "--preset", "Plain zip", "a.txt"});
        QCOMPARE(r.status, 2); // zip needs a folder
        QVERIFY(r.err.contains("--output"));
        QCOMPARE(perchbox({"run", "rename", "--preset", "Holiday", "--output", "x", "a.txt"}).status, 2);
        QCOMPARE(perchbox({"run", "zip", "--preset", "Plain zip"}).status, 2);          // no files
        QCOMPARE(perchbox({"run", "convert", "--preset", "To AIFF", "--dry-run", "a.txt"}).status, 2);
        QCOMPARE(perchbox({"run", "zip", "--preset", "Each", "--name", "N", "-o", "out", "a.txt"}).status, 2);
        QCOMPARE(perchbox({"presets", "frobnicate"}).status, 2);
        QCOMPARE(tree(m_work), QStringList{"a.txt"}); // nothing was written by any of them
    }

    void presetsListAndExport()
    {
        Result r = perchbox({"presets"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("Rename (rename):\n  Holiday\n"));
        QVERIFY(r.out.contains("Zip (zip):\n  Plain zip\n  Each\n"));

        r = perchbox({"presets", "convert"});
        QCOMPARE(r.out, QStringLiteral("To AIFF\nHeavy video\nCut out\n"));

        r = perchbox({"presets", "export", "rename", "Holiday"});
        QCOMPARE(r.status, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("findText").toString(), QStringLiteral("IMG"));
        QCOMPARE(PresetJson::decodeRename(o)->name, QStringLiteral("Holiday"));
        QCOMPARE(perchbox({"presets", "export", "rename", "holiday"}).status, 2); // case-sensitive
    }

    // Listings and runs only read the settings: a file with an entry this version cannot read
    // is neither rewritten nor copied aside by them.
    void listingsNeverWriteSettings()
    {
        const QString path = SettingsStore::defaultPath();
        const QByteArray saved = readFile(path);
        QJsonObject root = QJsonDocument::fromJson(saved).object();
        QJsonObject values = root.value("values").toObject();
        values.insert("fromANewerVersion", QJsonObject{{"type", "int"}, {"value", "not a number"}});
        root.insert("values", values);
        const QByteArray odd = QJsonDocument(root).toJson();
        QVERIFY(writeFile(path, odd));
        QVERIFY(writeFile(work("IMG_1.txt"), "x"));
        QCOMPARE(perchbox({"presets"}).status, 0);
        QCOMPARE(perchbox({"presets", "export", "rename", "Holiday"}).status, 0);
        QCOMPARE(perchbox({"run", "rename", "--preset", "Holiday", "--dry-run", "IMG_1.txt"}).status, 0);
        QCOMPARE(readFile(path), odd);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList({"settings.json*"}), QStringList{"settings.json"});
        QVERIFY(writeFile(path, saved));
    }

    // `perchbox --send` with files that all are missing: one line for each on standard error,
    // exit status 1, and nothing started or shown (here: no display, no data written).
    void sendWithOnlyMissingFiles()
    {
        const Result r = perchbox({"--send", "gone.txt", work("also gone.png")});
        QCOMPARE(r.status, 1);
        const QStringList lines = r.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].contains("gone.txt") && lines[1].contains("also gone.png"));
        QVERIFY(!QFileInfo::exists(m_home.filePath("data/Perchbox/shelves.json")));
        QCOMPARE(perchbox({"gone.txt"}).status, 1); // the plain form is a send too
    }

    // An exported preset runs from its file (and from standard input); a record that misses a
    // required key is refused, one that misses a defaulted key is read leniently.
    void presetFile()
    {
        const QByteArray json = perchbox({"presets", "export", "rename", "Holiday"}).out.toUtf8();
        QVERIFY(writeFile(work("p.json"), json));
        QVERIFY(writeFile(work("IMG_1.jpg"), "1"));
        Result r = perchbox({"run", "rename", "--preset-file", "p.json", "IMG_1.jpg"});
        QCOMPARE(r.status, 0);
        QVERIFY(QFile::exists(work("Holiday_1.jpg")));

        QVERIFY(writeFile(work("IMG_2.jpg"), "2"));
        QCOMPARE(perchbox({"run", "rename", "--preset-file", "-", "IMG_2.jpg"}, json).status, 0);
        QVERIFY(QFile::exists(work("Holiday_2.jpg")));

        QJsonObject strict = QJsonDocument::fromJson(json).object();
        strict.remove("keepExt");
        QVERIFY(writeFile(work("bad.json"), QJsonDocument(strict).toJson()));
        QVERIFY(writeFile(work("IMG_3.jpg"), "3"));
        r = perchbox({"run", "rename", "--preset-file", "bad.json", "IMG_3.jpg"});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains("not a rename preset"));
        QVERIFY(writeFile(work("junk.json"), "{ nope"));
        QCOMPARE(perchbox({"run", "rename", "--preset-file", "junk.json", "IMG_3.jpg"}).status, 2);
        QVERIFY(QFile::exists(work("IMG_3.jpg")));

        // Flatten without an id is fine (a fresh one is given).
        QVERIFY(writeFile(work("f.json"), R"({"name":"x","duplicateMode":"keepForReview","operation":"copy"})"));
        QCOMPARE(perchbox({"run", "flatten", "--preset-file", "f.json", "-o", "flat", "IMG_3.jpg"}).status, 0);
        QVERIFY(QFile::exists(work("flat/IMG_3.jpg")));

        // A value this version does not know is refused by name: no zip in place of a 7Z
        // archive, no copy in place of a move.
        QVERIFY(writeFile(work("z.json"), R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","name":"z","format":"sevenZip","compressionLevel":"normal",)"
                                          R"("usePassword":false,"password":"","zipIndividually":false,"removeOriginals":false})"));
        r = perchbox({"run", "zip", "--preset-file", "z.json", "-o", "zips", "IMG_3.jpg"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(R"(format "sevenZip" is not one this version knows ("zip", "7z", "tarGz"))"), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(work("zips")) || QDir(work("zips")).isEmpty());
        QVERIFY(writeFile(work("m.json"), R"({"name":"x","duplicateMode":"keepForReview","operation":"moveAll"})"));
        r = perchbox({"run", "flatten", "--preset-file", "m.json", "-o", "flat2", "IMG_3.jpg"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(R"(operation "moveAll")"), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(work("flat2/IMG_3.jpg")));
    }

    void renameDryRunAndRun()
    {
        QVERIFY(writeFile(work("IMG_1.jpg"), "1"));
        QVERIFY(writeFile(work("IMG_2.jpg"), "2"));
        QVERIFY(writeFile(work("Holiday_2.jpg"), "taken"));
        QVERIFY(writeFile(work("notes.txt"), "n"));
        const QStringList before = tree(m_work);

        Result r = perchbox({"run", "rename", "--preset", "Holiday", "--dry-run", "IMG_1.jpg", "IMG_2.jpg", "notes.txt"});
        QCOMPARE(r.status, 1); // as the real run: one of the renames fails
        QVERIFY2(r.out.contains("IMG_1.jpg → Holiday_1.jpg\n"), qPrintable(r.out));
        QVERIFY(r.out.contains("IMG_2.jpg → Holiday_2.jpg  (that name is taken; would fail)"));
        QVERIFY(r.out.contains("notes.txt → notes.txt  (unchanged)"));
        QCOMPARE(tree(m_work), before);

        r = perchbox({"run", "rename", "--preset", "Holiday", "IMG_1.jpg", "IMG_2.jpg", "missing.jpg"});
        QCOMPARE(r.status, 1); // a taken name and a missing file
        QVERIFY(r.err.contains("missing.jpg"));
        QVERIFY(r.err.contains("IMG_2.jpg"));
        QCOMPARE(tree(m_work), (QStringList{"Holiday_1.jpg", "Holiday_2.jpg", "IMG_2.jpg", "notes.txt"}));
        QCOMPARE(readFile(work("Holiday_2.jpg")), QByteArray("taken"));
    }

    // A dry run refuses what the real run refuses, and exits as it would.
    void renameDryRunRefusesBadNames()
    {
        QVERIFY(writeFile(work("a.txt"), "a"));
        QVERIFY(writeFile(work("b.txt"), "b"));
        const QStringList before = tree(m_work);
        const QByteArray exported = perchbox({"presets", "export", "rename", "Holiday"}).out.toUtf8();
        auto presetWith = [this, exported](const QString &replacement) {
            QJsonObject preset = QJsonDocument::fromJson(exported).object();
            preset.insert("findText", "a");
            preset.insert("replaceWith", replacement);
            return writeFile(work("p.json"), QJsonDocument(preset).toJson());
        };

        QVERIFY(presetWith(QStringLiteral("x") + QChar(0) + QStringLiteral("y")));
        Result r = perchbox({"run", "rename", "--preset-file", "p.json", "--dry-run", "a.txt"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.out.contains("NUL"), qPrintable(r.out));
        QCOMPARE(perchbox({"run", "rename", "--preset-file", "p.json", "a.txt"}).status, 1);

        // A name too long for the file system is cut to fit, its extension kept.
        QVERIFY(presetWith(QString(300, QLatin1Char('n'))));
        r = perchbox({"run", "rename", "--preset-file", "p.json", "--dry-run", "a.txt"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains("a.txt → " + QString(251, QLatin1Char('n')) + ".txt"), qPrintable(r.out));

        // Nothing would fail: 0, as the real run.
        QVERIFY(presetWith(QStringLiteral("c")));
        QCOMPARE(perchbox({"run", "rename", "--preset-file", "p.json", "--dry-run", "a.txt", "b.txt"}).status, 0);
        QFile::remove(work("p.json"));
        QCOMPARE(tree(m_work), before);
    }

    // The dry run shows the duplicates exactly where the run then puts them, and touches nothing.
    void flattenDryRunMatchesRun()
    {
        QVERIFY(writeFile(work("A/x.txt"), "1"));
        QVERIFY(writeFile(work("A/B/x.txt"), "2"));
        QVERIFY(writeFile(work("A/B/C/x.txt"), "3"));
        QVERIFY(writeFile(work("A/.hidden"), "h"));
        QVERIFY(writeFile(work("README"), "r"));
        const QStringList before = tree(m_work);

        Result dry = perchbox({"run", "flatten", "--preset", "Keep both", "--dry-run", "-o", "out", "A", "README"});
        QCOMPARE(dry.status, 0);
        QCOMPARE(dry.out.count('\n'), 4);
        QVERIFY(dry.out.contains("/out/x.txt\n"));
        QVERIFY(dry.out.contains("/out/_Duplicates/x.txt (duplicate name"));
        QVERIFY(dry.out.contains("/out/_Duplicates/x (1).txt (duplicate name"));
        QVERIFY(!dry.out.contains(".hidden"));
        QCOMPARE(tree(m_work), before); // not even the destination was made

        Result r = perchbox({"run", "flatten", "--preset", "Keep both", "-o", "out", "A", "README"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.trimmed(), QStringLiteral("4 copied · 2 duplicate(s) in _Duplicates"));
        QCOMPARE(tree(work("out")), (QStringList{"README", "_Duplicates/x (1).txt", "_Duplicates/x.txt", "x.txt"}));

        // The second dry run sees what the first run left behind.
        dry = perchbox({"run", "flatten", "--preset", "Keep both", "--dry-run", "-o", "out", "README"});
        QVERIFY(dry.out.contains("/out/_Duplicates/README (duplicate name"));
    }

    void zipNamesAndFailures()
    {
        if (!QFile::exists("/usr/bin/zip"))
            QSKIP("zip is not installed");
        QVERIFY(writeFile(work("a.txt"), "a"));
        QVERIFY(writeFile(work("dir/b.txt"), "b"));
        Result r = perchbox({"run", "zip", "--preset", "Plain zip", "-o", "out", "a.txt", "dir"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.trimmed(), work("out/a.zip"));
        r = perchbox({"run", "zip", "--preset", "Plain zip", "-o", "out", "a.txt"});
        QCOMPARE(r.out.trimmed(), work("out/a 2.zip")); // a clash takes the next free name
        r = perchbox({"run", "zip", "--preset", "Plain zip", "--name", "My: files", "-o", "out", "dir"});
        QCOMPARE(r.out.trimmed(), work("out/My- files.zip"));
        r = perchbox({"run", "zip", "--preset", "Each", "--output", "each", "a.txt", "dir"});
        QCOMPARE(r.status, 0);
        QCOMPARE(tree(work("each")), (QStringList{"a.zip", "dir.zip"}));

        // Names that would be hidden, empty or too long are refused up front, with a reason.
        const QStringList outBefore = tree(work("out"));
        for (const QString &bad : {QStringLiteral(".."), QStringLiteral(" "), QString(300, QLatin1Char('n'))}) {
            r = perchbox({"run", "zip", "--preset", "Plain zip", "--name", bad, "-o", "out", "a.txt"});
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains("--name: The archive name"), qPrintable(r.err));
        }
        QCOMPARE(tree(work("out")), outBefore);

        QProcess list;
        list.start("/usr/bin/unzip", {"-Z1", work("out/a.zip")});
        if (list.waitForFinished())
            QCOMPARE(QString::fromUtf8(list.readAll()).split('\n', Qt::SkipEmptyParts).size(), 3); // a.txt dir/ dir/b.txt

        // A folder that cannot be written: a clear error and nothing else.
        QVERIFY(QDir().mkpath(work("ro")));
        QFile::setPermissions(work("ro"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        r = perchbox({"run", "zip", "--preset", "Plain zip", "-o", "ro", "a.txt"});
        QFile::setPermissions(work("ro"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (::geteuid() != 0) {
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.contains("cannot write into the output folder"), qPrintable(r.err));
            QVERIFY(tree(work("ro")).isEmpty());
        }
    }

    void convertAudio()
    {
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
            QSKIP("ffmpeg is needed to make the inputs");
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=1", work("in/tone.wav")}));
        QVERIFY(writeFile(work("in/readme.txt"), "not media"));
        Result r = perchbox({"run", "convert", "--preset", "To AIFF", "-o", "out", "in"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.trimmed(), work("out/tone.aiff"));
        QVERIFY(QFileInfo(work("out/tone.aiff")).size() > 1000);

        // A conversion run starts itself once more (for the C library's large-block setting):
        // a preset on standard input still arrives.
        const QByteArray preset = perchbox({"presets", "export", "convert", "To AIFF"}).out.toUtf8();
        r = perchbox({"run", "convert", "--preset-file", "-", "-o", "out-stdin", "in"}, preset);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(work("out-stdin/tone.aiff")).size() > 1000);

        r = perchbox({"run", "convert", "--preset", "To AIFF", "--next-to-first", "in/readme.txt"});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains("None of the given items contain supported"));
        const QString staging = m_home.filePath("data/Perchbox/ConversionTemp");
        QVERIFY(!QDir(staging).exists() || QDir(staging).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));

        // Without the audio/video module the run fails with the reason and writes nothing.
        m_extraEnv.insert(QStringLiteral("PERCHBOX_MODULE_DIR"), work("missing"));
        r = perchbox({"run", "convert", "--preset", "To AIFF", "-o", "out-none", "in"});
        m_extraEnv.clear();
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("audio and video conversion is unavailable") && r.err.contains("libperchbox-av.so"),
                 qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(work("out-none/tone.aiff")));
        QVERIFY(!QDir(staging).exists() || QDir(staging).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));

        // Audio needs the audio/video module alone: the image libraries are not involved.
        QVERIFY(QDir().mkpath(work("av-only")));
        QVERIFY(QFile::link(QFileInfo(QStringLiteral(PERCHBOX_EXECUTABLE)).absolutePath() + "/libperchbox-av.so",
                            work("av-only/libperchbox-av.so")));
        m_extraEnv.insert(QStringLiteral("PERCHBOX_MODULE_DIR"), work("av-only"));
        r = perchbox({"run", "convert", "--preset", "To AIFF", "-o", "out-av", "in"});
        m_extraEnv.clear();
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(work("out-av/tone.aiff")).size() > 1000);
        QVERIFY2(!r.err.contains("unavailable"), qPrintable(r.err));
    }

    // Ctrl+C during a long conversion: exit 130, no partial output, no staging folder left.
    // Every file that produces nothing says why on standard error, and the run exits 1: a
    // file cut short, a pipe named like media (refused unopened; it used to hang the run),
    // background removal asked for without its model. FFmpeg's own complaints stay out.
    void convertSaysWhyFilesFail()
    {
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
            QSKIP("ffmpeg is needed to make the inputs");
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=duration=3", "-ac", "2", work("whole.wav")}));
        QVERIFY(writeFile(work("in/cut.wav"), readFile(work("whole.wav")).left(200 * 1024)));
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=duration=1", work("in/fine.wav")}));
        QCOMPARE(::mkfifo(QFile::encodeName(work("in/pipe.mp4")).constData(), 0600), 0);
        Result r = perchbox({"run", "convert", "--preset", "To AIFF", "-o", "out", "in"});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.out.trimmed(), work("out/fine.aiff"));
        QVERIFY2(r.err.contains(work("in/cut.wav") + ": The file ends early"), qPrintable(r.err));
        QVERIFY2(r.err.contains(work("in/pipe.mp4") + ": Not a regular file"), qPrintable(r.err));
        QVERIFY(r.err.contains("1 of 3 files converted"));
        QCOMPARE(tree(work("out")), QStringList{"fine.aiff"});

        // An MP4 whose index was cut off: FFmpeg's "moov atom not found" goes to our debug
        // log, not to the terminal; the user sees one line of ours.
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v", "mpeg4", work("v.mp4")}));
        QVERIFY(writeFile(work("broken/v.mp4"), readFile(work("v.mp4")).left(3000)));
        r = perchbox({"run", "convert", "--preset", "Heavy video", "-o", "out2", "broken"});
        QCOMPARE(r.status, 1);
        QVERIFY2(!r.err.contains("moov"), qPrintable(r.err));
        QVERIFY2(r.err.contains(work("broken/v.mp4") + ": "), qPrintable(r.err));

        // Background removal without its model: the file fails and says how to get it.
        m_extraEnv.insert("XDG_DATA_DIRS", m_home.filePath("no-data-dirs"));
        m_extraEnv.insert("PERCHBOX_MODEL_DIR", QString());
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=s=32x32", "-frames:v", "1", work("pic/p.png")}));
        r = perchbox({"run", "convert", "--preset", "Cut out", "-o", "out3", "pic"});
        m_extraEnv.clear();
        if (r.status == 0)
            QSKIP("a background model is installed system-wide here");
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("The background-removal model is not installed"), qPrintable(r.err));
        QVERIFY(!r.err.contains("scripts/"));
        QVERIFY(tree(work("out3")).isEmpty());
    }

    // Ctrl+C and SIGTERM stop a conversion: exit 130, nothing half-written anywhere.
    void interruptConvert_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void interruptConvert()
    {
        QFETCH(int, signal);
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
            QSKIP("ffmpeg is needed to make the inputs");
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=640x360:rate=30:duration=30", "-c:v", "mpeg4",
                        work("in/clip.mp4")}));
        QProcess p;
        p.setProcessEnvironment(environment());
        p.setWorkingDirectory(m_work);
        p.start(QStringLiteral(PERCHBOX_EXECUTABLE), {"run", "convert", "--preset", "Heavy video", "-o", "out", "in"});
        QVERIFY(p.waitForStarted());
        const QString staging = m_home.filePath("data/Perchbox/ConversionTemp");
        QDeadlineTimer deadline(30000);
        auto stagedFiles = [&] { return tree(staging); };
        while (stagedFiles().isEmpty() && !deadline.hasExpired() && p.state() == QProcess::Running)
            QTest::qWait(50);
        QVERIFY2(!stagedFiles().isEmpty(), "the conversion never started writing");
        QTest::qWait(300);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() == 130, qPrintable(QStringLiteral("exit %1: %2").arg(p.exitCode()).arg(err)));
        QVERIFY(tree(work("out")).isEmpty());
        QVERIFY(tree(staging).isEmpty());
        QVERIFY(err.contains("cancel"));
    }

    // The "Perchbox" submenu of every file manager, kept in step with the presets.
    void fileManagerEntries()
    {
        const QString thunar = SendToIntegration::thunarActionsPath();
        const QByteArray userActions = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n<action>\n"
                                       "\t<name>Mine</name>\n\t<unique-id>1-user</unique-id>\n"
                                       "\t<command>echo %f</command>\n</action>\n</actions>\n";
        QVERIFY(writeFile(thunar, userActions));
        QVERIFY(writeFile(PresetFileManagerEntries::nautilusFolder() + "/My own script", "#!/bin/sh\n"));

        AppSettings settings(*m_settings);
        settings.setFlattenDefaultDestination(QUrl::fromLocalFile(m_home.filePath("flat dest")));
        const QList<PresetMenuEntry> entries = PresetMenuSync::currentEntries(*m_presets, settings);
        QStringList errors;
        QVERIFY2(PresetFileManagerEntries::write("/opt/perch box/perchbox", entries, &errors), qPrintable(errors.join('\n')));

        const QStringList scripts = QDir(PresetFileManagerEntries::nautilusFolder()).entryList(QDir::Files);
        QVERIFY(scripts.contains("Convert: To AIFF"));
        QVERIFY(scripts.contains("Zip: Each"));
        QVERIFY(scripts.contains("Rename: Holiday"));
        QVERIFY(scripts.contains("Flatten: Keep both"));
        const QByteArray script = readFile(PresetFileManagerEntries::nautilusFolder() + "/Flatten: Keep both");
        QVERIFY2(script.contains("exec '/opt/perch box/perchbox' 'run' 'flatten' '--preset' 'Keep both' '--output' '"
                                 + m_home.filePath("flat dest").toUtf8() + "' '--' \"$@\""),
                 script.constData());
        QVERIFY(readFile(PresetFileManagerEntries::nautilusFolder() + "/Zip: Each").contains("'--next-to-first'"));
        QVERIFY(!readFile(PresetFileManagerEntries::nautilusFolder() + "/Rename: Holiday").contains("--output"));
        QVERIFY(QFileInfo(PresetFileManagerEntries::nautilusFolder() + "/Zip: Each").isExecutable());

        const QByteArray dolphin = readFile(PresetFileManagerEntries::dolphinPaths().first());
        QVERIFY(dolphin.contains("X-KDE-Submenu=Perchbox\n"));
        QVERIFY(dolphin.contains("Name=Convert: Heavy video\n"));
        QVERIFY(dolphin.contains("Exec=\"/opt/perch box/perchbox\" run convert --preset \"Heavy video\" --next-to-first -- %F"));

        QByteArray uca = readFile(thunar);
        QVERIFY(uca.contains("<unique-id>1-user</unique-id>"));
        QCOMPARE(uca.count("<submenu>Perchbox</submenu>"), entries.size());
        QVERIFY(uca.contains("<name>Zip: Plain zip</name>"));
        QCOMPARE(QDir(PresetFileManagerEntries::nemoFolder()).entryList({"perchbox-preset-*"}).size(), entries.size());

        // A preset deleted: its entries go, the others and the user's own stay.
        const QUuid each = m_presets->archivePresets().at(1).id;
        m_presets->deleteArchive(each);
        QVERIFY(PresetFileManagerEntries::write("/opt/perch box/perchbox",
                                                PresetMenuSync::currentEntries(*m_presets, settings)));
        QVERIFY(!QFile::exists(PresetFileManagerEntries::nautilusFolder() + "/Zip: Each"));
        QVERIFY(QFile::exists(PresetFileManagerEntries::nautilusFolder() + "/Zip: Plain zip"));
        uca = readFile(thunar);
        QVERIFY(!uca.contains("Zip: Each"));
        QCOMPARE(QDir(PresetFileManagerEntries::nemoFolder()).entryList({"perchbox-preset-*"}).size(), entries.size() - 1);

        // Switched off: ours are gone, Thunar's file is back to the user's own byte for byte.
        QVERIFY(PresetFileManagerEntries::uninstall());
        QCOMPARE(readFile(thunar), userActions);
        QCOMPARE(QDir(PresetFileManagerEntries::nautilusFolder()).entryList(QDir::Files), QStringList{"My own script"});
        QVERIFY(!QFile::exists(PresetFileManagerEntries::dolphinPaths().first()));
        QVERIFY(QDir(PresetFileManagerEntries::nemoFolder()).entryList({"perchbox-preset-*"}).isEmpty());

        // A Thunar file we cannot read is never replaced.
        QByteArray merged;
        QVERIFY(!PresetFileManagerEntries::mergeThunarActions("<actions><action>", "/x", entries, &merged));
    }

    // Attached to the store, the entries follow saves and deletes; the Send to Perchbox
    // install and uninstall carry them along.
    void entriesFollowPresetStore()
    {
        m_appSettings = std::make_unique<AppSettings>(*m_settings);
        const QString folder = PresetFileManagerEntries::nautilusFolder();
        PresetMenuSync::attach(*m_presets, *m_appSettings, QStringLiteral("/usr/bin/perchbox"));
        QVERIFY(QFile::exists(folder + "/Rename: Holiday"));

        FlattenPreset later;
        later.id = QUuid::createUuid();
        later.name = QStringLiteral("Later/on");
        m_presets->saveFlatten(later);
        QVERIFY(QFile::exists(folder + QStringLiteral("/Flatten: Later\u2215on")));
        m_presets->deleteFlatten(later.id);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/Flatten: Later\u2215on")));

        QVERIFY(SendToIntegration::uninstall());
        QVERIFY(!QFile::exists(folder + "/Rename: Holiday"));
        QVERIFY(!QFile::exists(PresetFileManagerEntries::dolphinPaths().first()));
        QVERIFY(SendToIntegration::install(QStringLiteral("/usr/bin/perchbox")));
        QVERIFY(QFile::exists(folder + "/Rename: Holiday"));
        QVERIFY(QFile::exists(PresetFileManagerEntries::dolphinPaths().first()));
        QVERIFY(SendToIntegration::uninstall());
    }

    // Options in both spellings; after "--" everything is a file, even "-x" and "--dry-run".
    void argumentForms()
    {
        QString error;
        auto cmd = Cli::parse({"run", "flatten", "--preset=Keep both", "-o", "out", "--", "-x", "--dry-run"}, &error);
        QVERIFY2(cmd, qPrintable(error));
        QCOMPARE(cmd->run.presetName, QStringLiteral("Keep both"));
        QCOMPARE(cmd->run.output, QByteArray("out"));
        QVERIFY(!cmd->run.dryRun);
        QCOMPARE(cmd->run.files, (QList<QByteArray>{"-x", "--dry-run"}));
        QVERIFY(!Cli::parse({"run", "zip", "--preset", "a", "--preset-file", "b", "f"}, &error));
        QVERIFY(!Cli::parse({"run", "zip", "--preset", "a", "-o", "d", "--next-to-first", "f"}, &error));
        QVERIFY(!Cli::parse({"run", "zip", "--preset"}, &error));
        QVERIFY(error.contains("needs a value"));
        QVERIFY(Cli::handles("run") && Cli::handles("--help") && !Cli::handles("--send") && !Cli::handles("file.txt"));
    }

    void progressText()
    {
        QCOMPARE(CliProgress::format({QStringLiteral("Converting…"), 0.456, QStringLiteral("file 3/10"),
                                      QStringLiteral("~0:12 remaining")}),
                 QStringLiteral("Converting… 45% · file 3/10 · ~0:12 remaining"));
        QCOMPARE(CliProgress::format({QStringLiteral("Flattening…"), std::nullopt, QStringLiteral("2 items"), {}}),
                 QStringLiteral("Flattening… · 2 items"));
        QCOMPARE(CliProgress::format({{}, 1.7, {}, {}}), QStringLiteral("100%"));
    }

    // Keep newest: only a strictly newer source replaces, also against a file placed earlier
    // in the same run; a file already in the destination stays.
    void flattenPlanKeepNewest()
    {
        QVERIFY(writeFile(work("dest/a.txt"), "existing"));
        QVERIFY(writeFile(work("src/a.txt"), "older"));
        QVERIFY(writeFile(work("src/sub/b.txt"), "new"));
        QVERIFY(writeFile(work("src/sub2/b.txt"), "same age"));
        auto setTime = [](const QString &path, time_t t) {
            struct utimbuf times{t, t};
            return ::utime(QFile::encodeName(path).constData(), &times) == 0;
        };
        QVERIFY(setTime(work("dest/a.txt"), 2000000));
        QVERIFY(setTime(work("src/a.txt"), 1000000));
        QVERIFY(setTime(work("src/sub/b.txt"), 3000000));
        QVERIFY(setTime(work("src/sub2/b.txt"), 3000000));
        const FlattenPlan plan = FlattenDryRun::plan({QUrl::fromLocalFile(work("src")), QUrl::fromLocalFile(work("dest/a.txt"))},
                                                     QUrl::fromLocalFile(work("dest")), FlattenDuplicateMode::overwriteNewest);
        QMap<QByteArray, FlattenPlanStep::Kind> kinds;
        for (const FlattenPlanStep &step : plan.steps)
            kinds.insert(QFile::encodeName(QDir(m_work).relativeFilePath(QString::fromLocal8Bit(step.source))), step.kind);
        QCOMPARE(kinds.size(), 4);
        QCOMPARE(kinds.value("src/a.txt"), FlattenPlanStep::Kind::keepExisting);
        QCOMPARE(kinds.value("dest/a.txt"), FlattenPlanStep::Kind::alreadyThere);
        // Whichever b.txt the walk meets first is placed; the other is as old, so nothing happens to it.
        QList<FlattenPlanStep::Kind> bKinds;
        for (const FlattenPlanStep &step : plan.steps)
            if (step.source.endsWith("/b.txt"))
                bKinds << step.kind;
        QCOMPARE(bKinds, (QList<FlattenPlanStep::Kind>{FlattenPlanStep::Kind::place, FlattenPlanStep::Kind::keepExisting}));
        QVERIFY(!QFile::exists(work("dest/b.txt")));

        // Two sources of one name, the later one newer: in move mode the dry run names the
        // source that the run sends to the Trash; in copy mode only its copy is replaced.
        QVERIFY(writeFile(work("src/sub/c.txt"), "older"));
        QVERIFY(writeFile(work("src/sub2/c.txt"), "newer"));
        QVERIFY(setTime(work("src/sub/c.txt"), 1000000));
        QVERIFY(setTime(work("src/sub2/c.txt"), 4000000));
        const FlattenPlan two = FlattenDryRun::plan({QUrl::fromLocalFile(work("src/sub")), QUrl::fromLocalFile(work("src/sub2"))},
                                                    QUrl::fromLocalFile(work("dest")), FlattenDuplicateMode::overwriteNewest);
        const QString moved = FlattenDryRun::describe(two, FlattenOperation::move).join('\n');
        QVERIFY2(moved.contains(QStringLiteral("(newer; replaces %1, which goes to the Trash)").arg(work("src/sub/c.txt"))),
                 qPrintable(moved));
        const QString copied = FlattenDryRun::describe(two, FlattenOperation::copy).join('\n');
        QVERIFY2(copied.contains(QStringLiteral("(newer; replaces the copy of %1)").arg(work("src/sub/c.txt"))),
                 qPrintable(copied));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
