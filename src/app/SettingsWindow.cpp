#include "app/SettingsWindow.h"

#include "platform/Icons.h"
#include "platform/SendToIntegration.h"
#include "settings/AppSettings.h"
#include "shelf/Theme.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QLabel *note(const QString &text, QWidget *parent)
{
    QLabel *label = SettingsWindow::noteLabel(text, parent);
    label->setContentsMargins(22, 0, 0, 4);
    return label;
}

QWidget *scrolled(QWidget *content)
{
    auto *area = new QScrollArea;
    area->setWidget(content);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    return area;
}

QCheckBox *boolBox(const QString &text, bool value, QWidget *parent, std::function<void(bool)> set)
{
    auto *box = new QCheckBox(text, parent);
    box->setChecked(value);
    QObject::connect(box, &QCheckBox::toggled, parent, [set = std::move(set)](bool on) { set(on); });
    return box;
}

template <typename E>
QComboBox *enumCombo(const QList<QPair<E, QString>> &items, E current, QWidget *parent, std::function<void(E)> set)
{
    auto *combo = new QComboBox(parent);
    for (const auto &[value, label] : items) {
        combo->addItem(label, QVariant::fromValue(int(value)));
        if (value == current)
            combo->setCurrentIndex(combo->count() - 1);
    }
    QObject::connect(combo, &QComboBox::currentIndexChanged, parent,
                     [combo, set = std::move(set)](int) { set(E(combo->currentData().toInt())); });
    return combo;
}

QIcon swatchIcon(const QColor &color)
{
    QPixmap pixmap(28, 28);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(128, 128, 128), 1));
    painter.setBrush(color);
    painter.drawRoundedRect(QRectF(2.5, 2.5, 23, 23), 6, 6);
    return QIcon(pixmap);
}

} // namespace

QLabel *SettingsWindow::noteLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.65f);
    palette.setColor(QPalette::WindowText, c);
    label->setPalette(palette);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    return label;
}

SettingsWindow::SettingsWindow(AppSettings &settings, QWidget *parent) : QWidget(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("Settings"));
    setWindowTitle(QStringLiteral("Perchbox Settings"));
    setWindowFlag(Qt::Window);
    auto *layout = new QHBoxLayout(this);
    m_list = new QListWidget(this);
    m_list->setFixedWidth(170);
    m_list->setAccessibleName(QStringLiteral("Settings pages"));
    m_list->setIconSize(QSize(18, 18));
    m_stack = new QStackedWidget(this);
    layout->addWidget(m_list);
    layout->addWidget(m_stack, 1);
    connect(m_list, &QListWidget::currentRowChanged, m_stack, &QStackedWidget::setCurrentIndex);

    insertPage(0, QStringLiteral("General"), QStringLiteral("gearshape"), scrolled(buildGeneralPage()));
    insertPage(1, QStringLiteral("Shortcuts"), QStringLiteral("keyboard"), buildShortcutsPage());

    auto *tools = new QWidget;
    m_toolsLayout = new QVBoxLayout(tools);
    m_toolsEmpty = new QLabel(QStringLiteral("No tool settings yet."), tools);
    m_toolsLayout->addWidget(m_toolsEmpty);
    m_toolsLayout->addStretch(1);
    insertPage(2, QStringLiteral("Tools"), QStringLiteral("wrench.and.screwdriver"), scrolled(tools));
    insertPage(3, QStringLiteral("About & Notices"), QStringLiteral("info.circle"), scrolled(buildAboutPage()));
    m_list->setCurrentRow(0);
    resize(760, 560);
}

int SettingsWindow::insertPage(int index, const QString &title, const QString &iconName, QWidget *page)
{
    auto *item = new QListWidgetItem(symbolIcon(iconName), title);
    m_list->insertItem(index, item);
    page->setObjectName(title);
    m_stack->insertWidget(index, page);
    return index;
}

int SettingsWindow::addPage(const QString &title, const QString &iconName, QWidget *page)
{
    // "About & Notices" stays last.
    return insertPage(m_list->count() - 1, title, iconName, page);
}

void SettingsWindow::addToolsSection(const QString &title, QWidget *section)
{
    m_toolsEmpty->hide();
    auto *group = new QGroupBox(title);
    auto *layout = new QVBoxLayout(group);
    layout->addWidget(section);
    m_toolsLayout->insertWidget(m_toolsLayout->count() - 1, group);
}

QStringList SettingsWindow::pageTitles() const
{
    QStringList titles;
    for (int i = 0; i < m_list->count(); ++i)
        titles.append(m_list->item(i)->text());
    return titles;
}

QWidget *SettingsWindow::page(const QString &title) const
{
    const int index = int(pageTitles().indexOf(title));
    return index < 0 ? nullptr : m_stack->widget(index);
}

void SettingsWindow::showPage(const QString &title)
{
    const int index = int(pageTitles().indexOf(title));
    if (index >= 0)
        m_list->setCurrentRow(index);
    show();
    raise();
    activateWindow();
}

QWidget *SettingsWindow::buildGeneralPage()
{
    auto *page = new QWidget;
    auto *v = new QVBoxLayout(page);
    AppSettings &s = m_settings;

    // Shelves
    auto *shelves = new QGroupBox(QStringLiteral("Shelves"), page);
    auto *sv = new QVBoxLayout(shelves);
    sv->addWidget(boolBox(QStringLiteral("Close shelf when it becomes empty"), s.closeWhenEmpty(), page,
                          [&s](bool on) { s.setCloseWhenEmpty(on); }));
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Layout:"),
                 enumCombo<ShelfLayout>({{ShelfLayout::list, QStringLiteral("List")}, {ShelfLayout::grid, QStringLiteral("Grid")}},
                                        s.shelfLayout(), page, [&s](ShelfLayout v) { s.setShelfLayout(v); }));
    form->addRow(QStringLiteral("Size:"),
                 enumCombo<ShelfSize>({{ShelfSize::compact, QStringLiteral("Compact")}, {ShelfSize::large, QStringLiteral("Large")}},
                                      s.shelfSize(), page, [&s](ShelfSize v) { s.setShelfSize(v); }));
    form->addRow(QStringLiteral("Sort files by:"),
                 enumCombo<ShelfSortOrder>({{ShelfSortOrder::manual, QStringLiteral("Manual")},
                                            {ShelfSortOrder::nameAsc, QStringLiteral("Name (A–Z)")},
                                            {ShelfSortOrder::nameDesc, QStringLiteral("Name (Z–A)")},
                                            {ShelfSortOrder::sizeAsc, QStringLiteral("Size (smallest first)")},
                                            {ShelfSortOrder::sizeDesc, QStringLiteral("Size (largest first)")},
                                            {ShelfSortOrder::dateDesc, QStringLiteral("Date (newest first)")},
                                            {ShelfSortOrder::dateAsc, QStringLiteral("Date (oldest first)")}},
                                           s.shelfSortOrder(), page, [&s](ShelfSortOrder v) { s.setShelfSortOrder(v); }));
    auto *limit = new QSpinBox(page);
    limit->setRange(0, 100000);
    limit->setSpecialValueText(QStringLiteral("No limit"));
    limit->setValue(std::max(0, s.maxFilesPerShelf()));
    connect(limit, &QSpinBox::valueChanged, page, [&s](int v) { s.setMaxFilesPerShelf(v); });
    form->addRow(QStringLiteral("Maximum files per shelf:"), limit);
    sv->addLayout(form);
    v->addWidget(shelves);

    // Theme picker with swatches
    auto *themeBox = new QGroupBox(QStringLiteral("Theme"), page);
    auto *th = new QHBoxLayout(themeBox);
    auto *themeGroup = new QButtonGroup(themeBox);
    const QList<QPair<AppTheme, QString>> themes = {{AppTheme::system, QStringLiteral("System")},
                                                   {AppTheme::light, QStringLiteral("Light")},
                                                   {AppTheme::dark, QStringLiteral("Dark")},
                                                   {AppTheme::onyx, QStringLiteral("Onyx")},
                                                   {AppTheme::retro, QStringLiteral("Retro")}};
    for (const auto &[theme, label] : themes) {
        auto *button = new QToolButton(themeBox);
        button->setText(label);
        button->setIcon(swatchIcon(Theme::swatchColor(theme, palette())));
        button->setIconSize(QSize(28, 28));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setCheckable(true);
        button->setChecked(s.theme() == theme);
        button->setAutoRaise(true);
        themeGroup->addButton(button, int(theme));
        th->addWidget(button);
    }
    th->addStretch(1);
    connect(themeGroup, &QButtonGroup::idClicked, page, [&s](int id) { s.setTheme(AppTheme(id)); });
    v->addWidget(themeBox);

    // Drag behaviour
    auto *drag = new QGroupBox(QStringLiteral("Drag Behavior"), page);
    auto *dv = new QVBoxLayout(drag);
    dv->addWidget(new QLabel(QStringLiteral("When dragging a file out:"), drag));
    auto *copy = new QRadioButton(QStringLiteral("Copy — copy files to drop location (files stay on shelf)"), drag);
    auto *move = new QRadioButton(QStringLiteral("Move — move files to drop location (files removed from shelf)"), drag);
    (s.dragMode() == DragMode::move ? move : copy)->setChecked(true);
    connect(copy, &QRadioButton::toggled, page, [&s](bool on) {
        if (on)
            s.setDragMode(DragMode::copy);
    });
    connect(move, &QRadioButton::toggled, page, [&s](bool on) {
        if (on)
            s.setDragMode(DragMode::move);
    });
    dv->addWidget(copy);
    dv->addWidget(move);
    dv->addWidget(note(QStringLiteral("Hold Ctrl as you start dragging to copy, or Shift to move, whatever the default "
                                      "Drag Behavior (Alt switches it too where the window manager lets it through)"),
                       drag));
    v->addWidget(drag);

    // Application
    auto *app = new QGroupBox(QStringLiteral("Application"), page);
    auto *av = new QVBoxLayout(app);
    av->addWidget(boolBox(QStringLiteral("Show Perchbox in the taskbar"), s.showInDock(), page,
                          [&s](bool on) { s.setShowInDock(on); }));
    av->addWidget(note(QStringLiteral("When off, Perchbox only appears in the system tray."), app));
    auto *login = new QCheckBox(QStringLiteral("Launch Perchbox at login"), app);
    login->setChecked(s.launchAtLogin());
    connect(login, &QCheckBox::toggled, page, [this, login](bool on) {
        QString error;
        if (!m_settings.setLaunchAtLogin(on, &error)) {
            QSignalBlocker block(login);
            login->setChecked(m_settings.launchAtLogin());
            QMessageBox::warning(this, QStringLiteral("Launch at Login"),
                                 QStringLiteral("Perchbox could not change its start at login.\n\n%1").arg(error));
        }
    });
    connect(&s, &AppSettings::launchAtLoginChanged, login, [login](bool on) {
        QSignalBlocker block(login);
        login->setChecked(on);
    });
    av->addWidget(login);
    av->addWidget(boolBox(QStringLiteral("Show \"%1\" in the file manager").arg(SendToIntegration::serviceTitle),
                          s.sendToFinderEnabled(), page, [&s](bool on) { s.setSendToFinderEnabled(on); }));
    av->addWidget(note(QStringLiteral("Adds \"%1\" to Files (Nautilus), Dolphin, Thunar and Nemo.")
                           .arg(SendToIntegration::serviceTitle), app));
    v->addWidget(app);

    // Features
    auto *features = new QGroupBox(QStringLiteral("Features"), page);
    auto *fv = new QVBoxLayout(features);
    fv->addWidget(note(QStringLiteral("Toggle features on or off — disabled features are hidden from shelf menus."), features));
    fv->addWidget(boolBox(QStringLiteral("Zip"), s.showZipFeature(), page, [&s](bool on) { s.setShowZipFeature(on); }));
    fv->addWidget(boolBox(QStringLiteral("Batch Rename"), s.showBatchRenameFeature(), page,
                          [&s](bool on) { s.setShowBatchRenameFeature(on); }));
    fv->addWidget(boolBox(QStringLiteral("Send to Shelf"), s.showSendToShelfFeature(), page,
                          [&s](bool on) { s.setShowSendToShelfFeature(on); }));
    fv->addWidget(boolBox(QStringLiteral("Flatten to Folder"), s.showFlattenFeature(), page,
                          [&s](bool on) { s.setShowFlattenFeature(on); }));
    fv->addWidget(boolBox(QStringLiteral("Convert"), s.showConvertFeature(), page,
                          [&s](bool on) { s.setShowConvertFeature(on); }));
    v->addWidget(features);

    // The conversion settings live in the Convert section of the Tools page.
    v->addStretch(1);
    return page;
}

QWidget *SettingsWindow::buildShortcutsPage()
{
    // Filled by the hot-key layer (app/ShortcutsPage.h), which knows the shelves.
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    return page;
}

QList<SettingsWindow::Attribution> SettingsWindow::attributions()
{
    return {
        {QStringLiteral("Qt 6"), QStringLiteral("LGPL-3.0-only (also GPL-2.0/GPL-3.0)"),
         QStringLiteral("Windows, widgets, D-Bus, networking — The Qt Company Ltd. and contributors")},
        {QStringLiteral("FFmpeg (libavformat, libavcodec, libavutil, libswscale, libswresample, libavfilter)"),
         QStringLiteral("LGPL-2.1-or-later / GPL-2.0-or-later as built"),
         QStringLiteral("Audio and video decoding and encoding — the FFmpeg developers")},
        {QStringLiteral("x264"), QStringLiteral("GPL-2.0-or-later"), QStringLiteral("H.264 video encoding — VideoLAN")},
        {QStringLiteral("x265"), QStringLiteral("GPL-2.0-or-later"), QStringLiteral("HEVC video and HEIC image encoding — MulticoreWare")},
        {QStringLiteral("LAME"), QStringLiteral("LGPL-2.0-or-later"), QStringLiteral("MP3 encoding (the lame program) — the LAME project")},
        {QStringLiteral("7-Zip"), QStringLiteral("LGPL-2.1-or-later with unRAR restriction"),
         QStringLiteral("7Z archives (the 7zz program) — Igor Pavlov")},
        {QStringLiteral("libvips"), QStringLiteral("LGPL-2.1-or-later"), QStringLiteral("Image processing — John Cupitt and contributors")},
        {QStringLiteral("libheif"), QStringLiteral("LGPL-3.0-or-later"), QStringLiteral("HEIC images — struktur AG")},
        {QStringLiteral("ICU"), QStringLiteral("Unicode-3.0 (ICU licence)"),
         QStringLiteral("Unicode text, regular expressions — Unicode, Inc.")},
        {QStringLiteral("OpenCV"), QStringLiteral("Apache-2.0 (4.5 and later; BSD-3-Clause before)"),
         QStringLiteral("Running the background-removal model — OpenCV team")},
        {QStringLiteral("ISNet background-removal model (@imgly/background-removal-data)"), QStringLiteral("AGPL-3.0"),
         QStringLiteral("\"Remove background\" for images — IMG.LY GmbH; ISNet by Xuebin Qin et al.")},
        {QStringLiteral("zip, tar"), QStringLiteral("Info-ZIP licence; GPL-3.0-or-later"),
         QStringLiteral("ZIP and TAR+GZ archives (outside programs)")},
        {QStringLiteral("DotGothic16"), QStringLiteral("SIL Open Font License 1.1 (OFL-1.1)"),
         QStringLiteral("The Retro theme's font, shipped with Perchbox — the DotGothic16 Project Authors (Fontworks Inc.)")},
    };
}

QWidget *SettingsWindow::buildAboutPage()
{
    auto *page = new QWidget;
    auto *v = new QVBoxLayout(page);
    auto *icon = new QLabel(page);
    icon->setPixmap(tintedSymbolIcon(QStringLiteral("tray.fill"), QColor(0, 122, 255)).pixmap(48, 48));
    v->addWidget(icon);
    auto *title = new QLabel(QStringLiteral("<b>Perchbox</b> %1").arg(QStringLiteral(PERCHBOX_VERSION)), page);
    title->setObjectName(QStringLiteral("version"));
    v->addWidget(title);
    v->addWidget(new QLabel(QStringLiteral("Floating file shelves for the Linux desktop."), page));
    auto *licence = new QLabel(QStringLiteral("Licensed under the GNU General Public License, version 3 or (at your option) "
                                              "any later version (GPL-3.0-or-later). Perchbox comes with ABSOLUTELY NO "
                                              "WARRANTY."), page);
    licence->setWordWrap(true);
    v->addWidget(licence);

    auto *notices = new QGroupBox(QStringLiteral("Notices"), page);
    auto *nv = new QVBoxLayout(notices);
    nv->addWidget(note(QStringLiteral("Perchbox is built on these outside libraries, programs and data:"), notices));
    for (const Attribution &a : attributions()) {
        auto *label = new QLabel(QStringLiteral("<b>%1</b> — %2<br><span>%3</span>")
                                     .arg(a.name.toHtmlEscaped(), a.licence.toHtmlEscaped(), a.use.toHtmlEscaped()),
                                 notices);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        nv->addWidget(label);
    }
    // The font ships with the program, so its licence travels with it.
    auto *fontLicence = new QPushButton(QStringLiteral("Retro Font Licence…"), notices);
    fontLicence->setObjectName(QStringLiteral("fontLicence"));
    const QString licencePath = Theme::retroFontLicencePath();
    fontLicence->setEnabled(!licencePath.isEmpty());
    connect(fontLicence, &QPushButton::clicked, this, [this, licencePath] {
        QFile file(licencePath);
        const QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        auto *dialog = new QDialog(this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowTitle(QStringLiteral("DotGothic16 — SIL Open Font License 1.1"));
        auto *layout = new QVBoxLayout(dialog);
        auto *view = new QPlainTextEdit(text, dialog);
        view->setReadOnly(true);
        view->setAccessibleName(QStringLiteral("Licence text"));
        layout->addWidget(view);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
        connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
        layout->addWidget(buttons);
        dialog->resize(640, 520);
        dialog->open();
    });
    auto *fontRow = new QHBoxLayout;
    fontRow->addWidget(fontLicence);
    fontRow->addStretch(1);
    nv->addLayout(fontRow);
    v->addWidget(notices);
    v->addStretch(1);
    return page;
}
