#pragma once

#include <QList>
#include <QString>

struct ProcessSnapshot;

// One thread's cost over a window, per second of the window.
struct ThreadUsage {
    QString label;                   // its name; "name#2" for the second of that name
    double cpuPercent = 0;           // of one core, from utime + stime
    double onCpuPercent = 0;         // the same from the nanosecond counter
    double wakeupsPerSecond = 0;     // voluntary context switches: waits that ended
    double involuntaryPerSecond = 0; // preemptions
};

// A process's cost between two snapshots of it.
struct ProcessUsage {
    double seconds = 0;
    double cpuPercent = 0;           // the whole process, threads that ended included
    double onCpuPercent = 0;         // sum over the threads that lived to the end
    double wakeupsPerSecond = 0;     // sum over the threads that lived to the end
    double involuntaryPerSecond = 0; // the same for preemptions
    double rssMB = 0;                // at the end
    double peakRssMB = 0;
    QList<ThreadUsage> threads;

    static ProcessUsage between(const ProcessSnapshot &before, const ProcessSnapshot &after);
};
