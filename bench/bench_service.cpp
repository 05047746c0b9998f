// The whole service's cost on the board's terms: CPU per thread, wake-ups
// per second and resident memory of the real binary, with this program
// playing the UI board, in three windows:
//  - standby-idle: the UI checks in once a second, nothing else;
//  - treatment: the demo menu's jump to Treatment, then check-ins once a second;
//  - flood: 2,000 frames a second into the service, every other one a
//    check-in asking for an acknowledgement, the rest garbage on the UI channel;
// each on two buses: Qt's "virtualcan" (TCP, frames may come several to a
// read) and our "localcan" plug-in, which delivers one frame per read as
// SocketCAN does. It also times, from the frames the service sends, the
// smallest gap between two of them and the acknowledgement of check-ins.
//
// Every run starts the service afresh; the runs of all windows take turns,
// and each figure is the median over the runs. Settings from the
// environment: RARAROZ_BENCH_RUNS (3), RARAROZ_BENCH_SECONDS (10, the measured
// window), RARAROZ_BENCH_WARMUP (3 seconds before it), RARAROZ_BENCH_BUSES
// ("virtualcan,localcan"), RARAROZ_BENCH_WINDOWS ("standby-idle,treatment,flood").
//
// This program raises its own priority where allowed (the service runs at
// the normal one), so that its pace and clock stay true on a busy machine.
//
// The virtual bus is TCP on localhost: run this in a private network
// namespace (tests/run-isolated build/bench/bench_service; scripts/bench does)
// so that it never shares a bus with anyone else.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>

#include <cstdio>

#include "Priority.h"
#include "ResultTable.h"
#include "WindowRun.h"

namespace {

constexpr quint16 kVirtualBusPort = 35468;

int setting(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

QStringList listSetting(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    return (value.isEmpty() ? fallback : value).split(QLatin1Char(','), Qt::SkipEmptyParts);
}

QList<Window> windowsFrom(const QStringList &names)
{
    QList<Window> windows;
    for (Window window : {Window::StandbyIdle, Window::Treatment, Window::Flood})
        if (names.contains(WindowRun::name(window)))
            windows.append(window);
    return windows;
}

// Someone else's virtual bus on this machine would mix their frames with ours.
bool virtualBusIsFree()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, kVirtualBusPort);
}

void quietMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// SocketCAN keeps a couple of hundred frames waiting per socket; a Unix packet
// socket, which the local bus uses, only net.unix.max_dgram_qlen, 10 by
// default, and a service that reads in bursts would lose frames no real bus
// would. Raised to match, but only in a network namespace of this program's
// own: the machine's setting is never touched.
void matchSocketCanQueue()
{
    if (QFileInfo(QStringLiteral("/proc/self/ns/net")).symLinkTarget() ==
        QFileInfo(QStringLiteral("/proc/1/ns/net")).symLinkTarget())
        return;
    QFile queue(QStringLiteral("/proc/sys/net/unix/max_dgram_qlen"));
    if (queue.open(QIODevice::WriteOnly))
        queue.write("256");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::addLibraryPath(QStringLiteral(RARAROZ_BENCH_PLUGIN_DIR));
    qInstallMessageHandler(quietMessages); // the virtual bus's chatter
    matchSocketCanQueue();

    RunSettings settings;
    settings.warmupMs = setting("RARAROZ_BENCH_WARMUP", 3) * 1000;
    settings.measureMs = setting("RARAROZ_BENCH_SECONDS", 10) * 1000;
    const int runs = setting("RARAROZ_BENCH_RUNS", 3);
    QStringList buses = listSetting("RARAROZ_BENCH_BUSES", QStringLiteral("virtualcan,localcan"));
    const QList<Window> windows =
        windowsFrom(listSetting("RARAROZ_BENCH_WINDOWS", QStringLiteral("standby-idle,treatment,flood")));

    if (buses.contains(QLatin1String("virtualcan")) && !virtualBusIsFree()) {
        std::printf("virtualcan skipped: port %u is taken, another virtual bus runs here; "
                    "run this in a private network namespace (tests/run-isolated)\n",
                    kVirtualBusPort);
        buses.removeAll(QStringLiteral("virtualcan"));
    }
    const bool raised = Priority::raiseOwn();
    std::printf("%d runs of %d s after %d s of warm-up per bus and window; this program at %s priority\n", runs,
                settings.measureMs / 1000, settings.warmupMs / 1000, raised ? "raised" : "normal");
    std::fflush(stdout);

    ResultTable table;
    int failures = 0;
    for (int run = 1; run <= runs; ++run) {
        for (const QString &bus : buses) {
            for (Window window : windows) {
                const RunResult result = WindowRun(bus, window, settings).run();
                table.add(bus, window, result);
                if (result.ok)
                    std::printf("run %d %s %s: CPU %.2f %%, %.0f wake-ups/s, %zu acknowledgements\n", run,
                                qPrintable(bus), qPrintable(WindowRun::name(window)), result.usage.cpuPercent,
                                result.usage.wakeupsPerSecond, size_t(result.traffic.latenciesMs.size()));
                else
                    std::printf("run %d %s %s FAILED: %s\n", run, qPrintable(bus), qPrintable(WindowRun::name(window)),
                                qPrintable(result.error));
                std::fflush(stdout);
                failures += result.ok ? 0 : 1;
            }
        }
    }

    std::printf("\n");
    for (const QString &bus : buses)
        for (Window window : windows) {
            table.printWindow(bus, window);
            std::printf("\n");
        }
    table.printSummary();
    return failures == 0 ? 0 : 1;
}
