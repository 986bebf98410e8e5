#include "model/ShelfManager.h"
#include "settings/AppSettings.h"
#include "shelf/ShelfFileModel.h"
#include "shelf/ShelfFileView.h"
#include "shelf/ShelfHeader.h"
#include "shelf/ShelfWindow.h"
#include "shelf/Theme.h"

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

// Renders real shelf windows in every theme over a black and a white desktop (the extremes
// of whatever lies behind a translucent window without blur) and measures what a reader
// gets: the contrast of the file name and of the icons against the shelf's background.
class TestThemeContrast : public QObject
{
    Q_OBJECT
    ShelfManager *manager = nullptr;
    QTemporaryDir home; // this run's data and settings
    QTemporaryDir files;

    // The window as the screen shows it over a plain `behind`.
    static QImage over(const QImage &window, const QColor &behind)
    {
        QImage out(window.size(), QImage::Format_RGB32);
        out.fill(behind);
        QPainter p(&out);
        p.drawImage(0, 0, window);
        return out;
    }

    // The strongest contrast any pixel of `area` has against `background`: the core of a
    // glyph or of an icon's stroke.
    static double strongestContrast(const QImage &image, const QRect &area, const QColor &background)
    {
        double best = 1.0;
        const QRect r = area.intersected(image.rect());
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                best = std::max(best, Theme::contrastRatio(QColor(image.pixel(x, y)), background));
        return best;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        for (const char *var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            qputenv(var, QFile::encodeName(home.filePath(QString::fromLatin1(var))));
        manager = new ShelfManager(this);
    }

    // The contrast arithmetic itself.
    void contrastArithmetic()
    {
        QCOMPARE(qRound(Theme::contrastRatio(Qt::black, Qt::white)), 21);
        QCOMPARE(Theme::contrastRatio(QColor(120, 120, 120), QColor(120, 120, 120)), 1.0);
        // White text on a thin white veil: over a white page it is gone.
        QVERIFY(Theme::worstCaseContrast(Qt::white, QColor(255, 255, 255, 100)) < 1.05);
        // Black text on it: worst over black, where the veil is a dark grey.
        QVERIFY(Theme::worstCaseContrast(Qt::black, QColor(255, 255, 255, 100)) < 4.5);
        QVERIFY(Theme::worstCaseContrast(Qt::black, QColor(255, 255, 255, 255)) > 20);
    }

    // The colours alone: primary and secondary texts keep 4.5:1 over anything behind, with
    // and without a compositor; the warning symbol and icons keep 3:1.
    void everyThemeKeepsTextContrast()
    {
        for (AppTheme theme : allCases<AppTheme>()) {
            for (bool translucent : {true, false}) {
                const QColor bg = Theme::windowBackground(theme, translucent);
                const QString what = rawValue(theme) + (translucent ? " translucent" : " opaque");
                QVERIFY2(Theme::worstCaseContrast(Theme::textColor(theme), bg) >= Theme::minimumTextContrast,
                         qPrintable(what));
                QVERIFY2(Theme::worstCaseContrast(Theme::secondaryTextColor(theme), bg) >= Theme::minimumTextContrast,
                         qPrintable(what));
                QVERIFY2(Theme::worstCaseContrast(Theme::warningColor(theme), bg) >= Theme::minimumIconContrast,
                         qPrintable(what));
            }
            // Text of a window behind cannot be read through: black and white behind come out
            // nearly the same.
            const QColor bg = Theme::windowBackground(theme, true);
            QVERIFY(Theme::contrastRatio(Theme::composite(bg, Qt::black), Theme::composite(bg, Qt::white))
                    <= Theme::maximumShowThrough);
            if (Theme::usesMaterial(theme))
                QVERIFY(bg.alpha() < 255); // still a material
        }
    }

    // The rendered header and a file row, in every theme.
    void renderedHeaderAndRow()
    {
        QFile file(files.path() + QStringLiteral("/Quarterly report.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("numbers");
        file.close();
        QDir().mkpath(files.path() + QStringLiteral("/Folder"));

        const Shelf shelf = Shelf::make(QStringLiteral("Contrast"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        manager->appendShelf(shelf);
        QSignalSpy added(manager, &ShelfManager::addFilesFinished);
        manager->addFiles({QUrl::fromLocalFile(file.fileName()), QUrl::fromLocalFile(files.path() + "/Folder")}, shelf.id);
        QVERIFY(added.wait(5000));

        ShelfWindow window(*manager, shelf.id);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.present();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (AppTheme theme : allCases<AppTheme>()) {
            AppSettings::instance().setTheme(theme); // every window follows the setting
            QCoreApplication::processEvents();
            window.fileView()->doItemsLayout();
            QImage rendered(window.size(), QImage::Format_ARGB32_Premultiplied);
            rendered.fill(Qt::transparent);
            window.render(&rendered, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);

            ShelfFileView *view = window.fileView();
            const QRect row0 = view->visualRect(view->model()->index(0, 0)).translated(view->mapTo(&window, QPoint()));
            const QRect row1 = view->visualRect(view->model()->index(1, 0)).translated(view->mapTo(&window, QPoint()));
            const int iconPx = view->metrics().iconSize();
            const auto iconArea = [iconPx](const QRect &row) {
                return QRect(row.left() + 7, row.center().y() - iconPx / 2, iconPx, iconPx);
            };
            const QRect nameArea(row0.left() + iconPx + 13, row0.top() + 2, 60, row0.height() - 4);
            QList<QRect> headerIcons;
            for (QToolButton *b : window.findChildren<QToolButton *>())
                if (b->isVisibleTo(&window) && b->window() == &window && !b->icon().isNull())
                    headerIcons << QRect(b->mapTo(&window, QPoint()), b->size());
            QVERIFY(!headerIcons.isEmpty());

            for (const QColor behind : {QColor(Qt::black), QColor(Qt::white)}) {
                const QImage seen = over(rendered, behind);
                const QColor bg(seen.pixel(window.width() / 2, window.height() - 4));
                const QString what = rawValue(theme) + (behind == Qt::black ? " over black" : " over white");
                const double text = strongestContrast(seen, nameArea, bg);
                QVERIFY2(text >= Theme::minimumTextContrast, qPrintable(what + " name " + QString::number(text)));
                for (const QRect &icon : {iconArea(row0), iconArea(row1)}) {
                    const double c = strongestContrast(seen, icon, bg);
                    QVERIFY2(c >= Theme::minimumIconContrast, qPrintable(what + " file icon " + QString::number(c)));
                }
                for (const QRect &button : headerIcons) {
                    const double c = strongestContrast(seen, button, bg);
                    QVERIFY2(c >= Theme::minimumIconContrast, qPrintable(what + " header icon " + QString::number(c)));
                }
            }
        }
        AppSettings::instance().setTheme(AppTheme::system);
    }
};

QTEST_MAIN(TestThemeContrast)
#include "tst_theme_contrast.moc"
