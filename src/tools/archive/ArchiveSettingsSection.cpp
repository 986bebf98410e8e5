#include "tools/archive/ArchiveSettingsSection.h"

#include "settings/AppSettings.h"
#include "settings/password/PasswordGenerator.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

ArchiveSettingsSection::ArchiveSettingsSection(AppSettings &settings, QWidget *parent)
    : QWidget(parent), m_settings(settings)
{
    auto *form = new QFormLayout(this);
    m_format = new QComboBox;
    for (ArchiveFormat f : allCases<ArchiveFormat>())
        m_format->addItem(displayLabel(f), rawValue(f));
    m_level = new QComboBox;
    for (CompressionLevel l : allCases<CompressionLevel>())
        m_level->addItem(displayLabel(l), rawValue(l));
    m_usePassword = new QCheckBox(QStringLiteral("Encrypt 7Z archives with a password"));
    m_password = new QLineEdit;
    m_password->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    m_generate = new QPushButton(QStringLiteral("Generate"));
    m_copy = new QPushButton(QStringLiteral("Copy password"));
    auto *passwordRow = new QHBoxLayout;
    passwordRow->addWidget(m_password, 1);
    passwordRow->addWidget(m_generate);
    passwordRow->addWidget(m_copy);

    form->addRow(QStringLiteral("Format:"), m_format);
    form->addRow(QStringLiteral("Compression:"), m_level);
    form->addRow(m_usePassword);
    form->addRow(QStringLiteral("Password"), passwordRow);

    reload();

    AppSettings *s = &m_settings;
    connect(m_format, &QComboBox::currentIndexChanged, this, [this, s] {
        s->setArchiveFormat(enumFromRaw(m_format->currentData().toString(), ArchiveFormat::zip));
    });
    connect(m_level, &QComboBox::currentIndexChanged, this, [this, s] {
        s->setCompressionLevel(enumFromRaw(m_level->currentData().toString(), CompressionLevel::normal));
    });
    connect(m_usePassword, &QCheckBox::toggled, s, &AppSettings::setArchivePasswordEnabled);
    connect(m_password, &QLineEdit::textEdited, s, &AppSettings::setArchivePassword);
    connect(m_generate, &QPushButton::clicked, this, [s] { s->setArchivePassword(generatePasswordFromSettings()); });
    connect(m_copy, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_password->text());
    });
    connect(s, &AppSettings::archiveFormatChanged, this, &ArchiveSettingsSection::reload);
    connect(s, &AppSettings::compressionLevelChanged, this, &ArchiveSettingsSection::reload);
    connect(s, &AppSettings::archivePasswordChanged, this, &ArchiveSettingsSection::reload);
    connect(s, &AppSettings::archivePasswordEnabledChanged, this, &ArchiveSettingsSection::reload);
}

void ArchiveSettingsSection::reload()
{
    {
        const QSignalBlocker b1(m_format), b2(m_level), b3(m_usePassword), b4(m_password);
        m_format->setCurrentIndex(m_format->findData(rawValue(m_settings.archiveFormat())));
        m_level->setCurrentIndex(m_level->findData(rawValue(m_settings.compressionLevel())));
        m_usePassword->setChecked(m_settings.archivePasswordEnabled());
        if (m_password->text() != m_settings.archivePassword())
            m_password->setText(m_settings.archivePassword());
    }
    // The level affects ZIP only; 7-Zip manages compression internally.
    m_level->setEnabled(m_settings.archiveFormat() != ArchiveFormat::sevenZip);
    m_copy->setEnabled(!m_password->text().isEmpty());
}
