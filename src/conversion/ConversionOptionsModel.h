#pragma once

#include "conversion/ConversionExporter.h"
#include "conversion/MediaConverter.h"
#include "conversion/MediaModel.h"
#include "tools/presets/Presets.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class QTimer;

// The state of the Convert panel once its files are scanned, and every rule of what it
// shows: which sections and rows the chosen formats and the present media call for, the
// texts of notes and warnings, whether Convert may run and why not, presets and defaults.
// The panel (ConversionPanel) lays out widgets, binds them to this and forwards the user's
// actions; `changed` tells it to read everything again.
class ConversionOptionsModel : public QObject
{
    Q_OBJECT
public:
    // The options start from the stored defaults; `initialPreset` is applied once, here.
    ConversionOptionsModel(const QList<ResolvedMediaFile> &files, const QString &sourceShelfName,
                           const std::optional<ConversionPreset> &initialPreset, QObject *parent = nullptr);
    ~ConversionOptionsModel() override;

    // ---- before the options: the scan ----
    // Gathers and probes the media of shelf items and loads the media modules they need.
    // Blocking: for a worker thread.
    static QList<ResolvedMediaFile> scan(const QList<QUrl> &items);
    // What the panel shows instead of the options once the scan is done: "No Supported Media
    // Files", or "Media Support Unavailable" with the reasons; nothing when the options may show.
    struct Alert {
        QString title;
        QString text;
    };
    static std::optional<Alert> scanAlert(const QList<ResolvedMediaFile> &files);

    // ---- inputs ----
    const QList<ResolvedMediaFile> &files() const { return m_files; }
    int audioCount() const { return m_audio; }
    int videoCount() const { return m_video; }
    int imageCount() const { return m_image; }
    QString sourceShelfName() const { return m_sourceShelfName; }

    // ---- state ----
    const ConversionJobOptions &options() const { return m_options; }
    // An image format this machine cannot write becomes the first writable one (when images
    // are present: their scan loaded the image module).
    void setOptions(const ConversionJobOptions &options);
    template <typename T>
    void setOption(T ConversionJobOptions::*field, const T &value)
    {
        ConversionJobOptions next = m_options;
        next.*field = value;
        setOptions(next);
    }
    bool showAdvanced() const { return m_showAdvanced; }
    void setShowAdvanced(bool on);
    bool showFileList() const { return m_showFileList; }
    void setShowFileList(bool on);
    bool saveAsDefault() const { return m_saveAsDefault; }
    void setSaveAsDefault(bool on);

    // The output folder: where "Select Output Folder" starts (the chosen folder, else home),
    // choosing one, and "Clear".
    QString outputFolderDialogStart() const;
    void setOutputFolder(const QString &path);
    void clearOutputFolder();

    // Presets: applying one (leniently, over the current options) and the record to save.
    void applyPreset(const ConversionPreset &preset);
    ConversionPreset presetNamed(const QString &name) const;

    // ---- what the view shows ----
    // The header: "2 audio · 1 video · 3 images".
    QString countsText() const;
    // One line per file in the "FILES" list: its path below the selection and what the probe
    // found ("unreadable" when nothing).
    static QString fileSummary(const ResolvedMediaFile &file);
    QString filesToggleText() const;
    QString convertButtonText() const;

    // The sections the view builds: AUDIO for audio files and for videos (their "Extract
    // audio only" uses it), VIDEO and IMAGES for their files.
    bool hasAudioSection() const { return m_audio > 0 || m_video > 0; }
    bool hasVideoSection() const { return m_video > 0; }
    bool hasImageSection() const { return m_image > 0; }

    // Which sections and rows show for the current options.
    struct Visibility {
        bool audioSection = false;
        bool sampleRate = false, bitDepth = false, audioChannels = false;
        bool mp3Bitrate = false, aacBitrate = false, noAudioSettings = false;
        bool proResProfile = false, videoQuality = false, frameRate = false, preserveDuration = false;
        bool resolution = false, resolutionHelp = false, videoChannels = false, burnSubtitles = false;
        bool aspectHelp = false, transparencyWarning = false;
        bool mirrorNote = false, overwriteWarning = false, outputFolderRow = false;
        bool convertedShelfLine = false;
    };
    Visibility visibility() const;

    // "No additional settings for WAV."
    QString noAudioSettingsText() const;
    // Which MP3 encoder will run, or that none is installed.
    QString mp3EncoderNote() const;
    // "90%" beside the quality slider.
    QString imageQualityText() const;
    QString aspectHelpText() const;
    QString transparencyWarningText() const;
    QString outputFolderText() const;
    // "Converted files will appear on a new shelf: "Music — Converted"".
    QString convertedShelfText() const;

    // "Remove background": possible here, or the hint why not; whether to offer the model's
    // download (not possible and no model installed). Asked again after a download.
    bool backgroundRemovalAvailable() const { return m_backgroundRemoval; }
    QString backgroundRemovalHint() const;
    bool offersModelDownload() const;
    void recheckBackgroundRemoval();

    // Convert runs only with a folder to write into (or when overwriting); otherwise the view
    // shows the reason by the disabled button.
    bool canConvert() const;
    QString convertBlockedReason() const;

    // What pressing Convert does before the job starts: stores the options as the defaults
    // when "Save as default" is on, makes the staging folder and looks up the MP3 encoder.
    // Nothing when Convert may not run.
    std::optional<ConversionExporter::Job> prepareJob();

signals:
    void changed();

private:
    // An unused network is freed after a while: keep it while the option is on here.
    void keepBackgroundRemovalWarm();

    QList<ResolvedMediaFile> m_files;
    int m_audio = 0, m_video = 0, m_image = 0;
    QString m_sourceShelfName;
    QString m_lamePath;
    ConversionJobOptions m_options;
    bool m_showAdvanced = false;
    bool m_showFileList = false;
    bool m_saveAsDefault = false;
    bool m_backgroundRemoval = false;
    QTimer *m_keepWarm = nullptr;
};
