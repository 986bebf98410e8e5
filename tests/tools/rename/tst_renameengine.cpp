#include "platform/FilePath.h"
#include "tools/flatten/FileOps.h"
#include "tools/rename/RenameEngine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString renamed(const QString &name, const RenamePreset &p, qint64 index = 0)
{
    return RenameRules(p).newName(name, index);
}

RenamePreset advanced()
{
    RenamePreset p;
    p.isAdvanced = true;
    return p;
}

void touch(const QByteArray &path, const QByteArray &content = "x")
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
    ::close(fd);
}

QByteArray readAll(const QByteArray &path)
{
    // POSIX, so that names that are not UTF-8 can be read too.
    QByteArray out;
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, n);
    ::close(fd);
    return out;
}

} // namespace

class TestRenameEngine : public QObject
{
    Q_OBJECT
private slots:
    void simpleFaceFindIsCaseSensitive()
    {
        RenamePreset p;
        p.findText = "IMG_";
        QCOMPARE(renamed("IMG_0001.JPG", p), QString("0001.JPG"));
        p.findText = "img_";
        p.caseSensitive = false; // ignored by the Simple face
        p.useRegex = true;       // ignored too
        QCOMPARE(renamed("IMG_0001.JPG", p), QString("IMG_0001.JPG"));
        p.isAdvanced = true;
        p.useRegex = false;
        QCOMPARE(renamed("IMG_0001.JPG", p), QString("0001.JPG"));
    }

    void regexGroupsAndFlags()
    {
        RenamePreset p = advanced();
        p.useRegex = true;
        p.findText = R"(^(\d+)_(.*)$)";
        p.replaceWith = "$2_$1";
        QCOMPARE(renamed("12_song.mp3", p), QString("song_12.mp3"));

        p.findText = "song";
        p.replaceWith = "tune";
        QCOMPARE(renamed("SONG song.mp3", p), QString("SONG tune.mp3"));
        p.caseSensitive = false;
        QCOMPARE(renamed("SONG song.mp3", p), QString("tune tune.mp3"));

        // Without keepExt the extension is part of the text the pattern sees.
        p.keepExt = false;
        p.findText = R"(\.mp3$)";
        p.replaceWith = ".m4a";
        QCOMPARE(renamed("a.mp3", p), QString("a.m4a"));
    }

    void invalidRegexLeavesNamesAndEmptiesPlan()
    {
        RenamePreset p = advanced();
        p.useRegex = true;
        p.findText = "(unclosed";
        p.replaceWith = "x";
        QVERIFY(RenameEngine::hasInvalidRegex(p));
        QCOMPARE(renamed("(unclosed.txt", p), QString("(unclosed.txt"));
        const QList<RenameFile> files{{QUuid::createUuid(), FilePath::urlFromPath("/tmp/a.txt"), {}}};
        QVERIFY(RenameEngine::plannedNames(files, p).isEmpty());
        // The Simple face never compiles a pattern: the same text is a literal.
        p.isAdvanced = false;
        QVERIFY(!RenameEngine::hasInvalidRegex(p));
        QCOMPARE(renamed("(unclosed.txt", p), QString("x.txt"));
        QCOMPARE(RenameEngine::plannedNames(files, p).size(), 1);
    }

    void trimCountsGraphemes()
    {
        RenamePreset p;
        p.trimHead = 1;
        // "é" as e + combining acute, then a flag (two regional indicators) and a family emoji.
        const QString e = QString("e") + QChar(0x0301);
        const QString flag = QString::fromUtf8("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7");
        QCOMPARE(renamed(e + "bc.txt", p), QString("bc.txt"));
        p.trimHead = 0;
        p.trimTail = 1;
        QCOMPARE(renamed("ab" + flag + ".txt", p), QString("ab.txt"));
        // Trimming more than there is empties the base; the extension stays.
        p.trimHead = 3;
        p.trimTail = 0;
        QCOMPARE(renamed("ab.txt", p), QString(".txt"));
        p.trimTail = 5;
        QCOMPARE(renamed("abcdef.txt", p), QString(".txt"));
        // Without keepExt the extension is trimmed like any text.
        p.keepExt = false;
        p.trimHead = 0;
        p.trimTail = 4;
        QCOMPARE(renamed("name.txt", p), QString("name"));
    }

    void caseModes()
    {
        RenamePreset p = advanced();
        p.keepExt = false;
        p.caseMode = CaseMode::upper;
        QCOMPARE(renamed("a.txt", p), QString("A.TXT"));
        QCOMPARE(renamed(QString::fromUtf8("straße"), p), QString("STRASSE"));
        p.keepExt = true;
        QCOMPARE(renamed("a.txt", p), QString("A.txt"));
        p.caseMode = CaseMode::lower;
        QCOMPARE(renamed("ÄBC.TXT", p), QString::fromUtf8("äbc.TXT"));
        p.caseMode = CaseMode::title;
        QCOMPARE(renamed("  hello   WORLD .txt", p), QString("Hello World.txt"));
        QCOMPARE(renamed(QString::fromUtf8("élan vital"), p), QString::fromUtf8("Élan Vital"));
        // Case conversion belongs to the Advanced face only.
        p.isAdvanced = false;
        QCOMPARE(renamed("hello world.txt", p), QString("hello world.txt"));
        // A stored "Title" is not a case mode.
        QCOMPARE(caseModeFromStored(u"Title"), CaseMode::unchanged);
        QCOMPARE(caseModeFromStored(u"title"), CaseMode::title);
    }

    void countersAndAffixes()
    {
        RenamePreset p;
        p.useCounter = true;
        p.counterStart = 1;
        p.counterStep = 2;
        p.counterPad = 3;
        QCOMPARE(renamed("a.txt", p, 0), QString("a_001.txt"));
        QCOMPARE(renamed("b.txt", p, 1), QString("b_003.txt"));
        QCOMPARE(renamed("c.txt", p, 2), QString("c_005.txt"));
        p.counterPosition = CounterPosition::prefix;
        p.prefix = "x";
        p.suffix = "y";
        QCOMPARE(renamed("a.txt", p, 0), QString("001_xay.txt"));
        p.counterPosition = CounterPosition::suffix;
        QCOMPARE(renamed("a.txt", p, 0), QString("xay_001.txt"));
        p.counterSep.clear();
        p.counterPad = 2;
        p.counterStart = 100;
        QCOMPARE(renamed("a", p, 0), QString("xay100")); // no truncation
        // Extreme stored values neither overflow nor blow up.
        p.counterStart = std::numeric_limits<qint64>::max();
        p.counterStep = 1000;
        QCOMPARE(RenameEngine::counterText(p, 5), QString::number(std::numeric_limits<qint64>::max()));

        RenamePreset hints;
        hints.counterPad = 3;
        QCOMPARE(RenameEngine::sequenceHint(hints), QString("Sequence: 001, 002, 003, 004…"));
        QCOMPARE(RenameEngine::exampleHint(hints), QString("Example: filename_001.ext"));
        hints.counterPosition = CounterPosition::prefix;
        hints.counterSep = "-";
        QCOMPARE(RenameEngine::exampleHint(hints), QString("Example: 001-filename.ext"));
        QCOMPARE(counterPositionFromStored(u"Prefix"), CounterPosition::suffix);
    }

    void extensionSplit()
    {
        RenamePreset p;
        p.suffix = "!";
        QCOMPARE(renamed("archive.tar.gz", p), QString("archive.tar!.gz"));
        QCOMPARE(renamed(".profile", p), QString(".profile!"));
        QCOMPARE(renamed("README", p), QString("README!"));
    }

    void signatureFollowsEveryOption()
    {
        const QList<RenameFile> files{{QUuid::createUuid(), FilePath::urlFromPath("/t/a.txt"), {}},
                                      {QUuid::createUuid(), FilePath::urlFromPath("/t/b.txt"), {}}};
        const RenamePreset base;
        const auto sig = RenameEngine::previewSignature(files, base);
        QCOMPARE(RenameEngine::previewSignature(files, base), sig);
        QList<RenamePreset> variants(8, base);
        variants[0].prefix = "p";
        variants[1].trimHead = 1;
        variants[2].caseSensitive = false;
        variants[3].counterPad = 2;
        variants[4].keepExt = false;
        variants[5].findText = "a";
        variants[6].replaceWith = "a";
        variants[7].counterSep = "";
        for (const RenamePreset &v : variants)
            QVERIFY(RenameEngine::previewSignature(files, v) != sig);
        // Fields that collide when concatenated still differ.
        RenamePreset a = base, b = base;
        a.findText = "ab";
        b.findText = "a";
        b.replaceWith = "b";
        QVERIFY(RenameEngine::presetRendering(a) != RenameEngine::presetRendering(b));
        QVERIFY(RenameEngine::previewSignature(files.mid(0, 1), base) != sig);
    }

    void performRenameOnDisk()
    {
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        touch(root + "/a.txt", "A");
        touch(root + "/b.txt", "B");
        touch(root + "/c.txt", "C");
        touch(root + "/taken.txt", "T");
        QList<RenameFile> files;
        for (const char *n : {"a.txt", "b.txt", "c.txt"})
            files.append({QUuid::createUuid(), FilePath::urlFromBytes(root + "/" + n), {}});
        auto key = [](const RenameFile &f) { return f.id.toString(QUuid::WithoutBraces).toUpper(); };

        RenamePlan plan;
        plan[key(files[0])] = "same.txt";
        plan[key(files[1])] = "same.txt";
        plan[key(files[2])] = "taken.txt";
        plan[QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()] = "ghost.txt";
        const QStringList errors = RenameEngine::performRename(plan, files);
        QCOMPARE(errors.size(), 2);
        QVERIFY(errors.join('\n').contains("c.txt: "));
        // Exactly one of a/b took the name; the other kept its own and its content.
        QCOMPARE(readAll(root + "/taken.txt"), QByteArray("T"));
        QCOMPARE(readAll(root + "/c.txt"), QByteArray("C"));
        const QByteArray same = readAll(root + "/same.txt");
        QVERIFY(same == "A" || same == "B");
        const int winner = same == "A" ? 0 : 1;
        QCOMPARE(FilePath::bytes(files[winner].url), root + "/same.txt");
        QVERIFY(!files[winner].bookmarkData.isEmpty());
        QVERIFY(files[1 - winner].bookmarkData.isEmpty());
        QCOMPARE(readAll(FilePath::bytes(files[1 - winner].url)), QByteArray(same == "A" ? "B" : "A"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 4);
    }

    void badNamesNeverLeaveTheFolder()
    {
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        QList<RenameFile> files;
        for (const char *n : {"1", "2", "3", "4", "5", "6"}) {
            touch(root + "/" + n);
            files.append({QUuid::createUuid(), FilePath::urlFromBytes(root + "/" + n), {}});
        }
        auto key = [](const RenameFile &f) { return f.id.toString(QUuid::WithoutBraces).toUpper(); };
        RenamePlan plan;
        plan[key(files[0])] = "sub/1";
        plan[key(files[1])] = "..";
        plan[key(files[2])] = ".";
        plan[key(files[3])] = "";
        plan[key(files[4])] = QString("a") + QChar(u'\0') + "b";
        plan[key(files[5])] = QString(300, 'x'); // longer than a name may be
        const QStringList errors = RenameEngine::performRename(plan, files);
        QCOMPARE(errors.size(), 6);
        for (int i = 0; i < 6; ++i)
            QVERIFY(QFile::exists(dir.path() + "/" + QString::number(i + 1)));
        QVERIFY(QDir(dir.path() + "/sub").isEmpty());
        QVERIFY(std::any_of(errors.begin(), errors.end(), [](const QString &e) { return e.startsWith("6: "); }));
    }

    void unchangedAndVanishedFiles()
    {
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        touch(root + "/keep.txt");
        QList<RenameFile> files{{QUuid::createUuid(), FilePath::urlFromBytes(root + "/keep.txt"), "bm"},
                                {QUuid::createUuid(), FilePath::urlFromBytes(root + "/gone.txt"), {}}};
        RenamePreset p; // identity rename for the first, a change for the second
        RenamePlan plan = RenameEngine::plannedNames(files, p);
        plan[files[1].id.toString(QUuid::WithoutBraces).toUpper()] = "new.txt";
        const QStringList errors = RenameEngine::performRename(plan, files);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith("gone.txt: "));
        QCOMPARE(files[0].bookmarkData, QByteArray("bm")); // untouched: no move happened
    }

    void invalidUtf8NamesKeepTheirBytes()
    {
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        const QByteArray odd = "caf\xE9_\xFF.txt"; // Latin-1 bytes, not UTF-8
        touch(root + "/" + odd, "data");
        QList<RenameFile> files{{QUuid::createUuid(), FilePath::urlFromBytes(root + "/" + odd), {}}};
        RenamePreset p;
        p.prefix = "new_";
        const RenamePlan plan = RenameEngine::plannedNames(files, p);
        QVERIFY(RenameEngine::performRename(plan, files).isEmpty());
        QCOMPARE(readAll(root + "/new_" + odd), QByteArray("data"));
        QCOMPARE(::unlink((root + "/new_" + odd).constData()), 0);
        QCOMPARE(FileOps::encodeName(FileOps::decodeName(odd)), odd);
        // Valid multi-byte text survives the round trip as text.
        const QByteArray utf8 = "\xF0\x9F\x98\x80 \xC3\xA9";
        QCOMPARE(FileOps::decodeName(utf8), QString::fromUtf8(utf8));
        QCOMPARE(FileOps::encodeName(FileOps::decodeName(utf8)), utf8);
    }

    // Case changes touch only the stretches that are text: a byte that is not UTF-8 comes
    // back as that byte, whatever the mode, and the file is renamed to exactly that.
    void caseModesKeepBytesThatAreNotText()
    {
        auto bytesOf = [](const QString &name) { return FileOps::encodeName(name); };
        const QString name = FileOps::decodeName("bad\xffname \xe9t\xe9.txt");
        RenamePreset p = advanced();
        p.keepExt = false;
        p.caseMode = CaseMode::upper;
        QCOMPARE(bytesOf(renamed(name, p)), QByteArray("BAD\xffNAME \xe9T\xe9.TXT"));
        p.caseMode = CaseMode::lower;
        QCOMPARE(bytesOf(renamed(FileOps::decodeName("BAD\xffNAME.TXT"), p)), QByteArray("bad\xffname.txt"));
        p.caseMode = CaseMode::title;
        QCOMPARE(bytesOf(renamed(FileOps::decodeName("\xff" "abc DEF\xfe \xc3\xa9t\xc3\xa9"), p)),
                 QByteArray("\xff""abc Def\xfe \xc3\x89t\xc3\xa9"));
        // Valid pairs whose low half looks like an escape are text, and are case-mapped.
        QCOMPARE(renamed(QString::fromUtf8("\xf0\x90\x93\x98"), p), QString::fromUtf8("\xf0\x90\x92\xb0")); // Osage a → A

        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        touch(root + "/bad\xffname.txt", "data");
        QList<RenameFile> files{{QUuid::createUuid(), FilePath::urlFromBytes(root + "/bad\xffname.txt"), {}}};
        p.caseMode = CaseMode::upper;
        p.keepExt = true;
        QVERIFY(RenameEngine::performRename(RenameEngine::plannedNames(files, p), files).isEmpty());
        QCOMPARE(readAll(root + "/BAD\xffNAME.txt"), QByteArray("data"));
    }

    // Names the file system cannot take are refused before anything is touched, with a reason.
    // Whatever the preset, a new name names a file in the same folder (inputs found by
    // fuzz/fuzz_rename_new_name): "/" becomes "-", a name too long loses the end of its base
    // and keeps its extension, and one that would be empty, "." or ".." keeps the old name.
    void newNamesAlwaysNameAFileInTheFolder()
    {
        RenamePreset p = advanced();
        p.prefix = "../";
        QCOMPARE(renamed("a.txt", p), QString("..-a.txt"));
        p.prefix.clear();
        p.findText = "a";
        p.replaceWith = "AC/DC";
        QCOMPARE(renamed("a.mp3", p), QString("AC-DC.mp3"));
        p.replaceWith = "..";
        QCOMPARE(renamed("a", p), QString("a"));
        p.keepExt = false;
        p.replaceWith = ".";
        QCOMPARE(renamed("a", p), QString("a"));
        p.replaceWith.clear();
        QCOMPARE(renamed("a", p), QString("a"));
        p.findText.clear();
        p.trimHead = 3;
        QCOMPARE(renamed("ab", p), QString("ab"));

        RenamePreset longer;
        longer.prefix = QString(300, QChar(0xE9)); // 600 bytes
        const QString name = renamed("photo.jpg", longer);
        QCOMPARE(FileOps::encodeName(name).size(), 254); // 125 × "é" and ".jpg": no half character
        QVERIFY(name.endsWith(".jpg"));
        QVERIFY(name.startsWith(QString(125, QChar(0xE9))));
        // Bytes that are not UTF-8 count as the single bytes they are on disk.
        const QString bytes = FileOps::decodeName(QByteArray(200, '\xff') + ".txt");
        longer.prefix = QString(100, QLatin1Char('x'));
        QCOMPARE(FileOps::encodeName(renamed(bytes, longer)), QByteArray(100, 'x') + QByteArray(151, '\xff') + ".txt");
        for (const QString &result : {renamed("a", p), name, renamed(bytes, longer)})
            QVERIFY2(RenameEngine::invalidNameReason(result).isEmpty(), qPrintable(result));
    }

    void invalidNamesHaveReasons()
    {
        QVERIFY(RenameEngine::invalidNameReason(QString()).contains("empty"));
        QVERIFY(RenameEngine::invalidNameReason("..").contains("not a valid"));
        QVERIFY(RenameEngine::invalidNameReason("a/b").contains("/"));
        QVERIFY(RenameEngine::invalidNameReason(QStringLiteral("a") + QChar(0)).contains("NUL"));
        QVERIFY(RenameEngine::invalidNameReason(QString(128, QChar(0xE9))).contains("255 bytes")); // 256 bytes
        QVERIFY(RenameEngine::invalidNameReason(QString(255, QLatin1Char('a'))).isEmpty());

        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        touch(root + "/a.txt");
        QList<RenameFile> files{{QUuid::createUuid(), FilePath::urlFromBytes(root + "/a.txt"), {}}};
        RenamePlan plan;
        plan.insert(files.first().id.toString(QUuid::WithoutBraces).toUpper(), QStringLiteral("x") + QChar(0) + "y");
        const QStringList errors = RenameEngine::performRename(plan, files);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains("NUL"));
        QCOMPARE(readAll(root + "/a.txt"), QByteArray("x"));
        QVERIFY(!QFile::exists(dir.path() + "/x"));
    }
};

QTEST_GUILESS_MAIN(TestRenameEngine)
#include "tst_renameengine.moc"
