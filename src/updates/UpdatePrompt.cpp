#include "updates/UpdatePrompt.h"

#include <QMessageBox>
#include <QPushButton>

UpdatePrompt::UpdatePrompt(UpdateController &updates, QObject *parent) : QObject(parent), m_updates(updates)
{
    connect(&updates, &UpdateController::checkFinished, this, &UpdatePrompt::present);
    connect(&updates, &UpdateController::checkStateChanged, this, [this] {
        // The channel changed while the user waited: that check was dropped.
        if (m_waiting && m_message && m_updates.checkState() == UpdateController::CheckState::idle) {
            m_waiting = false;
            m_message->setText(QStringLiteral("The update channel changed."));
            m_message->setInformativeText(QStringLiteral("Use Check for Updates to confirm the feed."));
        }
    });
}

UpdatePrompt::~UpdatePrompt()
{
    delete m_message.data();
}

QMessageBox *UpdatePrompt::message() const
{
    return m_message && m_message->isVisible() ? m_message.data() : nullptr;
}

QMessageBox *UpdatePrompt::ensureMessage()
{
    if (!m_message) {
        m_message = new QMessageBox;
        m_message->setObjectName(QStringLiteral("updateMessage"));
        m_message->setWindowModality(Qt::NonModal);
    }
    // Buttons of an earlier outcome go.
    for (QAbstractButton *button : m_message->buttons())
        m_message->removeButton(button);
    return m_message;
}

void UpdatePrompt::checkNow()
{
    QMessageBox *box = ensureMessage();
    box->setWindowTitle(QStringLiteral("Check for Updates"));
    box->setIcon(QMessageBox::Information);
    box->setText(QStringLiteral("Checking for updates…"));
    box->setInformativeText(QString());
    box->addButton(QMessageBox::Cancel);
    m_waiting = true;
    box->show();
    box->raise();
    box->activateWindow();
    m_updates.checkForUpdates(UpdateController::Trigger::user);
}

void UpdatePrompt::present(const UpdateCheckResult &result)
{
    // Someone waits for this answer only when they asked and the message is still up.
    const bool asked = m_waiting && m_message && m_message->isVisible();
    m_waiting = false;
    // A new version is always worth saying; the rest only to someone who asked.
    if (result.status != UpdateCheckResult::Status::found && !asked)
        return;

    QMessageBox *box = ensureMessage();
    const QString channel = m_updates.feedURLStringForUpdater() ? QStringLiteral("nightly") : QStringLiteral("stable");
    switch (result.status) {
    case UpdateCheckResult::Status::found: {
        box->setWindowTitle(QStringLiteral("Update Available"));
        box->setIcon(QMessageBox::Information);
        box->setText(QStringLiteral("Perchbox %1 is available — you have %2.").arg(result.version, m_updates.currentVersion()));
        box->setInformativeText(QStringLiteral("Nothing is downloaded or installed by itself: its download page opens "
                                               "in your browser."));
        QPushButton *open = box->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
        open->setObjectName(QStringLiteral("openDownloadPage"));
        connect(open, &QPushButton::clicked, this, [this] { m_updates.openUpdatePage(); });
        box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
        box->setDefaultButton(open);
        break;
    }
    case UpdateCheckResult::Status::upToDate:
        box->setWindowTitle(QStringLiteral("Check for Updates"));
        box->setIcon(QMessageBox::Information);
        box->setText(QStringLiteral("You're up to date."));
        box->setInformativeText(QStringLiteral("Perchbox %1 is the newest version on the %2 channel.")
                                    .arg(m_updates.currentVersion(), channel));
        box->addButton(QMessageBox::Ok);
        break;
    case UpdateCheckResult::Status::error:
        box->setWindowTitle(QStringLiteral("Check for Updates"));
        box->setIcon(QMessageBox::Warning);
        box->setText(QStringLiteral("Could not reach update server."));
        box->setInformativeText(result.message);
        box->addButton(QMessageBox::Ok);
        break;
    }
    box->show();
    box->raise();
    box->activateWindow();
}
