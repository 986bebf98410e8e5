// A minimal host for the shelf window end-to-end suite: one shelf window at a known place.
//   shelf_host [copy|move]
#include "model/ShelfManager.h"
#include "settings/AppSettings.h"
#include "shelf/ShelfWindow.h"

#include <QApplication>
#include <QFile>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ShelfManager manager;
    AppSettings::instance().setDragMode(argc > 1 && QByteArray(argv[1]) == "move" ? DragMode::move : DragMode::copy);
    QUuid id;
    if (manager.shelves().isEmpty()) {
        Shelf s = Shelf::make(QStringLiteral("E2E"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        manager.appendShelf(s);
        id = s.id;
    } else {
        id = manager.shelves().first().id;
    }
    auto *w = new ShelfWindow(manager, id);
    w->present();
    w->move(100, 100);
    QObject::connect(&manager, &ShelfManager::shelvesChanged, &manager, [&] { manager.saveShelves(); });
    return app.exec();
}
