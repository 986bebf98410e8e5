#pragma once

#include "updates/UpdateChecker.h"
#include "updates/UpdateController.h"

#include <QObject>
#include <QPointer>

class QMessageBox;

// The "Check for Updates" message: shown while a check the user asked for runs, then with
// its outcome — "You're up to date.", the error, or the new version with "Open Download
// Page", which hands the page to the browser. A launch check speaks up only when it finds
// an update.
class UpdatePrompt : public QObject
{
    Q_OBJECT
public:
    explicit UpdatePrompt(UpdateController &updates, QObject *parent = nullptr);
    ~UpdatePrompt() override;

    // "Check for Updates" from the tray: show the message and start a check.
    void checkNow();

    // The message while it is on screen (null otherwise).
    QMessageBox *message() const;

private:
    QMessageBox *ensureMessage();
    void present(const UpdateCheckResult &result);

    UpdateController &m_updates;
    QPointer<QMessageBox> m_message;
    bool m_waiting = false; // the message says "Checking…"
};
