#include <QtTest>

#include <limits>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// Set-point changes, the prescription edit, and the set-points, parameter
// ranges, dialysate generation mode and conductivity broadcasts.

namespace {

using Messages = SimulatorDriver::Messages;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

struct Edit {
    quint32 bloodFlow = 400;
    quint32 dialysateFlow = 350;
    float temperature = 37.0f;
    quint32 acid = 0;
    float acidFactor = 0.0f;
    quint32 bicarbonate = 0;
    quint32 modality = 0;
    quint32 hepatitisB = 0;
    quint32 sodium = 0;
    quint32 bicarbonateAgain = 0;

    QByteArray payload() const
    {
        return SimulatorDriver::u32(bloodFlow) + SimulatorDriver::u32(dialysateFlow) +
               SimulatorDriver::f32(temperature) + SimulatorDriver::u32(acid) + SimulatorDriver::f32(acidFactor) +
               SimulatorDriver::u32(bicarbonate) + SimulatorDriver::u32(modality) + SimulatorDriver::u32(hepatitisB) +
               SimulatorDriver::u32(sodium) + SimulatorDriver::u32(bicarbonateAgain);
    }
};

} // namespace

class TestSetPoints : public SimulatorTest
{
    Q_OBJECT

private:
    void enter(const QString &state)
    {
        if (state == Chart::State::Treatment_Pause) {
            enter(Chart::State::Treatment);
            d().demoMenu(CMD_TX_STOP);
            QVERIFY(d().tickUntilState(state));
            d().tick();
            return;
        }
        const User_Command_ID command = state == Chart::State::Treatment ? CMD_MAIN_TX : CMD_END_TX;
        QVERIFY(d().enterByDemoMenu(command, state));
    }

    // What the next two ticks send: the request is served by the first and
    // answered by the second, together with the broadcasts it caused.
    Messages serve(Can::Message_ID_Enum id, const QByteArray &payload)
    {
        d().request(id, payload);
        d().tick();
        return d().tick();
    }

    static void checkAnsweredWithSetPoints(const Messages &sent, Can::Message_ID_Enum response,
                                           const QVariantList &setPoints)
    {
        const Messages answers = SimulatorDriver::withId(sent, response);
        QCOMPARE(answers.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(answers.first()), encodedPayload({1u, 0}));
        const Messages broadcasts = SimulatorDriver::withId(sent, Can::ID_TD_TREATMENT_SET_POINTS);
        QVERIFY(!broadcasts.isEmpty());
        QCOMPARE(broadcasts.first().at(1).toInt(), int(Can::eChlid_TD_Sync));
        QCOMPARE(SimulatorDriver::payloadBytes(broadcasts.first()), encodedPayload(setPoints));
        QVERIFY(SimulatorDriver::indexOf(sent, Can::ID_TD_TREATMENT_SET_POINTS) <
                SimulatorDriver::indexOf(sent, response));
    }

    // The states that serve all three single changes.
    static void addSetPointStates()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("Treatment") << QString(Chart::State::Treatment);
        QTest::newRow("Treatment_Pause") << QString(Chart::State::Treatment_Pause);
    }

private slots:

    void bloodFlowChangeIsAnsweredWithTheSetPointsAtOnce_data()
    {
        addSetPointStates();
        QTest::newRow("Treatment_End") << QString(Chart::State::Treatment_End);
    }

    void bloodFlowChangeIsAnsweredWithTheSetPointsAtOnce()
    {
        QFETCH(QString, state);
        enter(state);
        const Messages sent = serve(Can::ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST, SimulatorDriver::u32(300));
        checkAnsweredWithSetPoints(sent, Can::ID_TD_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RESP, {300u, 350u, 37.0f});
        QCOMPARE(params().bloodFlowRateMLPM, 300u);
        QCOMPARE(d().state(), state);
    }

    void dialysateFlowChangeIsAnsweredWithTheSetPointsAtOnce_data() { addSetPointStates(); }

    void dialysateFlowChangeIsAnsweredWithTheSetPointsAtOnce()
    {
        QFETCH(QString, state);
        enter(state);
        const Messages sent =
            serve(Can::ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST, SimulatorDriver::u32(500));
        checkAnsweredWithSetPoints(sent, Can::ID_TD_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RESP,
                                   {400u, 500u, 37.0f});
        QCOMPARE(params().dialysateFlowRateMLPM, 500u);
    }

    void temperatureChangeIsAnsweredWithTheSetPointsAtOnce_data() { addSetPointStates(); }

    void temperatureChangeIsAnsweredWithTheSetPointsAtOnce()
    {
        QFETCH(QString, state);
        enter(state);
        const Messages sent =
            serve(Can::ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST, SimulatorDriver::f32(36.5f));
        checkAnsweredWithSetPoints(sent, Can::ID_TD_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RESP,
                                   {400u, 350u, 36.5f});
        QCOMPARE(params().dialysateTemperatureC, 36.5f);
    }

    void temperatureThatIsNoNumberIsAnsweredButNotTaken_data()
    {
        QTest::addColumn<float>("temperature");
        QTest::newRow("NaN") << kNaN;
        QTest::newRow("infinity") << kInfinity;
        QTest::newRow("minus infinity") << -kInfinity;
    }

    void temperatureThatIsNoNumberIsAnsweredButNotTaken()
    {
        QFETCH(float, temperature);
        enter(Chart::State::Treatment);
        const Messages sent =
            serve(Can::ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST, SimulatorDriver::f32(temperature));
        checkAnsweredWithSetPoints(sent, Can::ID_TD_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RESP,
                                   {400u, 350u, 37.0f});
        QCOMPARE(params().dialysateTemperatureC, 37.0f);
    }

    void zeroIsAcceptedAndStored()
    {
        enter(Chart::State::Treatment);
        serve(Can::ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST, SimulatorDriver::u32(0));
        serve(Can::ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST, QByteArray(""));
        const Messages sent = serve(Can::ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST, QByteArray(3, '\1'));
        checkAnsweredWithSetPoints(sent, Can::ID_TD_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RESP, {0u, 0u, 0.0f});
    }

    void setPointsOnceASecondInTreatment()
    {
        enter(Chart::State::Treatment);
        d().tick();
        QList<int> at;
        for (int i = 0; i < 30; ++i)
            if (!SimulatorDriver::withId(d().tick(), Can::ID_TD_TREATMENT_SET_POINTS).isEmpty())
                at << d().tickCount();
        QCOMPARE(at.size(), 3);
        QCOMPARE(at.at(2) - at.at(0), 20);
    }

    // Prescription edit ----------------------------------------------------

    void prescriptionEditStoresEveryFieldAndIsAccepted()
    {
        enter(Chart::State::Treatment);
        Edit edit;
        edit.bloodFlow = 320;
        edit.dialysateFlow = 450;
        edit.temperature = 36.0f;
        edit.acidFactor = 1.5f;
        edit.bicarbonate = 30;
        edit.hepatitisB = 1;
        edit.sodium = 140;
        edit.bicarbonateAgain = 35;
        const Messages sent = serve(Can::ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST, edit.payload());
        const Messages response = SimulatorDriver::withId(sent, Can::ID_TD_TREATMENT_SET_POINTS_CHANGE_RESP);
        QCOMPARE(response.size(), 1);
        QCOMPARE(response.first().at(1).toInt(), int(Can::eChlid_TD_UI));
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), encodedPayload({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        QCOMPARE(params().bloodFlowRateMLPM, 320u);
        QCOMPARE(params().dialysateFlowRateMLPM, 450u);
        QCOMPARE(params().dialysateTemperatureC, 36.0f);
        QCOMPARE(params().acidKConcentrateConversionFactor, 1.5f);
        QCOMPARE(params().hepatitisBStatus, 1u);
        QCOMPARE(params().sodiumMEQL, 140u);
        // The tenth field replaces the sixth.
        QCOMPARE(params().bicarbobateMEQL, 35u);
        // Neither acid nor modality changed: nothing raised.
        QCOMPARE(status().activeTopAlarm, ALARM_ID_NO_ALARM);
        QCOMPARE(status().txPauseSeqAlarmState, SEQ_ALARM_NO_ALARM);
        d().ticks(10);
        QCOMPARE(d().state(), Chart::State::Treatment);
    }

    void acidChangeStartsTheReplacementAlarms()
    {
        enter(Chart::State::Treatment);
        Edit edit;
        edit.acid = 3;
        d().request(Can::ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST, edit.payload());
        d().tick();
        QCOMPARE(params().acidConcentrate, 3u);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_DD_REPLACE_ACID_CONCENTRATE);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
    }

    void modalityChangeRaisesItsAlarmOncePerEdit()
    {
        enter(Chart::State::Treatment);
        Edit edit;
        edit.modality = TREATMENT_MODALITY_HDF_ONLINE_FLUID;
        d().request(Can::ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST, edit.payload());
        d().tick();
        QCOMPARE(params().treatmentModality, quint32(TREATMENT_MODALITY_HDF_ONLINE_FLUID));
        QCOMPARE(status().activeTopAlarm, ALARM_ID_TD_TREATMENT_MODALITY_CHANGE);
        QCOMPARE(status().activeAlarmProperty, quint16(2));
        // The status queued on the tick of the edit went out before it.
        Messages alarms;
        for (int i = 0; i < 4; ++i)
            alarms.append(SimulatorDriver::withId(d().tick(), Can::ID_ALARM_STATUS_DATA));
        QVERIFY(!alarms.isEmpty());
        QCOMPARE(SimulatorDriver::payloadBytes(alarms.last()), encodedPayload({2u, 247, 0u, 2}));
        QCOMPARE(d().state(), Chart::State::Treatment_Pause);

        // Back in Treatment, the same modality again raises nothing.
        d().request(Can::ID_UI_ALARM_USER_ACTION_REQUEST, SimulatorDriver::u32(ALARM_USER_ACTION_RESUME));
        QVERIFY(d().tickUntilState(Chart::State::Treatment));
        d().tick();
        d().request(Can::ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST, edit.payload());
        d().ticks(3);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_NO_ALARM);
        QCOMPARE(d().state(), Chart::State::Treatment);
    }

    void shortPrescriptionEditKeepsWhatItDoesNotCarry()
    {
        enter(Chart::State::Treatment);
        Edit edit;
        edit.bloodFlow = 310;
        edit.dialysateFlow = 420;
        edit.temperature = kNaN;
        // Blood flow, dialysate flow, temperature and two bytes of acid.
        const Messages sent = serve(Can::ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST, edit.payload().left(14));
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_TREATMENT_SET_POINTS_CHANGE_RESP).size(), 1);
        QCOMPARE(params().bloodFlowRateMLPM, 310u);
        QCOMPARE(params().dialysateFlowRateMLPM, 420u);
        QCOMPARE(params().dialysateTemperatureC, 37.0f);
        QCOMPARE(params().acidConcentrate, 0u);
        QCOMPARE(status().txPauseSeqAlarmState, SEQ_ALARM_NO_ALARM);

        const Messages empty = serve(Can::ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST, QByteArray(""));
        QCOMPARE(SimulatorDriver::withId(empty, Can::ID_TD_TREATMENT_SET_POINTS_CHANGE_RESP).size(), 1);
        QCOMPARE(params().bloodFlowRateMLPM, 310u);
        QVERIFY(SimulatorDriver::floatsAreFinite(d().ticks(20)));
    }

    // Broadcasts -----------------------------------------------------------

    void parameterRangesEarlyInATreatment()
    {
        Messages sent;
        QVERIFY(d().startTreatment(Prescription(), &sent));
        const Messages ranges = SimulatorDriver::withId(sent, Can::ID_TD_TREATMENT_PARAM_RANGES_DATA);
        QCOMPARE(ranges.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(ranges.first()), encodedPayload({60u, 480u, 0.0f, 8000.0f, 50, 600}));
    }

    void dialysateBroadcastsInTreatmentAndPause()
    {
        enter(Chart::State::Treatment);
        Messages sent = d().ticks(10);
        const Messages mode = SimulatorDriver::withId(sent, Can::ID_DD_GEN_DIALYSATE_MODE_DATA);
        QCOMPARE(mode.size(), 1);
        QCOMPARE(mode.first().at(1).toInt(), int(Can::eChlid_DD_Sync));
        QCOMPARE(SimulatorDriver::payloadBytes(mode.first()), encodedPayload({1u, 1u, 1u, 150.2f}));
        const Messages conductivity = SimulatorDriver::withId(sent, Can::ID_DD_CONDUCTIVITY_DATA);
        QCOMPARE(conductivity.size(), 1);
        QCOMPARE(conductivity.first().at(1).toInt(), int(Can::eChlid_DD_Sync));
        QCOMPARE(SimulatorDriver::payloadBytes(conductivity.first()),
                 encodedPayload({0.0f, 250.63f, 0.0f, 0.0f, 0.0f}));

        // No bypass while a bolus runs.
        d().request(Can::ID_UI_FLUID_BOLUS_RQST, SimulatorDriver::u32(1));
        sent = SimulatorDriver::withId(d().ticks(21), Can::ID_DD_GEN_DIALYSATE_MODE_DATA);
        QCOMPARE(SimulatorDriver::field(sent.last(), 2).toUInt(), 0u);
        d().request(Can::ID_UI_FLUID_BOLUS_RQST, SimulatorDriver::u32(0));

        // Nor in the pause.
        d().demoMenu(CMD_TX_STOP);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
        sent = SimulatorDriver::withId(d().ticks(11), Can::ID_DD_GEN_DIALYSATE_MODE_DATA);
        QVERIFY(!sent.isEmpty());
        for (const QVariantList &message : sent)
            QCOMPARE(SimulatorDriver::field(message, 2).toUInt(), 0u);
    }
};

QTEST_GUILESS_MAIN(TestSetPoints)
#include "tst_setpoints.moc"
