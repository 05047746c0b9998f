#include "ResultTable.h"

#include <algorithm>
#include <cstdio>

namespace {

double median(QVector<double> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    const int middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

double largest(const QVector<double> &values)
{
    return values.isEmpty() ? -1 : *std::max_element(values.begin(), values.end());
}

template <typename Value> double medianOf(const QList<RunResult> &runs, Value value)
{
    QVector<double> values;
    for (const RunResult &run : runs)
        values.append(double(value(run)));
    return median(values);
}

// "smallest-largest" of one figure over the runs.
template <typename Value> QByteArray range(const QList<RunResult> &runs, Value value, int decimals)
{
    QVector<double> values;
    for (const RunResult &run : runs)
        values.append(double(value(run)));
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return QByteArray::number(*low, 'f', decimals) + '-' + QByteArray::number(*high, 'f', decimals);
}

template <typename Count> qint64 total(const QList<RunResult> &runs, Count count)
{
    qint64 sum = 0;
    for (const RunResult &run : runs)
        sum += qint64(count(run));
    return sum;
}

const ThreadUsage *threadOf(const RunResult &run, const QString &label)
{
    for (const ThreadUsage &thread : run.usage.threads)
        if (thread.label == label)
            return &thread;
    return nullptr;
}

double threadMedian(const QList<RunResult> &runs, const QString &label, double ThreadUsage::*field)
{
    return medianOf(runs, [&](const RunResult &run) {
        const ThreadUsage *thread = threadOf(run, label);
        return thread ? thread->*field : 0.0;
    });
}

// Acknowledgement latencies of all runs together.
QVector<double> latencies(const QList<RunResult> &runs)
{
    QVector<double> all;
    for (const RunResult &run : runs)
        all += run.traffic.latenciesMs;
    return all;
}

using GapOf = const GapMeter &(*)(const RunResult &);
const GapMeter &received(const RunResult &run)
{
    return run.traffic.received;
}
const GapMeter &written(const RunResult &run)
{
    return run.traffic.written;
}

// The gaps of all runs together, smallest first.
QVector<double> sortedGaps(const QList<RunResult> &runs, GapOf gap)
{
    QVector<double> all;
    for (const RunResult &run : runs)
        all += gap(run).gapsMs();
    std::sort(all.begin(), all.end());
    return all;
}

double smallest(const QVector<double> &sorted)
{
    return sorted.isEmpty() ? -1 : sorted.first();
}

void printGaps(const char *what, const QList<RunResult> &runs, GapOf gap)
{
    const QVector<double> gaps = sortedGaps(runs, gap);
    if (gaps.isEmpty())
        return;
    const auto under = [&gaps](double ms) {
        return int(std::lower_bound(gaps.begin(), gaps.end(), ms) - gaps.begin());
    };
    std::printf("  gaps between frames %s: smallest %.2f ms, 1st percentile %.2f ms, median %.2f ms; "
                "of %d, %d under %.1f ms and %d under %.1f ms\n",
                what, gaps.first(), gaps.at(gaps.size() / 100), gaps.at(gaps.size() / 2), int(gaps.size()),
                under(BusRecorder::kPacingMs), BusRecorder::kPacingMs, under(BusRecorder::kPacingMs - 0.5),
                BusRecorder::kPacingMs - 0.5);
}

// A figure for a table cell; "n/a" for the -1 of "not measured".
QByteArray cell(double value)
{
    return value < 0 ? QByteArray("n/a") : QByteArray::number(value, 'f', 2);
}

} // namespace

void ResultTable::add(const QString &bus, Window window, const RunResult &run)
{
    if (!run.ok)
        return;
    for (Cell &cell : _cells) {
        if (cell.bus == bus && cell.window == window) {
            cell.runs.append(run);
            return;
        }
    }
    _cells.append(Cell{bus, window, {run}});
}

const ResultTable::Cell *ResultTable::find(const QString &bus, Window window) const
{
    for (const Cell &cell : _cells)
        if (cell.bus == bus && cell.window == window)
            return &cell;
    return nullptr;
}

QStringList ResultTable::threadLabels(const Cell &cell)
{
    QStringList labels;
    for (const RunResult &run : cell.runs)
        for (const ThreadUsage &thread : run.usage.threads)
            if (!labels.contains(thread.label))
                labels.append(thread.label);
    return labels;
}

void ResultTable::printWindow(const QString &bus, Window window) const
{
    const Cell *cell = find(bus, window);
    if (!cell) {
        std::printf("%s, %s: no run succeeded\n", qPrintable(bus), qPrintable(WindowRun::name(window)));
        return;
    }
    const QList<RunResult> &runs = cell->runs;
    std::printf("%s, %s: medians of %d runs of %.1f s\n", qPrintable(bus), qPrintable(WindowRun::name(window)),
                int(runs.size()), medianOf(runs, [](const RunResult &r) { return r.usage.seconds; }));
    std::printf("  %-18s %7s %9s %11s %9s\n", "thread", "CPU %", "on-CPU %", "wake-ups/s", "preempt/s");
    for (const QString &label : threadLabels(*cell))
        std::printf("  %-18s %7.3f %9.3f %11.1f %9.1f\n", qPrintable(label),
                    threadMedian(runs, label, &ThreadUsage::cpuPercent),
                    threadMedian(runs, label, &ThreadUsage::onCpuPercent),
                    threadMedian(runs, label, &ThreadUsage::wakeupsPerSecond),
                    threadMedian(runs, label, &ThreadUsage::involuntaryPerSecond));
    std::printf("  %-18s %7.3f %9.3f %11.1f %9.1f\n", "process",
                medianOf(runs, [](const RunResult &r) { return r.usage.cpuPercent; }),
                medianOf(runs, [](const RunResult &r) { return r.usage.onCpuPercent; }),
                medianOf(runs, [](const RunResult &r) { return r.usage.wakeupsPerSecond; }),
                medianOf(runs, [](const RunResult &r) { return r.usage.involuntaryPerSecond; }));
    std::printf("  the runs ranged over CPU %s %%, wake-ups %s /s\n",
                range(
                    runs, [](const RunResult &r) { return r.usage.cpuPercent; }, 2)
                    .constData(),
                range(
                    runs, [](const RunResult &r) { return r.usage.wakeupsPerSecond; }, 0)
                    .constData());
    std::printf("  RSS %.1f MB at the end (peak %.1f MB); this program itself: CPU %.2f %%\n",
                medianOf(runs, [](const RunResult &r) { return r.usage.rssMB; }),
                medianOf(runs, [](const RunResult &r) { return r.usage.peakRssMB; }),
                medianOf(runs, [](const RunResult &r) { return r.bench.cpuPercent; }));

    std::printf("  frames from the service: %.1f/s\n", medianOf(runs, [](const RunResult &r) {
                    return (r.traffic.received.gapsMs().size() + 1) / r.usage.seconds;
                }));
    printGaps("as received here", runs, received);
    printGaps("as the service wrote them", runs, written);
    const QVector<double> acks = latencies(runs);
    std::printf("  acknowledgements received %lld (%.1f/s), requests sent %lld; latency median %.2f ms, max %.2f ms\n",
                qint64(acks.size()),
                medianOf(runs, [](const RunResult &r) { return r.traffic.latenciesMs.size() / r.usage.seconds; }),
                total(runs, [](const RunResult &r) { return r.traffic.requests; }), median(acks), largest(acks));
    // A busy machine cannot always keep the full pace; the cost per frame
    // compares runs that reached different rates.
    if (window == Window::Flood)
        std::printf(
            "  flood: %.0f frames/s sent (%lld given up to keep the pace); CPU per frame sent %.1f us\n",
            medianOf(runs, [](const RunResult &r) { return r.floodFramesPerSecond; }),
            total(runs, [](const RunResult &r) { return r.floodSkipped; }),
            medianOf(runs, [](const RunResult &r) { return r.usage.cpuPercent * 1e4 / r.floodFramesPerSecond; }));
    const qint64 drops = total(runs, [](const RunResult &r) { return r.busDrops; });
    if (drops > 0)
        std::printf("  WARNING: the local bus dropped %lld frames; these figures are suspect\n", drops);
    std::fflush(stdout);
}

void ResultTable::printSummary() const
{
    std::printf("| Bus | Window | Runs | CPU %% | on-CPU %% | Wake-ups/s | Preemptions/s | RSS MB "
                "| Smallest gap received ms | Smallest gap written ms | Ack median ms | Ack max ms |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Cell &c : _cells) {
        const QVector<double> acks = latencies(c.runs);
        std::printf("| %s | %s | %d | %.2f | %.2f | %.0f | %.0f | %.1f | %s | %s | %s | %s |\n", qPrintable(c.bus),
                    qPrintable(WindowRun::name(c.window)), int(c.runs.size()),
                    medianOf(c.runs, [](const RunResult &r) { return r.usage.cpuPercent; }),
                    medianOf(c.runs, [](const RunResult &r) { return r.usage.onCpuPercent; }),
                    medianOf(c.runs, [](const RunResult &r) { return r.usage.wakeupsPerSecond; }),
                    medianOf(c.runs, [](const RunResult &r) { return r.usage.involuntaryPerSecond; }),
                    medianOf(c.runs, [](const RunResult &r) { return r.usage.rssMB; }),
                    cell(smallest(sortedGaps(c.runs, received))).constData(),
                    cell(smallest(sortedGaps(c.runs, written))).constData(), cell(median(acks)).constData(),
                    cell(largest(acks)).constData());
    }
    std::fflush(stdout);
}
