#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QUuid>

class PerchboxApp;
class SettingsWindow;
class ShelfProgressState;

// Connects the file tools to the rest of the program: the shelf windows' tool entries
// (Zip, Batch Rename, Flatten to Folder, Convert), the progress of the tool running on each
// shelf (the ring of the shelf header, and "close when empty" waiting for it), and the
// tools' sections of the settings window.
class ToolIntegration : public QObject
{
    Q_OBJECT
public:
    explicit ToolIntegration(PerchboxApp &app, QObject *parent = nullptr);
    ~ToolIntegration() override;

    // The progress of the tool running on a shelf; made on first use, lives as long as the
    // program (so a run outlives a closed shelf window).
    ShelfProgressState *progressFor(const QUuid &shelfId);

private:
    void installShelfHooks();
    void addSettingsSections(SettingsWindow *window);

    PerchboxApp &m_app;
    QHash<QUuid, ShelfProgressState *> m_progress;
    QPointer<SettingsWindow> m_sectionsAddedTo;
};
