#pragma once

#include <QWidget>

class AppSettings;
class QLabel;
class QPushButton;
class UpdateController;

// The "Updates" page of the settings window: the running version and its build channel,
// "Check for updates on launch", the nightly channel switch, "Check for Updates" with the
// outcome of the last check, and — in a nightly build — "Switch Back to Stable".
class UpdatesPage : public QWidget
{
    Q_OBJECT
public:
    UpdatesPage(AppSettings &settings, UpdateController &updates, QWidget *parent = nullptr);

private:
    void showCheckState();
    void showSwitchState();

    AppSettings &m_settings;
    UpdateController &m_updates;
    QPushButton *m_check = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_openPage = nullptr;
    QPushButton *m_switch = nullptr;
    QLabel *m_switchStatus = nullptr;
};
