#include "model/settings/MSettings.h"

namespace Storage {

MSettings::MSettings(QObject *parent)
    : QObject(parent)
{
}

QList<KeyValue> MSettings::entries(const QString &category, const QString &group) const
{
    return _settings.value(category).value(group);
}

QVariant MSettings::valueUnlocked(const QString &category, const QString &group, const QString &key) const
{
    const auto categoryIt = _settings.constFind(category);
    if (categoryIt == _settings.constEnd())
        return {};
    const auto groupIt = categoryIt->constFind(group);
    if (groupIt == categoryIt->constEnd())
        return {};
    for (const KeyValue &entry : *groupIt)
        if (entry.key() == key)
            return entry.val();
    return {};
}

void MSettings::add(const QString &category, const QString &group, const QString &key, const QVariant &value,
                    bool duplicate)
{
    QMutexLocker locker(&_mutex);
    QList<KeyValue> &list = _settings[category][group];
    QHash<QString, int> &firstIndex = _firstIndex[category][group];
    const KeyValue entry(key, value);
    if (!duplicate) {
        const auto found = firstIndex.constFind(key);
        if (found != firstIndex.constEnd()) {
            list[found.value()] = entry;
            return;
        }
    }
    firstIndex.insert(key, firstIndex.value(key, list.size()));
    list.append(entry);
}

QStringList MSettings::groups(const QString &category)
{
    QMutexLocker locker(&_mutex);
    return _settings.value(category).keys();
}

QStringList MSettings::keys(const QString &category, const QString &group)
{
    QMutexLocker locker(&_mutex);
    QStringList result;
    // Read through a const list: a loop over the returned temporary would
    // detach it and copy every entry.
    const QList<KeyValue> list = entries(category, group);
    for (const KeyValue &entry : list)
        result << entry.key();
    return result;
}

QVariant MSettings::value(const QString &category, const QString &group, const QString &key)
{
    QMutexLocker locker(&_mutex);
    return valueUnlocked(category, group, key);
}

QVariantList MSettings::values(const QString &category, const QString &group)
{
    QMutexLocker locker(&_mutex);
    QVariantList result;
    const QList<KeyValue> list = entries(category, group);
    for (const KeyValue &entry : list)
        result << entry.val();
    return result;
}

QStringList MSettings::categorys()
{
    QMutexLocker locker(&_mutex);
    return _settings.keys();
}

QString MSettings::key(const QString &category, const QString &group, int index)
{
    QMutexLocker locker(&_mutex);
    const QList<KeyValue> list = entries(category, group);
    if (index < 0 || index >= list.size())
        return QStringLiteral("[Unknown %1]").arg(index);
    return list.at(index).key();
}

QString MSettings::systemLocale()
{
    QMutexLocker locker(&_mutex);
    return valueUnlocked(QStringLiteral("settings/locale"), QStringLiteral("Localization"), QStringLiteral("Locale"))
        .toString();
}

QString MSettings::systemLanguage()
{
    QMutexLocker locker(&_mutex);
    return valueUnlocked(QStringLiteral("settings/locale"), QStringLiteral("Localization"), QStringLiteral("Language"))
        .toString();
}

QString MSettings::datetimeFormat()
{
    QMutexLocker locker(&_mutex);
    const QVariant date =
        valueUnlocked(QStringLiteral("Settings/System"), QStringLiteral("Date"), QStringLiteral("Format"));
    const QVariant time =
        valueUnlocked(QStringLiteral("Settings/System"), QStringLiteral("Time"), QStringLiteral("Format"));
    if (date.isValid() && time.isValid()) {
        _dateFormat = date.toString();
        _timeFormat = time.toString();
        _datetimeFormat = _dateFormat + QLatin1Char(' ') + _timeFormat;
    }
    return _datetimeFormat;
}

QString MSettings::dateFormat()
{
    QMutexLocker locker(&_mutex);
    return _dateFormat;
}

QString MSettings::timeFormat()
{
    QMutexLocker locker(&_mutex);
    return _timeFormat;
}

void MSettings::clear()
{
    QMutexLocker locker(&_mutex);
    _settings.clear();
    _firstIndex.clear();
}

} // namespace Storage
