// The other side of drags in the shelf window end-to-end suite.
//   drag_peer target DESTDIR HOW   a drop target; HOW is
//       copy      accepts as a copy and copies
//       move      accepts as a move (when offered) and moves
//       nothing   accepts as a copy and writes nothing
//       slow      accepts as a copy and copies two seconds later
//       proposed  does what the source proposes (move or copy)
//     and prints the offered and proposed actions of each drop
//   drag_peer source FILE…         a drag source of file URLs (press and drag)
// The window sits at (700, 100), 300 × 300, titled "perchbox-e2e-peer".
#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

class Peer : public QWidget
{
public:
    QString mode, dest, op;
    QList<QUrl> files;
    QPoint press;
    bool pressed = false;

protected:
    Qt::DropAction wanted(const QDropEvent *e) const
    {
        if (op == "move")
            return Qt::MoveAction;
        if (op == "proposed")
            return e->proposedAction();
        return Qt::CopyAction;
    }
    void dragEnterEvent(QDragEnterEvent *e) override
    {
        if (mode == "target" && e->mimeData()->hasUrls()) {
            e->setDropAction(wanted(e));
            e->accept();
        }
    }
    void dragMoveEvent(QDragMoveEvent *e) override
    {
        e->setDropAction(wanted(e));
        e->accept();
    }
    void dropEvent(QDropEvent *e) override
    {
        std::printf("offered copy=%d move=%d proposed=%s\n", bool(e->possibleActions() & Qt::CopyAction),
                    bool(e->possibleActions() & Qt::MoveAction),
                    e->proposedAction() == Qt::MoveAction ? "move" : e->proposedAction() == Qt::CopyAction ? "copy" : "other");
        const bool move = wanted(e) == Qt::MoveAction && (e->possibleActions() & Qt::MoveAction);
        const QList<QUrl> urls = e->mimeData()->urls();
        const auto act = [this, move, urls] {
            for (const QUrl &u : urls) {
                const QString src = u.toLocalFile();
                const QString to = dest + QLatin1Char('/') + QFileInfo(src).fileName();
                const bool ok = move ? QFile::rename(src, to) : QFile::copy(src, to);
                std::printf("%s %s -> %s %s\n", move ? "moved" : "copied", qPrintable(src), qPrintable(to), ok ? "ok" : "failed");
            }
            std::fflush(stdout);
        };
        if (op == "slow")
            QTimer::singleShot(2000, this, act);
        else if (op != "nothing")
            act();
        std::fflush(stdout);
        e->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
        e->accept();
    }
    void mousePressEvent(QMouseEvent *e) override
    {
        press = e->position().toPoint();
        pressed = true;
    }
    void mouseMoveEvent(QMouseEvent *e) override
    {
        if (mode != "source" || !pressed || (e->position().toPoint() - press).manhattanLength() < 8)
            return;
        pressed = false;
        auto *drag = new QDrag(this);
        auto *md = new QMimeData;
        md->setUrls(files);
        drag->setMimeData(md);
        const Qt::DropAction r = drag->exec(Qt::CopyAction, Qt::CopyAction);
        std::printf("drag finished %d\n", int(r));
        std::fflush(stdout);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    Peer peer;
    peer.mode = QString::fromLocal8Bit(argv[1]);
    if (peer.mode == "target") {
        peer.dest = QString::fromLocal8Bit(argv[2]);
        peer.op = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("copy");
        peer.setAcceptDrops(true);
    } else {
        for (int i = 2; i < argc; ++i)
            peer.files << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    }
    peer.setWindowTitle(QStringLiteral("perchbox-e2e-peer"));
    peer.setGeometry(700, 100, 300, 300);
    peer.show();
    return app.exec();
}
