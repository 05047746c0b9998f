#include "ProcessSnapshot.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>

#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// utime + stime from a stat line; the name in brackets may hold blanks and
// brackets itself, so the fields are counted from the last ')'.
bool readStatTicks(const QByteArray &stat, qint64 &ticks)
{
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // After the name: state is field 3 of the line, utime 14 and stime 15.
    constexpr int kUtime = 14 - 3;
    constexpr int kStime = 15 - 3;
    if (fields.size() <= kStime)
        return false;
    ticks = fields.at(kUtime).toLongLong() + fields.at(kStime).toLongLong();
    return true;
}

qint64 statusValue(const QByteArray &status, const QByteArray &key)
{
    for (const QByteArray &line : status.split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
    return 0;
}

bool readThread(const QString &folder, qint64 tid, ThreadSample &sample)
{
    sample.tid = tid;
    if (!readStatTicks(readAll(folder + QStringLiteral("/stat")), sample.cpuTicks))
        return false; // the thread ended meanwhile
    sample.name = QString::fromUtf8(readAll(folder + QStringLiteral("/comm")).trimmed());
    sample.onCpuNs = readAll(folder + QStringLiteral("/schedstat")).split(' ').first().toLongLong();
    const QByteArray status = readAll(folder + QStringLiteral("/status"));
    sample.voluntary = statusValue(status, "voluntary_ctxt_switches:");
    sample.involuntary = statusValue(status, "nonvoluntary_ctxt_switches:");
    return true;
}

} // namespace

qint64 ProcessSnapshot::ticksPerSecond()
{
    static const qint64 ticks = ::sysconf(_SC_CLK_TCK);
    return ticks;
}

qint64 ProcessSnapshot::monotonicNow()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

bool ProcessSnapshot::take(qint64 pid, ProcessSnapshot &snapshot)
{
    snapshot = ProcessSnapshot();
    snapshot.monotonicNs = monotonicNow();
    const QString folder = QStringLiteral("/proc/%1").arg(pid);
    if (!readStatTicks(readAll(folder + QStringLiteral("/stat")), snapshot.processTicks))
        return false;
    const QByteArray status = readAll(folder + QStringLiteral("/status"));
    snapshot.rssKB = statusValue(status, "VmRSS:");
    snapshot.peakRssKB = statusValue(status, "VmHWM:");

    QList<qint64> tids;
    for (const QString &entry : QDir(folder + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        tids.append(entry.toLongLong());
    std::sort(tids.begin(), tids.end());
    for (qint64 tid : tids) {
        ThreadSample sample;
        if (readThread(QStringLiteral("%1/task/%2").arg(folder).arg(tid), tid, sample))
            snapshot.threads.append(sample);
    }
    return !snapshot.threads.isEmpty();
}
