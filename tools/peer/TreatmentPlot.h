#pragma once

#include <QList>
#include <QString>

#include "peer/TreatmentTrace.h"

// A treatment trace drawn with Qt Charts as stacked charts on one time
// axis: arterial, venous and transmembrane pressure with their limits,
// blood and dialysate flow, ultrafiltration removed against its target, and
// where the treatment stood, with every change of that marked in each chart.
class TreatmentPlot
{
public:
    // The broadcast fields the charts show, for the trace to collect.
    static QList<TreatmentTrace::Quantity> quantities();

    // PNG or SVG, by the file's extension.
    static bool isKnownFormat(const QString &fileName);

    // Draws and writes the file. Needs a QApplication (an offscreen one will
    // do). False with error when the file cannot be written.
    static bool write(const TreatmentTrace &trace, const QString &title, const QString &fileName, QString &error);
};
