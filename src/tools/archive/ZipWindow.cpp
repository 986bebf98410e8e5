#include "tools/archive/ZipWindow.h"

#include "model/ShelfManager.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "settings/password/PasswordGenerator.h"
#include "tools/archive/ArchiveFileOps.h"
#include "tools/presets/PresetStore.h"
#include "tools/presets/PresetsSection.h"
#include "tools/progress/ShelfProgressState.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

// ---------------------------------------------------------------------------------------------
// Desktop host

void revealInFileManager(const QList<QUrl> &urls)
{
    if (urls.isEmpty())
        return;
    QStringList uris;
    for (const QUrl &u : urls)
        uris << QString::fromLatin1(u.toEncoded());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    const QUrl folder = FilePath::urlFromBytes(
        FilePath::bytes(urls.first()).left(FilePath::bytes(urls.first()).lastIndexOf('/') + 1));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, folder] {
        if (watcher->isError())
            QDesktopServices::openUrl(folder);
        watcher->deleteLater();
    });
}

void DesktopArchiveHost::chooseSaveLocation(const QString &proposedFileName, const QString &message,
                                            ArchiveFormat format, std::function<void(std::optional<QUrl>)> done)
{
    auto *dialog = new QFileDialog(nullptr, message);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(QStringLiteral("%1 archive (*.%2)").arg(displayLabel(format), fileExtension(format)));
    dialog->setDefaultSuffix(fileExtension(format));
    dialog->setDirectory(QDir::homePath());
    dialog->selectFile(proposedFileName);
    auto answered = std::make_shared<bool>(false);
    connect(dialog, &QFileDialog::fileSelected, dialog, [done, answered](const QString &file) {
        *answered = true;
        done(FilePath::urlFromPath(file));
    });
    connect(dialog, &QFileDialog::finished, dialog, [done, answered](int) {
        if (!*answered) {
            *answered = true;
            done(std::nullopt);
        }
    });
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
}

void DesktopArchiveHost::chooseDestinationFolder(std::function<void(std::optional<QUrl>)> done)
{
    auto *dialog = new QFileDialog(nullptr, QStringLiteral("Choose destination folder for individual archives"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Choose Folder"));
    dialog->setDirectory(QDir::homePath());
    auto answered = std::make_shared<bool>(false);
    connect(dialog, &QFileDialog::fileSelected, dialog, [done, answered](const QString &folder) {
        *answered = true;
        done(FilePath::urlFromPath(folder));
    });
    connect(dialog, &QFileDialog::finished, dialog, [done, answered](int) {
        if (!*answered) {
            *answered = true;
            done(std::nullopt);
        }
    });
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
}

void DesktopArchiveHost::reveal(const QList<QUrl> &urls)
{
    revealInFileManager(urls);
}

void DesktopArchiveHost::showAlert(const QString &title, const QString &message)
{
    auto *box = new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// ---------------------------------------------------------------------------------------------
// The window

namespace {

QLabel *heading(const QString &text)
{
    auto *label = new QLabel(text);
    QFont f = label->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 0.85);
    label->setFont(f);
    return label;
}

int passwordFieldWidth(const QFontMetrics &fm)
{
    // Frame and text margins of a line edit, plus 16 of the widest characters.
    return fm.horizontalAdvance(QString(16, QLatin1Char('W'))) + 16;
}

QLabel *note(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

ZipWindow::ZipWindow(const QList<QUrl> &files, const QString &archiveName, ShelfProgressState *progress,
                     QWidget *parent)
    : QDialog(parent), m_files(files), m_archiveName(archiveName), m_progress(progress)
{
    setWindowTitle(QStringLiteral("Export as Archive"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);

    auto *title = new QLabel(QStringLiteral("<b>Export as Archive</b><br>%1 · %2")
                                 .arg(files.size() == 1 ? QStringLiteral("1 file")
                                                        : QStringLiteral("%1 files").arg(files.size()),
                                      archiveName.toHtmlEscaped()));
    layout->addWidget(title);

    // Faces.
    m_face = new QButtonGroup(this);
    auto *faceRow = new QHBoxLayout;
    int id = 0;
    for (const QString &face : {QStringLiteral("Simple"), QStringLiteral("Advanced")}) {
        auto *b = new QPushButton(face);
        b->setCheckable(true);
        m_face->addButton(b, id++);
        faceRow->addWidget(b);
    }
    faceRow->addStretch(1);
    layout->addLayout(faceRow);

    // Format.
    layout->addWidget(heading(QStringLiteral("FORMAT")));
    m_format = new QButtonGroup(this);
    auto *formatRow = new QHBoxLayout;
    for (ArchiveFormat f : {ArchiveFormat::zip, ArchiveFormat::sevenZip, ArchiveFormat::tarGz}) {
        auto *b = new QRadioButton(displayLabel(f));
        m_format->addButton(b, int(f));
        formatRow->addWidget(b);
    }
    formatRow->addStretch(1);
    layout->addLayout(formatRow);

    // Mode.
    m_mode = new QButtonGroup(this);
    auto *modeRow = new QHBoxLayout;
    auto *allInOne = new QRadioButton(QStringLiteral("All into one zip"));
    auto *perFile = new QRadioButton(QStringLiteral("One zip per file"));
    m_mode->addButton(allInOne, 0);
    m_mode->addButton(perFile, 1);
    modeRow->addWidget(allInOne);
    modeRow->addWidget(perFile);
    modeRow->addStretch(1);
    layout->addLayout(modeRow);

    m_removeOriginals = new QCheckBox(QStringLiteral("Remove originals after zipping"));
    layout->addWidget(m_removeOriginals);
    layout->addWidget(note(QStringLiteral("Moves files to Trash once the archive is saved")));

    // Advanced part.
    m_advancedPart = new QWidget;
    auto *adv = new QVBoxLayout(m_advancedPart);
    adv->setContentsMargins(0, 0, 0, 0);
    m_levelRow = new QWidget;
    auto *levelLayout = new QVBoxLayout(m_levelRow);
    levelLayout->setContentsMargins(0, 0, 0, 0);
    levelLayout->addWidget(heading(QStringLiteral("COMPRESSION")));
    m_level = new QButtonGroup(this);
    auto *levelRow = new QHBoxLayout;
    for (CompressionLevel l : allCases<CompressionLevel>()) {
        auto *b = new QRadioButton(displayLabel(l));
        m_level->addButton(b, int(l));
        levelRow->addWidget(b);
    }
    levelRow->addStretch(1);
    levelLayout->addLayout(levelRow);
    adv->addWidget(m_levelRow);
    m_sevenZipNote = note(QStringLiteral("7-Zip manages compression internally."));
    adv->addWidget(m_sevenZipNote);

    m_encrypt = new QCheckBox(QStringLiteral("Encrypt with password"));
    adv->addWidget(m_encrypt);
    m_encryptNote = note(QStringLiteral("Encryption is only available with 7Z format."));
    adv->addWidget(m_encryptNote);

    m_passwordEditor = new QWidget;
    auto *editor = new QVBoxLayout(m_passwordEditor);
    editor->setContentsMargins(0, 0, 0, 0);
    auto *pwRow = new QHBoxLayout;
    m_password = new QLineEdit;
    m_password->setPlaceholderText(QStringLiteral("Password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_showPassword = new QToolButton;
    m_showPassword->setText(QStringLiteral("Show"));
    m_showPassword->setCheckable(true);
    m_showPassword->setToolTip(QStringLiteral("Show or hide the password"));
    auto *generate = new QToolButton;
    generate->setText(QStringLiteral("Generate"));
    generate->setToolTip(QStringLiteral("Generate a new password"));
    auto *copy = new QPushButton(QStringLiteral("Copy password"));
    m_password->setAccessibleName(QStringLiteral("Password"));
    // Wide enough for a whole generated password (16 characters, the widest ones counted).
    m_password->setMinimumWidth(passwordFieldWidth(m_password->fontMetrics()));
    pwRow->addWidget(m_password, 1);
    pwRow->addWidget(m_showPassword);
    pwRow->addWidget(generate);
    editor->addLayout(pwRow);
    auto *copyRow = new QHBoxLayout;
    copyRow->addWidget(copy);
    copyRow->addStretch(1);
    editor->addLayout(copyRow);
    auto *warning = new QLabel(QStringLiteral("⚠️ Save your password — encrypted archives cannot be recovered."));
    warning->setWordWrap(true);
    editor->addWidget(warning);
    adv->addWidget(m_passwordEditor);

    m_passwordSummary = new QWidget;
    auto *summary = new QHBoxLayout(m_passwordSummary);
    summary->setContentsMargins(0, 0, 0, 0);
    summary->addWidget(new QLabel(QStringLiteral("Password encryption is enabled")));
    auto *change = new QPushButton(QStringLiteral("Change"));
    summary->addWidget(change);
    summary->addStretch(1);
    adv->addWidget(m_passwordSummary);

    m_presets = new PresetsSection;
    adv->addWidget(m_presets);
    layout->addWidget(m_advancedPart);

    m_saveDefaults = new QCheckBox(QStringLiteral("Save as my defaults"));
    layout->addWidget(m_saveDefaults);

    m_enterPassword = new QLabel(QStringLiteral("Enter a password first"));
    m_enterPassword->setStyleSheet(QStringLiteral("color: #d33;"));
    layout->addWidget(m_enterPassword);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    m_create = new QPushButton(QStringLiteral("Create archive"));
    m_create->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(m_create);
    layout->addLayout(buttons);

    // Start from the saved defaults.
    AppSettings &settings = AppSettings::instance();
    ArchiveToolOptions initial;
    initial.format = settings.archiveFormat();
    initial.compressionLevel = settings.compressionLevel();
    initial.usePassword = settings.archivePasswordEnabled() && initial.format == ArchiveFormat::sevenZip;
    initial.password = settings.archivePassword();
    m_face->button(0)->setChecked(true);
    setOptions(initial);
    setAdvanced(false);

    // Presets.
    m_presets->attach<ArchivePreset>(
        PresetStore::shared(),
        [this](const ArchivePreset &preset) {
            ArchiveToolOptions o = m_options;
            PresetRules::applyArchive(preset, o);
            setOptions(o);
        },
        [this](const QString &name) { return PresetRules::buildArchive(m_options, name); });

    // Controls → options.
    connect(m_face, &QButtonGroup::idClicked, this, [this](int face) { setAdvanced(face == 1); });
    connect(m_format, &QButtonGroup::idClicked, this, [this](int f) {
        m_options.format = ArchiveFormat(f);
        if (m_options.format != ArchiveFormat::sevenZip)
            m_options.usePassword = false;
        refresh();
    });
    connect(m_mode, &QButtonGroup::idClicked, this, [this](int m) {
        m_options.zipIndividually = m == 1;
        refresh();
    });
    connect(m_level, &QButtonGroup::idClicked, this, [this](int l) {
        m_options.compressionLevel = CompressionLevel(l);
        refresh();
    });
    connect(m_removeOriginals, &QCheckBox::toggled, this, [this](bool on) { m_options.removeOriginals = on; });
    connect(m_encrypt, &QCheckBox::toggled, this, [this](bool on) {
        m_options.usePassword = on;
        if (on && m_options.password.isEmpty()) {
            // Offer a generated password straight away.
            m_options.password = generatePasswordFromSettings();
            m_editingPassword = true;
        }
        refresh();
    });
    connect(m_password, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_options.password = text;
        refresh();
    });
    connect(m_showPassword, &QToolButton::toggled, this, [this](bool shown) {
        m_password->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
        m_showPassword->setText(shown ? QStringLiteral("Hide") : QStringLiteral("Show"));
    });
    connect(generate, &QToolButton::clicked, this, [this] {
        m_options.password = generatePasswordFromSettings();
        refresh();
    });
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_options.password); });
    connect(change, &QPushButton::clicked, this, [this] {
        m_editingPassword = true;
        refresh();
        m_password->setFocus();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_create, &QPushButton::clicked, this, &ZipWindow::startRun);
}

QAbstractButton *ZipWindow::formatButton(ArchiveFormat format) const
{
    return m_format->button(int(format));
}

void ZipWindow::setAdvanced(bool advanced)
{
    m_face->button(advanced ? 1 : 0)->setChecked(true);
    m_advancedPart->setVisible(advanced);
    m_saveDefaults->setVisible(advanced);
    refresh();
    adjustSize();
}

void ZipWindow::setOptions(const ArchiveToolOptions &options)
{
    m_options = options;
    if (m_options.format != ArchiveFormat::sevenZip)
        m_options.usePassword = false;
    // A window opened with a password set shows the summary; "Change" opens the editor.
    m_editingPassword = m_options.password.isEmpty();
    refresh();
}

void ZipWindow::setInitialPreset(const ArchivePreset &preset)
{
    m_initialPreset = preset;
}

void ZipWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_initialPreset) {
        ArchiveToolOptions o = m_options;
        PresetRules::applyArchive(*m_initialPreset, o);
        m_initialPreset.reset();
        setOptions(o);
    }
}

void ZipWindow::refresh()
{
    const bool sevenZip = m_options.format == ArchiveFormat::sevenZip;
    const auto check = [](QAbstractButton *b, bool on) {
        if (b && b->isChecked() != on) {
            const QSignalBlocker block(b);
            b->setChecked(on);
        }
    };
    check(m_format->button(int(m_options.format)), true);
    check(m_mode->button(m_options.zipIndividually ? 1 : 0), true);
    check(m_level->button(int(m_options.compressionLevel)), true);
    check(m_removeOriginals, m_options.removeOriginals);
    check(m_encrypt, m_options.usePassword && sevenZip);
    if (m_password->text() != m_options.password)
        m_password->setText(m_options.password);

    m_levelRow->setVisible(!sevenZip);
    m_sevenZipNote->setVisible(sevenZip);
    m_encrypt->setEnabled(sevenZip);
    m_encryptNote->setVisible(!sevenZip);
    const bool encrypting = m_options.usePassword && sevenZip;
    const bool needsPassword = encrypting && m_options.password.isEmpty();
    if (needsPassword)
        m_editingPassword = true;
    m_passwordEditor->setVisible(encrypting && m_editingPassword);
    m_passwordSummary->setVisible(encrypting && !m_editingPassword);
    m_enterPassword->setVisible(needsPassword);
    m_create->setEnabled(!needsPassword && !m_files.isEmpty());
}

void ZipWindow::startRun()
{
    const bool encrypting = m_options.usePassword && m_options.format == ArchiveFormat::sevenZip;
    if (encrypting && m_options.password.isEmpty())
        return;
    if (m_saveDefaults->isChecked()) {
        AppSettings &settings = AppSettings::instance();
        settings.setArchiveFormat(m_options.format);
        settings.setCompressionLevel(m_options.compressionLevel);
        settings.setArchivePasswordEnabled(encrypting);
        settings.setArchivePassword(m_options.password);
    }
    // The host lives as long as the run: it is the runner's child.
    auto *host = new DesktopArchiveHost;
    auto *runner = new ArchiveRunner(host);
    host->setParent(runner);
    runner->setProgressState(m_progress);
    runner->setProgressLabel(QStringLiteral("Zipping…"));
    emit runStarted(runner);
    const QList<QUrl> files = m_files;
    const QString name = m_archiveName;
    const ArchiveJobOptions job = jobOptions(m_options);
    accept();
    runner->run(files, name, job);
}

ZipWindow *openZipWindow(ShelfManager &manager, const QUuid &shelfId, const QList<QUrl> &files,
                         ShelfProgressState *progress, QWidget *parent)
{
    const Shelf *shelf = manager.shelf(shelfId);
    const QString name = proposedArchiveName(files, shelf ? shelf->name : QString());
    auto *window = new ZipWindow(files, name, progress, parent);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
