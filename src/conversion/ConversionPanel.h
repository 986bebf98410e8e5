#pragma once

#include "conversion/ConversionPresetOptions.h"
#include "conversion/MediaConverter.h"
#include "conversion/MediaModel.h"
#include "tools/presets/Presets.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QVBoxLayout;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollArea;
class QSlider;
class QStackedWidget;
class QTimer;
class ShelfManager;
class ShelfProgressState;
class PresetsSection;

// Opens the Convert panel for shelf items (files and folders, resolved URLs in shelf
// order): it scans and probes them in the background ("Scanning files"), then shows the
// options; Convert starts a ConversionExporter job whose outputs go to a converted shelf
// and/or leave the source shelf as the settings say. `onComplete` (optional) receives the
// produced files. Main thread.
void openConvertPanel(ShelfManager &manager, const QUuid &shelfId, const QList<QUrl> &files,
                      ShelfProgressState *progress, std::optional<ConversionPreset> initialPreset = std::nullopt,
                      std::function<void(const QList<QUrl> &)> onComplete = {});

// How a Convert run ended, for the user: the "Conversion Complete" notification when files
// were produced (with the items that stayed on the source shelf), and an alert naming every
// file that produced nothing and why. A run never ends without a word. Main thread.
struct ConversionReport;
void announceConversion(const ConversionReport &report, const QString &sourceShelfName,
                        const QStringList &leftOnShelf);

// Writes the "Save as default" subset of the options to the settings.
void saveConversionDefaults(const ConversionJobOptions &options);

// The options of one Convert run for the files present.
class ConversionOptionsView : public QWidget
{
    Q_OBJECT
public:
    ConversionOptionsView(const QList<ResolvedMediaFile> &files, const QString &sourceShelfName,
                          std::optional<ConversionPreset> initialPreset, QWidget *parent = nullptr);

    const ConversionJobOptions &options() const { return m_options; }
    void setOptions(const ConversionJobOptions &options);
    bool saveAsDefault() const;
    bool canConvert() const;

signals:
    void convertRequested();
    void cancelRequested();
    void layoutChanged();

private:
    void build(const QString &sourceShelfName);
    void refresh();
    QWidget *section(const QString &title, QVBoxLayout **rows);
    QComboBox *bitRateCombo(int *target);
    void chooseOutputFolder();

    QList<ResolvedMediaFile> m_files;
    int m_audio = 0, m_video = 0, m_image = 0;
    ConversionJobOptions m_options;
    bool m_showAdvanced = false;
    bool m_showFileList = false;
    bool m_updating = false;
    QList<std::function<void()>> m_syncers; // push m_options into the widgets

    // widgets whose visibility or text depends on the options
    QWidget *m_bitDepthRow = nullptr, *m_mp3Row = nullptr, *m_aacRow = nullptr, *m_mp3Note = nullptr;
    QLabel *m_noSettingsNote = nullptr;
    QWidget *m_sampleRateRow = nullptr, *m_channelsRow = nullptr;
    QWidget *m_audioSection = nullptr;
    QWidget *m_profileRow = nullptr, *m_qualityRow = nullptr, *m_preserveDurationRow = nullptr;
    QWidget *m_frameRateRow = nullptr, *m_resolutionRow = nullptr, *m_videoChannelsRow = nullptr;
    QWidget *m_burnRow = nullptr, *m_audioOnlyRow = nullptr;
    QLabel *m_resolutionHelp = nullptr;
    QLabel *m_aspectHelp = nullptr;
    QLabel *m_transparencyWarning = nullptr;
    QWidget *m_aspectRow = nullptr, *m_metadataRow = nullptr;
    QLabel *m_mirrorNote = nullptr, *m_overwriteWarning = nullptr, *m_shelfLine = nullptr;
    QWidget *m_folderRow = nullptr;
    QLabel *m_folderLabel = nullptr;
    QPushButton *m_clearFolder = nullptr;
    QListWidget *m_fileList = nullptr;
    QPushButton *m_filesToggle = nullptr;
    QCheckBox *m_saveAsDefault = nullptr;
    QPushButton *m_convertButton = nullptr;
    QLabel *m_convertHint = nullptr;
    PresetsSection *m_presets = nullptr;
};

// The floating panel: loading view first, then the options (480 wide, at most 700 high).
class ConversionOptionsWindowController : public QWidget
{
    Q_OBJECT
public:
    ConversionOptionsWindowController(ShelfManager &manager, const QUuid &shelfId, const QList<QUrl> &files,
                                      ShelfProgressState *progress, std::optional<ConversionPreset> initialPreset,
                                      std::function<void(const QList<QUrl> &)> onComplete);

    // For tests: the options view once scanning is done (nullptr before).
    ConversionOptionsView *optionsView() const { return m_view; }

signals:
    void scanningFinished(int fileCount);

private:
    void showOptions(const QList<ResolvedMediaFile> &files);
    void startConversion();
    void fitToContent();

    ShelfManager &m_manager;
    QUuid m_shelfId;
    QString m_shelfName;
    QList<QUrl> m_items;
    QPointer<ShelfProgressState> m_progress;
    std::optional<ConversionPreset> m_initialPreset;
    std::function<void(const QList<QUrl> &)> m_onComplete;
    QList<ResolvedMediaFile> m_files;
    QStackedWidget *m_stack = nullptr;
    QLabel *m_loadingLabel = nullptr;
    QTimer *m_dotsTimer = nullptr;
    QScrollArea *m_scroll = nullptr;
    ConversionOptionsView *m_view = nullptr;
};
