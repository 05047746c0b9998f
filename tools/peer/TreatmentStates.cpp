#include "peer/TreatmentStates.h"

#include <QHash>

namespace {

const QHash<int, QString> &modeNames()
{
    static const QHash<int, QString> names = {{TreatmentStates::kModeStandby, QStringLiteral("standby")},
                                              {TreatmentStates::kModePreTreatment, QStringLiteral("pre-treatment")},
                                              {TreatmentStates::kModeTreatment, QStringLiteral("treatment")},
                                              {TreatmentStates::kModePostTreatment, QStringLiteral("post-treatment")}};
    return names;
}

const QStringList &txStateNames()
{
    static const QStringList names = {QStringLiteral("start"),        QStringLiteral("blood prime"),
                                      QStringLiteral("dialysis"),     QStringLiteral("paused"),
                                      QStringLiteral("rinseback"),    QStringLiteral("recirculation"),
                                      QStringLiteral("treatment end")};
    return names;
}

} // namespace

QString TreatmentStates::describe(const QString &field, double value)
{
    const QString number = QString::number(value, 'g', 6);
    const int v = int(value);
    QString name;
    if (field == QLatin1String("mode"))
        name = modeNames().value(v);
    else if (field == QLatin1String("txState") && v >= 0 && v < txStateNames().size())
        name = txStateNames().at(v);
    return name.isEmpty() || double(v) != value ? number : number + QStringLiteral(" (") + name + QLatin1Char(')');
}

// The plot's scale: the modes before Treatment, Treatment's states, then
// the mode after it.
int TreatmentStates::stage(int mode, int txState)
{
    if (mode == kModeStandby)
        return 0;
    if (mode == kModePreTreatment)
        return 1;
    if (mode == kModeTreatment)
        return txState >= 0 && txState < txStateNames().size() ? 2 + txState : -1;
    if (mode == kModePostTreatment)
        return 2 + txStateNames().size();
    return -1;
}

QStringList TreatmentStates::stageNames()
{
    QStringList names = {modeNames().value(kModeStandby), modeNames().value(kModePreTreatment)};
    for (const QString &state : txStateNames())
        names << state;
    names << modeNames().value(kModePostTreatment);
    return names;
}
