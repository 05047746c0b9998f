// The soak: the whole service in simulated time with a seeded random UI.
// rararoz-soak [--ticks N] [--seed S]; a tick is 100 ms of treatment time.
// On a fault it prints the seed and tick; the same arguments replay it.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <unistd.h>

#include "soak/SoakRig.h"

namespace {

constexpr qint64 kTicksPerHour = 36000;
// Memory a healthy run may gain after its first simulated hour: caches and
// allocator slack, not a leak.
constexpr qint64 kGrowthMaxKb = 16 * 1024;

qint64 rssKb()
{
    long pages = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        long size = 0;
        if (std::fscanf(statm, "%ld %ld", &size, &pages) != 2)
            pages = 0;
        std::fclose(statm);
    }
    return qint64(pages) * sysconf(_SC_PAGESIZE) / 1024;
}

qint64 argument(const QStringList &arguments, const QString &name, qint64 fallback)
{
    const int at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toLongLong() : fallback;
}

} // namespace

int main(int argc, char **argv)
{
    // The service's debug lines would be most of the run's time and output.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const qint64 ticks = argument(arguments, QStringLiteral("--ticks"), 6000000);
    const auto seed = quint64(argument(arguments, QStringLiteral("--seed"), 1));

    SoakRig rig(seed);
    QString error;
    if (!rig.setUp(error)) {
        std::fprintf(stderr, "soak: %s\n", qPrintable(error));
        return 2;
    }
    const qint64 rssStart = rssKb();
    std::printf("soak: seed %llu, %lld ticks (%.1f h simulated); memory at start %lld kB\n",
                static_cast<unsigned long long>(seed), ticks, double(ticks) / kTicksPerHour, rssStart);
    std::fflush(stdout);
    QElapsedTimer wall;
    wall.start();

    qint64 rssWarm = -1;
    bool ok = true;
    while (ok && rig.ticks() < ticks) {
        ok = rig.run(qMin(kTicksPerHour, ticks - rig.ticks()));
        if (rssWarm < 0)
            rssWarm = rssKb();
        if (rig.ticks() % (24 * kTicksPerHour) == 0) {
            std::printf("  %lld h simulated, %.0f s, memory %lld kB\n", rig.ticks() / kTicksPerHour,
                        wall.elapsed() / 1000.0, rssKb());
            std::fflush(stdout);
        }
    }
    const qint64 rssEnd = rssKb();
    std::printf("%s\nwall time %.1f s; memory %lld kB at start, %lld kB after the first hour, %lld kB at the end\n",
                qPrintable(rig.report()), wall.elapsed() / 1000.0, rssStart, rssWarm, rssEnd);
    if (ok && rssEnd - rssWarm > kGrowthMaxKb) {
        std::printf("SOAK FAILED: memory grew by %lld kB after the first hour (seed %llu)\n", rssEnd - rssWarm,
                    static_cast<unsigned long long>(seed));
        return 1;
    }
    if (!ok) {
        std::printf("SOAK FAILED at tick %lld (%.2f h simulated), seed %llu: %s\n"
                    "replay: rararoz-soak --seed %llu --ticks %lld\n",
                    rig.ticks(), double(rig.ticks()) / kTicksPerHour, static_cast<unsigned long long>(seed),
                    qPrintable(rig.problem()), static_cast<unsigned long long>(seed), rig.ticks());
        return 1;
    }
    std::printf("soak passed\n");
    return 0;
}
