#pragma once

#include "peer/MessageDefinitions.h"
#include "peer/PeerOptions.h"

// rararoz-peer plot: draws the treatment in candump traces (files, or
// standard input) into a PNG or SVG file.
class PlotCommand
{
public:
    PlotCommand(const MessageDefinitions &definitions, const PeerOptions &options)
        : _definitions(definitions)
        , _options(options)
    {
    }

    int run();

private:
    const MessageDefinitions &_definitions;
    const PeerOptions &_options;
};
