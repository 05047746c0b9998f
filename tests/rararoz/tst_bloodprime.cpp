#include <QtTest>

#include "rararoz/BloodPrimeRamp.h"
#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// The blood prime with its flow ramp, pause allowance and progress
// broadcast, and the fluid bolus in blood prime and treatment.

namespace {

using Messages = SimulatorDriver::Messages;

QList<quint32> rampFrom(quint32 flow, quint32 target, int seconds)
{
    const float step = BloodPrimeRamp::stepMLPM(target);
    QList<quint32> flows;
    for (int second = 0; second < seconds; ++second) {
        flow = BloodPrimeRamp::nextFlowMLPM(flow, step, target);
        flows << flow;
    }
    return flows;
}

} // namespace

class TestBloodPrime : public SimulatorTest
{
    Q_OBJECT

private:
    const Blood_Prime_Vars &prime() { return d().controller().bloodPrimeVars(); }
    const Treatment_Sub_State_Vars &subStates() { return d().controller().treatmentSubStates(); }

    // Blood_Prime entered from the demo menu; only its entry step has run.
    void enterBloodPrime()
    {
        d().tick();
        d().demoMenu(CMD_BLOOD_PRIME);
        QVERIFY(d().tickUntilState(Chart::State::Blood_Prime));
        QCOMPARE(prime().currBloodFlowMLPM, 250u);
        QCOMPARE(prime().accumBloodVolML, 0.0f);
    }
    void primeCommand(quint32 command) { d().request(Can::ID_UI_BLOOD_PRIME_CMD_RQST, SimulatorDriver::u32(command)); }
    void bolusCommand(quint32 command) { d().request(Can::ID_UI_FLUID_BOLUS_RQST, SimulatorDriver::u32(command)); }

private slots:

    // Ramp -----------------------------------------------------------------

    void rampStepSpreadsTheWayOverSixtySeconds()
    {
        QCOMPARE(BloodPrimeRamp::stepMLPM(400), 2.5f);
        QCOMPARE(BloodPrimeRamp::stepMLPM(200), -50.0f / 60.0f);
        QCOMPARE(BloodPrimeRamp::stepMLPM(250), 0.0f);
        QCOMPARE(BloodPrimeRamp::stepMLPM(104), -146.0f / 60.0f);
        QCOMPARE(BloodPrimeRamp::stepMLPM(0), -250.0f / 60.0f);
    }

    void rampTo400LosesTheFractionAndArrivesAfter75Seconds()
    {
        const QList<quint32> flows = rampFrom(250, 400, 80);
        QCOMPARE(flows.mid(0, 4), (QList<quint32>{252, 254, 256, 258}));
        QCOMPARE(flows.at(73), 398u);
        QCOMPARE(flows.at(74), 400u);
        QCOMPARE(flows.last(), 400u);
    }

    void rampTo200FallsOneASecond()
    {
        const QList<quint32> flows = rampFrom(250, 200, 60);
        QCOMPARE(flows.mid(0, 3), (QList<quint32>{249, 248, 247}));
        QCOMPARE(flows.at(48), 201u);
        QCOMPARE(flows.at(49), 200u);
        QCOMPARE(flows.last(), 200u);
    }

    void rampStaysWithinTheFlowRange()
    {
        // Down to nothing and up to the largest flow, never past either.
        QCOMPARE(rampFrom(250, 0, 70).last(), 0u);
        QCOMPARE(rampFrom(250, 0xFFFFFFFFu, 70).last(), 0xFFFFFFFFu);
        QCOMPARE(BloodPrimeRamp::nextFlowMLPM(3, -250.0f / 60.0f, 0), 0u);
        QCOMPARE(BloodPrimeRamp::nextFlowMLPM(0xFFFFFFF0u, 1e30f, 0xFFFFFFFFu), 0xFFFFFFFFu);
    }

    // Blood prime -------------------------------------------------------------

    void bloodPrimeRampsOnceASecondAndEndsOnTheFirstTickAbove146_6()
    {
        enterBloodPrime();
        float previous = 0.0f;
        quint32 flow = 250;
        int ticks = 0;
        while (d().state() == Chart::State::Blood_Prime && status().stateTransitionEvent != Chart::Event::T_BP_2_Tx) {
            previous = prime().accumBloodVolML;
            d().tick();
            ++ticks;
            QVERIFY(prime().accumBloodVolML > previous);
            if (ticks % 10 == 0)
                flow += 2;
            QCOMPARE(prime().currBloodFlowMLPM, flow);
            // The first second at 250 mL/min.
            if (ticks == 10)
                QCOMPARE(prime().accumBloodVolML, 4.166667f);
            QVERIFY(ticks < 1000);
        }
        // 31.4 s of a ramp from 250 to 312 mL/min.
        QCOMPARE(ticks, 314);
        QVERIFY(double(previous) <= 146.6);
        QVERIFY(double(prime().accumBloodVolML) > 146.6);
        QCOMPARE(prime().accumBloodVolML, 146.7466f);
        QCOMPARE(status().stateTransitionEvent, Chart::Event::T_BP_2_Tx);

        // The final progress goes out at once, and Treatment follows.
        const Messages sent = d().tick();
        QCOMPARE(d().state(), Chart::State::Treatment);
        const Messages progress = SimulatorDriver::withId(sent, Can::ID_TD_BLOOD_PRIME_PROGRESS_DATA);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(SimulatorDriver::payloadBytes(progress.last()),
                 encodedPayload({146.6f, prime().accumBloodVolML, 0u, 0u}));
    }

    void setPointsFollowTheRampEveryTick()
    {
        enterBloodPrime();
        d().tick();
        QList<quint32> flows;
        for (int i = 0; i < 30; ++i) {
            const Messages setPoints = SimulatorDriver::withId(d().tick(), Can::ID_TD_TREATMENT_SET_POINTS);
            QCOMPARE(setPoints.size(), 1);
            flows << SimulatorDriver::field(setPoints.first(), 0).toUInt();
            QCOMPARE(SimulatorDriver::payloadBytes(setPoints.first()), encodedPayload({flows.last(), 350u, 37.0f}));
        }
        QCOMPARE(flows.first(), 250u);
        QCOMPARE(flows.count(252u), 10);
        QCOMPARE(flows.count(254u), 10);
    }

    void pauseCountdownStopsAtOneAndResumeClearsIt()
    {
        enterBloodPrime();
        primeCommand(0);
        d().tick();
        QCOMPARE(subStates().bloodPrimeState, BLOOD_PRIME_PAUSED_STATE);
        const Messages answered = d().tick();
        const Messages response = SimulatorDriver::withId(answered, Can::ID_TD_BLOOD_PRIME_CMD_RESP);
        QCOMPARE(response.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), encodedPayload({1u, 0}));
        const float volume = prime().accumBloodVolML;

        const Messages paused = d().ticks(3100);
        QCOMPARE(prime().accumBloodVolML, volume);
        QCOMPARE(status().isBloodPumpRunning, false);
        QList<quint32> countdown;
        for (const QVariantList &message : SimulatorDriver::withId(paused, Can::ID_TD_BLOOD_PRIME_PROGRESS_DATA)) {
            QCOMPARE(SimulatorDriver::field(message, 2).toUInt(), 300u);
            countdown << SimulatorDriver::field(message, 3).toUInt();
        }
        QVERIFY(countdown.size() >= 300);
        QVERIFY(countdown.first() >= 299u);
        for (int i = 1; i < countdown.size(); ++i)
            QVERIFY(countdown.at(i) <= countdown.at(i - 1));
        QCOMPARE(countdown.last(), 1u);
        QVERIFY(!countdown.contains(0u));
        QCOMPARE(d().state(), Chart::State::Blood_Prime);

        primeCommand(1);
        const Messages resumed = d().ticks(12);
        QCOMPARE(subStates().bloodPrimeState, BLOOD_PRIME_RUN_STATE);
        const Messages progress = SimulatorDriver::withId(resumed, Can::ID_TD_BLOOD_PRIME_PROGRESS_DATA);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(SimulatorDriver::field(progress.last(), 2).toUInt(), 0u);
        QCOMPARE(SimulatorDriver::field(progress.last(), 3).toUInt(), 0u);
        QVERIFY(prime().accumBloodVolML > volume);
    }

    void bloodFlowChangeFreezesTheRamp()
    {
        enterBloodPrime();
        d().ticks(12);
        d().request(Can::ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST, SimulatorDriver::u32(300));
        d().tick();
        QCOMPARE(prime().currBloodFlowMLPM, 300u);
        QVERIFY(prime().hasFlowChngeRequested);
        const Messages sent = d().ticks(40);
        for (const QVariantList &message : SimulatorDriver::withId(sent, Can::ID_TD_TREATMENT_SET_POINTS))
            QCOMPARE(SimulatorDriver::field(message, 0).toUInt(), 300u);
        QCOMPARE(prime().currBloodFlowMLPM, 300u);
        // The prescription itself is not changed.
        QCOMPARE(d().controller().treatmentParams().bloodFlowRateMLPM, 400u);
    }

    // Fluid bolus ----------------------------------------------------------

    void bolusInBloodPrimeHoldsThePrime()
    {
        enterBloodPrime();
        d().tick();
        bolusCommand(1);
        d().tick();
        QCOMPARE(subStates().fluidBolusState, FLUID_BOLUS_SALINE_IN_PROGRESS_STATE);
        const float volume = prime().accumBloodVolML;
        d().ticks(50);
        QCOMPARE(prime().accumBloodVolML, volume);
        QVERIFY(status().accumFluidBolusDeliveredML > 0.0f);
        // 100 mL at 250 mL/min: 240 ticks.
        d().tickUntil([this] { return subStates().fluidBolusState == FLUID_BOLUS_IDLE_STATE; }, 300);
        QCOMPARE(subStates().fluidBolusState, FLUID_BOLUS_IDLE_STATE);
        QVERIFY(status().totalFluidBolusDeliveredML >= 100.0f);
        d().ticks(2);
        QVERIFY(prime().accumBloodVolML > volume);
    }

    void bolusFreezesTheTreatmentClockAndUltrafiltration()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        bolusCommand(1);
        d().tick();
        const quint32 elapsedMS = status().treatmentElapsedTimeMS;
        const float removedL = status().ufVolDeliveredL;
        QCOMPARE(subStates().dialysisSubState, DIALYSIS_UF_PAUSED_STATE);
        const Messages response = SimulatorDriver::withId(d().tick(), Can::ID_TD_FLUID_BOLUS_RESP);
        QCOMPARE(response.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), encodedPayload({1u, 0u, 100u}));

        // 100 mL at 400 mL/min: 150 ticks, of which the last runs the
        // clock again.
        Messages during;
        int frozenTicks = 0;
        while (subStates().fluidBolusState != FLUID_BOLUS_IDLE_STATE && frozenTicks < 400) {
            during.append(d().tick());
            if (subStates().fluidBolusState == FLUID_BOLUS_IDLE_STATE)
                break;
            ++frozenTicks;
            QCOMPARE(status().treatmentElapsedTimeMS, elapsedMS);
            QCOMPARE(status().ufVolDeliveredL, removedL);
        }
        QCOMPARE(frozenTicks, 148);
        QCOMPARE(subStates().dialysisSubState, DIALYSIS_UF_STATE);
        // Times sent meanwhile all show the frozen clock.
        for (const QVariantList &message : SimulatorDriver::withId(during, Can::ID_TD_TREATMENT_TIME_DATA))
            QCOMPARE(SimulatorDriver::field(message, 1).toUInt(), elapsedMS / 1000);

        const Messages done = SimulatorDriver::withId(d().tick(), Can::ID_TD_FLUID_BOLUS_DATA);
        QVERIFY(!done.isEmpty());
        QCOMPARE(SimulatorDriver::payloadBytes(done.first()),
                 encodedPayload({100u, 0.0f, status().totalFluidBolusDeliveredML, 1}));
        d().ticks(20);
        QVERIFY(status().treatmentElapsedTimeMS > elapsedMS);
        QVERIFY(status().ufVolDeliveredL > removedL);
    }

    void secondStartKeepsTheSubStateToReturnTo()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        bolusCommand(1);
        d().tick();
        bolusCommand(1);
        d().tick();
        QCOMPARE(subStates().prevDialysisSubState, DIALYSIS_UF_STATE);
        d().tickUntil([this] { return subStates().fluidBolusState == FLUID_BOLUS_IDLE_STATE; }, 400);
        // Ultrafiltration runs again after the bolus.
        QCOMPARE(subStates().dialysisSubState, DIALYSIS_UF_STATE);
        const float removedL = status().ufVolDeliveredL;
        d().ticks(20);
        QVERIFY(status().ufVolDeliveredL > removedL);
    }

    void stopWithNoBolusRunningRestartsOnlyTheStabilisation()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().request(Can::ID_UI_UF_PAUSE_RESUME_RQST, SimulatorDriver::u32(0));
        QVERIFY(d().tickUntil(
            [this] { return d().controller().pressureVars().presLimitState == PRESSURE_LIMITS_STATE_STABLE; }, 700));
        QCOMPARE(subStates().dialysisSubState, DIALYSIS_UF_PAUSED_STATE);
        bolusCommand(0);
        d().tick();
        const Messages response = SimulatorDriver::withId(d().tick(), Can::ID_TD_FLUID_BOLUS_RESP);
        QCOMPARE(response.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), encodedPayload({1u, 0u, 100u}));
        QCOMPARE(d().controller().pressureVars().presLimitState, PRESSURE_LIMITS_STATE_STABILIZATION);
        QCOMPARE(subStates().dialysisSubState, DIALYSIS_UF_PAUSED_STATE);
        QCOMPARE(subStates().fluidBolusState, FLUID_BOLUS_IDLE_STATE);
        QCOMPARE(status().totalFluidBolusDeliveredML, 0.0f);
    }

    // While a bolus runs no UF volume is removed: a UF pause or resume, or
    // Treatment entered again, sets what the bolus returns to.
    void ufChangesDuringABolusWaitForItsEnd_data()
    {
        QTest::addColumn<quint32>("before"); // UF command before the bolus
        QTest::addColumn<QString>("during");
        QTest::addColumn<int>("after");
        QTest::newRow("pause") << 1u << "UF pause" << int(DIALYSIS_UF_PAUSED_STATE);
        QTest::newRow("resume") << 0u << "UF resume" << int(DIALYSIS_UF_STATE);
        QTest::newRow("Treatment entered again") << 0u << "stop and resume" << int(DIALYSIS_UF_STATE);
    }

    void ufChangesDuringABolusWaitForItsEnd()
    {
        QFETCH(quint32, before);
        QFETCH(QString, during);
        QFETCH(int, after);
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().request(Can::ID_UI_UF_PAUSE_RESUME_RQST, SimulatorDriver::u32(before));
        bolusCommand(1);
        d().ticks(2);
        const float removedL = status().ufVolDeliveredL;
        if (during == "stop and resume") {
            d().demoMenu(CMD_TX_STOP);
            QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
            d().request(Can::ID_UI_ALARM_USER_ACTION_REQUEST, SimulatorDriver::u32(ALARM_USER_ACTION_RESUME));
            QVERIFY(d().tickUntilState(Chart::State::Treatment));
        } else {
            d().request(Can::ID_UI_UF_PAUSE_RESUME_RQST, SimulatorDriver::u32(during == "UF pause" ? 0 : 1));
            QCOMPARE(SimulatorDriver::answerOf(d().ticks(2), Can::ID_TD_UF_PAUSE_RESUME_RESP), QStringLiteral("1/0"));
        }
        QCOMPARE(subStates().fluidBolusState, FLUID_BOLUS_SALINE_IN_PROGRESS_STATE);
        QVERIFY(d().tickUntil(
            [this] {
                return subStates().fluidBolusState == FLUID_BOLUS_IDLE_STATE ||
                       subStates().dialysisSubState != DIALYSIS_UF_PAUSED_STATE;
            },
            400));
        QCOMPARE(subStates().fluidBolusState, FLUID_BOLUS_IDLE_STATE);
        QCOMPARE(status().ufVolDeliveredL, removedL);
        QCOMPARE(int(subStates().dialysisSubState), after);
    }

    void stopEndsARunningBolus()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        bolusCommand(1);
        d().ticks(30);
        const float delivered = status().accumFluidBolusDeliveredML;
        QVERIFY(delivered > 0.0f);
        bolusCommand(0);
        d().tick();
        QCOMPARE(subStates().fluidBolusState, FLUID_BOLUS_IDLE_STATE);
        QCOMPARE(subStates().dialysisSubState, DIALYSIS_UF_STATE);
        QCOMPARE(status().accumFluidBolusDeliveredML, 0.0f);
        QCOMPARE(status().totalFluidBolusDeliveredML, delivered);
    }

    void volumeChangeActsOnTheRunningBolusAndStartIsAnsweredWithTheOldVolume()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        bolusCommand(1);
        d().request(Can::ID_UI_BOLUS_VOLUME_CHANGE_RQST, SimulatorDriver::u32(10));
        d().tick();
        QCOMPARE(d().controller().treatmentParams().fluidBlousVolumeML, 10u);
        const Messages sent = d().tick();
        QCOMPARE(SimulatorDriver::payloadBytes(SimulatorDriver::withId(sent, Can::ID_TD_FLUID_BOLUS_RESP).first()),
                 encodedPayload({1u, 0u, 100u}));
        QCOMPARE(
            SimulatorDriver::payloadBytes(SimulatorDriver::withId(sent, Can::ID_TD_BOLUS_VOLUME_CHANGE_RESP).first()),
            encodedPayload({1u, 0}));
        // 10 mL at 400 mL/min: 15 ticks.
        QVERIFY(d().tickUntil([this] { return subStates().fluidBolusState == FLUID_BOLUS_IDLE_STATE; }, 16));
    }

    void bolusWithAbsurdVolumesAndFlowsStaysFinite()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        Messages sent;
        for (quint32 volume : {0u, 1u, 0xFFFFFFFFu}) {
            d().request(Can::ID_UI_BOLUS_VOLUME_CHANGE_RQST, SimulatorDriver::u32(volume));
            d().request(Can::ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST, SimulatorDriver::u32(0xFFFFFFFF));
            bolusCommand(1);
            sent.append(d().ticks(50));
        }
        d().request(Can::ID_UI_BOLUS_VOLUME_CHANGE_RQST, QByteArray(""));
        d().request(Can::ID_UI_FLUID_BOLUS_RQST, QByteArray(2, '\1'));
        sent.append(d().ticks(50));
        QVERIFY(SimulatorDriver::floatsAreFinite(sent));
        QCOMPARE(d().state(), Chart::State::Treatment);
    }
};

QTEST_GUILESS_MAIN(TestBloodPrime)
#include "tst_bloodprime.moc"
