#pragma once

#include <QWidget>

class AppSettings;
class QCheckBox;
class QLineEdit;
class QSpinBox;

// The "Password Generator" page of the settings window: length, the four character classes
// with their minimums, the symbol set and the characters never to use. Every control writes
// its setting at once and follows changes made elsewhere.
class PasswordGeneratorPage : public QWidget
{
    Q_OBJECT
public:
    explicit PasswordGeneratorPage(AppSettings &settings, QWidget *parent = nullptr);

    QSpinBox *lengthStepper() const { return m_length; }
    QLineEdit *symbolSetField() const { return m_symbolSet; }
    QLineEdit *excludeField() const { return m_exclude; }

private:
    void reload();

    AppSettings &m_settings;
    QSpinBox *m_length;
    QCheckBox *m_upper, *m_lower, *m_numbers, *m_symbols;
    QSpinBox *m_minUpper, *m_minLower, *m_minNumbers, *m_minSymbols;
    QLineEdit *m_symbolSet;
    QLineEdit *m_exclude;
};
