#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include "peer/DecodedPayload.h"

// Answers a scenario keeps under a name ("as duration") for the values of
// later lines, which refer to a field of one as ${duration.durationMin},
// or rounded to a number of decimals as ${duration.ufRateLHR:.2}.
class ScenarioBindings
{
public:
    struct Reference {
        QString text; // as written, "${duration.ufRateLHR:.2}"
        QString name;
        QString field;
        int decimals = -1; // -1: as the field is printed
    };

    // The references in a value. False when it holds a "${" that is not a
    // well-formed reference.
    static bool references(const QString &value, QList<Reference> &found);

    void keep(const QString &name, const DecodedPayload &answer) { _kept.insert(name, answer); }
    void clear() { _kept.clear(); }

    // The value with every reference replaced by the field's value. False,
    // with error saying which, when a reference finds nothing.
    bool resolve(const QString &value, QString &resolved, QString &error) const;

private:
    QHash<QString, DecodedPayload> _kept;
};
