#include "updates/StableReleaseResolver.h"

#include "updates/FeedFetcher.h"
#include "updates/UpdateFeeds.h"

#include <QTimer>

QString StableReleaseResolver::Error::errorDescription() const
{
    switch (kind) {
    case Kind::missingFeedURL:
        return QStringLiteral("The stable update feed is missing from this build.");
    case Kind::invalidFeedURL:
        return QStringLiteral("The stable update feed URL is invalid.");
    case Kind::badResponse:
        return QStringLiteral("The stable update feed returned HTTP %1.").arg(statusCode);
    case Kind::malformedAppcast:
        return QStringLiteral("The stable update feed could not be parsed.");
    case Kind::missingStableDownload:
        return QStringLiteral("No stable download was found in the update feed.");
    case Kind::couldNotOpenDownload:
        return QStringLiteral("The stable download could not be opened.");
    case Kind::other:
        break;
    }
    return message;
}

StableReleaseResolver::StableReleaseResolver(QObject *parent) : QObject(parent), m_fetcher(new FeedFetcher(this))
{
    connect(m_fetcher, &FeedFetcher::finished, this,
            [this](const FeedResponse &response) { emit finished(resultFor(response)); });
}

StableReleaseResolver::~StableReleaseResolver() = default;

void StableReleaseResolver::setTimeout(int milliseconds)
{
    m_fetcher->setTimeout(milliseconds);
}

void StableReleaseResolver::cancel()
{
    m_fetcher->cancel();
}

bool StableReleaseResolver::isRunning() const
{
    return m_fetcher->isRunning();
}

void StableReleaseResolver::finishLater(const Result &result)
{
    QTimer::singleShot(0, this, [this, result] { emit finished(result); });
}

void StableReleaseResolver::resolveLatestStable()
{
    cancel();
    const std::optional<QString> address = UpdateFeeds::stableFeedAddress();
    if (!address) {
        finishLater({std::nullopt, Error{Error::Kind::missingFeedURL}});
        return;
    }
    const QUrl url = UpdateFeeds::feedUrl(*address);
    if (url.isEmpty()) {
        finishLater({std::nullopt, Error{Error::Kind::invalidFeedURL}});
        return;
    }
    m_fetcher->fetch(url);
}

StableReleaseResolver::Result StableReleaseResolver::resultFor(const FeedResponse &response)
{
    if (response.outcome != FeedResponse::Outcome::received)
        return {std::nullopt, Error{Error::Kind::other, 0, response.error}};
    // An HTTP answer must be a success; any other answer is parsed.
    if (response.httpStatus != 0 && (response.httpStatus < 200 || response.httpStatus > 299))
        return {std::nullopt, Error{Error::Kind::badResponse, response.httpStatus}};
    return parse(response.body);
}

StableReleaseResolver::Result StableReleaseResolver::parse(const QByteArray &data)
{
    StableAppcastParserDelegate delegate;
    if (!AppcastXml::parse(data, delegate))
        return {std::nullopt, Error{Error::Kind::malformedAppcast}};
    if (!delegate.firstStableRelease)
        return {std::nullopt, Error{Error::Kind::missingStableDownload}};
    return {delegate.firstStableRelease, std::nullopt};
}

void StableAppcastParserDelegate::elementStarted(const QString &qualifiedName, const QXmlStreamAttributes &attributes)
{
    currentElementText.clear();
    if (qualifiedName == u"item" && !firstStableRelease) {
        isParsingFirstItem = true;
        currentVersion.reset();
        currentDownloadURL.reset();
    } else if (qualifiedName == u"enclosure" && isParsingFirstItem) {
        // The "url" attribute read as a URL: a missing or unreadable one leaves no URL.
        const QUrl url(attributes.value(QStringLiteral("url")).toString(), QUrl::StrictMode);
        if (attributes.hasAttribute(QStringLiteral("url")) && url.isValid() && !url.isEmpty())
            currentDownloadURL = url;
        else
            currentDownloadURL.reset();
    }
}

void StableAppcastParserDelegate::charactersFound(const QString &text, bool cdata)
{
    // CDATA sections come to an event parser's delegate through a callback of their own,
    // which this delegate does not take.
    if (isParsingFirstItem && !cdata)
        currentElementText += text;
}

void StableAppcastParserDelegate::elementEnded(const QString &qualifiedName)
{
    if (!isParsingFirstItem)
        return;
    if (qualifiedName == u"sparkle:shortVersionString" || qualifiedName == u"shortVersionString") {
        const QString version = currentElementText.trimmed();
        if (!version.isEmpty())
            currentVersion = version;
    } else if (qualifiedName == u"item") {
        if (currentVersion && currentDownloadURL)
            firstStableRelease = StableReleaseInfo{*currentVersion, *currentDownloadURL};
        isParsingFirstItem = false;
    }
}
