#pragma once

#include "updates/AppcastXml.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QUrl>

class FeedFetcher;
struct FeedResponse;

// One release of an appcast, as the update check reads it.
struct AppcastRelease {
    QString version;  // "sparkle:shortVersionString" (element or enclosure attribute), else "sparkle:version"
    QUrl page;        // where the user gets it: the item's http(s) link, else its http(s) enclosure
};

// What an update check found.
struct UpdateCheckResult {
    enum class Status { found, upToDate, error };
    Status status = Status::error;
    QString version;  // found: the newer version
    QUrl page;        // found: its download page
    QString message;  // error: one sentence for the user
};
Q_DECLARE_METATYPE(UpdateCheckResult)

// Checks one feed for a release newer than the running version: fetches it (FeedFetcher),
// reads every item, and reports the newest release that is newer than `currentVersion`
// and has a web page to send the user to. Nothing is downloaded or installed: a found
// update is only a version and a page.
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    explicit UpdateChecker(QObject *parent = nullptr);
    ~UpdateChecker() override;

    void setTimeout(int milliseconds);

    // Starts a check of the feed at `address` (cancelling one in progress); finished()
    // follows once, later, unless cancel() comes first.
    void check(const QString &address, const QString &currentVersion);
    void cancel();
    bool isRunning() const;

    // The judgement on a fetched feed, and on a parsed one.
    static UpdateCheckResult resultFor(const FeedResponse &response, const QString &currentVersion);
    static UpdateCheckResult resultFor(const QList<AppcastRelease> &releases, const QString &currentVersion);
    // Every item with a version and a page, in feed order; false when the XML is malformed.
    static bool readReleases(const QByteArray &data, QList<AppcastRelease> *releases);

signals:
    void finished(const UpdateCheckResult &result);

private:
    FeedFetcher *m_fetcher = nullptr;
    QString m_currentVersion;
};
