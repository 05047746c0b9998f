#include "peer/TraceReader.h"

#include "peer/CandumpReader.h"
#include "peer/Console.h"
#include "peer/ExitCode.h"

int TraceReader::read(const QStringList &files, const MessageSink &onMessage)
{
    CandumpReader reader;
    reader.read(
        files,
        [&](const QString &interface, const RawFrame &frame) {
            for (const ReceivedMessage &message : _buses[interface].take(frame))
                onMessage(message);
        },
        [](const QString &problem) { Console::err(problem); });
    if (reader.unreadableFiles() > 0)
        return eExit_Usage;
    if (reader.unreadableLines() > 0) {
        Console::err(QStringLiteral("rararoz-peer: %1 line(s) could not be read").arg(reader.unreadableLines()));
        return eExit_Failed;
    }
    return eExit_Ok;
}
