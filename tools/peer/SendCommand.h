#pragma once

#include "peer/MessageDefinitions.h"
#include "peer/PeerOptions.h"

// rararoz-peer send: one request, its acknowledgement and its response.
class SendCommand
{
public:
    SendCommand(const MessageDefinitions &definitions, const PeerOptions &options)
        : _definitions(definitions)
        , _options(options)
    {
    }

    int run();

private:
    const MessageDefinitions &_definitions;
    const PeerOptions &_options;
};
