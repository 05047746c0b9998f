#include "peer/PeerOptions.h"

#include <QCommandLineParser>

#include "peer/TreatmentPlot.h"

namespace {

struct CommandText {
    const char *name;
    PeerOptions::Command command;
    int leastArguments;
    bool takesArguments;
};

constexpr CommandText kCommands[] = {
    {"monitor", PeerOptions::Monitor, 0, false},
    {"send", PeerOptions::Send, 1, true},
    {"walkthrough", PeerOptions::Walkthrough, 0, false},
    {"run", PeerOptions::RunScenarios, 1, true},
    {"check", PeerOptions::CheckScenarios, 1, true},
    {"decode", PeerOptions::Decode, 0, true},
    {"plot", PeerOptions::Plot, 0, true},
};
constexpr char kCommandList[] = "monitor, send, walkthrough, run, check, decode or plot";

// The commands an option is for; an option without any is for all.
enum : unsigned {
    kAll = 0,
    kMonitor = 1u << PeerOptions::Monitor,
    kSend = 1u << PeerOptions::Send,
    kWalkthrough = 1u << PeerOptions::Walkthrough,
    kRun = 1u << PeerOptions::RunScenarios,
    kDecode = 1u << PeerOptions::Decode,
    kPlot = 1u << PeerOptions::Plot,
};

struct OptionText {
    const char *names;
    const char *value;
    const char *text;
    unsigned commands;
};

// Kept in one table so that the parser and --help never disagree.
constexpr OptionText kOptions[] = {
    {"can-plugin", "plugin", "Qt CAN bus plug-in to join the bus through. Default: virtualcan.", kAll},
    {"A|interface", "name", "CAN interface (or virtualcan URL). Default: can0.", kAll},
    {"definitions", "file",
     "Message definitions file. Default: the first that exists of <settings-path>/"
     "Messages/Peer.conf, ./config/Messages/Peer.conf, the source tree's "
     "config/Messages/Peer.conf and /opt/talvo/configurations/Messages/Peer.conf.",
     kAll},
    {"settings-path", "folder",
     "Configuration folder to look for Messages/Peer.conf (and the walkthrough's "
     "Scenarios/demo.scenario) in first.",
     kAll},
    {"only", "list",
     "monitor, decode: show only these messages: names, hexadecimal identifiers or name "
     "patterns with * and ?, comma-separated; may be repeated.",
     kMonitor | kDecode},
    {"except", "list", "monitor, decode: hide these messages (same forms as --only).", kMonitor | kDecode},
    {"raw", nullptr,
     "monitor: print frames in the candump log form '(seconds.micros) can0 041#A5...' "
     "instead of decoded messages.",
     kMonitor},
    {"duration", "seconds", "monitor: stop after this many seconds. Default: run until Ctrl-C.", kMonitor},
    {"timeout", "ms",
     "send, walkthrough, run: how long to wait for each acknowledgement and response. "
     "Default: 2000.",
     kSend | kWalkthrough | kRun},
    {"join-timeout", "seconds",
     "walkthrough, run: how long to check in before the service must have "
     "answered. Default: 30.",
     kWalkthrough | kRun},
    {"keep-going", nullptr, "walkthrough, run: go on after a failed step (the exit status still reports it).",
     kWalkthrough | kRun},
    {"junit", "file", "walkthrough, run: also write the run as a JUnit XML report, one test case per step.",
     kWalkthrough | kRun},
    {"o|output", "file", "plot: the image to write, PNG or SVG by its extension.", kPlot},
};

QCommandLineParser &setUp(QCommandLineParser &parser)
{
    parser.setApplicationDescription(PeerOptions::description());
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionText &option : kOptions) {
        QCommandLineOption o(QString::fromLatin1(option.names).split(QLatin1Char('|')),
                             QString::fromLatin1(option.text));
        if (option.value)
            o.setValueName(QString::fromLatin1(option.value));
        parser.addOption(o);
    }
    parser.addPositionalArgument(QStringLiteral("command"), QString::fromLatin1(kCommandList) + QLatin1Char('.'),
                                 QStringLiteral("<command>"));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("send: the message's name or identifier and its field values; "
                                                "run, check: scenario files; decode, plot: candump traces."),
                                 QStringLiteral("[arguments...]"));
    return parser;
}

// The option's long name, as --help shows it.
QString longName(const OptionText &option)
{
    return QString::fromLatin1(option.names).split(QLatin1Char('|')).last();
}

QString commandsOf(unsigned mask)
{
    QStringList names;
    for (const CommandText &command : kCommands)
        if (mask & (1u << command.command))
            names << QLatin1String(command.name);
    return names.join(QStringLiteral(" and "));
}

} // namespace

QString PeerOptions::description()
{
    return QStringLiteral(
        "rararoz-peer joins the CAN bus as the UI board and talks to the RarAroz service, runs scenario\n"
        "files against it, and reads traces of a bus afterwards.\n"
        "\n"
        "Commands:\n"
        "  monitor                        Print every complete message on the bus, one line each: time,\n"
        "                                 CAN id, sender->receiver, sequence, identifier and name, and the\n"
        "                                 payload field by field. Unknown identifiers print in hexadecimal;\n"
        "                                 CRC failures and broken frames are shown as such.\n"
        "  send <name-or-id> [values...]  Send one request with an acknowledgement-requesting (negative)\n"
        "                                 sequence, wait for the acknowledgement and the response and print\n"
        "                                 both. Values go in field order, or as field=value in any order;\n"
        "                                 a negative value needs the field=value form (or '--' before it).\n"
        "                                 Values are checked against the field types before anything is\n"
        "                                 sent. Messages without a response wait for the acknowledgement.\n"
        "  run <file>...                  Act as the UI along scenario files (see the README's \"Writing a\n"
        "                                 scenario\"), one line per step, checking in every second. Every\n"
        "                                 file is checked before anything is sent.\n"
        "  walkthrough                    Run the shipped demo scenario (Scenarios/demo.scenario of the\n"
        "                                 configuration): a whole demonstration treatment, ending in Standby.\n"
        "  check <file>...                Check scenario files against the message definitions without a\n"
        "                                 bus; prints each problem as file:line: message.\n"
        "  decode [<file>...]             Print the monitor's lines for the messages in candump traces, in\n"
        "                                 the log form (monitor --raw, candump -L) or candump's screen form;\n"
        "                                 standard input when no file (or '-') is given.\n"
        "  plot [<file>...] -o <image>    Draw the treatment in a candump trace with its times: pressures\n"
        "                                 with their limits, flows, ultrafiltration and the treatment state\n"
        "                                 over time, as a PNG or SVG image.\n"
        "\n"
        "Exit status: 0 success; 1 a missing or unexpected answer (a failed step), or a trace line that\n"
        "could not be read; 2 a usage error (unknown command, option or message, bad value, a problem in\n"
        "a scenario, unreadable definitions or file); 3 the bus could not be opened or was lost;\n"
        "130 interrupted (monitor: 0).\n"
        "\n"
        "Examples:\n"
        "  rararoz-peer monitor --except ID_TD_PRESSURE_DATA,ID_ALARM_STATUS_DATA\n"
        "  rararoz-peer monitor --raw -A can0 --can-plugin socketcan > trace.log\n"
        "  rararoz-peer send ID_INITIATE_TREATMENT 1\n"
        "  rararoz-peer send 7600 durationMin=240\n"
        "  rararoz-peer run my-alarms.scenario --junit report.xml\n"
        "  rararoz-peer walkthrough\n"
        "  rararoz-peer check config/Scenarios/*.scenario\n"
        "  candump -L can0 | rararoz-peer decode --only '*ALARM*'\n"
        "  rararoz-peer plot trace.log -o treatment.png");
}

PeerOptions::Outcome PeerOptions::parse(const QStringList &argv)
{
    QCommandLineParser parser;
    setUp(parser);
    if (!parser.parse(argv)) {
        _error = parser.errorText();
        return Error;
    }
    if (parser.isSet(QStringLiteral("help")))
        return ShowHelp;
    if (parser.isSet(QStringLiteral("version")))
        return ShowVersion;

    if (!takeCommand(parser.positionalArguments()) || !optionsBelong(parser))
        return Error;

    if (parser.isSet(QStringLiteral("can-plugin")))
        plugin = parser.value(QStringLiteral("can-plugin"));
    if (parser.isSet(QStringLiteral("interface")))
        interface = parser.value(QStringLiteral("interface"));
    definitions = parser.value(QStringLiteral("definitions"));
    settingsPath = parser.value(QStringLiteral("settings-path"));
    only = parser.values(QStringLiteral("only"));
    except = parser.values(QStringLiteral("except"));
    raw = parser.isSet(QStringLiteral("raw"));
    keepGoing = parser.isSet(QStringLiteral("keep-going"));
    junit = parser.value(QStringLiteral("junit"));
    output = parser.value(QStringLiteral("output"));
    if (command == Plot && output.isEmpty()) {
        _error = QStringLiteral("plot needs the image to write: -o <file>.png or .svg");
        return Error;
    }
    if (command == Plot && !TreatmentPlot::isKnownFormat(output)) {
        _error = QStringLiteral("plot writes PNG or SVG: '%1' ends in neither .png nor .svg").arg(output);
        return Error;
    }

    return takeNumbers(parser) ? Run : Error;
}

bool PeerOptions::takeCommand(QStringList positional)
{
    if (positional.isEmpty()) {
        _error = QStringLiteral("no command given (%1; see --help)").arg(QLatin1String(kCommandList));
        return false;
    }
    const QString name = positional.takeFirst();
    const CommandText *found = nullptr;
    for (const CommandText &c : kCommands)
        if (name == QLatin1String(c.name))
            found = &c;
    if (!found) {
        _error = QStringLiteral("unknown command '%1' (%2)").arg(name, QLatin1String(kCommandList));
        return false;
    }
    command = found->command;
    arguments = positional;
    if (arguments.size() < found->leastArguments) {
        _error = command == Send ? QStringLiteral("send needs a message name or identifier")
                                 : QStringLiteral("%1 needs at least one file").arg(name);
        return false;
    }
    if (!found->takesArguments && !arguments.isEmpty()) {
        _error = QStringLiteral("%1 takes no arguments, got '%2'").arg(name, arguments.first());
        return false;
    }
    return true;
}

bool PeerOptions::optionsBelong(const QCommandLineParser &parser)
{
    for (const OptionText &option : kOptions) {
        if (option.commands != kAll && !(option.commands & (1u << command)) && parser.isSet(longName(option))) {
            _error = QStringLiteral("--%1 is for %2").arg(longName(option), commandsOf(option.commands));
            return false;
        }
    }
    return true;
}

bool PeerOptions::takeNumbers(const QCommandLineParser &parser)
{
    bool ok = true;
    if (parser.isSet(QStringLiteral("duration"))) {
        durationS = parser.value(QStringLiteral("duration")).toDouble(&ok);
        if (!ok || durationS <= 0) {
            _error = QStringLiteral("--duration needs a positive number of seconds");
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        timeoutMs = parser.value(QStringLiteral("timeout")).toInt(&ok);
        if (!ok || timeoutMs <= 0) {
            _error = QStringLiteral("--timeout needs a positive number of milliseconds");
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("join-timeout"))) {
        joinTimeoutS = parser.value(QStringLiteral("join-timeout")).toInt(&ok);
        if (!ok || joinTimeoutS <= 0) {
            _error = QStringLiteral("--join-timeout needs a positive number of seconds");
            return false;
        }
    }
    return true;
}

QString PeerOptions::usage()
{
    QCommandLineParser parser;
    return setUp(parser).helpText();
}
