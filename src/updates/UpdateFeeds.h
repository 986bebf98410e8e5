#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The addresses of the two update feeds. The stable feed's address comes from the build
// configuration (the CMake cache variable PERCHBOX_STABLE_FEED_URL; a build without it has
// no stable feed); the nightly feed's address is built in. The environment variables
// PERCHBOX_STABLE_FEED_URL and PERCHBOX_NIGHTLY_FEED_URL, when set and not empty, replace
// them (tests point them at a local server).
namespace UpdateFeeds {

// The stable feed's address as configured; nothing when this build has none.
std::optional<QString> stableFeedAddress();
// The nightly feed's address.
QString nightlyFeedAddress();

// The feed of a channel: the nightly feed, or the stable feed (empty when there is none).
QString addressForChannel(bool nightly);

// An address the checker can fetch: an absolute http or https URL with a host. Anything
// else gives an invalid (empty) URL.
QUrl feedUrl(const QString &address);

} // namespace UpdateFeeds
