#pragma once

#include <QObject>

class PerchboxApp;
class SettingsWindow;
class UpdateController;
class UpdatePrompt;

// Updates in the program: the one update controller, its check at launch (when
// "Check for updates on launch" is on), "Check for Updates" in the tray with its message,
// and the "Updates" page of the settings window.
class UpdateIntegration : public QObject
{
    Q_OBJECT
public:
    explicit UpdateIntegration(PerchboxApp &app, QObject *parent = nullptr);
    ~UpdateIntegration() override;

    UpdateController &controller() const { return *m_controller; }
    UpdatePrompt &prompt() const { return *m_prompt; }

private:
    void addPage(SettingsWindow *window);

    PerchboxApp &m_app;
    UpdateController *m_controller = nullptr;
    UpdatePrompt *m_prompt = nullptr;
};
