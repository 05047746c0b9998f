#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>

#include "buildinfo.h"

bool gConsoleoutCanInterface;
bool gConsoleoutFrameInterface;
bool gConsoleoutLogs;
bool gSendEmptyKeepAwake;
int gFakeInterval;
QByteArray gFakeData;
const char *gFakeData_default = "00";
bool gFakeSeqAtBegin;
bool gDisableUnhandledReport;
bool gDisableOrvaneUnhandled;
bool gDisableTimeout;
bool gDisableAlarmNoMinimize;
bool gDisableSDCFailLogStop;
bool gDisableCloudSyncFailStop;
bool gDisableCheckInLog;
bool gDisableAcknowLog;
bool gEnableRarAroz;
bool gEnableManufacturing;
bool gEnableUpdating;
bool gUseRootHome;
bool gLogLongName;
bool gLogUpload;
bool gLogCompress;
bool gLogUnhandledOnly;
QString gActiveCANBus = QStringLiteral("can0");
QString gParserErrorText;
QString gCanPlugin = QStringLiteral("socketcan");
QString gSettingsPath;
QString gLogPath;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("main", text);
}

// A plain on/off option and the flag it sets; table order is the parser's order.
struct Switch {
    const char *shortName;
    const char *longName;
    const char *help;
    bool *flag;
};

const Switch switchesBeforeFake[] = {
    {"c", "canOut", "Show the Can Frame Output", &gConsoleoutCanInterface},
    {"m", "msgOut", "Show the Message Output", &gConsoleoutFrameInterface},
    {"l", "logOut", "Show the Logs Output", &gConsoleoutLogs},
    {"0", "enable-keep-awake",
     "Enable send low priority, empty message on the CANBus just to keep UI board CAN driver awake",
     &gSendEmptyKeepAwake},
};

const Switch switchesAfterFake[] = {
    {"u", "disable-unhandled-report", "Disable unhandled messages report as an error in the log",
     &gDisableUnhandledReport},
    {"d", "disable-orvane-unhandled", "Disable the Orvane messages logged as unhandled", &gDisableOrvaneUnhandled},
    {"q", "disable-timeout", "Disables HD communication timeout", &gDisableTimeout},
    {"a", "disable-alarm-no-minimize", "Disables alarm no minimize", &gDisableAlarmNoMinimize},
    {"S", "disable-sd-card-fail-log-stop", "disable-sd-card-fail-log-stop", &gDisableSDCFailLogStop},
    {"C", "disable-cloudsync-fail-stop", "disable-cloudsync-fail-stop", &gDisableCloudSyncFailStop},
    {"k", "disable-check-in-log", "Disables Check-In Log", &gDisableCheckInLog},
    {"K", "disable-acknow-log", "Disables Acknowledgment Log", &gDisableAcknowLog},
    {"D", "enable-dry-demo", "Enables Dry-Demo Mode", &gEnableRarAroz},
};

const Switch switchesAfterBus[] = {
    {"E", "enable-manufacturing", "Enables the manufacturing mode to configure the system for the first time.",
     &gEnableManufacturing},
    {"R", "use-root-home",
     "In case the application is not in Manufacturing Setup but needs to use root home folder for configurations.",
     &gUseRootHome},
    {"U", "enable-update-mode",
     "Enables the update mode to update only necessary files during the update and keep the rest.", &gEnableUpdating},
    {"x", "use-log-long-name", "Use the log long file name format\n<date>_<time>_<serial>_<mode>", &gLogLongName},
    {"y", "use-log-cloud-upload", "Use the log cloud upload", &gLogUpload},
    {"z", "use-log-compression", "Use the log compression", &gLogCompress},
    {"L", "use-log-unhandled-only", "Use the unhandled messages only to log", &gLogUnhandledOnly},
};

QCommandLineOption switchOption(const Switch &s)
{
    return QCommandLineOption(QStringList{s.shortName, s.longName}, tr(s.help));
}

QCommandLineOption valueOption(const char *shortName, const char *longName, const char *help, const char *valueName)
{
    QStringList names;
    if (shortName)
        names << shortName;
    names << longName;
    return QCommandLineOption(names, tr(help), tr(valueName));
}

template <std::size_t N> void addSwitches(QCommandLineParser &parser, const Switch (&table)[N])
{
    for (const Switch &s : table)
        parser.addOption(switchOption(s));
}

template <std::size_t N> void readSwitches(const QCommandLineParser &parser, const Switch (&table)[N])
{
    for (const Switch &s : table)
        if (parser.isSet(QString::fromLatin1(s.longName)))
            *s.flag = true;
}

QString asFolder(QString path)
{
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

void printParseFailure(const QString &error, const QStringList &arguments)
{
    qDebug().noquote().nospace() << "------------------------------"
                                 << "\n"
                                 << error << "\n"
                                 << "Command Line Parser failed !!!"
                                 << "\n"
                                 << arguments.join(QLatin1Char(' ')) << "\n"
                                 << "------------------------------";
}

} // namespace

void resetOptions()
{
    auto clear = [](auto &table) {
        for (const Switch &s : table)
            *s.flag = false;
    };
    clear(switchesBeforeFake);
    clear(switchesAfterFake);
    clear(switchesAfterBus);
    gFakeInterval = 0;
    gFakeData.clear();
    gFakeSeqAtBegin = false;
    gActiveCANBus = QStringLiteral("can0");
    gParserErrorText.clear();
    gCanPlugin = QStringLiteral("socketcan");
    gSettingsPath.clear();
    gLogPath.clear();
}

void commandlineParse()
{
    commandlineParse(QCoreApplication::arguments());
}

void commandlineParse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::applicationName());
    parser.addHelpOption();
    parser.addVersionOption();

    addSwitches(parser, switchesBeforeFake);
    const QCommandLineOption fakeInterval =
        valueOption("i", "fake-interval", "Test fake message interval(ms)", "interval");
    const QCommandLineOption fakeMessage =
        valueOption("f", "fake-message",
                    "Test fake message data\nwill use default sequenced long fake message if set to 00(default)\n"
                    "will used only if correct integer value assigned for interval option",
                    "data");
    const QCommandLineOption fakeSeqAtBegin(QStringList{"b", "fake-message-seq-at-begin"},
                                            tr("Test fake message sequence at the beginning of the frame"));
    parser.addOption(fakeInterval);
    parser.addOption(fakeMessage);
    parser.addOption(fakeSeqAtBegin);
    addSwitches(parser, switchesAfterFake);
    const QCommandLineOption activeBus =
        valueOption("A", "active-can-bus", "Sets the Active CANBus [Shall start with 'can' or 'vcan]", "CANBus");
    parser.addOption(activeBus);
    addSwitches(parser, switchesAfterBus);

    const QCommandLineOption canPlugin = valueOption(
        nullptr, "can-plugin",
        "Qt CAN bus plug-in that opens the active CANBus (default socketcan; virtualcan is Qt's CAN bus over "
        "TCP on localhost for machines without CAN hardware, interfaces can0 and can1)",
        "plugin");
    const QCommandLineOption settingsPath =
        valueOption(nullptr, "settings-path",
                    "Folder the configuration files are read from (default /opt/talvo/configurations/)", "folder");
    const QCommandLineOption logPath =
        valueOption(nullptr, "log-path",
                    "Base folder of the log/ and service/ log folders (default the SD card, else /tmp)", "folder");
    parser.addOption(canPlugin);
    parser.addOption(settingsPath);
    parser.addOption(logPath);

    const bool parsed = parser.parse(arguments);
    // Where the bus, the configuration and the logs are is kept even when
    // another option fails: one typo must not move the logs or the bus.
    if (parser.isSet(canPlugin) && !parser.value(canPlugin).isEmpty())
        gCanPlugin = parser.value(canPlugin);
    gSettingsPath = asFolder(parser.value(settingsPath));
    gLogPath = asFolder(parser.value(logPath));
    if (!parsed) {
        gParserErrorText = parser.errorText();
        printParseFailure(gParserErrorText, arguments);
        return;
    }
    parser.process(arguments);

    readSwitches(parser, switchesBeforeFake);
    readSwitches(parser, switchesAfterFake);
    readSwitches(parser, switchesAfterBus);

    qDebug().noquote() << "\n---------- x:" << gLogLongName;
    qDebug().noquote() << "\n---------- y:" << gLogUpload;
    qDebug().noquote() << "\n---------- z:" << gLogCompress;

    if (gLogUnhandledOnly) {
        qDebug().noquote() << "**********************************************************";
        qDebug().noquote() << "********** SYSTEM IS IN UNHANDLED LOG ONLY MODE **********";
        qDebug().noquote() << "**********************************************************";
    }

    if (parser.isSet(activeBus)) {
        const QString bus = parser.value(activeBus);
        if (!bus.startsWith(QLatin1Char('-')) &&
            (bus.startsWith(QLatin1String("can")) || bus.startsWith(QLatin1String("vcan"))))
            gActiveCANBus = bus;
    }
    qDebug().noquote() << "CAN int" << gActiveCANBus;

    if (parser.isSet(QStringLiteral("enable-keep-awake")))
        gSendEmptyKeepAwake = true;

    if (parser.isSet(fakeInterval)) {
        bool ok = false;
        const int interval = parser.value(fakeInterval).toInt(&ok, 10);
        if (ok) {
            // No timer runs at zero or less: that is test mode off.
            if (interval > 0)
                gFakeInterval = interval;
            else
                qDebug().noquote() << QStringLiteral("Test fake message interval %1 ignored: the test mode needs "
                                                     "an interval above 0 ms")
                                          .arg(interval);
            gFakeData =
                parser.isSet(fakeMessage) ? parser.value(fakeMessage).toLatin1() : QByteArray(gFakeData_default);
            if (parser.isSet(fakeSeqAtBegin))
                gFakeSeqAtBegin = true;
            gFakeData = QByteArray::fromHex(gFakeData);
        }
    }
}

QString composeVersion(QString major, QString minor, QString micro, QString build, QString branch, int revision)
{
    bool numbered = true;
    if (build.isEmpty()) {
        build = QStringLiteral("08121702");
        numbered = false;
    }
    const bool official = branch.startsWith(QLatin1String("release/")) || branch == QLatin1String("master") ||
                          branch == QLatin1String("staging") || branch == QLatin1String("develop");
    QString suffix;
    if (official && numbered) {
        if (branch == QLatin1String("master")) {
            branch.clear();
        } else if (branch.startsWith(QLatin1String("release/"))) {
            branch.remove(0, int(qstrlen("release/")));
            const QStringList parts = branch.split(QLatin1Char('/'));
            if (parts.size() >= 2) {
                branch = parts.at(0).toUpper();
                if (parts.at(1) != QLatin1String("master"))
                    suffix = QLatin1Char('-') + parts.at(1);
            }
        }
        major += QLatin1Char('.');
        minor += QLatin1Char('.');
        micro += QLatin1Char('.');
    }
    if (!branch.isEmpty())
        branch += QLatin1Char('-');
    const QString revisionText = QStringLiteral("-%1").arg(revision);
    return branch + major + minor + micro + build + revisionText + suffix;
}

void setApplicationVersion()
{
    QCoreApplication::setApplicationVersion(
        composeVersion(QStringLiteral(RARAROZ_VERSION_MAJOR), QStringLiteral(RARAROZ_VERSION_MINOR),
                       QStringLiteral(RARAROZ_VERSION_MICRO), QStringLiteral(RARAROZ_VERSION_BUILD),
                       QStringLiteral(RARAROZ_BRANCH), RARAROZ_REVISION));
}
