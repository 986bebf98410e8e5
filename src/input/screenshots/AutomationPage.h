#pragma once

#include <QWidget>

class AppSettings;
class QComboBox;
class QLabel;
class QPushButton;
class ScreenshotWatcher;
class ShelfManager;

// The "Automation" page of the settings window: Screenshot Auto-Capture on or off, the
// shelf screenshots go to, the temporary "Screenshots" shelf, the folder that is watched
// (the desktop's own screenshot folder by default, or one the user picks with "Watch This
// Folder"), and what the watcher is doing right now.
class AutomationPage : public QWidget
{
    Q_OBJECT
public:
    AutomationPage(AppSettings &settings, ShelfManager &manager, ScreenshotWatcher &watcher, QWidget *parent = nullptr);

private:
    void fillShelves();
    void showFolder();
    void chooseFolder();

    AppSettings &m_settings;
    ShelfManager &m_manager;
    ScreenshotWatcher &m_watcher;
    QComboBox *m_shelves = nullptr;
    QLabel *m_folder = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_useDefault = nullptr;
};
