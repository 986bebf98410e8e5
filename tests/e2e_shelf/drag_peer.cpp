// The other side of drags in the shelf window end-to-end suite.
//   drag_peer target DESTDIR copy|move   a drop target that copies or moves what it gets
//   drag_peer source FILE…               a drag source of file URLs (press and drag)
// The window sits at (700, 100), 300 × 300, titled "perchbox-e2e-peer".
#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
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
    void dragEnterEvent(QDragEnterEvent *e) override
    {
        if (mode == "target" && e->mimeData()->hasUrls()) {
            e->setDropAction(op == "move" ? Qt::MoveAction : Qt::CopyAction);
            e->accept();
        }
    }
    void dragMoveEvent(QDragMoveEvent *e) override
    {
        e->setDropAction(op == "move" ? Qt::MoveAction : Qt::CopyAction);
        e->accept();
    }
    void dropEvent(QDropEvent *e) override
    {
        const bool move = op == "move" && (e->possibleActions() & Qt::MoveAction);
        for (const QUrl &u : e->mimeData()->urls()) {
            const QString src = u.toLocalFile();
            const QString to = dest + QLatin1Char('/') + QFileInfo(src).fileName();
            const bool ok = move ? QFile::rename(src, to) : QFile::copy(src, to);
            std::printf("%s %s -> %s %s\n", move ? "moved" : "copied", qPrintable(src), qPrintable(to), ok ? "ok" : "failed");
            std::fflush(stdout);
        }
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
