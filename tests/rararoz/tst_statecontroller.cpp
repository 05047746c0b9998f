#include <QtTest>

#include "ApplicationController.h"
#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// The controller's own machinery: the tick, parking of requests, the two
// outgoing lists, the response sender and the periodic broadcasts of the
// controller itself (operation mode, alarm status).

namespace {

using Messages = SimulatorDriver::Messages;

QList<int> ticksWith(SimulatorDriver &driver, Can::Message_ID_Enum id, int count)
{
    QList<int> found;
    for (int i = 0; i < count; ++i)
        if (SimulatorDriver::indexOf(driver.tick(), id) >= 0)
            found << driver.tickCount();
    return found;
}

bool isBroadcast(const QVariantList &message)
{
    const int channel = message.at(1).toInt();
    return channel == Can::eChlid_TD_Sync || channel == Can::eChlid_DD_Sync;
}

// Whether every broadcast of a tick comes before every other message.
bool broadcastsFirst(const Messages &messages)
{
    bool seenOther = false;
    for (const QVariantList &message : messages) {
        if (!isBroadcast(message))
            seenOther = true;
        else if (seenOther)
            return false;
    }
    return true;
}

} // namespace

class TestStateController : public SimulatorTest
{
    Q_OBJECT

private slots:
    void firstTickStartsChartInStandby()
    {
        QCOMPARE(d().state(), QString());
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        const Messages first = d().tick();
        QVERIFY(first.isEmpty());
        QCOMPARE(d().state(), Chart::State::Standby);
        QCOMPARE(d().controller().elapsedTimeCtr(), 1u);

        // What the entry queued goes out on the next tick.
        const Messages second = d().tick();
        QCOMPARE(second.size(), 2);
        QCOMPARE(second.at(0).at(0).toInt(), int(Can::ID_TD_OP_MODE_DATA));
        QCOMPARE(second.at(0).at(1).toInt(), int(Can::eChlid_TD_Sync));
        QCOMPARE(SimulatorDriver::payloadBytes(second.at(0)), encodedPayload({int(Can::MODE_STAN), 0u}));
        QCOMPARE(second.at(1).at(0).toInt(), int(Can::ID_TD_TREATMENT_STATE_DATA));
        QCOMPARE(SimulatorDriver::payloadBytes(second.at(1)), QByteArray(40, '\0'));
    }

    void elapsedTimeCounterCountsTicks()
    {
        d().ticks(25);
        QCOMPARE(d().controller().elapsedTimeCtr(), 25u);
    }

    void operationModeOncePerSecondInStandby()
    {
        d().ticks(20);
        const QList<int> at = ticksWith(d(), Can::ID_TD_OP_MODE_DATA, 50);
        QCOMPARE(at.size(), 5);
        for (int i = 1; i < at.size(); ++i)
            QCOMPARE(at.at(i) - at.at(i - 1), 10);
    }

    void operationModeImmediateCallShiftsPhase()
    {
        d().ticks(20);
        const QList<int> before = ticksWith(d(), Can::ID_TD_OP_MODE_DATA, 20);
        QCOMPARE(before.size(), 2);
        // Run up to the tick that sent the last periodic broadcast plus one.
        const int last = before.last();
        while (d().tickCount() < last + 10 - 5)
            d().tick();
        d().controller().handleTDOpModeTransitionBroadcastData(Can::MODE_STAN, 0, BC_IMMEDIATELY);
        const Messages immediate = d().tick();
        QCOMPARE(SimulatorDriver::withId(immediate, Can::ID_TD_OP_MODE_DATA).size(), 1);
        // The immediate call counted: the periodic broadcast now comes one
        // tick earlier, and keeps the new phase.
        const QList<int> after = ticksWith(d(), Can::ID_TD_OP_MODE_DATA, 25);
        QCOMPARE(after.size(), 3);
        QCOMPARE(after.at(0), last + 10 - 1);
        QCOMPARE(after.at(1), last + 20 - 1);
    }

    void noOperationModeBroadcastInPreTxAndBloodPrimeSteps()
    {
        QVERIFY(d().enterByDemoMenu(CMD_PRE_TX, Chart::State::Pre_Tx));
        d().tick();
        QVERIFY(ticksWith(d(), Can::ID_TD_OP_MODE_DATA, 40).isEmpty());

        QVERIFY(d().enterByDemoMenu(CMD_BLOOD_PRIME, Chart::State::Blood_Prime));
        d().tick();
        QVERIFY(ticksWith(d(), Can::ID_TD_OP_MODE_DATA, 40).isEmpty());
    }

    void operationModeOncePerSecondInTheOtherStates_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("mode");
        QTest::newRow("Treatment") << int(CMD_MAIN_TX) << QString(Chart::State::Treatment) << int(Can::MODE_TREA);
        QTest::newRow("Treatment_Rinseback")
            << int(CMD_RINSEBACK) << QString(Chart::State::Treatment_Rinseback) << int(Can::MODE_TREA);
        QTest::newRow("Treatment_Recirculate")
            << int(CMD_RICIRCULATE) << QString(Chart::State::Treatment_Recirculate) << int(Can::MODE_TREA);
        QTest::newRow("Treatment_End") << int(CMD_END_TX) << QString(Chart::State::Treatment_End)
                                       << int(Can::MODE_TREA);
        QTest::newRow("Post_Tx") << int(CMD_POST_TX) << QString(Chart::State::Post_Tx) << int(Can::MODE_POST);
    }

    void operationModeOncePerSecondInTheOtherStates()
    {
        QFETCH(int, command);
        QFETCH(QString, state);
        QFETCH(int, mode);
        QVERIFY(d().enterByDemoMenu(User_Command_ID(command), state));
        d().tick();
        Messages all;
        QList<int> at;
        for (int i = 0; i < 40; ++i) {
            const Messages sent = SimulatorDriver::withId(d().tick(), Can::ID_TD_OP_MODE_DATA);
            if (!sent.isEmpty())
                at << d().tickCount();
            all.append(sent);
        }
        QCOMPARE(at.size(), 4);
        for (int i = 1; i < at.size(); ++i)
            QCOMPARE(at.at(i) - at.at(i - 1), 10);
        for (const QVariantList &message : all)
            QCOMPARE(SimulatorDriver::payloadBytes(message), encodedPayload({mode, 0u}));
        QCOMPARE(d().state(), state);
    }

    void operationModeInTreatmentPause()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().demoMenu(CMD_TX_STOP);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
        d().ticks(2);
        const QList<int> at = ticksWith(d(), Can::ID_TD_OP_MODE_DATA, 40);
        QCOMPARE(at.size(), 4);
        QCOMPARE(at.at(3) - at.at(0), 30);
    }

    void alarmStatusEveryThirdTick()
    {
        const QList<int> at = ticksWith(d(), Can::ID_ALARM_STATUS_DATA, 30);
        QCOMPARE(at, (QList<int>{3, 6, 9, 12, 15, 18, 21, 24, 27, 30}));
        d().tick();
        d().tick();
        const Messages sent = SimulatorDriver::withId(d().tick(), Can::ID_ALARM_STATUS_DATA);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().at(1).toInt(), int(Can::eChlid_TD_Alarm));
        QCOMPARE(SimulatorDriver::payloadBytes(sent.first()), encodedPayload({0u, 0, 0u, 0}));
    }

    void responsePayloadIsAcceptedThenReasons()
    {
        d().tick();
        d().controller().handleUIResponseMessage(Can::ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP, 1);
        d().controller().handleUIResponseMessage(Can::ID_TD_RINSEBACK_CMD_RESP, 0, {int(21)});
        d().controller().handleUIResponseMessage(Can::ID_TD_WATER_SAMPLE_RESULT_RESP, 1, {int(0), 2.5f});
        const Messages sent = d().tick();
        const Messages disconnect = SimulatorDriver::withId(sent, Can::ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP);
        QCOMPARE(disconnect.size(), 1);
        QCOMPARE(disconnect.first().at(1).toInt(), int(Can::eChlid_TD_UI));
        QCOMPARE(SimulatorDriver::payloadBytes(disconnect.first()), encodedPayload({1u, 0}));
        QCOMPARE(SimulatorDriver::payloadBytes(SimulatorDriver::withId(sent, Can::ID_TD_RINSEBACK_CMD_RESP).first()),
                 encodedPayload({0u, 21}));
        QCOMPARE(
            SimulatorDriver::payloadBytes(SimulatorDriver::withId(sent, Can::ID_TD_WATER_SAMPLE_RESULT_RESP).first()),
            SimulatorDriver::u32(1) + SimulatorDriver::u32(0) + SimulatorDriver::f32(2.5f));
    }

    void broadcastsFlushedBeforeResponses()
    {
        d().tick();
        // Queued response first, broadcast second ...
        d().controller().handleUIResponseMessage(Can::ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP, 1);
        d().controller().handleTDOpModeTransitionBroadcastData(Can::MODE_STAN, 0, BC_IMMEDIATELY);
        const Messages sent = d().tick();
        // ... sent broadcast first.
        QVERIFY(SimulatorDriver::indexOf(sent, Can::ID_TD_OP_MODE_DATA) >= 0);
        QVERIFY(SimulatorDriver::indexOf(sent, Can::ID_TD_OP_MODE_DATA) <
                SimulatorDriver::indexOf(sent, Can::ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP));
    }

    void broadcastsFlushedBeforeResponsesOfTheSameStep()
    {
        // The blood prime step answers the water sample before it sends its
        // set points; the set points still go out first.
        QVERIFY(d().enterByDemoMenu(CMD_BLOOD_PRIME, Chart::State::Blood_Prime));
        d().request(Can::ID_UI_WATER_SAMPLE_RESULT_RQST, SimulatorDriver::f32(1.0f));
        d().tick();
        const Messages sent = d().tick();
        const int response = SimulatorDriver::indexOf(sent, Can::ID_TD_WATER_SAMPLE_RESULT_RESP);
        const int setPoints = SimulatorDriver::indexOf(sent, Can::ID_TD_TREATMENT_SET_POINTS);
        QVERIFY(response >= 0);
        QVERIFY(setPoints >= 0);
        QVERIFY(setPoints < response);
        QVERIFY(broadcastsFirst(sent));

        for (int i = 0; i < 30; ++i)
            QVERIFY(broadcastsFirst(d().tick()));
    }

    void checkInIsTakenAndAnswersNothing()
    {
        SimulatorDriver plain;
        d().tick();
        plain.tick();
        d().receive({int(Can::ID_UI_CHECK_IN), -5, SimulatorDriver::u32(5)});
        QVERIFY(d().controller().receivedRequests().isParked(Can::ID_UI_CHECK_IN));
        for (int i = 0; i < 12; ++i)
            QCOMPARE(d().tick(), plain.tick());
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_CHECK_IN));
    }

    void incompleteListsAreReportedAndDropped()
    {
        d().tick();
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Msg with incomplete payload \\(")));
        d().receive({int(Can::ID_UI_WATER_SAMPLE_RESULT_RQST), 1});
        QTest::ignoreMessage(QtDebugMsg,
                             QRegularExpression(QStringLiteral("^Msg with incomplete payload \\(sequence\\) ")));
        d().receive({int(Can::ID_UI_CHECK_IN)});
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_WATER_SAMPLE_RESULT_RQST));
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_CHECK_IN));
    }

    void emptyAndUnknownListsAreIgnored()
    {
        d().tick();
        SimulatorDriver plain;
        plain.tick();
        d().receive({});
        d().receive({0x1234, 1, QByteArray(8, '\1')});
        d().receive({int(Can::ID_TD_OP_MODE_DATA), 1, QByteArray(8, '\1')});
        QVERIFY(!d().controller().receivedRequests().isParked(Can::Message_ID_Enum(0x1234)));
        for (int i = 0; i < 12; ++i)
            QCOMPARE(d().tick(), plain.tick());
    }

    void requestWithoutPayloadIsParkedWhateverTheListHolds()
    {
        d().receive({int(Can::ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST)});
        QVERIFY(d().controller().receivedRequests().isParked(Can::ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST));
        QCOMPARE(d().controller().receivedRequests().peek(Can::ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST), QVariant(0));
    }

    void sameRequestTwiceInOneTickOnlySecondIsHandled()
    {
        QVERIFY(d().enterByDemoMenu(CMD_PRE_TX, Chart::State::Pre_Tx));
        d().request(Can::ID_UI_WATER_SAMPLE_RESULT_RQST, SimulatorDriver::f32(1.5f));
        d().request(Can::ID_UI_WATER_SAMPLE_RESULT_RQST, SimulatorDriver::f32(2.5f));
        const Messages sent = SimulatorDriver::withId(d().ticks(3), Can::ID_TD_WATER_SAMPLE_RESULT_RESP);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(sent.first()),
                 SimulatorDriver::u32(1) + SimulatorDriver::u32(0) + SimulatorDriver::f32(2.5f));
    }

    void requestWaitsForAStateThatServesIt()
    {
        d().tick();
        d().request(Can::ID_UI_WATER_SAMPLE_RESULT_RQST, SimulatorDriver::f32(4.0f));
        QVERIFY(SimulatorDriver::withId(d().ticks(30), Can::ID_TD_WATER_SAMPLE_RESULT_RESP).isEmpty());
        QVERIFY(d().controller().receivedRequests().isParked(Can::ID_UI_WATER_SAMPLE_RESULT_RQST));

        // Pre_Tx's first step answers it.
        d().demoMenu(CMD_PRE_TX);
        QVERIFY(d().tickUntilState(Chart::State::Pre_Tx));
        d().tick();
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_WATER_SAMPLE_RESULT_RQST));
        QCOMPARE(SimulatorDriver::withId(d().tick(), Can::ID_TD_WATER_SAMPLE_RESULT_RESP).size(), 1);
    }

    void requestNeverServedByTheStateStaysParked()
    {
        // Pre_Tx never serves a dry-bicart request.
        QVERIFY(d().enterByDemoMenu(CMD_PRE_TX, Chart::State::Pre_Tx));
        d().request(Can::ID_UI_DRY_BICART_DISCONNECT_RQST, SimulatorDriver::u32(DRY_BICART_ACTION_DRAIN));
        const Messages sent = d().ticks(50);
        QVERIFY(SimulatorDriver::withId(sent, Can::ID_TD_DRY_BICART_DISCONNECT_RESP).isEmpty());
        QVERIFY(d().controller().receivedRequests().isParked(Can::ID_UI_DRY_BICART_DISCONNECT_RQST));
        QCOMPARE(d().state(), Chart::State::Pre_Tx);
    }

    void shortAndEmptyPayloadsReadAsZero_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("two bytes") << QByteArray(2, '\x7F');
        QTest::newRow("three bytes") << QByteArray(3, '\x7F');
    }

    void shortAndEmptyPayloadsReadAsZero()
    {
        QFETCH(QByteArray, payload);
        QVERIFY(d().enterByDemoMenu(CMD_PRE_TX, Chart::State::Pre_Tx));
        d().request(Can::ID_UI_WATER_SAMPLE_RESULT_RQST, payload);
        const Messages sent = SimulatorDriver::withId(d().ticks(2), Can::ID_TD_WATER_SAMPLE_RESULT_RESP);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(sent.first()),
                 SimulatorDriver::u32(1) + SimulatorDriver::u32(0) + SimulatorDriver::f32(0.0f));
    }

    void nullPayloadIsNotParked()
    {
        // A null value means "nothing parked".
        d().receive({int(Can::ID_UI_WATER_SAMPLE_RESULT_RQST), 1, QVariant()});
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_WATER_SAMPLE_RESULT_RQST));
        d().receive({int(Can::ID_UI_WATER_SAMPLE_RESULT_RQST), 1, QByteArray()});
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_WATER_SAMPLE_RESULT_RQST));
        d().ticks(3);
    }

    void everyParkedRequestWithAnyPayloadIsSafe()
    {
        // Every request the controller parks, with short and empty payloads,
        // in every state the demo menu reaches.
        const QList<Can::Message_ID_Enum> ids{Can::ID_UI_ALARM_USER_ACTION_REQUEST,
                                              Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE,
                                              Can::ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST,
                                              Can::ID_UI_UF_PAUSE_RESUME_RQST,
                                              Can::ID_UI_FLUID_BOLUS_RQST,
                                              Can::ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST,
                                              Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST,
                                              Can::ID_UI_BOLUS_VOLUME_CHANGE_RQST,
                                              Can::ID_UI_DURATION_VALIDATE_RQST,
                                              Can::ID_UI_DURATION_CONFIRM_RQST,
                                              Can::ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST,
                                              Can::ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST,
                                              Can::ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST,
                                              Can::ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST,
                                              Can::ID_UI_RINSEBACK_CMD_RQST,
                                              Can::ID_UI_BLOOD_PRIME_CMD_RQST,
                                              Can::ID_UI_WATER_SAMPLE_RESULT_RQST,
                                              Can::ID_UI_RECIRCULATE_RQST,
                                              Can::ID_UI_VITALS_ADJUSTMENT_RQST,
                                              Can::ID_UI_PAUSE_SUB_FLOW_RQST,
                                              Can::ID_UI_HDF_ADJUSTMENT_RQST,
                                              Can::ID_UI_DRY_BICART_DISCONNECT_RQST,
                                              Can::ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST,
                                              Can::ID_UI_BLOOD_PRESSURE_RQST,
                                              Can::ID_TD_END_TREATMENT_RQST,
                                              Can::ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST,
                                              Can::ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST,
                                              Can::ID_UI_PRESSURE_LIMIT_WIDEN_RQST,
                                              Can::ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST};
        const QList<QPair<User_Command_ID, QString>> states{{CMD_PRE_TX, Chart::State::Pre_Tx},
                                                            {CMD_BLOOD_PRIME, Chart::State::Blood_Prime},
                                                            {CMD_MAIN_TX, Chart::State::Treatment},
                                                            {CMD_RINSEBACK, Chart::State::Treatment_Rinseback},
                                                            {CMD_RICIRCULATE, Chart::State::Treatment_Recirculate},
                                                            {CMD_END_TX, Chart::State::Treatment_End},
                                                            {CMD_POST_TX, Chart::State::Post_Tx}};
        for (const auto &target : states) {
            QVERIFY(d().enterByDemoMenu(target.first, target.second));
            for (const QByteArray &payload : {QByteArray(""), QByteArray(1, '\xFF'), QByteArray(5, '\xFF')}) {
                for (Can::Message_ID_Enum id : ids)
                    d().request(id, payload);
                d().ticks(3);
                // Some requests move the chart on (the treatment end request,
                // an alarm that pauses the treatment); none stops it.
                QVERIFY(!d().state().isEmpty());
            }
        }
    }

    void extractionReadsParkedFieldsWithoutTakingThem()
    {
        StateController &controller = d().controller();
        d().request(Can::ID_UI_DURATION_CONFIRM_RQST,
                    SimulatorDriver::u32(240) + SimulatorDriver::u32(60) + SimulatorDriver::f32(1.25f));
        QCOMPARE(controller.extractU32DataFromReceivedMessage(Can::ID_UI_DURATION_CONFIRM_RQST, 0), 240u);
        QCOMPARE(controller.extractU32DataFromReceivedMessage(Can::ID_UI_DURATION_CONFIRM_RQST, 4), 60u);
        QCOMPARE(controller.extractF32DataFromReceivedMessage(Can::ID_UI_DURATION_CONFIRM_RQST, 8), 1.25f);
        // Beyond the payload, and never received: 0.
        QCOMPARE(controller.extractU32DataFromReceivedMessage(Can::ID_UI_DURATION_CONFIRM_RQST, 12), 0u);
        QCOMPARE(controller.extractU32DataFromReceivedMessage(Can::ID_UI_DURATION_CONFIRM_RQST, -4), 0u);
        QCOMPARE(controller.extractF32DataFromReceivedMessage(Can::ID_UI_RECIRCULATE_RQST, 0), 0.0f);
        QVERIFY(controller.receivedRequests().isParked(Can::ID_UI_DURATION_CONFIRM_RQST));
        QVERIFY(!controller.receivedRequests().isParked(Can::ID_UI_RECIRCULATE_RQST));
    }

    void confirmationAnswerToNoOpenDialogIsTakenAndDropped()
    {
        d().tick();
        QTest::ignoreMessage(QtDebugMsg, "Confirm dropped 2 1");
        d().confirmationResult(GENERIC_CONFIRM_ID_TREATMENT_END, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        d().tick();
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_CONFIRMATION_RESULT_RESP));
        QCOMPARE(d().state(), Chart::State::Standby);
    }

    void confirmationResultOfNeitherKindStaysParked()
    {
        d().tick();
        d().confirmationResult(7, CMD_PRE_TX);
        d().ticks(20);
        QVERIFY(d().controller().receivedRequests().isParked(Can::ID_UI_CONFIRMATION_RESULT_RESP));
        QCOMPARE(d().state(), Chart::State::Standby);
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());
        // A later confirmation result replaces it.
        d().demoMenu(CMD_PRE_TX);
        QVERIFY(d().tickUntilState(Chart::State::Pre_Tx));
    }

    void timerDrivesTheChartAndBusRequestsAreAnswered()
    {
        // The service's own path: the 100 ms timer ticks, requests come from
        // the application controller, answers go back through it.
        StateController controller;
        Messages sent;
        connect(
            &ApplicationController::I(), &ApplicationController::didActionTransmit, this,
            [&sent](const QVariantList &list) { sent.append(list); }, Qt::DirectConnection);
        QVERIFY(controller.init());
        QVERIFY(!controller.init());
        QTRY_COMPARE_WITH_TIMEOUT(controller.getActiveStateName(), Chart::State::Standby, 5000);
        emit ApplicationController::I().didUnhandledMsgAppController(
            {int(Can::ID_INITIATE_TREATMENT), -3, SimulatorDriver::u32(1)});
        QTRY_COMPARE_WITH_TIMEOUT(controller.getActiveStateName(), Chart::State::Pre_Tx, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(SimulatorDriver::indexOf(sent, Can::ID_TD_RESP_INITIATE_TREATMENT) >= 0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&sent] {
                for (const QVariantList &message : SimulatorDriver::withId(sent, Can::ID_TD_OP_MODE_DATA))
                    if (SimulatorDriver::payloadBytes(message) == encodedPayload({int(Can::MODE_PRET), 0u}))
                        return true;
                return false;
            }(),
            5000);
        disconnect(&ApplicationController::I(), &ApplicationController::didActionTransmit, this, nullptr);
    }

    void clockSeamGivesTheTime()
    {
        qint64 now = 1000;
        d().controller().setClock([&now] { return now; });
        QCOMPARE(d().controller().currentTimeMS(), qint64(1000));
        now = 61001;
        QCOMPARE(d().controller().currentTimeMS(), qint64(61001));
        // Without a clock of its own the controller uses the monotonic one.
        d().controller().setClock({});
        QElapsedTimer reference;
        reference.start();
        QCOMPARE(QElapsedTimer::clockType(), QElapsedTimer::MonotonicClock);
        QVERIFY(qAbs(d().controller().currentTimeMS() - reference.msecsSinceReference()) < 10000);
    }

    void randomSamplesStartFromSeedOne()
    {
        // The first arterial sample of a Treatment is the seeded generator's
        // first draw over the wide limits, and two runs see the same samples.
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        QRandomGenerator reference(1);
        const float first = float(reference.generateDouble() * 400 + -300);
        QCOMPARE(d().controller().pressureVars().arterialRawMMHG[0], first);

        SimulatorDriver other;
        QVERIFY(other.enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        for (int i = 0; i < 30; ++i)
            QCOMPARE(SimulatorDriver::withId(d().tick(), Can::ID_TD_PRESSURE_DATA),
                     SimulatorDriver::withId(other.tick(), Can::ID_TD_PRESSURE_DATA));
    }
};

QTEST_GUILESS_MAIN(TestStateController)
#include "tst_statecontroller.moc"
