// Favorite runs on real temporary files: the click (files chosen then), the queue, the four
// tool branches, output folders, the outcome marks on a clock the test steps, and the
// rules that name favorites and shelves from the shell.
#include "model/ShelfLookup.h"
#include "model/ShelfManager.h"
#include "platform/FileBookmark.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "tools/favorites/FavoriteRules.h"
#include "tools/favorites/FavoriteRunner.h"
#include "tools/presets/PresetStore.h"
#include "tools/progress/ShelfProgressState.h"

#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <sys/stat.h>

namespace {

// Delays that pass when the test says so.
class SteppedClock : public FavoriteClock
{
public:
    void after(int ms, QObject *context, std::function<void()> work) override
    {
        m_due.append({m_now + ms, QPointer<QObject>(context), std::move(work)});
    }
    void advance(int ms)
    {
        m_now += ms;
        for (qsizetype i = 0; i < m_due.size();) {
            if (m_due[i].at <= m_now) {
                Due due = m_due.takeAt(i);
                if (due.context)
                    due.work();
                i = 0;
            } else {
                ++i;
            }
        }
    }

private:
    struct Due {
        qint64 at;
        QPointer<QObject> context;
        std::function<void()> work;
    };
    qint64 m_now = 0;
    QList<Due> m_due;
};

// Answers for the desktop: folder choosers wait until the test answers them.
class FakeHost : public FavoriteRunHost
{
public:
    struct Alert {
        QString title, message, details;
    };
    void chooseFolder(const QString &message, const QString &prompt,
                      std::function<void(std::optional<QUrl>)> done) override
    {
        chooserMessages << message;
        prompts << prompt;
        choosers.append(std::move(done));
    }
    void showAlert(const QString &title, const QString &message, const QString &details) override
    {
        alerts.append({title, message, details});
    }
    void copyText(const QString &text) override
    {
        copied << text;
        if (onCopy)
            onCopy();
    }
    void reveal(const QList<QUrl> &urls) override { revealed << urls; }

    // Answers the oldest open chooser.
    void answer(const std::optional<QUrl> &folder)
    {
        QVERIFY(!choosers.isEmpty());
        auto done = choosers.takeFirst();
        done(folder);
    }

    QStringList chooserMessages, prompts, copied;
    QList<std::function<void(std::optional<QUrl>)>> choosers;
    QList<Alert> alerts;
    QList<QUrl> revealed;
    std::function<void()> onCopy;
};

QStringList filesIn(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden);
    names.sort();
    return names;
}

} // namespace

class FavoriteRunnerTest : public QObject
{
    Q_OBJECT

    using Feedback = FavoriteRunFeedback;

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath("config")));
        qputenv("HOME", QFile::encodeName(m_root.path()));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>(m_root.filePath("run-XXXXXX"));
        m_settings = std::make_unique<SettingsStore>(m_dir->filePath("settings.json"));
        m_presets = std::make_unique<PresetStore>(*m_settings);
        m_manager = std::make_unique<ShelfManager>();
        m_host = std::make_shared<FakeHost>();
        m_clock = std::make_unique<SteppedClock>();
        m_progress = std::make_unique<ShelfProgressState>();
        const Shelf shelf = Shelf::make(QStringLiteral("Work"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        m_shelfId = shelf.id;
        m_manager->appendShelf(shelf);
        FavoriteRunner::Context context;
        context.manager = m_manager.get();
        context.presets = m_presets.get();
        context.host = m_host;
        context.clock = m_clock.get();
        context.progress = m_progress.get();
        context.conversionNotification = false;
        m_runner = std::make_unique<FavoriteRunner>(m_shelfId, context);
    }

    void cleanup()
    {
        m_runner.reset();
        if (m_manager->shelf(m_shelfId))
            m_manager->deleteShelf(m_shelfId);
        QTest::qWait(80);
        m_manager.reset();
    }

    // ---- rules ------------------------------------------------------------------------

    void texts()
    {
        ShelfFavoriteAction f = FavoriteRules::pinned(ShelfFavoriteToolKind::convert, QUuid::createUuid(), "Web JPEG");
        QCOMPARE(f.scope, ShelfFavoriteScope::selectionOrAll);
        QCOMPARE(f.destinationMode, ShelfFavoriteDestinationMode::askEachTime);
        QCOMPARE(FavoriteRules::pinned(ShelfFavoriteToolKind::rename, {}, "x").destinationMode,
                 ShelfFavoriteDestinationMode::none);
        QCOMPARE(FavoriteRules::buttonText(f, false), QStringLiteral("Web JPEG"));
        f.customLabel = QString();
        QCOMPARE(FavoriteRules::buttonText(f, true), QStringLiteral("Web JPEG (Missing Preset)"));
        f.customLabel = QStringLiteral("Shrink");
        QCOMPARE(FavoriteRules::label(f), QStringLiteral("Shrink"));
        QCOMPARE(FavoriteRules::missingPresetMessage(ShelfFavoriteToolKind::archive),
                 QStringLiteral("The saved Zip preset could not be found."));
        QCOMPARE(FavoriteRules::missingPresetMessage(ShelfFavoriteToolKind::convert),
                 QStringLiteral("The saved Convert preset could not be found."));
        QCOMPARE(FavoriteRules::compactStatus("Shrink", 0), QStringLiteral("Running: Shrink"));
        QCOMPARE(FavoriteRules::compactStatus("Shrink", 2), QStringLiteral("Running: Shrink · 2 more queued"));
        QStringList titles, empty;
        for (ShelfFavoriteToolKind tool : FavoriteRules::pinMenuOrder()) {
            titles << FavoriteRules::pinMenuTitle(tool);
            empty << FavoriteRules::noPresetsText(tool);
        }
        QCOMPARE(titles, (QStringList{"Pin Zip Favorite", "Pin Rename Favorite", "Pin Convert Favorite",
                                      "Pin Flatten Favorite"}));
        QCOMPARE(empty, (QStringList{"No zip presets yet", "No rename presets yet", "No conversion presets yet",
                                     "No flatten presets yet"}));
    }

    void namingFromTheShell()
    {
        QList<ShelfFavoriteAction> favorites;
        for (const char *name : {"Web JPEG", "Backup", "web jpeg copy"})
            favorites << FavoriteRules::pinned(ShelfFavoriteToolKind::convert, QUuid::createUuid(), name);
        favorites[1].customLabel = QStringLiteral("Nightly");
        QString error;
        QCOMPARE(FavoriteRules::findFavorite(favorites, "Web JPEG", &error), qsizetype(0));
        QCOMPARE(FavoriteRules::findFavorite(favorites, "Nightly", &error), qsizetype(1));
        QCOMPARE(FavoriteRules::findFavorite(favorites, "Backup", &error), qsizetype(1)); // the preset's name
        QCOMPARE(FavoriteRules::findFavorite(favorites, "WEB JPEG COPY", &error), qsizetype(2));
        QCOMPARE(FavoriteRules::findFavorite(favorites, "3", &error), qsizetype(2));
        QVERIFY(!FavoriteRules::findFavorite(favorites, "4", &error));
        QVERIFY(error.contains("\"Nightly\""));
        favorites << favorites[0];
        QVERIFY(!FavoriteRules::findFavorite(favorites, "Web JPEG", &error));
        QVERIFY2(error.contains("position"), qPrintable(error));

        QList<Shelf> shelves{Shelf::make("Inbox", {}, "tray"), Shelf::make("Photos", {}, "tray"),
                             Shelf::make("photos", {}, "tray")};
        QCOMPARE(findShelfByNameOrId(shelves, "Inbox", &error), shelves[0].id);
        QCOMPARE(findShelfByNameOrId(shelves, uuidString(shelves[1].id).toLower(), &error), shelves[1].id);
        QCOMPARE(findShelfByNameOrId(shelves, "photos", &error), shelves[2].id); // exact wins
        QCOMPARE(findShelfByNameOrId(shelves, "INBOX", &error), shelves[0].id);
        QVERIFY(!findShelfByNameOrId(shelves, "PHOTOS", &error));
        QVERIFY(!findShelfByNameOrId(shelves, "Nowhere", &error));
        QCOMPARE(error, QStringLiteral("no shelf \"Nowhere\""));
    }

    // ---- click and queue ----------------------------------------------------------------

    void queueKeepsClickOrderAndTheFilesOfEachClick()
    {
        const QList<ShelfFile> files = addFiles({"a.txt", "b.txt", "c.txt"});
        const ShelfFavoriteAction flatten = pinFlatten("Gather", "copy");
        const QString out1 = makeDir("out1"), out2 = makeDir("out2"), out3 = makeDir("out3");

        // First click, nothing selected: all files; it waits at its folder chooser.
        QVERIFY(m_runner->favoriteTapped(flatten.id, {}));
        QCOMPARE(m_runner->runningFavoriteID(), flatten.id);
        QCOMPARE(m_runner->feedback(flatten.id), Feedback::running);
        QCOMPARE(m_host->chooserMessages, QStringList{"Choose Flatten output folder"});
        QCOMPARE(m_host->prompts, QStringList{"Choose Folder"});
        // Second click with c and a selected: those two, in shelf order; it waits.
        QSignalSpy queued(m_runner.get(), &FavoriteRunner::runQueued);
        QVERIFY(m_runner->favoriteTapped(flatten.id, {files[2].id, files[0].id}));
        // Third click with b selected.
        QVERIFY(m_runner->favoriteTapped(flatten.id, {files[1].id}));
        QCOMPARE(queued.size(), 2);
        QCOMPARE(m_runner->favoriteQueue().size(), 2);
        QCOMPARE(ids(m_runner->favoriteQueue()[0].files), (QList<QUuid>{files[0].id, files[2].id}));
        QCOMPARE(ids(m_runner->favoriteQueue()[1].files), QList<QUuid>{files[1].id});
        QCOMPARE(m_host->choosers.size(), 1); // one run at a time

        m_host->answer(QUrl::fromLocalFile(out1));
        QTRY_COMPARE(m_host->choosers.size(), 1); // the second run asks now
        QCOMPARE(filesIn(out1), (QStringList{"a.txt", "b.txt", "c.txt"}));
        QCOMPARE(m_runner->favoriteQueue().size(), 1);
        m_host->answer(QUrl::fromLocalFile(out2));
        QTRY_COMPARE(m_host->choosers.size(), 1);
        QCOMPARE(filesIn(out2), (QStringList{"a.txt", "c.txt"}));
        m_host->answer(QUrl::fromLocalFile(out3));
        QTRY_VERIFY(!m_runner->runningFavoriteID());
        QCOMPARE(filesIn(out3), QStringList{"b.txt"});
        QCOMPARE(m_runner->feedback(flatten.id), Feedback::success);
        QVERIFY(m_host->alerts.isEmpty());
    }

    void aClickWithNothingToTakeDoesNothing()
    {
        const ShelfFavoriteAction rename = pinRename("Upper", [](RenamePreset &p) { p.caseMode = CaseMode::upper; });
        QVERIFY(!m_runner->favoriteTapped(rename.id, {})); // no files
        addFiles({"a.txt"});
        QVERIFY(!m_runner->favoriteTapped(QUuid::createUuid(), {})); // no such favorite
        QVERIFY(!m_runner->runningFavoriteID());
    }

    void missingPresetFailsWithoutStartingTheToolAndTheQueueGoesOn()
    {
        addFiles({"a.txt"});
        const ShelfFavoriteAction flatten = pinFlatten("Gather", "copy");
        const ShelfFavoriteAction rename = pinRename("Shout", [](RenamePreset &p) { p.prefix = "X_"; });
        QSignalSpy failed(m_runner.get(), &FavoriteRunner::runFailed);
        QVERIFY(m_runner->favoriteTapped(flatten.id, {})); // waits at its chooser
        QVERIFY(m_runner->favoriteTapped(rename.id, {}));  // queued
        m_presets->deleteRename(rename.presetID);        // deleted while queued
        m_host->answer(std::nullopt);                    // the flatten is cancelled
        QCOMPARE(m_runner->feedback(flatten.id), Feedback::idle);
        QCOMPARE(m_runner->feedback(rename.id), Feedback::failure);
        QCOMPARE(m_runner->shakeCount(rename.id), 1);
        QCOMPARE(m_runner->lastFailure(rename.id), QStringLiteral("The saved Rename preset could not be found."));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(m_progress->phase(), ShelfProgressState::Phase::error);
        QVERIFY(m_host->alerts.isEmpty()); // neither the cancelled chooser nor a missing preset alerts
        QVERIFY(QFile::exists(m_dir->filePath("files/a.txt")));
        QVERIFY(!m_runner->runningFavoriteID());
    }

    void cancelledChooserStartsTheNextRunQuietly()
    {
        addFiles({"a.txt"});
        const ShelfFavoriteAction zip = pinArchive("Zip it", [](ArchivePreset &) {});
        const ShelfFavoriteAction rename = pinRename("Prefix", [](RenamePreset &p) { p.prefix = "new_"; });
        QVERIFY(m_runner->favoriteTapped(zip.id, {}));
        QCOMPARE(m_host->chooserMessages, QStringList{"Choose Zip output folder"});
        QVERIFY(m_runner->favoriteTapped(rename.id, {}));
        m_host->answer(std::nullopt);
        QVERIFY(m_host->alerts.isEmpty());
        QCOMPARE(m_runner->feedback(zip.id), Feedback::idle);
        QCOMPARE(m_runner->feedback(rename.id), Feedback::success);
        QCOMPARE(filesIn(m_dir->filePath("files")), QStringList{"new_a.txt"});
    }

    void marksClearAfterTheirTimes()
    {
        addFiles({"a.txt"});
        const ShelfFavoriteAction ok = pinRename("Ok", [](RenamePreset &p) { p.suffix = "_1"; });
        QVERIFY(m_runner->favoriteTapped(ok.id, {}));
        QCOMPARE(m_runner->feedback(ok.id), Feedback::success);
        QVERIFY(m_runner->pendingClearIDs().contains(ok.id));
        m_clock->advance(899);
        QCOMPARE(m_runner->feedback(ok.id), Feedback::success);
        m_clock->advance(1);
        QCOMPARE(m_runner->feedback(ok.id), Feedback::idle);
        QVERIFY(m_runner->pendingClearIDs().isEmpty());

        const ShelfFavoriteAction bad = pinRename("Bad", [](RenamePreset &p) {
            p.isAdvanced = true;
            p.useRegex = true;
            p.findText = "([a";
        });
        QVERIFY(m_runner->favoriteTapped(bad.id, {}));
        QCOMPARE(m_runner->feedback(bad.id), Feedback::failure);
        // The ring's error mark is the favorite's: it still leads to the favorite activity.
        QCOMPARE(m_progress->phase(), ShelfProgressState::Phase::error);
        QVERIFY(m_runner->isFavoriteActivity());
        m_clock->advance(1099);
        QCOMPARE(m_runner->feedback(bad.id), Feedback::failure);
        m_clock->advance(1);
        QCOMPARE(m_runner->feedback(bad.id), Feedback::idle);
        QCOMPARE(m_runner->shakeCount(bad.id), 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_progress->phase(), ShelfProgressState::Phase::idle, 10000);
        QVERIFY(!m_runner->isFavoriteActivity());
    }

    // ---- rename -----------------------------------------------------------------------

    void renameRunsOnTheShelfFiles()
    {
        const QList<ShelfFile> files = addFiles({"one.txt", "two.txt", "keep.txt"});
        const ShelfFavoriteAction rename = pinRename("Number", [](RenamePreset &p) {
            p.useCounter = true;
            p.counterPosition = CounterPosition::prefix;
            p.counterPad = 2;
        });
        QVERIFY(m_runner->favoriteTapped(rename.id, {files[1].id, files[0].id}));
        QCOMPARE(filesIn(m_dir->filePath("files")), (QStringList{"01_one.txt", "02_two.txt", "keep.txt"}));
        // The entries follow their files and keep their ids.
        const Shelf *shelf = m_manager->shelf(m_shelfId);
        QVERIFY(shelf->files[0].url.toLocalFile().endsWith("/01_one.txt"));
        QCOMPARE(shelf->files[0].id, files[0].id);
        QCOMPARE(m_runner->feedback(rename.id), Feedback::success);
        QCOMPARE(m_progress->phase(), ShelfProgressState::Phase::done);
    }

    void invalidExpressionOnlyWhenInForce()
    {
        addFiles({"a(1).txt"});
        // Regular expressions on, but the simple face: the find text is literal.
        const ShelfFavoriteAction literal = pinRename("Literal", [](RenamePreset &p) {
            p.useRegex = true;
            p.isAdvanced = false;
            p.findText = "(";
            p.replaceWith = "[";
        });
        QVERIFY(m_runner->favoriteTapped(literal.id, {}));
        QVERIFY(m_host->alerts.isEmpty());
        QCOMPARE(m_runner->feedback(literal.id), Feedback::success);
        QCOMPARE(filesIn(m_dir->filePath("files")), QStringList{"a[1).txt"});

        const ShelfFavoriteAction advanced = pinRename("Advanced", [](RenamePreset &p) {
            p.useRegex = true;
            p.isAdvanced = true;
            p.findText = "(";
        });
        QVERIFY(m_runner->favoriteTapped(advanced.id, {}));
        QCOMPARE(m_host->alerts.size(), 1);
        QCOMPARE(m_host->alerts[0].title, QStringLiteral("Rename Favorite Failed"));
        QCOMPARE(m_host->alerts[0].message, QStringLiteral("The saved Rename preset contains an invalid regular expression."));
        QCOMPARE(m_runner->feedback(advanced.id), Feedback::failure);
        QCOMPARE(filesIn(m_dir->filePath("files")), QStringList{"a[1).txt"});
    }

    void renameFailuresAreListed()
    {
        addFiles({"a.txt", "b.txt"});
        // b.txt would become a.txt's new name's twin: "same.txt" exists already.
        writeFile("files/same.txt");
        const ShelfFavoriteAction rename = pinRename("Same", [](RenamePreset &p) {
            p.isAdvanced = true;
            p.useRegex = true;
            p.findText = "^b$";
            p.replaceWith = "same";
        });
        QVERIFY(m_runner->favoriteTapped(rename.id, {}));
        QCOMPARE(m_host->alerts.size(), 1);
        QCOMPARE(m_host->alerts[0].title, QStringLiteral("Rename Favorite Failed"));
        QCOMPARE(m_host->alerts[0].message, QStringLiteral("Some files could not be renamed"));
        QVERIFY2(m_host->alerts[0].details.startsWith("b.txt: "), qPrintable(m_host->alerts[0].details));
        QCOMPARE(m_runner->feedback(rename.id), Feedback::failure);
    }

    // ---- flatten ----------------------------------------------------------------------

    void flattenMoveIntoSavedFolderTakesTheItemsOffTheShelf()
    {
        writeFile("files/tree/x/deep.txt");
        writeFile("files/tree/top.txt");
        addUrls({QUrl::fromLocalFile(m_dir->filePath("files/tree"))});
        const QList<ShelfFile> kept = addFiles({"stay.txt"});
        ShelfFavoriteAction flatten = pinFlatten("Move all", "move");
        const QString out = makeDir("saved");
        setSavedFolder(flatten, out);
        const ShelfFile tree = m_manager->shelf(m_shelfId)->files[0];
        QVERIFY(m_runner->favoriteTapped(flatten.id, {tree.id}));
        QVERIFY(m_host->choosers.isEmpty()); // the saved folder needs no question
        QTRY_VERIFY(!m_runner->runningFavoriteID());
        QCOMPARE(filesIn(out), (QStringList{"deep.txt", "top.txt"}));
        QCOMPARE(ids(m_manager->shelf(m_shelfId)->files), QList<QUuid>{kept[0].id});
        QCOMPARE(m_runner->feedback(flatten.id), Feedback::success);
    }

    void cancellingAFlattenLeavesNothingHalfWritten()
    {
        writeBigFile("files/big.bin");
        addUrls({QUrl::fromLocalFile(m_dir->filePath("files/big.bin"))});
        const ShelfFavoriteAction flatten = pinFlatten("Gather", "copy");
        const QString out = makeDir("out");
        // Every thread of the pool the copy runs on is held until the cancel is in: a 64 MB
        // copy can end within the moment between the answer and the cancel on a busy machine.
        QThreadPool *pool = QThreadPool::globalInstance();
        const int threads = pool->maxThreadCount();
        QSemaphore held, hold;
        for (int i = 0; i < threads; ++i)
            pool->start([&held, &hold] {
                held.release();
                hold.acquire();
            });
        // However the test ends, the held threads are let go and have returned before the
        // semaphores they wait on go out of scope: a holder still on its way to `hold` when
        // the test returned waited on freed stack for ever, and every later use of the pool
        // (the next test's conversion) with it.
        bool letGo = false;
        const auto release = [&] {
            if (!std::exchange(letGo, true))
                hold.release(threads);
        };
        const auto waitForHolders = qScopeGuard([&] {
            release();
            pool->waitForDone();
        });
        QVERIFY(held.tryAcquire(threads, 10000));
        QVERIFY(m_runner->favoriteTapped(flatten.id, {}));
        m_host->answer(QUrl::fromLocalFile(out));
        QVERIFY(m_runner->canCancelCurrent());
        m_runner->cancelCurrent();
        release();
        QTRY_VERIFY_WITH_TIMEOUT(!m_runner->runningFavoriteID(), 30000);
        QCOMPARE(m_runner->feedback(flatten.id), Feedback::idle);
        QVERIFY(m_host->alerts.isEmpty());
        QCOMPARE(filesIn(out), QStringList{});
        QCOMPARE(m_manager->shelf(m_shelfId)->files.size(), 1);
    }

    void savedFolderThatIsGoneOrReadOnly()
    {
        addFiles({"a.txt"});
        ShelfFavoriteAction flatten = pinFlatten("Gather", "copy");
        const QString out = makeDir("gone");
        setSavedFolder(flatten, out);
        QVERIFY(QDir(out).removeRecursively());
        QVERIFY(m_runner->favoriteTapped(flatten.id, {}));
        QCOMPARE(m_host->alerts.size(), 1);
        QCOMPARE(m_host->alerts[0].title, QStringLiteral("Flatten Favorite Failed"));
        QVERIFY2(m_host->alerts[0].message.contains("no longer exists"), qPrintable(m_host->alerts[0].message));
        QCOMPARE(m_runner->feedback(flatten.id), Feedback::failure);

        // Renamed: the bookmark finds it under its new name.
        const QString before = makeDir("before");
        setSavedFolder(flatten, before);
        QVERIFY(QDir().rename(before, m_dir->filePath("after")));
        QVERIFY(m_runner->favoriteTapped(flatten.id, {}));
        QTRY_VERIFY(!m_runner->runningFavoriteID());
        QCOMPARE(filesIn(m_dir->filePath("after")), QStringList{"a.txt"});

        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        const QString locked = makeDir("locked");
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        setSavedFolder(flatten, locked);
        QVERIFY(m_runner->favoriteTapped(flatten.id, {}));
        QVERIFY(m_host->alerts.last().message.contains("cannot be written"));
    }

    void filesRemovedWhileQueued()
    {
        const QList<ShelfFile> files = addFiles({"a.txt"});
        const ShelfFavoriteAction flatten = pinFlatten("Gather", "copy");
        const ShelfFavoriteAction rename = pinRename("Prefix", [](RenamePreset &p) { p.prefix = "z"; });
        QVERIFY(m_runner->favoriteTapped(flatten.id, {}));
        QVERIFY(m_runner->favoriteTapped(rename.id, {}));
        m_manager->removeFiles(m_shelfId, {files[0].id}, false);
        m_host->answer(QUrl::fromLocalFile(makeDir("out")));
        QTRY_VERIFY(!m_runner->runningFavoriteID());
        QCOMPARE(m_runner->feedback(flatten.id), Feedback::failure);
        QCOMPARE(m_runner->feedback(rename.id), Feedback::failure);
        QVERIFY(m_runner->lastFailure(rename.id).contains("no longer on the shelf"));
        QCOMPARE(filesIn(m_dir->filePath("files")), QStringList{"a.txt"}); // untouched
    }

    void shelfDeletedDropsWaitingRuns()
    {
        addFiles({"a.txt"});
        const ShelfFavoriteAction flatten = pinFlatten("Gather", "copy");
        const ShelfFavoriteAction rename = pinRename("Prefix", [](RenamePreset &p) { p.prefix = "z"; });
        QVERIFY(m_runner->favoriteTapped(flatten.id, {}));
        QVERIFY(m_runner->favoriteTapped(rename.id, {}));
        m_runner->shelfDeleted();
        QVERIFY(m_runner->favoriteQueue().isEmpty());
        m_host->answer(std::nullopt);
        QVERIFY(!m_runner->runningFavoriteID());
        QCOMPARE(filesIn(m_dir->filePath("files")), QStringList{"a.txt"});
    }

    // ---- zip --------------------------------------------------------------------------

    void zipIntoTheChosenFolder()
    {
        addFiles({"a.txt", "b.txt"});
        const ShelfFavoriteAction zip = pinArchive("Pack", [](ArchivePreset &p) { p.format = "zip"; });
        QVERIFY(m_runner->favoriteTapped(zip.id, {}));
        const QString out = makeDir("zips");
        m_host->answer(QUrl::fromLocalFile(out));
        QTRY_VERIFY_WITH_TIMEOUT(!m_runner->runningFavoriteID(), 30000);
        QCOMPARE(m_runner->feedback(zip.id), Feedback::success);
        QCOMPARE(filesIn(out), QStringList{"Work.zip"}); // named after the shelf
        QCOMPARE(listArchive(out + "/Work.zip"), (QStringList{"a.txt", "b.txt"}));
        QVERIFY(m_host->copied.isEmpty());
        // A second run does not replace the first archive.
        QVERIFY(m_runner->favoriteTapped(zip.id, {}));
        m_host->answer(QUrl::fromLocalFile(out));
        QTRY_VERIFY_WITH_TIMEOUT(!m_runner->runningFavoriteID(), 30000);
        QCOMPARE(filesIn(out), (QStringList{"Work 2.zip", "Work.zip"}));
    }

    void sevenZipPasswordGoesToTheClipboardFirst()
    {
        if (ArchiveToolPaths().sevenZip().isEmpty())
            QSKIP("7-Zip is not installed");
        addFiles({"secret.txt"});
        ShelfFavoriteAction zip = pinArchive("Locked", [](ArchivePreset &p) {
            p.format = "7z";
            p.usePassword = true;
            p.password = "s3cret-Pass";
            p.zipIndividually = true;
        });
        const QString out = makeDir("sevens");
        setSavedFolder(zip, out);
        int archivesWhenCopied = -1;
        bool ringRunningWhenCopied = true;
        m_host->onCopy = [&] {
            archivesWhenCopied = int(filesIn(out).size());
            ringRunningWhenCopied = m_progress->isRunning();
        };
        QSignalSpy progressChanges(m_progress.get(), &ShelfProgressState::changed);
        QStringList labels;
        connect(m_progress.get(), &ShelfProgressState::changed, this, [&] { labels << m_progress->label(); });
        QVERIFY(m_runner->favoriteTapped(zip.id, {}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_runner->runningFavoriteID(), 30000);
        QCOMPARE(m_host->copied, QStringList{"s3cret-Pass"});
        QCOMPARE(archivesWhenCopied, 0);
        QVERIFY(!ringRunningWhenCopied);
        QVERIFY(labels.contains(QStringLiteral("Zipping…")));
        QCOMPARE(filesIn(out), QStringList{"secret.7z"});
        QProcess list;
        list.start(ArchiveToolPaths().sevenZip(), {"l", "-p" + QStringLiteral("s3cret-Pass"), out + "/secret.7z"});
        QVERIFY(list.waitForFinished(30000));
        QCOMPARE(list.exitCode(), 0);
        QVERIFY(list.readAllStandardOutput().contains("secret.txt"));
    }

    void zipFailureShowsTheEnginesMessage()
    {
        addFiles({"a.txt"});
        const ShelfFavoriteAction zip = pinArchive("Broken", [](ArchivePreset &p) { p.format = "zip"; });
        FavoriteRunner::Context context;
        context.manager = m_manager.get();
        context.presets = m_presets.get();
        context.host = m_host;
        context.clock = m_clock.get();
        context.progress = m_progress.get();
        context.archiveTools.zip = m_dir->filePath("no-such-zip");
        FavoriteRunner runner(m_shelfId, context);
        QVERIFY(runner.favoriteTapped(zip.id, {}));
        m_host->answer(QUrl::fromLocalFile(makeDir("out")));
        QTRY_VERIFY_WITH_TIMEOUT(!runner.runningFavoriteID(), 30000);
        QCOMPARE(runner.feedback(zip.id), Feedback::failure);
        QCOMPARE(m_host->alerts.size(), 1);
        QCOMPARE(m_host->alerts[0].title, QStringLiteral("Export Failed"));
        QCOMPARE(filesIn(m_dir->filePath("out")), QStringList{});
    }

    void cancellingTheZipThroughTheRing()
    {
        // Enough data for the archiver to still be at work when the cancel comes.
        writeBigFile("files/big.bin");
        addUrls({QUrl::fromLocalFile(m_dir->filePath("files/big.bin"))});
        const ShelfFavoriteAction zip = pinArchive("Pack", [](ArchivePreset &p) {
            p.format = "zip";
            p.compressionLevel = "max";
        });
        const QString out = makeDir("out");
        QVERIFY(m_runner->favoriteTapped(zip.id, {}));
        m_host->answer(QUrl::fromLocalFile(out));
        QTRY_VERIFY(m_runner->canCancelCurrent());
        QVERIFY(m_runner->progressIsManagedByTool());
        m_runner->cancelCurrent();
        QTRY_VERIFY_WITH_TIMEOUT(!m_runner->runningFavoriteID(), 30000);
        QCOMPARE(m_runner->feedback(zip.id), Feedback::idle); // cancelled: no mark, no alert
        QVERIFY(m_host->alerts.isEmpty());
        QCOMPARE(filesIn(out), QStringList{});
    }

    // ---- convert ----------------------------------------------------------------------

    void convertAnImageIntoASavedFolder()
    {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(QColor(200, 40, 90));
        QDir().mkpath(m_dir->filePath("files"));
        QVERIFY(image.save(m_dir->filePath("files/photo.png")));
        addUrls({QUrl::fromLocalFile(m_dir->filePath("files/photo.png"))});
        ShelfFavoriteAction convert = pinConvert("Web JPEG", "public.jpeg", "flatFolder");
        const QString out = makeDir("jpegs");
        setSavedFolder(convert, out);
        const int shelvesBefore = int(m_manager->shelves().size());
        QVERIFY(m_runner->favoriteTapped(convert.id, {}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_runner->runningFavoriteID(), 60000);
        QCOMPARE(m_runner->feedback(convert.id), Feedback::success);
        QCOMPARE(filesIn(out), QStringList{"photo.jpg"});
        QImage converted(out + "/photo.jpg");
        QCOMPARE(converted.size(), QSize(64, 48));
        // The outputs went onto a converted shelf, as the Convert window does.
        QCOMPARE(int(m_manager->shelves().size()), shelvesBefore + 1);
        QCOMPARE(m_manager->shelves().last().name, QStringLiteral("Work — Converted"));
        QTRY_COMPARE(m_manager->shelves().last().files.size(), 1);
        m_manager->deleteShelf(m_manager->shelves().last().id);
    }

    void convertOverwriteNeedsNoFolder()
    {
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(Qt::green);
        QDir().mkpath(m_dir->filePath("files"));
        QVERIFY(image.save(m_dir->filePath("files/tile.png")));
        addUrls({QUrl::fromLocalFile(m_dir->filePath("files/tile.png"))});
        AppSettings::instance().setCreateConvertedShelf(false);
        const ShelfFavoriteAction convert = pinConvert("Beside", "public.tiff", "overwrite");
        QVERIFY(m_runner->favoriteTapped(convert.id, {}));
        QVERIFY(m_host->choosers.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!m_runner->runningFavoriteID(), 60000);
        QCOMPARE(m_runner->feedback(convert.id), Feedback::success);
        QCOMPARE(filesIn(m_dir->filePath("files")), (QStringList{"tile.png", "tile.tiff"}));
        AppSettings::instance().setCreateConvertedShelf(true);
    }

    void convertWithoutMedia()
    {
        addFiles({"notes.txt"});
        const ShelfFavoriteAction convert = pinConvert("Web JPEG", "public.jpeg", "flatFolder");
        QVERIFY(m_runner->favoriteTapped(convert.id, {}));
        QCOMPARE(m_host->chooserMessages, QStringList{"Choose Convert output folder"});
        m_host->answer(QUrl::fromLocalFile(makeDir("out")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_runner->runningFavoriteID(), 30000);
        QCOMPARE(m_runner->feedback(convert.id), Feedback::failure);
        QCOMPARE(m_host->alerts.size(), 1);
        QCOMPARE(m_host->alerts[0].title, QStringLiteral("Convert Favorite Failed"));
        QCOMPARE(m_host->alerts[0].message, QStringLiteral("None of the selected items contain supported media files."));
    }

    void convertThatProducesNothing()
    {
        // A file that looks like an image by its name but is not one.
        writeFile("files/fake.png");
        addUrls({QUrl::fromLocalFile(m_dir->filePath("files/fake.png"))});
        const ShelfFavoriteAction convert = pinConvert("Web JPEG", "public.jpeg", "flatFolder");
        QVERIFY(m_runner->favoriteTapped(convert.id, {}));
        const QString out = makeDir("out");
        m_host->answer(QUrl::fromLocalFile(out));
        QTRY_VERIFY_WITH_TIMEOUT(!m_runner->runningFavoriteID(), 30000);
        QCOMPARE(m_runner->feedback(convert.id), Feedback::failure);
        QCOMPARE(m_host->alerts.size(), 1);
        QCOMPARE(m_host->alerts[0].message, QStringLiteral("Conversion did not produce any output files."));
        QCOMPARE(filesIn(out), QStringList{});
    }

private:
    static QList<QUuid> ids(const QList<ShelfFile> &files)
    {
        QList<QUuid> out;
        for (const ShelfFile &f : files)
            out << f.id;
        return out;
    }

    void writeFile(const QString &relative)
    {
        const QString path = m_dir->filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("content of " + relative.toUtf8());
    }

    // 64 MB that do not compress: long enough to be stopped midway.
    void writeBigFile(const QString &relative)
    {
        QDir().mkpath(QFileInfo(m_dir->filePath(relative)).path());
        QFile big(m_dir->filePath(relative));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (int i = 0; i < 64; ++i) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            big.write(block);
        }
    }

    QString makeDir(const QString &name)
    {
        const QString path = m_dir->filePath(name);
        QDir().mkpath(path);
        return path;
    }

    QList<ShelfFile> addUrls(const QList<QUrl> &urls)
    {
        const qsizetype before = m_manager->shelf(m_shelfId)->files.size();
        m_manager->addFiles(urls, m_shelfId);
        [&] { QTRY_COMPARE(m_manager->shelf(m_shelfId)->files.size(), before + urls.size()); }();
        return m_manager->shelf(m_shelfId)->files.mid(before);
    }

    QList<ShelfFile> addFiles(const QStringList &names)
    {
        QList<QUrl> urls;
        for (const QString &name : names) {
            writeFile("files/" + name);
            urls << QUrl::fromLocalFile(m_dir->filePath("files/" + name));
        }
        return addUrls(urls);
    }

    ShelfFavoriteAction pin(ShelfFavoriteToolKind tool, const QUuid &presetId, const QString &name)
    {
        const ShelfFavoriteAction f = FavoriteRules::pinned(tool, presetId, name);
        m_manager->updateShelf(m_shelfId, [&](Shelf &s) { s.favorites.append(f); });
        return f;
    }

    void setSavedFolder(ShelfFavoriteAction &favorite, const QString &folder)
    {
        favorite.destinationMode = ShelfFavoriteDestinationMode::savedFolder;
        favorite.destination = ShelfFavoriteDestination{folder, FileBookmark::create(QUrl::fromLocalFile(folder))};
        m_manager->updateShelf(m_shelfId, [&](Shelf &s) {
            for (ShelfFavoriteAction &f : s.favorites)
                if (f.id == favorite.id)
                    f = favorite;
        });
    }

    ShelfFavoriteAction pinRename(const QString &name, const std::function<void(RenamePreset &)> &edit)
    {
        RenamePreset p;
        p.id = QUuid::createUuid();
        p.name = name;
        edit(p);
        m_presets->saveRename(p);
        return pin(ShelfFavoriteToolKind::rename, p.id, name);
    }

    ShelfFavoriteAction pinFlatten(const QString &name, const QString &operation)
    {
        FlattenPreset p;
        p.id = QUuid::createUuid();
        p.name = name;
        p.operation = operation;
        m_presets->saveFlatten(p);
        return pin(ShelfFavoriteToolKind::flatten, p.id, name);
    }

    ShelfFavoriteAction pinArchive(const QString &name, const std::function<void(ArchivePreset &)> &edit)
    {
        ArchivePreset p;
        p.id = QUuid::createUuid();
        p.name = name;
        edit(p);
        m_presets->saveArchive(p);
        return pin(ShelfFavoriteToolKind::archive, p.id, name);
    }

    ShelfFavoriteAction pinConvert(const QString &name, const QString &imageFormat, const QString &outputMode)
    {
        ConversionPreset p;
        p.id = QUuid::createUuid();
        p.name = name;
        p.imageFormat = imageFormat;
        p.outputMode = outputMode;
        m_presets->saveConversion(p);
        return pin(ShelfFavoriteToolKind::convert, p.id, name);
    }

    static QStringList listArchive(const QString &path)
    {
        QProcess unzip;
        unzip.start(QStringLiteral("/usr/bin/unzip"), {QStringLiteral("-Z1"), path});
        unzip.waitForFinished(30000);
        QStringList names = QString::fromUtf8(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        names.sort();
        return names;
    }

    QTemporaryDir m_root;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<PresetStore> m_presets;
    std::unique_ptr<ShelfManager> m_manager;
    std::shared_ptr<FakeHost> m_host;
    std::unique_ptr<SteppedClock> m_clock;
    std::unique_ptr<ShelfProgressState> m_progress;
    std::unique_ptr<FavoriteRunner> m_runner;
    QUuid m_shelfId;
};

QTEST_MAIN(FavoriteRunnerTest)
#include "tst_favoriterunner.moc"
