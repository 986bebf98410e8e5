#include "conversion/ModuleFolders.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>

namespace ModuleFolders {

QStringList candidates(const QString &fileName)
{
    const QByteArray env = qgetenv("PERCHBOX_MODULE_DIR");
    if (!env.isEmpty())
        return {QFile::decodeName(env) + QLatin1Char('/') + fileName};
    QStringList out;
    const QString exeDir = AppPaths::executableFolder();
    if (!exeDir.isEmpty()) {
        out << exeDir + QLatin1Char('/') + fileName;
        out << QDir::cleanPath(exeDir + QStringLiteral("/../lib/perchbox/") + fileName);
    }
#ifdef PERCHBOX_MODULE_DIR
    out << QStringLiteral(PERCHBOX_MODULE_DIR "/") + fileName;
#endif
    out.removeDuplicates();
    return out;
}

} // namespace ModuleFolders
