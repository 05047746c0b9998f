#include "peer/ScenarioChecks.h"

#include <QStringList>

#include <cmath>
#include <limits>

#include "peer/TreatmentStates.h"

bool ScenarioChecks::set(const QList<ScenarioCheck> &checks, const ScenarioBindings &bindings, QString &error)
{
    _checks.clear();
    for (const ScenarioCheck &check : checks) {
        QString text;
        if (!bindings.resolve(check.value, text, error))
            return false;
        double value = 0;
        if (!ScenarioCheck::number(text, value)) {
            error = QStringLiteral("'%1' is not a number").arg(text);
            return false;
        }
        _checks.append({check.field, check.op, value});
    }
    return true;
}

bool ScenarioChecks::holds(const Resolved &check, const QVariant &value) const
{
    if (!value.isValid())
        return false;
    // A float field holds what the expected value becomes as a float (one
    // beyond a float's range it can never hold).
    const bool asFloat =
        value.userType() == QMetaType::Float && std::abs(check.value) <= double(std::numeric_limits<float>::max());
    const double expected = asFloat ? double(float(check.value)) : check.value;
    return ScenarioCheck::holds(check.op, value.toDouble(), expected);
}

bool ScenarioChecks::namedByAnother(const QString &field) const
{
    for (const Resolved &check : _checks)
        if (check.field.compare(field, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool ScenarioChecks::matches(const DecodedPayload &payload) const
{
    if (!payload.definition)
        return false;
    for (const Resolved &check : _checks) {
        if (check.field != QLatin1String("*")) {
            if (!holds(check, payload.value(check.field)))
                return false;
            continue;
        }
        for (int i = 0; i < payload.values.size(); ++i)
            if (!namedByAnother(payload.definition->fields.at(i).name) && !holds(check, payload.values.at(i)))
                return false;
    }
    return true;
}

QString ScenarioChecks::expected() const
{
    QStringList parts;
    for (const Resolved &check : _checks) {
        const QString field = check.field == QLatin1String("*") ? QStringLiteral("all others") : check.field;
        parts << field + ScenarioCheck::opText(check.op) + TreatmentStates::describe(check.field, check.value);
    }
    return parts.join(QLatin1Char(' '));
}

QString ScenarioChecks::received(const DecodedPayload &payload) const
{
    QStringList parts;
    for (const Resolved &check : _checks) {
        if (check.field == QLatin1String("*")) {
            parts << QStringLiteral("all others") + ScenarioCheck::opText(check.op) +
                         QString::number(check.value, 'g', 6);
        } else if (payload.has(check.field)) {
            parts << check.field + QLatin1Char('=') +
                         TreatmentStates::describe(check.field, payload.number(check.field));
        } else {
            parts << check.field + QStringLiteral("=?");
        }
    }
    return parts.join(QLatin1Char(' '));
}
