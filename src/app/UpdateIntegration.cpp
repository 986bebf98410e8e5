#include "app/UpdateIntegration.h"

#include "app/PerchboxApp.h"
#include "app/SettingsWindow.h"
#include "updates/UpdateController.h"
#include "updates/UpdatePrompt.h"
#include "updates/UpdatesPage.h"

#include <QTimer>

namespace {
constexpr int kLaunchCheckDelayMs = 3000;
}

UpdateIntegration::UpdateIntegration(PerchboxApp &app, QObject *parent)
    : QObject(parent),
      m_app(app),
      m_controller(new UpdateController(app.settings(), this)),
      m_prompt(new UpdatePrompt(*m_controller, this))
{
    m_app.setCheckForUpdatesHandler([this] { m_prompt->checkNow(); });
    // The launch check, a few seconds after the shelves are back: it does not compete with
    // them for the first paint, and the network stack is loaded only then.
    const auto checkSoon = [this] { QTimer::singleShot(kLaunchCheckDelayMs, m_controller, &UpdateController::checkAtLaunch); };
    if (m_app.hasLaunched())
        checkSoon();
    else
        connect(&m_app, &PerchboxApp::launched, this, checkSoon, Qt::SingleShotConnection);
    connect(&m_app, &PerchboxApp::settingsWindowCreated, this, &UpdateIntegration::addPage);
    if (SettingsWindow *existing = m_app.settingsWindow(false))
        addPage(existing);
}

UpdateIntegration::~UpdateIntegration()
{
    m_app.setCheckForUpdatesHandler({});
}

void UpdateIntegration::addPage(SettingsWindow *window)
{
    window->addPage(QStringLiteral("Updates"), QStringLiteral("arrow.triangle.2.circlepath"),
                    new UpdatesPage(m_app.settings(), *m_controller, window));
}
