#include "updates/UpdateChecker.h"

#include "updates/FeedFetcher.h"
#include "updates/UpdateFeeds.h"
#include "updates/Version.h"

#include <QTimer>

namespace {

bool isWebUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http") && !url.host().isEmpty();
}

// Collects the items of a feed.
class ReleaseCollector : public AppcastXml::Handler
{
public:
    QList<AppcastRelease> releases;

    void elementStarted(const QString &name, const QXmlStreamAttributes &attributes) override
    {
        m_text.clear();
        if (name == u"item") {
            m_inItem = true;
            m_shortVersion.clear();
            m_buildVersion.clear();
            m_link = QUrl();
            m_enclosure = QUrl();
        } else if (m_inItem && name == u"enclosure") {
            const QUrl url(attributes.value(QStringLiteral("url")).toString(), QUrl::StrictMode);
            if (isWebUrl(url))
                m_enclosure = url;
            if (const QString v = attributes.value(QStringLiteral("sparkle:shortVersionString")).trimmed().toString(); !v.isEmpty())
                m_shortVersion = v;
            if (const QString v = attributes.value(QStringLiteral("sparkle:version")).trimmed().toString(); !v.isEmpty())
                m_buildVersion = v;
        }
    }

    void charactersFound(const QString &text, bool) override
    {
        if (m_inItem)
            m_text += text;
    }

    void elementEnded(const QString &name) override
    {
        if (!m_inItem)
            return;
        const QString text = m_text.trimmed();
        if ((name == u"sparkle:shortVersionString" || name == u"shortVersionString") && !text.isEmpty()) {
            m_shortVersion = text;
        } else if (name == u"sparkle:version" && !text.isEmpty()) {
            m_buildVersion = text;
        } else if (name == u"link") {
            const QUrl url(text, QUrl::StrictMode);
            if (isWebUrl(url))
                m_link = url;
        } else if (name == u"item") {
            m_inItem = false;
            const QString version = m_shortVersion.isEmpty() ? m_buildVersion : m_shortVersion;
            const QUrl page = m_link.isEmpty() ? m_enclosure : m_link;
            if (!version.isEmpty() && !page.isEmpty())
                releases.append({version, page});
        }
        m_text.clear();
    }

private:
    bool m_inItem = false;
    QString m_text;
    QString m_shortVersion;
    QString m_buildVersion;
    QUrl m_link;
    QUrl m_enclosure;
};

UpdateCheckResult failure(const QString &message)
{
    UpdateCheckResult result;
    result.message = message;
    return result;
}

} // namespace

UpdateChecker::UpdateChecker(QObject *parent) : QObject(parent), m_fetcher(new FeedFetcher(this))
{
    connect(m_fetcher, &FeedFetcher::finished, this,
            [this](const FeedResponse &response) { emit finished(resultFor(response, m_currentVersion)); });
}

UpdateChecker::~UpdateChecker() = default;

void UpdateChecker::setTimeout(int milliseconds)
{
    m_fetcher->setTimeout(milliseconds);
}

void UpdateChecker::cancel()
{
    m_fetcher->cancel();
}

bool UpdateChecker::isRunning() const
{
    return m_fetcher->isRunning();
}

void UpdateChecker::check(const QString &address, const QString &currentVersion)
{
    cancel();
    m_currentVersion = currentVersion;
    const QUrl url = UpdateFeeds::feedUrl(address);
    if (url.isEmpty()) {
        const UpdateCheckResult result = failure(address.isEmpty() ? QStringLiteral("The update feed is missing from this build.")
                                                                   : QStringLiteral("The update feed URL is invalid."));
        QTimer::singleShot(0, this, [this, result] { emit finished(result); });
        return;
    }
    m_fetcher->fetch(url);
}

bool UpdateChecker::readReleases(const QByteArray &data, QList<AppcastRelease> *releases)
{
    ReleaseCollector collector;
    if (!AppcastXml::parse(data, collector))
        return false;
    *releases = std::move(collector.releases);
    return true;
}

UpdateCheckResult UpdateChecker::resultFor(const FeedResponse &response, const QString &currentVersion)
{
    if (response.outcome != FeedResponse::Outcome::received)
        return failure(response.error);
    if (response.httpStatus != 0 && (response.httpStatus < 200 || response.httpStatus > 299))
        return failure(QStringLiteral("The update feed returned HTTP %1.").arg(response.httpStatus));
    QList<AppcastRelease> releases;
    if (!readReleases(response.body, &releases))
        return failure(QStringLiteral("The update feed could not be parsed."));
    return resultFor(releases, currentVersion);
}

UpdateCheckResult UpdateChecker::resultFor(const QList<AppcastRelease> &releases, const QString &currentVersion)
{
    const AppcastRelease *best = nullptr;
    for (const AppcastRelease &release : releases)
        if (Version::compare(release.version, currentVersion) > 0
            && (!best || Version::compare(release.version, best->version) > 0))
            best = &release;
    UpdateCheckResult result;
    if (!best) {
        result.status = UpdateCheckResult::Status::upToDate;
        return result;
    }
    result.status = UpdateCheckResult::Status::found;
    result.version = best->version;
    result.page = best->page;
    return result;
}
