#include "input/hotkeys/ShortcutDialog.h"

#include "input/hotkeys/HotkeyRecorder.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ShortcutDialog::ShortcutDialog(const QString &shelfName, const std::optional<KeyCombo> &current, QWidget *parent)
    : QDialog(parent)
{
    m_title = (current ? QStringLiteral("Change Shortcut for ") : QStringLiteral("Set Shortcut for ")) + shelfName;
    setWindowTitle(m_title);
    setModal(true);
    setWindowFlag(Qt::WindowStaysOnTopHint);

    auto *layout = new QVBoxLayout(this);
    auto *title = new QLabel(m_title, this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setObjectName(QStringLiteral("title"));
    layout->addWidget(title);
    auto *text = new QLabel(QStringLiteral("Double-click the field, press a shortcut, then choose Save."), this);
    text->setWordWrap(true);
    layout->addWidget(text);

    m_recorder = new HotkeyRecorder(this);
    m_recorder->setFixedWidth(180);
    m_recorder->setPlaceholder(HotkeyRecorder::defaultPlaceholder);
    m_recorder->setCombo(current);
    layout->addWidget(m_recorder, 0, Qt::AlignHCenter);

    auto *buttons = new QDialogButtonBox(this);
    m_save = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
    if (current)
        m_clear = buttons->addButton(QStringLiteral("Clear"), QDialogButtonBox::DestructiveRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    // Return saves once the field is done (while it records, every key is the field's).
    m_save->setDefault(true);
    connect(buttons, &QDialogButtonBox::clicked, this, [this](QAbstractButton *button) {
        if (button == m_save) {
            m_choice = Choice::save;
            accept();
        } else if (button == m_clear) {
            m_choice = Choice::clear;
            accept();
        } else {
            m_choice = Choice::cancel;
            reject();
        }
    });
    layout->addWidget(buttons);
}

std::optional<KeyCombo> ShortcutDialog::recordedCombo() const
{
    return m_recorder->combo();
}

std::optional<std::optional<KeyCombo>> ShortcutDialog::ask(const QString &shelfName,
                                                           const std::optional<KeyCombo> &current, QWidget *parent)
{
    ShortcutDialog dialog(shelfName, current, parent);
    dialog.exec();
    switch (dialog.choice()) {
    case Choice::save:
        return std::optional(dialog.recordedCombo());
    case Choice::clear:
        return std::optional<std::optional<KeyCombo>>(std::optional<KeyCombo>());
    case Choice::cancel:
        break;
    }
    return std::nullopt;
}
