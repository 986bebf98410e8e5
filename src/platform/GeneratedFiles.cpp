#include "platform/GeneratedFiles.h"

#include "platform/AtomicFile.h"
#include "platform/FileModes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace GeneratedFiles {

bool writeIfChanged(const QString &path, const QByteArray &content, bool executable, QStringList *errors)
{
    QByteArray current;
    bool exists = false;
    if (!readExisting(path, &current, &exists, errors))
        return false;
    if (exists && current != content && !current.contains(marker)) {
        if (errors)
            errors->append(QStringLiteral("%1: a file of that name exists and was left alone").arg(path));
        return false;
    }
    if ((!exists || current != content) && !writeFile(path, content, errors))
        return false;
    // Only the user needs them; nobody else may change what runs in the user's name.
    const QFileDevice::Permissions wanted = QFileDevice::ReadOwner | QFileDevice::WriteOwner
        | (executable ? QFileDevice::ExeOwner : QFileDevice::Permissions());
    if (QFile::permissions(path) != wanted && !QFile::setPermissions(path, wanted)) {
        if (errors)
            errors->append(QStringLiteral("%1: cannot set permissions").arg(path));
        return false;
    }
    return true;
}

bool readExisting(const QString &path, QByteArray *content, bool *exists, QStringList *errors)
{
    *exists = QFileInfo::exists(path);
    if (*exists && !readWholeFile(path, content)) {
        if (errors)
            errors->append(QStringLiteral("%1: cannot be read").arg(path));
        return false;
    }
    return true;
}

bool writeFile(const QString &path, const QByteArray &content, QStringList *errors)
{
    FileModes::makePrivatePath(QFile::encodeName(QFileInfo(path).absolutePath()));
    QString error;
    if (!writeFileAtomically(path, content, &error)) {
        if (errors)
            errors->append(QStringLiteral("%1: %2").arg(path, error));
        return false;
    }
    return true;
}

bool removeIfOurs(const QString &path, QStringList *errors)
{
    QByteArray current;
    if (!QFileInfo::exists(path) || !readWholeFile(path, &current) || !current.contains(marker))
        return true;
    if (!QFile::remove(path)) {
        if (errors)
            errors->append(QStringLiteral("%1: cannot be removed").arg(path));
        return false;
    }
    return true;
}

QString shellQuote(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

} // namespace GeneratedFiles
