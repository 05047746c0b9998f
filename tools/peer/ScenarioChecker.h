#pragma once

#include <QHash>
#include <QStringList>

#include "peer/MessageDefinitions.h"
#include "peer/Scenario.h"

// Holds a scenario against the message definitions before anything is
// sent: every message and field known, every value fitting its field's
// type, every reply to a message that has a response, every kept answer
// kept before it is used, every demo-menu command known.
class ScenarioChecker
{
public:
    explicit ScenarioChecker(const MessageDefinitions &definitions)
        : _definitions(definitions)
    {
    }

    // Problems are "file:line: what is wrong", in the order of the file.
    bool check(const Scenario &scenario, QStringList &problems);

    // Reads, parses and checks a file.
    bool load(const QString &fileName, Scenario &scenario, QStringList &problems);

private:
    void checkAction(const ScenarioAction &action);
    void checkSend(const ScenarioAction &action);
    const MessageDefinition *message(const QString &nameOrId, int line);
    void checkChecks(const MessageDefinition &definition, const QList<ScenarioCheck> &checks, int line);
    void checkReferences(const QString &value, int line);
    void checkField(const MessageDefinition &definition, const QString &field, int line);
    void problem(int line, const QString &what);

    const MessageDefinitions &_definitions;
    QString _fileName;
    QStringList *_problems = nullptr;
    QHash<QString, const MessageDefinition *> _kept; // what each name keeps, as far as the file has come
};
