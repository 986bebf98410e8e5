#pragma once

#include <QString>

// The staging folders of conversion jobs: "<app data>/ConversionTemp/<UUID>". Each one is
// claimed by its process with a lock on "<UUID>.lock" beside it for as long as it exists, so
// that a start can clean up what a crashed run left behind without touching the folder of a
// job that is running (in this program or in a `perchbox run convert`).
namespace StagingFolder {

// Creates and claims a new staging folder; "" when it cannot.
QString create();

// Removes a staging folder with everything in it and gives up its claim. Any thread; a
// folder removed already is fine.
void remove(const QString &folder);

// Removes every staging folder that no running process claims (left by a crash or a kill).
// Returns how many were removed.
int removeLeftovers();

} // namespace StagingFolder
