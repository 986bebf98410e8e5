#include "model/ShelfFolder.h"
#include "model/ShelfJson.h"
#include "model/ShelfManager.h"
#include "platform/AtomicFile.h"
#include "platform/FilePath.h"
#include "platform/NotificationCenter.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

// The shelf manager against a temporary XDG data folder.
class TestShelfManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;  // XDG_DATA_HOME
    std::unique_ptr<QTemporaryDir> m_files; // stands for the user's files elsewhere

    QString dataDir() const { return m_home->path() + "/Perchbox"; }

    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void writeFile(const QString &path, const QByteArray &data)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    // Real files in the "elsewhere" folder.
    QList<QUrl> makeFiles(int n, const QString &prefix = "file")
    {
        QList<QUrl> urls;
        for (int i = 0; i < n; ++i) {
            const QString path = QStringLiteral("%1/%2 %3.txt").arg(m_files->path(), prefix).arg(i);
            writeFile(path, "x");
            urls.append(FilePath::urlFromPath(path));
        }
        return urls;
    }
    static QList<QUrl> urlsOf(const Shelf &s)
    {
        QList<QUrl> out;
        for (const ShelfFile &f : s.files)
            out.append(f.url);
        return out;
    }
    // Adds and waits until the whole call has been delivered.
    static void addAndWait(ShelfManager &m, const QList<QUrl> &urls, const QUuid &id)
    {
        QSignalSpy done(&m, &ShelfManager::addFilesFinished);
        m.addFiles(urls, id);
        QVERIFY(done.wait(10000));
    }
    static QUuid newShelf(ShelfManager &m, const QString &name = "S")
    {
        const Shelf s = Shelf::make(name, ShelfColorData::systemBlue(), "tray");
        m.appendShelf(s);
        return s.id;
    }

private slots:
    void cleanup()
    {
        AtomicFileFaults::setHook({});
        // Names that are not valid UTF-8 are beyond QTemporaryDir's clean-up.
        if (m_files)
            ShelfFolder::removeTree(QFile::encodeName(m_files->path()));
    }

    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        m_files = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid() && m_files->isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->path()));
    }

    void startsEmptyWithoutFiles()
    {
        ShelfManager m;
        QVERIFY(m.shelves().isEmpty());
        QVERIFY(m.openShelfIDs().isEmpty());
        QCOMPARE(m.windowVisibilityVersion(), 0);
        QTest::qWait(400);
        QCOMPARE(m.shelvesWriteCount(), 0); // loading is not a change
        QVERIFY(!QFileInfo::exists(dataDir() + "/shelves.json"));
    }

    void burstOfEditsIsWrittenOnce()
    {
        ShelfManager m;
        QSignalSpy changed(&m, &ShelfManager::shelvesChanged);
        const QUuid id = newShelf(m);
        QCOMPARE(m.shelvesWriteCount(), 1); // a new shelf is written at once
        for (int i = 0; i < 10; ++i) {
            m.renameShelf(id, QString("Name %1").arg(i));
            QTest::qWait(20);
        }
        QCOMPARE(changed.size(), 11);
        QCOMPARE(m.shelvesWriteCount(), 1); // still inside the burst
        QSignalSpy saved(&m, &ShelfManager::shelvesSaved);
        QVERIFY(saved.wait(2000));
        QTest::qWait(400);
        QCOMPARE(m.shelvesWriteCount(), 2);
        const auto onDisk = ShelfJson::decodeShelves(readFile(dataDir() + "/shelves.json"));
        QVERIFY(onDisk);
        QCOMPARE(onDisk->first().name, QString("Name 9"));
    }

    void pendingSaveIsWrittenAtQuit()
    {
        QUuid id;
        {
            ShelfManager m;
            id = newShelf(m, "New");
            m.renameShelf(id, "Kept");
            QVERIFY(m.hasPendingSave());
        }
        ShelfManager again;
        QCOMPARE(again.shelves().size(), 1);
        QCOMPARE(again.shelf(id)->name, QString("Kept"));
    }

    void visibilityStates()
    {
        ShelfManager m;
        const QUuid id = newShelf(m);
        QSignalSpy version(&m, &ShelfManager::windowVisibilityVersionChanged);
        QSignalSpy open(&m, &ShelfManager::openShelfIDsChanged);
        QSignalSpy hidden(&m, &ShelfManager::userHiddenShelfIDsChanged);

        m.openShelf(id);
        QVERIFY(m.isShelfVisible(id));
        m.hideShelf(id);
        QVERIFY(m.isShelfOpen(id) && !m.isShelfVisible(id));
        // Hiding then closing, then opening again, shows it.
        m.closeShelf(id);
        QVERIFY(!m.isShelfOpen(id) && !m.isShelfHidden(id));
        m.openShelf(id);
        QVERIFY(m.isShelfVisible(id));
        m.hideShelf(id);
        m.unhideShelf(id);
        QVERIFY(m.isShelfVisible(id));
        QCOMPARE(m.windowVisibilityVersion(), 6);
        QCOMPARE(version.size(), 6);
        QCOMPARE(open.size(), 3);
        QCOMPARE(hidden.size(), 4);

        // Written at once, upper-case ids.
        const QSet<QUuid> unknown{QUuid::createUuid()};
        m.hideShelf(*unknown.begin()); // ids of no shelf are kept
        QCOMPARE(*ShelfJson::decodeIdSet(readFile(dataDir() + "/openShelves.json")), QSet<QUuid>{id});
        QCOMPARE(*ShelfJson::decodeIdSet(readFile(dataDir() + "/hidden-shelf-ids.json")), unknown);
        QVERIFY(readFile(dataDir() + "/openShelves.json").contains(uuidString(id).toLatin1()));
    }

    void idFilesSkipBadEntries()
    {
        const QUuid a = QUuid::createUuid(), b = QUuid::createUuid();
        writeFile(dataDir() + "/openShelves.json",
                  "[\"" + uuidString(a).toLatin1() + "\",\"not an id\",3,\"" + uuidString(b).toLower().toLatin1() + "\"]");
        writeFile(dataDir() + "/hidden-shelf-ids.json", "[\"" + uuidString(b).toLatin1() + "\"");
        ShelfManager m;
        QCOMPARE(m.openShelfIDs(), (QSet<QUuid>{a, b}));
        QVERIFY(m.userHiddenShelfIDs().isEmpty());
        // The damaged hidden file is moved aside, not overwritten.
        m.hideShelf(a);
        const QStringList aside = QDir(dataDir()).entryList({"hidden-shelf-ids.json.damaged-*"});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readFile(dataDir() + "/" + aside.first()), "[\"" + uuidString(b).toLatin1() + "\"");
    }

    void damagedShelvesFileIsMovedAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("truncated") << QByteArray("[{\"id\":\"0A1B2C3D-0000-4000-8000-00000000000A\",\"na");
        QTest::newRow("wrong type") << QByteArray("{\"shelves\":[]}");
        QTest::newRow("bad shelf") << QByteArray("[{\"id\":5}]");
        QTest::newRow("binary") << QByteArray("\x00\xff\x13garbage", 10);
    }
    void damagedShelvesFileIsMovedAside()
    {
        QFETCH(QByteArray, content);
        writeFile(dataDir() + "/shelves.json", content);
        {
            ShelfManager m;
            QVERIFY(m.shelves().isEmpty());
            QTest::qWait(350);
            QVERIFY(m.damagedShelvesBackupPath().isEmpty()); // nothing moves until a save
            newShelf(m, "Fresh");
            m.flushPendingSave();
            QVERIFY(!m.damagedShelvesBackupPath().isEmpty());
            QCOMPARE(readFile(m.damagedShelvesBackupPath()), content);
        }
        ShelfManager again;
        QCOMPARE(again.shelves().size(), 1);
    }

    void unwritableDataFolderKeepsState()
    {
        // "Perchbox" is a plain file: nothing can be created below it.
        writeFile(dataDir(), "in the way");
        ShelfManager m;
        const QUuid id = newShelf(m, "Memory only");
        m.openShelf(id);
        m.flushPendingSave();
        QCOMPARE(m.shelves().size(), 1);
        QVERIFY(m.isShelfVisible(id));
        QCOMPARE(readFile(dataDir()), QByteArray("in the way"));
    }

    void roundTripOfOddNames()
    {
        QByteArray base = QFile::encodeName(m_files->path());
        QList<QUrl> urls;
        for (const QByteArray &name : {QByteArray("a b.txt"), QByteArray("Ünï 日本.txt"), QByteArray("x\xff\xfey.txt"),
                                       QByteArray("100% #1?.txt")}) {
            const QByteArray path = base + '/' + name;
            FILE *f = ::fopen(path.constData(), "w");
            QVERIFY(f);
            ::fclose(f);
            urls.append(FilePath::urlFromBytes(path));
        }
        QUuid id;
        {
            ShelfManager m;
            id = newShelf(m);
            addAndWait(m, urls, id);
        }
        ShelfManager again;
        QCOMPARE(urlsOf(*again.shelf(id)), urls);
        for (const ShelfFile &f : again.shelf(id)->files) {
            QVERIFY(!f.bookmarkData.isEmpty());
            QVERIFY(FilePath::exists(f.resolvedURL()));
        }
    }

    void addFilesOrderDuplicatesAndLimit()
    {
        ShelfManager m;
        int limit = 0;
        m.setHooks({[&limit] { return limit; }, {}, {}, {}});
        const QUuid id = newShelf(m);
        const QList<QUrl> urls = makeFiles(300);

        // No limit; duplicates inside one call and across calls; order kept over many batches.
        QSignalSpy batches(&m, &ShelfManager::filesAdded);
        addAndWait(m, urls + urls.mid(0, 10) + QList<QUrl>{urls[5]}, id);
        addAndWait(m, urls.mid(100, 5), id);
        QCOMPARE(urlsOf(*m.shelf(id)), urls);
        QCOMPARE(batches.size(), 5); // 64 at a time and the rest
        QSet<QUuid> ids;
        for (const ShelfFile &f : m.shelf(id)->files)
            ids.insert(f.id);
        QCOMPARE(ids.size(), 300);

        // Limit 5 with 3 on the shelf: of 4 dropped files the first 2 are added.
        const QUuid small = newShelf(m);
        limit = 5;
        addAndWait(m, urls.mid(0, 3), small);
        addAndWait(m, urls.mid(10, 4), small);
        QCOMPARE(urlsOf(*m.shelf(small)), urls.mid(0, 3) + urls.mid(10, 2));
        addAndWait(m, urls.mid(20, 3), small); // full: nothing happens
        QCOMPARE(m.shelf(small)->files.size(), 5);

        // A file that cannot be reached is added without a bookmark.
        limit = -1;
        const QUrl gone = FilePath::urlFromPath(m_files->path() + "/never there");
        addAndWait(m, {gone}, small);
        QCOMPARE(m.shelf(small)->files.last().url, gone);
        QVERIFY(m.shelf(small)->files.last().bookmarkData.isEmpty());
        QCOMPARE(m.shelf(small)->files.last().resolvedURL(), gone);
    }

    void addFilesSurvivesEditsAndDeletion()
    {
        ShelfManager m;
        const QUuid id = newShelf(m);
        const QList<QUrl> urls = makeFiles(200);
        QSignalSpy done(&m, &ShelfManager::addFilesFinished);

        // Edits between batches are respected: a file removed in the meantime can come back
        // only through a later batch, entries already there are not doubled.
        bool edited = false;
        connect(&m, &ShelfManager::filesAdded, this, [&](const QUuid &, int) {
            if (edited)
                return;
            edited = true;
            m.updateShelf(id, [&](Shelf &s) {
                s.name = "Edited";
                ShelfFile extra{QUuid::createUuid(), urls[150], {}, {}};
                s.files.append(extra); // another source added urls[150] meanwhile
            });
        });
        m.addFiles(urls, id);
        QVERIFY(done.wait(10000));
        QCOMPARE(m.shelf(id)->name, QString("Edited"));
        QCOMPARE(m.shelf(id)->files.size(), 200);
        QCOMPARE(m.shelf(id)->files.count(ShelfFile{m.shelf(id)->files[64].id, urls[150], {}, {}}), 1);

        // A shelf deleted while its files are on the way gets nothing and nothing breaks.
        const QUuid doomed = newShelf(m, "Doomed");
        m.addFiles(makeFiles(300, "late"), doomed);
        m.deleteShelf(doomed);
        QTest::qWait(300);
        QVERIFY(!m.shelf(doomed));
        m.addFiles(urls, QUuid::createUuid()); // unknown shelf: ignored
    }

    void createShelfThrottle()
    {
        ShelfManager m;
        qint64 now = 1'000'000;
        m.setMonotonicClock([&now] { return now; });
        QSignalSpy show(&m, &ShelfManager::showShelfWindowRequested);

        NotificationCenter::instance().post(Notifications::createNewShelf);
        QCOMPARE(m.shelves().size(), 1);
        now += 300;
        NotificationCenter::instance().post(Notifications::createNewShelf);
        QCOMPARE(m.shelves().size(), 1);
        now += 100; // exactly 0.4 s after the first
        QVERIFY(m.createShelf().isNull());
        now += 100;
        const QUuid second = m.createShelf();
        QVERIFY(!second.isNull());
        QCOMPARE(m.shelves().size(), 2);
        QCOMPARE(show.size(), 2);

        const Shelf &s = *m.shelf(second);
        QCOMPARE(s.name, QString("New Shelf"));
        QCOMPARE(s.icon, QString("tray"));
        QCOMPARE(s.colorData, ShelfColorData::systemBlue());
        QVERIFY(m.isShelfVisible(second));
        QVERIFY(QFileInfo(FilePath::displayPath(s.folderURL)).isDir());
    }

    void deletionTouchesOnlyShelfFolders()
    {
        ShelfManager m;
        QList<QUuid> forgotten;
        m.setHooks({{}, {}, {}, [&forgotten](const QUuid &id) { forgotten.append(id); }});
        const QUuid id = newShelf(m);
        m.openShelf(id);
        const QString folder = FilePath::displayPath(m.shelf(id)->folderURL);
        writeFile(folder + "/owned.png", "png");
        writeFile(folder + "/sub/deeper.txt", "x");
        const QList<QUrl> outside = makeFiles(2);
        addAndWait(m, outside + QList<QUrl>{FilePath::urlFromPath(folder + "/owned.png")}, id);

        // A hostile file may name any folder as a shelf's folder: it is never deleted.
        const QUuid hostile = newShelf(m, "Hostile");
        m.updateShelf(hostile, [&](Shelf &s) { s.folderURL = FilePath::urlFromPath(m_files->path() + "/"); });

        QSignalSpy close(&m, &ShelfManager::closeShelfWindowsRequested);
        m.deleteShelf(id);
        QCOMPARE(close.size(), 1);
        QCOMPARE(forgotten, QList<QUuid>{id});
        QVERIFY(m.shelf(id)); // removed after the short delay
        QTRY_VERIFY(!m.shelf(id));
        QVERIFY(!m.isShelfOpen(id));
        QVERIFY(!QFileInfo::exists(folder));
        for (const QUrl &u : outside)
            QVERIFY(FilePath::exists(u));

        m.deleteAllShelves();
        QTRY_VERIFY(m.shelves().isEmpty());
        QVERIFY(QFileInfo::exists(m_files->path()));
        for (const QUrl &u : outside)
            QVERIFY(FilePath::exists(u));
        m.flushPendingSave();
        QCOMPARE(ShelfJson::decodeShelves(readFile(dataDir() + "/shelves.json"))->size(), 0);
    }

    void deleteOwnedFileOnlyInsideShelfFolders()
    {
        ShelfManager m;
        const QUuid id = newShelf(m);
        const QString folder = FilePath::displayPath(m.shelf(id)->folderURL);
        writeFile(folder + "/owned.txt", "x");
        const QUrl desktop = makeFiles(1).first();
        QVERIFY(QFile::link(m_files->path(), folder + "/link"));

        const QList<QUrl> untouchable{
            desktop,
            FilePath::urlFromPath(folder + "/../" + QFileInfo(folder).fileName() + "x/file"),
            FilePath::urlFromPath(folder + "/../../../../" + QDir(m_files->path()).dirName() + "/file 0.txt"),
            FilePath::urlFromPath(folder + "/link/file 0.txt"), // through a symbolic link
            m.shelf(id)->folderURL,                             // the folder itself
        };
        for (const QUrl &u : untouchable)
            QVERIFY2(!m.deleteOwnedFile(u), qPrintable(u.toString()));
        QVERIFY(FilePath::exists(desktop));

        QVERIFY(m.deleteOwnedFile(FilePath::urlFromPath(folder + "/owned.txt")));
        QVERIFY(!QFileInfo::exists(folder + "/owned.txt"));

        // Removing entries deletes owned files and leaves the others on disk.
        writeFile(folder + "/owned2.txt", "x");
        addAndWait(m, {desktop, FilePath::urlFromPath(folder + "/owned2.txt")}, id);
        QSet<QUuid> all;
        for (const ShelfFile &f : m.shelf(id)->files)
            all.insert(f.id);
        m.removeFiles(id, all);
        QVERIFY(m.shelf(id)->files.isEmpty());
        QVERIFY(FilePath::exists(desktop));
        QVERIFY(!QFileInfo::exists(folder + "/owned2.txt"));
    }

    void moveFilesBetweenShelves()
    {
        ShelfManager m;
        const QUuid a = newShelf(m, "A"), b = newShelf(m, "B");
        const QList<QUrl> urls = makeFiles(4);
        addAndWait(m, urls, a);
        addAndWait(m, {urls[1]}, b);
        QList<ShelfFile> moving = m.shelf(a)->files.mid(0, 3);
        moving.append(ShelfFile{QUuid::createUuid(), urls[3].resolved(QUrl("other")), {}, {}}); // not on A: stays out
        m.moveFiles(moving, a, b);
        QCOMPARE(urlsOf(*m.shelf(a)), QList<QUrl>{urls[3]});
        QCOMPARE(urlsOf(*m.shelf(b)), (QList<QUrl>{urls[1], urls[0], urls[2]}));
        QVERIFY(!m.hasPendingSave()); // saved at once
        m.flushPendingSave();
        const auto onDisk = ShelfJson::decodeShelves(readFile(dataDir() + "/shelves.json"));
        QCOMPARE(onDisk->at(1).files.size(), 3);
    }

    void hooksRunAfterLoading()
    {
        QUuid id;
        {
            ShelfManager m;
            id = newShelf(m);
        }
        ShelfManager m;
        QStringList calls;
        QSet<QUuid> pruned;
        m.setHooks({{}, [&](const QSet<QUuid> &ids) { pruned = ids; calls << "prune"; }, [&] { calls << "register"; }, {}});
        QVERIFY(calls.isEmpty());
        QTRY_COMPARE(calls, (QStringList{"prune", "register"}));
        QCOMPARE(pruned, QSet<QUuid>{id});
    }

    void directEdits()
    {
        ShelfManager m;
        const QUuid a = newShelf(m, "A"), b = newShelf(m, "B"), c = newShelf(m, "C");
        QVERIFY(m.moveShelf(2, 0));
        QCOMPARE(m.shelves().first().id, c);
        QVERIFY(!m.moveShelf(0, 3));
        QVERIFY(!m.updateShelf(QUuid::createUuid(), [](Shelf &) {}));
        m.updateShelf(b, [](Shelf &s) {
            s.id = QUuid::createUuid(); // ids never change
            s.tuckedEdge = TuckEdge::left;
        });
        QCOMPARE(m.shelf(b)->tuckedEdge, std::optional<TuckEdge>(TuckEdge::left));
        Q_UNUSED(a);
    }

    // A full disk: every write fails. The three files stay as they were byte for byte, the
    // state stays in memory, the failure is told once, and everything is written by the
    // retry once there is room again — without another change.
    void fullDiskKeepsStateFiles()
    {
        QUuid id;
        {
            ShelfManager m;
            id = newShelf(m, "Sixty");
            addAndWait(m, makeFiles(60), id);
            m.openShelf(id);
        }
        const QByteArray shelves = readFile(dataDir() + "/shelves.json");
        const QByteArray open = readFile(dataDir() + "/openShelves.json");
        QVERIFY(shelves.size() > 6000);

        AtomicFileFaults::setHook([](AtomicFileFaults::Step step, qint64 *) {
            return step == AtomicFileFaults::Step::write ? ENOSPC : 0;
        });
        ShelfManager m;
        QSignalSpy failed(&m, &ShelfManager::saveFailed);
        addAndWait(m, makeFiles(3, "more"), id);
        const QUuid inbox = newShelf(m, "Inbox");
        m.openShelf(inbox);
        m.hideShelf(id);
        QTRY_VERIFY(m.hasFailedSave() && !m.hasPendingSave());
        m.flushPendingSave(); // the quit path tries once more
        QCOMPARE(readFile(dataDir() + "/shelves.json"), shelves);
        QCOMPARE(readFile(dataDir() + "/openShelves.json"), open);
        QVERIFY(!QFileInfo::exists(dataDir() + "/hidden-shelf-ids.json"));
        QCOMPARE(QDir(dataDir()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"openShelves.json", "shelves.json"})); // no temporary files left
        QCOMPARE(failed.size(), 1);
        QCOMPARE(m.shelf(id)->files.size(), 63);
        QVERIFY(m.shelf(inbox) && m.isShelfOpen(inbox) && m.isShelfHidden(id));

        AtomicFileFaults::setHook({});
        QTRY_VERIFY_WITH_TIMEOUT(!m.hasFailedSave(), 3 * ShelfManager::kRetryDelayMs);
        const auto onDisk = ShelfJson::decodeShelves(readFile(dataDir() + "/shelves.json"));
        QVERIFY(onDisk && onDisk->size() == 2);
        QCOMPARE(onDisk->first().files.size(), 63);
        QCOMPARE(*ShelfJson::decodeIdSet(readFile(dataDir() + "/openShelves.json")), (QSet<QUuid>{id, inbox}));
        QCOMPARE(*ShelfJson::decodeIdSet(readFile(dataDir() + "/hidden-shelf-ids.json")), QSet<QUuid>{id});
        QCOMPARE(failed.size(), 1);
    }

    // No save of ours leaves an empty file. One found at start (what a full disk left
    // before) is set aside like a damaged one, not taken for "no shelves" and replaced.
    void emptyStateFilesAreSetAside()
    {
        writeFile(dataDir() + "/shelves.json", "");
        writeFile(dataDir() + "/openShelves.json", "");
        writeFile(dataDir() + "/hidden-shelf-ids.json", " \n");
        ShelfManager m;
        QVERIFY(m.shelves().isEmpty());
        const QUuid id = newShelf(m, "Fresh");
        QVERIFY(!m.damagedShelvesBackupPath().isEmpty());
        QCOMPARE(readFile(m.damagedShelvesBackupPath()), QByteArray());
        m.openShelf(id);
        m.hideShelf(id);
        for (const char *name : {"shelves.json", "openShelves.json", "hidden-shelf-ids.json"})
            QCOMPARE(QDir(dataDir()).entryList({QString::fromLatin1(name) + ".damaged-*"}).size(), 1);
        QCOMPARE(*ShelfJson::decodeIdSet(readFile(dataDir() + "/openShelves.json")), QSet<QUuid>{id});
    }

    // Some editors put a byte-order mark before the text: the files load as they are.
    void byteOrderMarkLoads()
    {
        QUuid id;
        {
            ShelfManager m;
            id = newShelf(m, "Marked");
        }
        const QByteArray bom("\xEF\xBB\xBF");
        writeFile(dataDir() + "/shelves.json", bom + readFile(dataDir() + "/shelves.json"));
        writeFile(dataDir() + "/openShelves.json", bom + "[\"" + uuidString(id).toLatin1() + "\"]");
        ShelfManager m;
        QCOMPARE(m.shelves().size(), 1);
        QCOMPARE(m.shelf(id)->name, QString("Marked"));
        QVERIFY(m.isShelfOpen(id));
        m.renameShelf(id, "Still marked");
        m.closeShelf(id);
        m.flushPendingSave();
        QVERIFY(m.damagedShelvesBackupPath().isEmpty());
        QVERIFY(QDir(dataDir()).entryList({"*.damaged-*"}).isEmpty());
    }

    // "shelves.json" is mapped into memory and read in place when the rest of its last page
    // leaves the reader room enough, else from a copy: files that end anywhere near a page
    // boundary load alike.
    void filesEndingNearAPageBoundaryLoad()
    {
        const qsizetype page = ::sysconf(_SC_PAGESIZE);
        const Shelf shelf = Shelf::make("", ShelfColorData::systemBlue(), "tray");
        const qsizetype bare = ShelfJson::encodeShelves({shelf}).size();
        for (const qsizetype size : {page - ShelfJson::kReadPadding - 1, page - ShelfJson::kReadPadding,
                                     page - ShelfJson::kReadPadding + 1, page - 1, page, page + 1}) {
            Shelf named = shelf;
            named.name = QString(size - bare, QLatin1Char('n'));
            const QByteArray json = ShelfJson::encodeShelves({named});
            QCOMPARE(json.size(), size);
            writeFile(dataDir() + "/shelves.json", json);
            ShelfManager m;
            QCOMPARE(m.shelves().size(), 1);
            QCOMPARE(m.shelves().first().name, named.name);
        }
    }

    // Changes closer together than the 300 ms delay never let it run out: the list is still
    // written, 2 s after the first unsaved change.
    void steadyStreamIsSaved()
    {
        ShelfManager m;
        const QUuid id = newShelf(m);
        const int before = m.shelvesWriteCount();
        QElapsedTimer clock;
        clock.start();
        int changes = 0;
        while (m.shelvesWriteCount() == before && clock.elapsed() < 6000) {
            m.renameShelf(id, QString("Change %1").arg(++changes));
            QTest::qWait(100);
        }
        QVERIFY2(m.shelvesWriteCount() > before, "a steady stream of changes was never saved");
        m.flushPendingSave();
        const auto onDisk = ShelfJson::decodeShelves(readFile(dataDir() + "/shelves.json"));
        QVERIFY(onDisk && onDisk->first().name.startsWith("Change "));
    }

    // A new shelf is on disk before anything refers to it: a crash right after the "Inbox" is
    // made (before any debounce ran) leaves no open id without its shelf, and the next start
    // finds that "Inbox" instead of making another.
    void newShelfIsOnDiskAtOnce()
    {
        ShelfManager m;
        const QUuid id = newShelf(m, "Inbox");
        m.openShelf(id);
        const auto onDisk = ShelfJson::decodeShelves(readFile(dataDir() + "/shelves.json"));
        QVERIFY(onDisk && onDisk->size() == 1);
        QCOMPARE(onDisk->first().id, id);
        QCOMPARE(onDisk->first().name, QString("Inbox"));
        const QUuid made = m.createShelf();
        QCOMPARE(ShelfJson::decodeShelves(readFile(dataDir() + "/shelves.json"))->size(), 2);
        QVERIFY(ShelfJson::decodeIdSet(readFile(dataDir() + "/openShelves.json"))->contains(made));
    }

    // A crafted "shelves.json" names folders anywhere: none is created, and a shelf's folder
    // (created, deleted, owning files) is always the one made from its id.
    void storedFolderLocationIsNotTrusted()
    {
        const QString elsewhere = m_files->path() + "/made/by/a/crafted/file";
        Shelf outside = Shelf::make("Outside", ShelfColorData::systemBlue(), "tray");
        outside.folderURL = FilePath::urlFromPath(elsewhere + "/");
        Shelf victim = Shelf::make("Victim", ShelfColorData::systemBlue(), "tray");
        Shelf thief = Shelf::make("Thief", ShelfColorData::systemBlue(), "tray");
        thief.folderURL = victim.folderURL;
        const QString victimFolder = FilePath::displayPath(victim.folderURL);
        writeFile(victimFolder + "/kept.txt", "x");
        ShelfFolder::removeTree(FilePath::bytes(outside.folderURL).chopped(1));
        ShelfFolder::removeTree(QFile::encodeName(dataDir() + "/Shelves/" + uuidString(outside.id)));
        writeFile(dataDir() + "/shelves.json", ShelfJson::encodeShelves({outside, victim, thief}));

        ShelfManager m;
        QCOMPARE(m.shelves().size(), 3);
        QVERIFY(!QFileInfo::exists(m_files->path() + "/made"));
        QCOMPARE(m.shelf(outside.id)->folderURL, shelfFolderURL(outside.id));
        QVERIFY(QFileInfo(dataDir() + "/Shelves/" + uuidString(outside.id)).isDir());
        QCOMPARE(m.shelf(thief.id)->folderURL, shelfFolderURL(thief.id));
        // Even a location edited in memory does not count.
        m.updateShelf(thief.id, [&](Shelf &s) { s.folderURL = victim.folderURL; });
        m.deleteShelf(thief.id);
        QTRY_VERIFY(!m.shelf(thief.id));
        QVERIFY(QFileInfo::exists(victimFolder + "/kept.txt"));
        m.flushPendingSave();
        QVERIFY(!readFile(dataDir() + "/shelves.json").contains("/made/by/a/crafted"));
    }

    // The data folder and the state files are the user's alone, whatever the umask; a
    // folder an older version left open is closed.
    void stateIsPrivate()
    {
        QVERIFY(QDir().mkpath(dataDir()));
        QVERIFY(::chmod(QFile::encodeName(dataDir()).constData(), 0777) == 0);
        const mode_t old = ::umask(0);
        QUuid id;
        {
            ShelfManager m;
            id = newShelf(m);
            m.openShelf(id);
            m.hideShelf(id);
        }
        ::umask(old);
        const auto mode = [](const QString &path) {
            struct stat st;
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
        };
        QCOMPARE(mode(dataDir()), 0700);
        QCOMPARE(mode(dataDir() + "/Shelves"), 0700);
        QCOMPARE(mode(dataDir() + "/Shelves/" + uuidString(id)), 0700);
        for (const char *name : {"/shelves.json", "/openShelves.json", "/hidden-shelf-ids.json"})
            QCOMPARE(mode(dataDir() + name), 0600);
    }

    // Lookups by id stay right through every change of order and membership, and a shelf's
    // revision changes with its own record only (windows skip the changes of other shelves).
    void lookupsAndRevisions()
    {
        ShelfManager m;
        const QUuid a = newShelf(m, "A"), b = newShelf(m, "B"), c = newShelf(m, "C");
        const auto positionsAgree = [&m] {
            for (int i = 0; i < m.shelves().size(); ++i)
                if (m.indexOfShelf(m.shelves().at(i).id) != i || m.shelf(m.shelves().at(i).id) != &m.shelves().at(i))
                    return false;
            return true;
        };
        QVERIFY(positionsAgree());
        QVERIFY(m.moveShelf(0, 2));
        QVERIFY(positionsAgree());
        QCOMPARE(m.indexOfShelf(a), 2);

        const quint64 ra = m.shelfRevision(a), rb = m.shelfRevision(b), rc = m.shelfRevision(c);
        QVERIFY(m.renameShelf(b, "B2"));
        QVERIFY(m.shelfRevision(b) != rb);
        QCOMPARE(m.shelfRevision(a), ra);
        QCOMPARE(m.shelfRevision(c), rc);
        addAndWait(m, makeFiles(2, "rev"), c);
        QVERIFY(m.shelfRevision(c) != rc);
        QCOMPARE(m.shelfRevision(a), ra);
        const quint64 rc2 = m.shelfRevision(c);
        m.moveFiles(m.shelf(c)->files.mid(0, 1), c, a);
        QVERIFY(m.shelfRevision(a) != ra && m.shelfRevision(c) != rc2);
        const quint64 rb2 = m.shelfRevision(b);
        m.removeFiles(c, {m.shelf(c)->files.first().id}, false);
        QCOMPARE(m.shelfRevision(b), rb2);

        // Replacing the list touches every shelf.
        const quint64 before = m.shelfRevision(b);
        QList<Shelf> list = m.shelves();
        std::reverse(list.begin(), list.end());
        m.setShelves(list);
        QVERIFY(positionsAgree());
        QVERIFY(m.shelfRevision(b) != before);

        const QUuid d = newShelf(m, "D");
        QVERIFY(positionsAgree());
        QCOMPARE(m.indexOfShelf(d), 3);
        m.deleteShelf(b);
        QTRY_VERIFY(!m.shelf(b));
        QVERIFY(positionsAgree());
        QCOMPARE(m.shelfRevision(b), quint64(0));
        QCOMPARE(m.indexOfShelf(QUuid::createUuid()), -1);
    }
};

QTEST_GUILESS_MAIN(TestShelfManager)
#include "tst_shelf_manager.moc"
