#include "platform/AppBus.h"

#include "platform/FilePath.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <sys/stat.h>

namespace {
constexpr int kCallTimeoutMs = 25000;
constexpr qsizetype kChunk = 2000;
} // namespace

namespace AppBus {

QStringList encodeFiles(const QList<QUrl> &fileUrls)
{
    QStringList out;
    out.reserve(fileUrls.size());
    for (const QUrl &url : fileUrls)
        if (url.isLocalFile())
            out.append(QString::fromLatin1(url.toEncoded()));
    return out;
}

QList<QUrl> decodeFiles(const QStringList &entries)
{
    QList<QUrl> urls;
    urls.reserve(entries.size());
    for (const QString &entry : entries) {
        if (entry.startsWith(QLatin1String("file:"))) {
            const QUrl url = QUrl::fromEncoded(entry.toUtf8());
            if (url.isValid() && url.isLocalFile() && !FilePath::bytes(url).isEmpty())
                urls.append(url);
        } else if (entry.startsWith(QLatin1Char('/'))) {
            urls.append(FilePath::urlFromPath(entry));
        }
    }
    return urls;
}

QList<QUrl> resolveArguments(const QList<QByteArray> &arguments, const QByteArray &workingDir,
                             QList<QByteArray> *missing)
{
    QList<QUrl> urls;
    for (const QByteArray &argument : arguments) {
        if (argument.isEmpty())
            continue;
        QByteArray path;
        if (argument.startsWith("file:")) {
            path = FilePath::bytes(QUrl::fromEncoded(argument));
        } else if (argument.startsWith('/')) {
            path = argument;
        } else {
            path = workingDir + '/' + argument;
        }
        if (!path.isEmpty())
            path = FilePath::standardized(path);
        struct stat st;
        if (path.isEmpty() || ::lstat(path.constData(), &st) != 0) {
            if (missing)
                missing->append(argument);
            continue;
        }
        urls.append(FilePath::urlFromBytes(path));
    }
    return urls;
}

bool canActivate()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> owned = bus.interface()->isServiceRegistered(serviceName);
    if (!owned.isValid() || owned.value())
        return false;
    const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(serviceName);
}

} // namespace AppBus

AppBusService::AppBusService(QObject *parent) : QObject(parent) {}

AppBusService::~AppBusService()
{
    if (m_primary) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(AppBus::objectPath);
        bus.unregisterService(AppBus::serviceName);
    }
}

AppBusService::Claim AppBusService::claim(QString *error)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) {
        if (error)
            *error = bus.lastError().message().isEmpty() ? QStringLiteral("no session bus")
                                                         : bus.lastError().message();
        return Claim::noBus;
    }
    if (!bus.objectRegisteredAt(AppBus::objectPath)
        && !bus.registerObject(AppBus::objectPath, this, QDBusConnection::ExportScriptableSlots)) {
        if (error)
            *error = QStringLiteral("could not export %1").arg(AppBus::objectPath);
        return Claim::noBus;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        AppBus::serviceName, QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        if (error)
            *error = reply.error().message();
        bus.unregisterObject(AppBus::objectPath);
        return Claim::noBus;
    }
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_primary = true;
        return Claim::primary;
    }
    bus.unregisterObject(AppBus::objectPath);
    return Claim::alreadyRunning;
}

void AppBusService::Activate()
{
    emit activateRequested();
}

int AppBusService::SendFiles(const QStringList &files)
{
    const QList<QUrl> urls = AppBus::decodeFiles(files);
    if (!urls.isEmpty())
        emit filesReceived(urls);
    return int(urls.size());
}

void AppBusService::Quit()
{
    emit quitRequested();
}

void AppBusService::setVerbHandler(const QString &verb, VerbHandler handler)
{
    if (handler)
        m_verbs.insert(verb, std::move(handler));
    else
        m_verbs.remove(verb);
}

VerbResult AppBusService::runVerb(const QStringList &words) const
{
    if (words.isEmpty())
        return VerbResult::refused(QStringLiteral("no command given"));
    const auto it = m_verbs.constFind(words.first());
    if (it == m_verbs.constEnd())
        return VerbResult::refused(QStringLiteral("the running Perchbox does not know \"%1\"").arg(words.first()));
    return (*it)(words.mid(1));
}

int AppBusService::Command(const QStringList &words, QString &message)
{
    const VerbResult result = runVerb(words);
    message = result.message;
    return result.status;
}

void AppBusService::NewShelf()
{
    emit newShelfRequested();
}

namespace AppBusClient {

static bool call(const QString &method, const QVariantList &arguments, QString *error,
                 QDBusMessage *replyOut = nullptr)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (error)
            *error = QStringLiteral("no session bus");
        return false;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(AppBus::serviceName, AppBus::objectPath,
                                                          AppBus::interfaceName, method);
    message.setArguments(arguments);
    const QDBusMessage reply = bus.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (error)
            *error = reply.errorMessage();
        return false;
    }
    if (replyOut)
        *replyOut = reply;
    return true;
}

bool activate(QString *error)
{
    return call(QStringLiteral("Activate"), {}, error);
}

bool quit(QString *error)
{
    return call(QStringLiteral("Quit"), {}, error);
}

bool newShelf(QString *error)
{
    return call(QStringLiteral("NewShelf"), {}, error);
}

bool sendFiles(const QList<QUrl> &fileUrls, QString *error)
{
    const QStringList all = AppBus::encodeFiles(fileUrls);
    for (qsizetype i = 0; i < all.size(); i += kChunk)
        if (!call(QStringLiteral("SendFiles"), {QVariant(all.mid(i, kChunk))}, error))
            return false;
    return true;
}

bool command(const QStringList &words, VerbResult *result, QString *error)
{
    QDBusMessage reply;
    if (!call(QStringLiteral("Command"), {QVariant(words)}, error, &reply))
        return false;
    const QVariantList out = reply.arguments();
    if (out.size() != 2 || !out.at(0).canConvert<int>()) {
        if (error)
            *error = QStringLiteral("unexpected answer from the running Perchbox");
        return false;
    }
    if (result) {
        result->status = out.at(0).toInt();
        result->message = out.at(1).toString();
    }
    return true;
}

} // namespace AppBusClient
