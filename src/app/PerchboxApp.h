#pragma once

#include "app/AppDelegate.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class AppBusService;
class AppSettings;
class QMenu;
class SettingsWindow;
class ShelfManager;
class TrayHost;
class TrayPanel;
class TutorialWindow;

// The application object: owns the shelf manager, the delegate, the tray item with its panel,
// and the settings and tutorial windows, and runs the start-up sequence:
//   1. the manager loads its files; the settings are read; "hasSeenTutorial" is read;
//   2. start(): the taskbar setting is applied, hot keys are registered, the file-manager
//      entries are installed (when enabled), the tray item (or its fallback window) is shown;
//   3. when the tray item first appears, the open shelves are restored, and once more 0.8 s
//      later; launched() is emitted after the first restore.
class PerchboxApp : public QObject
{
    Q_OBJECT
public:
    struct Options {
        // Makes and presents a shelf window (a ShelfWindow in the program).
        AppDelegate::WindowFactory windowFactory;
        // Tells the window layer that the program is quitting.
        std::function<void()> terminatingHook;
        // Install the file-manager entries when the setting is on (off in tests and benchmarks
        // that must not touch the user's folders).
        bool integrateWithFileManagers = true;
        // Show the tutorial at the first start.
        bool tutorialOnFirstStart = true;
    };

    PerchboxApp(ShelfManager &manager, AppSettings &settings, Options options, QObject *parent = nullptr);
    ~PerchboxApp() override;

    ShelfManager &manager() const { return m_manager; }
    AppSettings &settings() const { return m_settings; }
    AppDelegate &delegate() const { return *m_delegate; }
    TrayHost &trayHost() const { return *m_tray; }
    TrayPanel &panel() const { return *m_panel; }

    // Handles Activate, SendFiles and Quit of the running instance.
    void attachBus(AppBusService *bus);

    void start();
    bool hasLaunched() const { return m_launched; }

    // Opens the settings window (created on first use), on `page` when given.
    SettingsWindow *openSettings(const QString &page = {});
    SettingsWindow *settingsWindow(bool create = true);
    void showTutorial();
    TutorialWindow *tutorialWindow() const;
    // "Check for Updates": the "Updates" page when one has been added, else a short note.
    void checkForUpdates();
    // A hook for the update controller, when it exists.
    void setCheckForUpdatesHandler(std::function<void()> handler) { m_checkForUpdates = std::move(handler); }
    // The panel's "global shortcuts are off" line: the hot-key layer asks the desktop or
    // explains (without a handler the "Shortcuts" settings page opens).
    void setInputMonitoringHandler(std::function<void()> handler) { m_inputMonitoring = std::move(handler); }

    // The stored "hasSeenTutorial" flag.
    bool hasSeenTutorial() const;

public slots:
    // "Quit Perchbox" (Ctrl+Alt+Q): keeps the open shelves, writes pending edits, quits.
    void quit();

signals:
    void launched();
    // The settings window was created (other parts add their pages then).
    void settingsWindowCreated(SettingsWindow *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateTrayIcon();
    void onTrayAppeared();

    ShelfManager &m_manager;
    AppSettings &m_settings;
    Options m_options;
    std::unique_ptr<AppDelegate> m_delegate;
    TrayPanel *m_panel = nullptr; // owned by the tray host
    std::unique_ptr<TrayHost> m_tray;
    std::unique_ptr<QMenu> m_trayMenu;
    QPointer<SettingsWindow> m_settingsWindow;
    QPointer<TutorialWindow> m_tutorial;
    std::function<void()> m_checkForUpdates;
    std::function<void()> m_inputMonitoring;
    bool m_started = false;
    bool m_launched = false;
};
