#include "tools/archive/ArchiveEngine.h"

#include "platform/ChildLifeline.h"
#include "platform/FilePath.h"
#include "platform/PrivateTemp.h"
#include "tools/archive/ArchiveFileOps.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

// ---------------------------------------------------------------------------------------------
// Cancellation token

namespace {

// The archiver runs in a process group of its own (tar's gzip and writer processes with it),
// so an interrupt reaches all of them.
void interrupt(QProcess *process)
{
    if (!process || process->state() == QProcess::NotRunning || process->processId() <= 0)
        return;
    const auto pid = static_cast<pid_t>(process->processId());
    if (::kill(-pid, SIGINT) != 0)
        ::kill(pid, SIGINT); // not yet its own group leader
}

// True while a process of group `group` is alive (zombies do not count: orphans may wait for
// a parent that never reaps them).
bool groupAlive(pid_t group)
{
    QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        entry.toInt(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (comm) state ppid pgrp …; comm may hold spaces and parentheses.
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 2 && fields.at(2).toLongLong() == group && fields.at(0) != "Z" && fields.at(0) != "X")
            return true;
    }
    return false;
}

// Waits until every process of the archiver's group is gone (killing what is left after a
// few seconds), so that nothing writes the output again after it was removed.
void waitForGroup(pid_t group)
{
    if (group <= 0)
        return;
    for (int i = 0; i < 300 && groupAlive(group); ++i)
        ::usleep(10 * 1000);
    if (groupAlive(group)) {
        ::kill(-group, SIGKILL);
        for (int i = 0; i < 100 && groupAlive(group); ++i)
            ::usleep(10 * 1000);
    }
}

} // namespace

void ArchiveCancellationToken::cancel()
{
    QMutexLocker locker(&m_lock);
    m_cancelled = true;
    QProcess *process = m_process.data();
    if (!process)
        return;
    if (process->thread() == QThread::currentThread()) {
        interrupt(process);
    } else {
        // The process belongs to another thread: interrupt it there. It is still alive here,
        // because the engine detaches it under this lock before it is deleted.
        QPointer<QProcess> weak(process);
        QMetaObject::invokeMethod(process, [weak] { interrupt(weak.data()); }, Qt::QueuedConnection);
    }
}

bool ArchiveCancellationToken::isCancelled() const
{
    QMutexLocker locker(&m_lock);
    return m_cancelled;
}

void ArchiveCancellationToken::attach(QProcess *process)
{
    QMutexLocker locker(&m_lock);
    m_process = process;
    if (m_cancelled)
        interrupt(process);
}

void ArchiveCancellationToken::detach()
{
    QMutexLocker locker(&m_lock);
    m_process = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Tool paths

QStringList ArchiveToolPaths::defaultSevenZipCandidates()
{
    QStringList out;
    // The copy shipped with the application comes first.
    if (QCoreApplication::instance())
        out << QCoreApplication::applicationDirPath() + QStringLiteral("/7zz");
    out << QStringLiteral(PERCHBOX_DATA_DIR "/7zz")
        << QStringLiteral("/opt/homebrew/bin/7zz") << QStringLiteral("/opt/homebrew/bin/7z")
        << QStringLiteral("/usr/local/bin/7zz") << QStringLiteral("/usr/local/bin/7z")
        << QStringLiteral("/usr/bin/7zz") << QStringLiteral("/usr/bin/7z");
    return out;
}

QString ArchiveToolPaths::sevenZip() const
{
    for (const QString &candidate : sevenZipCandidates) {
        QFileInfo info(candidate);
        if (info.exists() && info.isFile())
            return candidate;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Names and arguments

namespace {

// GNU tar's parent says "tar: Removing leading `/' from member names" while its child may be
// half-way through a complaint on the same stream, and each writes a message as separate
// pieces (program name, words, the system's reason, line break), so the pieces of both can
// land in any order. Takes the notices out whole and puts the child's lines back together.
QString withoutTarNotice(QString errors)
{
    static const QRegularExpression notice(
        QStringLiteral("Removing leading `[^'\n]*' from (?:member names|hard link targets)"));
    static const QRegularExpression programName(QStringLiteral("(?:(?:/[^/\\s:]+)+/)?tar: "));
    // A notice's program name is the last one written before its words: only the child's
    // pieces, which never hold one, can lie between them.
    QList<std::pair<qsizetype, qsizetype>> cuts; // (start, length), in order
    qsizetype searchFrom = 0;
    for (QRegularExpressionMatchIterator it = notice.globalMatch(errors); it.hasNext();) {
        const QRegularExpressionMatch words = it.next();
        std::optional<std::pair<qsizetype, qsizetype>> name;
        const QString before = errors.left(words.capturedStart());
        for (QRegularExpressionMatchIterator n = programName.globalMatch(before, searchFrom); n.hasNext();) {
            const QRegularExpressionMatch m = n.next();
            name = std::pair(m.capturedStart(), m.capturedLength());
        }
        if (name)
            cuts << *name;
        cuts << std::pair(words.capturedStart(), words.capturedLength());
        searchFrom = words.capturedEnd();
    }
    for (qsizetype i = cuts.size() - 1; i >= 0; --i)
        errors.remove(cuts[i].first, cuts[i].second);

    // The notices' line breaks are left, anywhere in the child's lines. A line of the child's
    // ("tar (child): …") ends only where another message begins or nothing follows; any other
    // break inside it is a notice's ("…: Cannot open" + "\n" + ": Permission denied").
    static const QLatin1String childName("tar (child): ");
    static const QRegularExpression nextMessage(
        QStringLiteral("\n*(?:%1|%2|\\z)").arg(QRegularExpression::escape(childName), programName.pattern()));
    QString joined;
    joined.reserve(errors.size());
    bool inChildLine = false;
    for (qsizetype i = 0; i < errors.size(); ++i) {
        if (QStringView(errors).sliced(i).startsWith(childName))
            inChildLine = true;
        if (errors.at(i) == QLatin1Char('\n') && inChildLine) {
            if (!nextMessage.match(errors, i + 1, QRegularExpression::NormalMatch,
                                   QRegularExpression::AnchorAtOffsetMatchOption)
                     .hasMatch())
                continue;
            inChildLine = false;
        }
        joined += errors.at(i);
    }
    return joined;
}

} // namespace

namespace ArchiveEngine {

QString toolFailedMessage(int status, const QByteArray &toolErrors)
{
    QString message = QStringLiteral("Archive tool failed (exit %1).").arg(status);
    // 7-Zip mixes its percentages ("\b\b 45% 3 + name") into the same stream, and names the
    // file on the line after its complaint ("WARNING: errno=2 : No such file or directory").
    // GNU tar's notices can split its child's complaint (see withoutTarNotice).
    QString errors = QString::fromLocal8Bit(toolErrors);
    if (errors.contains(QLatin1String("Removing leading `")))
        errors = withoutTarNotice(errors);
    QStringList lines;
    for (QString line : errors.split(QLatin1Char('\n'))) {
        line.replace(QLatin1Char('\b'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        const QString text = line.simplified();
        static const QRegularExpression progress(QStringLiteral("^\\d+[%M]"));
        if (!text.isEmpty() && !progress.match(text).hasMatch())
            lines << text;
    }
    static const QRegularExpression failure(
        QStringLiteral("error|errno|warning|cannot|can't|could not|failed|denied|no such file|no space|read-only|"
                       "input/output|quota"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression sevenZipComplaint(QStringLiteral("^(WARNING|ERROR): (errno=\\d+ : )?(.*)$"));
    QString reason;
    for (qsizetype i = 0; i < lines.size() && reason.isEmpty(); ++i) {
        if (!failure.match(lines[i]).hasMatch())
            continue; // the first complaint: what follows is often only "exiting now"
        const QRegularExpressionMatch complaint = sevenZipComplaint.match(lines[i]);
        if (complaint.hasMatch() && i + 1 < lines.size() && !failure.match(lines[i + 1]).hasMatch())
            reason = lines[i + 1] + QStringLiteral(": ") + complaint.captured(3);
        else if (lines[i].endsWith(QLatin1Char(':')) && i + 1 < lines.size())
            reason = lines[i] + QLatin1Char(' ') + lines[i + 1]; // "System ERROR:" then the errno line
        else
            reason = lines[i];
    }
    static const QRegularExpression errnoNumber(QStringLiteral("errno=\\d+ : "));
    reason.remove(errnoNumber);
    if (reason.isEmpty() && !lines.isEmpty())
        reason = lines.last();
    if (!reason.isEmpty())
        message += QLatin1Char('\n') + reason.left(400);
    return message;
}

bool passwordGoesOnStandardInput(ArchiveFormat format, bool usePassword, const QString &password)
{
    return format == ArchiveFormat::sevenZip && usePassword && !password.isEmpty();
}

QString archiveNameProblem(const QString &name, ArchiveFormat format)
{
    const QString base = cleanBaseName(name.trimmed());
    if (base.isEmpty())
        return QStringLiteral("The archive name is empty.");
    if (base.startsWith(QLatin1Char('.')))
        return QStringLiteral("The archive name \"%1\" starts with a dot, which would make it a hidden file.").arg(base);
    const qsizetype bytes = QFile::encodeName(base + QLatin1Char('.') + fileExtension(format)).size();
    if (bytes > kMaxNameBytes)
        return QStringLiteral("The archive name is too long: %1 bytes with its extension, and file names hold at most %2.")
            .arg(bytes)
            .arg(kMaxNameBytes);
    return {};
}

QString usableBaseName(const QString &name, ArchiveFormat format)
{
    QString base = cleanBaseName(name.trimmed());
    while (base.startsWith(QLatin1Char('.')))
        base.remove(0, 1);
    const qsizetype room = kMaxNameBytes - QFile::encodeName(QLatin1Char('.') + fileExtension(format)).size();
    while (!base.isEmpty() && QFile::encodeName(base).size() > room) {
        base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate())
            base.chop(1);
    }
    base = base.trimmed();
    return base.isEmpty() ? QStringLiteral("Archive") : base;
}

QString cleanBaseName(const QString &name)
{
    QString out = name;
    for (QChar &c : out) {
        switch (c.unicode()) {
        case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|': case '\\':
            c = QLatin1Char('-');
            break;
        default:
            break;
        }
    }
    return out;
}

QUrl uniqueArchiveURL(const QUrl &wanted)
{
    const QByteArray path = FilePath::bytes(wanted);
    if (path.isEmpty() || !ArchiveFileOps::exists(path))
        return wanted;
    const QByteArray dir = path.left(path.lastIndexOf('/') + 1);
    const QByteArray name = ArchiveFileOps::lastComponent(path);
    const auto [base, ext] = ArchiveFileOps::splitExtension(name);
    for (int n = 2;; ++n) {
        QByteArray candidate = dir + base + ' ' + QByteArray::number(n);
        if (!ext.isEmpty())
            candidate += '.' + ext;
        if (!ArchiveFileOps::exists(candidate))
            return FilePath::urlFromBytes(candidate);
    }
}

QList<QByteArray> arguments(ArchiveFormat format, CompressionLevel level, bool usePassword,
                            const QString &password, const QByteArray &output,
                            const QList<QByteArray> &inputs)
{
    QList<QByteArray> args;
    switch (format) {
    case ArchiveFormat::tarGz:
        args << "-czvf" << output << inputs;
        break;
    case ArchiveFormat::sevenZip:
        // A bare "-p" makes 7-Zip read the password from its standard input, where no other
        // user can see it (a "-p<password>" argument is in every process listing).
        // "-snl" stores links as links instead of following them (out of the folder, in loops).
        args << "a" << "-bsp2" << "-snl";
        if (usePassword && !password.isEmpty())
            args << "-p" << "-mhe=on";
        args << output << inputs;
        break;
    case ArchiveFormat::zip:
        // "-y" stores links as links: followed, a link out of the folder or into a loop
        // packs whatever it reaches, over and over.
        args << zipLevelArgument(level).toLatin1() << "-r" << "-y" << "-v" << output << ".";
        break;
    }
    return args;
}

QByteArray StagingNamer::nameFor(const QByteArray &name)
{
    QByteArray chosen = name;
    if (m_used.contains(chosen)) {
        const auto [base, ext] = ArchiveFileOps::splitExtension(name);
        do {
            ++m_clashes;
            chosen = base + '-' + QByteArray::number(m_clashes);
            if (!ext.isEmpty())
                chosen += '.' + ext;
        } while (m_used.contains(chosen));
    }
    m_used.append(chosen);
    return chosen;
}

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first word of `text`, looked for in its first `limit` bytes (empty when it runs on
// past them).
QByteArrayView firstWord(QByteArrayView text, qsizetype limit)
{
    const qsizetype n = std::min(text.size(), limit);
    qsizetype from = 0;
    while (from < n && isBlank(text[from]))
        ++from;
    qsizetype to = from;
    while (to < n && !isBlank(text[to]))
        ++to;
    if (to == n && n < text.size())
        return {};
    return text.sliced(from, to - from);
}

// 7-Zip's progress is the first word of its line: "45%".
std::optional<double> sevenZipFraction(QByteArrayView word)
{
    if (word.size() < 2 || !word.endsWith('%'))
        return std::nullopt;
    bool ok = false;
    const double percent = QString::fromLatin1(word.chopped(1)).toDouble(&ok);
    if (!ok || !(percent >= 0)) // a negative number or "nan" is no percentage
        return std::nullopt;
    return std::min(0.1 + 0.9 * std::min(percent, 100.0) / 100.0, 0.98);
}

// How far into a line that has not ended its percentage is looked for (7-Zip pads it to
// four characters; the file name follows it).
constexpr qsizetype kPercentReach = 64;

} // namespace

ProgressParser::ProgressParser(ArchiveFormat format, qint64 total) : m_format(format), m_total(total) {}

std::optional<double> ProgressParser::feed(const QByteArray &chunk)
{
    std::optional<double> result;
    // What was pending holds no line break: only the new bytes are looked through, so a long
    // line arriving in many pieces costs its length, not its length squared.
    qsizetype i = m_partial.size();
    m_partial += chunk;
    qsizetype start = 0;
    for (; i < m_partial.size(); ++i) {
        const char c = m_partial.at(i);
        // 7-Zip redraws its percentage with backspaces where a terminal would get carriage returns.
        const bool isBreak = c == '\n' || c == '\r' || (m_format == ArchiveFormat::sevenZip && c == '\b');
        if (!isBreak)
            continue;
        if (auto f = handleLine(m_partial.mid(start, i - start)))
            result = f;
        start = i + 1;
    }
    m_partial.remove(0, start);
    // 7-Zip leaves its percentage unterminated until the next redraw: read it right away.
    if (m_format == ArchiveFormat::sevenZip && !m_partial.isEmpty())
        if (auto f = sevenZipFraction(firstWord(m_partial, kPercentReach)))
            result = f;
    if (m_format != ArchiveFormat::sevenZip && result && m_total <= 0)
        return std::nullopt;
    return result;
}

std::optional<double> ProgressParser::handleLine(const QByteArray &line)
{
    switch (m_format) {
    case ArchiveFormat::sevenZip:
        return sevenZipFraction(firstWord(line, line.size()));
    case ArchiveFormat::tarGz:
        if (line.trimmed().isEmpty())
            return std::nullopt;
        ++m_entries;
        break;
    case ArchiveFormat::zip:
        if (!line.contains("adding:"))
            return std::nullopt;
        ++m_entries;
        break;
    }
    if (m_total <= 0)
        return 0.0; // seen, but not reported (see feed)
    return std::min(double(m_entries) / double(m_total), 0.98);
}

} // namespace ArchiveEngine

// ---------------------------------------------------------------------------------------------
// One run

namespace {

struct Preparation {
    std::optional<QString> failure;
    qint64 total = 0;
    QByteArray stagingDir; // ZIP only
};

Preparation prepare(const QList<QByteArray> &inputs, ArchiveFormat format,
                    const ArchiveCancellationTokenPtr &token)
{
    Preparation prep;
    const auto stop = [&token] { return token->isCancelled(); };
    for (const QByteArray &input : inputs) {
        const QString shown = QString::fromLocal8Bit(ArchiveFileOps::lastComponent(input));
        if (!ArchiveFileOps::exists(input)) {
            prep.failure = QStringLiteral("“%1” no longer exists.").arg(shown);
            return prep;
        }
        // A pipe, socket or device has no content to pack, and a pipe would stall the
        // archiver for ever: refused before anything opens it.
        struct stat st;
        if (::stat(input.constData(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
            prep.failure = QStringLiteral("“%1” is not a file or a folder (a pipe or a device, for example).").arg(shown);
            return prep;
        }
    }
    for (const QByteArray &input : inputs)
        prep.total += ArchiveFileOps::countEntries(input, stop);
    if (format != ArchiveFormat::zip || stop())
        return prep;

    prep.stagingDir = PrivateTemp::makeRunFolder("stage");
    if (prep.stagingDir.isEmpty()) {
        prep.failure = QStringLiteral("Could not make a private temporary folder for the archive.");
        return prep;
    }
    ArchiveEngine::StagingNamer namer;
    for (const QByteArray &input : inputs) {
        const QByteArray target = prep.stagingDir + '/' + namer.nameFor(ArchiveFileOps::lastComponent(input));
        QString error;
        // An item on the shelf that is a link stands for what it points to; links inside
        // a folder stay links (see the archiver arguments).
        if (!ArchiveFileOps::stageCopy(ArchiveFileOps::resolvedTopLevel(input), target, &error, stop)) {
            // An archive silently missing a file would be worse than no archive: the
            // originals may be trashed afterwards.
            if (!stop())
                prep.failure = QStringLiteral("Could not prepare %1 for archiving.").arg(error);
            break;
        }
    }
    return prep;
}

class ArchiveRun : public QObject
{
public:
    ArchiveRun(QList<QByteArray> inputs, QByteArray output, ArchiveFormat format, CompressionLevel level,
               bool usePassword, QString password, ArchiveCancellationTokenPtr token,
               ArchiveProgressHandler onProgress, ArchiveCompletionHandler onFinished, ArchiveToolPaths tools)
        : m_inputs(std::move(inputs)), m_output(std::move(output)), m_format(format), m_level(level),
          m_usePassword(usePassword), m_password(std::move(password)),
          m_token(token ? std::move(token) : std::make_shared<ArchiveCancellationToken>()),
          m_onProgress(std::move(onProgress)), m_onFinished(std::move(onFinished)), m_tools(std::move(tools)),
          m_parser(format, 0)
    {
    }

    void start()
    {
        m_outputExisted = ArchiveFileOps::exists(m_output);
        if (m_format == ArchiveFormat::sevenZip) {
            m_program = m_tools.sevenZip();
            if (m_program.isEmpty()) {
                // Nothing runs; the answer still comes asynchronously like every other.
                QTimer::singleShot(0, this, [this] { finish(ArchiveEngine::sevenZipMissingMessage, false); });
                return;
            }
        } else {
            m_program = m_format == ArchiveFormat::zip ? m_tools.zip : m_tools.tar;
        }
        auto *watcher = new QFutureWatcher<Preparation>(this);
        connect(watcher, &QFutureWatcher<Preparation>::finished, this, [this, watcher] {
            const Preparation prep = watcher->result();
            watcher->deleteLater();
            prepared(prep);
        });
        watcher->setFuture(QtConcurrent::run(
            [inputs = m_inputs, format = m_format, token = m_token] { return prepare(inputs, format, token); }));
    }

private:
    void prepared(const Preparation &prep)
    {
        m_stagingDir = prep.stagingDir;
        m_parser = ArchiveEngine::ProgressParser(m_format, prep.total);
        if (m_token->isCancelled())
            return finish(ArchiveEngine::cancelledMessage, true);
        if (prep.failure)
            return finish(prep.failure, true);
        if (ArchiveEngine::passwordGoesOnStandardInput(m_format, m_usePassword, m_password)
            && (m_password.contains(QLatin1Char('\n')) || m_password.contains(QLatin1Char('\r'))
                || m_password.contains(QChar(0))))
            return finish(QStringLiteral("The password cannot contain line breaks."), true);

        m_process = new QProcess(this);
        QList<QByteArray> inputs;
        for (const QByteArray &input : m_inputs)
            inputs << ArchiveFileOps::resolvedTopLevel(input);
        const QList<QByteArray> args =
            ArchiveEngine::arguments(m_format, m_level, m_usePassword, m_password, m_output, inputs);
        QStringList textArgs;
        for (const QByteArray &a : args)
            textArgs << QString::fromLocal8Bit(a);
        m_process->setProgram(m_program);
        m_process->setArguments(textArgs);
        const bool passwordOnInput =
            ArchiveEngine::passwordGoesOnStandardInput(m_format, m_usePassword, m_password);
        if (!passwordOnInput)
            m_process->setStandardInputFile(QProcess::nullDevice());
        if (m_format == ArchiveFormat::zip)
            m_process->setWorkingDirectory(QFile::decodeName(m_stagingDir));
        // GNU tar lists to standard output when it writes the archive to a file; zip lists to
        // standard output; 7-Zip's -bsp2 sends its percentages to standard error.
        if (m_format == ArchiveFormat::sevenZip) {
            m_process->setStandardOutputFile(QProcess::nullDevice());
            m_process->setReadChannel(QProcess::StandardError);
            connect(m_process, &QProcess::readyReadStandardError, this, &ArchiveRun::readOutput);
        } else {
            m_process->setReadChannel(QProcess::StandardOutput);
            connect(m_process, &QProcess::readyReadStandardOutput, this, &ArchiveRun::readOutput);
            connect(m_process, &QProcess::readyReadStandardError, this, [this] {
                keepErrors(m_process->readAllStandardError());
            });
        }
        // File names are bytes: hand the exact bytes to the archiver, not their text form.
        m_argv.clear();
        m_argv << QFile::encodeName(m_program);
        m_argv << args;
        m_argvPointers.clear();
        for (QByteArray &a : m_argv)
            m_argvPointers.push_back(a.data());
        m_argvPointers.push_back(nullptr);
        char *const *argv = m_argvPointers.data();
        ChildLifeline::prepare();
        m_process->setChildProcessModifier([argv] {
            // A group of its own, ended with us if we die: no archiver writes on unseen.
            ChildLifeline::enterGroupWithWatchdog();
            ::execv(argv[0], argv);
            // On failure QProcess's own exec runs next and reports the error.
        });
        connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus) {
            ended(code);
        });
        connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                ended(std::nullopt);
        });
        m_process->start(passwordOnInput ? QIODevice::ReadWrite : QIODevice::ReadOnly);
        m_group = static_cast<pid_t>(m_process->processId());
        m_token->attach(m_process);
        if (passwordOnInput && m_group > 0) {
            m_process->write(m_password.toUtf8() + '\n');
            m_process->closeWriteChannel();
        }
    }

    void readOutput()
    {
        if (m_ended)
            return;
        const QByteArray chunk = m_process->readAll();
        if (m_format == ArchiveFormat::sevenZip)
            keepErrors(chunk);
        if (auto f = m_parser.feed(chunk); f && m_onProgress)
            m_onProgress(*f);
    }

    // The end of the archiver's error output, for the reason of a failure.
    void keepErrors(const QByteArray &chunk)
    {
        m_errors += chunk;
        if (m_errors.size() > 16384)
            m_errors.remove(0, m_errors.size() - 8192);
    }

    // `status`: the exit status (the signal number for a killed archiver), or nothing when
    // the archiver could not be started.
    void ended(std::optional<int> status)
    {
        if (m_ended)
            return;
        m_ended = true;
        m_token->detach();
        m_process->disconnect(this);
        m_process->readAllStandardOutput();
        keepErrors(m_process->readAllStandardError());
        std::optional<QString> message;
        if (m_token->isCancelled())
            message = ArchiveEngine::cancelledMessage;
        else if (!status)
            message = QStringLiteral("The archive tool %1 could not be started: %2")
                          .arg(m_program, m_process->errorString());
        else if (*status != 0)
            message = ArchiveEngine::toolFailedMessage(*status, m_errors);
        if (message)
            waitForGroup(m_group); // an interrupted tar leaves its compressor running a moment
        finish(message, true);
    }

    void finish(std::optional<QString> message, bool reportProgress)
    {
        if (!m_stagingDir.isEmpty())
            PrivateTemp::removeRunFolder(m_stagingDir);
        if (message && !m_outputExisted)
            ArchiveFileOps::removeTree(m_output);
        if (reportProgress && m_onProgress)
            m_onProgress(1.0);
        if (m_onFinished)
            m_onFinished(message);
        deleteLater();
    }

    QList<QByteArray> m_inputs;
    QByteArray m_output;
    ArchiveFormat m_format;
    CompressionLevel m_level;
    bool m_usePassword;
    QString m_password;
    ArchiveCancellationTokenPtr m_token;
    ArchiveProgressHandler m_onProgress;
    ArchiveCompletionHandler m_onFinished;
    ArchiveToolPaths m_tools;
    ArchiveEngine::ProgressParser m_parser;
    QByteArray m_errors; // the end of the archiver's error output
    QString m_program;
    QByteArray m_stagingDir;
    QProcess *m_process = nullptr;
    pid_t m_group = 0;
    QList<QByteArray> m_argv;
    std::vector<char *> m_argvPointers;
    bool m_outputExisted = false;
    bool m_ended = false;
};

} // namespace

void buildArchive(const QList<QUrl> &urls, const QUrl &output, ArchiveFormat format,
                  CompressionLevel level, bool usePassword, const QString &password,
                  const ArchiveCancellationTokenPtr &token, ArchiveProgressHandler onProgress,
                  ArchiveCompletionHandler onFinished, const ArchiveToolPaths &tools)
{
    QList<QByteArray> inputs;
    for (const QUrl &url : urls)
        inputs << FilePath::standardized(FilePath::bytes(url));
    auto *run = new ArchiveRun(std::move(inputs), FilePath::standardized(FilePath::bytes(output)), format,
                               level, usePassword, password, token, std::move(onProgress),
                               std::move(onFinished), tools);
    run->start();
}
