#include "tools/flatten/FlattenWindow.h"

#include "model/ShelfManager.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "tools/presets/PresetStore.h"
#include "tools/presets/PresetsSection.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QPointer<FlattenWindow> &currentWindow()
{
    static QPointer<FlattenWindow> window;
    return window;
}

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

QLabel *note(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    label->setContentsMargins(22, 0, 0, 4);
    return label;
}

QString chooseFolderDialog(QWidget *parent, const QUrl &start)
{
    QFileDialog dialog(parent, QStringLiteral("Choose where to flatten your shelf files"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Select Folder"));
    if (!start.isEmpty())
        dialog.setDirectory(FilePath::displayPath(start));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

FlattenWindow::FlattenWindow(const QList<ShelfFile> &files, const QString &shelfName,
                             std::optional<FlattenPreset> initialPreset, AppSettings &settings,
                             RemovedFiles onRemoved, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint),
      m_files(files),
      m_shelfName(shelfName),
      m_initialPreset(std::move(initialPreset)),
      m_settings(settings),
      m_onRemoved(std::move(onRemoved))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Flatten to Folder"));
    m_destination = settings.flattenDefaultDestination();
    m_options.duplicateMode = settings.flattenDuplicateMode();
    m_options.operation = settings.flattenOperation();
    buildUi();
    syncControls();
    setFixedWidth(420);
    adjustSize();
}

FlattenWindow *FlattenWindow::open(const QList<ShelfFile> &files, const QString &shelfName,
                                   std::optional<FlattenPreset> initialPreset, AppSettings &settings,
                                   RemovedFiles onRemoved)
{
    if (FlattenWindow *previous = currentWindow())
        previous->close();
    auto *window = new FlattenWindow(files, shelfName, std::move(initialPreset), settings, std::move(onRemoved));
    currentWindow() = window;
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

FlattenWindow *FlattenWindow::current()
{
    return currentWindow();
}

void FlattenWindow::buildUi()
{
    auto *root = new QVBoxLayout(this);
    auto *title = heading(QStringLiteral("Flatten to Folder"), this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    title->setFont(big);
    root->addWidget(title);
    const qsizetype n = m_files.size();
    auto *subtitle = new QLabel(QStringLiteral("%1 item%2 from \"%3\"")
                                    .arg(n)
                                    .arg(n > 1 ? QStringLiteral("s") : QString())
                                    .arg(m_shelfName),
                                this);
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    root->addWidget(subtitle);

    root->addWidget(heading(QStringLiteral("Destination Folder"), this));
    auto *destRow = new QHBoxLayout;
    m_destinationLabel = new QLabel(this);
    m_destinationLabel->setWordWrap(true);
    m_destinationLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *select = new QPushButton(QStringLiteral("Select Folder"), this);
    destRow->addWidget(m_destinationLabel, 1);
    destRow->addWidget(select);
    root->addLayout(destRow);

    root->addWidget(heading(QStringLiteral("When a file already exists at the destination"), this));
    auto *modeGroup = new QButtonGroup(this);
    m_keepBoth = new QRadioButton(QStringLiteral("Keep both (move duplicates to _Duplicates)"), this);
    m_keepNewest = new QRadioButton(QStringLiteral("Keep newest (overwrite older)"), this);
    modeGroup->addButton(m_keepBoth);
    modeGroup->addButton(m_keepNewest);
    root->addWidget(m_keepBoth);
    root->addWidget(note(QStringLiteral("Conflicting files go into a _Duplicates subfolder for review."), this));
    root->addWidget(m_keepNewest);
    root->addWidget(note(QStringLiteral("Compares modification dates — newer file wins."), this));

    root->addWidget(heading(QStringLiteral("After flattening"), this));
    auto *opGroup = new QButtonGroup(this);
    m_move = new QRadioButton(QStringLiteral("Move — remove files from shelf after"), this);
    m_copy = new QRadioButton(QStringLiteral("Copy — originals stay on shelf"), this);
    opGroup->addButton(m_move);
    opGroup->addButton(m_copy);
    root->addWidget(m_move);
    root->addWidget(m_copy);

    m_presets = new PresetsSection(this);
    root->addWidget(m_presets);
    m_saveDefault = new QCheckBox(QStringLiteral("Save these settings as default"), this);
    root->addWidget(m_saveDefault);

    m_result = new QLabel(this);
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_result->hide();
    root->addWidget(m_result);

    auto *buttons = new QHBoxLayout;
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_flattenButton = new QPushButton(this);
    m_flattenButton->setDefault(true);
    auto *busy = new QProgressBar(this);
    busy->setRange(0, 0); // indeterminate
    busy->setTextVisible(false);
    m_flattenStack = new QStackedWidget(this);
    m_flattenStack->addWidget(m_flattenButton);
    m_flattenStack->addWidget(busy);
    m_flattenStack->setFixedWidth(150);
    m_flattenStack->setFixedHeight(m_flattenButton->sizeHint().height());
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    buttons->addWidget(m_flattenStack);
    root->addLayout(buttons);

    connect(select, &QPushButton::clicked, this, &FlattenWindow::chooseFolder);
    auto changed = [this] {
        if (m_syncing)
            return;
        m_options.duplicateMode = m_keepNewest->isChecked() ? FlattenDuplicateMode::overwriteNewest
                                                            : FlattenDuplicateMode::keepForReview;
        m_options.operation = m_move->isChecked() ? FlattenOperation::move : FlattenOperation::copy;
        syncControls();
    };
    for (QRadioButton *r : {m_keepBoth, m_keepNewest, m_move, m_copy})
        connect(r, &QRadioButton::toggled, this, changed);
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    connect(m_flattenButton, &QPushButton::clicked, this, &FlattenWindow::startFlatten);

    m_presets->attach<FlattenPreset>(
        PresetStore::shared(),
        [this](const FlattenPreset &preset) {
            FlattenToolOptions next = m_options;
            PresetRules::applyFlatten(preset, next);
            setOptions(next);
        },
        [this](const QString &name) { return PresetRules::buildFlatten(m_options, name); });
}

void FlattenWindow::syncControls()
{
    m_syncing = true;
    m_destinationLabel->setText(m_destination.isEmpty() ? QStringLiteral("No folder selected")
                                                        : FilePath::displayPath(m_destination));
    m_keepBoth->setChecked(m_options.duplicateMode == FlattenDuplicateMode::keepForReview);
    m_keepNewest->setChecked(m_options.duplicateMode == FlattenDuplicateMode::overwriteNewest);
    m_move->setChecked(m_options.operation == FlattenOperation::move);
    m_copy->setChecked(m_options.operation == FlattenOperation::copy);
    // "&" would mark a mnemonic: doubled, it shows.
    m_flattenButton->setText(QString(flattenButtonTitle()).replace(QLatin1Char('&'), QStringLiteral("&&")));
    m_flattenButton->setEnabled(!m_destination.isEmpty() && m_state != State::busy);
    m_flattenStack->setCurrentIndex(m_state == State::busy ? 1 : 0);
    m_syncing = false;
}

QString FlattenWindow::flattenButtonTitle() const
{
    return m_options.operation == FlattenOperation::move ? QStringLiteral("Flatten & Move")
                                                         : QStringLiteral("Flatten & Copy");
}

void FlattenWindow::setOptions(const FlattenToolOptions &options)
{
    m_options = options;
    syncControls();
}

void FlattenWindow::setDestination(const QUrl &folder)
{
    m_destination = folder;
    syncControls();
}

void FlattenWindow::setSaveAsDefault(bool on)
{
    m_saveDefault->setChecked(on);
}

void FlattenWindow::chooseFolder()
{
    const QString folder = chooseFolderDialog(this, m_destination);
    if (!folder.isEmpty())
        setDestination(FilePath::urlFromPath(folder));
}

QString FlattenWindow::resultLine() const
{
    return m_result->isVisible() || !m_result->text().isEmpty() ? m_result->property("plain").toString()
                                                                 : QString();
}

void FlattenWindow::startFlatten()
{
    if (m_destination.isEmpty() || m_state == State::busy)
        return;
    if (m_saveDefault->isChecked()) {
        m_settings.setFlattenDefaultDestination(m_destination);
        m_settings.setFlattenDuplicateMode(m_options.duplicateMode);
        m_settings.setFlattenOperation(m_options.operation);
    }
    m_state = State::busy;
    m_result->clear();
    m_result->setProperty("plain", QString());
    m_result->hide();
    syncControls();
    QPointer<FlattenWindow> self(this);
    FlattenEngine::shared().flatten(m_files, m_destination, m_options.duplicateMode, m_options.operation,
                                    [self](const FlattenResult &result) {
                                        if (self)
                                            self->onCompleted(result);
                                    });
}

void FlattenWindow::onCompleted(const FlattenResult &result)
{
    m_state = State::finished;
    const QString line = FlattenEngine::summary(result);
    m_result->setProperty("plain", line);
    if (!result.errors.isEmpty()) {
        m_result->setText(QStringLiteral("⚠ ") + line);
        m_result->setStyleSheet(QStringLiteral("color: #d70015;"));
        m_result->show();
    } else {
        m_result->setText(line.isEmpty() ? QString() : QStringLiteral("✓ ") + line);
        m_result->setStyleSheet(QString());
        m_result->setVisible(!line.isEmpty());
        QSet<QUuid> removed;
        if (m_options.operation == FlattenOperation::move)
            for (const ShelfFile &file : m_files)
                removed.insert(file.id);
        if (m_onRemoved)
            m_onRemoved(removed);
        if (!removed.isEmpty()) {
            // The moved items are off the shelf; another run has nothing left to move.
            m_files.clear();
        }
    }
    syncControls();
    adjustSize();
    emit finished(result);
}

void FlattenWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_appliedInitial) {
        m_appliedInitial = true;
        if (m_initialPreset) {
            FlattenToolOptions next = m_options;
            PresetRules::applyFlatten(*m_initialPreset, next);
            setOptions(next);
        }
    }
}

FlattenWindow *openFlatten(ShelfManager &manager, const QUuid &shelfId, const QList<QUuid> &fileIds,
                           std::optional<FlattenPreset> initialPreset)
{
    const Shelf *shelf = manager.shelf(shelfId);
    if (!shelf)
        return nullptr;
    QList<ShelfFile> files;
    const QSet<QUuid> wanted(fileIds.begin(), fileIds.end());
    for (const ShelfFile &file : shelf->files)
        if (wanted.isEmpty() || wanted.contains(file.id))
            files.append(file);
    QPointer<ShelfManager> guard(&manager);
    return FlattenWindow::open(files, shelf->name, std::move(initialPreset), AppSettings::instance(),
                               [guard, shelfId](const QSet<QUuid> &removed) {
                                   if (guard && !removed.isEmpty())
                                       guard->removeFiles(shelfId, removed, /*deleteOwnedFiles=*/false);
                               });
}

// ---- settings section ----

FlattenSettingsSection::FlattenSettingsSection(AppSettings &settings, QWidget *parent)
    : QWidget(parent), m_settings(settings)
{
    auto *root = new QVBoxLayout(this);
    root->addWidget(heading(QStringLiteral("Flatten to Folder"), this));

    auto *destRow = new QHBoxLayout;
    destRow->addWidget(new QLabel(QStringLiteral("Default destination:"), this));
    m_destination = new QLabel(this);
    m_destination->setTextInteractionFlags(Qt::TextSelectableByMouse);
    destRow->addWidget(m_destination, 1);
    auto *choose = new QPushButton(QStringLiteral("Select Folder"), this);
    auto *clear = new QPushButton(QStringLiteral("Clear"), this);
    destRow->addWidget(choose);
    destRow->addWidget(clear);
    root->addLayout(destRow);

    root->addWidget(new QLabel(QStringLiteral("When a file already exists at the destination"), this));
    auto *modeGroup = new QButtonGroup(this);
    m_keepBoth = new QRadioButton(QStringLiteral("Keep both (move duplicates to _Duplicates)"), this);
    m_keepNewest = new QRadioButton(QStringLiteral("Keep newest (overwrite older)"), this);
    modeGroup->addButton(m_keepBoth);
    modeGroup->addButton(m_keepNewest);
    root->addWidget(m_keepBoth);
    root->addWidget(m_keepNewest);

    root->addWidget(new QLabel(QStringLiteral("After flattening"), this));
    auto *opGroup = new QButtonGroup(this);
    m_move = new QRadioButton(QStringLiteral("Move — remove files from shelf after"), this);
    m_copy = new QRadioButton(QStringLiteral("Copy — originals stay on shelf"), this);
    opGroup->addButton(m_move);
    opGroup->addButton(m_copy);
    root->addWidget(m_move);
    root->addWidget(m_copy);

    connect(choose, &QPushButton::clicked, this, [this] {
        const QString folder = chooseFolderDialog(this, m_settings.flattenDefaultDestination());
        if (!folder.isEmpty())
            m_settings.setFlattenDefaultDestination(FilePath::urlFromPath(folder));
    });
    connect(clear, &QPushButton::clicked, this, [this] { m_settings.setFlattenDefaultDestination(QUrl()); });
    connect(m_keepBoth, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_settings.setFlattenDuplicateMode(FlattenDuplicateMode::keepForReview);
    });
    connect(m_keepNewest, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_settings.setFlattenDuplicateMode(FlattenDuplicateMode::overwriteNewest);
    });
    connect(m_move, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_settings.setFlattenOperation(FlattenOperation::move);
    });
    connect(m_copy, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_settings.setFlattenOperation(FlattenOperation::copy);
    });
    connect(&m_settings, &AppSettings::flattenDefaultDestinationChanged, this, &FlattenSettingsSection::sync);
    connect(&m_settings, &AppSettings::flattenDuplicateModeChanged, this, &FlattenSettingsSection::sync);
    connect(&m_settings, &AppSettings::flattenOperationChanged, this, &FlattenSettingsSection::sync);
    sync();
}

void FlattenSettingsSection::sync()
{
    const QUrl dest = m_settings.flattenDefaultDestination();
    m_destination->setText(dest.isEmpty() ? QStringLiteral("No folder selected") : FilePath::displayPath(dest));
    const QSignalBlocker b1(m_keepBoth), b2(m_keepNewest), b3(m_move), b4(m_copy);
    m_keepBoth->setChecked(m_settings.flattenDuplicateMode() == FlattenDuplicateMode::keepForReview);
    m_keepNewest->setChecked(m_settings.flattenDuplicateMode() == FlattenDuplicateMode::overwriteNewest);
    m_move->setChecked(m_settings.flattenOperation() == FlattenOperation::move);
    m_copy->setChecked(m_settings.flattenOperation() == FlattenOperation::copy);
}
