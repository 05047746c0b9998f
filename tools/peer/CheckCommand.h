#pragma once

#include "peer/MessageDefinitions.h"
#include "peer/PeerOptions.h"

// rararoz-peer check: reads the scenario files given and holds them against
// the message definitions, without a bus. Each problem is one line,
// "file:line: what is wrong".
class CheckCommand
{
public:
    CheckCommand(const MessageDefinitions &definitions, const PeerOptions &options)
        : _definitions(definitions)
        , _options(options)
    {
    }

    int run();

private:
    const MessageDefinitions &_definitions;
    const PeerOptions &_options;
};
