// An appcast (the update feed's RSS document) as both of its readers take it: the update
// check (every release with a version and a web page) and the stable-release resolver (the
// first complete item).
//
// Invariants: the two readers agree on whether the XML is well-formed; a release found is
// complete; the update check only offers a version newer than the running one, and no
// release of the feed is newer than the one it offers; version order is antisymmetric.

#include "FuzzSupport.h"

#include "updates/StableReleaseResolver.h"
#include "updates/UpdateChecker.h"
#include "updates/Version.h"

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray feed(reinterpret_cast<const char *>(data), qsizetype(size));

    const StableReleaseResolver::Result stable = StableReleaseResolver::parse(feed);
    FUZZ_CHECK(stable.release.has_value() != stable.error.has_value());
    if (stable.release) {
        FUZZ_CHECK(!stable.release->displayVersion.trimmed().isEmpty());
        FUZZ_CHECK(stable.release->downloadURL.isValid() && !stable.release->downloadURL.isEmpty());
    }

    QList<AppcastRelease> releases;
    const bool wellFormed = UpdateChecker::readReleases(feed, &releases);
    const bool stableMalformed =
        stable.error && stable.error->kind == StableReleaseResolver::Error::Kind::malformedAppcast;
    FUZZ_CHECK(wellFormed != stableMalformed);
    if (!wellFormed)
        return 0;

    for (const QString &current : {QStringLiteral("0.1.0"), QStringLiteral("2.0-beta.2+abc")}) {
        const UpdateCheckResult result = UpdateChecker::resultFor(releases, current);
        FUZZ_CHECK(result.status != UpdateCheckResult::Status::error);
        if (result.status == UpdateCheckResult::Status::found) {
            FUZZ_CHECK(Version::compare(result.version, current) > 0, result.version.toUtf8());
            FUZZ_CHECK(!result.page.isEmpty());
            for (const AppcastRelease &r : std::as_const(releases))
                FUZZ_CHECK(Version::compare(r.version, current) <= 0 || Version::compare(r.version, result.version) <= 0,
                           r.version.toUtf8() + " / " + result.version.toUtf8());
        }
    }
    for (const AppcastRelease &a : std::as_const(releases)) {
        FUZZ_CHECK(!a.version.isEmpty() && !a.page.isEmpty());
        FUZZ_CHECK(Version::compare(a.version, a.version) == 0, a.version.toUtf8());
        for (const AppcastRelease &b : std::as_const(releases))
            FUZZ_CHECK(sign(Version::compare(a.version, b.version)) == -sign(Version::compare(b.version, a.version)),
                       a.version.toUtf8() + " / " + b.version.toUtf8());
        (void)Version::isNightly(a.version);
    }
    return 0;
}
