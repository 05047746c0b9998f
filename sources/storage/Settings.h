#pragma once

#include <QString>

namespace Storage {

// Finds, reads and parses the configuration files into the settings model.
// Static operations only; the load runs once, on a pool thread, after the
// self test.
class Settings
{
public:
    Settings() = delete;

    enum Category_Enum {
        eSettingsSystem = 0,
        eInstructions,
        eParametersDataList,
        eAlarms,
        eEvents,
        eRejects,
        eMessagesUnhandled,
        eGenericConfirm,
        eTranslation,
        eConfigurationsLocale,
    };

    enum Location_Enum { eInit, eSecured };

    enum Settings_Error {
        eError_None = 0,
        eError_POST,
        eError_PathEmpty,
        eError_MkDir,
        eError_Write,
        eError_Read,
        eError_Empty,
        eError_Parse,
        eError_Copy,
        eError_Remove,
        eError_No_SettingsFolder,
        eError_No_SettingsFile,
        eError_SettingNotExists,
        eError_No_SettingsLocale,
        eError_Not_Writable,
        eError_TranslationNotExists,
    };

    struct Detail {
        QString category;
        QString location;
        QString content;
    };

    static int readConfigurations();
    static int readCategory(Category_Enum category);
    static bool parse(const Detail &detail);

    static QString category(Category_Enum category);
    static QString extension(Category_Enum category);
    static QString location(Location_Enum location);
    static QString fileName(Category_Enum category);
    static QString locale(Category_Enum category, bool separator);
    static QString errorMessage(int code, const QString &first = QString(), const QString &second = QString());
};

} // namespace Storage
