#include "updates/FeedFetcher.h"

#include "updates/Version.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'g', 3);
}

QString seconds(int milliseconds)
{
    return milliseconds % 1000 == 0 ? QString::number(milliseconds / 1000)
                                     : QString::number(double(milliseconds) / 1000.0, 'g', 3);
}

} // namespace

FeedFetcher::FeedFetcher(QObject *parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("The update server did not answer within %1 seconds.").arg(seconds(m_timeoutMs)));
    });
}

FeedFetcher::~FeedFetcher()
{
    cancel();
}

void FeedFetcher::fetch(const QUrl &url)
{
    cancel();
    m_body.clear();
    m_failure.clear();
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Perchbox/%1").arg(Version::current()));
    if (!m_network)
        m_network = new QNetworkAccessManager(this); // made when first needed: it starts a thread
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &FeedFetcher::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &FeedFetcher::onFinished);
    m_deadline.start(m_timeoutMs);
}

void FeedFetcher::cancel()
{
    m_deadline.stop();
    if (QNetworkReply *reply = m_reply.data()) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void FeedFetcher::onReadyRead()
{
    if (!m_reply)
        return;
    // A declared length over the cap fails before anything is read.
    const QVariant declared = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (declared.isValid() && declared.toLongLong() > m_maxBytes) {
        fail(QStringLiteral("The update feed is larger than %1 MB.").arg(megabytes(m_maxBytes)));
        return;
    }
    m_body += m_reply->read(m_maxBytes + 1 - m_body.size());
    if (m_body.size() > m_maxBytes)
        fail(QStringLiteral("The update feed is larger than %1 MB.").arg(megabytes(m_maxBytes)));
}

void FeedFetcher::fail(const QString &error)
{
    if (!m_reply)
        return;
    m_failure = error;
    // abort() finishes the reply synchronously; onFinished() reports the failure.
    m_reply->abort();
}

void FeedFetcher::onFinished()
{
    QNetworkReply *reply = m_reply.data();
    if (!reply)
        return;
    m_reply = nullptr;
    m_deadline.stop();
    reply->deleteLater();

    FeedResponse response;
    if (!m_failure.isEmpty()) {
        response.error = m_failure;
        emit finished(response);
        return;
    }
    m_body += reply->read(m_maxBytes + 1 - m_body.size());
    if (m_body.size() > m_maxBytes) {
        response.error = QStringLiteral("The update feed is larger than %1 MB.").arg(megabytes(m_maxBytes));
        emit finished(response);
        return;
    }
    // An HTTP answer counts whatever its status (the caller judges the status); a broken
    // connection, a refused redirect or a protocol fault does not.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const bool statusError = (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
                             || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    if (status > 0 && (error == QNetworkReply::NoError || statusError)) {
        response.outcome = FeedResponse::Outcome::received;
        response.httpStatus = status;
        response.body = std::move(m_body);
    } else {
        response.error = reply->errorString();
    }
    m_body.clear();
    emit finished(response);
}
