#pragma once

#include "tools/archive/ArchiveRunner.h"
#include "tools/presets/PresetRules.h"

#include <QDialog>
#include <QPointer>
#include <QUrl>
#include <QUuid>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QWidget;
class PresetsSection;
class ShelfManager;
class ShelfProgressState;

// The desktop side of an archive run: file dialogs, the file manager and alerts. Panels are
// window-modal dialogs opened asynchronously, so the event loop keeps running.
class DesktopArchiveHost : public QObject, public ArchiveRunHost
{
    Q_OBJECT
public:
    explicit DesktopArchiveHost(QObject *parent = nullptr) : QObject(parent) {}
    void chooseSaveLocation(const QString &proposedFileName, const QString &message, ArchiveFormat format,
                            std::function<void(std::optional<QUrl>)> done) override;
    void chooseDestinationFolder(std::function<void(std::optional<QUrl>)> done) override;
    void reveal(const QList<QUrl> &urls) override;
    void showAlert(const QString &title, const QString &message) override;
};

// Shows files in the file manager (org.freedesktop.FileManager1), or opens their folder
// when no file manager answers.
void revealInFileManager(const QList<QUrl> &urls);

// The Zip window ("Export as Archive"): format, mode, originals, compression, encryption,
// presets and defaults; "Create archive" starts the run and closes the window. Progress goes
// to the shelf's progress state, whose cancel reaches the run.
class ZipWindow : public QDialog
{
    Q_OBJECT
public:
    ZipWindow(const QList<QUrl> &files, const QString &archiveName, ShelfProgressState *progress,
              QWidget *parent = nullptr);

    ArchiveToolOptions options() const { return m_options; }
    void setOptions(const ArchiveToolOptions &options);
    // Applied once, when the window first appears (favorites open the window with one).
    void setInitialPreset(const ArchivePreset &preset);

    // Exposed for tests.
    QPushButton *createButton() const { return m_create; }
    QLabel *passwordHint() const { return m_enterPassword; }
    QLineEdit *passwordField() const { return m_password; }
    QCheckBox *encryptSwitch() const { return m_encrypt; }
    QAbstractButton *formatButton(ArchiveFormat format) const;
    void setAdvanced(bool advanced);

signals:
    // The run started by "Create archive" (it deletes itself when done).
    void runStarted(ArchiveRunner *runner);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void startRun();

    QList<QUrl> m_files;
    QString m_archiveName;
    QPointer<ShelfProgressState> m_progress;
    ArchiveToolOptions m_options;
    std::optional<ArchivePreset> m_initialPreset;
    bool m_editingPassword = true;

    QButtonGroup *m_face;
    QButtonGroup *m_format;
    QButtonGroup *m_mode;
    QButtonGroup *m_level;
    QWidget *m_advancedPart;
    QWidget *m_levelRow;
    QLabel *m_sevenZipNote;
    QCheckBox *m_removeOriginals;
    QCheckBox *m_encrypt;
    QLabel *m_encryptNote;
    QWidget *m_passwordEditor;
    QLineEdit *m_password;
    QToolButton *m_showPassword;
    QWidget *m_passwordSummary;
    QLabel *m_enterPassword;
    PresetsSection *m_presets;
    QCheckBox *m_saveDefaults;
    QPushButton *m_create;
};

// Opens the Zip window for files of a shelf (the shelf menu's "Zip…"). The archive is named
// after the file when there is one, else after the shelf.
ZipWindow *openZipWindow(ShelfManager &manager, const QUuid &shelfId, const QList<QUrl> &files,
                         ShelfProgressState *progress, QWidget *parent = nullptr);
