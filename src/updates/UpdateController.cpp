#include "updates/UpdateController.h"

#include "platform/DesktopServices.h"
#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"
#include "updates/UpdateFeeds.h"
#include "updates/Version.h"

namespace {

bool isWebUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http") && !url.host().isEmpty();
}

} // namespace

UpdateController::UpdateController(AppSettings &settings, QObject *parent)
    : QObject(parent),
      m_settings(settings),
      m_checker(new UpdateChecker(this)),
      m_resolver(new StableReleaseResolver(this)),
      m_openUrl([](const QUrl &url) { return DesktopServices::open(url); }),
      m_currentVersion(Version::current())
{
    connect(m_checker, &UpdateChecker::finished, this, &UpdateController::onCheckFinished);
    connect(m_resolver, &StableReleaseResolver::finished, this, &UpdateController::onStableResolved);
    NotificationCenter::instance().observe(Notifications::updateChannelChanged, this,
                                           [this](const QVariantMap &) { onChannelChanged(); });
}

UpdateController::~UpdateController() = default;

void UpdateController::setTimeout(int milliseconds)
{
    m_checker->setTimeout(milliseconds);
    m_resolver->setTimeout(milliseconds);
}

bool UpdateController::isNightlyBuild() const
{
    return Version::isNightly(m_currentVersion);
}

QString UpdateController::buildChannelName() const
{
    return isNightlyBuild() ? QStringLiteral("Nightly Build") : QStringLiteral("Stable");
}

std::optional<QString> UpdateController::feedURLStringForUpdater() const
{
    if (m_settings.useNightlyChannel())
        return UpdateFeeds::nightlyFeedAddress();
    return std::nullopt;
}

QString UpdateController::feedAddress() const
{
    return UpdateFeeds::addressForChannel(m_settings.useNightlyChannel());
}

void UpdateController::checkForUpdates(Trigger trigger)
{
    if (m_checkState == CheckState::checking) {
        // A user's request joins an automatic check that runs, and gets its answer shown.
        if (trigger == Trigger::user)
            m_trigger = Trigger::user;
        return;
    }
    m_trigger = trigger;
    m_checkState = CheckState::checking;
    emit checkStateChanged();
    m_checker->check(feedAddress(), m_currentVersion);
}

void UpdateController::checkAtLaunch()
{
    if (m_settings.automaticUpdateChecks())
        checkForUpdates(Trigger::automatic);
}

void UpdateController::onCheckFinished(const UpdateCheckResult &result)
{
    m_lastResult = result;
    QVariantMap info;
    switch (result.status) {
    case UpdateCheckResult::Status::found:
        m_checkState = CheckState::found;
        info = {{statusNotificationKey(), QStringLiteral("found")}, {QStringLiteral("version"), result.version}};
        break;
    case UpdateCheckResult::Status::upToDate:
        m_checkState = CheckState::upToDate;
        info = {{statusNotificationKey(), QStringLiteral("upToDate")}};
        break;
    case UpdateCheckResult::Status::error:
        m_checkState = CheckState::error;
        info = {{statusNotificationKey(), QStringLiteral("error")}, {QStringLiteral("message"), result.message}};
        break;
    }
    emit checkStateChanged();
    NotificationCenter::instance().post(Notifications::updateStatus, info);
    emit checkFinished(result, m_trigger);
}

QString UpdateController::statusText() const
{
    switch (m_checkState) {
    case CheckState::idle:
        return {};
    case CheckState::checking:
        return QStringLiteral("Checking for updates…");
    case CheckState::found:
        return QStringLiteral("%1 is available").arg(m_lastResult.version);
    case CheckState::upToDate:
        return QStringLiteral("You're up to date.");
    case CheckState::error:
        return QStringLiteral("Could not reach update server.");
    }
    return {};
}

bool UpdateController::openUpdatePage()
{
    if (m_checkState != CheckState::found || !isWebUrl(m_lastResult.page))
        return false;
    return m_openUrl(m_lastResult.page);
}

void UpdateController::onChannelChanged()
{
    // The outcome in hand, or on its way, is about the feed of the other channel.
    const bool hadState = m_checkState != CheckState::idle;
    m_checker->cancel();
    m_checkState = CheckState::idle;
    m_lastResult = {};
    if (hadState)
        emit checkStateChanged();
}

void UpdateController::setSwitchState(SwitchState state, const QString &message)
{
    m_switchState = state;
    m_switchMessage = message;
    emit switchStateChanged();
}

void UpdateController::switchBackToStable()
{
    if (m_switchState == SwitchState::preparing)
        return;
    setSwitchState(SwitchState::preparing, QStringLiteral("Preparing Stable Download…"));
    m_resolver->resolveLatestStable();
}

void UpdateController::onStableResolved(const StableReleaseResolver::Result &result)
{
    if (result.error) {
        setSwitchState(SwitchState::failed, result.error->errorDescription());
        return;
    }
    const StableReleaseInfo &release = *result.release;
    // Only web addresses go to the browser; a feed cannot make us open anything else.
    if (!isWebUrl(release.downloadURL) || !m_openUrl(release.downloadURL)) {
        setSwitchState(SwitchState::failed,
                       StableReleaseResolver::Error{StableReleaseResolver::Error::Kind::couldNotOpenDownload}.errorDescription());
        return;
    }
    m_settings.setUseNightlyChannel(false);
    setSwitchState(SwitchState::succeeded,
                   QStringLiteral("Opened the stable %1 download. Quit this nightly build, then install the stable "
                                  "release you downloaded in its place.").arg(release.displayVersion));
}
