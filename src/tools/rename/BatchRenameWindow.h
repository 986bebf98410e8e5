#pragma once

#include "tools/rename/BatchRenameModel.h"

#include <QFrame>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableView;
class PresetsSection;
class ShelfManager;

// The Batch Rename panel: options (Simple and Advanced faces), presets, a live preview,
// and Cancel / Reset / Apply. One at a time: opening another closes the previous one.
class BatchRenameWindow : public QWidget
{
    Q_OBJECT
public:
    using ApplyCallback = std::function<void(const RenamePlan &)>;

    BatchRenameWindow(const QList<RenameFile> &files, std::optional<RenamePreset> initialPreset,
                      ApplyCallback apply, std::function<void()> onClose = {},
                      QWidget *parent = nullptr);
    ~BatchRenameWindow() override;

    // Shows a new window, closing the one already open.
    static BatchRenameWindow *open(const QList<RenameFile> &files,
                                   std::optional<RenamePreset> initialPreset, ApplyCallback apply,
                                   std::function<void()> onClose = {});
    static BatchRenameWindow *current();

    BatchRenameModel *model() const { return m_model; }
    void apply(); // what the "Apply" button does
    QWidget *quickReference() const { return m_reference; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildUi();
    void sizeToContent();
    QWidget *buildQuickReference();
    void refresh(); // the model's state into the controls

    BatchRenameModel *m_model;
    ApplyCallback m_apply;
    std::function<void()> m_onClose;
    bool m_syncing = false;
    QList<std::function<void()>> m_syncers; // push the options into the controls

    QButtonGroup *m_face = nullptr;
    QWidget *m_advancedBox = nullptr;
    QLineEdit *m_find = nullptr;
    QLineEdit *m_replace = nullptr;
    QCheckBox *m_useRegex = nullptr;
    QCheckBox *m_caseSensitive = nullptr;
    QComboBox *m_caseMode = nullptr;
    QLabel *m_regexFeedback = nullptr;
    QLineEdit *m_prefix = nullptr;
    QLineEdit *m_suffix = nullptr;
    QSpinBox *m_trimHead = nullptr;
    QSpinBox *m_trimTail = nullptr;
    QCheckBox *m_useCounter = nullptr;
    QWidget *m_counterBox = nullptr;
    QComboBox *m_counterPosition = nullptr;
    QLineEdit *m_counterSep = nullptr;
    QSpinBox *m_counterStart = nullptr;
    QSpinBox *m_counterStep = nullptr;
    QSpinBox *m_counterPad = nullptr;
    QLabel *m_sequence = nullptr;
    QLabel *m_example = nullptr;
    QCheckBox *m_keepExt = nullptr;
    PresetsSection *m_presets = nullptr;
    QLabel *m_hoverLine = nullptr;
    QTableView *m_table = nullptr;
    QFrame *m_reference = nullptr;
    class QSplitter *m_split = nullptr;
    class QScrollArea *m_optionsScroll = nullptr;
};

// Opens Batch Rename for files of a shelf (all of them when `fileIds` is empty). Apply
// renames through ShelfRename::performRename and shows "Some files could not be renamed"
// when there were failures.
BatchRenameWindow *openBatchRename(ShelfManager &manager, const QUuid &shelfId,
                                   const QList<QUuid> &fileIds,
                                   std::optional<RenamePreset> initialPreset = std::nullopt);

// The warning alert listing rename failures, queued on the main thread.
void presentRenameErrors(const QStringList &errors);
