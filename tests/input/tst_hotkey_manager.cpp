// The hot-key manager against a fake hot-key service: what is registered, in which order,
// which combination wins, and what a press does.
#include "TuckFakes.h"

#include "input/hotkeys/HotkeyManager.h"
#include "platform/NotificationCenter.h"

#include <QtTest>

namespace {

// Registers what it is asked to, except the combos "another program" holds.
class FakeRegistrar : public HotkeyRegistrar
{
public:
    QList<Binding> calls;              // every registration attempt, in order
    QHash<Handle, Binding> registered; // what is held now
    QSet<KeyCombo> heldElsewhere;
    int commits = 0;

    std::optional<Handle> registerHotkey(const Binding &binding) override
    {
        calls.append(binding);
        if (heldElsewhere.contains(binding.combo))
            return std::nullopt;
        const Handle handle = m_next++;
        registered.insert(handle, binding);
        return handle;
    }
    void unregisterHotkey(Handle handle) override { registered.remove(handle); }
    void commit() override { ++commits; }

    std::optional<uint32_t> idOf(const QString &name) const
    {
        for (const Binding &b : registered)
            if (b.name == name)
                return b.id;
        return std::nullopt;
    }
    void press(const QString &name)
    {
        if (const auto id = idOf(name))
            pressed(*id);
    }

private:
    Handle m_next = 100;
};

const KeyCombo ctrlAltD{KeyCombo::KeyD, KeyCombo::Control | KeyCombo::Option};
const KeyCombo altD{KeyCombo::KeyD, KeyCombo::Option};
const KeyCombo f5{96, 0};
const KeyCombo ctrl1{18, KeyCombo::Control};

} // namespace

class TestHotkeyManager : public QObject
{
    Q_OBJECT

    struct Fixture : TuckFixture {
        FakeRegistrar registrar;
        HotkeyManager hotkeys{*shelves, *settings, *tuck};
        int showApp = 0;
        int newShelf = 0;
        Fixture()
        {
            hotkeys.setRegistrar(&registrar);
            hotkeys.onShowApp = [this] { ++showApp; };
            hotkeys.onNewShelf = [this] { ++newShelf; };
            QObject::connect(settings.get(), &AppSettings::hotkeysRegistrationRequested, &hotkeys,
                             &HotkeyManager::registerAll);
        }
        // A shelf without a window, with a chosen id.
        QUuid shelfWithId(const QString &uuid)
        {
            Shelf shelf = Shelf::make(QStringLiteral("S"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
            shelf.id = *parseUuid(uuid);
            shelves->appendShelf(shelf);
            return shelf.id;
        }
    };

private slots:
    void registrationOrderAndConflicts()
    {
        Fixture f;
        const QUuid late = f.shelfWithId(QStringLiteral("BBBBBBBB-0000-4000-8000-000000000000"));
        const QUuid early = f.shelfWithId(QStringLiteral("AAAAAAAA-0000-4000-8000-000000000000"));
        const QUuid third = f.shelfWithId(QStringLiteral("CCCCCCCC-0000-4000-8000-000000000000"));
        f.settings->setCustomShowAllCombo(ctrlAltD);
        f.settings->setCustomNewShelfCombo(ctrlAltD);   // same as show-all: show-all wins
        f.settings->setCustomTuckRightCombo(f5);        // a bare F-key
        f.settings->setShelfCombo(ctrl1, late);
        f.settings->setShelfCombo(ctrl1, early);        // two shelves, one combo: the first UUID wins
        f.settings->setShelfCombo(ctrlAltD, third);     // a shelf against a global action
        f.registrar.calls.clear();
        f.hotkeys.registerAll();

        QStringList names;
        QList<uint32_t> ids;
        for (const auto &call : f.registrar.calls) {
            names << call.name;
            ids << call.id;
        }
        QCOMPARE(names, (QStringList{"show-all", "tuck-right", "shelf-AAAAAAAA-0000-4000-8000-000000000000"}));
        QCOMPARE(ids, (QList<uint32_t>{1000, 1001, 1002}));
        QCOMPARE(f.hotkeys.customRefs().size(), 3);
        QCOMPARE(f.registrar.commits > 0, true);
        QCOMPARE(f.hotkeys.comboOf(1001), std::optional(f5));

        // Pressing the shelf's combo summons the shelf that won.
        QSignalSpy opened(&NotificationCenter::instance(), &NotificationCenter::posted);
        f.registrar.press(QStringLiteral("shelf-AAAAAAAA-0000-4000-8000-000000000000"));
        QTRY_VERIFY(!opened.isEmpty());
        QCOMPARE(opened.first().at(0).toString(), Notifications::openSpecificShelf);
        const QVariantMap info = opened.first().at(1).toMap();
        QCOMPARE(info.value(Notifications::idKey).toString(), uuidString(early));
        QCOMPARE(info.value(Notifications::fromHotkeyKey).toBool(), true);
    }

    void failedRegistrationKeepsItsId()
    {
        Fixture f;
        const QUuid shelf = f.shelfWithId(QStringLiteral("AAAAAAAA-0000-4000-8000-000000000000"));
        f.registrar.heldElsewhere.insert(ctrlAltD);
        f.settings->setCustomShowAllCombo(ctrlAltD);
        f.settings->setCustomNewShelfCombo(altD);
        f.settings->setShelfCombo(ctrlAltD, shelf); // also held elsewhere: refused too
        f.hotkeys.registerAll();
        // The refused show-all did not use up 1000.
        QCOMPARE(f.registrar.idOf(QStringLiteral("new-shelf")), std::optional<uint32_t>(1000));
        QCOMPARE(f.hotkeys.customRefs().keys(), (QList<uint32_t>{1000}));
        QCOMPARE(f.hotkeys.refusedCombos(), (QList<KeyCombo>{ctrlAltD, ctrlAltD}));
        f.registrar.press(QStringLiteral("new-shelf"));
        QTRY_COMPARE(f.newShelf, 1);
        QCOMPARE(f.showApp, 0);
    }

    void reregistrationReleasesDeletedShelvesAndSuspends()
    {
        Fixture f;
        const QUuid shelf = f.shelfWithId(QStringLiteral("AAAAAAAA-0000-4000-8000-000000000000"));
        f.settings->setShelfCombo(f5, shelf);
        f.settings->setCustomShowAllCombo(ctrlAltD);
        QCOMPARE(f.registrar.registered.size(), 2);

        // A key of the combos map that is not a UUID, and a shelf that is gone, are skipped.
        QMap<QString, KeyCombo> combos = f.settings->customShelfCombos();
        combos.insert(QStringLiteral("not-a-uuid"), altD);
        combos.insert(QStringLiteral("DDDDDDDD-0000-4000-8000-000000000000"), ctrl1);
        f.settings->setCustomShelfCombos(combos);
        f.hotkeys.registerAll();
        QCOMPARE(f.registrar.registered.size(), 2);

        // Recording a shortcut releases everything; finishing registers again.
        f.hotkeys.setSuspended(true);
        QVERIFY(f.registrar.registered.isEmpty());
        f.hotkeys.setSuspended(false);
        QCOMPARE(f.registrar.registered.size(), 2);

        // Deleting the shelf releases its hot key.
        f.shelves->deleteShelf(shelf);
        QTRY_VERIFY(!f.shelves->shelf(shelf));
        f.hotkeys.registerAll();
        QCOMPARE(f.registrar.registered.size(), 1);
        QVERIFY(f.registrar.idOf(QStringLiteral("show-all")));
    }

    void dispatchOfFixedAndUnknownIds()
    {
        Fixture f;
        QSignalSpy posted(&NotificationCenter::instance(), &NotificationCenter::posted);
        f.hotkeys.dispatch(HotkeyManager::showAppID);
        f.hotkeys.dispatch(HotkeyManager::newShelfID);
        f.hotkeys.dispatch(HotkeyManager::sendToShelfID);
        f.hotkeys.dispatch(4242); // no action: nothing happens
        QCOMPARE(f.showApp, 1);
        QCOMPARE(f.newShelf, 1);
        QCOMPARE(posted.size(), 1);
        QCOMPARE(posted.first().at(0).toString(), Notifications::sendToShelfHotkey);
    }

    void summonFliesShelfToPointer()
    {
        Fixture f;
        const QUuid id = f.addShelf(QRect(100, 100, 260, 300));
        f.shelves->openShelf(id);
        f.settings->setShelfCombo(f5, id);
        f.env.pointer = QPoint(900, 500);
        f.registrar.press(QStringLiteral("shelf-") + uuidString(id));
        QTRY_VERIFY(f.tuck->isFloatingPinned(id));
        QCOMPARE(f.window(id)->frame(), QRect(900 - 130, 500 - 150, 260, 300));
        QCOMPARE(f.tuck->activeShelfID(), std::optional(id));

        // A hidden shelf is shown for the flight and hidden again when it goes back.
        f.hotkeys.summonShelf(id); // back
        f.shelves->hideShelf(id);
        QVERIFY(f.shelves->isShelfHidden(id));
        f.hotkeys.summonShelf(id);
        QVERIFY(!f.shelves->isShelfHidden(id));
        QVERIFY(f.tuck->isFloatingPinned(id));
        f.hotkeys.summonShelf(id);
        QVERIFY(f.shelves->isShelfHidden(id));
    }

    void summonWaitsForTheWindow()
    {
        Fixture f;
        const QUuid id = f.shelfWithId(QStringLiteral("AAAAAAAA-0000-4000-8000-000000000000"));
        // The window appears three retries after the open request.
        QObject context;
        NotificationCenter::instance().observe(Notifications::openSpecificShelf, &context, [&](const QVariantMap &) {
            QTimer::singleShot(3 * HotkeyManager::summonRetryMs, &context, [&] { f.openWindow(id, QRect(10, 10, 200, 200)); });
        });
        f.hotkeys.summonShelf(id);
        QVERIFY(!f.tuck->isFloatingPinned(id));
        QTRY_VERIFY(f.tuck->isFloatingPinned(id));

        // A shelf deleted while it is awaited: nothing happens, nothing crashes.
        const QUuid gone = f.shelfWithId(QStringLiteral("BBBBBBBB-0000-4000-8000-000000000000"));
        f.hotkeys.summonShelf(gone);
        f.shelves->deleteShelf(gone);
        QTest::qWait(HotkeyManager::summonRetryMs * (HotkeyManager::summonRetries + 2));
        QVERIFY(!f.tuck->hasWindow(gone));
    }

    void tuckHotkeysActOnTheActiveShelf()
    {
        Fixture f;
        const QUuid a = f.addShelf(QRect(100, 100, 260, 300), QStringLiteral("A"));
        const QUuid b = f.addShelf(QRect(600, 100, 260, 300), QStringLiteral("B"));
        f.settings->setCustomTuckLeftCombo(altD);
        f.tuck->pointerEntered(a);
        f.registrar.press(QStringLiteral("tuck-left"));
        QTRY_COMPARE(f.tuck->tuckedEdge(a), std::optional(TuckEdge::left));
        QCOMPARE(f.tuck->tuckedEdge(b), std::nullopt);
        QVERIFY(f.hotkeys.tuckActiveShelf(TuckEdge::left)); // again: untucked
        QCOMPARE(f.tuck->tuckedEdge(a), std::nullopt);

        f.tuck->unregisterWindow(a);
        f.tuck->unregisterWindow(b);
        QVERIFY(!f.hotkeys.tuckActiveShelf(TuckEdge::right));
    }
};

QTEST_GUILESS_MAIN(TestHotkeyManager)
#include "tst_hotkey_manager.moc"
