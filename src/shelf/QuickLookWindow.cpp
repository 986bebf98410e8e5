#include "shelf/QuickLookWindow.h"

#include "platform/FilePath.h"
#include "platform/Icons.h"
#include "platform/MimeIcons.h"
#include "shelf/ShelfFileModel.h"
#include "shelf/ShelfLogic.h"

#include <QFile>
#include <QFutureWatcher>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Preview {
    enum class Kind { image, text, info } kind = Kind::info;
    QImage image;
    QString text;
    QString name;
    QString details;
    QString mimeType;
    bool exists = false;
};

Preview loadPreview(const QUrl &url)
{
    Preview p;
    p.name = ShelfFileModel::displayName(url);
    const QByteArray path = FilePath::bytes(url);
    struct stat st;
    if (::stat(path.constData(), &st) != 0) {
        p.details = QStringLiteral("The file can no longer be found.");
        return p;
    }
    p.exists = true;
    static QMimeDatabase db;
    const bool isDir = S_ISDIR(st.st_mode);
    QMimeType mt = isDir ? db.mimeTypeForName(QStringLiteral("inode/directory"))
                         : db.mimeTypeForFile(FilePath::displayPath(url));
    p.mimeType = mt.name();
    p.details = (isDir ? QString() : ShelfLogic::formatFileSize(qint64(st.st_size)) + QStringLiteral(" — "))
                + mt.comment();
    if (isDir || !S_ISREG(st.st_mode))
        return p;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return p;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return p;
    }
    if (mt.name().startsWith(QLatin1String("image/"))) {
        QImageReader reader(&file);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid() && (size.width() > 2048 || size.height() > 2048))
            reader.setScaledSize(size.scaled(2048, 2048, Qt::KeepAspectRatio));
        p.image = reader.read();
        if (!p.image.isNull()) {
            p.kind = Preview::Kind::image;
            return p;
        }
        file.seek(0);
    }
    if (mt.inherits(QStringLiteral("text/plain"))) {
        const QByteArray bytes = file.read(512 * 1024);
        p.text = QString::fromUtf8(bytes);
        p.kind = Preview::Kind::text;
    }
    return p;
}

QPointer<QuickLookWindow> g_shared;

} // namespace

QuickLookWindow::QuickLookWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("perchbox-quicklook"));
    setWindowTitle(QStringLiteral("Quick Look"));
    resize(640, 480);
    auto *layout = new QVBoxLayout(this);
    m_title = new QLabel(this);
    m_title->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_title);
    m_stack = new QStackedWidget(this);
    m_image = new QLabel(this);
    m_image->setAlignment(Qt::AlignCenter);
    m_image->setMinimumSize(1, 1);
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_text->setFocusPolicy(Qt::NoFocus);
    auto *info = new QWidget(this);
    auto *il = new QVBoxLayout(info);
    m_infoIcon = new QLabel(info);
    m_infoIcon->setAlignment(Qt::AlignCenter);
    m_info = new QLabel(info);
    m_info->setAlignment(Qt::AlignCenter);
    m_info->setWordWrap(true);
    il->addStretch();
    il->addWidget(m_infoIcon);
    il->addWidget(m_info);
    il->addStretch();
    m_stack->addWidget(m_image);
    m_stack->addWidget(m_text);
    m_stack->addWidget(info);
    layout->addWidget(m_stack, 1);
    setFocusPolicy(Qt::StrongFocus);
}

QuickLookWindow *QuickLookWindow::shared()
{
    if (!g_shared) {
        g_shared = new QuickLookWindow;
        g_shared->setAttribute(Qt::WA_DeleteOnClose);
    }
    return g_shared;
}

bool QuickLookWindow::isOpen()
{
    return g_shared && g_shared->isVisible();
}

void QuickLookWindow::showFiles(const QList<QUrl> &files, int start)
{
    m_files = files;
    m_index = files.isEmpty() ? 0 : std::clamp(start, 0, int(files.size()) - 1);
    showCurrent();
    show();
    raise();
    activateWindow();
}

void QuickLookWindow::showCurrent()
{
    if (m_files.isEmpty()) {
        m_title->setText(QString());
        m_info->setText(QStringLiteral("No files"));
        m_stack->setCurrentIndex(2);
        return;
    }
    const QUrl url = m_files.at(m_index);
    m_title->setText(QStringLiteral("%1  (%2 of %3)")
                         .arg(ShelfFileModel::displayName(url))
                         .arg(m_index + 1)
                         .arg(m_files.size()));
    const quint64 gen = ++m_generation;
    auto *watcher = new QFutureWatcher<Preview>(this);
    connect(watcher, &QFutureWatcher<Preview>::finished, this, [this, watcher, gen] {
        watcher->deleteLater();
        if (gen != m_generation)
            return;
        const Preview p = watcher->result();
        switch (p.kind) {
        case Preview::Kind::image:
            m_currentImage = p.image;
            m_stack->setCurrentIndex(0);
            updateImage();
            break;
        case Preview::Kind::text:
            m_text->setPlainText(p.text);
            m_stack->setCurrentIndex(1);
            break;
        case Preview::Kind::info: {
            static const QMimeDatabase db;
            QIcon icon = p.exists ? iconForMimeType(db.mimeTypeForName(p.mimeType))
                                  : symbolIcon(QStringLiteral("exclamationmark.triangle.fill"));
            m_infoIcon->setPixmap(icon.pixmap(96, 96));
            m_info->setText(p.name + QLatin1Char('\n') + p.details);
            m_stack->setCurrentIndex(2);
            break;
        }
        }
    });
    watcher->setFuture(QtConcurrent::run([url] { return loadPreview(url); }));
}

void QuickLookWindow::updateImage()
{
    if (m_currentImage.isNull())
        return;
    const QSize avail = m_image->size();
    QImage img = m_currentImage;
    if (img.width() > avail.width() || img.height() > avail.height())
        img = img.scaled(avail, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    m_image->setPixmap(QPixmap::fromImage(img));
}

void QuickLookWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_stack->currentIndex() == 0)
        updateImage();
}

void QuickLookWindow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down:
        if (m_index + 1 < m_files.size()) {
            ++m_index;
            showCurrent();
        }
        break;
    case Qt::Key_Left:
    case Qt::Key_Up:
        if (m_index > 0) {
            --m_index;
            showCurrent();
        }
        break;
    case Qt::Key_Space:
    case Qt::Key_Escape:
        close();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}
