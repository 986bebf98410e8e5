// The tray panel's list and menus, the settings window's pages and the tutorial.
#include "ShellFixture.h"

#include "app/SettingsWindow.h"
#include "app/ShelfListModel.h"
#include "app/TrayPanel.h"
#include "app/TutorialWindow.h"
#include "shelf/WindowRules.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <functional>
#include <QtTest>

class TestWindows : public QObject
{
    Q_OBJECT

    static QStringList menuTexts(QMenu *menu)
    {
        QStringList texts;
        for (QAction *a : menu->actions())
            if (!a->isSeparator())
                texts.append(a->text());
        return texts;
    }

private slots:
    // "Remove all shelves?": Return and Escape keep everything; only a click on "Remove All"
    // removes.
    void removeAllDefaultsToCancel()
    {
        ShellFixture f;
        TrayPanel panel(*f.delegate);
        f.manager->appendShelf(Shelf::make(QStringLiteral("Keep"), ShelfColorData::systemBlue(), QStringLiteral("tray")));
        // Runs `act` on the confirmation once it is up, then closes it if it is still open.
        const auto answer = [](std::function<void(QMessageBox *)> act) {
            QTimer::singleShot(0, [act] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                    act(box);
                    if (box->isVisible())
                        box->reject();
                }
            });
        };
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space}) {
            QString defaultButton;
            answer([&](QMessageBox *box) {
                defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : box, key);
            });
            panel.confirmRemoveAll();
            QCOMPARE(defaultButton, QStringLiteral("Cancel"));
            QTest::qWait(2 * ShelfManager::kDeleteDelayMs);
            QCOMPARE(f.manager->shelves().size(), 1);
        }
        answer([](QMessageBox *box) {
            for (QAbstractButton *b : box->buttons())
                if (b->text() == QStringLiteral("Remove All"))
                    b->click();
        });
        panel.confirmRemoveAll();
        QTRY_VERIFY(f.manager->shelves().isEmpty());
    }

    void listFollowsTheManager()
    {
        ShellFixture f;
        TrayPanel panel(*f.delegate);
        ShelfListModel *model = panel.model();
        QCOMPARE(model->rowCount(), 0);
        const Shelf a = Shelf::make(QStringLiteral("A"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        const Shelf b = Shelf::make(QStringLiteral("B"), {1, 0, 0, 1}, QStringLiteral("photo"));
        const Shelf c = Shelf::make(QStringLiteral("C"), ShelfColorData::systemBlue(), QStringLiteral("doc"));
        for (const Shelf &s : {a, b, c})
            f.manager->appendShelf(s);
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(model->index(1).data().toString(), QStringLiteral("B"));
        QCOMPARE(model->index(1).data(ShelfListModel::IconNameRole).toString(), QStringLiteral("photo"));
        QCOMPARE(model->index(1).data(ShelfListModel::ColorRole).value<QColor>(), QColor(Qt::red));
        QCOMPARE(model->index(0).data(Qt::ToolTipRole).toString(), QStringLiteral("Click to open · Hover to highlight"));

        // Visibility and the default star follow the manager and the settings.
        QVERIFY(!model->index(0).data(ShelfListModel::IsVisibleRole).toBool());
        f.manager->openShelf(a.id);
        QVERIFY(model->index(0).data(ShelfListModel::IsVisibleRole).toBool());
        f.manager->hideShelf(a.id);
        QVERIFY(!model->index(0).data(ShelfListModel::IsVisibleRole).toBool());
        f.settings->setDefaultShelfID(c.id);
        QVERIFY(model->index(2).data(ShelfListModel::IsDefaultRole).toBool());

        // Drag to reorder: C to the top; the manager's order (and so "shelves.json") follows.
        QVERIFY(model->moveShelf(2, 0));
        QCOMPARE(f.manager->shelves().at(0).id, c.id);
        QCOMPARE(model->idAt(0), c.id);
        QCOMPARE(model->idAt(2), b.id);
        QVERIFY(!model->moveShelf(0, 3));
    }

    void rowMenuHasEveryEntry()
    {
        ShellFixture f;
        TrayPanel panel(*f.delegate);
        const Shelf a = Shelf::make(QStringLiteral("A"), ShelfColorData::systemBlue(), QStringLiteral("tray"));
        f.manager->appendShelf(a);

        std::unique_ptr<QMenu> menu(panel.makeContextMenu(a.id, nullptr));
        QCOMPARE(menuTexts(menu.get()), (QStringList{QStringLiteral("Open Shelf"), QStringLiteral("Rename Shelf"),
                                                     QStringLiteral("Set Custom Shortcut…"),
                                                     QStringLiteral("Set as Default for Send to Perchbox"),
                                                     QStringLiteral("Remove Shelf Permanently")}));
        menu->actions().at(3)->trigger();
        QCOMPARE(f.settings->defaultShelfID(), a.id);

        KeyCombo combo;
        combo.keyCode = 2;
        combo.modifierFlags = KeyCombo::Control;
        f.settings->setShelfCombo(combo, a.id);
        panel.setShortcutEditor([](QWidget *, const QUuid &) {});
        menu.reset(panel.makeContextMenu(a.id, nullptr));
        const QStringList texts = menuTexts(menu.get());
        QCOMPARE(texts.at(2), QStringLiteral("Change Custom Shortcut…"));
        QCOMPARE(texts.at(3), QStringLiteral("Clear Shortcut (") + combo.displayText() + QStringLiteral(")"));
        QCOMPARE(texts.at(4), QStringLiteral("Remove as Default for Send to Perchbox"));
        QVERIFY(menu->actions().at(2)->isEnabled());

        menu->actions().at(3)->trigger(); // clear the shortcut
        QVERIFY(f.settings->customShelfCombos().isEmpty());
        menu->actions().at(4)->trigger(); // remove as default
        QVERIFY(f.settings->defaultShelfID().isNull());

        menu.reset(panel.makeContextMenu(a.id, nullptr));
        menu->actions().last()->trigger(); // remove permanently
        QTRY_VERIFY(f.manager->shelves().isEmpty());
    }

    void settingsWindowPages()
    {
        ShellFixture f;
        SettingsWindow window(*f.settings);
        QCOMPARE(window.pageTitles().first(), QStringLiteral("General"));
        QVERIFY(window.pageTitles().contains(QStringLiteral("Tools")));
        QCOMPARE(window.pageTitles().last(), QStringLiteral("About & Notices"));

        // Pages added later go before "About & Notices"; tool sections land on "Tools".
        window.addPage(QStringLiteral("Updates"), QStringLiteral("arrow.down.circle"), new QLabel(QStringLiteral("u")));
        QCOMPARE(window.pageTitles().at(window.pageTitles().size() - 2), QStringLiteral("Updates"));
        window.addToolsSection(QStringLiteral("Zip"), new QLabel(QStringLiteral("zip options")));
        QVERIFY(window.page(QStringLiteral("Tools"))->findChild<QLabel *>(QString(), Qt::FindChildrenRecursively));
        bool foundSection = false;
        for (QLabel *l : window.page(QStringLiteral("Tools"))->findChildren<QLabel *>())
            foundSection |= l->text() == QStringLiteral("zip options");
        QVERIFY(foundSection);

        // General edits the settings directly.
        QCheckBox *closeWhenEmpty = nullptr;
        for (QCheckBox *box : window.page(QStringLiteral("General"))->findChildren<QCheckBox *>())
            if (box->text() == QStringLiteral("Close shelf when it becomes empty"))
                closeWhenEmpty = box;
        QVERIFY(closeWhenEmpty);
        QVERIFY(!f.settings->closeWhenEmpty());
        closeWhenEmpty->click();
        QVERIFY(f.settings->closeWhenEmpty());
        QCOMPARE(f.store->boolValue(QStringLiteral("closeWhenEmpty")), std::optional<bool>(true));

        // About names every outside component.
        QString about;
        for (QLabel *l : window.page(QStringLiteral("About & Notices"))->findChildren<QLabel *>())
            about += l->text() + QLatin1Char('\n');
        for (const char *name : {"Qt", "FFmpeg", "x264", "x265", "LAME", "7-Zip", "libvips", "libheif", "ICU", "OpenCV",
                                 "ISNet", "@imgly/background-removal-data", "AGPL-3.0", "GPL-3.0-or-later", PERCHBOX_VERSION,
                                 "DotGothic16", "OFL-1.1"})
            QVERIFY2(about.contains(QLatin1String(name)), name);
        // The shipped font's licence can be read there.
        auto *licence = window.page(QStringLiteral("About & Notices"))->findChild<QPushButton *>(QStringLiteral("fontLicence"));
        QVERIFY(licence);
        QVERIFY(licence->isEnabled());

        // The conversion settings live on the Tools page only.
        for (QCheckBox *box : window.page(QStringLiteral("General"))->findChildren<QCheckBox *>())
            QVERIFY(box->text() != QStringLiteral("Clear source shelf after conversion"));
    }

    // The shelf list and the panel work from the keyboard alone.
    void panelFromTheKeyboard()
    {
        ShellFixture f;
        TrayPanel panel(*f.delegate);
        for (const char *name : {"One", "Two"})
            f.manager->appendShelf(Shelf::make(QString::fromLatin1(name), ShelfColorData::systemBlue(), QStringLiteral("tray")));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        ShelfListView *view = panel.view();
        view->setFocus();
        QTRY_VERIFY(view->hasFocus());
        QCOMPARE(view->currentIndex().row(), 0); // focus lands on the first shelf
        QSignalSpy open(view, &ShelfListView::openRequested);
        QSignalSpy remove(view, &ShelfListView::removeRequested);
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->currentIndex().row(), 1);
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(open.size(), 1);
        QCOMPARE(open.first().first().toUuid(), f.manager->shelves().at(1).id);
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(remove.size(), 1);
        QSignalSpy dismiss(&panel, &TrayPanel::dismissRequested);
        QTest::keyClick(view, Qt::Key_Escape);
        QCOMPARE(dismiss.size(), 1);

        // Tab reaches the footer buttons; Enter presses the focused one.
        QSignalSpy settings(&panel, &TrayPanel::openSettingsRequested);
        QPushButton *openSettings = nullptr;
        for (QPushButton *b : panel.findChildren<QPushButton *>())
            if (b->text() == QStringLiteral("Open Settings"))
                openSettings = b;
        QVERIFY(openSettings);
        QVERIFY(openSettings->focusPolicy() & Qt::TabFocus);
        openSettings->setFocus();
        QTest::keyClick(openSettings, Qt::Key_Return);
        QCOMPARE(settings.size(), 1);
    }

    // Every control of the panel and of every settings page has a name for assistive
    // technology.
    void everyControlIsNamed()
    {
        ShellFixture f;
        TrayPanel panel(*f.delegate);
        f.manager->appendShelf(Shelf::make(QStringLiteral("Named"), ShelfColorData::systemBlue(), QStringLiteral("tray")));
        WindowRules::nameControls(&panel);
        QStringList missing;
        for (QWidget *w : WindowRules::unnamedControls(&panel))
            missing << QString::fromLatin1(w->metaObject()->className());
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));

        SettingsWindow window(*f.settings);
        const QStringList pages = window.pageTitles();
        for (const QString &title : pages) {
            window.showPage(title);
            WindowRules::nameControls(&window);
            for (QWidget *w : WindowRules::unnamedControls(&window))
                missing << title + ": " + QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
        window.close();
    }

    void tutorialHasFourteenTopics()
    {
        QCOMPARE(TutorialWindow::topics().size(), 14);
        TutorialWindow window;
        window.showTopic(13);
        QCOMPARE(window.currentTopic(), 13);
        window.showTopic(14);
        QCOMPARE(window.currentTopic(), 13);
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
