#pragma once

#include <QObject>

class PerchboxApp;
class ScreenshotWatcher;
class SettingsWindow;

// Screenshot auto-capture in the program: the one screenshot watcher (started at launch when
// auto-capture is on, then by the settings) and the "Automation" page of the settings window.
class ScreenshotIntegration : public QObject
{
    Q_OBJECT
public:
    explicit ScreenshotIntegration(PerchboxApp &app, QObject *parent = nullptr);
    ~ScreenshotIntegration() override;

    ScreenshotWatcher &watcher() const { return *m_watcher; }

private:
    void addPage(SettingsWindow *window);

    PerchboxApp &m_app;
    ScreenshotWatcher *m_watcher = nullptr;
};
