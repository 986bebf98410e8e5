#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// "Open With": the applications the desktop associates with a file's MIME type, read
// from the freedesktop MIME associations (mimeapps.list files and the mimeinfo.cache of
// every applications folder) and the .desktop entries they name.
namespace OpenWith {

struct Application {
    QString desktopId; // "org.gnome.gedit.desktop"
    QString name;      // "Text Editor"
    QString icon;      // icon name or path
    QString exec;      // the Exec line
    QString path;      // the .desktop file
};

// The applications for `mimeType` (and its parent types), default first, without
// duplicates, without hidden or removed ones. `dataDirs` / `configDirs` default to the
// XDG search paths; tests pass their own.
QList<Application> applicationsFor(const QString &mimeType,
                                   const QStringList &dataDirs = {},
                                   const QStringList &configDirs = {});
QList<Application> applicationsForFile(const QUrl &fileUrl);

// The program and arguments that start `app` on `files` (field codes expanded: %f %F
// %u %U %i %c %k; others dropped). Empty program when the Exec line is unusable.
struct Command {
    QString program;
    QStringList arguments;
};
Command commandFor(const Application &app, const QList<QUrl> &files);

// Starts the application detached; false when it could not be started.
bool launch(const Application &app, const QList<QUrl> &files);

// Splits an Exec value into arguments following the desktop-entry quoting rules.
QStringList splitExec(const QString &exec);

} // namespace OpenWith
