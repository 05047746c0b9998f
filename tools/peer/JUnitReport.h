#pragma once

#include <QByteArray>
#include <QList>

#include "peer/ScenarioResult.h"

// A run of scenarios in the JUnit XML form CI systems read: one test suite
// per scenario, one test case per step, a failure with what was expected
// and what came instead, steps not reached after a failure as skipped.
class JUnitReport
{
public:
    static QByteArray xml(const QList<ScenarioResult> &results);
    static bool write(const QString &fileName, const QList<ScenarioResult> &results, QString &error);
};
