#include "input/screenshots/AutomationPage.h"

#include "input/screenshots/ScreenshotFolder.h"
#include "input/screenshots/ScreenshotWatcher.h"
#include "model/ShelfManager.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// "~/Pictures/Screenshots" for a folder in the home folder.
QString shortPath(const QString &path)
{
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + u'/'))
        return u'~' + path.mid(home.size());
    return path;
}

QLabel *note(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setEnabled(false); // drawn in the muted text colour
    label->setContentsMargins(22, 0, 0, 4);
    return label;
}

} // namespace

AutomationPage::AutomationPage(AppSettings &settings, ShelfManager &manager, ScreenshotWatcher &watcher, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_manager(manager), m_watcher(watcher)
{
    auto *v = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Screenshots"), this);
    auto *g = new QVBoxLayout(group);

    auto *enabled = new QCheckBox(QStringLiteral("Screenshot Auto-Capture"), group);
    enabled->setObjectName(QStringLiteral("screenshotEnabled"));
    enabled->setChecked(settings.screenshotEnabled());
    connect(enabled, &QCheckBox::toggled, this, [this](bool on) { m_settings.setScreenshotEnabled(on); });
    connect(&settings, &AppSettings::screenshotEnabledChanged, enabled, [enabled](bool on) {
        QSignalBlocker block(enabled);
        enabled->setChecked(on);
    });
    g->addWidget(enabled);
    g->addWidget(note(QStringLiteral("Automatically add screenshots to a shelf when taken."), group));

    auto *form = new QFormLayout;
    m_shelves = new QComboBox(group);
    m_shelves->setObjectName(QStringLiteral("screenshotShelf"));
    m_shelves->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    fillShelves();
    connect(m_shelves, &QComboBox::activated, this, [this](int index) {
        m_settings.setScreenshotShelfID(m_shelves->itemData(index).toUuid());
    });
    connect(&manager, &ShelfManager::shelvesChanged, this, &AutomationPage::fillShelves);
    connect(&settings, &AppSettings::screenshotShelfIDChanged, this, &AutomationPage::fillShelves);
    form->addRow(QStringLiteral("Add screenshots to:"), m_shelves);
    g->addLayout(form);

    auto *temp = new QCheckBox(QStringLiteral("Use temporary \"Screenshots\" shelf"), group);
    temp->setObjectName(QStringLiteral("screenshotUseTempShelf"));
    temp->setChecked(settings.screenshotUseTempShelf());
    connect(temp, &QCheckBox::toggled, this, [this](bool on) { m_settings.setScreenshotUseTempShelf(on); });
    g->addWidget(temp);
    g->addWidget(note(QStringLiteral("When no shelf is chosen above, screenshots go to a shelf named \"Screenshots\", "
                                     "made when the first one arrives."), group));

    // The folder.
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(QStringLiteral("Screenshot folder:"), group));
    m_folder = new QLabel(group);
    m_folder->setObjectName(QStringLiteral("screenshotFolder"));
    m_folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folderRow->addWidget(m_folder, 1);
    g->addLayout(folderRow);
    g->addWidget(note(QStringLiteral("Match this to where your desktop saves screenshots: GNOME saves them in "
                                     "Pictures/Screenshots, KDE where Spectacle's settings say."), group));
    auto *buttons = new QHBoxLayout;
    m_useDefault = new QPushButton(group);
    m_useDefault->setObjectName(QStringLiteral("useDefaultFolder"));
    connect(m_useDefault, &QPushButton::clicked, this, [this] { m_settings.setScreenshotFolder(QUrl()); });
    auto *choose = new QPushButton(QStringLiteral("Watch This Folder…"), group);
    choose->setObjectName(QStringLiteral("watchThisFolder"));
    connect(choose, &QPushButton::clicked, this, &AutomationPage::chooseFolder);
    buttons->addWidget(m_useDefault);
    buttons->addWidget(choose);
    buttons->addStretch(1);
    g->addLayout(buttons);
    m_status = new QLabel(group);
    m_status->setObjectName(QStringLiteral("watcherStatus"));
    m_status->setWordWrap(true);
    g->addWidget(m_status);

    connect(&settings, &AppSettings::screenshotFolderChanged, this, &AutomationPage::showFolder);
    connect(&watcher, &ScreenshotWatcher::folderStateChanged, this, &AutomationPage::showFolder);
    showFolder();

    v->addWidget(group);
    v->addStretch(1);
}

void AutomationPage::fillShelves()
{
    const QUuid chosen = m_settings.screenshotShelfID();
    m_shelves->clear();
    m_shelves->addItem(QStringLiteral("None"), QUuid());
    for (const Shelf &shelf : m_manager.shelves()) {
        m_shelves->addItem(shelf.name, shelf.id);
        if (shelf.id == chosen)
            m_shelves->setCurrentIndex(m_shelves->count() - 1);
    }
}

void AutomationPage::showFolder()
{
    const ScreenshotFolder::Detected detected = ScreenshotFolder::detect();
    const bool custom = m_settings.screenshotFolder().isLocalFile();
    const QString watched = custom ? FilePath::displayPath(m_settings.screenshotFolder()) : detected.path;
    m_folder->setText(custom ? shortPath(watched)
                             : QStringLiteral("%1 (%2)").arg(shortPath(watched), ScreenshotFolder::sourceDescription(detected.source)));
    m_useDefault->setText(QStringLiteral("%1 (default)").arg(shortPath(detected.path)));
    m_useDefault->setEnabled(custom);

    QString status;
    const QString where = shortPath(m_watcher.isRunning() ? m_watcher.currentWatchedDir() : watched);
    switch (m_watcher.folderState()) {
    case ScreenshotWatcher::FolderState::stopped:
        status = QStringLiteral("Auto-capture is off.");
        break;
    case ScreenshotWatcher::FolderState::watching:
        status = QStringLiteral("Watching %1 for new screenshots.").arg(where);
        break;
    case ScreenshotWatcher::FolderState::missing:
        status = QStringLiteral("%1 is not there (deleted, renamed or not mounted). Watching resumes when it is back.").arg(where);
        break;
    case ScreenshotWatcher::FolderState::unreadable:
        status = QStringLiteral("%1 cannot be read. Watching resumes when it can.").arg(where);
        break;
    }
    m_status->setText(status);
}

void AutomationPage::chooseFolder()
{
    QFileDialog dialog(this, QStringLiteral("Watch This Folder"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Watch This Folder"));
    const QUrl current = m_settings.screenshotFolder();
    dialog.setDirectory(current.isLocalFile() ? current.toLocalFile() : ScreenshotFolder::detect().path);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    m_settings.setScreenshotFolder(QUrl::fromLocalFile(dialog.selectedFiles().constFirst()));
}
