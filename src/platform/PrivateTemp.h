#pragma once

#include <QByteArray>

// Temporary work that may hold copies of the user's files (archives being built, staged
// inputs) lives in a folder only the user can enter: "<temp>/perchbox-<uid>" (0700, owned by
// the user, not a link; the system's temporary folder, $TMPDIR honoured). Each run gets a
// folder of its own inside it, removed when the run ends.
namespace PrivateTemp {

// A new empty folder (0700) for one run, "<root>/<prefix>-<pid>-XXXXXX"; empty on failure.
// Run folders left by processes that no longer exist are removed first. When the shared
// root cannot be trusted (someone else owns it) the run folder is made directly in the
// temporary folder, still 0700.
QByteArray makeRunFolder(const QByteArray &prefix);

// Removes a run folder and everything in it, then the shared root when nothing else is in
// it (so that no empty folder of ours stays behind).
void removeRunFolder(const QByteArray &folder);

// "<temp>/perchbox-<uid>", made (0700) when missing; empty when it is not ours.
QByteArray root();

} // namespace PrivateTemp
