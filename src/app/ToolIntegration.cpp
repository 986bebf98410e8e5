#include "app/ToolIntegration.h"

#include "app/PerchboxApp.h"
#include "app/SettingsWindow.h"
#include "conversion/ConversionPanel.h"
#include "conversion/ConversionSettingsSection.h"
#include "model/ShelfManager.h"
#include "settings/AppSettings.h"
#include "settings/password/PasswordGeneratorPage.h"
#include "shelf/ShelfHooks.h"
#include "shelf/WindowRules.h"
#include "tools/archive/ArchiveSettingsSection.h"
#include "tools/archive/ZipWindow.h"
#include "tools/flatten/FlattenWindow.h"
#include "tools/progress/ShelfProgressState.h"
#include "tools/rename/BatchRenameWindow.h"

#include <QSet>
#include <QWidget>

namespace {

// The entries of a shelf that the tool entries were called for. The shelf window hands
// over resolved URLs; an entry matches by its stored or its resolved location.
QList<QUuid> fileIdsFor(const ShelfManager &manager, const QUuid &shelfId, const QList<QUrl> &files)
{
    QList<QUuid> ids;
    const Shelf *shelf = manager.shelf(shelfId);
    if (!shelf)
        return ids;
    const QSet<QUrl> wanted(files.begin(), files.end());
    for (const ShelfFile &file : shelf->files) {
        if (wanted.contains(file.url) || wanted.contains(file.resolvedURL()))
            ids.append(file.id);
    }
    return ids;
}

} // namespace

ToolIntegration::ToolIntegration(PerchboxApp &app, QObject *parent) : QObject(parent), m_app(app)
{
    installShelfHooks();
    connect(&m_app, &PerchboxApp::settingsWindowCreated, this, &ToolIntegration::addSettingsSections);
    if (SettingsWindow *existing = m_app.settingsWindow(false))
        addSettingsSections(existing);
}

ToolIntegration::~ToolIntegration()
{
    ShelfHooks &hooks = shelfHooks();
    hooks.openZip = {};
    hooks.openBatchRename = {};
    hooks.openFlatten = {};
    hooks.openConvert = {};
    hooks.isToolRunning = {};
    hooks.progressState = {};
}

ShelfProgressState *ToolIntegration::progressFor(const QUuid &shelfId)
{
    ShelfProgressState *&state = m_progress[shelfId];
    if (!state)
        state = new ShelfProgressState(this);
    return state;
}

void ToolIntegration::installShelfHooks()
{
    ShelfHooks &hooks = shelfHooks();
    ShelfManager &manager = m_app.manager();

    // The tool windows (and their alerts) stay with the shelf they were opened from.
    hooks.openZip = [this, &manager](QWidget *window, const QUuid &shelfId, const QList<QUrl> &files) {
        WindowRules::noteOwnerUsed(window);
        openZipWindow(manager, shelfId, files, progressFor(shelfId), window);
    };
    hooks.openBatchRename = [&manager](QWidget *window, const QUuid &shelfId, const QList<QUrl> &files) {
        WindowRules::noteOwnerUsed(window);
        openBatchRename(manager, shelfId, fileIdsFor(manager, shelfId, files));
    };
    hooks.openFlatten = [&manager](QWidget *window, const QUuid &shelfId, const QList<QUrl> &files) {
        WindowRules::noteOwnerUsed(window);
        openFlatten(manager, shelfId, fileIdsFor(manager, shelfId, files));
    };
    hooks.openConvert = [this, &manager](QWidget *window, const QUuid &shelfId, const QList<QUrl> &files) {
        WindowRules::noteOwnerUsed(window);
        openConvertPanel(manager, shelfId, files, progressFor(shelfId));
    };
    hooks.isToolRunning = [this](const QUuid &shelfId) {
        const auto it = m_progress.constFind(shelfId);
        return it != m_progress.constEnd() && (*it)->isRunning();
    };
    hooks.progressState = [this](const QUuid &shelfId) { return progressFor(shelfId); };
}

void ToolIntegration::addSettingsSections(SettingsWindow *window)
{
    if (!window || m_sectionsAddedTo == window)
        return;
    m_sectionsAddedTo = window;
    AppSettings &settings = m_app.settings();
    window->addToolsSection(tr("Archive"), new ArchiveSettingsSection(settings));
    window->addToolsSection(tr("Flatten to Folder"), new FlattenSettingsSection(settings));
    window->addToolsSection(tr("Convert"), new ConversionSettingsSection);
    window->addPage(tr("Password Generator"), QStringLiteral("key"), new PasswordGeneratorPage(settings));
}
