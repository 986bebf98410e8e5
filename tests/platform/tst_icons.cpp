// Every symbol the program names has a drawing, so icons show on desktops without an icon theme.
#include "platform/Icons.h"

#include <QApplication>
#include <QImage>
#include <QtTest>

class TestIcons : public QObject
{
    Q_OBJECT
private slots:
    void everyUsedSymbolIsDrawn()
    {
        const QStringList used = {
            "tray", "tray.fill", "star", "star.fill", "star.slash", "trash", "photo", "arrow.triangle.2.circlepath",
            "eye.slash", "eye.slash.fill", "plus", "gearshape", "line.3.horizontal", "exclamationmark.triangle.fill",
            "xmark.circle.fill", "arrow.down.to.line", "arrow.left.to.line", "arrow.right.to.line",
            "arrow.up.and.down.and.arrow.left.and.right", "pencil", "folder", "archivebox", "doc", "film",
            "music.note", "link", "bookmark", "tag", "paperclip", "questionmark.circle", "info.circle", "power"};
        for (const QString &name : used) {
            QVERIFY2(hasBundledSymbol(name), qPrintable(name));
            const QImage image = tintedSymbolIcon(name, QColor(200, 0, 0)).pixmap(32, 32).toImage();
            QVERIFY2(!image.isNull(), qPrintable(name));
            // Something was painted, in the tint.
            bool painted = false;
            for (int y = 0; y < image.height() && !painted; ++y)
                for (int x = 0; x < image.width() && !painted; ++x) {
                    const QColor c = image.pixelColor(x, y);
                    painted = c.alpha() > 128 && c.red() > 150 && c.green() < 60;
                }
            QVERIFY2(painted, qPrintable(name));
            QVERIFY2(!symbolIcon(name).isNull(), qPrintable(name));
        }
    }

    void unknownSymbolFallsBack()
    {
        QVERIFY(!symbolIcon(QStringLiteral("no.such.symbol")).isNull());
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
