#pragma once

#include "peer/MessageDefinitions.h"
#include "peer/PeerOptions.h"

// rararoz-peer decode: reads candump traces (files, or standard input) and
// prints the monitor's line for every message in them.
class DecodeCommand
{
public:
    DecodeCommand(const MessageDefinitions &definitions, const PeerOptions &options)
        : _definitions(definitions)
        , _options(options)
    {
    }

    int run();

private:
    const MessageDefinitions &_definitions;
    const PeerOptions &_options;
};
