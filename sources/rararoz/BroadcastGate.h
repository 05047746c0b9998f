#pragma once

#include <QtGlobal>

#include "rararoz/RarArozEnums.h"

// The call counter of one periodic broadcast. Called once per tick it lets
// the broadcast through on every period-th call; an immediate call always
// passes and still counts, which shifts the phase of the periodic ones. Each
// broadcast starts its counter at a value of its own so that the
// once-a-second broadcasts fall on different ticks.
class BroadcastGate
{
public:
    constexpr BroadcastGate(quint32 start, quint32 period)
        : _counter(start)
        , _period(period)
    {
    }

    bool isDue(Broadcast_Type type)
    {
        ++_counter;
        return _counter % _period == 0 || type == BC_IMMEDIATELY;
    }

    quint32 counter() const { return _counter; }

private:
    quint32 _counter;
    quint32 _period;
};
