#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>

#include "Console.h"
#include "ExitCode.h"
#include "MessageDefinitions.h"
#include "MonitorCommand.h"
#include "PeerOptions.h"
#include "PeerSession.h"
#include "SendCommand.h"
#include "SignalWatcher.h"
#include "Walkthrough.h"

namespace {

bool loadDefinitions(const PeerOptions &options, MessageDefinitions &definitions)
{
    QString error;
    if (!options.definitions.isEmpty()) {
        if (definitions.load(options.definitions, error))
            return true;
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return false;
    }
    const QStringList locations = MessageDefinitions::defaultLocations(options.settingsPath);
    for (const QString &location : locations) {
        if (!QFileInfo::exists(location))
            continue;
        if (definitions.load(location, error))
            return true;
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return false;
    }
    Console::err(QStringLiteral("rararoz-peer: no message definitions found (looked for %1); give --definitions")
                     .arg(locations.join(QStringLiteral(", "))));
    return false;
}

int runWalkthrough(const MessageDefinitions &definitions, const PeerOptions &options)
{
    SignalWatcher signalWatcher;
    PeerSession session;
    QObject::connect(&signalWatcher, &SignalWatcher::interrupted, &session, [&session] { session.stop(); });
    QString error;
    if (!session.open(options.plugin, options.interface, error)) {
        Console::err(QStringLiteral("rararoz-peer: ") + error);
        return eExit_Bus;
    }
    Walkthrough walkthrough(session, definitions, options);
    return walkthrough.run();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rararoz-peer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RARAROZ_PEER_VERSION));
    qRegisterMetaType<RawFrame>();
    // The bus plug-ins narrate their connections on standard error; the tool
    // reports what matters itself and keeps its output clean.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.*=false"));

    PeerOptions options;
    switch (options.parse(QCoreApplication::arguments())) {
    case PeerOptions::ShowHelp:
        Console::out(PeerOptions::usage());
        return eExit_Ok;
    case PeerOptions::ShowVersion:
        Console::out(QStringLiteral("rararoz-peer ") + QCoreApplication::applicationVersion());
        return eExit_Ok;
    case PeerOptions::Error:
        Console::err(QStringLiteral("rararoz-peer: ") + options.error());
        return eExit_Usage;
    case PeerOptions::Run:
        break;
    }

    MessageDefinitions definitions;
    if (!loadDefinitions(options, definitions))
        return eExit_Usage;

    switch (options.command) {
    case PeerOptions::Monitor:
        return MonitorCommand(definitions, options).run();
    case PeerOptions::Send:
        return SendCommand(definitions, options).run();
    case PeerOptions::Walkthrough:
        return runWalkthrough(definitions, options);
    case PeerOptions::None:
        break;
    }
    return eExit_Usage;
}
