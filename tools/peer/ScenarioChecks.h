#pragma once

#include <QList>

#include "peer/DecodedPayload.h"
#include "peer/ScenarioBindings.h"
#include "peer/ScenarioCheck.h"

// The conditions of one scenario line, their kept values filled in, held
// against a decoded message.
class ScenarioChecks
{
public:
    // False, with error, when a value refers to nothing kept or is no number.
    bool set(const QList<ScenarioCheck> &checks, const ScenarioBindings &bindings, QString &error);

    bool matches(const DecodedPayload &payload) const;
    // "accepted=1 mode=4 (pre-treatment)": what is expected.
    QString expected() const;
    // The fields the conditions name, as the message has them.
    QString received(const DecodedPayload &payload) const;
    bool isEmpty() const { return _checks.isEmpty(); }

private:
    struct Resolved {
        QString field;
        ScenarioCheck::Op op;
        double value;
    };

    bool holds(const Resolved &check, const QVariant &value) const;
    bool namedByAnother(const QString &field) const;

    QList<Resolved> _checks;
};
