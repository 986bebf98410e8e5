#include "settings/AppSettings.h"
#include "settings/password/PasswordGenerator.h"
#include "settings/password/PasswordGeneratorPage.h"
#include "tools/archive/ZipWindow.h"
#include "tools/presets/PresetStore.h"
#include "tools/progress/ProgressRingButton.h"
#include "tools/progress/ShelfProgressState.h"
#include "shelf/WindowRules.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QApplication>
#include <QtTest>

class TestZipWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + "/config"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + "/data"));
    }

    void passwordRulesOfTheWindow()
    {
        ZipWindow window({QUrl::fromLocalFile(m_dir.path() + "/a.txt")}, QStringLiteral("a"), nullptr);
        window.setAdvanced(true);
        window.show();
        QVERIFY(!window.encryptSwitch()->isEnabled()); // ZIP: no encryption
        QVERIFY(window.createButton()->isEnabled());

        window.formatButton(ArchiveFormat::sevenZip)->click();
        QVERIFY(window.encryptSwitch()->isEnabled());
        window.encryptSwitch()->click();
        // A generated password is offered at once.
        QVERIFY(!window.options().password.isEmpty());
        QVERIFY(window.createButton()->isEnabled());
        QVERIFY(window.passwordHint()->isHidden());

        window.passwordField()->clear();
        QTest::keyClick(window.passwordField(), Qt::Key_A);
        QTest::keyClick(window.passwordField(), Qt::Key_Backspace);
        QVERIFY(window.options().password.isEmpty());
        QVERIFY(!window.createButton()->isEnabled());
        QVERIFY(!window.passwordHint()->isHidden());
        QCOMPARE(window.passwordHint()->text(), QStringLiteral("Enter a password first"));

        // Back to ZIP: encryption switches off, the password stays typed.
        QTest::keyClicks(window.passwordField(), QStringLiteral("pw"));
        window.formatButton(ArchiveFormat::zip)->click();
        QVERIFY(!window.options().usePassword);
        QCOMPARE(window.options().password, QStringLiteral("pw"));
        QVERIFY(window.createButton()->isEnabled());
        QVERIFY(!jobOptions(window.options()).usePassword);

        // The field shows a whole 16-character password, even one of wide letters.
        window.formatButton(ArchiveFormat::sevenZip)->click();
        window.encryptSwitch()->setChecked(true);
        QApplication::processEvents();
        QLineEdit *field = window.passwordField();
        field->setEchoMode(QLineEdit::Normal);
        const int text = field->fontMetrics().horizontalAdvance(QStringLiteral("WMWMWMWMWMWMWMWM"));
        QVERIFY2(field->width() >= text, qPrintable(QStringLiteral("%1 < %2").arg(field->width()).arg(text)));

        // Every control has a name for assistive technology.
        WindowRules::nameControls(&window);
        QStringList missing;
        for (QWidget *w : WindowRules::unnamedControls(&window))
            missing << QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
    }

    void presetAppliedOnFirstShow()
    {
        ArchivePreset preset;
        preset.id = QUuid::createUuid();
        preset.name = QStringLiteral("Secret 7z");
        preset.format = QStringLiteral("7z");
        preset.usePassword = true;
        preset.password = QStringLiteral("hunter2");
        preset.zipIndividually = true;
        ZipWindow window({QUrl::fromLocalFile(m_dir.path() + "/a.txt")}, QStringLiteral("a"), nullptr);
        window.setInitialPreset(preset);
        QCOMPARE(window.options().format, ArchiveFormat::zip);
        window.show();
        QCOMPARE(window.options().format, ArchiveFormat::sevenZip);
        QVERIFY(window.options().usePassword && window.options().zipIndividually);
        QCOMPARE(window.options().password, QStringLiteral("hunter2"));
    }

    void passwordPageWritesSettings()
    {
        AppSettings &settings = AppSettings::instance();
        PasswordGeneratorPage page(settings);
        page.lengthStepper()->setValue(40);
        QCOMPARE(settings.pwGenLength(), 40);
        QCOMPARE(page.lengthStepper()->text(), QStringLiteral("Length: 40 characters"));
        QCOMPARE(page.lengthStepper()->maximum(), 128);
        for (QPushButton *b : page.findChildren<QPushButton *>())
            if (b->text() == QStringLiteral("Default"))
                b->click();
        QCOMPARE(settings.pwGenSymbolSet(), QStringLiteral("!@#$%^&*-_=+?"));
        QCOMPARE(settings.pwGenExcludeChars(), QStringLiteral("0Ol1I|`\""));
        QCOMPARE(page.symbolSetField()->text(), settings.pwGenSymbolSet());
        settings.setPwGenExcludeChars(QStringLiteral("x"));
        QCOMPARE(page.excludeField()->text(), QStringLiteral("x"));
        QCOMPARE(generatePasswordFromSettings().size(), 40);
    }
};

QTEST_MAIN(TestZipWindow)
#include "tst_zipwindow.moc"
