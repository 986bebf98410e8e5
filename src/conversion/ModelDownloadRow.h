#pragma once

#include <QWidget>

class BackgroundModelDownload;
class QLabel;
class QProgressBar;
class QPushButton;

// The offer under "Remove background" while the network is missing: a button that downloads
// it (with its size and where it comes from), then a progress bar with the size and the time
// left and a Cancel button; a failure is shown with "Try Again". Emits installed() once the
// model is in place. It shows the program's one download, so a second panel sees the same.
class ModelDownloadRow : public QWidget
{
    Q_OBJECT
public:
    explicit ModelDownloadRow(BackgroundModelDownload &download, QWidget *parent = nullptr);

signals:
    void installed();

private:
    void refresh();

    BackgroundModelDownload &m_download;
    QLabel *m_text = nullptr;
    QProgressBar *m_bar = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_cancel = nullptr;
};
