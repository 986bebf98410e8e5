#include "FileSystemFaults.h"
#include "platform/FilePath.h"
#include "tools/flatten/FileOps.h"
#include "tools/flatten/FlattenEngine.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void write(const QString &path, const QByteArray &content, qint64 mtime = 0)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
    f.close();
    if (mtime) {
        const QByteArray p = QFile::encodeName(path);
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, p.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
}

QByteArray read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QUrl url(const QString &path)
{
    return FilePath::urlFromPath(path);
}

QStringList names(const QString &folder)
{
    QStringList out = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    out.sort();
    return out;
}

} // namespace

class TestFlattenEngine : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString root() const { return m_dir.path(); }

private slots:
    void init()
    {
        // A fresh tree per test.
        QDir(root()).removeRecursively();
        QDir().mkpath(root());
    }

    void duplicatesOfDuplicates()
    {
        write(root() + "/A/x.txt", "1");
        write(root() + "/A/B/x.txt", "2");
        write(root() + "/C/x.txt", "3");
        write(root() + "/R/README", "r1");
        write(root() + "/R/S/README", "r2");
        write(root() + "/R/S/T/README", "r3");
        const QString dest = root() + "/out";
        const FlattenResult r = FlattenEngine::run({url(root() + "/A"), url(root() + "/C"), url(root() + "/R")},
                                                   url(dest), FlattenDuplicateMode::keepForReview,
                                                   FlattenOperation::copy);
        QVERIFY2(r.errors.isEmpty(), qPrintable(r.errors.join('\n')));
        QCOMPARE(r.filesCopied, 6);
        QCOMPARE(r.filesMoved, 0);
        QCOMPARE(r.duplicatesMoved, 4);
        QCOMPARE(names(dest), (QStringList{"README", "_Duplicates", "x.txt"}));
        QCOMPARE(names(dest + "/_Duplicates"), (QStringList{"README", "README (1)", "x (1).txt", "x.txt"}));
        // All three contents are kept somewhere; none is lost.
        QSet<QByteArray> xs{read(dest + "/x.txt"), read(dest + "/_Duplicates/x.txt"),
                            read(dest + "/_Duplicates/x (1).txt")};
        QCOMPARE(xs, (QSet<QByteArray>{"1", "2", "3"}));
        QCOMPARE(FlattenEngine::summary(r), QString("6 copied · 4 duplicate(s) in _Duplicates"));
    }

    void hiddenFilesAndFolders()
    {
        write(root() + "/F/.DS_Store", "h");
        write(root() + "/F/.git/config", "h");
        write(root() + "/F/a.txt", "a");
        write(root() + "/.top", "t");
        write(root() + "/App.app/Contents/MacOS/run", "bin"); // a package is walked like a folder
        const QString dest = root() + "/out";
        const FlattenResult r = FlattenEngine::run({url(root() + "/F"), url(root() + "/.top"), url(root() + "/App.app")},
                                                   url(dest), FlattenDuplicateMode::keepForReview,
                                                   FlattenOperation::copy);
        QCOMPARE(r.errors, QStringList());
        QCOMPARE(names(dest), (QStringList{".top", "a.txt", "run"}));
    }

    void overwriteNewestPolicy()
    {
        const QString dest = root() + "/out";
        write(dest + "/old.txt", "dest-old", 1000);
        write(dest + "/same.txt", "dest-same", 2000);
        write(dest + "/new.txt", "dest-new", 5000);
        write(root() + "/src/old.txt", "src-newer", 2000);   // newer than the target
        write(root() + "/src/same.txt", "src-same", 2000);   // as old: kept
        write(root() + "/src/new.txt", "src-older", 1000);   // older: kept
        QList<QUrl> items{url(root() + "/src/old.txt"), url(root() + "/src/same.txt"), url(root() + "/src/new.txt")};

        FlattenResult r = FlattenEngine::run(items, url(dest), FlattenDuplicateMode::overwriteNewest,
                                             FlattenOperation::copy);
        QCOMPARE(r, (FlattenResult{1, 0, 0, {}}));
        QCOMPARE(read(dest + "/old.txt"), QByteArray("src-newer"));
        QCOMPARE(read(dest + "/same.txt"), QByteArray("dest-same"));
        QCOMPARE(read(dest + "/new.txt"), QByteArray("dest-new"));
        QCOMPARE(read(root() + "/src/old.txt"), QByteArray("src-newer")); // copy: source stays
        QCOMPARE(names(dest), (QStringList{"new.txt", "old.txt", "same.txt"})); // no temporaries left

        write(dest + "/old.txt", "dest-old", 1000);
        r = FlattenEngine::run(items, url(dest), FlattenDuplicateMode::overwriteNewest, FlattenOperation::move);
        QCOMPARE(r, (FlattenResult{0, 1, 0, {}}));
        QCOMPARE(read(dest + "/old.txt"), QByteArray("src-newer"));
        QVERIFY(!QFile::exists(root() + "/src/old.txt"));
        QVERIFY(QFile::exists(root() + "/src/same.txt")); // not newer: stays in place
        QVERIFY(QFile::exists(root() + "/src/new.txt"));
        QCOMPARE(FlattenEngine::summary(r), QString("1 moved"));
    }

    // Two sources of one name under "keep newest" in move mode: the newer wins the name and
    // the older one, the user's own file, goes to the Trash instead of being overwritten.
    void keepNewestMoveTrashesTheOlderSource()
    {
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
        write(root() + "/A/x.txt", "older", 1000);
        write(root() + "/B/x.txt", "newer", 2000);
        const QString dest = root() + "/out";
        const FlattenResult r = FlattenEngine::run({url(root() + "/A"), url(root() + "/B")}, url(dest),
                                                   FlattenDuplicateMode::overwriteNewest, FlattenOperation::move);
        QCOMPARE(r.errors, QStringList());
        QCOMPARE(r.filesMoved, 2);
        QCOMPARE(read(dest + "/x.txt"), QByteArray("newer"));
        QVERIFY(!QFile::exists(root() + "/A/x.txt"));
        QVERIFY(!QFile::exists(root() + "/B/x.txt"));
        QCOMPARE(read(home.path() + "/Trash/files/x.txt"), QByteArray("older"));
        QVERIFY(QFile::exists(home.path() + "/Trash/info/x.txt.trashinfo"));

        // Copy mode replaces only the copy it made; both originals stay.
        write(root() + "/A/y.txt", "older", 1000);
        write(root() + "/B/y.txt", "newer", 2000);
        const FlattenResult c = FlattenEngine::run({url(root() + "/A/y.txt"), url(root() + "/B/y.txt")}, url(dest),
                                                   FlattenDuplicateMode::overwriteNewest, FlattenOperation::copy);
        QCOMPARE(c.filesCopied, 2);
        QCOMPARE(read(dest + "/y.txt"), QByteArray("newer"));
        QCOMPARE(read(root() + "/A/y.txt"), QByteArray("older"));
        QVERIFY(!QFile::exists(home.path() + "/Trash/files/y.txt"));
        qunsetenv("XDG_DATA_HOME");
    }

    // Pipes and other special files are refused without being opened (a pipe would block the
    // run for ever); the files around them are flattened.
    void specialFilesAreRefused()
    {
        write(root() + "/src/a.txt", "a");
        QCOMPARE(::mkfifo(QFile::encodeName(root() + "/src/pipe.mp4").constData(), 0600), 0);
        const QString dest = root() + "/out";
        const FlattenResult r = FlattenEngine::run({url(root() + "/src")}, url(dest),
                                                   FlattenDuplicateMode::keepForReview, FlattenOperation::copy);
        QCOMPARE(r.filesCopied, 1);
        QCOMPARE(r.errors.size(), 1);
        QVERIFY2(r.errors.first().startsWith("Could not process pipe.mp4: "), qPrintable(r.errors.first()));
        QCOMPARE(names(dest), QStringList{"a.txt"});
    }

    // A run stopped from another thread ends between files with `cancelled` set.
    void cancelledRunStops()
    {
        for (int i = 0; i < 5; ++i)
            write(root() + QStringLiteral("/src/f%1.txt").arg(i), "x");
        auto cancel = std::make_shared<std::atomic<bool>>(true);
        const QString dest = root() + "/out";
        const FlattenResult r = FlattenEngine::run({url(root() + "/src")}, url(dest),
                                                   FlattenDuplicateMode::keepForReview, FlattenOperation::move, cancel);
        QVERIFY(r.cancelled);
        QCOMPARE(r.filesMoved, 0);
        QCOMPARE(names(root() + "/src").size(), 5);
    }

    // Every no-replace move falls back where the file system has no renameat2 (NFS and FUSE
    // answer EINVAL or ENOSYS): hard link + unlink, or, without hard links, a synced O_EXCL
    // copy and then the unlink. Nothing is ever replaced and nothing is lost.
    void noReplaceMoveWithoutRenameAt2()
    {
        auto b = [](const QString &p) { return QFile::encodeName(p); };
        for (const bool withLinks : {true, false}) {
            const FileSystemFaults::Scope faults(EINVAL, withLinks ? 0 : EPERM);
            QDir(root()).removeRecursively();
            write(root() + "/a.txt", "content", 1234);
            ::chmod(b(root() + "/a.txt").constData(), 0640);
            write(root() + "/taken.txt", "keep me");
            QCOMPARE(FileOps::renameNoReplace(b(root() + "/a.txt"), b(root() + "/taken.txt")), EEXIST);
            QCOMPARE(read(root() + "/a.txt"), QByteArray("content"));
            QCOMPARE(read(root() + "/taken.txt"), QByteArray("keep me"));

            QCOMPARE(FileOps::renameNoReplace(b(root() + "/a.txt"), b(root() + "/b.txt")), 0);
            QVERIFY(!QFile::exists(root() + "/a.txt"));
            QCOMPARE(read(root() + "/b.txt"), QByteArray("content"));
            QCOMPARE(QFileInfo(root() + "/b.txt").lastModified().toSecsSinceEpoch(), 1234);
            QCOMPARE(QFileInfo(root() + "/b.txt").permissions() & QFile::ReadOther, QFileDevice::Permissions());

            // Folders and links move too, and never onto a taken name.
            write(root() + "/dir/inner.txt", "i");
            QVERIFY(QFile::link("b.txt", root() + "/link"));
            QCOMPARE(FileOps::renameNoReplace(b(root() + "/dir"), b(root() + "/taken.txt")), EEXIST);
            QCOMPARE(FileOps::renameNoReplace(b(root() + "/dir"), b(root() + "/dir2")), 0);
            QCOMPARE(read(root() + "/dir2/inner.txt"), QByteArray("i"));
            QCOMPARE(FileOps::renameNoReplace(b(root() + "/link"), b(root() + "/link2")), 0);
            QCOMPARE(QFile::symLinkTarget(root() + "/link2"), root() + "/b.txt");

            // Flatten's moves go through it: every file arrives, the sources are gone.
            write(root() + "/src/x.txt", "x");
            write(root() + "/src/sub/x.txt", "x2");
            const FlattenResult r = FlattenEngine::run({url(root() + "/src")}, url(root() + "/out"),
                                                       FlattenDuplicateMode::keepForReview, FlattenOperation::move);
            QCOMPARE(r.errors, QStringList());
            QCOMPARE(r.filesMoved, 2);
            QCOMPARE(names(root() + "/out"), (QStringList{"_Duplicates", "x.txt"}));
            QCOMPARE(read(root() + "/out/_Duplicates/x.txt"), QByteArray("x2"));
            QVERIFY(!QFile::exists(root() + "/src/x.txt"));
        }
    }

    void symbolicLinks()
    {
        write(root() + "/T/file.txt", "f");
        QVERIFY(QFile::link(root() + "/T", root() + "/T/loop"));        // a link to its own folder
        QVERIFY(QFile::link("file.txt", root() + "/T/alias.txt"));      // a relative link to a file
        QVERIFY(QFile::link("/nonexistent", root() + "/T/dangling"));
        const QString dest = root() + "/out";
        for (FlattenOperation op : {FlattenOperation::copy, FlattenOperation::move}) {
            QDir(dest).removeRecursively();
            const FlattenResult r = FlattenEngine::run({url(root() + "/T")}, url(dest),
                                                       FlattenDuplicateMode::keepForReview, op);
            QCOMPARE(r.errors, QStringList());
            QCOMPARE(r.filesCopied + r.filesMoved, 4);
            QCOMPARE(QFileInfo(dest + "/loop").symLinkTarget(), root() + "/T");
            QCOMPARE(QFile::symLinkTarget(dest + "/alias.txt"), dest + "/file.txt");
            QVERIFY(QFileInfo(dest + "/dangling").isSymLink());
        }
    }

    void crossDeviceMove()
    {
        struct stat a, b;
        if (::stat("/dev/shm", &a) != 0 || ::stat(QFile::encodeName(root()).constData(), &b) != 0
            || a.st_dev == b.st_dev)
            QSKIP("no second file system at /dev/shm");
        QTemporaryDir shm("/dev/shm/perchbox-flatten-XXXXXX");
        QVERIFY(shm.isValid());
        QByteArray big(3 << 20, '\0');
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(i * 31 + (i >> 8));
        write(shm.path() + "/src/big.bin", big, 1234567);
        write(shm.path() + "/src/sub/small.txt", "s");
        ::chmod(QFile::encodeName(shm.path() + "/src/big.bin").constData(), 0640);
        const QString dest = root() + "/out";
        const FlattenResult r = FlattenEngine::run({url(shm.path() + "/src")}, url(dest),
                                                   FlattenDuplicateMode::keepForReview, FlattenOperation::move);
        QCOMPARE(r, (FlattenResult{0, 2, 0, {}}));
        QCOMPARE(read(dest + "/big.bin"), big);
        QCOMPARE(QFileInfo(dest + "/big.bin").lastModified().toSecsSinceEpoch(), 1234567);
        QCOMPARE(QFileInfo(dest + "/big.bin").permissions() & QFile::WriteGroup, QFileDevice::Permissions());
        QVERIFY(!QFile::exists(shm.path() + "/src/big.bin"));
        QVERIFY(!QFile::exists(shm.path() + "/src/sub/small.txt"));
        QVERIFY(QDir(shm.path() + "/src/sub").exists()); // folders themselves stay
    }

    void failuresAreLinesAndLoseNothing()
    {
        const QString dest = root() + "/out";
        write(root() + "/src/a.txt", "a", 4102444800); // newer than anything in dest
        write(root() + "/src/b.txt", "b");
        write(root() + "/src/c.txt", "c");
        QVERIFY(QDir().mkpath(dest + "/a.txt"));       // a folder where a file would be replaced
        write(dest + "/_Duplicates", "not a folder");  // the set-aside folder cannot be made
        write(dest + "/b.txt", "old b");
        const QList<QUrl> items{url(root() + "/src/a.txt"), url(root() + "/src/b.txt"),
                                url(root() + "/src/gone.txt"), url(root() + "/src/c.txt")};

        FlattenResult r = FlattenEngine::run(items, url(dest), FlattenDuplicateMode::overwriteNewest,
                                             FlattenOperation::move);
        QCOMPARE(r.filesMoved, 1); // c.txt
        QCOMPARE(r.errors.size(), 2);
        QVERIFY(r.errors[0].startsWith("Could not overwrite a.txt: "));
        QCOMPARE(r.errors[1], QString("Could not process gone.txt: No such file or directory"));
        QCOMPARE(read(root() + "/src/a.txt"), QByteArray("a")); // a failed move keeps its source
        QVERIFY(FlattenEngine::summary(r).startsWith("Completed with 2 error(s): Could not overwrite a.txt: "));

        write(root() + "/src/c.txt", "c2");
        r = FlattenEngine::run(items, url(dest), FlattenDuplicateMode::keepForReview, FlattenOperation::move);
        QCOMPARE(r.filesMoved, 0);
        QCOMPARE(r.errors.size(), 4);
        QVERIFY(r.errors[0].startsWith("Could not move duplicate a.txt: "));
        QVERIFY(r.errors[1].startsWith("Could not move duplicate b.txt: "));
        QVERIFY(r.errors[2].startsWith("Could not process gone.txt: "));
        QCOMPARE(read(root() + "/src/b.txt"), QByteArray("b"));
        QCOMPARE(read(root() + "/src/c.txt"), QByteArray("c2"));
        QCOMPARE(read(dest + "/b.txt"), QByteArray("old b"));

        // The destination cannot be made: one line, nothing touched.
        r = FlattenEngine::run(items, url(dest + "/_Duplicates/inner"), FlattenDuplicateMode::keepForReview,
                               FlattenOperation::move);
        QCOMPARE(r, (FlattenResult{0, 0, 0, {"Could not create destination folder: Not a directory"}}));
        QVERIFY(QFile::exists(root() + "/src/b.txt"));
    }

    void permissionFailures()
    {
        if (::geteuid() == 0)
            QSKIP("permissions do not apply to root");
        const QString dest = root() + "/ro";
        write(root() + "/src/a.txt", "a");
        write(root() + "/src/locked/inner.txt", "i");
        QVERIFY(QDir().mkpath(dest));
        ::chmod(QFile::encodeName(dest).constData(), 0555);
        ::chmod(QFile::encodeName(root() + "/src/locked").constData(), 0);
        const FlattenResult r = FlattenEngine::run({url(root() + "/src")}, url(dest),
                                                   FlattenDuplicateMode::keepForReview, FlattenOperation::move);
        ::chmod(QFile::encodeName(dest).constData(), 0755);
        ::chmod(QFile::encodeName(root() + "/src/locked").constData(), 0755);
        QCOMPARE(r.filesMoved, 0);
        QCOMPARE(r.errors.size(), 2);
        QVERIFY(r.errors.contains("Could not process locked: Permission denied"));
        QVERIFY(r.errors.contains("Could not process a.txt: Permission denied"));
        QCOMPARE(read(root() + "/src/a.txt"), QByteArray("a"));
    }

    void destinationInsideSource()
    {
        write(root() + "/S/a.txt", "a");
        write(root() + "/S/sub/a.txt", "a2");
        write(root() + "/S/flat/existing.txt", "e");
        const QString dest = root() + "/S/flat";
        const FlattenResult r = FlattenEngine::run({url(root() + "/S")}, url(dest),
                                                   FlattenDuplicateMode::keepForReview, FlattenOperation::move);
        QCOMPARE(r, (FlattenResult{0, 2, 1, {}}));
        QCOMPARE(names(dest), (QStringList{"_Duplicates", "a.txt", "existing.txt"}));
        QCOMPARE(names(dest + "/_Duplicates"), QStringList{"a.txt"});
    }

    void uniqueNames()
    {
        write(root() + "/d/README", "");
        write(root() + "/d/README (1)", "");
        write(root() + "/d/x.tar.gz", "");
        QCOMPARE(FlattenEngine::uniqueDuplicateURL(url(root() + "/d"), "README"), url(root() + "/d/README (2)"));
        QCOMPARE(FlattenEngine::uniqueDuplicateURL(url(root() + "/d"), "x.tar.gz"), url(root() + "/d/x.tar (1).gz"));
        QCOMPARE(FlattenEngine::uniqueDuplicateURL(url(root() + "/d"), "new"), url(root() + "/d/new"));
        QCOMPARE(FlattenEngine::summary({}), QString());
    }

    void completionOnMainThreadOnce()
    {
        write(root() + "/one.txt", "1");
        int calls = 0;
        FlattenResult got;
        QThread *thread = nullptr;
        FlattenEngine::shared().flatten(QList<QUrl>{url(root() + "/one.txt")}, url(root() + "/out"),
                                        FlattenDuplicateMode::keepForReview, FlattenOperation::copy,
                                        [&](const FlattenResult &r) {
                                            ++calls;
                                            got = r;
                                            thread = QThread::currentThread();
                                        });
        QCOMPARE(calls, 0); // returns at once
        QTRY_COMPARE(calls, 1);
        QCOMPARE(thread, QCoreApplication::instance()->thread());
        QCOMPARE(got.filesCopied, 1);
        QTest::qWait(50);
        QCOMPARE(calls, 1);
    }
};

QTEST_GUILESS_MAIN(TestFlattenEngine)
#include "tst_flattenengine.moc"
