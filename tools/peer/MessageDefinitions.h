#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include "peer/MessageDefinition.h"

// The messages of both directions, read from a file in the system's own
// configuration format: one group per identifier (hexadecimal), the
// message's name on the group's first line, then one "field = TYPE" line per
// payload field in wire order, and for a request "@response = <id>".
class MessageDefinitions
{
public:
    // Reads and checks the file. On failure error names the file, the group
    // and what is wrong, and the definitions stay empty.
    bool load(const QString &fileName, QString &error);
    // The same from text, for tests; origin names it in errors.
    bool loadText(const QString &text, const QString &origin, QString &error);

    const MessageDefinition *find(quint16 id) const;
    // By name (case-insensitive, "ID_" may be left out) or by identifier in
    // hexadecimal ("9800" or "0x9800").
    const MessageDefinition *lookup(const QString &nameOrId) const;
    // Identifiers of the messages a pattern selects: a name, an identifier or
    // a name with the wildcards * and ?. Empty when nothing matches.
    QList<quint16> select(const QString &pattern) const;

    QString name(quint16 id) const;
    QList<quint16> ids() const { return _definitions.keys(); }
    int size() const { return _definitions.size(); }
    bool isEmpty() const { return _definitions.isEmpty(); }
    QString fileName() const { return _fileName; }

    // The category the file is parsed into in the settings model.
    static QString category();
    // Where the file is looked for when no path is given: the folder of
    // settings given, the working folder's config/, the source tree's, and
    // the service's installed configuration.
    static QStringList defaultLocations(const QString &settingsPath = QString());

    static bool parseId(const QString &text, quint16 &id);

private:
    QMap<quint16, MessageDefinition> _definitions;
    QHash<QString, quint16> _byName; // upper-case name without "ID_"
    QString _fileName;
};
