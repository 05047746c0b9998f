#pragma once

#include "peer/MessageDefinitions.h"
#include "peer/PeerOptions.h"

// rararoz-peer monitor: prints what passes on the bus until interrupted or
// until the given duration has passed.
class MonitorCommand
{
public:
    MonitorCommand(const MessageDefinitions &definitions, const PeerOptions &options)
        : _definitions(definitions)
        , _options(options)
    {
    }

    int run();

private:
    const MessageDefinitions &_definitions;
    const PeerOptions &_options;
};
