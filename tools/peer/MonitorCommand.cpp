#include "peer/MonitorCommand.h"

#include <QEventLoop>
#include <QTimer>

#include "peer/Console.h"
#include "peer/ExitCode.h"
#include "peer/MessageFilter.h"
#include "peer/MessageFormatter.h"
#include "peer/PeerSession.h"
#include "peer/SignalWatcher.h"

int MonitorCommand::run()
{
    MessageFilter filter;
    QString error;
    if (!filter.set(_definitions, _options.only, _options.except, error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return eExit_Usage;
    }

    SignalWatcher signalWatcher;
    PeerSession session;
    session.setKeepHistory(false);
    if (!session.open(_options.plugin, _options.interface, error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return eExit_Bus;
    }
    // On standard error, so that standard output stays a clean trace.
    Console::err(QStringLiteral("Monitoring %1 (%2) with %3; Ctrl-C stops.")
                     .arg(_options.interface, _options.plugin, _definitions.fileName()));

    const MessageFormatter formatter(_definitions);
    const QString interface = session.bus().interface();
    if (_options.raw && !filter.isActive()) {
        // Every frame as it arrives, keep-awake and garbage included.
        QObject::connect(&session, &PeerSession::frameReceived, [&interface](const RawFrame &frame) {
            Console::out(MessageFormatter::candump(frame, interface));
        });
    } else {
        QObject::connect(&session, &PeerSession::messageReceived, [&](const ReceivedMessage &message) {
            if (!filter.shows(message))
                return;
            if (!_options.raw) {
                Console::out(formatter.line(message));
                return;
            }
            for (const RawFrame &frame : message.frames)
                Console::out(MessageFormatter::candump(frame, interface));
        });
    }

    QEventLoop loop;
    int exitCode = eExit_Ok;
    QObject::connect(&signalWatcher, &SignalWatcher::interrupted, &loop, [&loop] { loop.quit(); });
    QObject::connect(&session.bus(), &PeerBus::failed, &loop, [&](const QString &why) {
        Console::err(QStringLiteral("rararoz-peer: the bus was lost: ") + why);
        exitCode = eExit_Bus;
        loop.quit();
    });
    if (_options.durationS > 0)
        QTimer::singleShot(int(_options.durationS * 1000), &loop, [&loop] { loop.quit(); });
    loop.exec();
    return exitCode;
}
