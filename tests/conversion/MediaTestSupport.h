#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QtTest>

// Test inputs are generated at run time with the ffmpeg and vips command-line tools.
namespace MediaTestSupport {

inline bool haveTool(const QString &name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

inline bool runTool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning().noquote() << program << args.join(' ') << "failed:" << p.readAll();
        return false;
    }
    return true;
}

// ffmpeg -v error -y <args>; the folder of the output (the last argument) is created.
inline bool ffmpeg(const QStringList &args)
{
    if (!args.isEmpty())
        QDir().mkpath(QFileInfo(args.last()).absolutePath());
    return runTool(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + args);
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace MediaTestSupport
