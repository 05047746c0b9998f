#pragma once

#include <QStringList>

#include <functional>
#include <map>

#include "peer/MessageAssembler.h"

// The messages in recorded candump traces, put back together as the monitor
// does on a live bus, each interface of a trace a bus of its own.
class TraceReader
{
public:
    using MessageSink = std::function<void(const ReceivedMessage &message)>;

    // Reads the files (standard input when none is given) and hands on every
    // message and broken frame. Lines it cannot read are reported on
    // standard error with their line numbers and skipped. The exit status:
    // a usage error for a file it cannot open, a failure for unreadable
    // lines.
    int read(const QStringList &files, const MessageSink &onMessage);

private:
    std::map<QString, MessageAssembler> _buses; // the assembler holds a QObject: not copyable
};
