#pragma once

#include <QList>
#include <QString>

// What /proc says of one thread at one moment.
struct ThreadSample {
    qint64 tid = 0;
    QString name;           // comm: the thread's name, at most 15 characters
    qint64 cpuTicks = 0;    // utime + stime, in clock ticks
    qint64 onCpuNs = 0;     // the same time to the nanosecond (schedstat); 0 when unknown
    qint64 voluntary = 0;   // context switches: waits that ended (wake-ups) ...
    qint64 involuntary = 0; // ... and preemptions
};

// What /proc says of a process at one moment: its threads' CPU time and
// context switches, and its memory. Reading it costs the process nothing.
struct ProcessSnapshot {
    qint64 monotonicNs = 0;      // when it was taken
    qint64 processTicks = 0;     // utime + stime of the whole process, threads that ended included
    qint64 rssKB = 0;            // VmRSS
    qint64 peakRssKB = 0;        // VmHWM
    QList<ThreadSample> threads; // by thread id

    // False when the process is gone or /proc cannot be read.
    static bool take(qint64 pid, ProcessSnapshot &snapshot);
    static qint64 ticksPerSecond();
    static qint64 monotonicNow();
};
