#include "shelf/ShelfIntake.h"

#include "platform/AtomicFile.h"
#include "platform/FilePath.h"
#include "shelf/ShelfLogic.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMimeData>

#include <fcntl.h>
#include <unistd.h>

namespace ShelfIntake {

static QList<QUrl> parseUriLines(const QByteArray &text, bool skipOperationLine)
{
    QList<QUrl> out;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i).trimmed();
        if (line.endsWith('\0'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (skipOperationLine && i == 0 && (line == "copy" || line == "cut"))
            continue;
        const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (url.isValid() && url.isLocalFile() && !FilePath::bytes(url).isEmpty())
            out.append(url);
    }
    return out;
}

QList<QUrl> fileUrls(const QMimeData *data)
{
    if (!data)
        return {};
    if (data->hasFormat(QStringLiteral("text/uri-list"))) {
        const QList<QUrl> urls = parseUriLines(data->data(QStringLiteral("text/uri-list")), false);
        if (!urls.isEmpty())
            return urls;
    }
    if (data->hasFormat(QStringLiteral("x-special/gnome-copied-files")))
        return parseUriLines(data->data(QStringLiteral("x-special/gnome-copied-files")), true);
    return {};
}

QUrl writeNewFile(const QString &dir, const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(dir);
    const QFileInfo fi(name);
    const QString base = fi.completeBaseName();
    const QString ext = fi.suffix();
    for (int n = 1; n < 1000; ++n) {
        const QString candidate = n == 1 ? name
                                         : base + QLatin1Char(' ') + QString::number(n)
                                               + (ext.isEmpty() ? QString() : QLatin1Char('.') + ext);
        const QString path = QDir(dir).filePath(candidate);
        // Claim the name first so that nothing existing is ever replaced; then write the
        // content atomically over our own empty placeholder.
        const QByteArray native = QFile::encodeName(path);
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return {};
        }
        ::close(fd);
        if (!writeFileAtomically(path, bytes)) {
            ::unlink(native.constData());
            return {};
        }
        return QUrl::fromLocalFile(path);
    }
    return {};
}

static QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buf, "PNG"))
        return {};
    return bytes;
}

QList<QUrl> paste(const QMimeData *data, const QString &tempDir, qint64 seconds)
{
    if (!data)
        return {};
    const QList<QUrl> urls = fileUrls(data);
    if (!urls.isEmpty())
        return urls;
    if (data->hasImage()) {
        const QImage image = qvariant_cast<QImage>(data->imageData());
        const QByteArray png = pngBytes(image);
        if (png.isEmpty())
            return {};
        const QUrl url = writeNewFile(tempDir, ShelfLogic::pastedImageName(seconds), png);
        return url.isEmpty() ? QList<QUrl>{} : QList<QUrl>{url};
    }
    if (data->hasText()) {
        const QString text = data->text();
        if (text.isEmpty())
            return {};
        const QUrl url = writeNewFile(tempDir, ShelfLogic::pastedTextName(seconds), text.toUtf8());
        return url.isEmpty() ? QList<QUrl>{} : QList<QUrl>{url};
    }
    return {};
}

QString suggestedName(const QMimeData *data)
{
    if (!data)
        return {};
    const QString kde = QStringLiteral("application/x-kde-suggestedfilename");
    if (data->hasFormat(kde))
        return QString::fromUtf8(data->data(kde)).trimmed();
    const QString moz = QStringLiteral("text/x-moz-url");
    if (data->hasFormat(moz)) {
        // UTF-16: "URL\nTitle".
        const QByteArray raw = data->data(moz);
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.constData()),
                                                raw.size() / 2);
        const QUrl url(text.section(QLatin1Char('\n'), 0, 0).trimmed());
        return url.fileName();
    }
    return {};
}

// True when `bytes` look like an ISO base-media file of the HEIF family.
static bool looksLikeHeif(const QByteArray &bytes)
{
    return bytes.size() > 12 && bytes.mid(4, 4) == "ftyp";
}

QList<QUrl> drop(const QMimeData *data, const QString &desktopDir, qint64 ms, const QUuid &nameId)
{
    if (!data)
        return {};
    const QList<QUrl> urls = fileUrls(data);
    if (!urls.isEmpty())
        return urls;

    QStringList formats = data->formats();
    if (data->hasImage() && !formats.contains(QStringLiteral("image/png")))
        formats.append(QStringLiteral("image/png")); // raw image data: saved as PNG
    const auto kind = ShelfLogic::pickDropImageKind(formats);
    if (!kind)
        return {};

    // The content as the kind's own bytes; for "any image" the image re-encoded as PNG.
    QByteArray bytes;
    QString mime;
    for (const QString &m : kind->mimes)
        if (data->hasFormat(m)) {
            mime = m;
            break;
        }
    if (!mime.isEmpty())
        bytes = data->data(mime);
    if (kind->extension == QLatin1String("heic") || kind->extension == QLatin1String("heif")) {
        if (!looksLikeHeif(bytes))
            return {};
    } else if (kind->typeId == QLatin1String("public.image") || bytes.isEmpty()) {
        QImage image;
        if (data->hasImage())
            image = qvariant_cast<QImage>(data->imageData());
        if (image.isNull())
            for (const QString &f : data->formats())
                if (f.startsWith(QLatin1String("image/")) && image.loadFromData(data->data(f)))
                    break;
        bytes = pngBytes(image);
    } else {
        // Make sure the content really is an image before anything is written.
        QBuffer buf(&bytes);
        buf.open(QIODevice::ReadOnly);
        QImageReader reader(&buf);
        if (!reader.canRead() || reader.size().isEmpty())
            return {};
    }
    if (bytes.isEmpty())
        return {};
    const QString name = ShelfLogic::droppedImageName(suggestedName(data), ms, nameId, kind->extension);
    const QUrl url = writeNewFile(desktopDir, name, bytes);
    return url.isEmpty() ? QList<QUrl>{} : QList<QUrl>{url};
}

QMimeData *copiedFilesMimeData(const QList<QUrl> &urls)
{
    auto *md = new QMimeData;
    QByteArray uriList, gnome = "copy", text;
    for (const QUrl &u : urls) {
        uriList += u.toEncoded() + "\r\n";
        gnome += '\n' + u.toEncoded();
        if (!text.isEmpty())
            text += '\n';
        text += FilePath::displayPath(u).toUtf8();
    }
    md->setData(QStringLiteral("text/uri-list"), uriList);
    md->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
    md->setData(QStringLiteral("application/x-kde-cutselection"), "0");
    md->setData(QStringLiteral("text/plain;charset=utf-8"), text);
    md->setText(QString::fromUtf8(text));
    return md;
}

} // namespace ShelfIntake
