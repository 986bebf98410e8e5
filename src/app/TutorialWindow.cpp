#include "app/TutorialWindow.h"

#include "platform/Icons.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

QList<TutorialWindow::Topic> TutorialWindow::topics()
{
    return {
        {QStringLiteral("Welcome to Perchbox"), QStringLiteral("tray.fill"),
         QStringLiteral("Perchbox gives you shelves: small floating panels that hold references to the files you are "
                        "working with, wherever they lie. A shelf is a staging area, not a folder — nothing moves "
                        "until you say so.")},
        {QStringLiteral("The tray icon"), QStringLiteral("tray"),
         QStringLiteral("Perchbox lives in the system tray. Click its icon to see every shelf, open or hide one, "
                        "make a new shelf, open the settings or quit (Ctrl+Alt+Q). On a desktop without a tray, the "
                        "same panel is a small window.")},
        {QStringLiteral("Making shelves"), QStringLiteral("plus"),
         QStringLiteral("Choose \"New shelf\" in the panel, or press the new-shelf shortcut. A new shelf appears in "
                        "the middle of the screen, ready for files.")},
        {QStringLiteral("Adding files"), QStringLiteral("arrow.down.to.line"),
         QStringLiteral("Drop files on a shelf, or point at it and press Ctrl+V to paste files, an image (saved as "
                        "PNG) or text (saved as a .txt file). Each file is listed once.")},
        {QStringLiteral("Send to Perchbox"), QStringLiteral("star.fill"),
         QStringLiteral("In Files, Dolphin, Thunar or Nemo, choose \"Send to Perchbox\" on selected files. They go "
                        "to your default shelf (set it with the star in the panel) or to a shelf called \"Inbox\".")},
        {QStringLiteral("Dragging files out"), QStringLiteral("doc"),
         QStringLiteral("Drag files from a shelf into any folder or program. By default they are copied and stay on "
                        "the shelf; choose Move in the settings, or hold Alt to switch for one drag.")},
        {QStringLiteral("Selecting"), QStringLiteral("checkmark"),
         QStringLiteral("Click files to select them, Shift-click to add a range, Ctrl+A for all. Space shows a "
                        "quick preview of the selection.")},
        {QStringLiteral("Zip"), QStringLiteral("archivebox"),
         QStringLiteral("Make ZIP, TAR+GZ or 7Z archives of the selection or the whole shelf — one archive for all, "
                        "or one per item, with an optional password for 7Z.")},
        {QStringLiteral("Batch Rename"), QStringLiteral("pencil"),
         QStringLiteral("Rename many files at once with find and replace (regular expressions too), case changes, "
                        "trimming, prefix, suffix and a counter, with a live preview.")},
        {QStringLiteral("Flatten to Folder"), QStringLiteral("folder"),
         QStringLiteral("Copy or move every file of a folder tree into one folder, and choose what happens with "
                        "duplicate names.")},
        {QStringLiteral("Convert"), QStringLiteral("film"),
         QStringLiteral("Convert audio, video and images to other formats, sizes and qualities. Converted files can "
                        "arrive on a new shelf of their own.")},
        {QStringLiteral("Favorites"), QStringLiteral("bookmark"),
         QStringLiteral("Save tool settings as presets and pin them to a shelf as buttons that run the tool in one "
                        "click.")},
        {QStringLiteral("Shortcuts and tucking"), QStringLiteral("keyboard"),
         QStringLiteral("Give a shelf its own shortcut to bring it to the pointer, show or hide all shelves with one "
                        "key, and tuck a shelf against the left or right screen edge, where it peeks out on hover.")},
        {QStringLiteral("Themes and settings"), QStringLiteral("gearshape"),
         QStringLiteral("Pick one of five themes, list or grid layout and the shelf size in the settings. You can "
                        "see this tutorial again from the panel at any time.")},
    };
}

TutorialWindow::TutorialWindow(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Tutorial"));
    setWindowTitle(QStringLiteral("Perchbox Tutorial"));
    setWindowFlag(Qt::Window);
    auto *layout = new QHBoxLayout(this);
    m_list = new QListWidget(this);
    m_list->setFixedWidth(200);
    m_list->setAccessibleName(QStringLiteral("Topics"));
    for (const Topic &topic : topics())
        m_list->addItem(new QListWidgetItem(symbolIcon(topic.symbol), topic.title));
    layout->addWidget(m_list);

    auto *right = new QVBoxLayout;
    m_title = new QLabel(this);
    QFont font = m_title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.4);
    m_title->setFont(font);
    right->addWidget(m_title);
    m_text = new QLabel(this);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    right->addWidget(m_text, 1);
    auto *buttons = new QHBoxLayout;
    m_back = new QPushButton(QStringLiteral("Back"), this);
    m_next = new QPushButton(QStringLiteral("Next"), this);
    auto *done = new QPushButton(QStringLiteral("Done"), this);
    buttons->addWidget(m_back);
    buttons->addStretch(1);
    buttons->addWidget(m_next);
    buttons->addWidget(done);
    right->addLayout(buttons);
    layout->addLayout(right, 1);

    connect(m_list, &QListWidget::currentRowChanged, this, &TutorialWindow::showTopic);
    connect(m_back, &QPushButton::clicked, this, [this] { showTopic(currentTopic() - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { showTopic(currentTopic() + 1); });
    connect(done, &QPushButton::clicked, this, &QWidget::close);
    showTopic(0);
    resize(640, 360);
}

int TutorialWindow::currentTopic() const
{
    return m_list->currentRow();
}

void TutorialWindow::showTopic(int index)
{
    const QList<Topic> all = topics();
    if (index < 0 || index >= all.size())
        return;
    if (m_list->currentRow() != index)
        m_list->setCurrentRow(index);
    m_title->setText(all[index].title);
    m_text->setText(all[index].text);
    m_back->setEnabled(index > 0);
    m_next->setEnabled(index + 1 < all.size());
}

void TutorialWindow::closeEvent(QCloseEvent *event)
{
    emit finished();
    event->accept();
}
