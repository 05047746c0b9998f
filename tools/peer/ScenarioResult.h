#pragma once

#include <QList>
#include <QString>

// What became of each step of a scenario run, for its report.
struct StepResult {
    enum Outcome { Passed, Failed, Skipped };

    QString title;
    int line = 0; // 0 for the run's own steps: joining the bus, the check-ins
    Outcome outcome = Skipped;
    qint64 ms = 0;
    QString notes;   // what was sent and seen
    QString failure; // why it failed, one line
    QString expected;
    QString received;
};

struct ScenarioResult {
    QString name;
    qint64 startMs = 0; // since the epoch
    qint64 ms = 0;
    QList<StepResult> steps;

    int count(StepResult::Outcome outcome) const
    {
        int n = 0;
        for (const StepResult &step : steps)
            n += step.outcome == outcome ? 1 : 0;
        return n;
    }
};
