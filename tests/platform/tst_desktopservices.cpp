// Trash, "Send to Perchbox" entries and the bus hand-over helpers, against temporary XDG folders.
#include "platform/AppBus.h"
#include "platform/AtomicFile.h"
#include "platform/Autostart.h"
#include "platform/FilePath.h"
#include "platform/SendToIntegration.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
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
    QString system() const { return m_home->path() + QStringLiteral("/usr/share"); }

    // Runs a desktop tool; "" when it succeeded, else what it said. Skips when it is missing.
    static QString run(const QString &program, const QStringList &arguments, QString *output = nullptr)
    {
        QProcess process;
        // No desktop session: xdg-mime uses its freedesktop lookup, over the test's XDG folders.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
            env.remove(QString::fromLatin1(name));
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        if (!process.waitForFinished(60000))
            return program + QStringLiteral(" did not run");
        if (output)
            *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        return {};
    }

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
        // The system's data folders: empty, unless a test installs Perchbox there.
        qputenv("XDG_DATA_DIRS", QFile::encodeName(system()));
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

    // The entries claim no file or folder type: an older entry that did is rewritten, the
    // desktop's default for folders does not become Perchbox, and every application entry we
    // write passes desktop-file-validate.
    void entriesClaimNoTypesAndValidate()
    {
        for (const char *tool : {"xdg-mime", "desktop-file-validate"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/setup.sh installs it)").arg(QLatin1String(tool))));
        const QString entry = data() + QStringLiteral("/applications/perchbox.desktop");
        const QByteArray older = "[Desktop Entry]\nType=Application\nName=Perchbox\nExec=/usr/bin/perchbox --send %F\n"
                                 "MimeType=application/octet-stream;inode/directory;\nX-Perchbox-Generated=true\n";
        QVERIFY(QDir().mkpath(QFileInfo(entry).absolutePath()));
        QVERIFY(writeFileAtomically(entry, older));
        QString answer;
        QCOMPARE(run(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("inode/directory")}, &answer), QString());
        QCOMPARE(answer, QStringLiteral("perchbox.desktop")); // what the older entry did

        QVERIFY(SendToIntegration::install(QStringLiteral("/opt/my apps/perchbox")));
        QVERIFY(!read(entry).contains("MimeType"));
        for (const QString &type : {QStringLiteral("inode/directory"), QStringLiteral("application/octet-stream"),
                                    QStringLiteral("text/plain")}) {
            QCOMPARE(run(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type}, &answer), QString());
            QVERIFY2(!answer.contains(QLatin1String("perchbox")), qPrintable(type + QStringLiteral(": ") + answer));
        }

        QVERIFY(Autostart::setEnabled(true));
        for (const QString &path : {entry, Autostart::entryPath()})
            QCOMPARE(run(QStringLiteral("desktop-file-validate"), {path}), QString());
        // Dolphin's service menus are KDE's own kind (Type=Service), which that validator does
        // not know: check what Dolphin reads.
        const QByteArray menu = read(data() + QStringLiteral("/kio/servicemenus/perchbox-send.desktop"));
        QVERIFY(menu.startsWith("[Desktop Entry]\nType=Service\n"));
        QVERIFY(menu.contains("Actions=sendToPerchbox;") && menu.contains("[Desktop Action sendToPerchbox]\nName="));
    }

    // With Perchbox installed system-wide, its own launcher, Dolphin menu and Nemo action are
    // used: per-user copies would show each entry twice, and ours are removed. Nautilus and
    // Thunar have per-user folders only.
    void installedSystemEntriesReplacePerUserCopies()
    {
        const QString exe = QStringLiteral("/usr/bin/perchbox");
        QVERIFY(SendToIntegration::install(exe));
        const QStringList perUser{data() + QStringLiteral("/applications/perchbox.desktop"),
                                  data() + QStringLiteral("/kio/servicemenus/perchbox-send.desktop"),
                                  data() + QStringLiteral("/kservices5/ServiceMenus/perchbox-send.desktop"),
                                  data() + QStringLiteral("/nemo/actions/perchbox-send.nemo_action")};
        for (const QString &path : perUser)
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        for (const QString &relative : {SendToIntegration::systemLauncherPath(), SendToIntegration::systemDolphinMenuPath(),
                                        SendToIntegration::systemNemoActionPath()}) {
            const QString path = system() + QLatin1Char('/') + relative;
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
            QVERIFY(writeFileAtomically(path, "[Desktop Entry]\n"));
        }
        QCOMPARE(SendToIntegration::findSystemFile(SendToIntegration::systemNemoActionPath()),
                 system() + QLatin1Char('/') + SendToIntegration::systemNemoActionPath());
        QStringList errors;
        QVERIFY2(SendToIntegration::install(exe, &errors), qPrintable(errors.join('\n')));
        for (const QString &path : perUser)
            QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        QVERIFY(QFileInfo::exists(data() + QStringLiteral("/nautilus/scripts/Send to Perchbox")));
        QVERIFY(read(SendToIntegration::thunarActionsPath()).contains("perchbox-send-to-perchbox"));
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
        // Found by fuzz_thunar_uca_xml: with nothing of ours to take out or put in, an empty
        // root stays byte for byte as the user wrote it.
        const QByteArray emptyRoot = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions />\n<!-- end -->\n";
        QVERIFY(SendToIntegration::mergeThunarActions(emptyRoot, QString(), &removed));
        QCOMPARE(removed, emptyRoot);
        // Found by fuzz_thunar_uca_xml: a byte that is not UTF-8 came back as U+FFFD; such a
        // file is left alone like any other we cannot read.
        QVERIFY(!SendToIntegration::mergeThunarActions("<actions><!-- caf\xe9 --></actions>", QStringLiteral("/p"), &merged));
        QVERIFY(merged.isEmpty());
        QVERIFY(!SendToIntegration::mergeThunarActions("<actions/>\xd3", QString(), &merged)); // cut short
        QVERIFY(SendToIntegration::mergeThunarActions("\xef\xbb\xbf<actions><!-- caf\xc3\xa9 --></actions>", QString(), &merged));
        QCOMPARE(merged, QByteArray("\xef\xbb\xbf<actions><!-- caf\xc3\xa9 --></actions>"));
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
