#include "shelf/ShelfLogic.h"

#include <QtTest>

using namespace ShelfLogic;

class TestShelfLogic : public QObject
{
    Q_OBJECT
    QList<QUuid> order;

private slots:
    void init()
    {
        order.clear();
        for (int i = 0; i < 6; ++i)
            order.append(QUuid::createUuid());
    }

    // Shift-click from the fourth to the second adds 2..4 and keeps other selected files;
    // a plain click toggles; the anchor follows every click.
    void selectionRules()
    {
        Selection s;
        click(s, order, order[5], false);           // select the sixth
        click(s, order, order[3], false);           // anchor on the fourth
        click(s, order, order[1], true);            // shift to the second
        QCOMPARE(selectedInOrder(s, order), (QList<QUuid>{order[1], order[2], order[3], order[5]}));
        QCOMPARE(*s.anchor, order[1]);

        // Shift never removes, even over already-selected files.
        click(s, order, order[2], true);
        QCOMPARE(s.selected.size(), 4);

        // Plain click on a selected file deselects it.
        click(s, order, order[2], false);
        QVERIFY(!s.selected.contains(order[2]));
        QCOMPARE(*s.anchor, order[2]);

        // Shift with an anchor that left the shelf toggles instead of ranging.
        QList<QUuid> shorter = order;
        shorter.removeAt(2);
        click(s, shorter, order[0], true);
        QCOMPARE(selectedInOrder(s, shorter), (QList<QUuid>{order[0], order[1], order[3], order[5]}));

        // Shift without any anchor toggles too.
        Selection fresh;
        click(fresh, order, order[4], true);
        QCOMPARE(fresh.selected, QSet<QUuid>{order[4]});
    }

    void selectAllPruneAndPreview()
    {
        Selection s;
        selectAll(s, order);
        QCOMPARE(s.selected.size(), 6);
        QList<QUuid> kept = order.mid(0, 3);
        prune(s, kept);
        QCOMPARE(selectedInOrder(s, kept), kept);

        // Preview: selection in shelf order, starting at the anchor when it is among them.
        Selection p;
        click(p, order, order[4], false);
        click(p, order, order[1], false);
        PreviewList pl = previewList(p, order);
        QCOMPARE(pl.ids, (QList<QUuid>{order[1], order[4]}));
        QCOMPARE(pl.start, 0);
        p.anchor = order[4];
        QCOMPARE(previewList(p, order).start, 1);
        p.anchor = order[0]; // not selected
        QCOMPARE(previewList(p, order).start, 0);
        // Nothing selected: the whole shelf.
        QCOMPARE(previewList(Selection{}, order).ids, order);
    }

    void menuTargetsFollowSelection()
    {
        Selection s;
        click(s, order, order[4], false);
        click(s, order, order[0], false);
        click(s, order, order[2], false);
        // Clicked inside a multi-selection: the whole selection, in shelf order.
        QCOMPARE(menuTargets(s, order, order[4]), (QList<QUuid>{order[0], order[2], order[4]}));
        // Clicked outside: only that file.
        QCOMPARE(menuTargets(s, order, order[3]), QList<QUuid>{order[3]});
        // A single selected file: only the clicked one.
        Selection one;
        click(one, order, order[1], false);
        QCOMPARE(menuTargets(one, order, order[1]), QList<QUuid>{order[1]});
    }

    void menuTexts()
    {
        const QStringList one{QStringLiteral("a b.txt")};
        const QStringList three{QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")};
        QCOMPARE(menuTitle(one), QStringLiteral("a b.txt"));
        QCOMPARE(menuTitle(three), QStringLiteral("3 Files Selected"));

        MenuTexts z = toolTexts(ToolEntry::zip, one, 5);
        QCOMPARE(z.toolSubmenu, QStringLiteral("Zip…"));
        QCOMPARE(z.toolOne, QStringLiteral("Zip \"a b.txt\""));
        QCOMPARE(z.toolAll, QStringLiteral("Zip All 5 Files in Shelf"));
        QCOMPARE(toolTexts(ToolEntry::zip, three, 5).toolPlural, QStringLiteral("Zip 3 Selected Files…"));
        QCOMPARE(toolTexts(ToolEntry::rename, one, 2).toolAll, QStringLiteral("Rename All 2 Files in Shelf"));
        QCOMPARE(toolTexts(ToolEntry::rename, three, 5).toolPlural, QStringLiteral("Rename 3 Selected Files…"));
        QCOMPARE(toolTexts(ToolEntry::flatten, one, 2).toolSubmenu, QStringLiteral("Flatten to Folder…"));
        QCOMPARE(toolTexts(ToolEntry::flatten, one, 2).toolOne, QStringLiteral("Flatten \"a b.txt\""));
        QCOMPARE(toolTexts(ToolEntry::flatten, three, 5).toolPlural, QStringLiteral("Flatten 3 Selected to Folder…"));
        QCOMPARE(toolTexts(ToolEntry::convert, one, 9).toolAll, QStringLiteral("Convert All 9 Files in Shelf"));
        QCOMPARE(toolTexts(ToolEntry::convert, three, 5).toolPlural, QStringLiteral("Convert 3 Selected Files…"));

        QCOMPARE(sendToShelfText(1), QStringLiteral("Send to Shelf…"));
        QCOMPARE(sendToShelfText(3), QStringLiteral("Send 3 Selected to Shelf…"));
        QCOMPARE(removeText(one), QStringLiteral("Remove \"a b.txt\" from Shelf"));
        QCOMPARE(removeText(three), QStringLiteral("Remove 3 Selected from Shelf"));
        QCOMPARE(trashText(one), QStringLiteral("Move \"a b.txt\" to Trash"));
        QCOMPARE(trashText(three), QStringLiteral("Move 3 Selected to Trash"));
    }

    void intakeNames()
    {
        QCOMPARE(pastedImageName(1700000000), QStringLiteral("Pasted Image 1700000000.png"));
        QCOMPARE(pastedTextName(1700000000), QStringLiteral("Pasted Text 1700000000.txt"));

        const QUuid id = QUuid::fromString(QStringLiteral("{abcdef12-3456-7890-abcd-ef1234567890}"));
        QCOMPARE(droppedImageName(QString(), 1234, id, QStringLiteral("png")),
                 QStringLiteral("Dropped Image 1234-ABCDEF12.png"));
        QCOMPARE(droppedImageName(QStringLiteral("  Holiday photo.jpeg  "), 5, id, QStringLiteral("jpg")),
                 QStringLiteral("Holiday photo 5-ABCDEF12.jpg"));
        QCOMPARE(droppedImageName(QStringLiteral("   "), 5, id, QStringLiteral("gif")),
                 QStringLiteral("Dropped Image 5-ABCDEF12.gif"));
    }

    // Hostile suggested names can never name anything but one plain file in the folder.
    void hostileDropNames_data()
    {
        QTest::addColumn<QString>("suggested");
        QTest::newRow("parent") << QStringLiteral("../../.bashrc");
        QTest::newRow("absolute") << QStringLiteral("/etc/passwd");
        QTest::newRow("dotdot") << QStringLiteral("..");
        QTest::newRow("dot") << QStringLiteral(".");
        QTest::newRow("backslash") << QStringLiteral("..\\..\\x.png");
        QTest::newRow("trailing slash") << QStringLiteral("dir/");
        QTest::newRow("nul") << QStringLiteral("a") + QChar(0) + QStringLiteral("/b");
        QTest::newRow("newline") << QStringLiteral("a\nb.png");
        QTest::newRow("long") << QString(400, QLatin1Char('x'));
    }
    void hostileDropNames()
    {
        QFETCH(QString, suggested);
        const QString name = droppedImageName(suggested, 1, QUuid::createUuid(), QStringLiteral("png"));
        QVERIFY2(!name.contains(QLatin1Char('/')), qPrintable(name));
        QVERIFY(!name.contains(QChar(0)));
        QVERIFY(!name.contains(QLatin1Char('\n')));
        QVERIFY(!name.startsWith(QLatin1Char('.')));
        QVERIFY(name.toUtf8().size() < 255);
        QVERIFY(name.endsWith(QStringLiteral(".png")));
    }

    void dropImageKindOrder()
    {
        // HEIC wins over PNG and JPEG; PNG over JPEG; unknown image/* falls to "png".
        QCOMPARE(pickDropImageKind({QStringLiteral("image/png"), QStringLiteral("image/heic")})->extension,
                 QStringLiteral("heic"));
        QCOMPARE(pickDropImageKind({QStringLiteral("image/jpeg"), QStringLiteral("image/png")})->extension,
                 QStringLiteral("png"));
        QCOMPARE(pickDropImageKind({QStringLiteral("image/jpeg")})->extension, QStringLiteral("jpg"));
        QCOMPARE(pickDropImageKind({QStringLiteral("image/x-portable-pixmap")})->typeId,
                 QStringLiteral("public.image"));
        QCOMPARE(pickDropImageKind({QStringLiteral("image/x-portable-pixmap")})->extension, QStringLiteral("png"));
        QVERIFY(!pickDropImageKind({QStringLiteral("text/plain")}));
        const QStringList exts = [] {
            QStringList e;
            for (const auto &k : dropImageKinds())
                e << k.extension;
            return e;
        }();
        QCOMPARE(exts, (QStringList{"heic", "heif", "webp", "gif", "bmp", "png", "jpg", "tiff", "png"}));
    }

    void fileSizes()
    {
        QCOMPARE(formatFileSize(0), QStringLiteral("0 bytes"));
        QCOMPARE(formatFileSize(1), QStringLiteral("1 byte"));
        QCOMPARE(formatFileSize(999), QStringLiteral("999 bytes"));
        QCOMPARE(formatFileSize(1000), QStringLiteral("1 KB"));
        QCOMPARE(formatFileSize(1024), QStringLiteral("1 KB"));
        QCOMPARE(formatFileSize(999'600), QStringLiteral("1 MB"));
        QCOMPARE(formatFileSize(1'500'000), QStringLiteral("1.5 MB"));
        QCOMPARE(formatFileSize(2'345'000'000), QStringLiteral("2.35 GB"));
    }

    void closeWhenEmpty()
    {
        QVERIFY(shouldCloseWhenEmpty(0, true, false));
        QVERIFY(!shouldCloseWhenEmpty(0, true, true));   // a tool still runs
        QVERIFY(!shouldCloseWhenEmpty(0, false, false)); // setting off
        QVERIFY(!shouldCloseWhenEmpty(1, true, false));
    }
};

QTEST_GUILESS_MAIN(TestShelfLogic)
#include "tst_shelf_logic.moc"
