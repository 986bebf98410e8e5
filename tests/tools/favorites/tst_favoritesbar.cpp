// Favorites as a user meets them in a shelf window: the ring in the header, pinning from the
// menus, the buttons and their context menu, a click that waits at its folder chooser while
// another click queues, the compact status, the queue popover, and the shell verb.
#include "app/FavoritesIntegration.h"
#include "app/PerchboxApp.h"
#include "app/ToolIntegration.h"
#include "model/ShelfManager.h"
#include "settings/AppSettings.h"
#include "shelf/ShelfHeader.h"
#include "shelf/ShelfHooks.h"
#include "shelf/ShelfWindow.h"
#include "tools/favorites/FavoriteButton.h"
#include "tools/favorites/FavoriteEditing.h"
#include "tools/favorites/FavoriteQueuePopover.h"
#include "tools/favorites/FavoriteRunner.h"
#include "tools/favorites/FavoritesBar.h"
#include "tools/presets/PresetStore.h"
#include "tools/progress/ProgressRingButton.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

static QTemporaryDir *g_home = [] {
    auto *dir = new QTemporaryDir;
    qputenv("XDG_DATA_HOME", (dir->path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (dir->path() + "/config").toUtf8());
    qputenv("HOME", dir->path().toUtf8());
    return dir;
}();

static QStringList texts(const QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        if (!a->isSeparator())
            out << a->text();
    return out;
}

static QAction *action(const QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

class FavoritesBarTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ShelfManager> m_manager;
    std::unique_ptr<PerchboxApp> m_app;
    std::unique_ptr<ToolIntegration> m_tools;
    std::unique_ptr<FavoritesIntegration> m_favorites;
    QUuid m_shelfId;
    ShelfWindow *m_window = nullptr;

    FavoritesBar *bar() const { return m_window->findChild<FavoritesBar *>(); }
    ShelfProgressRingButton *ring() const { return m_window->findChild<ShelfProgressRingButton *>(); }

    QList<QUrl> makeFiles(const QStringList &names)
    {
        QList<QUrl> urls;
        QDir().mkpath(g_home->filePath("files"));
        for (const QString &name : names) {
            QFile f(g_home->filePath("files/" + name));
            f.open(QIODevice::WriteOnly);
            f.write("x");
            urls << QUrl::fromLocalFile(f.fileName());
        }
        return urls;
    }

    QUuid saveRenamePreset(const QString &name, const QString &prefix)
    {
        RenamePreset p;
        p.id = QUuid::createUuid();
        p.name = name;
        p.prefix = prefix;
        PresetStore::shared().saveRename(p);
        return PresetStore::shared().renamePresets().last().id;
    }

    QUuid saveConversionPreset(const QString &name, bool removesBackgrounds)
    {
        ConversionPreset p;
        p.id = QUuid::createUuid();
        p.name = name;
        p.removeImageBackground = removesBackgrounds;
        PresetStore::shared().saveConversion(p);
        return PresetStore::shared().conversionPresets().last().id;
    }

    QUuid saveFlattenPreset(const QString &name)
    {
        FlattenPreset p;
        p.id = QUuid::createUuid();
        p.name = name;
        PresetStore::shared().saveFlatten(p);
        return PresetStore::shared().flattenPresets().last().id;
    }

    const Shelf &shelf() const { return *m_manager->shelf(m_shelfId); }

    QMenu *starMenu()
    {
        QMenu *menu = bar()->starButton()->menu();
        emit menu->aboutToShow();
        return menu;
    }

private slots:
    void init()
    {
        m_manager = std::make_unique<ShelfManager>();
        PerchboxApp::Options options;
        options.windowFactory = &ShelfWindow::createPresented;
        options.integrateWithFileManagers = false;
        options.tutorialOnFirstStart = false;
        m_app = std::make_unique<PerchboxApp>(*m_manager, AppSettings::instance(), options);
        m_tools = std::make_unique<ToolIntegration>(*m_app);
        m_favorites = std::make_unique<FavoritesIntegration>(*m_app, *m_tools);
        const Shelf s = Shelf::make(QStringLiteral("Desk"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        m_shelfId = s.id;
        m_manager->appendShelf(s);
        m_window = new ShelfWindow(*m_manager, m_shelfId);
        m_window->present();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QFileDialog *>(w) || qobject_cast<FavoriteQueuePopover *>(w))
                w->close();
        ShelfWindow::setTerminating(true);
        delete m_window;
        ShelfWindow::setTerminating(false);
        m_favorites.reset();
        m_tools.reset();
        m_app.reset();
        m_manager->deleteShelf(m_shelfId);
        QTest::qWait(80);
        m_manager.reset();
        for (const RenamePreset &p : PresetStore::shared().renamePresets())
            PresetStore::shared().deleteRename(p.id);
        for (const FlattenPreset &p : PresetStore::shared().flattenPresets())
            PresetStore::shared().deleteFlatten(p.id);
        for (const ConversionPreset &p : PresetStore::shared().conversionPresets())
            PresetStore::shared().deleteConversion(p.id);
    }

    void ringIsTheHeadersButton()
    {
        ShelfProgressRingButton *r = ring();
        QVERIFY(r);
        QCOMPARE(r->parentWidget(), static_cast<QWidget *>(m_window->findChild<ShelfHeader *>()));
        QVERIFY(r->isVisibleTo(m_window));
        QCOMPARE(r->toolTip(), QStringLiteral("Customize shelf"));
        QTest::mouseClick(r, Qt::LeftButton);
        QTRY_VERIFY(m_window->findChild<ShelfCustomizer *>());
        QCOMPARE(r->toolTip(), QStringLiteral("Close customizer"));
        QTest::mouseClick(r, Qt::LeftButton);
        QTRY_VERIFY(!m_window->findChild<ShelfCustomizer *>());
        QCOMPARE(r->toolTip(), QStringLiteral("Customize shelf"));
    }

    // A Convert favorite that removes backgrounds loads the network as the pointer reaches it
    // (the network is let go after a while unused); other favorites do not.
    void pointerOnARemovalFavoriteLoadsTheNetwork()
    {
        int warmUps = 0;
        bar()->warmUp = [&warmUps] { ++warmUps; };
        const QUuid cut = saveConversionPreset(QStringLiteral("Cut out"), true);
        const QUuid plain = saveConversionPreset(QStringLiteral("Plain PNG"), false);
        ShelfFavoriteAction cutFavorite, plainFavorite;
        for (auto [favorite, preset, name] : {std::tuple{&cutFavorite, cut, QStringLiteral("Cut out")},
                                              std::tuple{&plainFavorite, plain, QStringLiteral("Plain PNG")}}) {
            favorite->id = QUuid::createUuid();
            favorite->tool = ShelfFavoriteToolKind::convert;
            favorite->presetID = preset;
            favorite->presetName = name;
        }
        m_manager->addFiles(makeFiles({"photo.png"}), m_shelfId);
        m_manager->updateShelf(m_shelfId, [&](Shelf &s) { s.favorites = {plainFavorite, cutFavorite}; });
        QTRY_VERIFY(bar()->button(cutFavorite.id) && bar()->button(plainFavorite.id));
        const int shown = warmUps; // the first such favorite of the run loads it as it appears
        QVERIFY(shown <= 1);

        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(bar()->button(plainFavorite.id), &enter);
        QCOMPARE(warmUps, shown);
        QApplication::sendEvent(bar()->button(cutFavorite.id), &enter);
        QCOMPARE(warmUps, shown + 1);
        QEvent focus(QEvent::FocusIn);
        QApplication::sendEvent(bar()->button(cutFavorite.id), &focus);
        QCOMPARE(warmUps, shown + 2);

    }

    void pinningFromTheMenus()
    {
        m_manager->addFiles(makeFiles({"a.txt"}), m_shelfId);
        QTRY_COMPARE(shelf().files.size(), 1);
        QVERIFY(bar()->isVisibleTo(m_window));
        // Nothing saved yet: each tool says so.
        QMenu *menu = starMenu();
        QCOMPARE(texts(menu), (QStringList{"Pin Zip Favorite", "Pin Rename Favorite", "Pin Convert Favorite",
                                           "Pin Flatten Favorite", "Button Appearance"}));
        QCOMPARE(texts(action(menu, "Pin Zip Favorite")->menu()), QStringList{"No zip presets yet"});
        QVERIFY(!action(menu, "Pin Zip Favorite")->menu()->actions().first()->isEnabled());
        QCOMPARE(texts(action(menu, "Pin Convert Favorite")->menu()), QStringList{"No conversion presets yet"});

        // The header menu's submenu is the same.
        QMenu header;
        shelfHooks().fillFavoritesMenu(&header, m_window, m_shelfId);
        QCOMPARE(texts(&header), texts(menu));

        const QUuid renameId = saveRenamePreset("Prefix", "p_");
        const QUuid flattenId = saveFlattenPreset("Gather");
        menu = starMenu();
        action(action(menu, "Pin Rename Favorite")->menu(), "Prefix")->trigger();
        action(action(menu, "Pin Flatten Favorite")->menu(), "Gather")->trigger();
        QCOMPARE(shelf().favorites.size(), 2);
        const ShelfFavoriteAction rename = shelf().favorites[0];
        QCOMPARE(rename.tool, ShelfFavoriteToolKind::rename);
        QCOMPARE(rename.presetID, renameId);
        QCOMPARE(rename.presetName, QStringLiteral("Prefix"));
        QCOMPARE(rename.scope, ShelfFavoriteScope::selectionOrAll);
        QCOMPARE(rename.destinationMode, ShelfFavoriteDestinationMode::none);
        QCOMPARE(shelf().favorites[1].presetID, flattenId);
        QCOMPARE(shelf().favorites[1].destinationMode, ShelfFavoriteDestinationMode::askEachTime);
        QTRY_VERIFY(m_manager->shelvesWriteCount() > 0); // saved at once

        // One button each, in order, with their names.
        QList<FavoriteButton *> buttons = bar()->buttons();
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(buttons[0]->text(), QStringLiteral("Prefix"));
        QCOMPARE(buttons[1]->text(), QStringLiteral("Gather"));

        // Button appearance.
        const int wide = buttons[0]->sizeHint().width();
        menu = starMenu();
        QMenu *appearance = action(menu, "Button Appearance")->menu();
        QCOMPARE(texts(appearance), (QStringList{"Icon and Name", "Icon Only", "Name Only"}));
        QVERIFY(action(appearance, "Icon and Name")->isChecked());
        action(appearance, "Icon Only")->trigger();
        QCOMPARE(shelf().favoriteButtonDisplayMode, ShelfFavoriteButtonDisplayMode::iconOnly);
        QVERIFY(bar()->buttons()[0]->sizeHint().width() < wide);

        // A preset deleted: the button says so.
        PresetStore::shared().deleteFlatten(flattenId);
        QCOMPARE(bar()->buttons()[1]->text(), QStringLiteral("Gather (Missing Preset)"));
        QVERIFY(bar()->buttons()[1]->presetMissing());
        QVERIFY(bar()->buttons()[1]->toolTip().contains("The saved Flatten preset could not be found."));
    }

    void buttonMenuEditsTheFavorite()
    {
        const QUuid flattenId = saveFlattenPreset("Gather");
        const QUuid renameId = saveRenamePreset("Prefix", "p_");
        const ShelfFavoriteAction flatten =
            FavoriteEditing::pin(*m_manager, m_shelfId, ShelfFavoriteToolKind::flatten, flattenId, "Gather");
        const ShelfFavoriteAction rename =
            FavoriteEditing::pin(*m_manager, m_shelfId, ShelfFavoriteToolKind::rename, renameId, "Prefix");

        FavoriteEditing::ButtonMenuActions answers;
        const QString folder = g_home->filePath("saved");
        QDir().mkpath(folder);
        QStringList asked;
        answers.chooseFolder = [&](QWidget *, const QString &title) -> std::optional<QUrl> {
            asked << title;
            return QUrl::fromLocalFile(folder);
        };
        auto output = FavoriteEditing::ButtonMenuActions::OutputChoice::askEachTime;
        answers.askOutput = [&](QWidget *, const QString &tool) {
            asked << tool + " Favorite Output";
            return output;
        };
        std::optional<QString> label = QStringLiteral("Collect");
        answers.askLabel = [&](QWidget *, const QString &, const QString &presetName) {
            asked << "label for " + presetName;
            return label;
        };
        const auto menuFor = [&](const QUuid &id) {
            auto menu = std::make_unique<QMenu>();
            FavoriteEditing::fillButtonMenu(menu.get(), m_window, *m_manager, m_shelfId, id, answers);
            return menu;
        };
        const auto current = [&](const QUuid &id) {
            for (const ShelfFavoriteAction &f : shelf().favorites)
                if (f.id == id)
                    return f;
            return ShelfFavoriteAction{};
        };

        auto menu = menuFor(flatten.id);
        QCOMPARE(texts(menu.get()), (QStringList{"Gather", "Asks for a folder each time", "Output Folder…",
                                                 "Choose Saved Folder…", "Label…", "Unpin Favorite"}));
        // Rename renames in place: no output choice.
        QCOMPARE(texts(menuFor(rename.id).get()), (QStringList{"Prefix", "Label…", "Unpin Favorite"}));

        // "Saved Folder" without a folder yet asks for one.
        output = FavoriteEditing::ButtonMenuActions::OutputChoice::savedFolder;
        action(menu.get(), "Output Folder…")->trigger();
        QCOMPARE(asked, (QStringList{"Flatten Favorite Output", "Choose Saved Folder"}));
        QCOMPARE(current(flatten.id).destinationMode, ShelfFavoriteDestinationMode::savedFolder);
        QCOMPARE(current(flatten.id).destination->path, folder);
        QVERIFY(!current(flatten.id).destination->bookmarkData.isEmpty());
        // Back to asking, then the saved folder again without a question.
        output = FavoriteEditing::ButtonMenuActions::OutputChoice::askEachTime;
        action(menuFor(flatten.id).get(), "Output Folder…")->trigger();
        QCOMPARE(current(flatten.id).destinationMode, ShelfFavoriteDestinationMode::askEachTime);
        output = FavoriteEditing::ButtonMenuActions::OutputChoice::savedFolder;
        asked.clear();
        action(menuFor(flatten.id).get(), "Output Folder…")->trigger();
        QCOMPARE(asked, QStringList{"Flatten Favorite Output"});
        QCOMPARE(current(flatten.id).destinationMode, ShelfFavoriteDestinationMode::savedFolder);
        QVERIFY(texts(menuFor(flatten.id).get()).contains("Saves to " + folder));

        // The label, and "Reset" back to the preset's name.
        action(menuFor(flatten.id).get(), "Label…")->trigger();
        QCOMPARE(current(flatten.id).customLabel, std::optional<QString>(QStringLiteral("Collect")));
        QCOMPARE(bar()->button(flatten.id)->text(), QStringLiteral("Collect"));
        label = QString();
        action(menuFor(flatten.id).get(), "Label…")->trigger();
        QVERIFY(!current(flatten.id).customLabel);
        QCOMPARE(bar()->button(flatten.id)->text(), QStringLiteral("Gather"));

        action(menuFor(flatten.id).get(), "Unpin Favorite")->trigger();
        QCOMPARE(shelf().favorites.size(), 1);
        QVERIFY(!bar()->button(flatten.id));
    }

    void clicksQueueBehindAFolderChooser()
    {
        m_manager->addFiles(makeFiles({"one.txt", "two.txt"}), m_shelfId);
        QTRY_COMPARE(shelf().files.size(), 2);
        const ShelfFavoriteAction flatten = FavoriteEditing::pin(*m_manager, m_shelfId, ShelfFavoriteToolKind::flatten,
                                                                 saveFlattenPreset("Gather"), "Gather");
        const ShelfFavoriteAction rename = FavoriteEditing::pin(*m_manager, m_shelfId, ShelfFavoriteToolKind::rename,
                                                                saveRenamePreset("Prefix", "p_"), "Prefix");
        QVERIFY(!bar()->statusLine()->isVisibleTo(m_window));

        QTest::mouseClick(bar()->button(flatten.id), Qt::LeftButton);
        QFileDialog *chooser = nullptr;
        QTRY_VERIFY((chooser = m_window->findChild<QFileDialog *>()));
        QCOMPARE(chooser->windowTitle(), QStringLiteral("Choose Flatten output folder"));
        QVERIFY(!chooser->isModal()); // the shelf stays clickable
        QCOMPARE(bar()->button(flatten.id)->feedback(), FavoriteRunFeedback::running);

        QTest::mouseClick(bar()->button(rename.id), Qt::LeftButton);
        QCOMPARE(bar()->statusLine()->text(), QStringLiteral("Running: Gather · 1 more queued"));
        QVERIFY(bar()->statusLine()->isVisibleTo(m_window));
        QVERIFY(bar()->clearQueueButton()->isVisibleTo(m_window));
        QCOMPARE(ring()->toolTip(), QStringLiteral("View favorite activity · 1 queued"));

        // The ring opens the queue.
        QTest::mouseClick(ring(), Qt::LeftButton);
        FavoriteQueuePopover *popover = nullptr;
        QTRY_VERIFY((popover = bar()->queuePopover()));
        QCOMPARE(popover->lines(), (QStringList{"Running Now", "Gather", "Queued: Prefix"}));
        QVERIFY(!popover->cancelCurrentButton()->isEnabled()); // nothing runs yet that could stop
        QTest::mouseClick(popover->clearWaitingButton(), Qt::LeftButton);
        QCOMPARE(popover->lines(), (QStringList{"Running Now", "Gather", "No more favorites are queued."}));
        QCOMPARE(bar()->statusLine()->text(), QStringLiteral("Running: Gather"));
        QVERIFY(!bar()->clearQueueButton()->isVisibleTo(m_window));

        // Cancelling the chooser ends the run quietly.
        chooser->reject();
        QTRY_VERIFY(!bar()->statusLine()->isVisibleTo(m_window));
        QCOMPARE(popover->lines(), QStringList{"No favorites are queued."});
        QCOMPARE(bar()->button(flatten.id)->feedback(), FavoriteRunFeedback::idle);
        QCOMPARE(ring()->toolTip(), QStringLiteral("Customize shelf"));
        QVERIFY(QFile::exists(g_home->filePath("files/one.txt")));
    }

    void closingTheWindowDropsWaitingRuns()
    {
        m_manager->addFiles(makeFiles({"w.txt"}), m_shelfId);
        QTRY_COMPARE(shelf().files.size(), 1);
        const ShelfFavoriteAction flatten = FavoriteEditing::pin(*m_manager, m_shelfId, ShelfFavoriteToolKind::flatten,
                                                                 saveFlattenPreset("Gather"), "Gather");
        QTest::mouseClick(bar()->button(flatten.id), Qt::LeftButton);
        QTest::mouseClick(bar()->button(flatten.id), Qt::LeftButton);
        FavoriteRunner *runner = m_favorites->runnerFor(m_shelfId);
        QCOMPARE(runner->favoriteQueue().size(), 1);
        m_window->close();
        QCOMPARE(runner->favoriteQueue().size(), 0);
        m_window = new ShelfWindow(*m_manager, m_shelfId);
        m_window->present();
    }

    void shellVerb()
    {
        const QUuid renameId = saveRenamePreset("Prefix", "v_");
        const ShelfFavoriteAction rename =
            FavoriteEditing::pin(*m_manager, m_shelfId, ShelfFavoriteToolKind::rename, renameId, "Prefix");
        VerbResult r = m_favorites->favoriteVerb({"Nowhere", "Prefix"});
        QCOMPARE(r.status, 2);
        QCOMPARE(r.message, QStringLiteral("no shelf \"Nowhere\""));
        r = m_favorites->favoriteVerb({"Desk", "Other"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.message.startsWith("shelf \"Desk\": no favorite \"Other\""), qPrintable(r.message));
        r = m_favorites->favoriteVerb({"Desk", "1"});
        QCOMPARE(r.status, 2); // no files yet
        QVERIFY(r.message.contains("has no files"));

        const QList<QUrl> urls = makeFiles({"s1.txt", "s2.txt"});
        m_manager->addFiles(urls, m_shelfId);
        QTRY_COMPARE(shelf().files.size(), 2);
        // The window's selection counts, as for a click.
        m_window->clickFile(shelf().files[1].id, false);
        r = m_favorites->favoriteVerb({uuidString(m_shelfId), "prefix"});
        QCOMPARE(r.status, 0);
        QVERIFY(QFile::exists(g_home->filePath("files/s1.txt")));
        QVERIFY(QFile::exists(g_home->filePath("files/v_s2.txt")));
        QCOMPARE(bar()->button(rename.id)->feedback(), FavoriteRunFeedback::success);

        // Through the bus object, as a second start hands it over.
        AppBusService bus;
        m_favorites->registerVerbs(bus);
        QString message;
        QCOMPARE(bus.Command({"favorite", "Desk", "Prefix"}, message), 0);
        QVERIFY(QFile::exists(g_home->filePath("files/v_v_s2.txt")));
        QCOMPARE(bus.Command({"favorite", "Desk"}, message), 2);
        QCOMPARE(bus.Command({"juggle"}, message), 2);
        QCOMPARE(message, QStringLiteral("the running Perchbox does not know \"juggle\""));
    }
};

QTEST_MAIN(FavoritesBarTest)
#include "tst_favoritesbar.moc"
