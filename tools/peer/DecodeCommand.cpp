#include "peer/DecodeCommand.h"

#include "peer/Console.h"
#include "peer/ExitCode.h"
#include "peer/MessageFilter.h"
#include "peer/MessageFormatter.h"
#include "peer/TraceReader.h"

int DecodeCommand::run()
{
    MessageFilter filter;
    QString error;
    if (!filter.set(_definitions, _options.only, _options.except, error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return eExit_Usage;
    }
    const MessageFormatter formatter(_definitions);
    return TraceReader().read(_options.arguments, [&](const ReceivedMessage &message) {
        if (filter.shows(message))
            Console::out(formatter.line(message));
    });
}
