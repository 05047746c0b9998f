#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>

#include <memory>

#include "peer/CheckCommand.h"
#include "peer/Console.h"
#include "peer/DecodeCommand.h"
#include "peer/ExitCode.h"
#include "peer/MessageDefinitions.h"
#include "peer/MonitorCommand.h"
#include "peer/PeerOptions.h"
#include "peer/PlotCommand.h"
#include "peer/RawFrame.h"
#include "peer/RunCommand.h"
#include "peer/SendCommand.h"

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

int runCommand(const MessageDefinitions &definitions, const PeerOptions &options)
{
    switch (options.command) {
    case PeerOptions::Monitor:
        return MonitorCommand(definitions, options).run();
    case PeerOptions::Send:
        return SendCommand(definitions, options).run();
    case PeerOptions::Walkthrough:
    case PeerOptions::RunScenarios:
        return RunCommand(definitions, options).run();
    case PeerOptions::CheckScenarios:
        return CheckCommand(definitions, options).run();
    case PeerOptions::Decode:
        return DecodeCommand(definitions, options).run();
    case PeerOptions::Plot:
        return PlotCommand(definitions, options).run();
    case PeerOptions::None:
        break;
    }
    return eExit_Usage;
}

QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char **argv)
{
    // The command decides the kind of application: the plot draws with Qt
    // Charts, which needs widgets (offscreen unless a display is asked for).
    PeerOptions options;
    const PeerOptions::Outcome outcome = options.parse(argumentsOf(argc, argv));
    const bool draws = outcome == PeerOptions::Run && options.command == PeerOptions::Plot;
    if (draws && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> application(draws ? new QApplication(argc, argv)
                                                        : new QCoreApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("rararoz-peer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RARAROZ_PEER_VERSION));
    qRegisterMetaType<RawFrame>();
    // The bus plug-ins narrate their connections on standard error; the tool
    // reports what matters itself and keeps its output clean.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.*=false"));

    switch (outcome) {
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
    return runCommand(definitions, options);
}
