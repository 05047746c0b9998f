#include "storage/StorageGlobals.h"

#include <QCoreApplication>

#include "CommandLine.h"

namespace Storage {

const char *SDCard_Base_Path_Name = "/media/sd-card/";
const char *Log_Folder_Base = SDCard_Base_Path_Name;
const char *Log_Folder_Application = "log/";
const char *Log_Folder_Service = "service/";
const char *Log_Folder_CloudSync = "cloudsync/log/";
const char *Txr_Folder_Treatment = "treatment/";
const char *Settings_Path_Name = "/opt/talvo/configurations/";
const char *Settings_Path_Init = "/home/root/.config/";
const char *Device_Lockdown = "lockdown.sh";

namespace {
bool gSettingsSecured = false;
}

QString gStandard_tmp()
{
    return QStringLiteral("/%1/").arg(QStringLiteral("tmp"));
}

QString Settings_Path()
{
    if (!gSettingsPath.isEmpty())
        return gSettingsPath;
    if (gUseRootHome)
        return Settings_Path_Init;
    if (!gEnableManufacturing && !gEnableUpdating)
        return Settings_Path_Name;
    return gSettingsSecured ? Settings_Path_Name : Settings_Path_Init;
}

void Settings_Secured()
{
    gSettingsSecured = true;
}

QString Configurations_Path()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

QString Translations_Path()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

QString Scripts_Path_Name()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/scripts/");
}

} // namespace Storage
