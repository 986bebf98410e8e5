#include "platform/Autostart.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/FileModes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Desktop-entry Exec values quote arguments that hold reserved characters; inside double
// quotes, backslash, double quote, backtick and dollar are escaped with a backslash, and
// a literal percent sign is doubled.
QString quotedExec(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : path)
        if (reserved.contains(c))
            needsQuotes = true;
    QString escaped;
    for (QChar c : path) {
        if (needsQuotes && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            escaped += QLatin1Char('\\');
        if (c == u'%')
            escaped += QLatin1Char('%');
        escaped += c;
    }
    return needsQuotes ? QLatin1Char('"') + escaped + QLatin1Char('"') : escaped;
}

} // namespace

namespace Autostart {

QString entryPath()
{
    return AppPaths::configHome() + QStringLiteral("/autostart/perchbox.desktop");
}

QByteArray entryText(const QString &executablePath)
{
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=Perchbox\n");
    text += QStringLiteral("Comment=Floating file shelves\n");
    text += QStringLiteral("Exec=") + quotedExec(executablePath) + QLatin1Char('\n');
    text += QStringLiteral("Icon=" PERCHBOX_APP_ID "\n");
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool isEnabled()
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return true;
}

bool setEnabled(bool enabled, QString *error)
{
    const QString path = entryPath();
    if (!enabled) {
        if (!QFileInfo::exists(path))
            return true;
        QFile file(path);
        if (!file.remove()) {
            if (error)
                *error = QStringLiteral("Could not remove %1: %2").arg(path, file.errorString());
            return false;
        }
        return true;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!FileModes::makePrivatePath(QFile::encodeName(folder))) {
        if (error)
            *error = QStringLiteral("Could not create the folder %1.").arg(folder);
        return false;
    }
    QString executable = QCoreApplication::applicationFilePath();
    if (executable.isEmpty()) {
        if (error)
            *error = QStringLiteral("The path of the running program is unknown.");
        return false;
    }
    QString reason;
    // What the session starts in the user's name is the user's alone to change.
    if (!writeFileAtomically(path, entryText(executable), &reason, FileAccess::ownerOnly)) {
        if (error)
            *error = QStringLiteral("Could not write %1: %2").arg(path, reason);
        return false;
    }
    return true;
}

} // namespace Autostart
