#include "rararoz/SimulatorTrace.h"

#include <cstring>

Q_LOGGING_CATEGORY(simulatorTrace, "rararoz.simulator")

namespace {

QtMessageHandler previousHandler = nullptr;

void printTraceAsBefore(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (context.category && std::strcmp(context.category, simulatorTrace().categoryName()) == 0) {
        const QMessageLogContext asBefore(context.file, context.line, context.function, "default");
        previousHandler(type, asBefore, text);
        return;
    }
    previousHandler(type, context, text);
}

} // namespace

void installSimulatorTraceFormat()
{
    // A format of one's own may well want the category's name.
    if (qEnvironmentVariableIsSet("QT_MESSAGE_PATTERN"))
        return;
    const QtMessageHandler previous = qInstallMessageHandler(printTraceAsBefore);
    if (previous != printTraceAsBefore) // installed twice, it must not call itself
        previousHandler = previous;
}
