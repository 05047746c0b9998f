#include "peer/PlotCommand.h"

#include <QDateTime>

#include "peer/Console.h"
#include "peer/ExitCode.h"
#include "peer/TraceReader.h"
#include "peer/TreatmentPlot.h"

int PlotCommand::run()
{
    TreatmentTrace trace;
    QString error;
    if (!trace.watch(_definitions, TreatmentPlot::quantities(), error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return eExit_Usage;
    }
    // Lines that cannot be read still leave a plot of the rest.
    const int status =
        TraceReader().read(_options.arguments, [&trace](const ReceivedMessage &message) { trace.take(message); });
    if (status == eExit_Usage)
        return status;
    if (!trace.hasTimes()) {
        Console::err(QStringLiteral("rararoz-peer: no message with a time in the trace; the plot needs the log "
                                    "form (monitor --raw, candump -L) or candump -ta"));
        return eExit_Failed;
    }

    const int changes = qMax(0, trace.stages().size() - 1);
    const QString inputs =
        _options.arguments.isEmpty() ? QStringLiteral("standard input") : _options.arguments.join(QStringLiteral(", "));
    const QString title =
        QStringLiteral("%1: %2 s from %3, %4 state changes")
            .arg(inputs)
            .arg(trace.lengthS(), 0, 'f', 1)
            .arg(QDateTime::fromMSecsSinceEpoch(trace.startUs() / 1000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            .arg(changes);
    if (!TreatmentPlot::write(trace, title, _options.output, error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return eExit_Failed;
    }
    Console::out(QStringLiteral("Wrote %1: %2 messages over %3 s, %4 state changes")
                     .arg(_options.output)
                     .arg(trace.messages())
                     .arg(trace.lengthS(), 0, 'f', 1)
                     .arg(changes));
    return status;
}
