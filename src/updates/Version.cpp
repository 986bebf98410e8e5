#include "updates/Version.h"

#include <QList>

#include <algorithm>

namespace {

struct Parsed {
    bool valid = false;
    QList<qulonglong> release;   // the dotted numbers
    QList<QStringView> prerelease; // the pieces after "-", split at "."
};

// A run of digits as a number; saturates instead of overflowing.
qulonglong number(QStringView digits)
{
    qulonglong value = 0;
    for (QChar c : digits) {
        const qulonglong next = value * 10 + qulonglong(c.unicode() - '0');
        if (next / 10 != value)
            return ~0ULL;
        value = next;
    }
    return value;
}

bool allDigits(QStringView s)
{
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

Parsed parse(QStringView text)
{
    Parsed p;
    text = text.trimmed();
    if (text.startsWith(u'v') || text.startsWith(u'V'))
        text = text.mid(1);
    if (const qsizetype plus = text.indexOf(u'+'); plus >= 0)
        text = text.left(plus);
    QStringView core = text;
    if (const qsizetype dash = text.indexOf(u'-'); dash >= 0) {
        core = text.left(dash);
        const QStringView pre = text.mid(dash + 1);
        for (QStringView piece : pre.split(u'.'))
            p.prerelease.append(piece);
        if (pre.isEmpty())
            p.prerelease.clear();
    }
    for (QStringView piece : core.split(u'.')) {
        if (!allDigits(piece))
            return {};
        p.release.append(number(piece));
    }
    p.valid = !p.release.isEmpty();
    return p;
}

int comparePiece(QStringView a, QStringView b)
{
    const bool an = allDigits(a), bn = allDigits(b);
    if (an && bn) {
        const qulonglong x = number(a), y = number(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (an != bn)
        return an ? -1 : 1; // numbers before words
    const int c = a.compare(b, Qt::CaseSensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace

namespace Version {

int compare(QStringView a, QStringView b)
{
    const Parsed x = parse(a), y = parse(b);
    if (!x.valid || !y.valid)
        return int(x.valid) - int(y.valid);
    const qsizetype n = std::max(x.release.size(), y.release.size());
    for (qsizetype i = 0; i < n; ++i) {
        const qulonglong p = x.release.value(i, 0), q = y.release.value(i, 0);
        if (p != q)
            return p < q ? -1 : 1;
    }
    // A release is newer than any of its pre-releases.
    if (x.prerelease.isEmpty() != y.prerelease.isEmpty())
        return x.prerelease.isEmpty() ? 1 : -1;
    const qsizetype m = std::min(x.prerelease.size(), y.prerelease.size());
    for (qsizetype i = 0; i < m; ++i)
        if (const int c = comparePiece(x.prerelease[i], y.prerelease[i]))
            return c;
    return x.prerelease.size() < y.prerelease.size() ? -1 : (x.prerelease.size() > y.prerelease.size() ? 1 : 0);
}

bool isNightly(QStringView version)
{
    return version.contains(u"-nightly");
}

QString current()
{
    return QStringLiteral(PERCHBOX_VERSION);
}

} // namespace Version
