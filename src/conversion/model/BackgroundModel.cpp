#include "conversion/model/BackgroundModel.h"

#include "platform/AppPaths.h"

#include <QFile>
#include <QFileInfo>

namespace BackgroundModel {

QStringList searchFolders()
{
    QStringList folders;
    const QByteArray env = qgetenv("PERCHBOX_MODEL_DIR");
    if (!env.isEmpty())
        folders << QFile::decodeName(env);
    folders << AppPaths::dataHome() + QStringLiteral("/Perchbox/models");
    QByteArray dirs = qgetenv("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = "/usr/local/share:/usr/share";
    for (const QByteArray &d : dirs.split(':'))
        if (!d.isEmpty())
            folders << QFile::decodeName(d) + QStringLiteral("/perchbox/models");
    for (const QString &dir : AppPaths::installedDataDirs())
        folders << dir + QStringLiteral("/models");
    folders << QStringLiteral(PERCHBOX_SOURCE_DIR "/data/models");
    folders.removeDuplicates();
    return folders;
}

QString installedPath()
{
    for (const QString &folder : searchFolders()) {
        const QFileInfo file(folder + QLatin1Char('/') + fileName);
        if (file.isFile() && file.size() > 0)
            return file.absoluteFilePath();
    }
    return {};
}

QString downloadFolder()
{
    const QByteArray env = qgetenv("PERCHBOX_MODEL_DIR");
    if (!env.isEmpty())
        return QFile::decodeName(env);
    return AppPaths::dataHome() + QStringLiteral("/Perchbox/models");
}

Source defaultSource()
{
    Source source;
    // The package's file in the npm registry this build was configured with (npm's own
    // layout); PERCHBOX_MODEL_URL names another copy, which must still pass the checks below.
    const QByteArray env = qgetenv("PERCHBOX_MODEL_URL");
    QString registry = QStringLiteral(PERCHBOX_MODEL_REGISTRY);
    if (!env.isEmpty()) {
        source.url = QUrl::fromUserInput(QString::fromLocal8Bit(env));
    } else if (!registry.isEmpty()) {
        if (!registry.endsWith(QLatin1Char('/')))
            registry += QLatin1Char('/');
        source.url = QUrl(registry + QStringLiteral("@imgly/background-removal-data/-/background-removal-data-1.4.5.tgz"));
    }
    source.sha256 = "ca7789abb39370727c9a098310b53bce41518d200000423c7107f8c01bbce946";
    source.size = 136455985;
    source.modelKey = QStringLiteral("/models/medium");
    source.modelSha256 = "173f9db0bc211e53072cd3563d3f4143e77d7dac10beb2c5c677fd7c5d400cdf";
    return source;
}

QString sourceDescription()
{
    return QStringLiteral("@imgly/background-removal-data 1.4.5 (AGPL-3.0)");
}

} // namespace BackgroundModel
