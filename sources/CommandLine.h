#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Process-wide option flags: set once on the main thread by commandlineParse()
// before any service starts, read-only afterwards.
extern bool gConsoleoutCanInterface;
extern bool gConsoleoutFrameInterface;
extern bool gConsoleoutLogs;
extern bool gSendEmptyKeepAwake;
extern int gFakeInterval;
extern QByteArray gFakeData;
extern const char *gFakeData_default;
extern bool gFakeSeqAtBegin;
extern bool gDisableUnhandledReport;
extern bool gDisableOrvaneUnhandled;
extern bool gDisableTimeout;
extern bool gDisableAlarmNoMinimize;
extern bool gDisableSDCFailLogStop;
extern bool gDisableCloudSyncFailStop;
extern bool gDisableCheckInLog;
extern bool gDisableAcknowLog;
extern bool gEnableRarAroz;
extern bool gEnableManufacturing;
extern bool gEnableUpdating;
extern bool gUseRootHome;
extern bool gLogLongName;
extern bool gLogUpload;
extern bool gLogCompress;
extern bool gLogUnhandledOnly;
extern QString gActiveCANBus;
extern QString gParserErrorText;

// Options for machines without SocketCAN, SD card or installed configuration.
extern QString gCanPlugin;    // Qt CAN bus plug-in, "socketcan" by default
extern QString gSettingsPath; // configuration folder; empty: the standard one
extern QString gLogPath;      // base folder of log/ and service/; empty: SD card or /tmp

// Fills the option flags from the application's arguments; never ends the
// process on a parse error (help and version do end it, as usual).
void commandlineParse();
void commandlineParse(const QStringList &arguments);

// Puts every option flag back to its default.
void resetOptions();

// The version composition rule, on its own so that it can be checked.
QString composeVersion(QString major, QString minor, QString micro, QString build, QString branch, int revision);
void setApplicationVersion();
