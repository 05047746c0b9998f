// Cost of one simulator tick in Treatment, the busiest state: the tick's own
// work (flushing both lists to the application controller, check-in, alarm
// status) plus the Treatment step with every handler it calls. Runs cover
// whole seconds of simulated time, so each periodic broadcast goes out once
// per ten ticks as in service; the slowest of the ten tick phases is given
// too. Each figure is the median of several runs.
// Run: build/bench/bench_simulator

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVariantList>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "ApplicationController.h"
#include "rararoz/ChartNames.h"
#include "rararoz/StateController.h"

namespace {

constexpr int kRuns = 7;
constexpr int kTicksPerRun = 20000;
constexpr int kPhases = 10;

QByteArray u32(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

void quietMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// Into Treatment through the demo menu, as the UI's hidden menu does it.
bool enterTreatment(StateController &controller)
{
    controller.doStateControllerUnhandledMsgReceived(
        {int(Can::ID_UI_CONFIRMATION_RESULT_RESP), 0, u32(99) + u32(CMD_MAIN_TX)});
    for (int i = 0; i < 10; ++i)
        controller.tick();
    if (controller.getActiveStateName() != Chart::State::Treatment) {
        std::fprintf(stderr, "the simulator did not reach Treatment\n");
        return false;
    }
    for (int i = 0; i < 50; ++i)
        controller.tick();
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietMessages); // console lines are not the hot path

    // Whatever the controller hands on is counted, as the dispatcher's
    // queued connection would take it.
    quint64 sent = 0;
    QObject::connect(&ApplicationController::I(), &ApplicationController::didActionTransmit,
                     [&sent](const QVariantList &list) { sent += quint64(list.size()); });

    StateController controller;
    controller.tick();
    std::vector<double> perTick;
    std::array<std::vector<double>, kPhases> perPhase;
    for (int run = 0; run < kRuns; ++run) {
        // Each run starts on a fresh treatment (its time would otherwise run
        // out over all the runs) and warms up for a few seconds.
        if (!enterTreatment(controller))
            return 1;
        std::array<qint64, kPhases> phaseNs{};
        QElapsedTimer total;
        total.start();
        for (int i = 0; i < kTicksPerRun; ++i) {
            QElapsedTimer one;
            one.start();
            controller.tick();
            phaseNs[size_t(i % kPhases)] += one.nsecsElapsed();
        }
        perTick.push_back(double(total.nsecsElapsed()) / 1e3 / kTicksPerRun);
        for (int phase = 0; phase < kPhases; ++phase)
            perPhase[size_t(phase)].push_back(double(phaseNs[size_t(phase)]) / 1e3 / (kTicksPerRun / kPhases));
    }
    double slowestPhase = 0.0;
    for (const auto &phase : perPhase)
        slowestPhase = std::max(slowestPhase, median(phase));

    std::printf("simulator tick in Treatment: %.2f us per tick (slowest tick phase %.2f us), "
                "%.3f %% of a core at 10 ticks/s\n",
                median(perTick), slowestPhase, median(perTick) * 10.0 / 1e6 * 100.0);
    std::printf("(%llu values handed on, state %s)\n", static_cast<unsigned long long>(sent),
                qPrintable(controller.getActiveStateName()));
    return 0;
}
