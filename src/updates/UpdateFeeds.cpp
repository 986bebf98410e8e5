#include "updates/UpdateFeeds.h"

namespace {

// The nightly builds' feed.
constexpr char16_t kNightlyFeed[] = u"https://updates.perchbox.app/nightly/appcast.xml";

std::optional<QString> fromEnvironment(const char *name)
{
    const QString value = qEnvironmentVariable(name).trimmed();
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

} // namespace

namespace UpdateFeeds {

std::optional<QString> stableFeedAddress()
{
    if (auto address = fromEnvironment("PERCHBOX_STABLE_FEED_URL"))
        return address;
    const QString configured = QStringLiteral(PERCHBOX_STABLE_FEED_URL).trimmed();
    if (configured.isEmpty())
        return std::nullopt;
    return configured;
}

QString nightlyFeedAddress()
{
    if (auto address = fromEnvironment("PERCHBOX_NIGHTLY_FEED_URL"))
        return *address;
    return QString::fromUtf16(kNightlyFeed);
}

QString addressForChannel(bool nightly)
{
    return nightly ? nightlyFeedAddress() : stableFeedAddress().value_or(QString());
}

QUrl feedUrl(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"https" && scheme != u"http") || url.host().isEmpty())
        return {};
    return url;
}

} // namespace UpdateFeeds
