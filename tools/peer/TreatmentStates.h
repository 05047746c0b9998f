#pragma once

#include <QString>
#include <QStringList>

// The operation modes and treatment states as the broadcasts carry them,
// by name: for the lines of a scenario run and the plot of a trace.
class TreatmentStates
{
public:
    static constexpr int kModeStandby = 3;
    static constexpr int kModePreTreatment = 4;
    static constexpr int kModeTreatment = 5;
    static constexpr int kModePostTreatment = 6;

    // "4 (pre-treatment)" for a mode or treatment state field, the bare
    // number for any other field or an unknown value.
    static QString describe(const QString &field, double value);

    // Where a treatment stands in one scale for the plot: the operation
    // mode, and inside Treatment its treatment state. -1 for a mode the
    // scale does not know.
    static int stage(int mode, int txState);
    static QStringList stageNames();
};
