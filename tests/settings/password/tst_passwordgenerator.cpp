#include "settings/password/PasswordGenerator.h"

#include <QtTest>

#include <cmath>
#include <deque>

namespace {

// Replays fixed words, then falls back to a simple generator.
class ScriptedSource : public RandomSource
{
public:
    std::deque<std::uint64_t> words;
    int draws = 0;
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::uint64_t next64() override
    {
        ++draws;
        if (!words.empty()) {
            const auto w = words.front();
            words.pop_front();
            return w;
        }
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

int countIn(const QString &text, const QString &alphabet)
{
    int n = 0;
    for (const QChar c : text)
        n += alphabet.contains(c) ? 1 : 0;
    return n;
}

// The smallest x with P(chi-square(k) > x) ≤ p by the Chernoff bound
// P ≤ (x/k · e^(1 − x/k))^(k/2), which holds for every k: a rigorous failure bound.
double chiSquareThreshold(int k, double p)
{
    double lo = k, hi = 100.0 * k;
    for (int i = 0; i < 200; ++i) {
        const double mid = (lo + hi) / 2;
        const double t = mid / k;
        const double logBound = k / 2.0 * (std::log(t) + 1 - t);
        (logBound > std::log(p) ? lo : hi) = mid;
    }
    return hi;
}

double chiSquare(const std::vector<qint64> &counts, double expected)
{
    double chi = 0;
    for (const qint64 c : counts)
        chi += (c - expected) * (c - expected) / expected;
    return chi;
}

} // namespace

class TestPasswordGenerator : public QObject
{
    Q_OBJECT
private slots:
    void defaultsGiveSixteenLettersAndDigitsWithEachClass()
    {
        const PasswordGeneratorSettings s;
        for (int i = 0; i < 200; ++i) {
            const QString pw = generatePassword(s);
            QCOMPARE(pw.size(), 16);
            QVERIFY(countIn(pw, PasswordGenerator::uppercaseLetters) >= 1);
            QVERIFY(countIn(pw, PasswordGenerator::lowercaseLetters) >= 1);
            QVERIFY(countIn(pw, PasswordGenerator::digits) >= 1);
            QCOMPARE(countIn(pw, PasswordGenerator::uppercaseLetters) + countIn(pw, PasswordGenerator::lowercaseLetters)
                         + countIn(pw, PasswordGenerator::digits),
                     16);
        }
    }

    void minimumsAreCappedAtAQuarterOfTheLength()
    {
        PasswordGeneratorSettings s;
        s.length = 4;
        s.symbols = true;
        s.minUppercase = s.minLowercase = s.minNumbers = s.minSymbols = 10;
        for (int i = 0; i < 100; ++i) {
            const QString pw = generatePassword(s);
            QCOMPARE(pw.size(), 4);
            QCOMPARE(countIn(pw, PasswordGenerator::uppercaseLetters), 1);
            QCOMPARE(countIn(pw, PasswordGenerator::lowercaseLetters), 1);
            QCOMPARE(countIn(pw, PasswordGenerator::digits), 1);
            QCOMPARE(countIn(pw, s.symbolSet), 1);
        }
    }

    void onlySymbolsFillsFromTheSymbolSet()
    {
        PasswordGeneratorSettings s;
        s.length = 5;
        s.uppercase = s.lowercase = s.numbers = false;
        s.symbols = true;
        s.minSymbols = 3;
        // 5 / 4 = 1 required symbol, 4 fill symbols: draws = 1 + 4 + 4 shuffle swaps.
        ScriptedSource random;
        const QString pw = generatePassword(s, random);
        QCOMPARE(pw.size(), 5);
        QCOMPARE(countIn(pw, s.symbolSet), 5);
        QCOMPARE(random.draws, 9);
    }

    void lengthIsClampedForGenerationOnly()
    {
        PasswordGeneratorSettings s;
        s.length = 1;
        QCOMPARE(generatePassword(s).size(), 4);
        s.length = 1000;
        QCOMPARE(generatePassword(s).size(), 128);
    }

    void excludedClassContributesNothing()
    {
        PasswordGeneratorSettings s;
        s.numbers = false;
        s.excludeChars = PasswordGenerator::uppercaseLetters;
        for (int i = 0; i < 50; ++i) {
            const QString pw = generatePassword(s);
            QCOMPARE(pw.size(), 16);
            QCOMPARE(countIn(pw, PasswordGenerator::lowercaseLetters), 16);
        }
    }

    void noCharacterLeft()
    {
        PasswordGeneratorSettings s;
        s.uppercase = s.lowercase = s.numbers = s.symbols = false;
        QCOMPARE(generatePassword(s), QStringLiteral("NoCharSet!"));
        s.numbers = true;
        s.excludeChars = PasswordGenerator::digits;
        QCOMPARE(generatePassword(s), QStringLiteral("NoCharSet!"));
        // Symbols on with an empty set is nothing available either.
        s.numbers = false;
        s.symbols = true;
        s.symbolSet.clear();
        QCOMPARE(generatePassword(s), QStringLiteral("NoCharSet!"));
    }

    void lookAlikesNeverAppear()
    {
        PasswordGeneratorSettings s;
        s.length = 128;
        s.symbols = true;
        s.symbolSet = PasswordGenerator::defaultSymbolSet + QStringLiteral("|`\"");
        s.excludeChars = PasswordGenerator::defaultExcludeChars;
        QCOMPARE(PasswordGenerator::defaultExcludeChars.size(), 8);
        QCOMPARE(PasswordGenerator::defaultSymbolSet.size(), 13);
        for (int i = 0; i < 50; ++i) {
            const QString pw = generatePassword(s);
            for (const QChar c : PasswordGenerator::defaultExcludeChars)
                QVERIFY2(!pw.contains(c), qPrintable(pw));
        }
    }

    void graphemeClustersCountAsOneCharacter()
    {
        // A family emoji (several code points joined) and a letter with a combining accent.
        const QString family = QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
        const QString accented = QString::fromUtf8("e\xCC\x81");
        QCOMPARE(graphemeClusters(family + accented + QStringLiteral("x")),
                 QStringList({family, accented, QStringLiteral("x")}));

        PasswordGeneratorSettings s;
        s.uppercase = s.lowercase = s.numbers = false;
        s.symbols = true;
        s.symbolSet = family + accented + QStringLiteral("e");
        s.excludeChars = accented; // excludes the cluster, not the plain "e"
        s.length = 40;
        const QString pw = generatePassword(s);
        const QStringList clusters = graphemeClusters(pw);
        QCOMPARE(clusters.size(), 40);
        for (const QString &c : clusters)
            QVERIFY(c == family || c == QStringLiteral("e"));
    }

    void repeatedSymbolsAreMoreLikely()
    {
        PasswordGeneratorSettings s;
        s.uppercase = s.numbers = false;
        s.symbols = true;
        s.symbolSet = QStringLiteral("aaaa");
        s.minLowercase = s.minSymbols = 0;
        s.length = 128;
        // Pool: 26 letters + 4 more "a": P(a) = 5/30, P(other letter) = 1/30.
        qint64 a = 0, b = 0;
        for (int i = 0; i < 200; ++i) {
            const QString pw = generatePassword(s);
            a += pw.count(QLatin1Char('a'));
            b += pw.count(QLatin1Char('b'));
        }
        QVERIFY2(a > 3 * b, qPrintable(QStringLiteral("a=%1 b=%2").arg(a).arg(b)));
    }

    void rejectionRedrawsBiasedWords()
    {
        // n = 2^63 + 1: the threshold (2^64 − n) mod n is 2^63 − 1. Word 2 gives a low half
        // of 2 (rejected); word 2^63 gives a low half of 2^63 (accepted, index 2^62).
        ScriptedSource random;
        const std::uint64_t n = (1ull << 63) + 1;
        random.words = {2, 1ull << 63};
        QCOMPARE(random.uniform(n), 1ull << 62);
        QCOMPARE(random.draws, 2);
        // Powers of two never reject.
        random.draws = 0;
        random.words = {0, ~0ull};
        QCOMPARE(random.uniform(16), 0ull);
        QCOMPARE(random.uniform(16), 15ull);
        QCOMPARE(random.draws, 2);
        QCOMPARE(random.uniform(1), 0ull);
    }

    void systemDrawsAreUniform_data()
    {
        QTest::addColumn<quint64>("n");
        QTest::addColumn<int>("buckets");
        QTest::newRow("small range") << quint64(7) << 7;
        QTest::newRow("3 * 2^62, rejects a quarter") << quint64(3ull << 62) << 12;
        QTest::newRow("2^63 + 1, rejects half") << quint64((1ull << 63) + 1) << 16;
    }

    void systemDrawsAreUniform()
    {
        // Chi-square over equal-width buckets of the index range, with a threshold whose
        // false-failure probability is at most 1e-12.
        QFETCH(quint64, n);
        QFETCH(int, buckets);
        SystemRandomSource random;
        const qint64 draws = 400000;
        std::vector<qint64> counts(buckets, 0);
        const auto width = static_cast<unsigned __int128>(n);
        for (qint64 i = 0; i < draws; ++i) {
            const std::uint64_t x = random.uniform(n);
            QVERIFY(x < n);
            counts[static_cast<size_t>(static_cast<unsigned __int128>(x) * buckets / width)]++;
        }
        // Bucket widths differ by at most one index: negligible next to n for the large ranges.
        const double chi = chiSquare(counts, double(draws) / buckets);
        const double limit = chiSquareThreshold(buckets - 1, 1e-12);
        QVERIFY2(chi < limit, qPrintable(QStringLiteral("chi2=%1 limit=%2").arg(chi).arg(limit)));
    }

    void shuffleIsUniformOverPositions()
    {
        // With one required digit and a letters-only fill, the digit's position must be
        // uniform over the 8 places; a faulty shuffle leaves it at the front.
        PasswordGeneratorSettings s;
        s.length = 8;
        s.uppercase = false;
        s.minLowercase = 0;
        s.minNumbers = 1;
        s.excludeChars = PasswordGenerator::digits.mid(1); // only "0" remains…
        s.numbers = true;
        // …and keep it out of the fill by making letters the bulk: count positions of digits
        // only in passwords with exactly one digit.
        std::vector<qint64> counts(8, 0);
        qint64 used = 0;
        for (int i = 0; i < 60000; ++i) {
            const QString pw = generatePassword(s);
            if (pw.count(QLatin1Char('0')) != 1)
                continue;
            counts[size_t(pw.indexOf(QLatin1Char('0')))]++;
            ++used;
        }
        QVERIFY(used > 10000);
        const double chi = chiSquare(counts, double(used) / 8);
        QVERIFY2(chi < chiSquareThreshold(7, 1e-12), qPrintable(QString::number(chi)));
    }
};

QTEST_GUILESS_MAIN(TestPasswordGenerator)
#include "tst_passwordgenerator.moc"
