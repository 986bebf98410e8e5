#include "settings/password/PasswordGeneratorPage.h"

#include "settings/AppSettings.h"
#include "settings/password/PasswordGenerator.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QLabel *note(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * 0.9);
    label->setFont(f);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

PasswordGeneratorPage::PasswordGeneratorPage(AppSettings &settings, QWidget *parent)
    : QWidget(parent), m_settings(settings)
{
    using namespace PasswordGenerator;
    auto *layout = new QVBoxLayout(this);

    m_length = new QSpinBox;
    m_length->setRange(minLength, maxLength);
    m_length->setSingleStep(1);
    m_length->setPrefix(QStringLiteral("Length: "));
    m_length->setSuffix(QStringLiteral(" characters"));
    layout->addWidget(m_length, 0, Qt::AlignLeft);

    auto *types = new QGroupBox(QStringLiteral("Character Types"));
    auto *grid = new QGridLayout(types);
    const auto addRow = [grid](int row, QCheckBox *box, QSpinBox *min) {
        min->setRange(0, maxMinimum);
        min->setPrefix(QStringLiteral("Min: "));
        grid->addWidget(box, row, 0);
        grid->addWidget(min, row, 1);
    };
    m_upper = new QCheckBox(QStringLiteral("Uppercase  A–Z"));
    m_lower = new QCheckBox(QStringLiteral("Lowercase  a–z"));
    m_numbers = new QCheckBox(QStringLiteral("Numbers  0–9"));
    m_symbols = new QCheckBox(QStringLiteral("Symbols"));
    m_minUpper = new QSpinBox;
    m_minLower = new QSpinBox;
    m_minNumbers = new QSpinBox;
    m_minSymbols = new QSpinBox;
    addRow(0, m_upper, m_minUpper);
    addRow(1, m_lower, m_minLower);
    addRow(2, m_numbers, m_minNumbers);
    addRow(3, m_symbols, m_minSymbols);
    layout->addWidget(types);

    const auto fieldRow = [layout](const QString &title, QLineEdit *field, const QString &explanation,
                                   QPushButton *button) {
        layout->addWidget(new QLabel(title));
        auto *row = new QHBoxLayout;
        row->addWidget(field, 1);
        row->addWidget(button);
        layout->addLayout(row);
        layout->addWidget(note(explanation));
    };
    m_symbolSet = new QLineEdit;
    auto *symbolDefault = new QPushButton(QStringLiteral("Default"));
    fieldRow(QStringLiteral("Symbol set"), m_symbolSet,
             QStringLiteral("These are the symbols that will be included in generated passwords when Symbols is on."),
             symbolDefault);
    m_exclude = new QLineEdit;
    auto *excludeDefault = new QPushButton(QStringLiteral("Default"));
    fieldRow(QStringLiteral("Characters to never use"), m_exclude,
             QStringLiteral("These characters will never appear in generated passwords. Use this to remove "
                            "look-alikes like 0 (zero) vs O (letter), or l vs 1 vs I."),
             excludeDefault);
    layout->addStretch(1);

    reload();

    AppSettings *s = &m_settings;
    connect(m_length, &QSpinBox::valueChanged, s, &AppSettings::setPwGenLength);
    connect(m_upper, &QCheckBox::toggled, s, &AppSettings::setPwGenUppercase);
    connect(m_lower, &QCheckBox::toggled, s, &AppSettings::setPwGenLowercase);
    connect(m_numbers, &QCheckBox::toggled, s, &AppSettings::setPwGenNumbers);
    connect(m_symbols, &QCheckBox::toggled, s, &AppSettings::setPwGenSymbols);
    connect(m_minUpper, &QSpinBox::valueChanged, s, &AppSettings::setPwGenMinUppercase);
    connect(m_minLower, &QSpinBox::valueChanged, s, &AppSettings::setPwGenMinLowercase);
    connect(m_minNumbers, &QSpinBox::valueChanged, s, &AppSettings::setPwGenMinNumbers);
    connect(m_minSymbols, &QSpinBox::valueChanged, s, &AppSettings::setPwGenMinSymbols);
    connect(m_symbolSet, &QLineEdit::textEdited, s, &AppSettings::setPwGenSymbolSet);
    connect(m_exclude, &QLineEdit::textEdited, s, &AppSettings::setPwGenExcludeChars);
    connect(symbolDefault, &QPushButton::clicked, this, [s] { s->setPwGenSymbolSet(defaultSymbolSet); });
    connect(excludeDefault, &QPushButton::clicked, this, [s] { s->setPwGenExcludeChars(defaultExcludeChars); });

    // Changes made elsewhere (or by the Default buttons) show up here.
    for (auto signal : {&AppSettings::pwGenLengthChanged, &AppSettings::pwGenMinUppercaseChanged,
                        &AppSettings::pwGenMinLowercaseChanged, &AppSettings::pwGenMinNumbersChanged,
                        &AppSettings::pwGenMinSymbolsChanged})
        connect(s, signal, this, &PasswordGeneratorPage::reload);
    for (auto signal : {&AppSettings::pwGenUppercaseChanged, &AppSettings::pwGenLowercaseChanged,
                        &AppSettings::pwGenNumbersChanged, &AppSettings::pwGenSymbolsChanged})
        connect(s, signal, this, &PasswordGeneratorPage::reload);
    for (auto signal : {&AppSettings::pwGenSymbolSetChanged, &AppSettings::pwGenExcludeCharsChanged})
        connect(s, signal, this, &PasswordGeneratorPage::reload);
}

void PasswordGeneratorPage::reload()
{
    const auto set = [](auto *widget, auto apply) {
        const QSignalBlocker block(widget);
        apply(widget);
    };
    set(m_length, [&](QSpinBox *w) { w->setValue(m_settings.pwGenLength()); });
    set(m_upper, [&](QCheckBox *w) { w->setChecked(m_settings.pwGenUppercase()); });
    set(m_lower, [&](QCheckBox *w) { w->setChecked(m_settings.pwGenLowercase()); });
    set(m_numbers, [&](QCheckBox *w) { w->setChecked(m_settings.pwGenNumbers()); });
    set(m_symbols, [&](QCheckBox *w) { w->setChecked(m_settings.pwGenSymbols()); });
    set(m_minUpper, [&](QSpinBox *w) { w->setValue(m_settings.pwGenMinUppercase()); });
    set(m_minLower, [&](QSpinBox *w) { w->setValue(m_settings.pwGenMinLowercase()); });
    set(m_minNumbers, [&](QSpinBox *w) { w->setValue(m_settings.pwGenMinNumbers()); });
    set(m_minSymbols, [&](QSpinBox *w) { w->setValue(m_settings.pwGenMinSymbols()); });
    m_minUpper->setEnabled(m_upper->isChecked());
    m_minLower->setEnabled(m_lower->isChecked());
    m_minNumbers->setEnabled(m_numbers->isChecked());
    m_minSymbols->setEnabled(m_symbols->isChecked());
    if (m_symbolSet->text() != m_settings.pwGenSymbolSet())
        set(m_symbolSet, [&](QLineEdit *w) { w->setText(m_settings.pwGenSymbolSet()); });
    if (m_exclude->text() != m_settings.pwGenExcludeChars())
        set(m_exclude, [&](QLineEdit *w) { w->setText(m_settings.pwGenExcludeChars()); });
}
