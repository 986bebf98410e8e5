#include "tools/favorites/FavoriteEditing.h"

#include "model/ShelfManager.h"
#include "platform/FileBookmark.h"
#include "platform/FilePath.h"
#include "tools/favorites/FavoriteRules.h"

#include <QActionGroup>
#include <QFile>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace FavoriteEditing {

namespace {

// Edits the shelf and saves the list at once (favorites are explicit, rare edits).
bool editShelf(ShelfManager &manager, const QUuid &shelfId, const std::function<void(Shelf &)> &edit)
{
    if (!manager.updateShelf(shelfId, edit))
        return false;
    manager.saveShelves();
    return true;
}

const ShelfFavoriteAction *findFavorite(const ShelfManager &manager, const QUuid &shelfId, const QUuid &favoriteId)
{
    const Shelf *shelf = manager.shelf(shelfId);
    if (!shelf)
        return nullptr;
    for (const ShelfFavoriteAction &f : shelf->favorites)
        if (f.id == favoriteId)
            return &f;
    return nullptr;
}

QString displayModeText(ShelfFavoriteButtonDisplayMode mode)
{
    switch (mode) {
    case ShelfFavoriteButtonDisplayMode::iconAndName: return QStringLiteral("Icon and Name");
    case ShelfFavoriteButtonDisplayMode::iconOnly: return QStringLiteral("Icon Only");
    case ShelfFavoriteButtonDisplayMode::nameOnly: return QStringLiteral("Name Only");
    }
    return {};
}

} // namespace

void fillFavoritesMenu(QMenu *menu, ShelfManager &manager, const PresetStore &presets, const QUuid &shelfId)
{
    QPointer<ShelfManager> guard(&manager);
    for (const ShelfFavoriteToolKind tool : FavoriteRules::pinMenuOrder()) {
        QMenu *sub = menu->addMenu(FavoriteRules::pinMenuTitle(tool));
        const QList<FavoriteRules::PresetChoice> choices = FavoriteRules::presetChoices(presets, tool);
        if (choices.isEmpty())
            sub->addAction(FavoriteRules::noPresetsText(tool))->setEnabled(false);
        for (const FavoriteRules::PresetChoice &choice : choices)
            sub->addAction(choice.name, menu, [guard, shelfId, tool, choice] {
                if (guard)
                    pin(*guard, shelfId, tool, choice.id, choice.name);
            });
    }
    menu->addSeparator();
    QMenu *appearance = menu->addMenu(QStringLiteral("Button Appearance"));
    auto *group = new QActionGroup(appearance);
    const Shelf *shelf = manager.shelf(shelfId);
    for (const ShelfFavoriteButtonDisplayMode mode : allCases<ShelfFavoriteButtonDisplayMode>()) {
        QAction *a = appearance->addAction(displayModeText(mode), menu, [guard, shelfId, mode] {
            if (guard)
                setDisplayMode(*guard, shelfId, mode);
        });
        a->setCheckable(true);
        a->setChecked(shelf && shelf->favoriteButtonDisplayMode == mode);
        group->addAction(a);
    }
}

ShelfFavoriteAction pin(ShelfManager &manager, const QUuid &shelfId, ShelfFavoriteToolKind tool,
                        const QUuid &presetId, const QString &presetName)
{
    const ShelfFavoriteAction favorite = FavoriteRules::pinned(tool, presetId, presetName);
    editShelf(manager, shelfId, [&](Shelf &s) { s.favorites.append(favorite); });
    return favorite;
}

void setDisplayMode(ShelfManager &manager, const QUuid &shelfId, ShelfFavoriteButtonDisplayMode mode)
{
    editShelf(manager, shelfId, [&](Shelf &s) { s.favoriteButtonDisplayMode = mode; });
}

bool updateFavorite(ShelfManager &manager, const QUuid &shelfId, const QUuid &favoriteId,
                    const std::function<void(ShelfFavoriteAction &)> &edit)
{
    if (!findFavorite(manager, shelfId, favoriteId))
        return false;
    return editShelf(manager, shelfId, [&](Shelf &s) {
        for (ShelfFavoriteAction &f : s.favorites)
            if (f.id == favoriteId)
                edit(f);
    });
}

void unpin(ShelfManager &manager, const QUuid &shelfId, const QUuid &favoriteId)
{
    editShelf(manager, shelfId, [&](Shelf &s) {
        s.favorites.removeIf([&](const ShelfFavoriteAction &f) { return f.id == favoriteId; });
    });
}

void setSavedFolder(ShelfManager &manager, const QUuid &shelfId, const QUuid &favoriteId, const QUrl &folder)
{
    ShelfFavoriteDestination destination;
    destination.path = QFile::decodeName(FilePath::bytes(folder));
    destination.bookmarkData = FileBookmark::create(folder);
    updateFavorite(manager, shelfId, favoriteId, [&](ShelfFavoriteAction &f) {
        f.destination = destination;
        f.destinationMode = ShelfFavoriteDestinationMode::savedFolder;
    });
}

void setLabel(ShelfManager &manager, const QUuid &shelfId, const QUuid &favoriteId, const std::optional<QString> &label)
{
    updateFavorite(manager, shelfId, favoriteId, [&](ShelfFavoriteAction &f) {
        if (label && !label->trimmed().isEmpty())
            f.customLabel = label->trimmed();
        else
            f.customLabel.reset();
    });
}

// ---- sheets -----------------------------------------------------------------------------

ButtonMenuActions ButtonMenuActions::desktop()
{
    ButtonMenuActions actions;
    actions.chooseFolder = [](QWidget *parent, const QString &title) -> std::optional<QUrl> {
        const QString dir = QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
        if (dir.isEmpty())
            return std::nullopt;
        return QUrl::fromLocalFile(dir);
    };
    actions.askOutput = [](QWidget *parent, const QString &toolName) {
        QMessageBox box(QMessageBox::Question, toolName + QStringLiteral(" Favorite Output"),
                        QStringLiteral("Choose whether this favorite saves to a fixed folder or asks each time you run it."),
                        QMessageBox::NoButton, parent);
        QPushButton *saved = box.addButton(QStringLiteral("Saved Folder"), QMessageBox::AcceptRole);
        QPushButton *ask = box.addButton(QStringLiteral("Ask Each Time"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        box.setDefaultButton(saved);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        box.exec();
        if (box.clickedButton() == saved)
            return OutputChoice::savedFolder;
        if (box.clickedButton() == ask)
            return OutputChoice::askEachTime;
        return OutputChoice::cancel;
    };
    actions.askLabel = [](QWidget *parent, const QString &current, const QString &presetName) -> std::optional<QString> {
        QDialog dialog(parent);
        dialog.setWindowTitle(QStringLiteral("Favorite Label"));
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
        auto *layout = new QVBoxLayout(&dialog);
        auto *title = new QLabel(QStringLiteral("Favorite Label"), &dialog);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        layout->addWidget(title);
        auto *text = new QLabel(QStringLiteral("Set a custom label for this favorite. Leave it empty to use the preset name."),
                                &dialog);
        text->setWordWrap(true);
        layout->addWidget(text);
        auto *field = new QLineEdit(current, &dialog);
        field->setPlaceholderText(presetName);
        field->setAccessibleName(QStringLiteral("Favorite label"));
        layout->addWidget(field);
        auto *buttons = new QDialogButtonBox(&dialog);
        QPushButton *save = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
        QPushButton *reset = buttons->addButton(QStringLiteral("Reset"), QDialogButtonBox::ResetRole);
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
        save->setDefault(true);
        bool wasReset = false;
        QObject::connect(reset, &QPushButton::clicked, &dialog, [&] {
            wasReset = true;
            dialog.accept();
        });
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return wasReset ? QString() : field->text();
    };
    return actions;
}

void fillButtonMenu(QMenu *menu, QWidget *parent, ShelfManager &manager, const QUuid &shelfId,
                    const QUuid &favoriteId, const ButtonMenuActions &actions)
{
    const ShelfFavoriteAction *favorite = findFavorite(manager, shelfId, favoriteId);
    if (!favorite)
        return;
    QAction *title = menu->addAction(FavoriteRules::label(*favorite));
    title->setEnabled(false);
    QPointer<ShelfManager> guard(&manager);
    QPointer<QWidget> owner(parent);
    const QString toolName = FavoriteRules::toolDisplayName(favorite->tool);

    const auto chooseSaved = [guard, owner, shelfId, favoriteId, actions] {
        const std::optional<QUrl> folder = actions.chooseFolder(owner, QStringLiteral("Choose Saved Folder"));
        if (folder && guard)
            setSavedFolder(*guard, shelfId, favoriteId, *folder);
    };
    if (favorite->tool != ShelfFavoriteToolKind::rename) {
        menu->addSeparator();
        QString where;
        if (favorite->destinationMode == ShelfFavoriteDestinationMode::savedFolder && favorite->destination)
            where = QStringLiteral("Saves to ") + favorite->destination->path;
        else
            where = QStringLiteral("Asks for a folder each time");
        menu->addAction(where)->setEnabled(false);
        menu->addAction(QStringLiteral("Output Folder…"), menu, [guard, owner, shelfId, favoriteId, actions, toolName, chooseSaved] {
            switch (actions.askOutput(owner, toolName)) {
            case ButtonMenuActions::OutputChoice::savedFolder: {
                const ShelfFavoriteAction *f = guard ? findFavorite(*guard, shelfId, favoriteId) : nullptr;
                if (f && f->destination)
                    updateFavorite(*guard, shelfId, favoriteId, [](ShelfFavoriteAction &fav) {
                        fav.destinationMode = ShelfFavoriteDestinationMode::savedFolder;
                    });
                else if (f)
                    chooseSaved();
                break;
            }
            case ButtonMenuActions::OutputChoice::askEachTime:
                if (guard)
                    updateFavorite(*guard, shelfId, favoriteId, [](ShelfFavoriteAction &fav) {
                        fav.destinationMode = ShelfFavoriteDestinationMode::askEachTime;
                    });
                break;
            case ButtonMenuActions::OutputChoice::cancel:
                break;
            }
        });
        menu->addAction(QStringLiteral("Choose Saved Folder…"), menu, chooseSaved);
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("Label…"), menu, [guard, owner, shelfId, favoriteId, actions] {
        const ShelfFavoriteAction *f = guard ? findFavorite(*guard, shelfId, favoriteId) : nullptr;
        if (!f)
            return;
        const std::optional<QString> label = actions.askLabel(owner, f->customLabel.value_or(QString()), f->presetName);
        if (label && guard)
            setLabel(*guard, shelfId, favoriteId, label);
    });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Unpin Favorite"), menu, [guard, shelfId, favoriteId] {
        if (guard)
            unpin(*guard, shelfId, favoriteId);
    });
}

} // namespace FavoriteEditing
