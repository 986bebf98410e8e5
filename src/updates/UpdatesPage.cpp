#include "updates/UpdatesPage.h"

#include "settings/AppSettings.h"
#include "updates/UpdateController.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel *note(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setEnabled(false); // drawn in the muted text colour
    label->setContentsMargins(22, 0, 0, 4);
    return label;
}

QCheckBox *boundBox(const QString &text, bool value, QWidget *parent)
{
    auto *box = new QCheckBox(text, parent);
    box->setChecked(value);
    return box;
}

} // namespace

UpdatesPage::UpdatesPage(AppSettings &settings, UpdateController &updates, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_updates(updates)
{
    auto *v = new QVBoxLayout(this);

    auto *group = new QGroupBox(QStringLiteral("Updates"), this);
    auto *g = new QVBoxLayout(group);
    auto *version = new QLabel(QStringLiteral("Perchbox %1 — %2").arg(updates.currentVersion(), updates.buildChannelName()), group);
    version->setObjectName(QStringLiteral("buildVersion"));
    g->addWidget(version);

    auto *automatic = boundBox(QStringLiteral("Check for updates on launch"), settings.automaticUpdateChecks(), group);
    automatic->setObjectName(QStringLiteral("automaticUpdateChecks"));
    connect(automatic, &QCheckBox::toggled, this, [this](bool on) { m_settings.setAutomaticUpdateChecks(on); });
    connect(&settings, &AppSettings::automaticUpdateChecksChanged, automatic, [automatic](bool on) {
        QSignalBlocker block(automatic);
        automatic->setChecked(on);
    });
    g->addWidget(automatic);

    auto *nightly = boundBox(QStringLiteral("Use the nightly channel"), settings.useNightlyChannel(), group);
    nightly->setObjectName(QStringLiteral("useNightlyChannel"));
    connect(nightly, &QCheckBox::toggled, this, [this](bool on) { m_settings.setUseNightlyChannel(on); });
    connect(&settings, &AppSettings::useNightlyChannelChanged, nightly, [nightly](bool on) {
        QSignalBlocker block(nightly);
        nightly->setChecked(on);
    });
    g->addWidget(nightly);
    g->addWidget(note(QStringLiteral("Receive early access builds. These may be unstable. After switching channels, "
                                     "use Check for Updates to confirm the feed."), group));

    auto *row = new QHBoxLayout;
    m_check = new QPushButton(QStringLiteral("Check for Updates"), group);
    m_check->setObjectName(QStringLiteral("checkForUpdates"));
    connect(m_check, &QPushButton::clicked, this, [this] { m_updates.checkForUpdates(); });
    m_status = new QLabel(group);
    m_status->setObjectName(QStringLiteral("updateStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_openPage = new QPushButton(QStringLiteral("Open Download Page"), group);
    m_openPage->setObjectName(QStringLiteral("openDownloadPage"));
    connect(m_openPage, &QPushButton::clicked, this, [this] { m_updates.openUpdatePage(); });
    row->addWidget(m_check);
    row->addWidget(m_status, 1);
    row->addWidget(m_openPage);
    g->addLayout(row);
    g->addWidget(note(QStringLiteral("Perchbox never downloads or installs anything by itself: a new version opens "
                                     "its download page in your browser."), group));
    v->addWidget(group);

    if (updates.isNightlyBuild()) {
        auto *back = new QGroupBox(QStringLiteral("Nightly Build"), this);
        auto *b = new QVBoxLayout(back);
        b->addWidget(note(QStringLiteral("Need to bail out of this nightly? Download the latest stable release and "
                                         "reinstall it manually. This also flips future update checks back to the "
                                         "stable channel."), back));
        auto *switchRow = new QHBoxLayout;
        m_switch = new QPushButton(QStringLiteral("Switch Back to Stable"), back);
        m_switch->setObjectName(QStringLiteral("switchBackToStable"));
        connect(m_switch, &QPushButton::clicked, this, [this] { m_updates.switchBackToStable(); });
        m_switchStatus = new QLabel(back);
        m_switchStatus->setObjectName(QStringLiteral("switchStatus"));
        m_switchStatus->setWordWrap(true);
        m_switchStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
        switchRow->addWidget(m_switch);
        switchRow->addWidget(m_switchStatus, 1);
        b->addLayout(switchRow);
        v->addWidget(back);
        connect(&updates, &UpdateController::switchStateChanged, this, &UpdatesPage::showSwitchState);
        showSwitchState();
    }
    v->addStretch(1);

    connect(&updates, &UpdateController::checkStateChanged, this, &UpdatesPage::showCheckState);
    showCheckState();
}

void UpdatesPage::showCheckState()
{
    const UpdateController::CheckState state = m_updates.checkState();
    m_check->setEnabled(state != UpdateController::CheckState::checking);
    // Why a check failed goes after the short message.
    const bool failed = state == UpdateController::CheckState::error;
    m_status->setText(failed ? QStringLiteral("%1 (%2)").arg(m_updates.statusText(), m_updates.lastResult().message)
                             : m_updates.statusText());
    m_openPage->setVisible(state == UpdateController::CheckState::found);
}

void UpdatesPage::showSwitchState()
{
    m_switch->setEnabled(m_updates.switchState() != UpdateController::SwitchState::preparing);
    m_switchStatus->setText(m_updates.switchMessage());
}
