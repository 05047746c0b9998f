#pragma once

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QVariant>

#include "Singleton.h"

namespace Storage {

// One entry of a configuration group. Entries compare by key only.
class KeyValue
{
public:
    KeyValue() = default;
    KeyValue(const QString &key, const QVariant &val)
        : _key(key)
        , _val(val)
    {
    }
    QString key() const { return _key; }
    QVariant val() const { return _val; }
    bool operator==(const KeyValue &other) const { return _key == other._key; }

private:
    QString _key;
    QVariant _val;
};

using TSettings = QMap<QString, QMap<QString, QList<KeyValue>>>;

// The in-memory store of everything read from the configuration files. It is
// filled from a pool thread while other threads read it: each public call
// takes the one mutex exactly once (composite calls use unlocked internals).
class MSettings : public QObject
{
    Q_OBJECT
    RARAROZ_SINGLETON(MSettings)

public:
    void add(const QString &category, const QString &group, const QString &key, const QVariant &value, bool duplicate);
    QStringList groups(const QString &category);
    QStringList keys(const QString &category, const QString &group);
    QVariant value(const QString &category, const QString &group, const QString &key);
    QVariantList values(const QString &category, const QString &group);
    QStringList categorys();
    QString key(const QString &category, const QString &group, int index);
    QString systemLocale();
    QString systemLanguage();
    QString datetimeFormat();
    QString dateFormat();
    QString timeFormat();
    // Empties the store (tests and a future reload).
    void clear();

public slots:
    void quit() {}

private:
    QList<KeyValue> entries(const QString &category, const QString &group) const;
    QVariant valueUnlocked(const QString &category, const QString &group, const QString &key) const;

    TSettings _settings;
    // Position of the first entry of each key, per category and group, so a
    // replacing add stays fast on large files.
    QMap<QString, QMap<QString, QHash<QString, int>>> _firstIndex;
    QMutex _mutex;
    QString _datetimeFormat = QStringLiteral("MM/dd/yyyy HH:mm:ss");
    QString _dateFormat = QStringLiteral("MM/dd/yyyy");
    QString _timeFormat = QStringLiteral("HH:mm:ss");
};

} // namespace Storage
