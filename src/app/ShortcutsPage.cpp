#include "app/ShortcutsPage.h"

#include "app/SettingsWindow.h"
#include "input/hotkeys/GlobalHotkeyManager.h"
#include "input/hotkeys/HotkeyManager.h"
#include "input/hotkeys/HotkeyRecorder.h"
#include "model/ShelfColor.h"
#include "model/ShelfManager.h"
#include "platform/Icons.h"
#include "settings/AppSettings.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

QString shelfListSignature(const QList<Shelf> &shelves)
{
    QString signature;
    for (const Shelf &shelf : shelves)
        signature += uuidString(shelf.id) + shelf.name + shelf.icon + toQColor(shelf.colorData).name() + QLatin1Char('\n');
    return signature;
}

const QString kShowAll = QStringLiteral("showAll");
const QString kNewShelf = QStringLiteral("newShelf");
const QString kTuckLeft = QStringLiteral("tuckLeft");
const QString kTuckRight = QStringLiteral("tuckRight");

} // namespace

ShortcutsPage::ShortcutsPage(AppSettings &settings, ShelfManager &shelves, HotkeyManager *hotkeys,
                             GlobalHotkeyManager *global, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_shelves(shelves), m_hotkeys(hotkeys), m_global(global)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *area = new QScrollArea(this);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    outer->addWidget(area);
    auto *content = new QWidget;
    area->setWidget(content);
    auto *v = new QVBoxLayout(content);

    // Why global shortcuts are off, while they are.
    auto *statusBox = new QFrame(content);
    statusBox->setObjectName(QStringLiteral("shortcutStatus"));
    statusBox->setFrameShape(QFrame::StyledPanel);
    auto *statusRow = new QHBoxLayout(statusBox);
    auto *warningIcon = new QLabel(statusBox);
    warningIcon->setPixmap(tintedSymbolIcon(QStringLiteral("exclamationmark.triangle.fill"), QColor(0xd9, 0x77, 0x06)).pixmap(18, 18));
    warningIcon->setAlignment(Qt::AlignTop);
    statusRow->addWidget(warningIcon);
    m_status = new QLabel(statusBox);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusRow->addWidget(m_status, 1);
    m_enable = new QPushButton(QStringLiteral("Enable…"), statusBox);
    statusRow->addWidget(m_enable, 0, Qt::AlignTop);
    connect(m_enable, &QPushButton::clicked, this, [this] {
        if (m_global)
            m_global->requestInputMonitoring();
        updateStatus();
    });
    v->addWidget(statusBox);

    // App shortcuts.
    auto *app = new QGroupBox(QStringLiteral("App Shortcuts"), content);
    auto *appLayout = new QVBoxLayout(app);
    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->addRow(QStringLiteral("Show / Hide shelves:"),
                 addRecorder(kShowAll, settings.customShowAllCombo(),
                             [this](const std::optional<KeyCombo> &c) { m_settings.setCustomShowAllCombo(c); })->parentWidget());
    form->addRow(QStringLiteral("New shelf:"),
                 addRecorder(kNewShelf, settings.customNewShelfCombo(),
                             [this](const std::optional<KeyCombo> &c) { m_settings.setCustomNewShelfCombo(c); })->parentWidget());
    form->addRow(QStringLiteral("Tuck active shelf left:"),
                 addRecorder(kTuckLeft, settings.customTuckLeftCombo(),
                             [this](const std::optional<KeyCombo> &c) { m_settings.setCustomTuckLeftCombo(c); })->parentWidget());
    form->addRow(QStringLiteral("Tuck active shelf right:"),
                 addRecorder(kTuckRight, settings.customTuckRightCombo(),
                             [this](const std::optional<KeyCombo> &c) { m_settings.setCustomTuckRightCombo(c); })->parentWidget());
    appLayout->addLayout(form);
    appLayout->addWidget(SettingsWindow::noteLabel(QStringLiteral("Double-click a field and press a key combination or a single F-key to "
                                                  "assign. Press Escape to cancel, Delete to clear."), app));
    appLayout->addWidget(SettingsWindow::noteLabel(QStringLiteral("These act on the shelf you most recently opened, hovered, or brought "
                                                  "to the front."), app));
    v->addWidget(app);

    // Per-shelf hot keys.
    auto *perShelf = new QGroupBox(QStringLiteral("Per-Shelf Hotkeys"), content);
    auto *shelfLayout = new QVBoxLayout(perShelf);
    shelfLayout->addWidget(SettingsWindow::noteLabel(QStringLiteral("Press the hotkey from anywhere — the shelf flies to your cursor. "
                                                    "Single F-keys are supported here too."), perShelf));
    m_shelfList = new QWidget(perShelf);
    m_shelfLayout = new QVBoxLayout(m_shelfList);
    m_shelfLayout->setContentsMargins(0, 0, 0, 0);
    shelfLayout->addWidget(m_shelfList);
    auto *hold = new QCheckBox(QStringLiteral("Hold shelf at cursor"), perShelf);
    hold->setChecked(settings.hotkeyHoldUntilHotkey());
    connect(hold, &QCheckBox::toggled, this, [this](bool on) { m_settings.setHotkeyHoldUntilHotkey(on); });
    connect(&settings, &AppSettings::hotkeyHoldUntilHotkeyChanged, hold, [hold](bool on) {
        const QSignalBlocker block(hold);
        hold->setChecked(on);
    });
    shelfLayout->addWidget(hold);
    shelfLayout->addWidget(SettingsWindow::noteLabel(QStringLiteral("Off: shelf returns to its position after you drop files.  On: shelf "
                                                    "stays until you press the hotkey a second time."), perShelf));
    v->addWidget(perShelf);

    auto *restore = new QPushButton(QStringLiteral("Restore Default Shortcuts"), content);
    connect(restore, &QPushButton::clicked, this, [this] { m_settings.restoreDefaultShortcuts(); });
    auto *row = new QHBoxLayout;
    row->addWidget(restore);
    row->addStretch(1);
    v->addLayout(row);
    v->addWidget(SettingsWindow::noteLabel(QStringLiteral("The same actions as commands, for any desktop's keyboard settings and for "
                                          "scripts: perchbox toggle, perchbox new-shelf, perchbox tuck left, perchbox "
                                          "tuck right, perchbox summon SHELF (its name)."), content));
    v->addStretch(1);

    // Follow the settings.
    const auto follow = [this](const QString &key) {
        return [this, key](const std::optional<KeyCombo> &combo) {
            if (HotkeyRecorder *r = m_recorders.value(key))
                r->setCombo(combo);
        };
    };
    connect(&settings, &AppSettings::customShowAllComboChanged, this, follow(kShowAll));
    connect(&settings, &AppSettings::customNewShelfComboChanged, this, follow(kNewShelf));
    connect(&settings, &AppSettings::customTuckLeftComboChanged, this, follow(kTuckLeft));
    connect(&settings, &AppSettings::customTuckRightComboChanged, this, follow(kTuckRight));
    connect(&settings, &AppSettings::customShelfCombosChanged, this, [this](const QMap<QString, KeyCombo> &combos) {
        for (const Shelf &shelf : m_shelves.shelves()) {
            const QString key = AppSettings::shelfKey(shelf.id);
            if (HotkeyRecorder *r = m_recorders.value(key))
                r->setCombo(combos.contains(key) ? std::optional(combos.value(key)) : std::nullopt);
        }
    });
    connect(&shelves, &ShelfManager::shelvesChanged, this, &ShortcutsPage::rebuildShelves);
    if (m_hotkeys)
        connect(m_hotkeys.data(), &HotkeyManager::registrationsChanged, this, &ShortcutsPage::updateRefused);
    if (m_global)
        connect(m_global.data(), &GlobalHotkeyManager::stateChanged, this, &ShortcutsPage::updateStatus);
    connect(&settings, &AppSettings::inputMonitoringGrantedChanged, this, &ShortcutsPage::updateStatus);

    rebuildShelves();
    updateStatus();
    updateRefused();
}

HotkeyRecorder *ShortcutsPage::addRecorder(const QString &key, const std::optional<KeyCombo> &combo,
                                           std::function<void(const std::optional<KeyCombo> &)> store)
{
    // The recorder with, under it, a line that says when another program holds its combo.
    auto *box = new QWidget(this);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto *recorder = new HotkeyRecorder(box);
    recorder->setObjectName(key);
    recorder->setFixedWidth(180);
    recorder->setCombo(combo);
    layout->addWidget(recorder);
    auto *refused = new QLabel(QStringLiteral("Not registered: another program holds it, or the key is unknown here."), box);
    refused->setStyleSheet(QStringLiteral("color: #d97706;"));
    refused->setWordWrap(true);
    refused->setMaximumWidth(240);
    refused->hide();
    layout->addWidget(refused);
    connect(recorder, &HotkeyRecorder::comboChanged, this, [store = std::move(store)](const std::optional<KeyCombo> &c) {
        store(c);
    });
    m_recorders.insert(key, recorder);
    m_refusedLabels.insert(key, refused);
    return recorder;
}

void ShortcutsPage::rebuildShelves()
{
    const QString signature = shelfListSignature(m_shelves.shelves());
    if (m_shelfList->property("signature").toString() == signature && m_shelfList->property("built").toBool())
        return;
    m_shelfList->setProperty("signature", signature);
    m_shelfList->setProperty("built", true);
    // Drop the rows of the previous list.
    for (auto it = m_recorders.begin(); it != m_recorders.end();) {
        if (parseUuid(it.key())) {
            m_refusedLabels.remove(it.key());
            it = m_recorders.erase(it);
        } else {
            ++it;
        }
    }
    while (QLayoutItem *item = m_shelfLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (m_shelves.shelves().isEmpty()) {
        m_shelfLayout->addWidget(new QLabel(QStringLiteral("No shelves yet — create a shelf first."), m_shelfList));
        return;
    }
    const QMap<QString, KeyCombo> &combos = m_settings.customShelfCombos();
    for (const Shelf &shelf : m_shelves.shelves()) {
        const QUuid id = shelf.id;
        const QString key = AppSettings::shelfKey(id);
        auto *row = new QWidget(m_shelfList);
        auto *h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        auto *icon = new QLabel(row);
        icon->setPixmap(tintedSymbolIcon(shelf.icon, toQColor(shelf.colorData)).pixmap(16, 16));
        h->addWidget(icon);
        auto *name = new QLabel(shelf.name, row);
        name->setTextFormat(Qt::PlainText);
        h->addWidget(name, 1);
        HotkeyRecorder *recorder = addRecorder(key, combos.contains(key) ? std::optional(combos.value(key)) : std::nullopt,
                                               [this, id](const std::optional<KeyCombo> &c) { m_settings.setShelfCombo(c, id); });
        recorder->parentWidget()->setParent(row);
        h->addWidget(recorder->parentWidget(), 0, Qt::AlignTop);
        m_shelfLayout->addWidget(row);
    }
    updateRefused();
}

void ShortcutsPage::updateRefused()
{
    const QList<KeyCombo> refused = m_hotkeys ? m_hotkeys->refusedCombos() : QList<KeyCombo>();
    for (auto it = m_recorders.cbegin(); it != m_recorders.cend(); ++it) {
        QLabel *label = m_refusedLabels.value(it.key());
        if (!label)
            continue;
        const auto &combo = it.value()->combo();
        // Refused, and not registered for something else meanwhile.
        const bool held = combo && refused.contains(*combo) && !(m_hotkeys && m_hotkeys->idOfCombo(*combo));
        label->setVisible(held);
    }
}

void ShortcutsPage::updateStatus()
{
    const QString reason = m_global ? m_global->unavailableReason() : QString();
    QWidget *box = m_status->parentWidget();
    box->setVisible(!reason.isEmpty());
    m_status->setText(reason);
    m_enable->setVisible(m_global && m_global->mechanism() == GlobalHotkeyManager::Mechanism::portal);
}
