#include "storage/Settings.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include "storage/Logger.h"
#include "model/settings/MSettings.h"
#include "storage/StorageGlobals.h"

namespace Storage {

namespace {

struct CategoryInfo {
    const char *path;
    const char *extension;
    bool localized;
    enum Base { SettingsPath, TranslationsPath, ConfigurationsPath } base;
};

const CategoryInfo kCategories[] = {
    {"Settings/System", "conf", false, CategoryInfo::SettingsPath},
    {"Instructions/Instructions", "conf", true, CategoryInfo::SettingsPath},
    {"Parameters/DataList", "conf", true, CategoryInfo::SettingsPath},
    {"Alarms/Alarms", "conf", true, CategoryInfo::SettingsPath},
    {"Alarms/Events", "conf", true, CategoryInfo::SettingsPath},
    {"Alarms/Rejections", "conf", true, CategoryInfo::SettingsPath},
    {"Messages/Unhandled", "conf", false, CategoryInfo::SettingsPath},
    {"Confirm/Confirm", "conf", true, CategoryInfo::SettingsPath},
    {"translations/translation", "qm", true, CategoryInfo::TranslationsPath},
    {"settings/locale", "conf", false, CategoryInfo::ConfigurationsPath},
};

const char *const kErrorMessages[] = {
    "The configuration file '%1' successfully loaded,",
    "The configuration source check failed.",
    "The settings path is empty.",
    "The configuration folder '%1' cannot be created.",
    "The settings file %1 can't be written.",
    "The settings file %1 can't be read.",
    "The settings file %1 is empty.",
    "The settings file %1 parse error.",
    "The configuration folder '%1' cannot be copied.",
    "The configuration folder '%1' cannot be removed.",
    "No settings folder in the %1 path found.",
    "No settings file in the %1 folder found.",
    "The setting file %1 doesn't exists.",
    "The system locale not defined. The default en_US used.",
    "The setting file %1 is not writable.",
    "The translation file %1 doesn't exists.",
};

const CategoryInfo *info(Settings::Category_Enum category)
{
    const int index = int(category);
    if (index < 0 || index >= int(sizeof(kCategories) / sizeof(kCategories[0])))
        return nullptr;
    return &kCategories[index];
}

QString basePath(const CategoryInfo &category)
{
    switch (category.base) {
    case CategoryInfo::TranslationsPath:
        return Translations_Path();
    case CategoryInfo::ConfigurationsPath:
        return Configurations_Path();
    case CategoryInfo::SettingsPath:
        break;
    }
    return Settings_Path();
}

void logPost(const QString &message)
{
    Logger::I().didLog(QStringLiteral("POST,UI,") + message, Logger::eLogAppED, true);
}

const QString kAttributePrefix = QStringLiteral("#--");
const QString kDuplicateOn = QStringLiteral("#--duplicate_key_on");
const QString kDuplicateOff = QStringLiteral("#--duplicate_key_off");

} // namespace

QString Settings::category(Category_Enum category)
{
    const CategoryInfo *c = info(category);
    return c ? QString::fromLatin1(c->path) : QString();
}

QString Settings::extension(Category_Enum category)
{
    const CategoryInfo *c = info(category);
    return c ? QString::fromLatin1(c->extension) : QString();
}

QString Settings::location(Location_Enum location)
{
    return QString::fromLatin1(location == eInit ? Settings_Path_Init : Settings_Path_Name);
}

QString Settings::locale(Category_Enum category, bool separator)
{
    const CategoryInfo *c = info(category);
    if (!c || !c->localized)
        return {};
    const QString systemLocale = MSettings::I().systemLocale();
    if (systemLocale.isEmpty())
        return {};
    return separator ? QLatin1Char('_') + systemLocale : systemLocale;
}

QString Settings::fileName(Category_Enum category)
{
    const CategoryInfo *c = info(category);
    if (!c)
        return {};
    return QStringLiteral("%1%2%4.%3")
        .arg(basePath(*c), QString::fromLatin1(c->path), QString::fromLatin1(c->extension), locale(category, true));
}

QString Settings::errorMessage(int code, const QString &first, const QString &second)
{
    if (code < 0 || code >= int(sizeof(kErrorMessages) / sizeof(kErrorMessages[0])))
        return QStringLiteral("[unknown]");
    const QString message = QString::fromLatin1(kErrorMessages[code]);
    if (first.isEmpty() && second.isEmpty())
        return message;
    if (!first.isEmpty() && second.isEmpty())
        return message.arg(first);
    return message.arg(first, second);
}

int Settings::readConfigurations()
{
    for (int category = eSettingsSystem; category <= eGenericConfirm; ++category)
        readCategory(Category_Enum(category));
    return eError_None;
}

int Settings::readCategory(Category_Enum categoryId)
{
    const QString relative = category(categoryId);
    const QString path = fileName(categoryId);
    qDebug().noquote() << relative << path;

    const QFileInfo fileInfo(path);
    int code = eError_None;
    QString message;
    QFile file(path);
    if (!fileInfo.exists()) {
        code = eError_SettingNotExists;
        message = errorMessage(code, fileInfo.fileName());
    } else if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        code = eError_Read;
        message = errorMessage(code, Settings_Path());
    } else {
        const QString content = QTextStream(&file).readAll().trimmed();
        if (content.isEmpty()) {
            code = eError_Empty;
            message = errorMessage(code, fileInfo.fileName());
        } else if (parse({relative, fileInfo.absolutePath() + QLatin1Char('/'), content})) {
            message = errorMessage(code, fileInfo.fileName());
        } else {
            code = eError_Parse;
            message = errorMessage(code, fileInfo.fileName());
        }
    }
    logPost(message);
    return code;
}

bool Settings::parse(const Detail &detail)
{
    bool duplicate = false;
    bool inGroup = false;
    QString group;
    const QStringList lines = detail.content.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            if (!line.startsWith(kAttributePrefix))
                continue;
            if (line == kDuplicateOn) {
                duplicate = true;
            } else if (line == kDuplicateOff) {
                duplicate = false;
            } else {
                logPost(QStringLiteral("Unknown '") + line + QStringLiteral("' attribute in %1").arg(detail.category));
                return false;
            }
            continue;
        }
        const int comment = line.indexOf(QLatin1Char('#'));
        if (comment > 0)
            line = line.left(comment).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line;
            group.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
            inGroup = true;
            continue;
        }
        if (!inGroup)
            continue;
        QString key = line;
        QString value;
        const QStringList parts = line.split(QLatin1Char('='));
        if (parts.size() > 1) {
            key = parts.at(0);
            value = parts.at(1);
        }
        key = key.trimmed().replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        value = value.trimmed().replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        MSettings::I().add(detail.category, group, key, value, duplicate);
    }
    return true;
}

} // namespace Storage
