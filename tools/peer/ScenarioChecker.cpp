#include "peer/ScenarioChecker.h"

#include <QFile>

#include <algorithm>

#include "peer/DemoMenu.h"
#include "peer/PayloadCodec.h"
#include "peer/ScenarioBindings.h"
#include "peer/ScenarioParser.h"

bool ScenarioChecker::load(const QString &fileName, Scenario &scenario, QStringList &problems)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        problems << QStringLiteral("%1: cannot read: %2").arg(fileName, file.errorString());
        return false;
    }
    QStringList found;
    const bool parsed = ScenarioParser::parse(QString::fromUtf8(file.readAll()), fileName, scenario, found);
    // The messages are checked also after a syntax error, so that one run
    // shows every problem, in the order of the file.
    const bool checked = check(scenario, found);
    const auto line = [&fileName](const QString &problem) {
        return problem.mid(fileName.size() + 1).section(QLatin1Char(':'), 0, 0).toInt();
    };
    std::stable_sort(found.begin(), found.end(),
                     [&line](const QString &a, const QString &b) { return line(a) < line(b); });
    problems << found;
    return parsed && checked;
}

bool ScenarioChecker::check(const Scenario &scenario, QStringList &problems)
{
    const int before = problems.size();
    _fileName = scenario.fileName;
    _problems = &problems;
    _kept.clear();
    for (const ScenarioStep &step : scenario.steps)
        for (const ScenarioAction &action : step.actions)
            checkAction(action);
    _problems = nullptr;
    return problems.size() == before;
}

void ScenarioChecker::problem(int line, const QString &what)
{
    *_problems << QStringLiteral("%1:%2: %3").arg(_fileName).arg(line).arg(what);
}

const MessageDefinition *ScenarioChecker::message(const QString &nameOrId, int line)
{
    if (nameOrId.isEmpty())
        return nullptr; // the parser has said so
    const MessageDefinition *definition = _definitions.lookup(nameOrId);
    if (!definition)
        problem(line, QStringLiteral("unknown message '%1' (not in %2)").arg(nameOrId, _definitions.fileName()));
    return definition;
}

void ScenarioChecker::checkAction(const ScenarioAction &action)
{
    switch (action.kind) {
    case ScenarioAction::Send:
        checkSend(action);
        return;
    case ScenarioAction::Await: {
        const MessageDefinition *definition = message(action.message, action.line);
        if (!definition)
            return;
        checkChecks(*definition, action.checks, action.line);
        if (!action.bindAs.isEmpty())
            _kept.insert(action.bindAs, definition);
        return;
    }
    case ScenarioAction::Show: {
        const MessageDefinition *definition = message(action.message, action.line);
        for (const QString &field : action.values)
            if (definition)
                checkField(*definition, field, action.line);
        return;
    }
    case ScenarioAction::Demo:
        if (!action.values.isEmpty() && DemoMenu::command(action.values.first()) < 0)
            problem(action.line, QStringLiteral("unknown demo-menu command '%1' (%2)")
                                     .arg(action.values.first(), DemoMenu::knownNames()));
        return;
    case ScenarioAction::Wait:
        return;
    }
}

void ScenarioChecker::checkSend(const ScenarioAction &action)
{
    const MessageDefinition *definition = message(action.message, action.line);
    if (!definition)
        return;
    // A kept value is only known when the scenario runs; 0 fits every
    // type, so the rest of the values is still checked.
    QStringList values;
    for (const QString &value : action.values) {
        checkReferences(value, action.line);
        QList<ScenarioBindings::Reference> references;
        const bool wellFormed = ScenarioBindings::references(value, references);
        values << (wellFormed && references.isEmpty()
                       ? value
                       : value.left(value.indexOf(QLatin1Char('=')) + 1) + QLatin1Char('0'));
    }
    QByteArray payload;
    QString error;
    if (!PayloadCodec::encode(*definition, values, payload, error))
        problem(action.line, error);
    if (!action.hasReply)
        return;
    const MessageDefinition *response = definition->hasResponse ? _definitions.find(definition->responseId) : nullptr;
    if (!response) {
        problem(action.replyLine, QStringLiteral("%1 has no response to check").arg(definition->name));
        return;
    }
    checkChecks(*response, action.checks, action.replyLine);
    if (!action.bindAs.isEmpty())
        _kept.insert(action.bindAs, response);
    return;
}

void ScenarioChecker::checkField(const MessageDefinition &definition, const QString &field, int line)
{
    if (definition.fieldIndex(field) < 0)
        problem(line, QStringLiteral("%1 has no field '%2'").arg(definition.name, field));
}

void ScenarioChecker::checkChecks(const MessageDefinition &definition, const QList<ScenarioCheck> &checks, int line)
{
    for (const ScenarioCheck &check : checks) {
        checkReferences(check.value, line);
        if (check.isEveryOther())
            continue;
        const int index = definition.fieldIndex(check.field);
        if (index < 0) {
            checkField(definition, check.field, line);
            continue;
        }
        QList<ScenarioBindings::Reference> references;
        ScenarioBindings::references(check.value, references);
        QByteArray bytes;
        QString why;
        if (references.isEmpty() && !definition.fields.at(index).type.write(check.value, bytes, why))
            problem(line, QStringLiteral("field '%1' of %2: %3").arg(check.field, definition.name, why));
    }
}

void ScenarioChecker::checkReferences(const QString &value, int line)
{
    QList<ScenarioBindings::Reference> references;
    ScenarioBindings::references(value, references);
    for (const ScenarioBindings::Reference &reference : references) {
        const MessageDefinition *kept = _kept.value(reference.name);
        if (!kept)
            problem(line,
                    QStringLiteral("%1: nothing is kept as '%2' before this line").arg(reference.text, reference.name));
        else
            checkField(*kept, reference.field, line);
    }
}
