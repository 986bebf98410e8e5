#pragma once

#include <QString>
#include <QStringView>

// Release versions as the feeds and the build write them: dotted numbers with an optional
// pre-release part ("0.4.1", "v1.2", "1.3.0-nightly.20260412", "2.0-beta.2+abc").
namespace Version {

// Orders two versions: negative when `a` is older than `b`, 0 when they are the same
// release, positive when `a` is newer. A leading "v" and build metadata ("+…") do not count;
// missing numbers count as 0 ("1.2" == "1.2.0"); a pre-release comes before its release
// ("1.3.0-nightly.5" < "1.3.0"); pre-release parts compare piece by piece, numbers as
// numbers and below words ("beta.2" < "beta.10" < "beta.x"). Text that is not a version
// at all sorts before every version.
int compare(QStringView a, QStringView b);

// A nightly build: the version contains "-nightly".
bool isNightly(QStringView version);

// The version of this program (the build's version with its suffix, e.g. "0.1.0" or
// "0.2.0-nightly.20260412").
QString current();

} // namespace Version
