#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// Random passwords for encrypted archives.
//
// Characters are user-perceived characters (extended grapheme clusters): a symbol set or an
// exclusion list may hold any characters and each counts as one.

// The generator's options, as stored in the settings ("pwGen…" keys).
struct PasswordGeneratorSettings {
    int length = 16;
    bool uppercase = true;
    bool lowercase = true;
    bool numbers = true;
    bool symbols = false;
    QString symbolSet = QStringLiteral("!@#$%^&*");
    QString excludeChars;
    int minUppercase = 1;
    int minLowercase = 1;
    int minNumbers = 1;
    int minSymbols = 0;
};

namespace PasswordGenerator {

inline constexpr int minLength = 4;
inline constexpr int maxLength = 128;
inline constexpr int maxMinimum = 10;
inline const QString uppercaseLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
inline const QString lowercaseLetters = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
inline const QString digits = QStringLiteral("0123456789");
// What the generator returns when no character is available.
inline const QString noCharSet = QStringLiteral("NoCharSet!");
// The symbol set of a fresh store, and the one the settings page's "Default" button sets.
inline const QString initialSymbolSet = QStringLiteral("!@#$%^&*");
inline const QString defaultSymbolSet = QStringLiteral("!@#$%^&*-_=+?");
// Look-alikes: zero, capital O, small l, one, capital I, vertical bar, backtick, double quote.
inline const QString defaultExcludeChars = QStringLiteral("0Ol1I|`\"");

} // namespace PasswordGenerator

// A source of uniformly distributed 64-bit words.
class RandomSource
{
public:
    virtual ~RandomSource() = default;
    virtual std::uint64_t next64() = 0;

    // A uniform index in 0 … n−1 (n ≥ 1), without bias: multiply-high with rejection.
    std::uint64_t uniform(std::uint64_t n);
};

// The kernel's cryptographically secure generator (getrandom(2)).
// Words are fetched in small batches; every word is used once.
class SystemRandomSource final : public RandomSource
{
public:
    std::uint64_t next64() override;

private:
    std::uint64_t m_words[32];
    int m_next = 32;
};

// Splits text into extended grapheme clusters.
QStringList graphemeClusters(const QString &text);

// A new password from `settings`, or "NoCharSet!" when no character is available.
QString generatePassword(const PasswordGeneratorSettings &settings);
QString generatePassword(const PasswordGeneratorSettings &settings, RandomSource &random);

class AppSettings;
// The generator's options as they stand in the settings at this moment.
PasswordGeneratorSettings passwordGeneratorSettings(const AppSettings &settings);
// A new password from the shared settings' options (what "Generate" buttons call).
QString generatePasswordFromSettings();
