#pragma once

#include <QtGlobal>

#include <cmath>
#include <limits>

// Values from the UI arrive unchecked, and so do the figures computed from
// them. A message never carries NaN or infinity, and a float is never
// converted to an integer it does not fit (that conversion is undefined).
namespace NumericGuards {

inline float finiteOrZero(float value)
{
    return std::isfinite(value) ? value : 0.0f;
}

// Truncated toward zero and held within 0 .. 2^32 - 1; NaN gives 0.
inline quint32 truncatedToU32(float value)
{
    if (!(value > 0.0f))
        return 0;
    if (value >= 4294967296.0f)
        return std::numeric_limits<quint32>::max();
    return quint32(value);
}

// A wide count as a U32 field carries it: at most 2^32 - 1.
inline quint32 saturatedToU32(quint64 value)
{
    return value > std::numeric_limits<quint32>::max() ? std::numeric_limits<quint32>::max() : quint32(value);
}

// a - b, or 0 where the difference would go below zero.
inline quint32 flooredDifference(quint32 a, quint32 b)
{
    return a > b ? a - b : 0;
}

} // namespace NumericGuards
