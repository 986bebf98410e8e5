#pragma once

// For suites that run the tools from the shell (`perchbox run`) on files they make: file
// helpers, a preset of each kind in its JSON form, and a check that an archive is whole.
#include "tools/presets/Presets.h"
#include "tools/presets/RenamePreset.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QUuid>

namespace ToolRuns {

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Every regular file below `root`: relative path → content.
inline QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), readFile(path));
    }
    return files;
}

inline QString sevenZipProgram()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("7zz"));
    return found.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("7z")) : found;
}

// A run of one tool: the verb of `perchbox run` and the preset it is given.
struct ToolRun {
    QString verb;
    QJsonObject preset;
};

// `tool`: "rename" (adds the prefix "renamed "), "flatten-copy", "flatten-move", "zip",
// "tar", "7z" (one archive of everything) or "convert" (images to JPEG).
inline ToolRun toolRun(const QString &tool)
{
    const QUuid id = QUuid::createUuid();
    if (tool == QLatin1String("rename")) {
        RenamePreset p;
        p.id = id;
        p.name = QStringLiteral("r");
        p.prefix = QStringLiteral("renamed ");
        return {tool, PresetJson::encode(p)};
    }
    if (tool.startsWith(QLatin1String("flatten"))) {
        FlattenPreset p;
        p.id = id;
        p.name = QStringLiteral("f");
        p.operation = tool.endsWith(QLatin1String("move")) ? QStringLiteral("move") : QStringLiteral("copy");
        return {QStringLiteral("flatten"), PresetJson::encode(p)};
    }
    if (tool == QLatin1String("convert")) {
        ConversionPreset p;
        p.id = id;
        p.name = QStringLiteral("c");
        p.imageFormat = QStringLiteral("public.jpeg");
        return {tool, PresetJson::encode(p)};
    }
    ArchivePreset p;
    p.id = id;
    p.name = QStringLiteral("z");
    p.format = tool == QLatin1String("7z") ? QStringLiteral("7z") : tool == QLatin1String("tar") ? QStringLiteral("tarGz") : QStringLiteral("zip");
    return {QStringLiteral("zip"), PresetJson::encode(p)};
}

// Whether the archive a "zip", "tar" or "7z" run wrote tests whole with its own tool.
inline bool archiveIsWhole(const QString &tool, const QString &path)
{
    QProcess check;
    if (tool == QLatin1String("zip"))
        check.start(QStringLiteral("unzip"), {QStringLiteral("-tq"), path});
    else if (tool == QLatin1String("tar"))
        check.start(QStringLiteral("tar"), {QStringLiteral("-tzf"), path});
    else
        check.start(sevenZipProgram(), {QStringLiteral("t"), path});
    check.setStandardOutputFile(QProcess::nullDevice());
    return check.waitForFinished(120000) && check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0;
}

} // namespace ToolRuns
