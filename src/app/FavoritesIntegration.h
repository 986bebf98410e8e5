#pragma once

#include "platform/AppBus.h"

#include <QHash>
#include <QObject>
#include <QUuid>

class FavoriteRunner;
class PerchboxApp;
class PresetStore;
class ToolIntegration;

// Puts favorites into the program: the favorites bar in every shelf header (with the ring's
// favorite side), the header menu's "Favorites" submenu, one runner per shelf (its queue
// dies with the shelf's window: closing it drops the waiting runs; deleting the shelf also
// stops the running tool), and the shell verb `perchbox favorite SHELF FAVORITE`.
class FavoritesIntegration : public QObject
{
    Q_OBJECT
public:
    FavoritesIntegration(PerchboxApp &app, ToolIntegration &tools, QObject *parent = nullptr);
    ~FavoritesIntegration() override;

    // The runner of a shelf, made on first use.
    FavoriteRunner *runnerFor(const QUuid &shelfId);
    // Serves "favorite" on the bus object (and for this process's own command line).
    void registerVerbs(AppBusService &bus);
    // `perchbox favorite SHELF FAVORITE`: a click on that favorite, with the selection of
    // the shelf's window when it is open.
    VerbResult favoriteVerb(const QStringList &arguments);

private:
    void installShelfHooks();
    void shelvesChanged();

    PerchboxApp &m_app;
    ToolIntegration &m_tools;
    PresetStore &m_presets;
    QHash<QUuid, FavoriteRunner *> m_runners;
};
