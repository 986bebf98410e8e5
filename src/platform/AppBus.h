#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// The program's presence on the session bus: one running instance owns the name
// "org.perchbox.Perchbox" (the application id) and serves the object "/Perchbox" with these methods:
//   Activate()                 a second start: show the shelves
//   Quit()                     quit as "Quit Perchbox" does (open shelves are kept)
//   NewShelf()                 make a new shelf and show it ("New Shelf" of the launcher)
//   SendFiles(as) -> i         put files on a shelf ("Send to Perchbox"); each string is a
//                              percent-encoded file URL (lossless for any name) or an absolute
//                              path; returns how many were taken
//   Command(as) -> (i, s)      a shell verb ("favorite SHELF FAVORITE", …): the words after the
//                              program name; returns the exit status for the shell (0 once the
//                              instance accepted the request, 2 when it cannot be done) and a
//                              one-line reason when it is not 0
// A second `perchbox` start hands its request to the owner through AppBusClient and exits.
// When none runs, an installed Perchbox is started by the session bus itself (D-Bus
// activation through share/dbus-1/services/<name>.service) for a request such as --send.
namespace AppBus {
// The reverse-DNS application id (set in CMakeLists.txt): the bus name, and the name of the
// desktop entry, icon and AppStream data of an installed Perchbox.
inline const QString appId = QStringLiteral(PERCHBOX_APP_ID);
inline const QString serviceName = appId;
inline const QString objectPath = QStringLiteral("/Perchbox");
inline const QString interfaceName = QStringLiteral("org.perchbox.Perchbox");

// Whether a running instance owns the bus name, asked without Qt (before any application
// object exists, so that a start that only hands over never connects to the display).
// False when there is no session bus or it does not answer.
bool instanceRunning();

// Strings for SendFiles: percent-encoded file URLs.
QStringList encodeFiles(const QList<QUrl> &fileUrls);
// Parses SendFiles strings; entries that are neither file URLs nor absolute paths are skipped.
QList<QUrl> decodeFiles(const QStringList &entries);

// Resolves `perchbox --send` arguments (raw bytes as given on the command line): relative paths
// against `workingDir`, "file:" URLs as they are. Names that do not exist go to `missing`.
QList<QUrl> resolveArguments(const QList<QByteArray> &arguments, const QByteArray &workingDir,
                             QList<QByteArray> *missing = nullptr);

// True when no process owns the name and the session bus can start Perchbox for it.
bool canActivate();
} // namespace AppBus

// What a shell verb answers: the exit status for the shell and, when it is not 0, one line
// saying why.
struct VerbResult {
    int status = 0;
    QString message;

    static VerbResult accepted() { return {}; }
    static VerbResult refused(const QString &reason) { return {2, reason}; }
};

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

    // The handler of a shell verb (its first word); the arguments are the words after it.
    // Verbs without a handler are refused with a one-line reason.
    using VerbHandler = std::function<VerbResult(const QStringList &arguments)>;
    void setVerbHandler(const QString &verb, VerbHandler handler);
    // Runs a verb in this process (the way Command does for another one).
    VerbResult runVerb(const QStringList &words) const;

public slots:
    Q_SCRIPTABLE void Activate();
    Q_SCRIPTABLE int SendFiles(const QStringList &files);
    Q_SCRIPTABLE void Quit();
    Q_SCRIPTABLE int Command(const QStringList &words, QString &message);
    Q_SCRIPTABLE void NewShelf();

signals:
    void activateRequested();
    void quitRequested();
    void newShelfRequested();
    void filesReceived(const QList<QUrl> &fileUrls);

private:
    bool m_primary = false;
    QHash<QString, VerbHandler> m_verbs;
};

// The calls a second instance makes on the running one. Synchronous with a bounded timeout:
// used before the second instance's event loop runs.
namespace AppBusClient {
bool activate(QString *error = nullptr);
bool quit(QString *error = nullptr);
bool newShelf(QString *error = nullptr);
// Sends in chunks, so thousands of files fit the bus's message limits.
bool sendFiles(const QList<QUrl> &fileUrls, QString *error = nullptr);
// Hands a shell verb to the running instance. False when it could not be delivered (`error`
// says why); otherwise `result` holds the instance's answer.
bool command(const QStringList &words, VerbResult *result, QString *error = nullptr);
} // namespace AppBusClient
