#include "app/HotkeyIntegration.h"

#include "app/PerchboxApp.h"
#include "app/SettingsWindow.h"
#include "app/ShortcutsPage.h"
#include "app/TrayPanel.h"
#include "input/hotkeys/GlobalHotkeyManager.h"
#include "input/hotkeys/HotkeyManager.h"
#include "input/hotkeys/HotkeyRecorder.h"
#include "input/hotkeys/ShortcutDialog.h"
#include "input/tuck/QtTuckEnvironment.h"
#include "input/tuck/ShelfTuckManager.h"
#include "model/ShelfLookup.h"
#include "model/ShelfManager.h"
#include "platform/SleepWatcher.h"
#include "settings/AppSettings.h"
#include "shelf/ShelfHooks.h"
#include "shelf/ShelfTuckWindow.h"
#include "shelf/ShelfWindow.h"

#include <QApplication>
#include <QDBusConnection>
#include <QLayout>
#include <QMessageBox>

HotkeyIntegration::HotkeyIntegration(PerchboxApp &app, QObject *parent) : QObject(parent), m_app(app)
{
    ShelfManager &manager = app.manager();
    AppSettings &settings = app.settings();
    m_environment = std::make_unique<QtTuckEnvironment>();
    m_tuck = std::make_unique<ShelfTuckManager>(manager, settings, *m_environment);
    m_hotkeys = std::make_unique<HotkeyManager>(manager, settings, *m_tuck);
    m_hotkeys->onShowApp = [this] { m_app.delegate().toggleAllShelves(); };
    m_hotkeys->onNewShelf = [this] { m_app.delegate().newShelfFromHotkey(); };
    m_global = std::make_unique<GlobalHotkeyManager>(settings, *m_hotkeys, GlobalHotkeyManager::currentSession(),
                                                     QDBusConnection::sessionBus());

    connect(&settings, &AppSettings::hotkeysRegistrationRequested, m_hotkeys.get(), &HotkeyManager::registerAll);
    // While a shortcut is recorded the program's own hot keys are released.
    HotkeyRecorder::setRecordingObserver([hotkeys = m_hotkeys.get()](bool recording) { hotkeys->setSuspended(recording); });

    connect(m_environment.get(), &QtTuckEnvironment::screensChanged, m_tuck.get(),
            &ShelfTuckManager::handleScreenConfigurationChanged);
    m_sleep = std::make_unique<SleepWatcher>(QDBusConnection::systemBus());
    connect(m_sleep.get(), &SleepWatcher::resumed, m_tuck.get(), &ShelfTuckManager::handleSystemWake);

    installShelfHooks();
    app.panel().setShortcutEditor([this](QWidget *parent, const QUuid &id) { editShelfShortcut(parent, id); });
    app.setInputMonitoringHandler([this] { requestInputMonitoring(); });
    connect(&app, &PerchboxApp::settingsWindowCreated, this, &HotkeyIntegration::fillShortcutsPage);
    if (SettingsWindow *existing = app.settingsWindow(false))
        fillShortcutsPage(existing);
}

HotkeyIntegration::~HotkeyIntegration()
{
    HotkeyRecorder::setRecordingObserver({});
    ShelfHooks &hooks = shelfHooks();
    hooks.registerWindow = {};
    hooks.unregisterWindow = {};
    hooks.tuckLeft = {};
    hooks.tuckRight = {};
    hooks.floatFreely = {};
    hooks.shortcutText = {};
    hooks.editShortcut = {};
    hooks.clearShortcut = {};
    m_app.panel().setShortcutEditor({});
    m_app.setInputMonitoringHandler({});
    // Windows that outlive this (deleted after the event loop) lose their tuck adapters now,
    // while the manager they unregister from is still there.
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<ShelfWindow *>(widget))
            qDeleteAll(window->findChildren<ShelfTuckWindow *>(Qt::FindDirectChildrenOnly));
}

void HotkeyIntegration::installShelfHooks()
{
    ShelfHooks &hooks = shelfHooks();
    AppSettings &settings = m_app.settings();
    hooks.registerWindow = [this](QWidget *window, const QUuid &id) {
        if (auto *shelfWindow = qobject_cast<ShelfWindow *>(window))
            m_tuck->registerWindow(id, new ShelfTuckWindow(*shelfWindow, *m_tuck));
    };
    hooks.unregisterWindow = [this](const QUuid &id) { m_tuck->unregisterWindow(id); };
    hooks.tuckLeft = [this](QWidget *, const QUuid &id) { m_tuck->toggleTuck(TuckEdge::left, id); };
    hooks.tuckRight = [this](QWidget *, const QUuid &id) { m_tuck->toggleTuck(TuckEdge::right, id); };
    hooks.floatFreely = [this](QWidget *, const QUuid &id) { m_tuck->floatFreely(id); };
    hooks.shortcutText = [&settings](const QUuid &id) {
        const QString key = AppSettings::shelfKey(id);
        return settings.customShelfCombos().contains(key) ? settings.customShelfCombos().value(key).displayText()
                                                          : QString();
    };
    hooks.editShortcut = [this](QWidget *window, const QUuid &id) { editShelfShortcut(window, id); };
    hooks.clearShortcut = [&settings](const QUuid &id) { settings.setShelfCombo(std::nullopt, id); };
}

void HotkeyIntegration::editShelfShortcut(QWidget *parent, const QUuid &shelfId)
{
    const Shelf *shelf = m_app.manager().shelf(shelfId);
    if (!shelf)
        return;
    const QString key = AppSettings::shelfKey(shelfId);
    const QMap<QString, KeyCombo> &combos = m_app.settings().customShelfCombos();
    const std::optional<KeyCombo> current = combos.contains(key) ? std::optional(combos.value(key)) : std::nullopt;
    const auto choice = ShortcutDialog::ask(shelf->name, current, parent);
    // The shelf may have gone while the dialog was open.
    if (choice && m_app.manager().shelf(shelfId))
        m_app.settings().setShelfCombo(*choice, shelfId);
}

void HotkeyIntegration::requestInputMonitoring()
{
    if (m_global->requestInputMonitoring())
        return;
    if (m_global->mechanism() == GlobalHotkeyManager::Mechanism::portal)
        return; // the desktop shows its own dialog
    QMessageBox box(QMessageBox::Information, QStringLiteral("Global Shortcuts"),
                    QStringLiteral("Global shortcuts are not available"), QMessageBox::Ok);
    box.setInformativeText(m_global->unavailableReason());
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

void HotkeyIntegration::fillShortcutsPage(SettingsWindow *window)
{
    if (!window || m_pageFilledIn == window)
        return;
    QWidget *page = window->page(QStringLiteral("Shortcuts"));
    if (!page || !page->layout())
        return;
    m_pageFilledIn = window;
    page->layout()->addWidget(
        new ShortcutsPage(m_app.settings(), m_app.manager(), m_hotkeys.get(), m_global.get(), page));
}

QString HotkeyIntegration::checkVerb(const QStringList &words, const QList<Shelf> &shelves)
{
    if (words.size() == 2 && words.first() == QLatin1String("tuck") && words.at(1) != QLatin1String("left")
        && words.at(1) != QLatin1String("right"))
        return QStringLiteral("unknown edge \"%1\"; the edges are: left, right").arg(words.at(1));
    if (words.size() == 2 && words.first() == QLatin1String("summon")) {
        QString error;
        if (!findShelfByNameOrId(shelves, words.at(1), &error))
            return error;
    }
    return {};
}

void HotkeyIntegration::registerVerbs(AppBusService &bus)
{
    bus.setVerbHandler(QStringLiteral("toggle"), [this](const QStringList &) {
        m_app.delegate().toggleAllShelves();
        return VerbResult::accepted();
    });
    bus.setVerbHandler(QStringLiteral("new-shelf"), [this](const QStringList &) {
        m_app.delegate().newShelfFromHotkey();
        return VerbResult::accepted();
    });
    bus.setVerbHandler(QStringLiteral("tuck"), [this](const QStringList &arguments) {
        const QString error = checkVerb(QStringList{QStringLiteral("tuck")} + arguments, {});
        if (!error.isEmpty() || arguments.size() != 1)
            return VerbResult::refused(error.isEmpty() ? QStringLiteral("usage: perchbox tuck left|right") : error);
        const TuckEdge edge = arguments.first() == QLatin1String("left") ? TuckEdge::left : TuckEdge::right;
        if (!m_hotkeys->tuckActiveShelf(edge))
            return VerbResult{1, QStringLiteral("no open shelf to tuck")};
        return VerbResult::accepted();
    });
    bus.setVerbHandler(QStringLiteral("summon"), [this](const QStringList &arguments) {
        if (arguments.size() != 1)
            return VerbResult::refused(QStringLiteral("usage: perchbox summon SHELF"));
        QString error;
        const auto id = findShelfByNameOrId(m_app.manager().shelves(), arguments.first(), &error);
        if (!id)
            return VerbResult::refused(error);
        m_hotkeys->summonShelf(*id);
        return VerbResult::accepted();
    });
}
