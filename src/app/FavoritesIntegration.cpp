#include "app/FavoritesIntegration.h"

#include "app/PerchboxApp.h"
#include "app/ToolIntegration.h"
#include "model/ShelfLookup.h"
#include "model/ShelfManager.h"
#include "shelf/ShelfHooks.h"
#include "shelf/ShelfWindow.h"
#include "tools/archive/ZipWindow.h"
#include "tools/favorites/FavoriteEditing.h"
#include "tools/favorites/FavoriteRules.h"
#include "tools/favorites/FavoriteRunner.h"
#include "tools/favorites/FavoritesBar.h"
#include "tools/presets/PresetStore.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>

namespace {

// Dialogs of favorite runs, over the shelf's window when it is open. They do not block:
// the queue goes on while an alert is read.
class DesktopFavoriteHost : public FavoriteRunHost
{
public:
    explicit DesktopFavoriteHost(const QUuid &shelfId) : m_shelfId(shelfId) {}

    void chooseFolder(const QString &message, const QString &prompt,
                      std::function<void(std::optional<QUrl>)> done) override
    {
        // Not modal: the shelf stays clickable, so more clicks can join the queue meanwhile.
        auto *dialog = new QFileDialog(ShelfWindow::find(m_shelfId), message, QDir::homePath());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(Qt::NonModal);
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        dialog->setLabelText(QFileDialog::Accept, prompt);
        dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
        auto answered = std::make_shared<bool>(false);
        QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [done, answered](const QString &path) {
            *answered = true;
            done(QUrl::fromLocalFile(path));
        });
        QObject::connect(dialog, &QFileDialog::finished, dialog, [done, answered](int) {
            if (!*answered) {
                *answered = true;
                done(std::nullopt);
            }
        });
        dialog->show();
    }

    void showAlert(const QString &title, const QString &message, const QString &details) override
    {
        auto *box = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, ShelfWindow::find(m_shelfId));
        box->setInformativeText(details.isEmpty() ? message : message + QStringLiteral("\n\n") + details);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowFlag(Qt::WindowStaysOnTopHint);
        box->open();
    }

    void copyText(const QString &text) override { QGuiApplication::clipboard()->setText(text); }

    void reveal(const QList<QUrl> &urls) override { revealInFileManager(urls); }

private:
    QUuid m_shelfId;
};

} // namespace

FavoritesIntegration::FavoritesIntegration(PerchboxApp &app, ToolIntegration &tools, QObject *parent)
    : QObject(parent), m_app(app), m_tools(tools), m_presets(PresetStore::shared())
{
    installShelfHooks();
    connect(&m_app.manager(), &ShelfManager::shelvesChanged, this, &FavoritesIntegration::shelvesChanged);
}

FavoritesIntegration::~FavoritesIntegration()
{
    ShelfHooks &hooks = shelfHooks();
    hooks.fillFavoritesMenu = {};
    hooks.makeFavoritesBar = {};
}

FavoriteRunner *FavoritesIntegration::runnerFor(const QUuid &shelfId)
{
    FavoriteRunner *&runner = m_runners[shelfId];
    if (!runner) {
        FavoriteRunner::Context context;
        context.manager = &m_app.manager();
        context.presets = &m_presets;
        context.progress = m_tools.progressFor(shelfId);
        context.host = std::make_shared<DesktopFavoriteHost>(shelfId);
        runner = new FavoriteRunner(shelfId, context, this);
    }
    return runner;
}

void FavoritesIntegration::installShelfHooks()
{
    ShelfHooks &hooks = shelfHooks();
    ShelfManager &manager = m_app.manager();
    hooks.fillFavoritesMenu = [this, &manager](QMenu *menu, QWidget *, const QUuid &shelfId) {
        FavoriteEditing::fillFavoritesMenu(menu, manager, m_presets, shelfId);
    };
    hooks.makeFavoritesBar = [this, &manager](QWidget *window, const QUuid &shelfId,
                                              ShelfProgressRingButton *ring) -> QWidget * {
        FavoriteRunner *runner = runnerFor(shelfId);
        auto *bar = new FavoritesBar(manager, m_presets, *runner, shelfId, window);
        bar->attachRing(ring);
        if (auto *shelfWindow = qobject_cast<ShelfWindow *>(window)) {
            QPointer<ShelfWindow> guard(shelfWindow);
            bar->selection = [guard] {
                QSet<QUuid> ids;
                if (guard)
                    for (const QUuid &id : guard->selectedFileIds())
                        ids.insert(id);
                return ids;
            };
            bar->selectAll = [guard] {
                if (guard)
                    guard->selectAll();
            };
            // The queue lives with the window: closing it drops the waiting runs.
            QPointer<FavoriteRunner> guardedRunner(runner);
            connect(shelfWindow, &ShelfWindow::shelfWindowClosed, runner, [guardedRunner] {
                if (guardedRunner)
                    guardedRunner->clearWaiting();
            });
        }
        return bar;
    };
    // A shelf with a favorite running or waiting is busy: it does not close when emptied.
    auto toolRunning = hooks.isToolRunning;
    hooks.isToolRunning = [this, toolRunning](const QUuid &shelfId) {
        if (toolRunning && toolRunning(shelfId))
            return true;
        const FavoriteRunner *runner = m_runners.value(shelfId);
        return runner && (runner->runningFavoriteID() || !runner->favoriteQueue().isEmpty());
    };
}

void FavoritesIntegration::shelvesChanged()
{
    const ShelfManager &manager = m_app.manager();
    for (auto it = m_runners.begin(); it != m_runners.end();) {
        if (manager.shelf(it.key())) {
            ++it;
            continue;
        }
        // The shelf was deleted: waiting runs go, the running tool stops where it can; the
        // runner goes once nothing runs.
        FavoriteRunner *runner = it.value();
        runner->shelfDeleted();
        if (!runner->runningFavoriteID()) {
            runner->deleteLater();
            it = m_runners.erase(it);
        } else {
            ++it;
        }
    }
}

void FavoritesIntegration::registerVerbs(AppBusService &bus)
{
    bus.setVerbHandler(QStringLiteral("favorite"), [this](const QStringList &arguments) {
        return favoriteVerb(arguments);
    });
}

VerbResult FavoritesIntegration::favoriteVerb(const QStringList &arguments)
{
    if (arguments.size() != 2)
        return VerbResult::refused(QStringLiteral("usage: perchbox favorite SHELF FAVORITE"));
    const ShelfManager &manager = m_app.manager();
    QString error;
    const std::optional<QUuid> shelfId = findShelfByNameOrId(manager.shelves(), arguments.at(0), &error);
    if (!shelfId)
        return VerbResult::refused(error);
    const Shelf *shelf = manager.shelf(*shelfId);
    const std::optional<qsizetype> index = FavoriteRules::findFavorite(shelf->favorites, arguments.at(1), &error);
    if (!index)
        return VerbResult::refused(QStringLiteral("shelf \"%1\": %2").arg(shelf->name, error));
    const ShelfFavoriteAction favorite = shelf->favorites.at(*index);
    if (shelf->files.isEmpty())
        return VerbResult::refused(QStringLiteral("shelf \"%1\" has no files for \"%2\"")
                                       .arg(shelf->name, FavoriteRules::label(favorite)));
    QSet<QUuid> selection;
    if (const ShelfWindow *window = ShelfWindow::find(*shelfId))
        for (const QUuid &id : window->selectedFileIds())
            selection.insert(id);
    if (!runnerFor(*shelfId)->favoriteTapped(favorite.id, selection))
        return VerbResult::refused(QStringLiteral("\"%1\" could not be started").arg(FavoriteRules::label(favorite)));
    return VerbResult::accepted();
}
