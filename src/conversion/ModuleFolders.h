#pragma once

#include <QString>
#include <QStringList>

// Where the program's own loadable parts live (the media modules, the background-removal
// helper): only $PERCHBOX_MODULE_DIR when it is set (packagers, tests), else the folder of the
// running executable (a build folder), lib/perchbox of the executable's prefix (an install
// tree, wherever it was installed), then the configured prefix.
namespace ModuleFolders {

// Candidate paths of `fileName`, in that order; they need not exist.
QStringList candidates(const QString &fileName);

} // namespace ModuleFolders
