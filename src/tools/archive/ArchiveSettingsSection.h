#pragma once

#include <QWidget>

class AppSettings;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// The archive part of the "Tools" settings page: default format, compression level, and the
// default password with "Generate" and "Copy password". Writes the settings at once.
class ArchiveSettingsSection : public QWidget
{
    Q_OBJECT
public:
    explicit ArchiveSettingsSection(AppSettings &settings, QWidget *parent = nullptr);

    QComboBox *formatPicker() const { return m_format; }
    QLineEdit *passwordField() const { return m_password; }
    QPushButton *generateButton() const { return m_generate; }

private:
    void reload();

    AppSettings &m_settings;
    QComboBox *m_format;
    QComboBox *m_level;
    QCheckBox *m_usePassword;
    QLineEdit *m_password;
    QPushButton *m_generate;
    QPushButton *m_copy;
};
