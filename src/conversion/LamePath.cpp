#include "conversion/LamePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString defaultLamePath()
{
    if (QCoreApplication::instance()) {
        const QFileInfo beside(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("lame")));
        if (beside.isFile() && beside.isExecutable())
            return beside.filePath();
    }
    const QFileInfo system(QStringLiteral("/usr/bin/lame"));
    if (system.isFile() && system.isExecutable())
        return system.filePath();
    return QStandardPaths::findExecutable(QStringLiteral("lame"));
}
