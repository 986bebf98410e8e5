#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

// The conversion part of the "Tools" settings page: what happens after a conversion,
// the default destination, and every stored conversion default (the values the Convert
// panel starts from). Edits go straight to AppSettings; outside changes are shown.
class ConversionSettingsSection : public QWidget
{
    Q_OBJECT
public:
    explicit ConversionSettingsSection(QWidget *parent = nullptr);

private:
    void sync();
    void applyMediaSupport();

    bool m_syncing = false;
    QCheckBox *m_clearShelf = nullptr;
    QCheckBox *m_createShelf = nullptr;
    QLabel *m_destination = nullptr;
    QPushButton *m_clearDestination = nullptr;
    QComboBox *m_outputMode = nullptr;
    QComboBox *m_audioFormat = nullptr, *m_sampleRate = nullptr, *m_channels = nullptr;
    QComboBox *m_videoFormat = nullptr, *m_proResProfile = nullptr, *m_videoCRF = nullptr;
    QComboBox *m_frameRate = nullptr, *m_videoChannels = nullptr;
    QCheckBox *m_burnSubtitles = nullptr;
    QComboBox *m_imageFormat = nullptr, *m_imageDimensions = nullptr;
    QSlider *m_imageQuality = nullptr;
    QLabel *m_imageQualityText = nullptr;
    QCheckBox *m_preserveMetadata = nullptr, *m_removeBackground = nullptr;
    QLabel *m_backgroundHint = nullptr;
};
