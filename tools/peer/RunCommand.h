#pragma once

#include "peer/MessageDefinitions.h"
#include "peer/PeerOptions.h"

// rararoz-peer run: the scenario files given, one after the other on one
// bus session; rararoz-peer walkthrough: the shipped demo scenario. Every
// file is read and checked before anything is sent.
class RunCommand
{
public:
    RunCommand(const MessageDefinitions &definitions, const PeerOptions &options)
        : _definitions(definitions)
        , _options(options)
    {
    }

    int run();

    // Where the walkthrough's scenario is, below the configuration folder.
    static QString demoScenario();

private:
    const MessageDefinitions &_definitions;
    const PeerOptions &_options;
};
