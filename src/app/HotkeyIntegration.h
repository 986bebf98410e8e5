#pragma once

#include "model/Shelf.h"
#include "platform/AppBus.h"

#include <QObject>
#include <QPointer>
#include <QUuid>

#include <memory>

class GlobalHotkeyManager;
class HotkeyManager;
class PerchboxApp;
class QtTuckEnvironment;
class SettingsWindow;
class ShelfTuckManager;
class SleepWatcher;

// Connects global hot keys and edge tucking to the rest of the program: the tuck manager
// with every shelf window (strip, peek, the header's edge buttons and menu entries), the
// hot-key manager with the settings and the shell, the permission state with the tray
// panel, the per-shelf shortcut dialogs, the "Shortcuts" settings page, screen changes and
// resume from sleep, and the shell verbs (toggle, new-shelf, tuck, summon).
class HotkeyIntegration : public QObject
{
    Q_OBJECT
public:
    explicit HotkeyIntegration(PerchboxApp &app, QObject *parent = nullptr);
    ~HotkeyIntegration() override;

    ShelfTuckManager &tuckManager() const { return *m_tuck; }
    HotkeyManager &hotkeys() const { return *m_hotkeys; }
    GlobalHotkeyManager &globalHotkeys() const { return *m_global; }

    // The shell verbs `toggle`, `new-shelf`, `tuck left|right` and `summon SHELF`.
    void registerVerbs(AppBusService &bus);
    // Why a verb's words cannot be done with these shelves (an unknown edge or shelf), or
    // empty; checked before a start that was made for the verb.
    static QString checkVerb(const QStringList &words, const QList<Shelf> &shelves);
    // The shortcut dialog of a shelf; stores what the user chose.
    void editShelfShortcut(QWidget *parent, const QUuid &shelfId);
    // The panel's warning line: bind through the portal, or explain what can be done.
    void requestInputMonitoring();

private:
    void installShelfHooks();
    void fillShortcutsPage(SettingsWindow *window);

    PerchboxApp &m_app;
    std::unique_ptr<QtTuckEnvironment> m_environment;
    std::unique_ptr<ShelfTuckManager> m_tuck;
    std::unique_ptr<HotkeyManager> m_hotkeys;
    std::unique_ptr<GlobalHotkeyManager> m_global;
    std::unique_ptr<SleepWatcher> m_sleep;
    QPointer<SettingsWindow> m_pageFilledIn;
};
