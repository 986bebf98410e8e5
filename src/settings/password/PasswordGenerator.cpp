#include "settings/password/PasswordGenerator.h"

#include "settings/AppSettings.h"

#include <QSet>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>

std::uint64_t RandomSource::uniform(std::uint64_t n)
{
    if (n <= 1)
        return 0;
    // The low half of x·n is below (2^64 − n) mod n for exactly the words that would make
    // some indices more likely than others; those words are drawn again.
    const std::uint64_t threshold = (0 - n) % n;
    for (;;) {
        const unsigned __int128 product = static_cast<unsigned __int128>(next64()) * n;
        if (static_cast<std::uint64_t>(product) >= threshold)
            return static_cast<std::uint64_t>(product >> 64);
    }
}

std::uint64_t SystemRandomSource::next64()
{
    if (m_next < 32)
        return m_words[m_next++];
    auto *bytes = reinterpret_cast<unsigned char *>(m_words);
    std::size_t have = 0;
    while (have < sizeof m_words) {
        const ssize_t got = ::getrandom(bytes + have, sizeof m_words - have, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // Without a working kernel generator there is no safe way to make a password.
            throw std::runtime_error("getrandom failed");
        }
        have += static_cast<std::size_t>(got);
    }
    m_next = 1;
    return m_words[0];
}

QStringList graphemeClusters(const QString &text)
{
    QStringList out;
    if (text.isEmpty())
        return out;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) {
        // No break data: fall back to code points.
        for (const char32_t cp : text.toUcs4())
            out.append(QString::fromUcs4(&cp, 1));
        return out;
    }
    const icu::UnicodeString ustr(false, reinterpret_cast<const UChar *>(text.utf16()),
                                  static_cast<int32_t>(text.size()));
    it->setText(ustr);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next())
        out.append(text.mid(start, end - start));
    return out;
}

namespace {

QStringList withoutExcluded(const QString &alphabet, const QSet<QString> &excluded)
{
    QStringList out;
    for (const QString &ch : graphemeClusters(alphabet))
        if (!excluded.contains(ch))
            out.append(ch);
    return out;
}

} // namespace

QString generatePassword(const PasswordGeneratorSettings &settings)
{
    SystemRandomSource random;
    return generatePassword(settings, random);
}

QString generatePassword(const PasswordGeneratorSettings &s, RandomSource &random)
{
    using namespace PasswordGenerator;

    QString poolText;
    if (s.uppercase)
        poolText += uppercaseLetters;
    if (s.lowercase)
        poolText += lowercaseLetters;
    if (s.numbers)
        poolText += digits;
    if (s.symbols)
        poolText += s.symbolSet;

    const QStringList excludedList = graphemeClusters(s.excludeChars);
    const QSet<QString> excluded(excludedList.begin(), excludedList.end());

    const QStringList pool = withoutExcluded(poolText, excluded);
    if (pool.isEmpty())
        return noCharSet;

    const int length = std::clamp(s.length, minLength, maxLength);
    const int quarter = length / 4;

    struct Class {
        bool on;
        QString alphabet;
        int minimum;
    };
    const Class classes[] = {
        {s.uppercase, uppercaseLetters, s.minUppercase},
        {s.lowercase, lowercaseLetters, s.minLowercase},
        {s.numbers, digits, s.minNumbers},
        {s.symbols, s.symbolSet, s.minSymbols},
    };

    QStringList chars;
    chars.reserve(length);
    for (const Class &c : classes) {
        if (!c.on)
            continue;
        const QStringList alphabet = withoutExcluded(c.alphabet, excluded);
        // A negative stored minimum asks for nothing.
        const int k = std::max(0, std::min(quarter, c.minimum));
        if (alphabet.isEmpty())
            continue;
        for (int i = 0; i < k; ++i)
            chars.append(alphabet.at(static_cast<qsizetype>(random.uniform(alphabet.size()))));
    }

    const qsizetype fill = length - chars.size();
    for (qsizetype i = 0; i < fill; ++i)
        chars.append(pool.at(static_cast<qsizetype>(random.uniform(pool.size()))));

    // Fisher–Yates.
    for (qsizetype i = chars.size() - 1; i > 0; --i) {
        const auto j = static_cast<qsizetype>(random.uniform(static_cast<std::uint64_t>(i) + 1));
        chars.swapItemsAt(i, j);
    }
    return chars.join(QString());
}

PasswordGeneratorSettings passwordGeneratorSettings(const AppSettings &settings)
{
    PasswordGeneratorSettings s;
    s.length = settings.pwGenLength();
    s.uppercase = settings.pwGenUppercase();
    s.lowercase = settings.pwGenLowercase();
    s.numbers = settings.pwGenNumbers();
    s.symbols = settings.pwGenSymbols();
    s.symbolSet = settings.pwGenSymbolSet();
    s.excludeChars = settings.pwGenExcludeChars();
    s.minUppercase = settings.pwGenMinUppercase();
    s.minLowercase = settings.pwGenMinLowercase();
    s.minNumbers = settings.pwGenMinNumbers();
    s.minSymbols = settings.pwGenMinSymbols();
    return s;
}

QString generatePasswordFromSettings()
{
    return generatePassword(passwordGeneratorSettings(AppSettings::instance()));
}
