#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;

// What a feed request came back with.
struct FeedResponse {
    enum class Outcome {
        received,  // an answer with a body (for HTTP: any status; see httpStatus)
        failed,    // no usable answer: network error, time-out, too large, too many redirects
    };
    Outcome outcome = Outcome::failed;
    int httpStatus = 0;  // the final HTTP status, 0 when the answer was not HTTP
    QByteArray body;
    QString error;       // for `failed`: one sentence for the user
};

// Fetches one update feed at a time over HTTP(S), on the calling thread's event loop.
// Redirects are followed (at most five, never from https to http); the whole request has a
// deadline (15 s unless set otherwise) and the body a size cap (8 MB), so a server that
// never answers, drips or sends without end cannot hold the check up or fill the memory.
class FeedFetcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 15000;
    static constexpr qint64 kMaxBodyBytes = 8 * 1024 * 1024;
    static constexpr int kMaxRedirects = 5;

    explicit FeedFetcher(QObject *parent = nullptr);
    ~FeedFetcher() override;

    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeout() const { return m_timeoutMs; }
    void setMaxBodyBytes(qint64 bytes) { m_maxBytes = bytes; }

    // Starts a request (cancelling one that runs); finished() follows exactly once, later,
    // unless cancel() comes first.
    void fetch(const QUrl &url);
    // Drops the running request without a finished() signal.
    void cancel();
    bool isRunning() const { return m_reply != nullptr; }

signals:
    void finished(const FeedResponse &response);

private:
    void onReadyRead();
    void onFinished();
    void fail(const QString &error);

    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    QByteArray m_body;
    QString m_failure; // set when we stopped the reply ourselves
    int m_timeoutMs = kDefaultTimeoutMs;
    qint64 m_maxBytes = kMaxBodyBytes;
};
