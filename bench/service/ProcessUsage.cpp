#include "ProcessUsage.h"

#include <QHash>

#include "ProcessSnapshot.h"

namespace {

constexpr double kKBPerMB = 1024.0;

// Threads are told apart by name; threads of one name by their order of
// creation, which is the same from run to run.
QString labelFor(const QString &name, QHash<QString, int> &seen)
{
    const int count = ++seen[name];
    return count == 1 ? name : QStringLiteral("%1#%2").arg(name).arg(count);
}

} // namespace

ProcessUsage ProcessUsage::between(const ProcessSnapshot &before, const ProcessSnapshot &after)
{
    ProcessUsage usage;
    usage.seconds = double(after.monotonicNs - before.monotonicNs) / 1e9;
    if (usage.seconds <= 0)
        return usage;
    const double tickPercent = 100.0 / double(ProcessSnapshot::ticksPerSecond()) / usage.seconds;
    usage.cpuPercent = double(after.processTicks - before.processTicks) * tickPercent;
    usage.rssMB = double(after.rssKB) / kKBPerMB;
    usage.peakRssMB = double(after.peakRssKB) / kKBPerMB;

    QHash<qint64, ThreadSample> start;
    for (const ThreadSample &sample : before.threads)
        start.insert(sample.tid, sample);
    QHash<QString, int> seen;
    for (const ThreadSample &end : after.threads) {
        const ThreadSample begin = start.value(end.tid, ThreadSample{end.tid, end.name}); // new: from zero
        ThreadUsage thread;
        thread.label = labelFor(end.name, seen);
        thread.cpuPercent = double(end.cpuTicks - begin.cpuTicks) * tickPercent;
        thread.onCpuPercent = double(end.onCpuNs - begin.onCpuNs) / 1e7 / usage.seconds;
        // A wake-up is a wait that ended; a preemption is not one: the thread
        // was running, and another process took the core.
        thread.wakeupsPerSecond = double(end.voluntary - begin.voluntary) / usage.seconds;
        thread.involuntaryPerSecond = double(end.involuntary - begin.involuntary) / usage.seconds;
        usage.onCpuPercent += thread.onCpuPercent;
        usage.wakeupsPerSecond += thread.wakeupsPerSecond;
        usage.involuntaryPerSecond += thread.involuntaryPerSecond;
        usage.threads.append(thread);
    }
    return usage;
}
