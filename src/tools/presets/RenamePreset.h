#pragma once

#include "model/RawEnum.h"

#include <QString>
#include <QUuid>

enum class CaseMode { unchanged, lower, upper, title };
PERCHBOX_RAW_ENUM(CaseMode, {CaseMode::unchanged, "unchanged"}, {CaseMode::lower, "lower"},
                  {CaseMode::upper, "upper"}, {CaseMode::title, "title"});

enum class CounterPosition { prefix, suffix };
PERCHBOX_RAW_ENUM(CounterPosition, {CounterPosition::prefix, "prefix"},
                  {CounterPosition::suffix, "suffix"});

// The options of Batch Rename. A default-constructed value holds the options of a freshly
// opened rename window.
struct RenamePreset {
    QUuid id;
    QString name;
    bool isAdvanced = false;
    int trimHead = 0;
    int trimTail = 0;
    QString findText;
    QString replaceWith;
    bool useRegex = false;
    bool caseSensitive = true;
    CaseMode caseMode = CaseMode::unchanged;
    QString prefix;
    QString suffix;
    bool useCounter = false;
    CounterPosition counterPosition = CounterPosition::suffix;
    QString counterSep = QStringLiteral("_");
    qint64 counterStart = 1;
    qint64 counterStep = 1;
    int counterPad = 1;
    bool keepExt = true;

    bool operator==(const RenamePreset &) const = default;
};

// Applying a stored preset to the rename options: an unknown case mode reads as
// "unchanged", and the counter stands in front only for exactly "prefix".
inline CaseMode caseModeFromStored(QStringView raw)
{
    return enumFromRaw<CaseMode>(raw, CaseMode::unchanged);
}
inline CounterPosition counterPositionFromStored(QStringView raw)
{
    return raw == u"prefix" ? CounterPosition::prefix : CounterPosition::suffix;
}
