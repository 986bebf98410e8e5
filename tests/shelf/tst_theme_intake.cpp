#include "shelf/OpenWith.h"
#include "shelf/ShelfIntake.h"
#include "shelf/Theme.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QFontInfo>
#include <QtTest>

static QByteArray encode(const QImage &img, const char *fmt)
{
    QByteArray b;
    QBuffer buf(&b);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, fmt);
    return b;
}

static bool sameRgb(const QColor &c, double r, double g, double b)
{
    return qAbs(c.redF() - r) < 0.002 && qAbs(c.greenF() - g) < 0.002 && qAbs(c.blueF() - b) < 0.002;
}

class TestThemeIntake : public QObject
{
    Q_OBJECT
private slots:
    void themeColours()
    {
        QVERIFY(Theme::usesMaterial(AppTheme::system));
        QVERIFY(Theme::usesMaterial(AppTheme::light));
        QVERIFY(Theme::usesMaterial(AppTheme::dark));
        QVERIFY(!Theme::usesMaterial(AppTheme::onyx));
        QVERIFY(!Theme::usesMaterial(AppTheme::retro));
        QCOMPARE(Theme::cornerRadius(AppTheme::retro), 0);
        QCOMPARE(Theme::cornerRadius(AppTheme::onyx), 14);

        // Solid themes are opaque with their exact colours, with or without a compositor.
        for (bool translucent : {true, false}) {
            const QColor onyx = Theme::windowBackground(AppTheme::onyx, translucent);
            QVERIFY(sameRgb(onyx, 0.06, 0.06, 0.08));
            QCOMPARE(onyx.alphaF(), 1.0f);
            QVERIFY(sameRgb(Theme::windowBackground(AppTheme::retro, translucent), 0.784, 0.773, 0.737));
        }
        // Material themes are translucent only where a compositor can show it.
        for (AppTheme t : {AppTheme::system, AppTheme::light, AppTheme::dark}) {
            QVERIFY(Theme::windowBackground(t, true).alphaF() < 1.0f);
            QCOMPARE(Theme::windowBackground(t, false).alphaF(), 1.0f);
        }

        QCOMPARE(Theme::swatchColor(AppTheme::light), QColor(Qt::white));
        QVERIFY(sameRgb(Theme::swatchColor(AppTheme::dark), 0.2, 0.2, 0.2));
        QVERIFY(sameRgb(Theme::swatchColor(AppTheme::onyx), 0.06, 0.06, 0.08));
        QVERIFY(sameRgb(Theme::swatchColor(AppTheme::retro), 0.85, 0.839, 0.8));
        QPalette pal;
        pal.setColor(QPalette::WindowText, Qt::black);
        const QColor sys = Theme::swatchColor(AppTheme::system, pal);
        QVERIFY(qAbs(sys.alphaF() - 0.3f) < 0.01f);
        QVERIFY(sameRgb(sys, 0, 0, 0));
    }

    void retroFontChain()
    {
        QCOMPARE(Theme::retroFontFamilyFrom(QStringLiteral("Chicago Bundled"), {}), QStringLiteral("Chicago Bundled"));
        QCOMPARE(Theme::retroFontFamilyFrom({}, {"DejaVu Sans", "ChicagoFLF", "Chicago"}), QStringLiteral("Chicago"));
        QCOMPARE(Theme::retroFontFamilyFrom({}, {"DejaVu Sans", "ChicagoFLF"}), QStringLiteral("ChicagoFLF"));
        QCOMPARE(Theme::retroFontFamilyFrom({}, {"DejaVu Sans"}), QStringLiteral("Geneva"));
        // The shipped retro font is found (in the build tree or the system's fonts) and used.
        const QFont retro = Theme::font(AppTheme::retro, 12);
        QCOMPARE(retro.family(), QStringLiteral("DotGothic16"));
        QCOMPARE(QFontInfo(retro).family(), QStringLiteral("DotGothic16"));
        QCOMPARE(Theme::font(AppTheme::onyx, 13).pixelSize(), 13);
        QCOMPARE(enumFromRaw<AppTheme>(u"sepia", AppTheme::system), AppTheme::system);
    }

    // Paste order: file URLs, else image (PNG), else text; nothing is ever overwritten.
    void pasteRules()
    {
        QTemporaryDir tmp;
        {
            QMimeData md;
            md.setData(QStringLiteral("x-special/gnome-copied-files"), "copy\nfile:///tmp/a%FFb\nfile:///tmp/c");
            md.setText(QStringLiteral("ignored"));
            const QList<QUrl> urls = ShelfIntake::paste(&md, tmp.path(), 1);
            QCOMPARE(urls.size(), 2);
            QCOMPARE(urls[0].toEncoded(), QByteArray("file:///tmp/a%FFb"));
            QVERIFY(QDir(tmp.path()).isEmpty());
        }
        {
            // Image and text together: only the PNG.
            QMimeData md;
            QImage img(4, 3, QImage::Format_RGB32);
            img.fill(Qt::red);
            md.setImageData(img);
            md.setText(QStringLiteral("hello"));
            const QList<QUrl> urls = ShelfIntake::paste(&md, tmp.path(), 1700000000);
            QCOMPARE(urls.size(), 1);
            QCOMPARE(urls[0].toLocalFile(), tmp.path() + QStringLiteral("/Pasted Image 1700000000.png"));
            QCOMPARE(QImage(urls[0].toLocalFile()).size(), QSize(4, 3));
            QCOMPARE(QDir(tmp.path()).entryList(QDir::Files).size(), 1);
            // Same second again: a second file, the first untouched.
            const QList<QUrl> again = ShelfIntake::paste(&md, tmp.path(), 1700000000);
            QCOMPARE(again[0].toLocalFile(), tmp.path() + QStringLiteral("/Pasted Image 1700000000 2.png"));
        }
        {
            QMimeData md;
            md.setText(QStringLiteral("grüße\n"));
            const QList<QUrl> urls = ShelfIntake::paste(&md, tmp.path(), 42);
            QCOMPARE(urls[0].toLocalFile(), tmp.path() + QStringLiteral("/Pasted Text 42.txt"));
            QFile f(urls[0].toLocalFile());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QStringLiteral("grüße\n").toUtf8());
        }
        {
            QMimeData empty;
            empty.setText(QString());
            QVERIFY(ShelfIntake::paste(&empty, tmp.path(), 43).isEmpty());
            QMimeData html;
            html.setData(QStringLiteral("application/x-unknown"), "zz");
            QVERIFY(ShelfIntake::paste(&html, tmp.path(), 44).isEmpty());
        }
        // An unwritable folder: nothing added.
        QMimeData md;
        md.setText(QStringLiteral("x"));
        QVERIFY(ShelfIntake::paste(&md, QStringLiteral("/proc/perchbox-nowhere"), 1).isEmpty());
    }

    void dropRules()
    {
        QTemporaryDir desk;
        const QUuid id = QUuid::fromString(QStringLiteral("{12345678-aaaa-bbbb-cccc-1234567890ab}"));
        QImage img(5, 5, QImage::Format_RGB32);
        img.fill(Qt::green);
        {
            // PNG content without a name.
            QMimeData md;
            md.setData(QStringLiteral("image/png"), encode(img, "PNG"));
            const QList<QUrl> urls = ShelfIntake::drop(&md, desk.path(), 1700000000123, id);
            QCOMPARE(urls.size(), 1);
            QCOMPARE(urls[0].fileName(), QStringLiteral("Dropped Image 1700000000123-12345678.png"));
            QCOMPARE(QImage(urls[0].toLocalFile()).size(), QSize(5, 5));
        }
        {
            // JPEG preferred below PNG; a hostile suggested name stays inside the folder.
            QMimeData md;
            md.setData(QStringLiteral("image/jpeg"), encode(img, "JPEG"));
            md.setData(QStringLiteral("application/x-kde-suggestedfilename"), "../../evil.jpeg");
            const QList<QUrl> urls = ShelfIntake::drop(&md, desk.path(), 7, id);
            QCOMPARE(urls.size(), 1);
            QCOMPARE(QFileInfo(urls[0].toLocalFile()).absolutePath(), QDir(desk.path()).absolutePath());
            QCOMPARE(urls[0].fileName(), QStringLiteral("evil 7-12345678.jpg"));
        }
        {
            // Bytes that claim to be PNG but are not: nothing written, nothing added.
            QMimeData md;
            md.setData(QStringLiteral("image/png"), "not an image at all");
            const int before = QDir(desk.path()).entryList(QDir::Files).size();
            QVERIFY(ShelfIntake::drop(&md, desk.path(), 8, id).isEmpty());
            QCOMPARE(QDir(desk.path()).entryList(QDir::Files).size(), before);
        }
        {
            // Neither files nor images: ignored.
            QMimeData md;
            md.setText(QStringLiteral("just text"));
            QVERIFY(ShelfIntake::drop(&md, desk.path(), 9, id).isEmpty());
        }
        {
            // File URLs win, in drop order; non-file URLs are skipped.
            QMimeData md;
            md.setData(QStringLiteral("text/uri-list"), "file:///b\r\nhttp://x/y\r\nfile:///a\r\n");
            md.setData(QStringLiteral("image/png"), encode(img, "PNG"));
            const QList<QUrl> urls = ShelfIntake::drop(&md, desk.path(), 10, id);
            QCOMPARE(urls, (QList<QUrl>{QUrl("file:///b"), QUrl("file:///a")}));
        }
    }

    void copiedFilesFormats()
    {
        std::unique_ptr<QMimeData> md(ShelfIntake::copiedFilesMimeData({QUrl::fromEncoded("file:///tmp/a%20b")}));
        QCOMPARE(md->data("text/uri-list"), QByteArray("file:///tmp/a%20b\r\n"));
        QCOMPARE(md->data("x-special/gnome-copied-files"), QByteArray("copy\nfile:///tmp/a%20b"));
        QCOMPARE(md->data("application/x-kde-cutselection"), QByteArray("0"));
        // And it reads back as the same file.
        QCOMPARE(ShelfIntake::fileUrls(md.get()), QList<QUrl>{QUrl::fromEncoded("file:///tmp/a%20b")});
    }

    void openWithAssociations()
    {
        QTemporaryDir data, config;
        QDir(data.path()).mkpath(QStringLiteral("applications/sub"));
        const auto write = [](const QString &path, const QByteArray &text) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        };
        write(data.path() + "/applications/editor.desktop",
              "[Desktop Entry]\nName=Editor\nName[de]=Bearbeiter\nExec=editor --new \"%F\"\nIcon=ed\n");
        write(data.path() + "/applications/viewer.desktop", "[Desktop Entry]\nName=Viewer\nExec=viewer %u\n");
        write(data.path() + "/applications/sub/nested.desktop", "[Desktop Entry]\nName=Nested\nExec=nested %f\n");
        write(data.path() + "/applications/gone.desktop", "[Desktop Entry]\nName=Gone\nExec=gone\nHidden=true\n");
        write(data.path() + "/applications/removed.desktop", "[Desktop Entry]\nName=Removed\nExec=r %f\n");
        write(data.path() + "/applications/mimeinfo.cache",
              "[MIME Cache]\ntext/plain=viewer.desktop;removed.desktop;gone.desktop;sub-nested.desktop;\n");
        write(config.path() + "/mimeapps.list",
              "[Default Applications]\ntext/plain=editor.desktop\n[Removed Associations]\ntext/plain=removed.desktop;\n");
        const QList<OpenWith::Application> apps =
            OpenWith::applicationsFor(QStringLiteral("text/plain"), {data.path()}, {config.path()});
        QStringList names;
        for (const auto &a : apps)
            names << a.name;
        QCOMPARE(names, (QStringList{"Editor", "Viewer", "Nested"}));

        const OpenWith::Command c = OpenWith::commandFor(apps[0], {QUrl::fromLocalFile("/tmp/a b"), QUrl::fromLocalFile("/tmp/c")});
        QCOMPARE(c.program, QStringLiteral("editor"));
        QCOMPARE(c.arguments, (QStringList{"--new", "/tmp/a b", "/tmp/c"}));
        const OpenWith::Command v = OpenWith::commandFor(apps[1], {QUrl::fromLocalFile("/tmp/a b")});
        QCOMPARE(v.arguments, QStringList{"file:///tmp/a%20b"});
        QCOMPARE(OpenWith::splitExec(QStringLiteral("sh -c \"echo \\\"hi\\\"\" x")),
                 (QStringList{"sh", "-c", "echo \"hi\"", "x"}));
    }
};

QTEST_MAIN(TestThemeIntake)
#include "tst_theme_intake.moc"
