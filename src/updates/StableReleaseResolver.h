#pragma once

#include "updates/AppcastXml.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class FeedFetcher;
struct FeedResponse;

// The newest stable release as the stable feed lists it.
struct StableReleaseInfo {
    QString displayVersion;
    QUrl downloadURL;
    friend bool operator==(const StableReleaseInfo &, const StableReleaseInfo &) = default;
};

// Finds the newest release of the stable feed, for "Switch Back to Stable": reads the
// stable feed's address (UpdateFeeds), fetches it, and takes the first complete item.
class StableReleaseResolver : public QObject
{
    Q_OBJECT
public:
    struct Error {
        enum class Kind {
            missingFeedURL,
            invalidFeedURL,
            badResponse,           // with statusCode
            malformedAppcast,
            missingStableDownload,
            couldNotOpenDownload,
            other,                 // a failure from below (network, time-out), with its message
        };
        Kind kind = Kind::other;
        int statusCode = 0;
        QString message; // for `other`

        Error(Kind kind = Kind::other, int statusCode = 0, QString message = {})
            : kind(kind), statusCode(statusCode), message(std::move(message))
        {
        }

        // The sentence shown to the user.
        QString errorDescription() const;
        friend bool operator==(const Error &, const Error &) = default;
    };

    struct Result {
        std::optional<StableReleaseInfo> release; // set on success
        std::optional<Error> error;               // set on failure
    };

    explicit StableReleaseResolver(QObject *parent = nullptr);
    ~StableReleaseResolver() override;

    // The request deadline (15 s by default).
    void setTimeout(int milliseconds);

    // Starts resolving (cancelling a run in progress); finished() follows once, later.
    void resolveLatestStable();
    void cancel();
    bool isRunning() const;

    // Steps 3 and 4 on an answer that has arrived: the status check and the parse.
    static Result resultFor(const FeedResponse &response);
    // The parse alone.
    static Result parse(const QByteArray &data);

signals:
    void finished(const StableReleaseResolver::Result &result);

private:
    void finishLater(const Result &result);

    FeedFetcher *m_fetcher = nullptr;
};

Q_DECLARE_METATYPE(StableReleaseResolver::Result)

// The parser delegate: only the first item that ends with both a version and a download URL
// counts (in an appcast the first item is the newest release). Items missing either are
// skipped. Fields as the parse goes.
class StableAppcastParserDelegate : public AppcastXml::Handler
{
public:
    std::optional<StableReleaseInfo> firstStableRelease;
    bool isParsingFirstItem = false;
    QString currentElementText;
    std::optional<QString> currentVersion;
    std::optional<QUrl> currentDownloadURL;

    void elementStarted(const QString &qualifiedName, const QXmlStreamAttributes &attributes) override;
    void charactersFound(const QString &text, bool cdata) override;
    void elementEnded(const QString &qualifiedName) override;
};
