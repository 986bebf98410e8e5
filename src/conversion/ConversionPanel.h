#pragma once

#include "conversion/MediaModel.h"
#include "tools/presets/Presets.h"

#include <QList>
#include <QPointer>
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
class QStackedWidget;
class QTimer;
class ConversionOptionsModel;
class ShelfManager;
class ShelfProgressState;

// Opens the Convert panel for shelf items (files and folders, resolved URLs in shelf
// order): it scans and probes them in the background ("Scanning files"), then shows the
// options; Convert starts a ConversionExporter job whose outputs go to a converted shelf
// and/or leave the source shelf as the settings say. `onComplete` (optional) receives the
// produced files. Main thread.
void openConvertPanel(ShelfManager &manager, const QUuid &shelfId, const QList<QUrl> &files,
                      ShelfProgressState *progress, std::optional<ConversionPreset> initialPreset = std::nullopt,
                      std::function<void(const QList<QUrl> &)> onComplete = {});

// Tells the user how a Convert run ended: the "Conversion Complete" notification and/or the
// alert naming every file that produced nothing (see settleConversionRun). Main thread.
struct ConversionAnnouncement;
void announceConversion(const ConversionAnnouncement &announcement);

// The options of one Convert run, laid out for the files present and bound to the model.
class ConversionOptionsView : public QWidget
{
    Q_OBJECT
public:
    explicit ConversionOptionsView(ConversionOptionsModel *model, QWidget *parent = nullptr);

    ConversionOptionsModel *model() const { return m_model; }

signals:
    void convertRequested();
    void cancelRequested();
    void layoutChanged();

private:
    void build();
    void buildAudioSection(QVBoxLayout *main);
    void buildVideoSection(QVBoxLayout *main);
    void buildImageSection(QVBoxLayout *main);
    void buildOutputSection(QVBoxLayout *main);
    void refresh(); // the model's state into the widgets
    QWidget *section(const QString &title, QVBoxLayout **rows);

    ConversionOptionsModel *m_model;
    bool m_syncing = false;
    QList<std::function<void()>> m_syncers; // push the options into the widgets

    // widgets whose visibility, text or state follow the model
    QWidget *m_audioSection = nullptr;
    QWidget *m_sampleRateRow = nullptr, *m_bitDepthRow = nullptr, *m_channelsRow = nullptr;
    QWidget *m_mp3Row = nullptr, *m_mp3Note = nullptr, *m_aacRow = nullptr;
    QLabel *m_noSettingsNote = nullptr;
    QWidget *m_profileRow = nullptr, *m_qualityRow = nullptr, *m_frameRateRow = nullptr;
    QWidget *m_preserveDurationRow = nullptr, *m_resolutionRow = nullptr, *m_videoChannelsRow = nullptr;
    QWidget *m_burnRow = nullptr;
    QLabel *m_resolutionHelp = nullptr;
    QLabel *m_qualityPercent = nullptr;
    QLabel *m_aspectHelp = nullptr;
    QCheckBox *m_removeBackground = nullptr;
    QLabel *m_backgroundHint = nullptr;
    QWidget *m_modelDownload = nullptr;
    QLabel *m_transparencyWarning = nullptr;
    QLabel *m_mirrorNote = nullptr, *m_overwriteWarning = nullptr, *m_shelfLine = nullptr;
    QWidget *m_folderRow = nullptr;
    QLabel *m_folderLabel = nullptr;
    QPushButton *m_clearFolder = nullptr;
    QListWidget *m_fileList = nullptr;
    QPushButton *m_filesToggle = nullptr;
    QPushButton *m_convertButton = nullptr;
    QLabel *m_convertHint = nullptr;
};

// The floating panel: loading view first, then the options (480 wide, at most 700 high).
class ConversionOptionsWindowController : public QWidget
{
    Q_OBJECT
public:
    ConversionOptionsWindowController(ShelfManager &manager, const QUuid &shelfId, const QList<QUrl> &files,
                                      ShelfProgressState *progress, std::optional<ConversionPreset> initialPreset,
                                      std::function<void(const QList<QUrl> &)> onComplete);

    // For tests: the options view and its model once scanning is done (nullptr before).
    ConversionOptionsView *optionsView() const { return m_view; }
    ConversionOptionsModel *optionsModel() const { return m_model; }

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
    ConversionOptionsModel *m_model = nullptr;
    ConversionOptionsView *m_view = nullptr;
};
