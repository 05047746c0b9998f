#pragma once

#include <QString>

// Who talks to whom on a channel, for the monitor: "UI->TD", "TD->UI",
// "TD->all" for a broadcast channel, "?->?" for an unknown one.
class ChannelNames
{
public:
    static QString route(quint32 channel);
};
