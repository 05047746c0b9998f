#include "rararoz/PressureRing.h"

#include <algorithm>
#include <cmath>
#include <limits>

PressureRing::PressureRing(float (&samples)[kPressureRingSize], quint32 &index, float &runningSum)
    : _samples(samples)
    , _index(index)
    , _runningSum(runningSum)
{
}

void PressureRing::add(float sample)
{
    const quint32 slot = _index % kPressureRingSize;
    _runningSum = _runningSum - _samples[slot] + sample;
    _samples[slot] = sample;
    _index = (slot + 1) % kPressureRingSize;
}

float PressureRing::average() const
{
    return float(_runningSum / 10.0);
}

namespace PressureLimits {

namespace {

qint32 saturate(qint64 value)
{
    const qint64 lowest = std::numeric_limits<qint32>::min();
    const qint64 highest = std::numeric_limits<qint32>::max();
    return qint32(std::clamp(value, lowest, highest));
}

} // namespace

double sampleBetween(double r, qint64 minLimit, qint64 maxLimit)
{
    return r * double(maxLimit - minLimit) + double(minLimit);
}

qint32 latch(double average)
{
    if (std::isnan(average))
        return 0;
    const double rounded = average >= 0.0 ? average + 0.5 : average - 0.5;
    // Clamped before the conversion: a double beyond the range has no
    // integer value.
    const double clamped =
        std::clamp(rounded, double(std::numeric_limits<qint32>::min()), double(std::numeric_limits<qint32>::max()));
    return qint32(clamped);
}

qint32 lower(qint32 stable, qint64 offset, qint32 floor)
{
    return saturate(std::max(qint64(stable) - offset, qint64(floor)));
}

qint32 upper(qint32 stable, qint64 offset, qint32 ceiling)
{
    return saturate(std::min(qint64(stable) + offset, qint64(ceiling)));
}

qint64 half(qint32 window)
{
    return qint64(window) / 2;
}

} // namespace PressureLimits
