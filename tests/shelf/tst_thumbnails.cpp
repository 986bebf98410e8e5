// Thumbnails through the desktop's shared cache, in a real temporary cache folder: lookups,
// outdated entries, failure markers, what we make ourselves (images, HEIC, video frames) and
// write back; and the file-type icons from the icon theme.
#include "platform/FreedesktopThumbnails.h"
#include "platform/MimeIcons.h"
#include "shelf/ThumbnailCache.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMimeDatabase>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <utime.h>

namespace Thumbs = FreedesktopThumbnails;

namespace {

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(-1) || !p.waitForFinished(-1))
        return false;
    if (p.exitCode() != 0)
        qWarning("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool ffmpeg(const QStringList &args)
{
    return run(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-y", "-loglevel", "error"} + args);
}

void setMTime(const QByteArray &path, time_t seconds)
{
    struct utimbuf times = {seconds, seconds};
    QCOMPARE(::utime(path.constData(), &times), 0);
}

int modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

QImage cachedImage(const QByteArray &path, Thumbs::Flavor flavor = Thumbs::Flavor::normal)
{
    return QImage(Thumbs::thumbnailPath(Thumbs::canonicalUri(path), flavor), "png");
}

// The dominant colour of an image (its middle pixel).
QColor middle(const QImage &image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

bool near(const QColor &a, const QColor &b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class TestThumbnails : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray file(const QString &name) const { return QFile::encodeName(m_dir.filePath(QStringLiteral("files/") + name)); }
    QByteArray solidPng(const QString &name, QSize size, QColor colour) const
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        const QByteArray path = file(name);
        image.save(QFile::decodeName(path), "png");
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("cache"))));
        QDir().mkpath(m_dir.filePath(QStringLiteral("files")));
    }

    void namesFollowTheDesktopsRules()
    {
        // The example of the thumbnail rules, and the escaping of GLib's file URIs.
        QCOMPARE(Thumbs::hashedName("file:///home/jens/photos/me.png"), QByteArray("c6ee772d9e49320e97ec29a7eb5b1697.png"));
        QCOMPARE(Thumbs::canonicalUri(QByteArray("/tmp/a b;c#d%e?f[g]h{i}|j^k`l\"m<n>o!p~q*r's(t)u:v@w&x=y+z$,\xc3\xa9")),
                 QByteArray("file:///tmp/a%20b%3Bc%23d%25e%3Ff%5Bg%5Dh%7Bi%7D%7Cj%5Ek%60l%22m%3Cn%3Eo!p~q*r's(t)u:v@w&x=y+z$,%C3%A9"));
        QCOMPARE(Thumbs::canonicalUri(QByteArray("/x/\xff\x01")), QByteArray("file:///x/%FF%01"));
        QCOMPARE(Thumbs::flavorFor(52), Thumbs::Flavor::normal);
        QCOMPARE(Thumbs::flavorFor(129), Thumbs::Flavor::large);
        QCOMPARE(Thumbs::flavorFor(5000), Thumbs::Flavor::xxLarge);
        QVERIFY(Thumbs::thumbnailPath("file:///a", Thumbs::Flavor::xLarge).endsWith("/thumbnails/x-large/" + QString::fromLatin1(Thumbs::hashedName("file:///a"))));
    }

    void imageIsMadeAndWrittenBack()
    {
        const QByteArray path = solidPng(QStringLiteral("photo one.png"), {400, 300}, Qt::red);
        const QImage thumb = ThumbnailCache::thumbnail(path, 52);
        QVERIFY(!thumb.isNull());
        QVERIFY(thumb.width() <= 52 && thumb.height() <= 52);
        QCOMPARE(thumb.width(), 52);
        QVERIFY(near(middle(thumb), Qt::red));

        const QString stored = Thumbs::thumbnailPath(Thumbs::canonicalUri(path), Thumbs::Flavor::normal);
        const QImage cached(stored, "png");
        QVERIFY(!cached.isNull());
        QCOMPARE(cached.size(), QSize(128, 96));
        QCOMPARE(cached.text("Thumb::URI").toLatin1(), Thumbs::canonicalUri(path));
        struct stat st;
        QCOMPARE(::stat(path.constData(), &st), 0);
        QCOMPARE(cached.text("Thumb::MTime").toLongLong(), qint64(st.st_mtim.tv_sec));
        QCOMPARE(cached.text("Thumb::Size").toLongLong(), qint64(st.st_size));
        QCOMPARE(cached.text("Thumb::Mime"), QStringLiteral("image/png"));
        QCOMPARE(modeOf(stored), 0600);
        QCOMPARE(modeOf(QFileInfo(stored).absolutePath()), 0700);
        QCOMPARE(modeOf(Thumbs::cacheRoot()), 0700);
        // No temporary files are left beside it.
        QCOMPARE(QDir(QFileInfo(stored).absolutePath()).entryList(QDir::Files).size(), 1);
    }

    void goodEntryIsUsedAndOutdatedOneReplaced()
    {
        const QByteArray path = solidPng(QStringLiteral("cached.png"), {200, 200}, Qt::red);
        setMTime(path, 1'600'000'000);
        const auto source = Thumbs::describe(path, QStringLiteral("image/png"));
        QVERIFY(source);
        // A file manager's thumbnail (in the large folder only): green, so we can tell it apart.
        QImage theirs(256, 256, QImage::Format_RGB32);
        theirs.fill(Qt::green);
        QVERIFY(Thumbs::store(*source, theirs, Thumbs::Flavor::large));
        QVERIFY(near(middle(ThumbnailCache::thumbnail(path, 52)), Qt::green));
        QVERIFY(!QFile::exists(Thumbs::thumbnailPath(source->uri, Thumbs::Flavor::normal)));

        // The file changes: the entry is outdated, and a new one is made from the file.
        setMTime(path, 1'700'000'000);
        QVERIFY(near(middle(ThumbnailCache::thumbnail(path, 52)), Qt::red));
        QCOMPARE(cachedImage(path).text("Thumb::MTime"), QStringLiteral("1700000000"));

        // Same time but another size (Thumb::Size disagrees): outdated too.
        const auto now = Thumbs::describe(path, QStringLiteral("image/png"));
        Thumbs::Source lying = *now;
        lying.size += 1;
        QVERIFY(Thumbs::store(lying, theirs, Thumbs::Flavor::normal));
        QVERIFY(Thumbs::find(*now, 52).isNull());
        QVERIFY(!Thumbs::find(lying, 52).isNull());
    }

    void failureMarkersAreHonouredUntilTheFileChanges()
    {
        // A good JPEG, and garbage of the same size under the same name first.
        QImage good(64, 64, QImage::Format_RGB32);
        good.fill(Qt::blue);
        QByteArray jpeg;
        {
            QBuffer buffer(&jpeg);
            QVERIFY(buffer.open(QIODevice::WriteOnly) && good.save(&buffer, "jpeg"));
        }
        const QByteArray path = file(QStringLiteral("broken.jpg"));
        const auto write = [&path](const QByteArray &bytes) {
            QFile f(QFile::decodeName(path));
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        QVERIFY(write(QByteArray(jpeg.size(), '\x01')));
        setMTime(path, 1'650'000'000);
        QVERIFY(ThumbnailCache::thumbnail(path, 52).isNull());
        const QString marker = Thumbs::failurePath(Thumbs::canonicalUri(path));
        QVERIFY(marker.contains(QStringLiteral("/thumbnails/fail/perchbox-")));
        QVERIFY(QFile::exists(marker));
        QCOMPARE(QImage(marker, "png").text("Thumb::MTime"), QStringLiteral("1650000000"));
        QVERIFY(!QFile::exists(Thumbs::thumbnailPath(Thumbs::canonicalUri(path), Thumbs::Flavor::normal)));
        const auto inode = [&marker] {
            struct stat st;
            return ::stat(QFile::encodeName(marker).constData(), &st) == 0 ? st.st_ino : ino_t(0);
        };
        const ino_t first = inode();
        // Asked again, it is not tried again (a new try would leave a new marker file).
        QVERIFY(ThumbnailCache::thumbnail(path, 52).isNull());
        QCOMPARE(inode(), first);

        // A good picture now, but with the old time and size: the marker still says no.
        QVERIFY(write(jpeg));
        setMTime(path, 1'650'000'000);
        QVERIFY(ThumbnailCache::thumbnail(path, 52).isNull());
        // Once the file is newer than the marker, it is tried again.
        setMTime(path, 1'650'000'100);
        QVERIFY(near(middle(ThumbnailCache::thumbnail(path, 52)), Qt::blue));
    }

    void anotherProgramsFailureIsNotOurs()
    {
        const QByteArray path = solidPng(QStringLiteral("theirs-failed.png"), {90, 60}, Qt::yellow);
        const auto source = Thumbs::describe(path, QStringLiteral("image/png"));
        QVERIFY(source);
        const QString theirs = Thumbs::cacheRoot() + QStringLiteral("/fail/gnome-thumbnail-factory/")
                               + QString::fromLatin1(Thumbs::hashedName(source->uri));
        QDir().mkpath(QFileInfo(theirs).absolutePath());
        QImage marker(1, 1, QImage::Format_ARGB32);
        marker.setText("Thumb::URI", QString::fromLatin1(source->uri));
        marker.setText("Thumb::MTime", QString::number(source->mtime));
        QVERIFY(marker.save(theirs, "png"));
        QVERIFY(!ThumbnailCache::thumbnail(path, 52).isNull());
        // Smaller than a thumbnail: kept at its own size, never enlarged.
        QCOMPARE(cachedImage(path).size(), QSize(90, 60));
    }

    void heicThroughTheImageModule()
    {
        const QByteArray png = solidPng(QStringLiteral("source.png"), {640, 480}, QColor(0, 0, 255));
        const QByteArray heic = file(QStringLiteral("photo.heic"));
        if (!run(QStringLiteral("heif-enc"), {"-q", "60", QFile::decodeName(png), "-o", QFile::decodeName(heic)}))
            QSKIP("heif-enc is missing (scripts/setup.sh installs libheif-examples)");
        const QImage thumb = ThumbnailCache::thumbnail(heic, 100);
        QVERIFY(!thumb.isNull());
        QCOMPARE(thumb.size(), QSize(100, 75));
        QVERIFY(near(middle(thumb), QColor(0, 0, 255), 60));
        const QImage cached = cachedImage(heic);
        QCOMPARE(cached.size(), QSize(128, 96));
        QCOMPARE(cached.text("Thumb::Mime"), QStringLiteral("image/heif"));
    }

    void videoFrameATenthIn()
    {
        // Red for the first half second, then blue: the frame a tenth into ten seconds is blue.
        const QByteArray clip = file(QStringLiteral("clip.mp4"));
        if (!ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=320x240:r=25:d=0.5", "-f", "lavfi", "-i",
                     "color=c=blue:s=320x240:r=25:d=9.5", "-filter_complex", "[0:v][1:v]concat=n=2:v=1[v]",
                     "-map", "[v]", "-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-pix_fmt", "yuv420p",
                     QFile::decodeName(clip)}))
            QSKIP("ffmpeg could not make the clip");
        const QImage thumb = ThumbnailCache::thumbnail(clip, 64);
        QVERIFY(!thumb.isNull());
        QCOMPARE(thumb.size(), QSize(64, 48));
        QVERIFY2(near(middle(thumb), Qt::blue, 60), qPrintable(middle(thumb).name()));
        QCOMPARE(cachedImage(clip).size(), QSize(128, 96));
        QCOMPARE(cachedImage(clip).text("Thumb::Mime"), QStringLiteral("video/mp4"));

        // A phone clip filmed upright: stored landscape with a display rotation.
        const QByteArray rotated = file(QStringLiteral("upright.mp4"));
        QVERIFY(ffmpeg({"-i", QFile::decodeName(clip), "-c", "copy", "-metadata:s:v:0", "rotate=90",
                        QFile::decodeName(rotated)}));
        const QImage upright = ThumbnailCache::thumbnail(rotated, 64);
        QCOMPARE(upright.size(), QSize(48, 64));

        // A clip shorter than a second: its first frame.
        const QByteArray shortClip = file(QStringLiteral("short.mkv"));
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=c=green:s=160x120:r=25:d=0.4", "-c:v", "libx264", "-preset",
                        "ultrafast", "-pix_fmt", "yuv420p", QFile::decodeName(shortClip)}));
        QVERIFY(near(middle(ThumbnailCache::thumbnail(shortClip, 64)), QColor(0, 128, 0), 60));

        // A truncated file: no picture, and a failure marker.
        const QByteArray cut = file(QStringLiteral("cut.mp4"));
        {
            QFile in(QFile::decodeName(clip)), out(QFile::decodeName(cut));
            QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
            out.write(in.read(600));
        }
        QVERIFY(ThumbnailCache::thumbnail(cut, 64).isNull());
        QVERIFY(QFile::exists(Thumbs::failurePath(Thumbs::canonicalUri(cut))));
    }

    void otherTypesOnlyFromTheCache()
    {
        const QByteArray pdf = file(QStringLiteral("report.pdf"));
        {
            QFile f(QFile::decodeName(pdf));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("%PDF-1.4\n%%EOF\n");
        }
        QVERIFY(ThumbnailCache::thumbnail(pdf, 52).isNull());
        QVERIFY(!QFile::exists(Thumbs::failurePath(Thumbs::canonicalUri(pdf)))); // not ours to judge
        // A file manager made one.
        const auto source = Thumbs::describe(pdf, QStringLiteral("application/pdf"));
        QImage page(96, 128, QImage::Format_RGB32);
        page.fill(Qt::white);
        QVERIFY(Thumbs::store(*source, page, Thumbs::Flavor::normal));
        QCOMPARE(ThumbnailCache::thumbnail(pdf, 52).size(), QSize(39, 52));
    }

    void theCacheItselfIsNeverThumbnailed()
    {
        const QByteArray path = solidPng(QStringLiteral("x.png"), {300, 300}, Qt::red);
        QVERIFY(!ThumbnailCache::thumbnail(path, 52).isNull());
        const QByteArray stored = QFile::encodeName(Thumbs::thumbnailPath(Thumbs::canonicalUri(path), Thumbs::Flavor::normal));
        QVERIFY(Thumbs::isInsideCache(stored));
        QVERIFY(!Thumbs::isInsideCache(path));
        const int before = int(QDir(Thumbs::cacheRoot() + QStringLiteral("/normal")).entryList(QDir::Files).size());
        QVERIFY(!ThumbnailCache::thumbnail(stored, 52).isNull()); // shown,
        QCOMPARE(int(QDir(Thumbs::cacheRoot() + QStringLiteral("/normal")).entryList(QDir::Files).size()), before); // not stored
        // Folders and missing files have none.
        QVERIFY(ThumbnailCache::thumbnail(QFile::encodeName(m_dir.path()), 52).isNull());
        QVERIFY(ThumbnailCache::thumbnail(file(QStringLiteral("missing.png")), 52).isNull());
    }

    void requestDeliversOffTheUiThread()
    {
        const QByteArray path = solidPng(QStringLiteral("async.png"), {120, 80}, Qt::magenta);
        ThumbnailCache cache;
        const QUrl url = QUrl::fromLocalFile(QFile::decodeName(path));
        QSignalSpy ready(&cache, &ThumbnailCache::ready);
        QVERIFY(cache.request(url, 40).isNull());
        QVERIFY(ready.wait(20000));
        QCOMPARE(ready.first().first().toUrl(), url);
        const QImage image = cache.request(url, 40);
        QCOMPARE(image.width(), 40);
        QVERIFY(image.height() == 26 || image.height() == 27);
    }

    void mimeIconsComeFromTheIconTheme()
    {
        QMimeDatabase db;
        const QIcon png = iconForMimeType(db.mimeTypeForName(QStringLiteral("image/png")));
        const QIcon video = iconForMimeType(db.mimeTypeForName(QStringLiteral("video/mp4")));
        const QIcon text = iconForMimeType(db.mimeTypeForName(QStringLiteral("text/plain")));
        for (const QIcon &icon : {png, video, text}) {
            QVERIFY(!icon.isNull());
            QVERIFY2(!icon.name().isEmpty(), "the bundled stand-in instead of a theme icon");
        }
        QVERIFY(png.name().startsWith(QLatin1String("image-")));
        QVERIFY(video.name().startsWith(QLatin1String("video-")));
        QVERIFY(text.name().startsWith(QLatin1String("text-")));
        QVERIFY(!folderIcon().name().isEmpty());
        QVERIFY(!png.pixmap(32, 32).isNull());
    }
};

QTEST_MAIN(TestThumbnails)
#include "tst_thumbnails.moc"
