// Adding 10,000 files to an open shelf window and scrolling through them.
//
// Prints: the time until every row is in the list, the longest stall of the UI thread
// meanwhile (measured by a 1 ms heartbeat timer), and the frame times of scrolling the
// full list. The reference is a plain QListView over a QStringListModel with the same
// names, in the same run; the ratio is printed. Nothing is asserted.
#include "model/ShelfManager.h"
#include "settings/AppSettings.h"
#include "shelf/ShelfFileModel.h"
#include "shelf/ShelfFileView.h"
#include "shelf/ShelfWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct FrameStats {
    double mean = 0, p95 = 0, worst = 0;
};

FrameStats scrollFrames(QAbstractItemView *view, int frames)
{
    QScrollBar *bar = view->verticalScrollBar();
    QList<double> times;
    for (int i = 0; i < frames; ++i) {
        QElapsedTimer t;
        t.start();
        bar->setValue(int(qint64(bar->maximum()) * i / std::max(1, frames - 1)));
        view->viewport()->repaint();
        QCoreApplication::processEvents();
        times << t.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    FrameStats s;
    for (double v : times)
        s.mean += v;
    s.mean /= times.size();
    s.p95 = times.at(int(times.size() * 0.95));
    s.worst = times.last();
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = 10000;

    // The files.
    QTemporaryDir dir;
    QList<QUrl> urls;
    QStringList names;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("file-%1.txt").arg(i, 5, 10, QLatin1Char('0'));
        QFile f(dir.path() + QLatin1Char('/') + name);
        f.open(QIODevice::WriteOnly);
        f.write("x");
        urls << QUrl::fromLocalFile(f.fileName());
        names << name;
    }

    ShelfManager manager;
    Shelf shelf = Shelf::make(QStringLiteral("Bench"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
    manager.appendShelf(shelf);
    auto *window = new ShelfWindow(manager, shelf.id);
    window->present();
    QCoreApplication::processEvents();

    // Heartbeat: the longest gap between 1 ms ticks is the longest stall.
    QElapsedTimer beat;
    double longestStall = 0;
    QTimer heart;
    heart.setInterval(1);
    QObject::connect(&heart, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, beat.nsecsElapsed() / 1e6);
        beat.restart();
    });

    QElapsedTimer total;
    total.start();
    beat.start();
    heart.start();
    bool finished = false;
    QObject::connect(&manager, &ShelfManager::addFilesFinished, [&] { finished = true; });
    QElapsedTimer call;
    call.start();
    manager.addFiles(urls, shelf.id);
    const double addCallMs = call.nsecsElapsed() / 1e6;
    while (!(finished && window->fileModel()->rowCount() == count) && total.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    window->fileView()->viewport()->repaint();
    const double allRows = total.nsecsElapsed() / 1e6;
    heart.stop();

    const FrameStats ours = scrollFrames(window->fileView(), 240);

    // Reference: Qt's plain list view with the same names.
    QStringListModel refModel(names);
    QListView ref;
    ref.setModel(&refModel);
    ref.setUniformItemSizes(true);
    ref.resize(window->fileView()->size());
    ref.show();
    QCoreApplication::processEvents();
    const FrameStats base = scrollFrames(&ref, 240);

    std::printf("bench_shelf_view (%s platform, %d files)\n", qPrintable(QGuiApplication::platformName()), count);
    std::printf("  all rows shown after      %8.1f ms   (target < 1000 ms)\n", allRows);
    std::printf("  addFiles() call itself    %8.1f ms   (part of the stall, in the shelf manager)\n", addCallMs);
    std::printf("  longest UI stall          %8.1f ms   (target < 16 ms)\n", longestStall);
    std::printf("  scroll frame mean / p95 / worst  %6.2f / %6.2f / %6.2f ms   (60 fps = 16.7 ms)\n",
                ours.mean, ours.p95, ours.worst);
    std::printf("  reference QListView mean / p95 / worst  %6.2f / %6.2f / %6.2f ms\n", base.mean, base.p95,
                base.worst);
    std::printf("  ratio (ours / reference, mean frame)  %.2fx\n", base.mean > 0 ? ours.mean / base.mean : 0.0);
    window->close();
    return 0;
}
