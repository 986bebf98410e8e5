#include "shelf/OpenWith.h"

#include "platform/FilePath.h"

#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>

namespace OpenWith {

namespace {

QStringList xdgList(const char *var, const QString &fallback)
{
    const QString v = qEnvironmentVariable(var);
    QStringList out;
    for (const QString &p : (v.isEmpty() ? fallback : v).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        out << p;
    return out;
}

QStringList defaultDataDirs()
{
    QStringList dirs;
    const QString home = qEnvironmentVariable("XDG_DATA_HOME",
                                              QDir::homePath() + QStringLiteral("/.local/share"));
    dirs << home;
    dirs << xdgList("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    return dirs;
}

QStringList defaultConfigDirs()
{
    QStringList dirs;
    dirs << qEnvironmentVariable("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"));
    dirs << xdgList("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    return dirs;
}

using Groups = QHash<QString, QHash<QString, QString>>;

// A minimal key file reader: [Group] and key=value lines (localised keys are skipped).
Groups readKeyFile(const QString &path)
{
    Groups groups;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return groups;
    QString group;
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (key.contains(QLatin1Char('[')))
            continue;
        if (!groups[group].contains(key))
            groups[group].insert(key, line.mid(eq + 1).trimmed());
    }
    return groups;
}

QStringList ids(const QString &value)
{
    return value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// Finds the .desktop file of an id ("a-b.desktop" may live in "a/b.desktop").
QString findDesktopFile(const QString &id, const QStringList &dataDirs)
{
    for (const QString &dir : dataDirs) {
        const QString apps = dir + QStringLiteral("/applications/");
        if (QFile::exists(apps + id))
            return apps + id;
        QString sub = id;
        for (qsizetype i = 0; i < sub.size(); ++i) {
            if (sub[i] == QLatin1Char('-')) {
                QString candidate = sub;
                candidate[i] = QLatin1Char('/');
                if (QFile::exists(apps + candidate))
                    return apps + candidate;
            }
        }
    }
    return {};
}

} // namespace

QList<Application> applicationsFor(const QString &mimeType, const QStringList &dataDirsIn,
                                   const QStringList &configDirsIn)
{
    const QStringList dataDirs = dataDirsIn.isEmpty() ? defaultDataDirs() : dataDirsIn;
    const QStringList configDirs = configDirsIn.isEmpty() ? defaultConfigDirs() : configDirsIn;

    QStringList types{mimeType};
    const QMimeType mt = QMimeDatabase().mimeTypeForName(mimeType);
    if (mt.isValid())
        for (const QString &parent : mt.allAncestors())
            types << parent;

    // mimeapps.list files, most important first.
    QStringList lists;
    for (const QString &dir : configDirs)
        lists << dir + QStringLiteral("/mimeapps.list");
    for (const QString &dir : dataDirs)
        lists << dir + QStringLiteral("/applications/mimeapps.list");

    QStringList ordered;
    QSet<QString> removed;
    const auto add = [&](const QString &id) {
        if (!removed.contains(id) && !ordered.contains(id))
            ordered << id;
    };
    for (const QString &type : types) {
        for (const QString &list : lists) {
            const Groups g = readKeyFile(list);
            for (const QString &id : ids(g.value(QStringLiteral("Removed Associations")).value(type)))
                removed.insert(id);
            for (const QString &id : ids(g.value(QStringLiteral("Default Applications")).value(type)))
                add(id);
            for (const QString &id : ids(g.value(QStringLiteral("Added Associations")).value(type)))
                add(id);
        }
        for (const QString &dir : dataDirs) {
            const Groups cache = readKeyFile(dir + QStringLiteral("/applications/mimeinfo.cache"));
            for (const QString &id : ids(cache.value(QStringLiteral("MIME Cache")).value(type)))
                add(id);
        }
    }

    QList<Application> apps;
    for (const QString &id : ordered) {
        const QString path = findDesktopFile(id, dataDirs);
        if (path.isEmpty())
            continue;
        const auto entry = readKeyFile(path).value(QStringLiteral("Desktop Entry"));
        if (entry.value(QStringLiteral("Hidden")) == QLatin1String("true")
            || entry.value(QStringLiteral("Exec")).isEmpty()
            || entry.value(QStringLiteral("Name")).isEmpty())
            continue;
        apps.append({id, entry.value(QStringLiteral("Name")), entry.value(QStringLiteral("Icon")),
                     entry.value(QStringLiteral("Exec")), path});
    }
    return apps;
}

QList<Application> applicationsForFile(const QUrl &fileUrl)
{
    const QMimeType mt = QMimeDatabase().mimeTypeForFile(FilePath::displayPath(fileUrl));
    return applicationsFor(mt.name());
}

QStringList splitExec(const QString &exec)
{
    QStringList args;
    QString cur;
    bool inQuotes = false, have = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                cur += exec.at(++i);
            } else if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else {
                cur += c;
            }
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
            have = true;
        } else if (c.isSpace()) {
            if (have || !cur.isEmpty())
                args << cur;
            cur.clear();
            have = false;
        } else {
            cur += c;
        }
    }
    if (have || !cur.isEmpty())
        args << cur;
    return args;
}

Command commandFor(const Application &app, const QList<QUrl> &files)
{
    QStringList out;
    for (const QString &arg : splitExec(app.exec)) {
        if (arg == QLatin1String("%f")) {
            if (!files.isEmpty())
                out << FilePath::displayPath(files.first());
        } else if (arg == QLatin1String("%F")) {
            for (const QUrl &u : files)
                out << FilePath::displayPath(u);
        } else if (arg == QLatin1String("%u")) {
            if (!files.isEmpty())
                out << QString::fromLatin1(files.first().toEncoded());
        } else if (arg == QLatin1String("%U")) {
            for (const QUrl &u : files)
                out << QString::fromLatin1(u.toEncoded());
        } else if (arg == QLatin1String("%i")) {
            if (!app.icon.isEmpty())
                out << QStringLiteral("--icon") << app.icon;
        } else {
            QString a = arg;
            a.replace(QLatin1String("%c"), app.name);
            a.replace(QLatin1String("%k"), app.path);
            a.replace(QLatin1String("%%"), QStringLiteral("\x01"));
            static const QStringList dropped{"%d", "%D", "%n", "%N", "%v", "%m", "%f", "%F", "%u", "%U"};
            for (const QString &code : dropped)
                a.remove(code);
            a.replace(QStringLiteral("\x01"), QStringLiteral("%"));
            out << a;
        }
    }
    Command c;
    if (out.isEmpty())
        return c;
    c.program = out.takeFirst();
    c.arguments = out;
    return c;
}

bool launch(const Application &app, const QList<QUrl> &files)
{
    const Command c = commandFor(app, files);
    if (c.program.isEmpty())
        return false;
    return QProcess::startDetached(c.program, c.arguments);
}

} // namespace OpenWith
