#include "shelf/RenameShelfDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

std::optional<QString> askShelfName(QWidget *parent, const QString &current, bool stayOnTop)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Rename Shelf"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *heading = new QLabel(QStringLiteral("Rename Shelf"), &dialog);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);
    auto *field = new QLineEdit(current, &dialog);
    field->setPlaceholderText(QStringLiteral("Shelf name"));
    field->setAccessibleName(QStringLiteral("Shelf name"));
    field->selectAll();
    layout->addWidget(field);
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *rename = buttons->addButton(QStringLiteral("Rename"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    rename->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (stayOnTop)
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString name = field->text().trimmed();
    if (name.isEmpty())
        return std::nullopt;
    return name;
}
