#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <utility>

// Enumerations are stored by their raw string. Each enumeration declares its cases once,
// in declaration order, with PERCHBOX_RAW_ENUM; the helpers below then give the raw value,
// the strict parse (unknown string → nothing) and the list of all cases.
//
//   enum class DragMode { copy, move };
//   PERCHBOX_RAW_ENUM(DragMode, {DragMode::copy, "copy"}, {DragMode::move, "move"});
//
//   rawValue(DragMode::move) == "move"
//   enumFromRaw<DragMode>(u"copy") == DragMode::copy
//   enumFromRaw<DragMode>(u"COPY") == std::nullopt   (raw values are case-sensitive)

template <typename E>
struct RawEnumTraits; // specialised by PERCHBOX_RAW_ENUM

template <typename E>
QString rawValue(E value)
{
    for (const auto &[v, raw] : RawEnumTraits<E>::cases)
        if (v == value)
            return QString::fromUtf8(raw);
    return {};
}

template <typename E>
std::optional<E> enumFromRaw(QStringView raw)
{
    for (const auto &[v, r] : RawEnumTraits<E>::cases)
        if (raw == QLatin1String(r))
            return v;
    return std::nullopt;
}

template <typename E>
E enumFromRaw(QStringView raw, E fallback)
{
    return enumFromRaw<E>(raw).value_or(fallback);
}

template <typename E>
QList<E> allCases()
{
    QList<E> out;
    for (const auto &[v, raw] : RawEnumTraits<E>::cases)
        out.append(v);
    return out;
}

#define PERCHBOX_RAW_ENUM(Type, ...)                                                       \
    template <>                                                                            \
    struct RawEnumTraits<Type> {                                                           \
        static constexpr std::pair<Type, const char *> cases_init[] = {__VA_ARGS__};       \
        static constexpr auto cases = std::to_array(cases_init);                           \
    }
