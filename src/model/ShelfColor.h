#pragma once

#include "model/Shelf.h"

#include <QColor>

#include <algorithm>

// Conversion between shelf colours and QColor. Header-only so that code without Qt GUI can
// use the records; callers link Qt6::Gui themselves.

// Any valid colour becomes its extended-sRGB components; extended components (outside
// 0…1) are taken as they are. A colour without an RGB form (an invalid QColor) gives the
// system blue.
inline ShelfColorData shelfColorData(const QColor &color)
{
    if (!color.isValid())
        return ShelfColorData::systemBlue();
    const QColor rgb = color.spec() == QColor::ExtendedRgb ? color : color.toExtendedRgb();
    if (!rgb.isValid())
        return ShelfColorData::systemBlue();
    return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

// The colour views tint with: red r, green g, blue b, opacity a (extended sRGB when a
// component lies outside 0…1).
inline QColor toQColor(const ShelfColorData &c)
{
    // QColor switches to extended sRGB by itself when a component lies outside 0…1; only
    // the opacity has to stay inside it.
    return QColor::fromRgbF(float(c.r), float(c.g), float(c.b), float(std::clamp(c.a, 0.0, 1.0)));
}
