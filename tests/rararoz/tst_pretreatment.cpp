#include <QtTest>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// Initiating a treatment, the prescription's validation, the tubing set,
// the start of the treatment, and the water sample every state answers.

namespace {

using Messages = SimulatorDriver::Messages;

QByteArray acceptedResponse()
{
    return encodedPayload({1u, 0});
}

// A whole prescription: 17 unsigned fields, then 8 floating-point ones.
QByteArray prescription(const QList<quint32> &unsignedFields, const QList<float> &floatFields)
{
    QByteArray payload;
    for (quint32 value : unsignedFields)
        payload += SimulatorDriver::u32(value);
    for (float value : floatFields)
        payload += SimulatorDriver::f32(value);
    return payload;
}

QByteArray fullPrescription()
{
    return prescription({1, 1, 2, 300, 500, 180, 150, 3, 4, 140, 35, 5, 250, 15, 200, 1, 6},
                        {1.5f, 2.5f, 3.5f, 36.5f, 1.25f, 80.5f, 78.0f, 2.75f});
}

} // namespace

class TestPretreatment : public SimulatorTest
{
    Q_OBJECT

private:
    void enterPreTx() { QVERIFY(d().enterByDemoMenu(CMD_PRE_TX, Chart::State::Pre_Tx)); }

private slots:

    void initiateWithOneInStandbyStartsPreTreatment()
    {
        d().ticks(3);
        d().request(Can::ID_INITIATE_TREATMENT, SimulatorDriver::u32(1));
        d().tick();
        QTest::ignoreMessage(QtDebugMsg, "Standby in exit");
        QTest::ignoreMessage(QtDebugMsg, "PreTx on entry");
        const Messages response = SimulatorDriver::withId(d().tick(), Can::ID_TD_RESP_INITIATE_TREATMENT);
        QCOMPARE(response.size(), 1);
        QCOMPARE(response.first().at(1).toInt(), int(Can::eChlid_TD_UI));
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), acceptedResponse());
        QCOMPARE(d().state(), Chart::State::Pre_Tx);
        const Messages mode = SimulatorDriver::withId(d().tick(), Can::ID_TD_OP_MODE_DATA);
        QCOMPARE(mode.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(mode.first()), encodedPayload({int(Can::MODE_PRET), 0u}));
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_INITIATE_TREATMENT));
    }

    void initiateWithZeroInStandbyReentersStandby()
    {
        d().ticks(3);
        d().request(Can::ID_INITIATE_TREATMENT, SimulatorDriver::u32(0));
        d().tick();
        QTest::ignoreMessage(QtDebugMsg, "Standby in exit");
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        const Messages response = SimulatorDriver::withId(d().tick(), Can::ID_TD_RESP_INITIATE_TREATMENT);
        QCOMPARE(response.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), acceptedResponse());
        QCOMPARE(d().state(), Chart::State::Standby);
    }

    void initiateWithOneInPreTxRunsTheEntryAgain()
    {
        enterPreTx();
        d().request(Can::ID_INITIATE_TREATMENT, SimulatorDriver::u32(1));
        d().tick();
        // Pre_Tx has no transition for the event: the chart drops it and the
        // next tick runs Pre_Tx's entry again.
        QTest::ignoreMessage(QtDebugMsg, "PreTx in exit");
        const Messages response = SimulatorDriver::withId(d().tick(), Can::ID_TD_RESP_INITIATE_TREATMENT);
        QCOMPARE(response.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), acceptedResponse());
        QCOMPARE(d().state(), Chart::State::Pre_Tx);
        QTest::ignoreMessage(QtDebugMsg, "PreTx on entry");
        d().tick();
        const Messages mode = SimulatorDriver::withId(d().tick(), Can::ID_TD_OP_MODE_DATA);
        QCOMPARE(mode.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(mode.first()), encodedPayload({int(Can::MODE_PRET), 0u}));
        QCOMPARE(d().state(), Chart::State::Pre_Tx);
    }

    void initiateWithZeroInPreTxGoesBackToStandby()
    {
        enterPreTx();
        d().request(Can::ID_INITIATE_TREATMENT, SimulatorDriver::u32(5));
        d().tick();
        QTest::ignoreMessage(QtDebugMsg, "PreTx in exit");
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        const Messages response = SimulatorDriver::withId(d().tick(), Can::ID_TD_RESP_INITIATE_TREATMENT);
        QCOMPARE(response.size(), 1);
        QCOMPARE(d().state(), Chart::State::Standby);
    }

    void initiateIsNotServedAfterPreTreatment()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().request(Can::ID_INITIATE_TREATMENT, SimulatorDriver::u32(1));
        QVERIFY(SimulatorDriver::withId(d().ticks(20), Can::ID_TD_RESP_INITIATE_TREATMENT).isEmpty());
        QCOMPARE(d().state(), Chart::State::Treatment);
    }

    void validationResponseAcceptsEveryField()
    {
        enterPreTx();
        d().request(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, fullPrescription());
        d().tick();
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE));
        const Messages response = SimulatorDriver::withId(d().tick(), Can::ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE);
        QCOMPARE(response.size(), 1);
        QCOMPARE(response.first().at(1).toInt(), int(Can::eChlid_TD_UI));
        const QByteArray bytes = SimulatorDriver::payloadBytes(response.first());
        QCOMPARE(bytes.size(), 104);
        QCOMPARE(bytes, SimulatorDriver::u32(1) + QByteArray(100, '\0'));
        QCOMPARE(d().controller().treatmentStatus().hasTxParamsBeenInitialized, true);
    }

    void validationStoresThePrescription()
    {
        enterPreTx();
        d().request(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, fullPrescription());
        d().tick();
        QCOMPARE(params().finalConfirmation, true);
        QCOMPARE(params().treatmentModality, 1u);
        QCOMPARE(params().hdfDilution, 2u);
        QCOMPARE(params().bloodFlowRateMLPM, 300u);
        QCOMPARE(params().dialysateFlowRateMLPM, 500u);
        QCOMPARE(params().treatmentDurationMin, 180u);
        QCOMPARE(params().heparinDeliveryDurationMin, 150u);
        QCOMPARE(params().heparinType, 3u);
        QCOMPARE(params().dryBicarbCartSize, 4u);
        QCOMPARE(params().sodiumMEQL, 140u);
        QCOMPARE(params().bicarbobateMEQL, 35u);
        QCOMPARE(params().dialyzerType, 5u);
        QCOMPARE(params().fluidBlousVolumeML, 250u);
        QCOMPARE(params().bloodPressureIntervalMin, 15u);
        QCOMPARE(params().rinsebackVolumeML, 200u);
        QCOMPARE(params().hepatitisBStatus, 1u);
        QCOMPARE(params().acidConcentrate, 6u);
        QCOMPARE(params().hdfSubstitutionFluidVolumeL, 1.5f);
        QCOMPARE(params().heparinBolusVolumeML, 2.5f);
        QCOMPARE(params().heparinDeliveryRateMLHR, 3.5f);
        QCOMPARE(params().dialysateTemperatureC, 36.5f);
        QCOMPARE(params().acidKConcentrateConversionFactor, 1.25f);
        QCOMPARE(params().ufPreWeightKG, 80.5f);
        QCOMPARE(params().ufEstimatedTargetWeightKG, 78.0f);
        QCOMPARE(params().ufVolumeL, 2.75f);
    }

    void prescriptionAsTheBusDeliversIt()
    {
        // The bus hands the payload on with its CRC byte at the end.
        enterPreTx();
        d().request(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, fullPrescription() + QByteArray(1, '\x5A'));
        d().tick();
        QCOMPARE(params().ufVolumeL, 2.75f);
        QCOMPARE(params().bloodFlowRateMLPM, 300u);
    }

    void absurdPrescriptionIsAcceptedAsItComes()
    {
        enterPreTx();
        d().request(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, QByteArray(100, '\xFF'));
        d().tick();
        const Messages response = SimulatorDriver::withId(d().tick(), Can::ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE);
        QCOMPARE(response.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), SimulatorDriver::u32(1) + QByteArray(100, '\0'));
        QCOMPARE(params().bloodFlowRateMLPM, 0xFFFFFFFFu);
        QVERIFY(qIsNaN(params().ufVolumeL));
    }

    void shortPrescriptionKeepsTheFieldsItLacks_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("empty") << 0;
        QTest::newRow("six fields") << 24;
        QTest::newRow("half a float field") << 70;
        QTest::newRow("twenty-one fields") << 84;
        QTest::newRow("one byte short") << 99;
    }

    void shortPrescriptionKeepsTheFieldsItLacks()
    {
        QFETCH(int, length);
        enterPreTx();
        const Treatment_Params before = params();
        const QByteArray full = fullPrescription();
        d().request(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, QByteArray(full.constData(), length));
        d().tick();

        // Each field that lies wholly in the payload is read; every other
        // field keeps the value it had, never another field's value.
        const Treatment_Params expected = [&] {
            Treatment_Params fromFull = before;
            const int fields = length / 4;
            if (fields > 0)
                fromFull.finalConfirmation = true;
            if (fields > 1)
                fromFull.treatmentModality = 1;
            if (fields > 2)
                fromFull.hdfDilution = 2;
            if (fields > 3)
                fromFull.bloodFlowRateMLPM = 300;
            if (fields > 4)
                fromFull.dialysateFlowRateMLPM = 500;
            if (fields > 5)
                fromFull.treatmentDurationMin = 180;
            if (fields > 6)
                fromFull.heparinDeliveryDurationMin = 150;
            if (fields > 7)
                fromFull.heparinType = 3;
            if (fields > 8)
                fromFull.dryBicarbCartSize = 4;
            if (fields > 9)
                fromFull.sodiumMEQL = 140;
            if (fields > 10)
                fromFull.bicarbobateMEQL = 35;
            if (fields > 11)
                fromFull.dialyzerType = 5;
            if (fields > 12)
                fromFull.fluidBlousVolumeML = 250;
            if (fields > 13)
                fromFull.bloodPressureIntervalMin = 15;
            if (fields > 14)
                fromFull.rinsebackVolumeML = 200;
            if (fields > 15)
                fromFull.hepatitisBStatus = 1;
            if (fields > 16)
                fromFull.acidConcentrate = 6;
            if (fields > 17)
                fromFull.hdfSubstitutionFluidVolumeL = 1.5f;
            if (fields > 18)
                fromFull.heparinBolusVolumeML = 2.5f;
            if (fields > 19)
                fromFull.heparinDeliveryRateMLHR = 3.5f;
            if (fields > 20)
                fromFull.dialysateTemperatureC = 36.5f;
            if (fields > 21)
                fromFull.acidKConcentrateConversionFactor = 1.25f;
            if (fields > 22)
                fromFull.ufPreWeightKG = 80.5f;
            if (fields > 23)
                fromFull.ufEstimatedTargetWeightKG = 78.0f;
            if (fields > 24)
                fromFull.ufVolumeL = 2.75f;
            return fromFull;
        }();
        QCOMPARE(params().finalConfirmation, expected.finalConfirmation);
        QCOMPARE(params().bloodFlowRateMLPM, expected.bloodFlowRateMLPM);
        QCOMPARE(params().treatmentDurationMin, expected.treatmentDurationMin);
        QCOMPARE(params().fluidBlousVolumeML, expected.fluidBlousVolumeML);
        QCOMPARE(params().bloodPressureIntervalMin, expected.bloodPressureIntervalMin);
        QCOMPARE(params().rinsebackVolumeML, expected.rinsebackVolumeML);
        QCOMPARE(params().acidConcentrate, expected.acidConcentrate);
        QCOMPARE(params().hdfSubstitutionFluidVolumeL, expected.hdfSubstitutionFluidVolumeL);
        QCOMPARE(params().dialysateTemperatureC, expected.dialysateTemperatureC);
        QCOMPARE(params().acidKConcentrateConversionFactor, expected.acidKConcentrateConversionFactor);
        QCOMPARE(params().ufEstimatedTargetWeightKG, expected.ufEstimatedTargetWeightKG);
        QCOMPARE(params().ufVolumeL, expected.ufVolumeL);

        // The answer is the same all-accepted response.
        const Messages response = SimulatorDriver::withId(d().tick(), Can::ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE);
        QCOMPARE(response.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), SimulatorDriver::u32(1) + QByteArray(100, '\0'));
        QCOMPARE(d().controller().treatmentStatus().hasTxParamsBeenInitialized, true);
    }

    void prescriptionOutsidePreTxWaitsForPreTx()
    {
        d().ticks(2);
        d().request(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, fullPrescription());
        QVERIFY(SimulatorDriver::withId(d().ticks(20), Can::ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE).isEmpty());
        QCOMPARE(params().bloodFlowRateMLPM, 400u);
        d().request(Can::ID_INITIATE_TREATMENT, SimulatorDriver::u32(1));
        QVERIFY(d().tickUntilState(Chart::State::Pre_Tx));
        d().tick();
        QCOMPARE(params().bloodFlowRateMLPM, 300u);
        QCOMPARE(SimulatorDriver::withId(d().tick(), Can::ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE).size(), 1);
    }

    void tubingSetConnectionsAreConfirmed()
    {
        enterPreTx();
        d().requestWithoutPayload(Can::ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST);
        QTest::ignoreMessage(QtDebugMsg, "D6");
        d().tick();
        const Messages response =
            SimulatorDriver::withId(d().tick(), Can::ID_TD_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RESP);
        QCOMPARE(response.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(response.first()), acceptedResponse());
    }

    void disposablesConfirmedThenTreatmentStarts()
    {
        enterPreTx();
        d().requestWithoutPayload(Can::ID_UI_ADJUST_START_TREATMENT_RQST);
        d().request(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, fullPrescription());
        d().requestWithoutPayload(Can::ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST);
        d().tick();
        QCOMPARE(d().state(), Chart::State::Pre_Tx);
        QTest::ignoreMessage(QtDebugMsg, "PreTx in exit");
        QTest::ignoreMessage(QtDebugMsg, "Blood prime on entry");
        const Messages sent = d().tick();
        QCOMPARE(d().state(), Chart::State::Blood_Prime);
        // Answered in the step's order: disposables, parameters, start.
        const int disposables = SimulatorDriver::indexOf(sent, Can::ID_TD_ADJUST_DISPOSSABLES_CONFIRM_RESP);
        const int parameters = SimulatorDriver::indexOf(sent, Can::ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE);
        const int start = SimulatorDriver::indexOf(sent, Can::ID_TD_ADJUST_START_TREATMENT_RESP);
        QVERIFY(disposables >= 0);
        QVERIFY(disposables < parameters);
        QVERIFY(parameters < start);
        QCOMPARE(SimulatorDriver::payloadBytes(sent.at(disposables)), acceptedResponse());
        QCOMPARE(SimulatorDriver::payloadBytes(sent.at(start)), acceptedResponse());

        // Blood_Prime's entry: treatment mode, the prime's progress from 0,
        // and the blood prime sub-state.
        const Messages entry = d().tick();
        QCOMPARE(SimulatorDriver::payloadBytes(SimulatorDriver::withId(entry, Can::ID_TD_OP_MODE_DATA).first()),
                 encodedPayload({int(Can::MODE_TREA), 0u}));
        QCOMPARE(
            SimulatorDriver::payloadBytes(SimulatorDriver::withId(entry, Can::ID_TD_BLOOD_PRIME_PROGRESS_DATA).first()),
            encodedPayload({146.6f, 0.0f, 0u, 0u}));
        QCOMPARE(SimulatorDriver::payloadBytes(SimulatorDriver::withId(entry, Can::ID_TD_TREATMENT_STATE_DATA).first()),
                 encodedPayload({1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        // The validated prescription survived the way into the blood prime.
        QCOMPARE(params().bloodFlowRateMLPM, 300u);
        QCOMPARE(d().controller().bloodPrimeVars().currBloodFlowMLPM, 250u);
        QCOMPARE(d().controller().bloodPrimeVars().rampStepML, 50.0f / 60.0f);
    }

    void waterSampleIsEchoedInEveryStateButStandby_data() { SimulatorDriver::addDemoMenuStateRows(); }

    void waterSampleIsEchoedInEveryStateButStandby()
    {
        QFETCH(int, command);
        QFETCH(QString, state);
        QVERIFY(d().enterByDemoMenu(User_Command_ID(command), state));
        d().request(Can::ID_UI_WATER_SAMPLE_RESULT_RQST, SimulatorDriver::f32(7.25f));
        const Messages sent = SimulatorDriver::withId(d().ticks(2), Can::ID_TD_WATER_SAMPLE_RESULT_RESP);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().at(1).toInt(), int(Can::eChlid_TD_UI));
        QCOMPARE(SimulatorDriver::payloadBytes(sent.first()), encodedPayload({1u, 0, 7.25f}));
    }

    void waterSampleInTreatmentPause()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().demoMenu(CMD_TX_STOP);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
        d().request(Can::ID_UI_WATER_SAMPLE_RESULT_RQST, SimulatorDriver::f32(-3.5f));
        const Messages sent = SimulatorDriver::withId(d().ticks(2), Can::ID_TD_WATER_SAMPLE_RESULT_RESP);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(sent.first()), encodedPayload({1u, 0, -3.5f}));
    }
};

QTEST_GUILESS_MAIN(TestPretreatment)
#include "tst_pretreatment.moc"
