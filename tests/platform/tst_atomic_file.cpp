// Atomic writes under injected faults (a disk that fills up, failing syncs and renames) and
// the modes of the files and folders we make, whatever the umask.
#include "platform/AtomicFile.h"
#include "platform/FileModes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : mode_t(-1);
}

// Sets the umask for one scope.
struct Umask {
    mode_t old;
    explicit Umask(mode_t mask) : old(::umask(mask)) {}
    ~Umask() { ::umask(old); }
};

// A disk with `free` bytes left: writes beyond it come out short, then fail with ENOSPC.
AtomicFileFaults::Hook fullDisk(qint64 free)
{
    auto left = std::make_shared<qint64>(free);
    return [left](AtomicFileFaults::Step step, qint64 *bytes) {
        if (step != AtomicFileFaults::Step::write)
            return 0;
        if (*left <= 0)
            return ENOSPC;
        *bytes = std::min(*bytes, *left);
        *left -= *bytes;
        return 0;
    };
}

} // namespace

class TestAtomicFile : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QStringList entries() const { return QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { AtomicFileFaults::setHook({}); }

    void writesAndReplaces()
    {
        QVERIFY(writeFileAtomically(path("a.json"), "first"));
        QVERIFY(writeFileAtomically(path("a.json"), "second, longer"));
        QCOMPARE(readFile(path("a.json")), QByteArray("second, longer"));
        QVERIFY(writeFileAtomically(path("a.json"), QByteArray()));
        QCOMPARE(readFile(path("a.json")), QByteArray());
        QCOMPARE(entries(), QStringList{"a.json"}); // no temporary file left behind
    }

    // Every failing step before the rename leaves the old file byte for byte and no
    // temporary file; the error names what failed.
    void faultsLeaveTheOldFile_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("error");
        using S = AtomicFileFaults::Step;
        QTest::newRow("create: no space") << int(S::create) << ENOSPC;
        QTest::newRow("create: read-only") << int(S::create) << EROFS;
        QTest::newRow("write: no space") << int(S::write) << ENOSPC;
        QTest::newRow("write: quota") << int(S::write) << EDQUOT;
        QTest::newRow("sync: I/O error") << int(S::syncFile) << EIO;
        QTest::newRow("sync: no space") << int(S::syncFile) << ENOSPC;
        QTest::newRow("close: no space") << int(S::close) << ENOSPC;
        QTest::newRow("rename: I/O error") << int(S::rename) << EIO;
    }
    void faultsLeaveTheOldFile()
    {
        QFETCH(int, step);
        QFETCH(int, error);
        const QByteArray old = QByteArray(6127, 'o'); // a shelf list of 60 files, about
        QVERIFY(writeFileAtomically(path("shelves.json"), old));
        AtomicFileFaults::setHook([&](AtomicFileFaults::Step s, qint64 *) { return int(s) == step ? error : 0; });
        QString reason;
        QVERIFY(!writeFileAtomically(path("shelves.json"), QByteArray(9000, 'n'), &reason));
        QVERIFY2(reason.contains(QString::fromLocal8Bit(std::strerror(error))), qPrintable(reason));
        QCOMPARE(readFile(path("shelves.json")), old);
        QCOMPARE(entries(), QStringList{"shelves.json"});
    }

    // The case that emptied state files: the disk fills up part way through the data (every
    // size below and above the old file's), as short writes and then ENOSPC.
    void fullDiskPartWay()
    {
        const QByteArray old = QByteArray(6127, 'o');
        for (qint64 free : {0, 1, 4096, 6127, 8999}) {
            QVERIFY(writeFileAtomically(path("s.json"), old));
            AtomicFileFaults::setHook(fullDisk(free));
            QVERIFY2(!writeFileAtomically(path("s.json"), QByteArray(9000, 'n')), qPrintable(QString::number(free)));
            AtomicFileFaults::setHook({});
            QCOMPARE(readFile(path("s.json")), old);
            QCOMPARE(entries(), QStringList{"s.json"});
        }
        // Short writes that add up to everything are fine.
        AtomicFileFaults::setHook([](AtomicFileFaults::Step s, qint64 *bytes) {
            if (s == AtomicFileFaults::Step::write)
                *bytes = std::min<qint64>(*bytes, 7);
            return 0;
        });
        QVERIFY(writeFileAtomically(path("s.json"), QByteArray(100, 'n')));
        QCOMPARE(readFile(path("s.json")), QByteArray(100, 'n'));
    }

    void missingFolderFails()
    {
        QString reason;
        QVERIFY(!writeFileAtomically(path("no/such/folder/x.json"), "x", &reason));
        QVERIFY(!reason.isEmpty());
    }

    // A link (settings kept in a dotfiles folder) stays a link; its target gets the content.
    void symbolicLinkIsFollowed()
    {
        QVERIFY(QDir().mkpath(path("dotfiles")));
        QVERIFY(writeFileAtomically(path("dotfiles/settings.json"), "old"));
        QVERIFY(QFile::link(path("dotfiles/settings.json"), path("settings.json")));
        QVERIFY(writeFileAtomically(path("settings.json"), "new"));
        QVERIFY(QFileInfo(path("settings.json")).isSymLink());
        QCOMPARE(readFile(path("dotfiles/settings.json")), QByteArray("new"));
    }

    void modes()
    {
        {
            const Umask lax(0);
            QVERIFY(writeFileAtomically(path("private.json"), "x", nullptr, FileAccess::ownerOnly));
            QCOMPARE(modeOf(path("private.json")), mode_t(0600));
            QVERIFY(writeFileAtomically(path("open.txt"), "x"));
            QCOMPARE(modeOf(path("open.txt")), mode_t(0666)); // a standard file follows the umask
        }
        {
            const Umask usual(022);
            // A file an older version left readable by everyone becomes private...
            QVERIFY(QFile::setPermissions(path("private.json"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                                    | QFile::ReadOther));
            QVERIFY(writeFileAtomically(path("private.json"), "y", nullptr, FileAccess::ownerOnly));
            QCOMPARE(modeOf(path("private.json")), mode_t(0600));
            // ...a stricter mode the user chose stays...
            QVERIFY(::chmod(QFile::encodeName(path("private.json")).constData(), 0400) == 0);
            QVERIFY(writeFileAtomically(path("private.json"), "z", nullptr, FileAccess::ownerOnly));
            QCOMPARE(modeOf(path("private.json")), mode_t(0400));
            QCOMPARE(readFile(path("private.json")), QByteArray("z"));
            // ...and a standard file keeps whatever it had.
            QVERIFY(::chmod(QFile::encodeName(path("open.txt")).constData(), 0640) == 0);
            QVERIFY(writeFileAtomically(path("open.txt"), "y"));
            QCOMPARE(modeOf(path("open.txt")), mode_t(0640));
        }
    }

    void privateFolders()
    {
        const Umask lax(0);
        QVERIFY(FileModes::makePrivatePath(QFile::encodeName(path("a/b/c"))));
        for (const char *folder : {"a", "a/b", "a/b/c"})
            QCOMPARE(modeOf(path(folder)), mode_t(0700));
        QVERIFY(FileModes::makePrivatePath(QFile::encodeName(path("a/b/c")))); // already there
        QVERIFY(QDir().mkpath(path("old")));
        QVERIFY(::chmod(QFile::encodeName(path("old")).constData(), 0775) == 0);
        QVERIFY(FileModes::restrictToOwner(QFile::encodeName(path("old"))));
        QCOMPARE(modeOf(path("old")), mode_t(0700));
        QVERIFY(::chmod(QFile::encodeName(path("old")).constData(), 0500) == 0); // the user's own choice
        QVERIFY(FileModes::restrictToOwner(QFile::encodeName(path("old"))));
        QCOMPARE(modeOf(path("old")), mode_t(0500));
        QVERIFY(writeFileAtomically(path("plain"), "x"));
        QVERIFY(!FileModes::makePrivatePath(QFile::encodeName(path("plain/sub")))); // a file in the way
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomic_file.moc"
