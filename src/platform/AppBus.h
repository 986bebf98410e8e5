#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// The program's presence on the session bus: one running instance owns the name
// "org.perchbox.Perchbox" and serves the object "/Perchbox" with two methods:
//   Activate()                 a second start: show the shelves
//   Quit()                     quit as "Quit Perchbox" does (open shelves are kept)
//   SendFiles(as) -> i         put files on a shelf ("Send to Perchbox"); each string is a
//                              percent-encoded file URL (lossless for any name) or an absolute
//                              path; returns how many were taken
// A second `perchbox` start hands its request to the owner through AppBusClient and exits.
namespace AppBus {
inline const QString serviceName = QStringLiteral("org.perchbox.Perchbox");
inline const QString objectPath = QStringLiteral("/Perchbox");
inline const QString interfaceName = QStringLiteral("org.perchbox.Perchbox");

// Strings for SendFiles: percent-encoded file URLs.
QStringList encodeFiles(const QList<QUrl> &fileUrls);
// Parses SendFiles strings; entries that are neither file URLs nor absolute paths are skipped.
QList<QUrl> decodeFiles(const QStringList &entries);

// Resolves `perchbox --send` arguments (raw bytes as given on the command line): relative paths
// against `workingDir`, "file:" URLs as they are. Names that do not exist go to `missing`.
QList<QUrl> resolveArguments(const QList<QByteArray> &arguments, const QByteArray &workingDir,
                             QList<QByteArray> *missing = nullptr);
} // namespace AppBus

class AppBusService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.perchbox.Perchbox")
public:
    enum class Claim { primary, alreadyRunning, noBus };

    explicit AppBusService(QObject *parent = nullptr);
    ~AppBusService() override;

    // Exports the object and asks for the name (without queueing). `primary`: this process is
    // the running instance; `alreadyRunning`: another process owns the name; `noBus`: there is
    // no session bus (`error` says why).
    Claim claim(QString *error = nullptr);
    bool isPrimary() const { return m_primary; }

public slots:
    Q_SCRIPTABLE void Activate();
    Q_SCRIPTABLE int SendFiles(const QStringList &files);
    Q_SCRIPTABLE void Quit();

signals:
    void activateRequested();
    void quitRequested();
    void filesReceived(const QList<QUrl> &fileUrls);

private:
    bool m_primary = false;
};

// The calls a second instance makes on the running one. Synchronous with a bounded timeout:
// used before the second instance's event loop runs.
namespace AppBusClient {
bool activate(QString *error = nullptr);
bool quit(QString *error = nullptr);
// Sends in chunks, so thousands of files fit the bus's message limits.
bool sendFiles(const QList<QUrl> &fileUrls, QString *error = nullptr);
} // namespace AppBusClient
