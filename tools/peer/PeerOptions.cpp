#include "PeerOptions.h"

#include <QCommandLineParser>

namespace {

struct OptionText {
    const char *names;
    const char *value;
    const char *text;
};

// Kept in one table so that the parser and --help never disagree.
constexpr OptionText kOptions[] = {
    {"can-plugin", "plugin", "Qt CAN bus plug-in to join the bus through. Default: virtualcan."},
    {"A|interface", "name", "CAN interface (or virtualcan URL). Default: can0."},
    {"definitions", "file",
     "Message definitions file. Default: the first that exists of <settings-path>/"
     "Messages/Peer.conf, ./config/Messages/Peer.conf, the source tree's "
     "config/Messages/Peer.conf and /opt/talvo/configurations/Messages/Peer.conf."},
    {"settings-path", "folder", "Configuration folder to look for Messages/Peer.conf in first."},
    {"only", "list",
     "monitor: show only these messages: names, hexadecimal identifiers or name "
     "patterns with * and ?, comma-separated; may be repeated."},
    {"except", "list", "monitor: hide these messages (same forms as --only)."},
    {"raw", nullptr,
     "monitor: print frames in the candump log form '(seconds.micros) can0 041#A5...' "
     "instead of decoded messages."},
    {"duration", "seconds", "monitor: stop after this many seconds. Default: run until Ctrl-C."},
    {"timeout", "ms",
     "send, walkthrough: how long to wait for each acknowledgement and response. "
     "Default: 2000."},
    {"join-timeout", "seconds",
     "walkthrough: how long to check in before the service must have "
     "answered. Default: 30."},
    {"keep-going", nullptr, "walkthrough: go on after a failed step (the exit status still reports it)."},
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
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("monitor, send or walkthrough."),
                                 QStringLiteral("<command>"));
    parser.addPositionalArgument(QStringLiteral("arguments"),
                                 QStringLiteral("send: the message's name or identifier and its field values."),
                                 QStringLiteral("[arguments...]"));
    return parser;
}

} // namespace

QString PeerOptions::description()
{
    return QStringLiteral(
        "rararoz-peer joins the CAN bus as the UI board and talks to the RarAroz service.\n"
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
        "  walkthrough                    Act as the UI for a whole demonstration treatment, one line per\n"
        "                                 step, checking in every second; ends in Standby.\n"
        "\n"
        "Exit status: 0 success; 1 a missing or unexpected answer (a failed step); 2 a usage error\n"
        "(unknown command, option or message, bad value, unreadable definitions); 3 the bus could not\n"
        "be opened or was lost; 130 interrupted (monitor: 0).\n"
        "\n"
        "Examples:\n"
        "  rararoz-peer monitor --except ID_TD_PRESSURE_DATA,ID_ALARM_STATUS_DATA\n"
        "  rararoz-peer monitor --raw -A can0 --can-plugin socketcan > trace.log\n"
        "  rararoz-peer send ID_INITIATE_TREATMENT 1\n"
        "  rararoz-peer send 7600 durationMin=240\n"
        "  rararoz-peer walkthrough");
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

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        _error = QStringLiteral("no command given (monitor, send or walkthrough; see --help)");
        return Error;
    }
    const QString name = positional.takeFirst();
    if (name == QLatin1String("monitor"))
        command = Monitor;
    else if (name == QLatin1String("send"))
        command = Send;
    else if (name == QLatin1String("walkthrough"))
        command = Walkthrough;
    else {
        _error = QStringLiteral("unknown command '%1' (monitor, send or walkthrough)").arg(name);
        return Error;
    }
    arguments = positional;
    if (command == Send && arguments.isEmpty()) {
        _error = QStringLiteral("send needs a message name or identifier");
        return Error;
    }
    if (command != Send && !arguments.isEmpty()) {
        _error = QStringLiteral("%1 takes no arguments, got '%2'").arg(name, arguments.first());
        return Error;
    }

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

    bool ok = true;
    if (parser.isSet(QStringLiteral("duration"))) {
        durationS = parser.value(QStringLiteral("duration")).toDouble(&ok);
        if (!ok || durationS <= 0) {
            _error = QStringLiteral("--duration needs a positive number of seconds");
            return Error;
        }
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        timeoutMs = parser.value(QStringLiteral("timeout")).toInt(&ok);
        if (!ok || timeoutMs <= 0) {
            _error = QStringLiteral("--timeout needs a positive number of milliseconds");
            return Error;
        }
    }
    if (parser.isSet(QStringLiteral("join-timeout"))) {
        joinTimeoutS = parser.value(QStringLiteral("join-timeout")).toInt(&ok);
        if (!ok || joinTimeoutS <= 0) {
            _error = QStringLiteral("--join-timeout needs a positive number of seconds");
            return Error;
        }
    }
    if (command != Monitor && (raw || !only.isEmpty() || !except.isEmpty() || durationS > 0)) {
        _error = QStringLiteral("--raw, --only, --except and --duration belong to monitor");
        return Error;
    }
    return Run;
}

QString PeerOptions::usage()
{
    QCommandLineParser parser;
    return setUp(parser).helpText();
}
