#include "platform/DesktopServices.h"

#include "platform/FilePath.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace DesktopServices {

bool open(const QUrl &fileUrl)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty() || !fileUrl.isValid())
        return false;
    // The encoded URL keeps names that are not valid UTF-8.
    return QProcess::startDetached(opener, {QString::fromLatin1(fileUrl.toEncoded())});
}

void reveal(const QList<QUrl> &fileUrls)
{
    if (fileUrls.isEmpty())
        return;
    const QUrl folder = FilePath::urlFromBytes(
        FilePath::standardized(FilePath::bytes(fileUrls.first()) + "/.."));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        open(folder);
        return;
    }
    QStringList uris;
    for (const QUrl &url : fileUrls)
        uris.append(QString::fromLatin1(url.toEncoded()));
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    message << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [folder](QDBusPendingCallWatcher *w) {
        if (w->isError())
            open(folder);
        w->deleteLater();
    });
}

} // namespace DesktopServices
