#include <QtTest>

#include <cmath>
#include <limits>

#include "rararoz/ChartNames.h"
#include "rararoz/PressureRing.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// The simulated arterial, venous and transmembrane pressures: the sample
// rings, the limit state machine, the limits around the stable pressures,
// the widen and limits-change requests and the pressure broadcast.

namespace {

using Messages = SimulatorDriver::Messages;

constexpr int kStabilizationTicks = 600;
constexpr int kStableTicks = 9000;

struct Expected {
    qint32 arterialMin, arterialMax, venousMin, venousMax;
    float tmpMin, tmpMax;
};

// The limits in STABLE, computed here from the stable values and windows.
Expected closedLimits(const Pressure_Vars &p)
{
    auto clamp64 = [](qint64 v) {
        return qint32(qBound<qint64>(std::numeric_limits<qint32>::min(), v, std::numeric_limits<qint32>::max()));
    };
    const qint64 arterialHalf = qint64(p.arterialPresLimitWindowMMHG) / 2;
    const qint64 tmpHalf = qint64(p.tmpPresLimitWindowMMHG) / 2;
    return {clamp64(qMax<qint64>(p.arterialStableMMHG - arterialHalf, -300)),
            clamp64(qMin<qint64>(p.arterialStableMMHG + arterialHalf, 100)),
            clamp64(qMax<qint64>(qint64(p.venousStableMMHG) - p.venousPresLowLimitWindowMMHG, 20)),
            clamp64(qMin<qint64>(qint64(p.venousStableMMHG) + p.venousPresHighLimitWindowMMHG, 400)),
            qMax(float(p.tmpStableMMHG - tmpHalf), 0.0f),
            qMin(float(p.tmpStableMMHG + tmpHalf), 100.0f)};
}

bool hasWideLimits(const Pressure_Vars &p)
{
    return p.arterialMinLimitMMHG == -300 && p.arterialMaxLimitMMHG == 100 && p.venousMinLimitMMHG == 20 &&
           p.venousMaxLimitMMHG == 400 && p.tmpMinLimitMMHG == 0.0f && p.tmpMaxLimitMMHG == 100.0f;
}

bool hasClosedLimits(const Pressure_Vars &p)
{
    const Expected e = closedLimits(p);
    return p.arterialMinLimitMMHG == e.arterialMin && p.arterialMaxLimitMMHG == e.arterialMax &&
           p.venousMinLimitMMHG == e.venousMin && p.venousMaxLimitMMHG == e.venousMax &&
           p.tmpMinLimitMMHG == e.tmpMin && p.tmpMaxLimitMMHG == e.tmpMax;
}

QByteArray windows(quint32 arterial, quint32 venousHigh, quint32 venousLow, quint32 tmp)
{
    return SimulatorDriver::u32(arterial) + SimulatorDriver::u32(venousHigh) + SimulatorDriver::u32(venousLow) +
           SimulatorDriver::u32(tmp);
}

bool isFiniteMessage(const QVariantList &message)
{
    for (int i = 2; i < message.size(); ++i)
        if (message.at(i).userType() == QMetaType::Float && !std::isfinite(message.at(i).toFloat()))
            return false;
    return true;
}

} // namespace

class TestPressures : public SimulatorTest
{
    Q_OBJECT

private:
    const Pressure_Vars &pressure() const { return d().controller().pressureVars(); }

    // Ticks until the limit state is state, at most limit ticks; the number
    // of ticks taken, or -1.
    int ticksUntil(Pressure_Limits_States state, int limit)
    {
        for (int i = 1; i <= limit; ++i) {
            d().tick();
            if (pressure().presLimitState == state)
                return i;
        }
        return -1;
    }

    // Into Treatment and on until the limits have closed.
    void enterStableTreatment()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        QVERIFY(ticksUntil(PRESSURE_LIMITS_STATE_STABLE, kStabilizationTicks + 10) > 0);
    }

private slots:

    void ringKeepsItsRunningSum()
    {
        Pressure_Vars p;
        PressureRing ring(p.arterialRawMMHG, p.arterialIndex, p.arterialRunningSumMMHG);
        for (int i = 1; i <= 10; ++i)
            ring.add(float(i));
        QCOMPARE(p.arterialRunningSumMMHG, 55.0f);
        QCOMPARE(ring.average(), 5.5f);
        QCOMPARE(p.arterialIndex, 0u);
        // The eleventh sample replaces the first.
        ring.add(21.0f);
        QCOMPARE(p.arterialRawMMHG[0], 21.0f);
        QCOMPARE(p.arterialRunningSumMMHG, 75.0f);
        QCOMPARE(p.arterialIndex, 1u);
        // An index out of the ring (never written so) still lands inside it.
        p.arterialIndex = 4000000000u;
        ring.add(0.0f);
        QVERIFY(p.arterialIndex < 10u);
    }

    void controlledRingClosesLimitsAroundRoundedAverage()
    {
        // Nine samples of -120 and one of -124: an average of -120.4, which
        // latches to -120; with the window of 50 the limits become -145 and -95.
        Pressure_Vars p;
        PressureRing ring(p.arterialRawMMHG, p.arterialIndex, p.arterialRunningSumMMHG);
        for (int i = 0; i < 9; ++i)
            ring.add(-120.0f);
        ring.add(-124.0f);
        QCOMPARE(ring.average(), -120.4f);
        const qint32 stable = PressureLimits::latch(double(ring.average()));
        QCOMPARE(stable, -120);
        const qint64 half = PressureLimits::half(50);
        QCOMPARE(PressureLimits::lower(stable, half, -300), -145);
        QCOMPARE(PressureLimits::upper(stable, half, 100), -95);
    }

    void latchRoundsHalvesAwayFromZero()
    {
        QCOMPARE(PressureLimits::latch(120.5), 121);
        QCOMPARE(PressureLimits::latch(-120.5), -121);
        QCOMPARE(PressureLimits::latch(-120.4), -120);
        QCOMPARE(PressureLimits::latch(120.49), 120);
        QCOMPARE(PressureLimits::latch(-0.4), 0);
        // Beyond the field, and not a number: saturated, and 0.
        QCOMPARE(PressureLimits::latch(1e12), std::numeric_limits<qint32>::max());
        QCOMPARE(PressureLimits::latch(-1e12), std::numeric_limits<qint32>::min());
        QCOMPARE(PressureLimits::latch(std::numeric_limits<double>::infinity()), std::numeric_limits<qint32>::max());
        QCOMPARE(PressureLimits::latch(std::nan("")), 0);
    }

    void windowOfSevenHasHalfWindowOfThree()
    {
        QCOMPARE(PressureLimits::half(7), qint64(3));
        QCOMPARE(PressureLimits::half(-7), qint64(-3));
        QCOMPARE(PressureLimits::half(std::numeric_limits<qint32>::min()), qint64(-1073741824));
        QCOMPARE(PressureLimits::lower(-120, 3, -300), -123);
        QCOMPARE(PressureLimits::upper(-120, 3, 100), -117);
        // Huge offsets saturate instead of overflowing.
        QCOMPARE(PressureLimits::lower(std::numeric_limits<qint32>::min(), 4294967295LL, -300), -300);
        QCOMPARE(PressureLimits::lower(std::numeric_limits<qint32>::max(), -4294967295LL, -300),
                 std::numeric_limits<qint32>::max());
        QCOMPARE(PressureLimits::upper(std::numeric_limits<qint32>::min(), -4294967295LL, 100),
                 std::numeric_limits<qint32>::min());
    }

    void sampleLiesBetweenLimitsEvenReversed()
    {
        QCOMPARE(PressureLimits::sampleBetween(0.0, -300, 100), -300.0);
        QCOMPARE(PressureLimits::sampleBetween(0.5, -300, 100), -100.0);
        // Reversed: between them all the same.
        const double reversed = PressureLimits::sampleBetween(0.25, 100, -300);
        QVERIFY(reversed <= 100.0 && reversed >= -300.0);
        const double huge = PressureLimits::sampleBetween(0.999, std::numeric_limits<qint32>::max(),
                                                          std::numeric_limits<qint32>::min());
        QVERIFY(std::isfinite(huge));
    }

    void limitStateMachineInTreatment()
    {
        // Entry, then the first step: OFF becomes IDLE.
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_IDLE);
        d().tick();
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_WIDE);
        d().tick();
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_STABILIZATION);
        QCOMPARE(pressure().presStabilizeTimePeriod, USE_NORMAL_STABILIZATION_PERIOD);
        QCOMPARE(pressure().presStabilizationTimerCtr, 0u);
        // 60 s: the 600th stabilising step closes the limits.
        for (int i = 1; i < kStabilizationTicks; ++i) {
            d().tick();
            QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_STABILIZATION);
            QVERIFY(hasWideLimits(pressure()));
        }
        QCOMPARE(pressure().presStabilizeTimeoutMS, 60000u);
        d().tick();
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_STABLE);
        QCOMPARE(pressure().presStabilizationTimerCtr, 0u);
        QVERIFY(hasClosedLimits(pressure()));
    }

    void limitsCloseAroundRoundedAverages()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        // The latch takes the averages of the last broadcast before it.
        float arterial = 0, venous = 0, tmp = 0;
        for (int i = 0; i < kStabilizationTicks + 10 && pressure().presLimitState != PRESSURE_LIMITS_STATE_STABLE;
             ++i) {
            arterial = pressure().arterialFilteredMMHG;
            venous = pressure().venousFilteredMMHG;
            tmp = pressure().tmpFilteredMMHG;
            d().tick();
        }
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_STABLE);
        QCOMPARE(pressure().arterialStableMMHG, qint32(std::lround(double(arterial))));
        QCOMPARE(pressure().venousStableMMHG, qint32(std::lround(double(venous))));
        QCOMPARE(pressure().tmpStableMMHG, qint32(std::lround(double(tmp))));
        const Expected e = closedLimits(pressure());
        QCOMPARE(pressure().arterialMinLimitMMHG, e.arterialMin);
        QCOMPARE(pressure().arterialMaxLimitMMHG, e.arterialMax);
        QCOMPARE(pressure().arterialMaxLimitMMHG - pressure().arterialMinLimitMMHG, 50);
        QCOMPARE(pressure().venousMinLimitMMHG, e.venousMin);
        QCOMPARE(pressure().venousMaxLimitMMHG, e.venousMax);
        QCOMPARE(pressure().tmpMinLimitMMHG, e.tmpMin);
        QCOMPARE(pressure().tmpMaxLimitMMHG, e.tmpMax);

        // From now on every sample lies within the closed limits.
        d().ticks(10);
        for (float sample : pressure().arterialRawMMHG)
            QVERIFY(sample >= float(e.arterialMin) && sample <= float(e.arterialMax));
        for (float sample : pressure().venousRawMMHG)
            QVERIFY(sample >= float(e.venousMin) && sample <= float(e.venousMax));
    }

    void stablePressuresRefreshEveryFifteenMinutes()
    {
        enterStableTreatment();
        QCOMPARE(ticksUntil(PRESSURE_LIMITS_STATE_STABILIZATION, kStableTicks + 10), kStableTicks);
        QCOMPARE(pressure().presStabilizeTimePeriod, STABILIZATION_PERIOD_OFF);
        d().tick();
        QVERIFY(hasWideLimits(pressure()));
        QCOMPARE(ticksUntil(PRESSURE_LIMITS_STATE_STABLE, kStabilizationTicks + 10), kStabilizationTicks - 1);
        QCOMPARE(pressure().presStabilizeTimePeriod, USE_NORMAL_STABILIZATION_PERIOD);
    }

    void widenRequestRestartsStabilisation()
    {
        enterStableTreatment();
        d().ticks(100);
        d().requestWithoutPayload(Can::ID_UI_PRESSURE_LIMIT_WIDEN_RQST);
        d().tick();
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_STABILIZATION);
        QCOMPARE(pressure().presStabilizationTimerCtr, 0u);
        const Messages answer = SimulatorDriver::withId(d().tick(), Can::ID_TD_PRESSURE_LIMIT_WIDEN_RESP);
        QCOMPARE(answer.size(), 1);
        QCOMPARE(answer.first().at(1).toInt(), int(Can::eChlid_TD_UI));
        QCOMPARE(SimulatorDriver::payloadBytes(answer.first()), encodedPayload({1u, 0}));
        QVERIFY(hasWideLimits(pressure()));
        // A full 60 s again.
        QCOMPARE(ticksUntil(PRESSURE_LIMITS_STATE_STABLE, kStabilizationTicks + 10), kStabilizationTicks - 1);
    }

    void widenRequestDuringStabilisationRestartsIt()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().ticks(300);
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_STABILIZATION);
        d().requestWithoutPayload(Can::ID_UI_PRESSURE_LIMIT_WIDEN_RQST);
        // The tick that serves it counts once more, then starts again at 0.
        QCOMPARE(ticksUntil(PRESSURE_LIMITS_STATE_STABLE, 2 * kStabilizationTicks), kStabilizationTicks + 1);
    }

    void widenRequestOutsideSettlingOnlyAnswers()
    {
        // In Blood_Prime the limits stay wide; the request is answered all
        // the same.
        QVERIFY(d().enterByDemoMenu(CMD_BLOOD_PRIME, Chart::State::Blood_Prime));
        d().ticks(3);
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_WIDE);
        d().requestWithoutPayload(Can::ID_UI_PRESSURE_LIMIT_WIDEN_RQST);
        const Messages sent = d().ticks(2);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_PRESSURE_LIMIT_WIDEN_RESP).size(), 1);
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_WIDE);
    }

    void bolusRestartsStabilisation()
    {
        // Uses the fluid bolus request, served with the blood prime and bolus handlers.
        enterStableTreatment();
        d().request(Can::ID_UI_FLUID_BOLUS_RQST, SimulatorDriver::u32(1));
        d().tick();
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_STABILIZATION);
        // Treatment serves the bolus before the limit state's step, which
        // already counted the restarted stabilisation once.
        QCOMPARE(pressure().presStabilizationTimerCtr, 1u);
        d().tick();
        QVERIFY(hasWideLimits(pressure()));
        QCOMPARE(ticksUntil(PRESSURE_LIMITS_STATE_STABLE, kStabilizationTicks + 10), kStabilizationTicks - 2);
    }

    void limitsChangeRequestStoresWindowsAndLatches()
    {
        enterStableTreatment();
        d().ticks(25);
        d().request(Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST, windows(7, 60, 30, 9));
        d().tick();
        // Latched from the averages as they were when the request was served.
        const float arterial = pressure().arterialFilteredMMHG;
        QCOMPARE(pressure().arterialPresLimitWindowMMHG, 7);
        QCOMPARE(pressure().venousPresHighLimitWindowMMHG, 60);
        QCOMPARE(pressure().venousPresLowLimitWindowMMHG, 30);
        QCOMPARE(pressure().tmpPresLimitWindowMMHG, 9);
        QCOMPARE(pressure().arterialStableMMHG, PressureLimits::latch(double(arterial)));
        const Messages answer = SimulatorDriver::withId(d().tick(), Can::ID_TD_PRESSURE_LIMITS_CHANGE_RESP);
        QCOMPARE(answer.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(answer.first()), encodedPayload({1u, 0, 0, 0, 0}));
        // A window of 7 is a half window of 3 on either side.
        QVERIFY(hasClosedLimits(pressure()));
        const Expected e = closedLimits(pressure());
        QCOMPARE(e.arterialMin, qMax(pressure().arterialStableMMHG - 3, -300));
        QCOMPARE(e.arterialMax, qMin(pressure().arterialStableMMHG + 3, 100));
        QCOMPARE(pressure().venousMinLimitMMHG, qMax(pressure().venousStableMMHG - 30, 20));
        QCOMPARE(pressure().venousMaxLimitMMHG, qMin(pressure().venousStableMMHG + 60, 400));
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_STABLE);
    }

    void limitsChangeIsServedInTreatmentOnly()
    {
        // Parked in Blood_Prime, served on the first Treatment step.
        QVERIFY(d().enterByDemoMenu(CMD_BLOOD_PRIME, Chart::State::Blood_Prime));
        d().request(Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST, windows(7, 60, 30, 9));
        d().ticks(5);
        QVERIFY(d().controller().receivedRequests().isParked(Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST));
        QCOMPARE(pressure().arterialPresLimitWindowMMHG, 50);
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST));
        QCOMPARE(pressure().arterialPresLimitWindowMMHG, 7);
    }

    void repeatedLimitsChangeInOneTickServesTheLast()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().request(Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST, windows(7, 60, 30, 9));
        d().request(Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST, windows(11, 12, 13, 14));
        const Messages sent = d().ticks(2);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_PRESSURE_LIMITS_CHANGE_RESP).size(), 1);
        QCOMPARE(pressure().arterialPresLimitWindowMMHG, 11);
        QCOMPARE(pressure().tmpPresLimitWindowMMHG, 14);
    }

    void badWindowsNeverBreakTheLimits_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("zero") << windows(0, 0, 0, 0);
        QTest::newRow("huge") << windows(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF);
        QTest::newRow("most negative") << windows(0x80000000, 0x80000000, 0x80000000, 0x80000000);
        QTest::newRow("minus one") << windows(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
        QTest::newRow("reversed") << windows(quint32(-400), quint32(-300), quint32(-200), quint32(-150));
        QTest::newRow("short") << QByteArray(6, '\x7F');
        QTest::newRow("empty") << QByteArray("");
    }

    void badWindowsNeverBreakTheLimits()
    {
        QFETCH(QByteArray, payload);
        enterStableTreatment();
        d().request(Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST, payload);
        Messages sent = d().ticks(2);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_PRESSURE_LIMITS_CHANGE_RESP).size(), 1);
        // Through a refresh and a second stable phase.
        for (int i = 0; i < kStableTicks + 2 * kStabilizationTicks; ++i) {
            const Messages tickSent = SimulatorDriver::withId(d().tick(), Can::ID_TD_PRESSURE_DATA);
            for (const QVariantList &message : tickSent)
                QVERIFY(isFiniteMessage(message));
            if (pressure().presLimitState == PRESSURE_LIMITS_STATE_STABLE)
                QVERIFY(hasClosedLimits(pressure()));
            for (float sample : pressure().arterialRawMMHG)
                QVERIFY(std::isfinite(sample));
        }
        QCOMPARE(d().state(), Chart::State::Treatment);
    }

    void zeroWindowsPinTheSamplesToTheStableValues()
    {
        enterStableTreatment();
        d().request(Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST, windows(0, 0, 0, 0));
        d().ticks(12);
        const qint32 arterial = pressure().arterialStableMMHG;
        QCOMPARE(pressure().arterialMinLimitMMHG, arterial);
        QCOMPARE(pressure().arterialMaxLimitMMHG, arterial);
        for (float sample : pressure().arterialRawMMHG)
            QCOMPARE(sample, float(arterial));
    }

    void pumpStoppedAlternatesIdleAndWide()
    {
        // Uses the blood prime pause, served with the blood prime handlers.
        QVERIFY(d().enterByDemoMenu(CMD_BLOOD_PRIME, Chart::State::Blood_Prime));
        d().ticks(3);
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_WIDE);
        d().request(Can::ID_UI_BLOOD_PRIME_CMD_RQST, SimulatorDriver::u32(0));
        d().ticks(2);
        QVERIFY(!d().controller().treatmentStatus().isBloodPumpRunning);
        Pressure_Limits_States previous = pressure().presLimitState;
        for (int i = 0; i < 40; ++i) {
            d().tick();
            const Pressure_Limits_States now = pressure().presLimitState;
            QVERIFY(now == PRESSURE_LIMITS_STATE_IDLE || now == PRESSURE_LIMITS_STATE_WIDE);
            QVERIFY(now != previous);
            QVERIFY(hasWideLimits(pressure()));
            previous = now;
        }
    }

    void limitsStayWideOutsideDialysis_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("ticks");
        // Blood prime ends once its volume is in, well before 60 s.
        QTest::newRow("Blood_Prime") << int(CMD_BLOOD_PRIME) << QString(Chart::State::Blood_Prime) << 250;
        QTest::newRow("Treatment_Rinseback")
            << int(CMD_RINSEBACK) << QString(Chart::State::Treatment_Rinseback) << kStabilizationTicks + 50;
    }

    void limitsStayWideOutsideDialysis()
    {
        QFETCH(int, command);
        QFETCH(QString, state);
        QFETCH(int, ticks);
        QVERIFY(d().enterByDemoMenu(User_Command_ID(command), state));
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_IDLE);
        for (int i = 0; i < ticks; ++i) {
            d().tick();
            QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_WIDE);
            QVERIFY(hasWideLimits(pressure()));
        }
    }

    void limitsStayOffWhereNotSimulated()
    {
        QVERIFY(d().enterByDemoMenu(CMD_RICIRCULATE, Chart::State::Treatment_Recirculate));
        d().ticks(30);
        QCOMPARE(pressure().presLimitState, PRESSURE_LIMITS_STATE_OFF);
        QCOMPARE(SimulatorDriver::withId(d().ticks(20), Can::ID_TD_PRESSURE_DATA).size(), 0);
    }

    void broadcastOncePerSecondWithFourteenFields()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        QList<int> at;
        Messages all;
        for (int i = 0; i < 50; ++i) {
            const Messages sent = SimulatorDriver::withId(d().tick(), Can::ID_TD_PRESSURE_DATA);
            if (!sent.isEmpty())
                at << d().tickCount();
            all.append(sent);
            if (!sent.isEmpty()) {
                // Queued on the tick before, with the averages of that tick.
                const QVariantList &message = sent.first();
                QCOMPARE(message.size(), 2 + 14);
                QCOMPARE(message.at(1).toInt(), int(Can::eChlid_TD_Sync));
                QCOMPARE(SimulatorDriver::field(message, 0).toFloat(), pressure().arterialFilteredMMHG);
                QCOMPARE(SimulatorDriver::field(message, 1).toFloat(), pressure().venousFilteredMMHG);
                QCOMPARE(SimulatorDriver::field(message, 9).toFloat(), pressure().tmpFilteredMMHG);
                QCOMPARE(SimulatorDriver::field(message, 7).toFloat(), 0.0f);
                QCOMPARE(SimulatorDriver::field(message, 8).toFloat(), 0.0f);
                QCOMPARE(SimulatorDriver::field(message, 10).toFloat(), 0.0f);
                QCOMPARE(SimulatorDriver::field(message, 13).toFloat(), 14.2f);
                QCOMPARE(SimulatorDriver::field(message, 3).toInt(), -300);
                QCOMPARE(SimulatorDriver::field(message, 6).toInt(), 400);
                QCOMPARE(SimulatorDriver::payloadBytes(message).size(), 14 * 4);
            }
        }
        QCOMPARE(at.size(), 5);
        for (int i = 1; i < at.size(); ++i)
            QCOMPARE(at.at(i) - at.at(i - 1), 10);
    }

    void venousLimitsEncloseStableValueOverFourHours()
    {
        // Four hours of Treatment ticks; a Treatment started from the demo
        // menu runs its last two hours, so it is started again as often as
        // it takes. Every stable venous value lies inside the venous limits
        // computed from it, and the venous pressure does not sink to the floor.
        constexpr int kFourHoursTicks = 4 * 36000;
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        int treatmentTicks = 0;
        int latches = 0;
        qint32 lowestStable = 400;
        bool wasStable = false;
        while (treatmentTicks < kFourHoursTicks) {
            if (d().state() != Chart::State::Treatment) {
                QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
                wasStable = false;
            }
            d().tick();
            ++treatmentTicks;
            const Pressure_Vars &p = pressure();
            const bool stable = p.presLimitState == PRESSURE_LIMITS_STATE_STABLE;
            if (stable && !wasStable) {
                ++latches;
                lowestStable = qMin(lowestStable, p.venousStableMMHG);
                QCOMPARE(p.venousMinLimitMMHG, qMax(p.venousStableMMHG - 35, 20));
                QCOMPARE(p.venousMaxLimitMMHG, qMin(p.venousStableMMHG + 50, 400));
            }
            if (stable) {
                QVERIFY2(p.venousMinLimitMMHG <= p.venousStableMMHG && p.venousStableMMHG <= p.venousMaxLimitMMHG,
                         qPrintable(QStringLiteral("%1 outside %2..%3")
                                        .arg(p.venousStableMMHG)
                                        .arg(p.venousMinLimitMMHG)
                                        .arg(p.venousMaxLimitMMHG)));
            }
            wasStable = stable;
        }
        QVERIFY(latches >= 14);
        QVERIFY(lowestStable > 20 + 35);
    }
};

QTEST_GUILESS_MAIN(TestPressures)
#include "tst_pressures.moc"
