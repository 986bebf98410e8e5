#include "tools/presets/PresetsSection.h"

#include "tools/presets/PresetStore.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

PresetsSection::PresetsSection(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto *header = new QHBoxLayout;
    auto *title = new QLabel(QStringLiteral("Presets"), this);
    QFont small = title->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    small.setBold(true);
    title->setFont(small);
    title->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(title);
    header->addStretch(1);
    auto *save = new QToolButton(this);
    save->setObjectName(QStringLiteral("savePresetButton"));
    save->setText(QStringLiteral("Save…"));
    save->setIcon(QIcon::fromTheme(QStringLiteral("list-add")));
    save->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    save->setAutoRaise(true);
    header->addWidget(save);
    layout->addLayout(header);

    m_rows = new QVBoxLayout;
    m_rows->setSpacing(2);
    layout->addLayout(m_rows);

    // The popover: a small frame that closes when the user clicks elsewhere.
    m_popover = new QFrame(this, Qt::Popup);
    m_popover->setFrameShape(QFrame::StyledPanel);
    auto *pop = new QVBoxLayout(m_popover);
    auto *popTitle = new QLabel(QStringLiteral("Save as Preset"), m_popover);
    QFont bold = popTitle->font();
    bold.setBold(true);
    popTitle->setFont(bold);
    pop->addWidget(popTitle);
    m_nameField = new QLineEdit(m_popover);
    m_nameField->setPlaceholderText(QStringLiteral("Preset name…"));
    m_nameField->setMinimumWidth(220);
    pop->addWidget(m_nameField);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), m_popover);
    auto *ok = new QPushButton(QStringLiteral("Save"), m_popover);
    ok->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(ok);
    pop->addLayout(buttons);

    connect(save, &QToolButton::clicked, this, &PresetsSection::openSavePopover);
    connect(cancel, &QPushButton::clicked, m_popover, &QWidget::hide);
    connect(ok, &QPushButton::clicked, this, &PresetsSection::commitSave);
    connect(m_nameField, &QLineEdit::returnPressed, this, &PresetsSection::commitSave);

    rebuildRows();
}

void PresetsSection::setPresets(const QList<Entry> &entries)
{
    if (entries == m_entries && m_rows->count() > 0)
        return;
    m_entries = entries;
    rebuildRows();
}

QWidget *PresetsSection::savePopover() const
{
    return m_popover;
}

void PresetsSection::openSavePopover()
{
    m_popover->adjustSize();
    const QWidget *anchor = findChild<QToolButton *>(QStringLiteral("savePresetButton"));
    const QPoint at = anchor ? anchor->mapToGlobal(QPoint(0, anchor->height())) : mapToGlobal(QPoint());
    m_popover->move(at);
    m_popover->show();
    m_nameField->setFocus();
}

void PresetsSection::commitSave()
{
    const QString name = PresetStore::trimmedPresetName(m_nameField->text());
    if (name.isEmpty())
        return;
    emit saveRequested(name);
    m_popover->hide();
    m_nameField->clear();
}

void PresetsSection::rebuildRows()
{
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        if (QWidget *w = item->widget())
            w->deleteLater();
        delete item;
    }
    if (m_entries.isEmpty()) {
        auto *none = new QLabel(QStringLiteral("None saved"), this);
        none->setForegroundRole(QPalette::PlaceholderText);
        m_rows->addWidget(none);
        return;
    }
    for (const Entry &entry : m_entries) {
        auto *row = new QWidget(this);
        auto *h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        auto *apply = new QPushButton(entry.second, row);
        apply->setFlat(true);
        apply->setStyleSheet(QStringLiteral("text-align: left; padding: 2px 4px;"));
        apply->setToolTip(entry.second);
        auto *remove = new QToolButton(row);
        remove->setAutoRaise(true);
        remove->setIcon(QIcon::fromTheme(QStringLiteral("window-close"),
                                         style()->standardIcon(QStyle::SP_TitleBarCloseButton)));
        remove->setText(QStringLiteral("✕"));
        remove->setToolTip(QStringLiteral("Remove preset \"%1\"").arg(entry.second));
        h->addWidget(apply, 1);
        h->addWidget(remove);
        const QUuid id = entry.first;
        connect(apply, &QPushButton::clicked, this, [this, id] { emit applyRequested(id); });
        connect(remove, &QToolButton::clicked, this, [this, id] { emit removeRequested(id); });
        m_rows->addWidget(row);
    }
}
