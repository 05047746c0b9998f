#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "WindowRun.h"

// The runs of every bus and window, and their medians as tables.
class ResultTable
{
public:
    void add(const QString &bus, Window window, const RunResult &run);

    // The medians of one bus and window: the process, each thread, the bus.
    void printWindow(const QString &bus, Window window) const;
    // One line per bus and window, as a Markdown table.
    void printSummary() const;

private:
    struct Cell {
        QString bus;
        Window window;
        QList<RunResult> runs;
    };

    const Cell *find(const QString &bus, Window window) const;
    static QStringList threadLabels(const Cell &cell);

    QList<Cell> _cells;
};
