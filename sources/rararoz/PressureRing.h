#pragma once

#include <QtGlobal>

#include "rararoz/RarArozRecords.h"

// One pressure's ten raw samples with their running sum, kept in the
// pressure record: a view that adds samples and gives the average.
class PressureRing
{
public:
    PressureRing(float (&samples)[kPressureRingSize], quint32 &index, float &runningSum);

    // Replaces the oldest sample; the running sum follows without summing
    // the ring again.
    void add(float sample);
    float average() const;

private:
    float (&_samples)[kPressureRingSize];
    quint32 &_index;
    float &_runningSum;
};

// The arithmetic of the pressure limits. Windows come from the UI as they
// are, so every sum is taken in 64 bits and saturated to the 32-bit field
// it is stored in.
namespace PressureLimits {

// A sample drawn between two limits from a uniform r in [0, 1). Reversed
// limits give a sample between them all the same.
double sampleBetween(double r, qint64 minLimit, qint64 maxLimit);

// The stable value latched from an average: the nearest integer, halves
// away from zero. Beyond the 32-bit range it saturates; NaN gives 0.
qint32 latch(double average);

// stable - offset, but not below floor.
qint32 lower(qint32 stable, qint64 offset, qint32 floor);
// stable + offset, but not above ceiling.
qint32 upper(qint32 stable, qint64 offset, qint32 ceiling);

// Half of a window, truncated toward zero.
qint64 half(qint32 window);

} // namespace PressureLimits
