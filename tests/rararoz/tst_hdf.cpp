#include <QtTest>

#include <cmath>
#include <limits>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// Hemodiafiltration: the substitution controller, its rate, the adjustment
// and pause/resume requests and the broadcast.
//
// The controller runs in the hemodiafiltration modality only, which comes
// with a validated prescription: those tests go through the whole start of
// a treatment, blood prime included.

namespace {

using Messages = SimulatorDriver::Messages;

Prescription hdfPrescription(quint32 bloodFlowMLPM = 400, float ufVolumeL = 2.4f)
{
    Prescription prescription;
    prescription.modality = TREATMENT_MODALITY_HDF_ONLINE_FLUID;
    prescription.bloodFlowMLPM = bloodFlowMLPM;
    // 2.4 L over 240 min: a UF rate of 10 mL/min.
    prescription.ufVolumeL = ufVolumeL;
    prescription.durationMin = 240;
    prescription.substitutionVolumeL = 20.0f;
    return prescription;
}

QByteArray adjustment(quint32 dilution, float volumeL)
{
    return SimulatorDriver::u32(dilution) + SimulatorDriver::f32(volumeL);
}

} // namespace

class TestHDF : public SimulatorTest
{
    Q_OBJECT

private:
    const Treatment_HDF_vars &hdf() const { return d().controller().treatmentHDFVars(); }

    // Ticks until the next volume step has been made.
    void tickToNextStep()
    {
        const quint32 start = hdf().hdfControlTimeCtr;
        QVERIFY(
            d().tickUntil([&] { return hdf().hdfControlTimeCtr != start && hdf().hdfControlTimeCtr % 40 == 0; }, 100));
    }

    void pauseThenResume()
    {
        d().request(Can::ID_UI_PAUSE_SUB_FLOW_RQST, SimulatorDriver::u32(0));
        d().ticks(2);
        QCOMPARE(hdf().hdfControlState, TD_HDF_PAUSED);
        QCOMPARE(hdf().hdfCurrentRateMLPM, 0.0f);
        d().request(Can::ID_UI_PAUSE_SUB_FLOW_RQST, SimulatorDriver::u32(1));
        d().ticks(2);
        QCOMPARE(hdf().hdfControlState, TD_HDF_RUNNING);
    }

private slots:

    void firstRunAtFiftyThenMaximumRateAfterPause()
    {
        QVERIFY(d().startTreatment(hdfPrescription()));
        QCOMPARE(d().controller().treatmentStatus().presUFRateMLPM, 10.0f);
        // The first step of the treatment started the substitution.
        QCOMPARE(hdf().hdfControlState, TD_HDF_RUNNING);
        QCOMPARE(hdf().hdfCurrentRateMLPM, 50.0f);
        QCOMPARE(hdf().hdfControlTimeCtr, 0u);

        // A volume step every 40 running ticks: a third of 100 mL at 50 mL/min.
        float before = 0.0f;
        for (float expected : {33.33333f, 66.66667f, 100.0f}) {
            d().ticks(39);
            QCOMPARE(hdf().hdfCurrentVolumeML, before);
            d().tick();
            QCOMPARE(hdf().hdfCurrentVolumeML, expected);
            QCOMPARE(hdf().hdfCurrentRateMLPM, 50.0f);
            before = expected;
        }

        // After a pause: 0.35 x 400 - 10 = 130 mL/min.
        pauseThenResume();
        QCOMPARE(hdf().hdfCurrentRateMLPM, 130.0f);
        const quint32 counter = hdf().hdfControlTimeCtr;
        QVERIFY(counter % 40 != 0);
        tickToNextStep();
        // The running ticks count on from before the pause.
        QCOMPARE(hdf().hdfControlTimeCtr, (counter / 40 + 1) * 40);
        // 130 mL/min: 86.67 mL a step.
        QCOMPARE(hdf().hdfCurrentVolumeML, 186.66667f);
    }

    void maximumRateIsCappedAt200()
    {
        QVERIFY(d().startTreatment(hdfPrescription(700)));
        pauseThenResume();
        QCOMPARE(hdf().hdfCurrentRateMLPM, 200.0f);
    }

    void maximumRateIsNeverNegative_data()
    {
        QTest::addColumn<quint32>("bloodFlow");
        QTest::addColumn<float>("ufVolumeL");
        // 0.35 x 10 - 10 and 0.35 x 400 - 833.
        QTest::newRow("low blood flow") << 10u << 2.4f;
        QTest::newRow("high UF rate") << 400u << 200.0f;
    }

    void maximumRateIsNeverNegative()
    {
        QFETCH(quint32, bloodFlow);
        QFETCH(float, ufVolumeL);
        QVERIFY(d().startTreatment(hdfPrescription(bloodFlow, ufVolumeL)));
        pauseThenResume();
        QCOMPARE(hdf().hdfCurrentRateMLPM, 0.0f);
        const float before = hdf().hdfCurrentVolumeML;
        for (int step = 0; step < 3; ++step) {
            tickToNextStep();
            QCOMPARE(hdf().hdfCurrentVolumeML, before);
        }
        QCOMPARE(hdf().hdfControlState, TD_HDF_RUNNING);
    }

    void pauseAndResumeInSuccessiveTicks()
    {
        QVERIFY(d().startTreatment(hdfPrescription()));
        d().ticks(5);
        d().request(Can::ID_UI_PAUSE_SUB_FLOW_RQST, SimulatorDriver::u32(0));
        d().tick();
        d().request(Can::ID_UI_PAUSE_SUB_FLOW_RQST, SimulatorDriver::u32(1));
        d().tick();
        QCOMPARE(hdf().hdfControlState, TD_HDF_PAUSED);
        d().tick();
        QCOMPARE(hdf().hdfControlState, TD_HDF_RUNNING);
        QCOMPARE(hdf().hdfCurrentRateMLPM, 130.0f);
    }

    void lowerVolumeStopsAtNextStep()
    {
        QVERIFY(d().startTreatment(hdfPrescription()));
        tickToNextStep();
        tickToNextStep();
        const float delivered = hdf().hdfCurrentVolumeML;
        d().request(Can::ID_UI_HDF_ADJUSTMENT_RQST, adjustment(0, 0.01f));
        d().tick();
        QCOMPARE(d().controller().treatmentParams().hdfSubstitutionFluidVolumeL, 0.01f);
        QCOMPARE(hdf().hdfControlState, TD_HDF_RUNNING);
        tickToNextStep();
        QCOMPARE(hdf().hdfControlState, TD_HDF_PAUSED);
        QVERIFY(hdf().hdfHasMaxVolumeBeenReached);
        QCOMPARE(hdf().hdfCurrentRateMLPM, 0.0f);
        QVERIFY(hdf().hdfCurrentVolumeML > delivered);
        // It stays paused, requested or not.
        d().request(Can::ID_UI_PAUSE_SUB_FLOW_RQST, SimulatorDriver::u32(1));
        d().ticks(100);
        QCOMPARE(hdf().hdfControlState, TD_HDF_PAUSED);
    }

    void volumeReachedEndsTheSubstitution()
    {
        Prescription prescription = hdfPrescription();
        prescription.substitutionVolumeL = 0.1f;
        QVERIFY(d().startTreatment(prescription));
        // Steps of 33.33 mL: the third is just past 100 mL.
        QVERIFY(d().tickUntil([&] { return hdf().hdfHasMaxVolumeBeenReached; }, 300));
        QCOMPARE(hdf().hdfControlTimeCtr, 3u * 40);
        QCOMPARE(hdf().hdfControlState, TD_HDF_PAUSED);
        QCOMPARE(hdf().hdfCurrentRateMLPM, 0.0f);
    }

    void otherModalitiesLeaveTheControllerAlone()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().ticks(100);
        QCOMPARE(hdf().hdfControlState, TD_HDF_PAUSED);
        QCOMPARE(hdf().hdfControlTimeCtr, 0u);
        QCOMPARE(hdf().hdfCurrentVolumeML, 0.0f);
        // The requests are served all the same.
        d().request(Can::ID_UI_PAUSE_SUB_FLOW_RQST, SimulatorDriver::u32(0));
        const Messages sent = d().ticks(2);
        const Messages answer = SimulatorDriver::withId(sent, Can::ID_TD_PAUSE_SUB_FLOW_RESP);
        QCOMPARE(answer.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(answer.first()), encodedPayload({1u, 0}));
        QCOMPARE(hdf().hdfIsRequested, false);
    }

    void broadcastOncePerSecondWithNineFields()
    {
        QVERIFY(d().startTreatment(hdfPrescription()));
        d().ticks(45);
        QList<int> at;
        Messages all;
        for (int i = 0; i < 30; ++i) {
            const Messages sent = SimulatorDriver::withId(d().tick(), Can::ID_TD_HEMODIAFILTRATION_DATA);
            if (!sent.isEmpty())
                at << d().tickCount();
            all.append(sent);
        }
        QCOMPARE(at.size(), 3);
        QCOMPARE(at.at(1) - at.at(0), 10);
        const QVariantList &message = all.last();
        QCOMPARE(message.at(1).toInt(), int(Can::eChlid_TD_Sync));
        QCOMPARE(SimulatorDriver::payloadBytes(message).size(), 9 * 4);
        const QByteArray before = encodedPayload({int(TD_HDF_RUNNING), 1u, 0.0f, 5.2f, 50.0f, 5.2f, 20.0f});
        QCOMPARE(SimulatorDriver::payloadBytes(message).left(before.size()), before);
        // Delivered, in litres, at most one step behind.
        const float deliveredL = SimulatorDriver::field(message, 7).toFloat();
        QVERIFY(deliveredL <= hdf().hdfCurrentVolumeML / 1000.0f);
        QVERIFY(deliveredL >= (hdf().hdfCurrentVolumeML - 33.34f) / 1000.0f);
        QCOMPARE(SimulatorDriver::field(message, 8).toUInt(), 1u);
    }

    void adjustmentStoresVolumeAndDilution()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        const quint32 dilution = d().controller().treatmentParams().hdfDilution;
        d().request(Can::ID_UI_HDF_ADJUSTMENT_RQST, adjustment(dilution, 12.5f));
        const Messages sent = d().ticks(2);
        const Messages answer = SimulatorDriver::withId(sent, Can::ID_TD_HDF_ADJUSTMENT_RESP);
        QCOMPARE(answer.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(answer.first()), encodedPayload({1u, 0, 0}));
        QCOMPARE(d().controller().treatmentParams().hdfSubstitutionFluidVolumeL, 12.5f);
        // The same dilution raises nothing.
        QCOMPARE(d().controller().treatmentStatus().activeTopAlarm, ALARM_ID_NO_ALARM);
        QCOMPARE(d().state(), Chart::State::Treatment);
    }

    void dilutionChangeRaisesTheSubmodeAlarm()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        const quint32 dilution = d().controller().treatmentParams().hdfDilution + 1;
        d().request(Can::ID_UI_HDF_ADJUSTMENT_RQST, adjustment(dilution, 3.0f));
        d().tick();
        QCOMPARE(d().controller().treatmentStatus().activeTopAlarm, ALARM_ID_TD_HDF_SUBMODE_CHANGE);
        QCOMPARE(d().controller().treatmentParams().hdfDilution, dilution);
        // The alarm pauses the treatment.
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
    }

    void volumeThatIsNotANumberIsNotTaken_data()
    {
        QTest::addColumn<float>("volume");
        QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("infinity") << std::numeric_limits<float>::infinity();
        QTest::newRow("minus infinity") << -std::numeric_limits<float>::infinity();
    }

    void volumeThatIsNotANumberIsNotTaken()
    {
        QFETCH(float, volume);
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        const quint32 dilution = d().controller().treatmentParams().hdfDilution;
        d().request(Can::ID_UI_HDF_ADJUSTMENT_RQST, adjustment(dilution, 4.0f));
        d().tick();
        d().request(Can::ID_UI_HDF_ADJUSTMENT_RQST, adjustment(dilution, volume));
        const Messages sent = d().ticks(30);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_HDF_ADJUSTMENT_RESP).size(), 2);
        QCOMPARE(d().controller().treatmentParams().hdfSubstitutionFluidVolumeL, 4.0f);
        for (const QVariantList &message : SimulatorDriver::withId(sent, Can::ID_TD_HEMODIAFILTRATION_DATA))
            for (int i = 2; i < message.size(); ++i)
                QVERIFY(std::isfinite(message.at(i).toDouble()));
    }

    void prescribedVolumeThatIsNotANumberIsShownAsNone()
    {
        Prescription prescription = hdfPrescription();
        prescription.substitutionVolumeL = std::numeric_limits<float>::quiet_NaN();
        QVERIFY(d().startTreatment(prescription));
        const Messages sent = SimulatorDriver::withId(d().ticks(100), Can::ID_TD_HEMODIAFILTRATION_DATA);
        QVERIFY(!sent.isEmpty());
        for (const QVariantList &message : sent)
            for (int i = 2; i < message.size(); ++i)
                QVERIFY(std::isfinite(message.at(i).toDouble()));
        QCOMPARE(SimulatorDriver::field(sent.last(), 6).toFloat(), 0.0f);
    }

    void requestsWaitForTreatment()
    {
        QVERIFY(d().enterByDemoMenu(CMD_RINSEBACK, Chart::State::Treatment_Rinseback));
        d().request(Can::ID_UI_HDF_ADJUSTMENT_RQST, adjustment(0, 1.0f));
        d().request(Can::ID_UI_PAUSE_SUB_FLOW_RQST, SimulatorDriver::u32(0));
        const Messages sent = d().ticks(5);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_HDF_ADJUSTMENT_RESP).size(), 0);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_PAUSE_SUB_FLOW_RESP).size(), 0);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_HEMODIAFILTRATION_DATA).size(), 0);
        QVERIFY(d().controller().receivedRequests().isParked(Can::ID_UI_HDF_ADJUSTMENT_RQST));
    }
};

QTEST_GUILESS_MAIN(TestHDF)
#include "tst_hdf.moc"
