#include "peer/SendCommand.h"

#include <QElapsedTimer>

#include "peer/Console.h"
#include "peer/ExitCode.h"
#include "peer/MessageFormatter.h"
#include "peer/PayloadCodec.h"
#include "peer/PeerSession.h"
#include "peer/SignalWatcher.h"

int SendCommand::run()
{
    // Everything about the request is checked before the bus is touched, so
    // that a mistake sends nothing.
    const QString nameOrId = _options.arguments.first();
    const MessageDefinition *definition = _definitions.lookup(nameOrId);
    if (!definition) {
        Console::err(
            QStringLiteral("rararoz-peer: unknown message '%1' (not in %2)").arg(nameOrId, _definitions.fileName()));
        return eExit_Usage;
    }
    QByteArray payload;
    QString error;
    if (!PayloadCodec::encode(*definition, _options.arguments.mid(1), payload, error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error + QStringLiteral("; nothing sent"));
        return eExit_Usage;
    }
    const MessageDefinition *response = definition->hasResponse ? _definitions.find(definition->responseId) : nullptr;

    SignalWatcher signalWatcher;
    PeerSession session;
    QObject::connect(&signalWatcher, &SignalWatcher::interrupted, &session, [&session] { session.stop(); });
    if (!session.open(_options.plugin, _options.interface, error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return eExit_Bus;
    }

    const MessageFormatter formatter(_definitions);
    const int mark = session.mark();
    QElapsedTimer clock;
    clock.start();
    const Sequence sequence = session.send(definition->id, payload, true);
    if (sequence == 0) {
        Console::err(QStringLiteral("rararoz-peer: the frames could not be written to %1").arg(_options.interface));
        return eExit_Bus;
    }
    ReceivedMessage sent;
    sent.timeUs = PeerBus::nowUs();
    sent.channel = Can::eChlid_UI_TD;
    sent.sequence = sequence;
    sent.id = definition->id;
    sent.payload = payload;
    Console::out(QStringLiteral("sent      ") + formatter.line(sent));

    const auto isResponse = [definition](const ReceivedMessage &message) {
        return message.channel == Can::eChlid_TD_UI && message.id == definition->responseId;
    };
    const auto isAck = [sequence](const ReceivedMessage &message) {
        return PeerSession::isAcknowledgement(message) && message.sequence == -sequence;
    };
    bool ackShown = false;
    bool responseShown = false;
    const auto showArrivals = [&] {
        if (!ackShown) {
            const int at = session.find(mark, isAck);
            if (at >= 0) {
                Console::out(QStringLiteral("ack       ") + formatter.line(session.history().at(at)) +
                             QStringLiteral("  (%1 ms)").arg(clock.elapsed()));
                ackShown = true;
            }
        }
        if (definition->hasResponse && !responseShown) {
            const int at = session.find(mark, isResponse);
            if (at >= 0) {
                Console::out(QStringLiteral("response  ") + formatter.line(session.history().at(at)) +
                             QStringLiteral("  (%1 ms)").arg(clock.elapsed()));
                responseShown = true;
            }
        }
        return ackShown && (responseShown || !definition->hasResponse);
    };
    session.waitFor(showArrivals, _options.timeoutMs);
    if (session.isStopped())
        return eExit_Interrupted;

    int exitCode = eExit_Ok;
    if (!ackShown) {
        Console::err(QStringLiteral("rararoz-peer: no acknowledgement of sequence %1 within %2 ms")
                         .arg(sequence)
                         .arg(_options.timeoutMs));
        exitCode = eExit_Failed;
    }
    if (definition->hasResponse && !responseShown) {
        Console::err(QStringLiteral("rararoz-peer: no response %1 within %2 ms")
                         .arg(response ? response->name : MessageFormatter::idText(definition->responseId))
                         .arg(_options.timeoutMs));
        exitCode = eExit_Failed;
    }
    return exitCode;
}
