#include "platform/FilePath.h"
#include "platform/PrivateTemp.h"
#include "tools/archive/ArchiveEngine.h"
#include "tools/archive/ArchiveFileOps.h"
#include "tools/archive/ArchiveRunner.h"
#include "tools/progress/ShelfProgressState.h"

#include <QtTest>

#include <bit>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace ArchiveEngine;

void writeBytes(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    QCOMPARE(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
    ::close(fd);
}

QByteArray readBytes(const QByteArray &path)
{
    QByteArray out;
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return "<missing>";
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, n);
    ::close(fd);
    return out;
}

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QByteArray out(n, '\0');
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<quint32 *>(out.data()), n / 4);
    return out;
}

// Runs a tool and returns its exit code (stdout in `out`).
int runTool(const QString &program, const QStringList &args, const QString &cwd = {}, QByteArray *out = nullptr)
{
    QProcess p;
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    p.start(program, args);
    p.closeWriteChannel(); // a tool that asks for input reads end-of-file
    p.waitForFinished(120000);
    if (out)
        *out = p.readAllStandardOutput() + p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The entry names of a ZIP archive, from its central directory.
QList<QByteArray> zipEntryNames(const QByteArray &zip)
{
    QList<QByteArray> names;
    for (qsizetype at = zip.indexOf("PK\x01\x02"); at >= 0 && at + 46 <= zip.size();
         at = zip.indexOf("PK\x01\x02", at + 4)) {
        const auto u16 = [&](qsizetype o) { return int(uchar(zip[at + o])) | int(uchar(zip[at + o + 1])) << 8; };
        names << zip.mid(at + 46, u16(28));
    }
    return names;
}

struct RunResult {
    bool done = false;
    std::optional<QString> message;
    QList<double> progress;
};

RunResult build(const QList<QUrl> &inputs, const QUrl &output, ArchiveFormat format,
                CompressionLevel level = CompressionLevel::normal, bool usePassword = false,
                const QString &password = {}, ArchiveCancellationTokenPtr token = {},
                const ArchiveToolPaths &tools = {}, std::function<void(double)> extra = {})
{
    auto result = std::make_shared<RunResult>();
    if (!token)
        token = std::make_shared<ArchiveCancellationToken>();
    buildArchive(
        inputs, output, format, level, usePassword, password, token,
        [result, extra](double f) {
            result->progress << f;
            if (extra)
                extra(f);
        },
        [result](std::optional<QString> m) {
            result->message = m;
            result->done = true;
        },
        tools);
    QElapsedTimer timer;
    timer.start();
    while (!result->done && timer.elapsed() < 180000)
        QTest::qWait(10);
    return *result;
}

QUrl url(const QByteArray &path)
{
    return FilePath::urlFromBytes(path);
}

class FakeHost : public ArchiveRunHost
{
public:
    std::optional<QUrl> saveTo;
    std::optional<QUrl> folder;
    QString proposedName, saveMessage;
    QList<QUrl> revealed;
    QStringList alerts;
    void chooseSaveLocation(const QString &name, const QString &message, ArchiveFormat,
                            std::function<void(std::optional<QUrl>)> done) override
    {
        proposedName = name;
        saveMessage = message;
        done(saveTo);
    }
    void chooseDestinationFolder(std::function<void(std::optional<QUrl>)> done) override { done(folder); }
    void reveal(const QList<QUrl> &urls) override { revealed << urls; }
    void showAlert(const QString &title, const QString &message) override { alerts << title + "|" + message; }
};

} // namespace

class TestArchiveEngine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_root;

    QByteArray path(const QByteArray &rel) const { return m_root + '/' + rel; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_root = QFile::encodeName(m_dir.path());
        // Trash and temporary archives stay inside the test folder.
        qputenv("XDG_DATA_HOME", m_root + "/data");
        qputenv("TMPDIR", m_root + "/tmp");
        QVERIFY(QDir().mkpath(m_dir.path() + "/data") && QDir().mkpath(m_dir.path() + "/tmp"));
    }

    void cleanupTestCase()
    {
        // QDir cannot remove names that are not UTF-8.
        ArchiveFileOps::removeTree(m_root);
    }

    // ------------------------------------------------------------------ pure rules

    void argumentLists()
    {
        const QList<QByteArray> in{"/a/x y.txt", "/b/dir"};
        QCOMPARE(arguments(ArchiveFormat::zip, CompressionLevel::max, false, {}, "/o.zip", in),
                 (QList<QByteArray>{"-9", "-r", "-y", "-v", "/o.zip", "."}));
        QCOMPARE(arguments(ArchiveFormat::zip, CompressionLevel::fast, true, "pw", "/o.zip", in).first(), "-1");
        QCOMPARE(arguments(ArchiveFormat::tarGz, CompressionLevel::max, true, "pw", "/o.tar.gz", in),
                 (QList<QByteArray>{"-czvf", "/o.tar.gz", "/a/x y.txt", "/b/dir"}));
        QCOMPARE(arguments(ArchiveFormat::sevenZip, CompressionLevel::max, true, {}, "/o.7z", in),
                 (QList<QByteArray>{"a", "-bsp2", "-snl", "/o.7z", "/a/x y.txt", "/b/dir"}));
        QCOMPARE(arguments(ArchiveFormat::sevenZip, CompressionLevel::fast, false, "pw", "/o.7z", in),
                 (QList<QByteArray>{"a", "-bsp2", "-snl", "/o.7z", "/a/x y.txt", "/b/dir"}));
        // The password itself is never an argument.
        QCOMPARE(arguments(ArchiveFormat::sevenZip, CompressionLevel::normal, true, QString::fromUtf8("pä ss"),
                           "/o.7z", in),
                 (QList<QByteArray>{"a", "-bsp2", "-snl", "-p", "-mhe=on", "/o.7z", "/a/x y.txt", "/b/dir"}));
    }

    // Names a user types are refused when they would make a hidden, nameless or impossible
    // file; names the program proposes are made usable instead.
    void archiveNames()
    {
        QVERIFY(archiveNameProblem(QStringLiteral(".."), ArchiveFormat::zip).contains("hidden"));
        QVERIFY(archiveNameProblem(QStringLiteral(".config"), ArchiveFormat::zip).contains("hidden"));
        QVERIFY(archiveNameProblem(QStringLiteral("   "), ArchiveFormat::zip).contains("empty"));
        QVERIFY(archiveNameProblem(QString(300, QLatin1Char('n')), ArchiveFormat::zip).contains("too long"));
        QVERIFY(archiveNameProblem(QString(251, QLatin1Char('n')), ArchiveFormat::zip).isEmpty());      // 255 with ".zip"
        QVERIFY(!archiveNameProblem(QString(251, QLatin1Char('n')), ArchiveFormat::tarGz).isEmpty()); // 258 with ".tar.gz"
        QVERIFY(archiveNameProblem(QStringLiteral("a/b"), ArchiveFormat::zip).isEmpty());              // cleaned to a-b
        QCOMPARE(usableBaseName(QStringLiteral(".."), ArchiveFormat::zip), QStringLiteral("Archive"));
        QCOMPARE(usableBaseName(QStringLiteral(".bashrc"), ArchiveFormat::zip), QStringLiteral("bashrc"));
        const QString longest = usableBaseName(QString(200, QChar(0xE9)), ArchiveFormat::tarGz); // 2 bytes each
        QCOMPARE(QFile::encodeName(longest + ".tar.gz").size(), 255);
    }

    void namesAndClashes()
    {
        QCOMPARE(cleanBaseName(QStringLiteral("a/b:c*d?e\"f<g>h|i\\j k")), QStringLiteral("a-b-c-d-e-f-g-h-i-j k"));

        StagingNamer namer;
        QCOMPARE(namer.nameFor("a.txt"), QByteArray("a.txt"));
        QCOMPARE(namer.nameFor("a.txt"), QByteArray("a-1.txt"));
        QCOMPARE(namer.nameFor("README"), QByteArray("README"));
        QCOMPARE(namer.nameFor("README"), QByteArray("README-2"));
        QCOMPARE(namer.nameFor("a.txt"), QByteArray("a-3.txt"));

        const QByteArray dir = path("unique");
        QVERIFY(QDir().mkpath(QFile::decodeName(dir)));
        const QUrl photos = url(dir + "/Photos.zip");
        QCOMPARE(uniqueArchiveURL(photos), photos);
        writeBytes(dir + "/Photos.zip", "x");
        QCOMPARE(uniqueArchiveURL(photos), url(dir + "/Photos 2.zip"));
        writeBytes(dir + "/Photos 2.zip", "x");
        QCOMPARE(uniqueArchiveURL(photos), url(dir + "/Photos 3.zip"));
        writeBytes(dir + "/Photos.tar.gz", "x");
        QCOMPARE(uniqueArchiveURL(url(dir + "/Photos.tar.gz")), url(dir + "/Photos.tar 2.gz"));
        writeBytes(dir + "/Plain", "x");
        QCOMPARE(uniqueArchiveURL(url(dir + "/Plain")), url(dir + "/Plain 2"));
    }

    void progressFromRecordedOutput()
    {
        // 7-Zip: percentages redrawn with backspaces, split anywhere between chunks.
        ProgressParser seven(ArchiveFormat::sevenZip, 0);
        QCOMPARE(seven.feed("  0M Scan  /tmp/\b\b\b\b      \b\b\b\b"), std::nullopt);
        auto f = seven.feed("  4");
        QCOMPARE(f, std::nullopt);
        f = seven.feed("5% 3 + big.bin\b\b\b\b\b\b\b\b\b\b\b\b\b\b              \b\b\b\b");
        QVERIFY(f && qFuzzyCompare(*f, 0.505));
        f = seven.feed("\r100%\n");
        QVERIFY(f && qFuzzyCompare(*f, 0.98));
        QCOMPARE(seven.feed("Everything is Ok\n"), std::nullopt);
        // Found by fuzz_archive_progress: what is no percentage gives no progress (a fraction
        // below 0 or NaN came out).
        QCOMPARE(seven.feed("-100%\n"), std::nullopt);
        QCOMPARE(seven.feed("nan%\b"), std::nullopt);
        f = seven.feed("inf% 1e9%\n");
        QVERIFY(f && qFuzzyCompare(*f, 0.98));

        // A line of a megabyte (a long file name after the percentage) arriving a few bytes
        // at a time: its percentage is read once it is complete, the pieces are not
        // looked through again and again (minutes of copying before), and the next line still counts.
        ProgressParser longLine(ArchiveFormat::sevenZip, 0);
        const QByteArray name = " 12% 1 + " + QByteArray(1 << 20, 'n');
        std::optional<double> seen;
        for (qsizetype at = 0; at < name.size(); at += 7)
            if (auto g = longLine.feed(name.mid(at, 7)))
                seen = g;
        QVERIFY(seen && qFuzzyCompare(*seen, 0.1 + 0.9 * 0.12));
        f = longLine.feed("\b\b 50%");
        QVERIFY(f && qFuzzyCompare(*f, 0.55));

        // zip: only "adding:" lines count, as a fraction of the entries to pack.
        ProgressParser zip(ArchiveFormat::zip, 4);
        f = zip.feed("  adding: a.txt\t(in=3) (out=3) (stored 0%)\n  adding: di");
        QVERIFY(f && qFuzzyCompare(*f, 0.25));
        f = zip.feed("r/ (in=0) (out=0) (stored 0%)\ntotal bytes=3\n");
        QVERIFY(f && qFuzzyCompare(*f, 0.5));
        f = zip.feed("  adding: dir/b (stored 0%)\n  adding: dir/c (stored 0%)\n  adding: extra\n");
        QVERIFY(f && qFuzzyCompare(*f, 0.98));

        // tar: every non-empty line; no total means no progress.
        ProgressParser tar(ArchiveFormat::tarGz, 2);
        f = tar.feed("/tmp/x/\n\n/tmp/x/a\n");
        QVERIFY(f && qFuzzyCompare(*f, 0.98));
        ProgressParser untotalled(ArchiveFormat::tarGz, 0);
        QCOMPARE(untotalled.feed("a\nb\n"), std::nullopt);
    }

    void sevenZipLookup()
    {
        ArchiveToolPaths tools;
        tools.sevenZipCandidates = {QFile::decodeName(path("none/7zz")), QStringLiteral("/usr/bin/7zz")};
        QCOMPARE(tools.sevenZip(), QStringLiteral("/usr/bin/7zz"));
        tools.sevenZipCandidates = {QFile::decodeName(path("none/7zz"))};
        QVERIFY(tools.sevenZip().isEmpty());

        const RunResult r = build({url(path("whatever"))}, url(path("out.7z")), ArchiveFormat::sevenZip,
                                  CompressionLevel::normal, false, {}, {}, tools);
        QCOMPARE(r.message, std::optional<QString>(sevenZipMissingMessage));
        QVERIFY(!ArchiveFileOps::exists(path("out.7z")));
    }

    // ------------------------------------------------------------------ real archivers

    void zipRoundTrip()
    {
        // Two a.txt from different folders, a folder, and awkward names.
        const QByteArray src = path("zipsrc");
        QVERIFY(QDir().mkpath(QFile::decodeName(src + "/one")) && QDir().mkpath(QFile::decodeName(src + "/two")));
        QVERIFY(QDir().mkpath(QFile::decodeName(src + "/folder/sub")));
        writeBytes(src + "/one/a.txt", "first");
        writeBytes(src + "/two/a.txt", "second");
        writeBytes(src + "/folder/sub/deep.bin", randomBytes(300000, 1));
        writeBytes(src + "/folder/.hidden", "h");
        const QByteArray odd = src + "/it's \"odd\"\nname \xFF.txt";
        writeBytes(odd, "odd bytes");

        const QList<QUrl> inputs{url(src + "/one/a.txt"), url(src + "/two/a.txt"), url(src + "/folder"), url(odd)};
        const QByteArray out = path("round.zip");
        const RunResult r = build(inputs, url(out), ArchiveFormat::zip, CompressionLevel::max);
        QCOMPARE(r.message, std::nullopt);
        QVERIFY(!r.progress.isEmpty());
        QCOMPARE(r.progress.last(), 1.0);
        for (int i = 0; i + 1 < r.progress.size(); ++i)
            QVERIFY(r.progress[i] <= 0.98);

        const QString x = QFile::decodeName(path("zipx"));
        QDir().mkpath(x);
        QCOMPARE(runTool("/usr/bin/unzip", {"-q", QFile::decodeName(out), "-d", x}), 0);
        const QByteArray xb = QFile::encodeName(x);
        QCOMPARE(readBytes(xb + "/a.txt"), QByteArray("first"));
        QCOMPARE(readBytes(xb + "/a-1.txt"), QByteArray("second"));
        QCOMPARE(readBytes(xb + "/folder/sub/deep.bin"), readBytes(src + "/folder/sub/deep.bin"));
        QCOMPARE(readBytes(xb + "/folder/.hidden"), QByteArray("h"));
        // The odd name is stored byte for byte (unzip itself sanitises such names on extraction).
        QVERIFY(zipEntryNames(readBytes(out)).contains("it's \"odd\"\nname \xFF.txt"));

        // The staging folder is gone and the originals untouched.
        QVERIFY(QDir(QFile::decodeName(path("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        QCOMPARE(readBytes(src + "/one/a.txt"), QByteArray("first"));
    }

    void tarRoundTrip()
    {
        const QByteArray src = path("tarsrc");
        QVERIFY(QDir().mkpath(QFile::decodeName(src + "/d")));
        writeBytes(src + "/d/f with space.bin", randomBytes(100000, 2));
        writeBytes(src + "/n\xFE.txt", "nonutf8");
        const QByteArray out = path("round.tar.gz");
        const RunResult r = build({url(src + "/d"), url(src + "/n\xFE.txt")}, url(out), ArchiveFormat::tarGz);
        QCOMPARE(r.message, std::nullopt);
        QVERIFY(r.progress.size() >= 2);
        QCOMPARE(r.progress.last(), 1.0);

        const QString x = QFile::decodeName(path("tarx"));
        QDir().mkpath(x);
        QCOMPARE(runTool("/usr/bin/tar", {"-xzf", QFile::decodeName(out), "-C", x}), 0);
        // Stored under the full path without the leading slash.
        const QByteArray xb = QFile::encodeName(x) + src;
        QCOMPARE(readBytes(xb + "/d/f with space.bin"), readBytes(src + "/d/f with space.bin"));
        QCOMPARE(readBytes(xb + "/n\xFE.txt"), QByteArray("nonutf8"));
    }

    void sevenZipRoundTrip_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::newRow("plain") << false;
        QTest::newRow("password") << true;
    }
    void sevenZipRoundTrip()
    {
        QFETCH(bool, encrypted);
        if (ArchiveToolPaths().sevenZip().isEmpty())
            QSKIP("no 7-Zip executable installed");
        const QByteArray src = path(encrypted ? "7src-e" : "7src");
        QVERIFY(QDir().mkpath(QFile::decodeName(src + "/dir")));
        writeBytes(src + "/dir/secret name.txt", randomBytes(200000, 3));
        const QByteArray out = path(encrypted ? "round-e.7z" : "round.7z");
        const QString pw = QStringLiteral("s3cret pass");
        const RunResult r = build({url(src + "/dir")}, url(out), ArchiveFormat::sevenZip, CompressionLevel::normal,
                                  encrypted, pw);
        QCOMPARE(r.message, std::nullopt);
        QCOMPARE(r.progress.last(), 1.0);

        const QString sz = ArchiveToolPaths().sevenZip();
        QByteArray listing;
        const int listed = runTool(sz, {"l", "-p", QFile::decodeName(out)}, {}, &listing);
        if (encrypted) {
            // The names are encrypted too: no listing without the password.
            QVERIFY(listed != 0 || !listing.contains("secret name.txt"));
        } else {
            QCOMPARE(listed, 0);
            QVERIFY(listing.contains("secret name.txt"));
        }
        const QString x = QFile::decodeName(path(encrypted ? "7x-e" : "7x"));
        QStringList args{"x", "-y", "-o" + x, QFile::decodeName(out)};
        if (encrypted)
            args.insert(2, "-p" + pw);
        QCOMPARE(runTool(sz, args), 0);
        QCOMPARE(readBytes(QFile::encodeName(x) + "/dir/secret name.txt"), readBytes(src + "/dir/secret name.txt"));
    }

    // The 7Z password never appears on a command line (where every local user can read
    // it): 7-Zip gets a bare "-p" and the password on its standard input. Names and
    // contents are encrypted; nothing can be listed without it.
    void sevenZipPasswordStaysOffTheCommandLine_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("quotes and spaces") << QStringLiteral("p@ss w\"rd 'x'");
        QTest::newRow("leading dash") << QStringLiteral("-mhe=off");
        QTest::newRow("non-ASCII") << QString::fromUtf8("pässwörd €");
    }
    void sevenZipPasswordStaysOffTheCommandLine()
    {
        QFETCH(QString, password);
        const QString real = ArchiveToolPaths().sevenZip();
        if (real.isEmpty())
            QSKIP("no 7-Zip executable installed");
        const QByteArray tag = QByteArray::number(QTest::currentDataTag() ? qHash(QByteArray(QTest::currentDataTag())) : 0);
        const QByteArray src = path("pw-" + tag);
        QVERIFY(QDir().mkpath(QFile::decodeName(src + "/dir")));
        writeBytes(src + "/dir/secret name.txt", "secret content");
        // Stands in for 7zz: notes its arguments, then runs the real one with the same input.
        const QByteArray recorder = path("7zz-recorder-" + tag);
        writeBytes(recorder, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\nexec '" + QFile::encodeName(real)
                                 + "' \"$@\"\n");
        QCOMPARE(::chmod(recorder.constData(), 0755), 0);
        ArchiveToolPaths tools;
        tools.sevenZipCandidates = {QFile::decodeName(recorder)};
        const QByteArray out = src + "/locked.7z";
        const RunResult r = build({url(src + "/dir")}, url(out), ArchiveFormat::sevenZip, CompressionLevel::normal,
                                  true, password, {}, tools);
        QCOMPARE(r.message, std::nullopt);

        const QByteArray args = readBytes(recorder + ".args");
        QVERIFY2(!args.contains(password.toUtf8()), args.constData());
        QVERIFY(args.split('\n').contains("-p"));
        QVERIFY(!readBytes(out).contains("secret"));

        QByteArray listing;
        QVERIFY(runTool(real, {"l", "-slt", QFile::decodeName(out)}, {}, &listing) != 0);
        QVERIFY(!listing.contains("secret name"));
        const QString x = QFile::decodeName(src + "/x");
        QCOMPARE(runTool(real, {"x", "-y", "-p" + password, "-o" + x, QFile::decodeName(out)}), 0);
        QCOMPARE(readBytes(QFile::encodeName(x) + "/dir/secret name.txt"), QByteArray("secret content"));
    }

    // Links inside an archived folder stay links, pointing where they pointed (out of the
    // folder, into a loop, or at a file beside them), in every format; an item given to the
    // tool that is itself a link stands for what it points to.
    void linksInsideFoldersStayLinks_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("zip") << int(ArchiveFormat::zip);
        QTest::newRow("tar") << int(ArchiveFormat::tarGz);
        QTest::newRow("7z") << int(ArchiveFormat::sevenZip);
    }
    void linksInsideFoldersStayLinks()
    {
        QFETCH(int, format);
        if (ArchiveFormat(format) == ArchiveFormat::sevenZip && ArchiveToolPaths().sevenZip().isEmpty())
            QSKIP("no 7-Zip executable installed");
        const QByteArray src = path("links-" + QByteArray::number(format));
        const QByteArray folder = src + "/folder";
        QVERIFY(QDir().mkpath(QFile::decodeName(folder + "/sub")));
        writeBytes(folder + "/a.txt", "A");
        writeBytes(src + "/outside.txt", "outside");
        QCOMPARE(::symlink("..", (folder + "/up").constData()), 0);
        QCOMPARE(::symlink("../a.txt", (folder + "/sub/alias").constData()), 0);
        QCOMPARE(::symlink("loop2", (folder + "/loop1").constData()), 0);
        QCOMPARE(::symlink("loop1", (folder + "/loop2").constData()), 0);
        QCOMPARE(::symlink((src + "/outside.txt").constData(), (folder + "/abs").constData()), 0);
        QCOMPARE(::symlink("outside.txt", (src + "/top.txt").constData()), 0);
        const QByteArray out = src + "/out." + fileExtension(ArchiveFormat(format)).toLatin1();
        const RunResult r = build({url(folder), url(src + "/top.txt")}, url(out), ArchiveFormat(format));
        QCOMPARE(r.message, std::nullopt);

        QByteArray listing;
        if (ArchiveFormat(format) == ArchiveFormat::zip) {
            const QList<QByteArray> names = zipEntryNames(readBytes(out));
            QCOMPARE(names.size(), 9); // not the hundreds a followed "up -> .." gives
            const QString x = QFile::decodeName(src + "/x");
            QCOMPARE(runTool("unzip", {"-q", QFile::decodeName(out), "-d", x}), 0);
            const QByteArray xf = QFile::encodeName(x) + "/folder";
            QCOMPARE(QFile::symLinkTarget(QFile::decodeName(xf + "/up")), x);
            QCOMPARE(QFileInfo(QFile::decodeName(xf + "/sub/alias")).symLinkTarget(), QFile::decodeName(xf + "/a.txt"));
            QCOMPARE(QFileInfo(QFile::decodeName(xf + "/abs")).symLinkTarget(), QFile::decodeName(src + "/outside.txt"));
            QVERIFY(QFileInfo(QFile::decodeName(xf + "/loop1")).isSymLink());
            QCOMPARE(readBytes(QFile::encodeName(x) + "/top.txt"), QByteArray("outside"));
            QVERIFY(!QFileInfo(x + "/top.txt").isSymLink());
        } else if (ArchiveFormat(format) == ArchiveFormat::tarGz) {
            QCOMPARE(runTool("/usr/bin/tar", {"-tvzf", QFile::decodeName(out)}, {}, &listing), 0);
            QCOMPARE(listing.count('\n'), 9);
            QVERIFY(listing.contains("folder/up -> ..\n"));
            QVERIFY(listing.contains("folder/loop1 -> loop2\n"));
            QVERIFY(listing.contains("folder/abs -> " + src + "/outside.txt\n"));
        } else {
            QCOMPARE(runTool(ArchiveToolPaths().sevenZip(), {"l", "-slt", QFile::decodeName(out)}, {}, &listing), 0);
            QCOMPARE(listing.count("\nPath = "), 10); // the archive itself, then 9 entries
            QCOMPARE(listing.count("lrwxrwxrwx"), 5);
        }
    }

    // Archives are built in a folder only the user can enter, inside our own temporary
    // folder, and nothing of the run stays there afterwards.
    void archivesAreBuiltPrivately()
    {
        const QByteArray src = path("private");
        QVERIFY(QDir().mkpath(QFile::decodeName(src)));
        writeBytes(src + "/secret.txt", "s");
        QCOMPARE(::chmod((src + "/secret.txt").constData(), 0600), 0);
        // Stands in for tar: notes where it writes and that folder's mode, then runs tar.
        const QByteArray recorder = path("tar-recorder");
        writeBytes(recorder, "#!/bin/sh\necho \"$2\" > \"$0.out\"\nstat -c '%a %u' \"$(dirname \"$2\")\" >> \"$0.out\"\n"
                             "exec /usr/bin/tar \"$@\"\n");
        QCOMPARE(::chmod(recorder.constData(), 0755), 0);
        FakeHost host;
        auto *runner = new ArchiveRunner(&host);
        ArchiveToolPaths tools;
        tools.tar = QFile::decodeName(recorder);
        runner->setToolPaths(tools);
        QSignalSpy spy(runner, &ArchiveRunner::finished);
        ArchiveJobOptions options;
        options.format = ArchiveFormat::tarGz;
        runner->runAllIntoOne({url(src + "/secret.txt")}, QStringLiteral("Secrets"), options, url(src));
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 60000);
        QCOMPARE(spy.at(0).at(0).value<ArchiveRunner::Outcome>(), ArchiveRunner::Outcome::succeeded);
        const QList<QByteArray> lines = readBytes(recorder + ".out").split('\n');
        const QByteArray ours = path("tmp/perchbox-") + QByteArray::number(::getuid()) + "/";
        QVERIFY2(lines.value(0).startsWith(ours), lines.value(0).constData());
        QCOMPARE(lines.value(1), "700 " + QByteArray::number(::getuid()));
        QVERIFY(readBytes(src + "/Secrets.tar.gz").startsWith("\x1f\x8b"));
        QVERIFY(QDir(QFile::decodeName(path("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    // When we are killed mid-run, the archiver and everything it started end with us (here
    // a stand-in for tar that starts a child of its own and waits), and the next run clears
    // the private folder the killed run left.
    void archiverDiesWithUs()
    {
        const QByteArray src = path("orphan");
        QVERIFY(QDir().mkpath(QFile::decodeName(src)));
        writeBytes(src + "/in.txt", "x");
        const QByteArray fakeTar = path("tar-that-waits");
        writeBytes(fakeTar, "#!/bin/sh\necho partial > \"$2\"\nsleep 600 &\necho $! > \"$0.pid\"\nwait\n");
        QCOMPARE(::chmod(fakeTar.constData(), 0755), 0);
        QProcess helper;
        helper.start(QStringLiteral(ORPHAN_HELPER), {QFile::decodeName(fakeTar), QFile::decodeName(src),
                                                      QFile::decodeName(src + "/in.txt")});
        QVERIFY(helper.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(readBytes(fakeTar + ".pid").endsWith('\n'), 30000);
        const QByteArray grandchild = "/proc/" + readBytes(fakeTar + ".pid").trimmed();
        QVERIFY(ArchiveFileOps::exists(grandchild));
        struct Reap { // whatever the outcome, no stray process outlives the test
            pid_t pid;
            ~Reap() { ::kill(pid, SIGKILL); }
        } reap{pid_t(readBytes(fakeTar + ".pid").trimmed().toInt())};
        const QStringList leftBefore = QDir(QFile::decodeName(path("tmp/perchbox-") + QByteArray::number(::getuid())))
                                           .entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        QCOMPARE(leftBefore.size(), 1); // the killed run's folder, 0700, with its partial archive

        ::kill(pid_t(helper.processId()), SIGKILL);
        QVERIFY(helper.waitForFinished());
        auto gone = [&grandchild] {
            const QByteArray stat = readBytes(grandchild + "/stat");
            return stat == "<missing>" || stat.contains(") Z ");
        };
        QTRY_VERIFY_WITH_TIMEOUT(gone(), 10000);

        const QByteArray next = PrivateTemp::makeRunFolder("archive");
        QVERIFY(!next.isEmpty());
        const QStringList leftAfter = QDir(QFile::decodeName(path("tmp/perchbox-") + QByteArray::number(::getuid())))
                                          .entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        QCOMPARE(leftAfter, QStringList{QFile::decodeName(ArchiveFileOps::lastComponent(next))});
        PrivateTemp::removeRunFolder(next);
    }

    // ------------------------------------------------------------------ failures

    void failuresGiveMessagesAndLeaveNoFiles()
    {
        const QByteArray src = path("failsrc");
        QVERIFY(QDir().mkpath(QFile::decodeName(src)));
        writeBytes(src + "/f.txt", "x");

        // An input that vanished.
        RunResult r = build({url(src + "/f.txt"), url(src + "/gone.txt")}, url(path("fail.zip")), ArchiveFormat::zip);
        QVERIFY(r.message && r.message->contains("gone.txt"));
        QVERIFY(!ArchiveFileOps::exists(path("fail.zip")));

        // An archiver that cannot be started.
        const QByteArray notExec = path("notexec");
        writeBytes(notExec, "#!/bin/sh\nexit 0\n");
        ArchiveToolPaths tools;
        tools.tar = QFile::decodeName(notExec);
        r = build({url(src + "/f.txt")}, url(path("fail.tar.gz")), ArchiveFormat::tarGz, CompressionLevel::normal,
                  false, {}, {}, tools);
        QVERIFY(r.message && r.message->contains("could not be started"));

        // An archiver that is killed, after writing part of its output.
        const QByteArray killed = path("killed.sh");
        writeBytes(killed, "#!/bin/sh\necho partial > \"$2\"\nkill -9 $$\n");
        ::chmod(killed.constData(), 0755);
        tools.tar = QFile::decodeName(killed);
        r = build({url(src + "/f.txt")}, url(path("fail.tar.gz")), ArchiveFormat::tarGz, CompressionLevel::normal,
                  false, {}, {}, tools);
        QCOMPARE(r.message, std::optional<QString>(QStringLiteral("Archive tool failed (exit 9).")));
        QVERIFY(!ArchiveFileOps::exists(path("fail.tar.gz")));

        // A failing exit status.
        r = build({url(src + "/f.txt")}, url(path("nodir/x.tar.gz")), ArchiveFormat::tarGz);
        // … with the reason the tool gave.
        QVERIFY(r.message && r.message->startsWith(toolFailedMessage(2) + "\n"));
        QVERIFY2(r.message->endsWith("x.tar.gz: Cannot open: No such file or directory"), qPrintable(*r.message));
        QVERIFY(QDir(QFile::decodeName(path("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    void toolReasons_data()
    {
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<QString>("reason");
        QTest::newRow("tar, one complaint")
            << QByteArray("tar: /out/x.tar.gz: Cannot write: No space left on device\ntar: Error is not recoverable: "
                          "exiting now\n")
            << "tar: /out/x.tar.gz: Cannot write: No space left on device";
        // tar's parent and child share the stream; the parent's notice can split the child's line.
        QTest::newRow("tar, notice inside the complaint")
            << QByteArray("/usr/bin/tar: Removing leading `/' from member names\ntar (child): /t/a.tar.gz: Cannot "
                          "open/usr/bin/tar: Removing leading `/' from hard link targets\n: Read-only file system\n"
                          "tar (child): Error is not recoverable: exiting now\n")
            << "tar (child): /t/a.tar.gz: Cannot open: Read-only file system";
        // … or between the child's program name and its words (seen in CI).
        QTest::newRow("tar, notice split around the complaint")
            << QByteArray("tar (child): /usr/bin/tar: /t/a.tar.gz: Cannot openRemoving leading `/' from hard link "
                          "targets\n: Read-only file system\ntar (child): Error is not recoverable: exiting now\n")
            << "tar (child): /t/a.tar.gz: Cannot open: Read-only file system";
        QTest::newRow("tar, notice's name alone before the child's")
            << QByteArray("/usr/bin/tar: tar (child): Removing leading `/' from member names\n/t/a.tar.gz: Cannot "
                          "open: No space left on device\n")
            << "tar (child): /t/a.tar.gz: Cannot open: No space left on device";
        QTest::newRow("tar, a complaint of the parent's own keeps its name")
            << QByteArray("tar: Removing leading `/' from member names\ntar: /src/gone: Cannot stat: No such file or "
                          "directory\ntar: Exiting with failure status due to previous errors\n")
            << "tar: /src/gone: Cannot stat: No such file or directory";
        QTest::newRow("7-Zip names the file on the next line")
            << QByteArray("\b\b\b 12% 3 + a.txt\nWARNING: errno=5 : Input/output error\n/src/a.txt\n")
            << "/src/a.txt: Input/output error";
        QTest::newRow("only progress") << QByteArray(" 45%\r 90%\n") << QString();
    }
    void toolReasons()
    {
        QFETCH(QByteArray, errors);
        QFETCH(QString, reason);
        const QString message = toolFailedMessage(2, errors);
        QCOMPARE(message, reason.isEmpty() ? toolFailedMessage(2) : toolFailedMessage(2) + "\n" + reason);
    }

    // GNU tar's parent and child share one stream and each writes a message in pieces
    // (program name, words, the system's reason, line break). Whatever order the pieces of
    // the parent's two notices and the child's complaint land in, the reason comes out whole.
    void tarReasonSurvivesEveryInterleaving()
    {
        const QList<QByteArray> parent = {"/usr/bin/tar: ", "Removing leading `/' from member names", "\n",
                                          "/usr/bin/tar: ", "Removing leading `/' from hard link targets", "\n"};
        const QList<QByteArray> child = {"tar (child): ", "/t/a.tar.gz: Cannot open", ": Permission denied", "\n",
                                         "tar (child): ", "Error is not recoverable: exiting now", "\n"};
        const QByteArray after = "/usr/bin/tar: /t/a.tar.gz: Cannot write: Broken pipe\n"
                                 "/usr/bin/tar: Child returned status 2\n"
                                 "/usr/bin/tar: Error is not recoverable: exiting now\n";
        const QString whole = QStringLiteral("/t/a.tar.gz: Cannot open: Permission denied");
        const int n = int(parent.size() + child.size());
        int orders = 0, wrong = 0;
        QString firstWrong;
        // Every choice of the positions the parent's pieces take among all pieces.
        for (unsigned mask = 0; mask < (1u << n); ++mask) {
            if (std::popcount(mask) != parent.size())
                continue;
            QByteArray stream;
            int p = 0, c = 0;
            for (int i = 0; i < n; ++i)
                stream += (mask & (1u << i)) ? parent[p++] : child[c++];
            stream += after;
            ++orders;
            const QString message = toolFailedMessage(2, stream);
            const QString reason = message.section(QLatin1Char('\n'), 1);
            if (reason != QStringLiteral("tar (child): ") + whole && reason != whole) {
                if (!wrong++)
                    firstWrong = QString::fromLatin1(stream) + QStringLiteral(" -> ") + reason;
            }
        }
        QCOMPARE(orders, 1716);
        QVERIFY2(wrong == 0, qPrintable(QStringLiteral("%1 orders wrong, the first: %2").arg(wrong).arg(firstWrong)));
    }

    void cancellingInterruptsTheArchiver_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("zip") << int(ArchiveFormat::zip);
        QTest::newRow("7z") << int(ArchiveFormat::sevenZip);
        QTest::newRow("tar") << int(ArchiveFormat::tarGz);
    }
    void cancellingInterruptsTheArchiver()
    {
        QFETCH(int, format);
        const QByteArray src = path("bigsrc");
        if (!ArchiveFileOps::exists(src)) {
            QVERIFY(QDir().mkpath(QFile::decodeName(src)));
            for (int i = 0; i < 40; ++i)
                writeBytes(src + "/part" + QByteArray::number(i), randomBytes(4 << 20, 100 + i));
        }
        const QByteArray out = path("cancel.out");
        auto token = std::make_shared<ArchiveCancellationToken>();
        QElapsedTimer timer;
        timer.start();
        const RunResult r = build({url(src)}, url(out), ArchiveFormat(format), CompressionLevel::max, false, {}, token,
                                  {}, [token](double f) {
                                      if (f > 0 && f < 1)
                                          token->cancel();
                                  });
        QCOMPARE(r.message, std::optional<QString>(QStringLiteral("cancelled")));
        QVERIFY(!ArchiveFileOps::exists(out));
        QVERIFY(QDir(QFile::decodeName(path("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        // Cancelling again afterwards is harmless.
        token->cancel();
    }

    void cancelBeforeStartRunsNothing()
    {
        auto token = std::make_shared<ArchiveCancellationToken>();
        token->cancel();
        writeBytes(path("early.txt"), "x");
        const RunResult r = build({url(path("early.txt"))}, url(path("early.zip")), ArchiveFormat::zip,
                                  CompressionLevel::normal, false, {}, token);
        QCOMPARE(r.message, std::optional<QString>(QStringLiteral("cancelled")));
        QVERIFY(!ArchiveFileOps::exists(path("early.zip")));
    }

    // ------------------------------------------------------------------ run modes

    void allIntoOneSavesRevealsAndTrashes()
    {
        const QByteArray src = path("one");
        QVERIFY(QDir().mkpath(QFile::decodeName(src)));
        writeBytes(src + "/a.txt", "A");
        writeBytes(src + "/b.txt", "B");
        const QByteArray dest = path("saved.zip");
        writeBytes(dest, "old content the user agreed to replace");

        FakeHost host;
        host.saveTo = url(dest);
        ShelfProgressState state;
        auto *runner = new ArchiveRunner(&host);
        runner->setProgressState(&state);
        QSignalSpy spy(runner, &ArchiveRunner::finished);
        ArchiveJobOptions options;
        options.removeOriginals = true;
        runner->runAllIntoOne({url(src + "/a.txt"), url(src + "/b.txt")}, QStringLiteral("My: Files"), options);
        QCOMPARE(state.phase(), ShelfProgressState::Phase::running);
        QVERIFY(state.canCancel());
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 60000);
        QCOMPARE(spy.at(0).at(0).value<ArchiveRunner::Outcome>(), ArchiveRunner::Outcome::succeeded);
        QCOMPARE(host.proposedName, QStringLiteral("My- Files.zip"));
        QCOMPARE(host.saveMessage, QStringLiteral("Save \"My- Files\" archive"));
        QCOMPARE(host.revealed, QList<QUrl>{url(dest)});
        QVERIFY(host.alerts.isEmpty());
        QCOMPARE(state.phase(), ShelfProgressState::Phase::done);
        QVERIFY(readBytes(dest).startsWith("PK"));
        // Originals in the Trash, with their info files.
        QVERIFY(!ArchiveFileOps::exists(src + "/a.txt"));
        QCOMPARE(readBytes(path("data/Trash/files/a.txt")), QByteArray("A"));
        QVERIFY(readBytes(path("data/Trash/info/a.txt.trashinfo")).contains("Path=" + src + "/a.txt"));
        QVERIFY(QDir(QFile::decodeName(path("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    void allIntoOneFailureAndPanelCancel()
    {
        writeBytes(path("keep.txt"), "K");
        FakeHost host;
        ShelfProgressState state;
        ArchiveToolPaths tools;
        tools.sevenZipCandidates = {};
        auto *runner = new ArchiveRunner(&host);
        runner->setProgressState(&state);
        runner->setToolPaths(tools);
        QSignalSpy spy(runner, &ArchiveRunner::finished);
        ArchiveJobOptions options;
        options.format = ArchiveFormat::sevenZip;
        options.removeOriginals = true;
        runner->runAllIntoOne({url(path("keep.txt"))}, QStringLiteral("K"), options);
        QTRY_COMPARE(spy.size(), 1);
        QCOMPARE(host.alerts, QStringList{"Export Failed|Could not save archive:\n" + sevenZipMissingMessage});
        QCOMPARE(state.phase(), ShelfProgressState::Phase::error);
        QVERIFY(ArchiveFileOps::exists(path("keep.txt")));

        // The save panel cancelled: nothing saved, nothing trashed, no alert.
        FakeHost host2;
        auto *runner2 = new ArchiveRunner(&host2);
        QSignalSpy spy2(runner2, &ArchiveRunner::finished);
        options.format = ArchiveFormat::zip;
        runner2->runAllIntoOne({url(path("keep.txt"))}, QStringLiteral("K"), options);
        QTRY_COMPARE_WITH_TIMEOUT(spy2.size(), 1, 30000);
        QCOMPARE(spy2.at(0).at(0).value<ArchiveRunner::Outcome>(), ArchiveRunner::Outcome::cancelled);
        QVERIFY(host2.alerts.isEmpty() && host2.revealed.isEmpty());
        QVERIFY(ArchiveFileOps::exists(path("keep.txt")));
        QVERIFY(QDir(QFile::decodeName(path("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    void perFileCollectsFailuresAndTrashesOnlyArchived()
    {
        const QByteArray src = path("per");
        const QByteArray out = path("perout");
        QVERIFY(QDir().mkpath(QFile::decodeName(src)) && QDir().mkpath(QFile::decodeName(out)));
        writeBytes(src + "/Photos.txt", "p1");
        writeBytes(src + "/Photos.jpg", "p2");
        writeBytes(out + "/Photos.tar.gz", "already there");

        FakeHost host;
        host.folder = url(out);
        auto *runner = new ArchiveRunner(&host);
        QSignalSpy spy(runner, &ArchiveRunner::finished);
        ArchiveJobOptions options;
        options.format = ArchiveFormat::tarGz;
        options.zipIndividually = true;
        options.removeOriginals = true;
        runner->run({url(src + "/Photos.txt"), url(src + "/missing.txt"), url(src + "/Photos.jpg")},
                    QStringLiteral("ignored"), options);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 60000);
        QCOMPARE(spy.at(0).at(0).value<ArchiveRunner::Outcome>(), ArchiveRunner::Outcome::failed);
        QCOMPARE(host.alerts.size(), 1);
        QVERIFY(host.alerts[0].startsWith("Export Failed|Some files could not be archived:\nmissing.txt: "));
        QCOMPARE(host.revealed, (QList<QUrl>{url(out + "/Photos.tar 2.gz"), url(out + "/Photos.tar 3.gz")}));
        QCOMPARE(readBytes(out + "/Photos.tar.gz"), QByteArray("already there"));
        QVERIFY(!ArchiveFileOps::exists(src + "/Photos.txt"));
        QVERIFY(!ArchiveFileOps::exists(src + "/Photos.jpg"));
        QVERIFY(QDir(QFile::decodeName(path("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestArchiveEngine)
#include "tst_archiveengine.moc"
