#include "conversion/model/BackgroundModelDownload.h"

#include "conversion/model/ModelPackage.h"
#include "conversion/model/OnnxFloat32.h"
#include "platform/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStorageInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr int kStallTimeoutMs = 30000;   // no byte for this long: the transfer failed
constexpr qint64 kSpeedWindowMs = 5000;  // the time left is computed over this window
constexpr qint64 kSignalIntervalMs = 100;
constexpr qint64 kConvertedSlack = 200LL * 1000 * 1000; // room for the converted model

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB");
}

QString networkErrorText(QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return QStringLiteral("The download server answered %1%2.")
            .arg(status)
            .arg(reason.isEmpty() ? QString() : QLatin1Char(' ') + reason);
    }
    switch (reply->error()) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return QStringLiteral("Could not reach the download server (%1). Check the network connection and try again.")
            .arg(reply->errorString());
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return QStringLiteral("The download stalled and was stopped. Try again to continue where it stopped.");
    default:
        return QStringLiteral("The download failed (%1). Try again to continue where it stopped.").arg(reply->errorString());
    }
}

// Joins, converts, checks and stores the model. Returns "" or the reason it failed.
QString prepareModel(const QString &package, const BackgroundModel::Source &source, const QString &target,
                     const std::shared_ptr<std::atomic<bool>> &cancel)
{
    QByteArray joined;
    QString error;
    if (!ModelPackage::extractModel(package, source.modelKey, &joined, cancel.get(), &error))
        return error;
    if (cancel->load())
        return QStringLiteral("cancelled");
    QByteArray converted;
    if (!OnnxFloat32::convert(joined, &converted, &error))
        return QStringLiteral("the model could not be converted: ") + error;
    joined = QByteArray();
    if (!source.modelSha256.isEmpty()
        && QCryptographicHash::hash(converted, QCryptographicHash::Sha256).toHex() != source.modelSha256)
        return QStringLiteral("the converted model is not the expected one (checksum mismatch)");
    if (cancel->load())
        return QStringLiteral("cancelled");
    if (!writeFileAtomically(target, converted, &error))
        return QStringLiteral("the model could not be stored: ") + error;
    return {};
}

} // namespace

BackgroundModelDownload::BackgroundModelDownload(BackgroundModel::Source source, QString folder, QObject *parent)
    : QObject(parent), m_source(std::move(source)), m_folder(std::move(folder))
{
    connect(&m_work, &QFutureWatcher<QString>::finished, this, [this] {
        const QString error = m_work.result();
        m_cancelWork.reset();
        if (m_cancelRequested) {
            QFile::remove(partialPath());
            setStage(Stage::cancelled);
        } else if (!error.isEmpty()) {
            // The package passed its checksum, so what failed is not the transfer: a new
            // download is the only retry that can help.
            fail(QStringLiteral("The model could not be prepared: %1.").arg(error), true);
        } else {
            QFile::remove(partialPath());
            setStage(Stage::finished);
        }
    });
}

BackgroundModelDownload::~BackgroundModelDownload()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    if (m_cancelWork)
        m_cancelWork->store(true);
    m_work.waitForFinished();
}

BackgroundModelDownload &BackgroundModelDownload::shared()
{
    static QPointer<BackgroundModelDownload> instance;
    if (!instance) {
        instance = new BackgroundModelDownload(BackgroundModel::defaultSource(), BackgroundModel::downloadFolder(),
                                               QCoreApplication::instance());
    } else if (!instance->isRunning()) {
        // The environment may name another copy or folder since (PERCHBOX_MODEL_URL, _DIR).
        instance->m_source = BackgroundModel::defaultSource();
        instance->m_folder = BackgroundModel::downloadFolder();
        if (instance->m_stage == Stage::finished && !QFile::exists(instance->modelPath()))
            instance->m_stage = Stage::idle; // removed since: offer it again
    }
    return *instance;
}

QString BackgroundModelDownload::modelPath() const
{
    return m_folder + QLatin1Char('/') + BackgroundModel::fileName;
}

QString BackgroundModelDownload::partialPath() const
{
    return m_folder + QStringLiteral("/.") + BackgroundModel::fileName + QStringLiteral(".download");
}

int BackgroundModelDownload::secondsLeft() const
{
    if (m_samples.size() < 2 || m_total <= 0)
        return -1;
    const qint64 ms = m_samples.last().first - m_samples.first().first;
    const qint64 bytes = m_samples.last().second - m_samples.first().second;
    if (ms < 1000 || bytes <= 0)
        return -1;
    return int((m_total - m_received) * ms / bytes / 1000);
}

QString BackgroundModelDownload::progressText(qint64 received, qint64 total, int secondsLeft)
{
    QString text = total > 0 ? QStringLiteral("%1 of %2").arg(megabytes(received), megabytes(total)) : megabytes(received);
    if (secondsLeft >= 0) {
        if (secondsLeft < 60)
            text += QStringLiteral(" · about %1 s left").arg(std::max(1, secondsLeft));
        else
            text += QStringLiteral(" · about %1 min left").arg((secondsLeft + 30) / 60);
    }
    return text;
}

void BackgroundModelDownload::setStage(Stage stage)
{
    if (m_stage == stage)
        return;
    m_stage = stage;
    emit stageChanged(stage);
}

void BackgroundModelDownload::fail(const QString &text, bool removePartial)
{
    if (m_part.isOpen())
        m_part.close();
    if (removePartial)
        QFile::remove(partialPath());
    m_error = text;
    setStage(Stage::failed);
}

void BackgroundModelDownload::start()
{
    if (isRunning())
        return;
    m_error.clear();
    m_cancelRequested = false;
    m_samples.clear();
    m_received = 0;
    m_total = m_source.size;
    if (!m_source.url.isValid() || m_source.url.isEmpty()) {
        fail(QStringLiteral("This build has no download address for the model; install it with scripts/fetch-model.sh."),
             false);
        return;
    }
    if (!QDir().mkpath(m_folder)) {
        fail(QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(m_folder)), false);
        return;
    }
    qint64 have = 0;
    if (!hashExistingPart(&have)) {
        fail(QStringLiteral("Cannot write to %1: %2").arg(QDir::toNativeSeparators(partialPath()), m_part.errorString()),
             false);
        return;
    }
    const QStorageInfo volume(m_folder);
    const qint64 needed = std::max<qint64>(0, m_source.size - have) + kConvertedSlack;
    if (volume.isValid() && volume.bytesAvailable() >= 0 && volume.bytesAvailable() < needed) {
        fail(QStringLiteral("Not enough free disk space in %1: %2 needed, %3 free.")
                 .arg(QDir::toNativeSeparators(m_folder), megabytes(needed), megabytes(volume.bytesAvailable())),
             false);
        return;
    }
    m_offset = have;
    m_received = have;
    setStage(Stage::downloading);
    emit progressChanged();
    if (m_source.size > 0 && have == m_source.size) {
        // A previous run got every byte; only the checks and the preparation are left.
        onReplyFinished();
        return;
    }
    request();
}

// Opens the partial file for appending and feeds what it already holds to the hash. A file
// longer than the package is useless and starts over.
bool BackgroundModelDownload::hashExistingPart(qint64 *size)
{
    m_hash.reset();
    if (m_part.isOpen())
        m_part.close();
    m_part.setFileName(partialPath());
    if (m_source.size > 0 && m_part.size() > m_source.size)
        m_part.remove();
    if (m_part.exists() && m_part.open(QIODevice::ReadOnly)) {
        m_hash.addData(&m_part);
        m_part.close();
    }
    if (!m_part.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    *size = m_part.size();
    return true;
}

void BackgroundModelDownload::request()
{
    if (!m_network) {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        m_network = new QNetworkAccessManager(this);
    }
    QNetworkRequest req(m_source.url);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(kStallTimeoutMs);
    req.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Perchbox/" PERCHBOX_VERSION));
    m_rangeRequested = m_offset > 0;
    if (m_rangeRequested)
        req.setRawHeader("Range", "bytes=" + QByteArray::number(m_offset) + '-');
    m_clock.start();
    m_lastSignal.start();
    m_samples = {{0, m_received}};
    m_reply = m_network->get(req);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &BackgroundModelDownload::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &BackgroundModelDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &BackgroundModelDownload::onReplyFinished);
}

void BackgroundModelDownload::onMetaData()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_rangeRequested && status == 200) {
        // The server sends the whole file again: start the partial file over.
        m_part.resize(0);
        m_hash.reset();
        m_offset = 0;
        m_received = 0;
        m_samples = {{m_clock.elapsed(), 0}};
    }
    if (status == 206) {
        // "bytes START-END/TOTAL": the part must continue exactly where ours ends.
        const QByteArray range = m_reply->rawHeader("Content-Range");
        const qsizetype dash = range.indexOf('-');
        const qsizetype slash = range.indexOf('/');
        if (!range.startsWith("bytes ") || dash < 0 || range.mid(6, dash - 6).toLongLong() != m_offset) {
            QNetworkReply *reply = m_reply;
            m_reply = nullptr;
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
            fail(QStringLiteral("The download server sent an unexpected part of the file. Try again."), true);
            return;
        }
        if (slash > 0 && range.mid(slash + 1).toLongLong() > 0)
            m_total = range.mid(slash + 1).toLongLong();
        return;
    }
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (status == 200 && length > 0)
        m_total = length;
}

void BackgroundModelDownload::onReadyRead()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200 && status != 206)
        return; // an error page: read by the finished handler
    const QByteArray data = m_reply->readAll();
    if (data.isEmpty())
        return;
    if (m_part.write(data) != data.size()) {
        const QString reason = m_part.errorString();
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
        fail(QStringLiteral("Cannot write the download to %1: %2").arg(QDir::toNativeSeparators(m_folder), reason), true);
        return;
    }
    m_hash.addData(data);
    m_received += data.size();
    const qint64 now = m_clock.elapsed();
    m_samples.append({now, m_received});
    while (m_samples.size() > 2 && now - m_samples.at(1).first >= kSpeedWindowMs)
        m_samples.removeFirst();
    if (m_lastSignal.elapsed() >= kSignalIntervalMs) {
        m_lastSignal.restart();
        emit progressChanged();
    }
}

void BackgroundModelDownload::onReplyFinished()
{
    if (m_reply) {
        const bool cancelled = m_cancelRequested;
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->deleteLater();
        if (cancelled) {
            m_part.close();
            QFile::remove(partialPath());
            setStage(Stage::cancelled);
            return;
        }
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 416 && m_rangeRequested) {
            // The server has no bytes past ours: what we hold is wrong. Start over.
            m_part.close();
            QFile::remove(partialPath());
            start();
            return;
        }
        if (reply->error() != QNetworkReply::NoError || (status != 200 && status != 206)) {
            // What arrived stays, so that trying again continues from there.
            const QString text = reply->error() == QNetworkReply::NoError
                ? QStringLiteral("The download server answered %1.").arg(status)
                : networkErrorText(reply);
            m_part.flush();
            fail(text, false);
            return;
        }
    }
    m_part.close();
    emit progressChanged();
    if (m_source.size > 0 && m_received != m_source.size) {
        fail(QStringLiteral("The download is incomplete (%1 of %2). Try again to continue where it stopped.")
                 .arg(megabytes(m_received), megabytes(m_source.size)),
             m_received > m_source.size);
        return;
    }
    if (m_hash.result().toHex() != m_source.sha256) {
        fail(QStringLiteral("The downloaded file is damaged (checksum mismatch) and was removed. Try again."), true);
        return;
    }
    prepare();
}

void BackgroundModelDownload::prepare()
{
    setStage(Stage::preparing);
    m_cancelWork = std::make_shared<std::atomic<bool>>(false);
    m_work.setFuture(QtConcurrent::run(prepareModel, partialPath(), m_source, modelPath(), m_cancelWork));
}

void BackgroundModelDownload::cancel()
{
    if (!isRunning())
        return;
    m_cancelRequested = true;
    if (m_reply)
        m_reply->abort(); // finished arrives and reports the cancel
    else if (m_cancelWork)
        m_cancelWork->store(true);
}
