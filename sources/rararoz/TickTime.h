#pragma once

#include <QtGlobal>

#include "rararoz/RarArozDefines.h"

// Durations counted in ticks of the simulator's clock, taken in 64 bits so
// that a long count never wraps on the way to milliseconds.
namespace TickTime {

constexpr quint64 ms(quint32 ticks)
{
    return quint64(ticks) * kTickMS;
}

constexpr quint64 seconds(quint32 ticks)
{
    return ms(ticks) / 1000;
}

} // namespace TickTime
