// Trash, "Send to Perchbox" entries and the bus hand-over helpers, against temporary XDG folders.
#include "platform/AppBus.h"
#include "platform/AtomicFile.h"
#include "platform/FilePath.h"
#include "platform/SendToIntegration.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

// QTemporaryDir cannot remove names that are not valid UTF-8; this works on bytes.
static int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

static QByteArray readRaw(const QByteArray &path)
{
    QByteArray out;
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        out.append(buffer, n);
    ::close(fd);
    return out;
}

class TestDesktopServices : public QObject
{
    Q_OBJECT
    QTemporaryDir *m_home = nullptr;
    QString data() const { return m_home->path() + QStringLiteral("/data"); }
    QString config() const { return m_home->path() + QStringLiteral("/config"); }

    static QByteArray read(const QString &path)
    {
        QByteArray bytes;
        readWholeFile(path, &bytes);
        return bytes;
    }

private slots:
    void init()
    {
        m_home = new QTemporaryDir;
        QVERIFY(m_home->isValid());
        // A data home that does not exist yet: the trash must create it (and not fall back to
        // the working directory).
        qputenv("XDG_DATA_HOME", QFile::encodeName(data()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config()));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_home->path() + QStringLiteral("/etc")));
    }
    void cleanup()
    {
        ::nftw(QFile::encodeName(m_home->path()).constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
        delete m_home;
        m_home = nullptr;
    }

    void trashCreatesFoldersAndKeepsOddNames()
    {
        const QByteArray dir = QFile::encodeName(m_home->path()) + "/work";
        QVERIFY(::mkdir(dir.constData(), 0700) == 0);
        // A name that is not valid UTF-8, twice (same name) to force a second trash entry.
        const QByteArray odd = dir + "/caf\xe9.txt";
        for (int round = 0; round < 2; ++round) {
            const int fd = ::open(odd.constData(), O_CREAT | O_WRONLY, 0600);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "x", 1), ssize_t(1));
            ::close(fd);
            const Trash::Result result = Trash::moveToTrash(FilePath::urlFromBytes(odd));
            QVERIFY2(result.ok, qPrintable(result.error));
            QVERIFY(!FilePath::exists(FilePath::urlFromBytes(odd)));
            QVERIFY(FilePath::exists(result.trashedUrl));
        }
        const QByteArray trash = QFile::encodeName(data()) + "/Trash";
        QVERIFY(FilePath::exists(FilePath::urlFromBytes(trash + "/files/caf\xe9.txt")));
        QVERIFY(FilePath::exists(FilePath::urlFromBytes(trash + "/files/caf\xe9 2.txt")));
        const QByteArray info = readRaw(trash + "/info/caf\xe9.txt.trashinfo");
        QVERIFY(info.startsWith("[Trash Info]\nPath="));
        QVERIFY(info.contains("caf%E9.txt"));
        QVERIFY(info.contains("DeletionDate="));
        // Nothing landed in the working directory.
        QVERIFY(!QFileInfo::exists(QDir::currentPath() + QStringLiteral("/files")));
    }

    void trashReportsEachFailureAndGoesOn()
    {
        const QString present = m_home->path() + QStringLiteral("/present");
        QVERIFY(writeFileAtomically(present, "x"));
        const QList<Trash::Result> results = Trash::moveToTrash(
            {FilePath::urlFromPath(m_home->path() + QStringLiteral("/missing")), FilePath::urlFromPath(present),
             QUrl(QStringLiteral("https://example.org/x"))});
        QCOMPARE(results.size(), 3);
        QVERIFY(!results[0].ok && !results[0].error.isEmpty());
        QVERIFY(results[1].ok);
        QVERIFY(!results[2].ok);
        QVERIFY(!QFileInfo::exists(present));
    }

    void installWritesEveryEntryAndUninstallRemovesOnlyOurs()
    {
        const QString exe = QStringLiteral("/opt/my apps/perchbox");
        QStringList errors;
        QVERIFY2(SendToIntegration::install(exe, &errors), qPrintable(errors.join('\n')));
        const QString script = data() + QStringLiteral("/nautilus/scripts/Send to Perchbox");
        QVERIFY(QFileInfo(script).isExecutable());
        QVERIFY(read(script).contains("exec '/opt/my apps/perchbox' --send \"$@\""));
        const QString kf6 = data() + QStringLiteral("/kio/servicemenus/perchbox-send.desktop");
        QVERIFY(QFileInfo(kf6).isExecutable());
        QVERIFY(read(kf6).contains("Exec=\"/opt/my apps/perchbox\" --send %F"));
        QVERIFY(QFileInfo::exists(data() + QStringLiteral("/kservices5/ServiceMenus/perchbox-send.desktop")));
        QVERIFY(read(data() + QStringLiteral("/nemo/actions/perchbox-send.nemo_action")).contains("Name=Send to Perchbox"));
        QVERIFY(read(data() + QStringLiteral("/applications/perchbox.desktop")).contains("%F"));
        QVERIFY(read(SendToIntegration::thunarActionsPath()).contains("<unique-id>perchbox-send-to-perchbox</unique-id>"));

        // Installing again changes nothing and keeps one Thunar action.
        QVERIFY(SendToIntegration::install(exe));
        QCOMPARE(read(SendToIntegration::thunarActionsPath()).count("perchbox-send-to-perchbox"), 1);

        // A file of ours that the user replaced by their own is left alone.
        QVERIFY(writeFileAtomically(data() + QStringLiteral("/nemo/actions/perchbox-send.nemo_action"), "[Nemo Action]\nName=Mine\n"));
        QVERIFY(SendToIntegration::uninstall());
        for (const QString &path : SendToIntegration::entryPaths())
            if (!path.endsWith(QLatin1String(".nemo_action")) && !path.endsWith(QLatin1String("uca.xml")))
                QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        QCOMPARE(read(data() + QStringLiteral("/nemo/actions/perchbox-send.nemo_action")), QByteArray("[Nemo Action]\nName=Mine\n"));
        QVERIFY(!read(SendToIntegration::thunarActionsPath()).contains("perchbox"));
        // …and install does not overwrite it either, but still writes the rest.
        QVERIFY(!SendToIntegration::install(exe, &errors));
        QVERIFY(QFileInfo::exists(script));
    }

    void thunarMergeKeepsUserActions()
    {
        const QByteArray user =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!-- my actions -->\n"
            "<actions>\n"
            "<action>\n\t<icon>utilities-terminal</icon>\n\t<name>Open Terminal Here</name>\n"
            "\t<unique-id>1-1</unique-id>\n\t<command>exo-open --launch TerminalEmulator &amp;</command>\n"
            "\t<patterns>*</patterns>\n\t<directories/>\n</action>\n"
            "</actions>\n";
        QByteArray merged;
        QVERIFY(SendToIntegration::mergeThunarActions(user, QStringLiteral("/usr/bin/perchbox"), &merged));
        QVERIFY(merged.contains("<name>Open Terminal Here</name>"));
        QVERIFY(merged.contains("<!-- my actions -->"));
        QVERIFY(merged.contains("<command>/usr/bin/perchbox --send %F</command>"));
        // Merging twice replaces ours instead of adding a second copy.
        QByteArray again;
        QVERIFY(SendToIntegration::mergeThunarActions(merged, QStringLiteral("/usr/bin/perchbox2"), &again));
        QCOMPARE(again.count("perchbox-send-to-perchbox"), 1);
        QVERIFY(again.contains("perchbox2 --send"));
        // Removing ours gives back the user's file exactly.
        QByteArray removed;
        QVERIFY(SendToIntegration::mergeThunarActions(again, QString(), &removed));
        QCOMPARE(removed, user);

        // An empty root and a broken file.
        QVERIFY(SendToIntegration::mergeThunarActions("<actions/>", QStringLiteral("/p"), &merged));
        QVERIFY(merged.contains("<unique-id>perchbox-send-to-perchbox</unique-id>"));
        QVERIFY(!SendToIntegration::mergeThunarActions("<actions><action>", QStringLiteral("/p"), &merged));
        QVERIFY(!SendToIntegration::mergeThunarActions("<other/>", QStringLiteral("/p"), &merged));
    }

    void installLeavesAnUnreadableThunarFileAlone()
    {
        QDir().mkpath(config() + QStringLiteral("/Thunar"));
        const QByteArray broken = "<actions><action><name>half";
        QVERIFY(writeFileAtomically(SendToIntegration::thunarActionsPath(), broken));
        QStringList errors;
        QVERIFY(!SendToIntegration::install(QStringLiteral("/usr/bin/perchbox"), &errors));
        QCOMPARE(read(SendToIntegration::thunarActionsPath()), broken);
        QVERIFY(!errors.isEmpty());
    }

    void execQuoting()
    {
        QCOMPARE(SendToIntegration::quoteExecArgument(QStringLiteral("/usr/bin/perchbox")), QStringLiteral("/usr/bin/perchbox"));
        QCOMPARE(SendToIntegration::quoteExecArgument(QStringLiteral("/a b/$x\"y")), QStringLiteral("\"/a b/\\$x\\\"y\""));
        QCOMPARE(SendToIntegration::quoteExecArgument(QStringLiteral("/100%/p")), QStringLiteral("\"/100%%/p\""));
    }

    void sendArgumentsResolveAndSurviveTheBus()
    {
        const QByteArray dir = QFile::encodeName(m_home->path());
        QVERIFY(::mkdir((dir + "/sub").constData(), 0700) == 0);
        const QByteArray odd = dir + "/sub/n\xff.bin";
        ::close(::open(odd.constData(), O_CREAT | O_WRONLY, 0600));
        QList<QByteArray> missing;
        const QList<QUrl> urls = AppBus::resolveArguments(
            {"sub/n\xff.bin", dir + "/sub/../sub", "nothing-here", "", QByteArray("file://") + dir + "/sub"}, dir, &missing);
        QCOMPARE(urls.size(), 3);
        QCOMPARE(FilePath::bytes(urls[0]), odd);
        QCOMPARE(FilePath::bytes(urls[1]), dir + "/sub");
        QCOMPARE(missing, QList<QByteArray>{"nothing-here"});

        // Over the bus the names travel as ASCII strings and come back byte for byte.
        const QStringList wire = AppBus::encodeFiles(urls);
        for (const QString &s : wire)
            for (QChar c : s)
                QVERIFY(c.unicode() < 128);
        QCOMPARE(AppBus::decodeFiles(wire), urls);
        // Plain absolute paths are accepted too; anything else is skipped.
        const QList<QUrl> decoded = AppBus::decodeFiles({QStringLiteral("/tmp/a b"), QStringLiteral("relative"), QStringLiteral("http://x/y")});
        QCOMPARE(decoded.size(), 1);
        QCOMPARE(FilePath::bytes(decoded[0]), QByteArray("/tmp/a b"));
    }
};

QTEST_GUILESS_MAIN(TestDesktopServices)
#include "tst_desktopservices.moc"
