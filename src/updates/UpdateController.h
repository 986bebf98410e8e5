#pragma once

#include "updates/StableReleaseResolver.h"
#include "updates/UpdateChecker.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class AppSettings;

// The program's one update controller. It picks the feed of the chosen channel (the
// "useNightlyChannel" setting: the built-in nightly feed, else the stable feed of the
// build), checks it at launch when "automaticUpdateChecks" is on and whenever the user
// asks, and posts each outcome as "Perchbox.sparkleUpdateStatus" with userInfo
// {"status": "found", "version": …}, {"status": "upToDate"} or {"status": "error",
// "message": …}. A found update is offered, never fetched: opening it hands its page to the
// browser. A nightly build can go back to stable with switchBackToStable().
//
// When the channel setting changes ("Perchbox.updateChannelChanged"), a check in progress
// is dropped and the last outcome forgotten, since it was about the other feed.
class UpdateController : public QObject
{
    Q_OBJECT
public:
    enum class Trigger { user, automatic };
    Q_ENUM(Trigger)
    enum class CheckState { idle, checking, found, upToDate, error };
    enum class SwitchState { idle, preparing, succeeded, failed };

    explicit UpdateController(AppSettings &settings, QObject *parent = nullptr);
    ~UpdateController() override;

    // Hands a web page to the browser; true when that worked. By default xdg-open.
    void setOpenUrl(std::function<bool(const QUrl &)> open) { m_openUrl = std::move(open); }
    // The running version (Version::current() unless a test sets another).
    void setCurrentVersion(const QString &version) { m_currentVersion = version; }
    const QString &currentVersion() const { return m_currentVersion; }
    // The deadline of each request (15 s by default).
    void setTimeout(int milliseconds);

    // The running build's channel: nightly when its version contains "-nightly".
    bool isNightlyBuild() const;
    // "Nightly Build" or "Stable".
    QString buildChannelName() const;

    // The feed address the updater is given: the nightly feed while the nightly channel is
    // chosen, else nothing (the stable default applies).
    std::optional<QString> feedURLStringForUpdater() const;
    // The address that is checked: the above, or the stable feed; empty when there is none.
    QString feedAddress() const;

    // Starts a check unless one runs.
    void checkForUpdates(Trigger trigger = Trigger::user);
    // The launch check: only when "automaticUpdateChecks" is on.
    void checkAtLaunch();
    CheckState checkState() const { return m_checkState; }
    const UpdateCheckResult &lastResult() const { return m_lastResult; }
    // The status line of the Updates page for the current state.
    QString statusText() const;
    // Opens the found update's page in the browser.
    bool openUpdatePage();

    // "Switch Back to Stable": finds the newest stable release, opens its download, and on
    // success turns the nightly channel off.
    void switchBackToStable();
    SwitchState switchState() const { return m_switchState; }
    const QString &switchMessage() const { return m_switchMessage; }

    static QString statusNotificationKey() { return QStringLiteral("status"); }

signals:
    void checkStateChanged();
    // A check ended; `trigger` says who asked for it.
    void checkFinished(const UpdateCheckResult &result, UpdateController::Trigger trigger);
    void switchStateChanged();

private:
    void onCheckFinished(const UpdateCheckResult &result);
    void onStableResolved(const StableReleaseResolver::Result &result);
    void onChannelChanged();
    void setSwitchState(SwitchState state, const QString &message);

    AppSettings &m_settings;
    UpdateChecker *m_checker = nullptr;
    StableReleaseResolver *m_resolver = nullptr;
    std::function<bool(const QUrl &)> m_openUrl;
    QString m_currentVersion;
    CheckState m_checkState = CheckState::idle;
    Trigger m_trigger = Trigger::user;
    UpdateCheckResult m_lastResult;
    SwitchState m_switchState = SwitchState::idle;
    QString m_switchMessage;
};
