#pragma once

#include "conversion/model/BackgroundModel.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the background-removal network for users who have none: downloads the published
// package (resuming a partial download), checks its SHA-256, joins and converts the model
// on a worker thread, checks the result's SHA-256 and stores it under the data folder with
// an atomic rename — a half-written or damaged file is never where the model is looked for.
// Everything is reported through signals on the thread that owns the object.
class BackgroundModelDownload : public QObject
{
    Q_OBJECT
public:
    enum class Stage { idle, downloading, preparing, finished, failed, cancelled };

    explicit BackgroundModelDownload(BackgroundModel::Source source = BackgroundModel::defaultSource(),
                                     QString folder = BackgroundModel::downloadFolder(), QObject *parent = nullptr);
    ~BackgroundModelDownload() override;

    // The program's one download, shared by every window that offers it (closing a window
    // does not stop it). Lives as long as the application object.
    static BackgroundModelDownload &shared();

    // Starts, or starts again after a failure or a cancel. Nothing happens while running.
    void start();
    // Stops a running download or preparation; the partial file is removed.
    void cancel();

    Stage stage() const { return m_stage; }
    bool isRunning() const { return m_stage == Stage::downloading || m_stage == Stage::preparing; }
    qint64 received() const { return m_received; }
    qint64 total() const { return m_total; }
    // At the speed of the last few seconds; -1 while unknown.
    int secondsLeft() const;
    // The reason of a failure, for the user.
    QString errorText() const { return m_error; }
    // The stored model, once finished.
    QString modelPath() const;
    QString partialPath() const;
    const BackgroundModel::Source &source() const { return m_source; }

    // "12.3 MB of 136.5 MB · about 2 min left" (sizes in decimal megabytes).
    static QString progressText(qint64 received, qint64 total, int secondsLeft);

signals:
    void progressChanged();
    void stageChanged(BackgroundModelDownload::Stage stage);

private:
    void request();
    void onMetaData();
    void onReadyRead();
    void onReplyFinished();
    void prepare();
    void fail(const QString &text, bool removePartial);
    void setStage(Stage stage);
    bool hashExistingPart(qint64 *size);

    BackgroundModel::Source m_source;
    QString m_folder;
    Stage m_stage = Stage::idle;
    QString m_error;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QFile m_part;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_offset = 0;   // bytes of the partial file this request continues from
    qint64 m_received = 0;
    qint64 m_total = 0;
    bool m_rangeRequested = false;
    bool m_cancelRequested = false;
    QElapsedTimer m_clock;
    QElapsedTimer m_lastSignal;
    QList<QPair<qint64, qint64>> m_samples; // (ms, bytes received) of the last seconds
    std::shared_ptr<std::atomic<bool>> m_cancelWork;
    QFutureWatcher<QString> m_work;
};
