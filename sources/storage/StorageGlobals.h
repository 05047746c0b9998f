#pragma once

#include <QString>

// Storage-wide path constants shared by the logger, the start-up code and the
// configuration reader.
namespace Storage {

extern const char *SDCard_Base_Path_Name;
QString gStandard_tmp();
extern const char *Log_Folder_Base;
extern const char *Log_Folder_Application;
extern const char *Log_Folder_Service;
extern const char *Log_Folder_CloudSync;
extern const char *Txr_Folder_Treatment;

constexpr qint16 Log_Max_Allowable_AppED_Space_Percent = 50;
constexpr qint16 Log_Max_Allowable_Debug_Space_Percent = 15;
constexpr qint16 Log_Max_Allowable_Cloud_Space_Percent = 15;
constexpr qint16 Txr_Max_Allowable_Trtmt_Space_Percent = 50;

constexpr quint8 Log_Min_Available_Total_Space_Percent = 15;
constexpr quint8 Txr_Min_Available_Total_Space_Percent = 20;
inline bool Log_Min_Available_Total_Space_IsLow(quint8 percent)
{
    return percent < Log_Min_Available_Total_Space_Percent;
}
inline bool Txr_Min_Available_Total_Space_IsLow(quint8 percent)
{
    return percent < Txr_Min_Available_Total_Space_Percent;
}

extern const char *Settings_Path_Name;
extern const char *Settings_Path_Init;
extern const char *Device_Lockdown;

// The folder the configuration files are read from; --settings-path replaces it.
QString Settings_Path();
void Settings_Secured();
QString Configurations_Path();
QString Translations_Path();
QString Scripts_Path_Name();

} // namespace Storage
