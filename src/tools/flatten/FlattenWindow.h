#pragma once

#include "model/Shelf.h"
#include "tools/flatten/FlattenEngine.h"
#include "tools/presets/PresetRules.h"

#include <QPointer>
#include <QSet>
#include <QWidget>

#include <functional>
#include <optional>

class AppSettings;
class QAbstractButton;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class PresetsSection;
class ShelfManager;

// The Flatten to Folder panel: destination, duplicate policy, copy or move, presets,
// "Save these settings as default", and the flatten button with its result line. Runs the
// engine in the background; the window stays responsive. One at a time.
class FlattenWindow : public QWidget
{
    Q_OBJECT
public:
    // Called after every run without errors with the files that left the shelf: all the
    // window's files in move mode, none in copy mode.
    using RemovedFiles = std::function<void(const QSet<QUuid> &fileIds)>;

    FlattenWindow(const QList<ShelfFile> &files, const QString &shelfName,
                  std::optional<FlattenPreset> initialPreset, AppSettings &settings,
                  RemovedFiles onRemoved, QWidget *parent = nullptr);

    static FlattenWindow *open(const QList<ShelfFile> &files, const QString &shelfName,
                               std::optional<FlattenPreset> initialPreset, AppSettings &settings,
                               RemovedFiles onRemoved);
    static FlattenWindow *current();

    enum class State { idle, busy, finished };
    State state() const { return m_state; }

    FlattenToolOptions options() const { return m_options; }
    void setOptions(const FlattenToolOptions &options);
    QUrl destination() const { return m_destination; }
    void setDestination(const QUrl &folder);
    void setSaveAsDefault(bool on);

    // What the flatten button does (nothing without a destination or while busy).
    void startFlatten();
    QString resultLine() const;
    QString flattenButtonTitle() const;

signals:
    void finished(const FlattenResult &result);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildUi();
    void syncControls();
    void chooseFolder();
    void onCompleted(const FlattenResult &result);

    QList<ShelfFile> m_files;
    QString m_shelfName;
    std::optional<FlattenPreset> m_initialPreset;
    AppSettings &m_settings;
    RemovedFiles m_onRemoved;
    FlattenToolOptions m_options;
    QUrl m_destination;
    State m_state = State::idle;
    bool m_appliedInitial = false;
    bool m_syncing = false;

    QLabel *m_destinationLabel = nullptr;
    QRadioButton *m_keepBoth = nullptr;
    QRadioButton *m_keepNewest = nullptr;
    QRadioButton *m_move = nullptr;
    QRadioButton *m_copy = nullptr;
    QCheckBox *m_saveDefault = nullptr;
    PresetsSection *m_presets = nullptr;
    QLabel *m_result = nullptr;
    QPushButton *m_flattenButton = nullptr;
    QStackedWidget *m_flattenStack = nullptr;
};

// Opens Flatten to Folder for files of a shelf (all when `fileIds` is empty). After a
// move without errors the files leave the shelf (their entries only: nothing is deleted).
FlattenWindow *openFlatten(ShelfManager &manager, const QUuid &shelfId, const QList<QUuid> &fileIds,
                           std::optional<FlattenPreset> initialPreset = std::nullopt);

// The "Tools" settings section for the flatten defaults (destination, duplicate policy,
// operation), bound to AppSettings; the settings window embeds it.
class FlattenSettingsSection : public QWidget
{
    Q_OBJECT
public:
    explicit FlattenSettingsSection(AppSettings &settings, QWidget *parent = nullptr);

private:
    void sync();

    AppSettings &m_settings;
    QLabel *m_destination = nullptr;
    QRadioButton *m_keepBoth = nullptr;
    QRadioButton *m_keepNewest = nullptr;
    QRadioButton *m_copy = nullptr;
    QRadioButton *m_move = nullptr;
};
