#include "app/ScreenshotIntegration.h"

#include "app/PerchboxApp.h"
#include "app/SettingsWindow.h"
#include "input/screenshots/AutomationPage.h"
#include "input/screenshots/ScreenshotWatcher.h"

ScreenshotIntegration::ScreenshotIntegration(PerchboxApp &app, QObject *parent)
    : QObject(parent), m_app(app), m_watcher(new ScreenshotWatcher(app.manager(), app.settings(), this))
{
    m_watcher->startIfEnabled();
    connect(&m_app, &PerchboxApp::settingsWindowCreated, this, &ScreenshotIntegration::addPage);
    if (SettingsWindow *existing = m_app.settingsWindow(false))
        addPage(existing);
}

ScreenshotIntegration::~ScreenshotIntegration() = default;

void ScreenshotIntegration::addPage(SettingsWindow *window)
{
    window->addPage(QStringLiteral("Automation"), QStringLiteral("camera"),
                    new AutomationPage(m_app.settings(), m_app.manager(), *m_watcher));
}
