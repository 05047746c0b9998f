#include <QtTest>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// The top alarm, the user's alarm actions, the automatic pause, the scripted
// chemical-replacement alarms and the generic confirmation dialogs.

namespace {

using Messages = SimulatorDriver::Messages;

QByteArray confirmation(Generic_Confirm_Id id, Generic_Confirm_Command command)
{
    return encodedPayload({int(id), int(command), int(REQUEST_REJECT_REASON_NONE), 0.0f, 0.0f, 0.0f, 0.0f});
}

QList<QByteArray> confirmations(const Messages &messages)
{
    QList<QByteArray> found;
    for (const QVariantList &message : SimulatorDriver::withId(messages, Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST)) {
        if (message.at(1).toInt() != int(Can::eChlid_TD_UI))
            return {QByteArray("wrong channel")};
        found << SimulatorDriver::payloadBytes(message);
    }
    return found;
}

} // namespace

class TestAlarms : public SimulatorTest
{
    Q_OBJECT

private:
    qint64 _nowMS = 5000;

    Alarm_List topAlarm() { return status().activeTopAlarm; }
    Treatment_Pause_Sequential_Alarms sequence() { return status().txPauseSeqAlarmState; }
    quint32 ticksSinceMark() { return d().controller().elapsedTimeCtr() - status().triggerAlarmTimeoutCtr; }

    void alarmAction(Alarm_User_Actions action)
    {
        d().request(Can::ID_UI_ALARM_USER_ACTION_REQUEST, SimulatorDriver::u32(quint32(action)));
    }
    void answer(Generic_Confirm_Id id, Confirmation_Status answer)
    {
        d().confirmationResult(quint32(id), quint32(answer));
    }
    Confirmation_Status dialog(Generic_Confirm_Id id)
    {
        return d().controller().uiConfirmMessages().value(id).confirmStatus;
    }

    // Treatment stopped from the demo menu: Treatment_Pause with the stop
    // alarm shown, its first step run.
    void enterPause()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().demoMenu(CMD_TX_STOP);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
        d().tick();
        QCOMPARE(topAlarm(), ALARM_ID_TD_TREATMENT_STOPPED_BY_USER);
    }

    // Opens a dialog in the active state through an alarm action, and
    // checks the request that went out.
    void openByAlarmAction(Alarm_User_Actions action, Generic_Confirm_Id id)
    {
        alarmAction(action);
        d().tick();
        QCOMPARE(dialog(id), CONFIRMATION_REQUEST_STATUS_PENDING);
        QCOMPARE(d().controller().uiConfirmMessages().value(id).startTimeMS, _nowMS);
        QCOMPARE(confirmations(d().tick()), QList<QByteArray>{confirmation(id, GENERIC_CONFIRM_CMD_REQUEST_OPEN)});
    }

    void tickUntilSequenceMark(quint32 ticks)
    {
        while (ticksSinceMark() < ticks)
            d().tick();
    }

    // From Treatment through every step of the acid and bicarbonate
    // replacement, up to the treatment resumed after the last proportioning.
    void walkSequenceUntilLowVenous();

    void prepare() override
    {
        _nowMS = 5000;
        d().controller().setClock([this] { return _nowMS; });
    }

private slots:
    // Alarms --------------------------------------------------------------

    void alarmWithoutARowIsIgnoredAndARepeatedRaiseKeepsTheDefault()
    {
        d().tick();
        StateController &controller = d().controller();
        controller.triggerAnAlarm(ALARM_ID_TD_RECIRC_TIMEOUT, 7);
        QCOMPARE(status().activeAlarmProperty, quint16(7));
        controller.triggerAnAlarm(ALARM_ID_TD_RECIRC_TIMEOUT, -999);
        QCOMPARE(status().activeAlarmProperty, quint16(26));
        controller.triggerAnAlarm(Alarm_List(12345), -999);
        QCOMPARE(topAlarm(), ALARM_ID_TD_RECIRC_TIMEOUT);

        Messages sent;
        QVERIFY(d().tickUntil([] { return true; }, 1, &sent));
        sent.append(d().ticks(3));
        const Messages alarms = SimulatorDriver::withId(sent, Can::ID_ALARM_STATUS_DATA);
        QCOMPARE(alarms.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(alarms.first()), encodedPayload({3u, 200, 0u, 26}));
    }

    void pausingAlarmMovesTreatmentToThePause_data()
    {
        QTest::addColumn<int>("alarm");
        QTest::addColumn<bool>("pauses");
        QTest::newRow("venous pressure low") << int(ALARM_ID_TD_VENOUS_PRESSURE_LOW) << true;
        QTest::newRow("modality change") << int(ALARM_ID_TD_TREATMENT_MODALITY_CHANGE) << true;
        QTest::newRow("proportioning") << int(ALARM_ID_TD_DIALYSATE_PROPORTIONING_IN_PROGRESS) << true;
        QTest::newRow("end of treatment timeout") << int(ALARM_ID_TD_END_OF_TREATMENT_TIMEOUT) << false;
        QTest::newRow("recirculation warning") << int(ALARM_ID_TD_RECIRC_TIMEOUT_WARNING) << false;
    }

    void pausingAlarmMovesTreatmentToThePause()
    {
        QFETCH(int, alarm);
        QFETCH(bool, pauses);
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().controller().triggerAnAlarm(Alarm_List(alarm), -999);
        d().ticks(3);
        QCOMPARE(d().state(), pauses ? Chart::State::Treatment_Pause : Chart::State::Treatment);
        QCOMPARE(status().requestTreatmentReset, !pauses);
        QCOMPARE(int(topAlarm()), alarm);
    }

    void acknowledgeClearsTheAlarmAndStays()
    {
        enterPause();
        alarmAction(ALARM_USER_ACTION_ACK);
        d().tick();
        QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_ALARM_USER_ACTION_REQUEST));
        d().ticks(5);
        QCOMPARE(d().state(), Chart::State::Treatment_Pause);
        const Messages alarms = SimulatorDriver::withId(d().ticks(3), Can::ID_ALARM_STATUS_DATA);
        QCOMPARE(alarms.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(alarms.first()), encodedPayload({0u, 0, 0u, 0}));
    }

    void resumeFromThePauseResumesTheTreatment()
    {
        enterPause();
        alarmAction(ALARM_USER_ACTION_RESUME);
        d().tick();
        QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
        QCOMPARE(d().controller().treatmentSubStates().dialysisSubState, DIALYSIS_UF_STATE);
        QCOMPARE(d().controller().treatmentSubStates().txState, TREAT_DIALYSIS_STATE);
        QVERIFY(d().tickUntilState(Chart::State::Treatment));
        // The stopped treatment goes on where it stood.
        QCOMPARE(status().requestTreatmentReset, false);
    }

    void resumeOutsideThePauseOnlyClearsTheAlarm()
    {
        QVERIFY(d().enterByDemoMenu(CMD_RINSEBACK, Chart::State::Treatment_Rinseback));
        d().controller().triggerAnAlarm(ALARM_ID_TD_RECIRC_TIMEOUT, -999);
        alarmAction(ALARM_USER_ACTION_RESUME);
        d().ticks(4);
        QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
    }

    void unknownAlarmActionIsConsumedWithoutEffect_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("5") << SimulatorDriver::u32(5);
        QTest::newRow("huge") << SimulatorDriver::u32(0xFFFFFFFF);
    }

    void unknownAlarmActionIsConsumedWithoutEffect()
    {
        QFETCH(QByteArray, payload);
        enterPause();
        d().request(Can::ID_UI_ALARM_USER_ACTION_REQUEST, payload);
        const Messages sent = d().ticks(3);
        QVERIFY(!d().controller().receivedRequests().isParked(Can::ID_UI_ALARM_USER_ACTION_REQUEST));
        QCOMPARE(topAlarm(), ALARM_ID_TD_TREATMENT_STOPPED_BY_USER);
        QVERIFY(confirmations(sent).isEmpty());
        QCOMPARE(d().state(), Chart::State::Treatment_Pause);
    }

    // Chemical-replacement sequence ----------------------------------------

    void chemicalReplacementSequenceRunsThroughAllItsSteps()
    {
        walkSequenceUntilLowVenous();
        if (QTest::currentTestFailed())
            return;
        // Three minutes after the resume, to the tick, the venous pressure
        // falls: in Treatment, which it pauses.
        tickUntilSequenceMark(1799);
        QCOMPARE(d().state(), Chart::State::Treatment);
        QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
        d().tick();
        QCOMPARE(topAlarm(), ALARM_ID_TD_VENOUS_PRESSURE_LOW);
        QCOMPARE(ticksSinceMark(), 0u);
        QCOMPARE(sequence(), SEQ_ALARM_NO_ALARM);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
    }

    void lowVenousAlarmIsMissedWhenNoStepRunsOnItsTick()
    {
        walkSequenceUntilLowVenous();
        if (QTest::currentTestFailed())
            return;
        tickUntilSequenceMark(1798);
        // The step one tick before decides to pause; the tick of the alarm
        // only leaves Treatment, and no later count is exactly 1800.
        d().controller().triggerAnAlarm(ALARM_ID_TD_TREATMENT_MODALITY_CHANGE, -999);
        d().ticks(30);
        QCOMPARE(d().state(), Chart::State::Treatment_Pause);
        QCOMPARE(sequence(), SEQ_ALARM_LOW_VENOUS);
        QCOMPARE(topAlarm(), ALARM_ID_TD_TREATMENT_MODALITY_CHANGE);
    }

    // Confirmations ---------------------------------------------------------

    void acceptedConfirmationInThePauseGoesToRinseback_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("id");
        QTest::newRow("rinseback") << int(ALARM_USER_ACTION_RINSEBACK) << int(GENERIC_CONFIRM_ID_RINSEBACK);
        QTest::newRow("temporary break") << int(ALARM_USER_ACTION_TEMPOARY_BREAK)
                                         << int(GENERIC_CONFIRM_ID_TEMPORARY_BREAK);
        QTest::newRow("treatment end") << int(ALARM_USER_ACTION_END_TREATMENT) << int(GENERIC_CONFIRM_ID_TREATMENT_END);
    }

    void acceptedConfirmationInThePauseGoesToRinseback()
    {
        QFETCH(int, action);
        QFETCH(int, id);
        const auto confirmID = Generic_Confirm_Id(id);
        enterPause();
        openByAlarmAction(Alarm_User_Actions(action), confirmID);
        QCOMPARE(topAlarm(), ALARM_ID_TD_TREATMENT_STOPPED_BY_USER);
        d().ticks(20);
        QCOMPARE(d().state(), Chart::State::Treatment_Pause);

        QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("New Message Confirm %1 1").arg(id)));
        answer(confirmID, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        d().tick();
        QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
        const Messages sent = d().tick();
        QCOMPARE(confirmations(sent), QList<QByteArray>{confirmation(confirmID, GENERIC_CONFIRM_CMD_ACCEPT_CLOSE)});
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());
    }

    void rejectedConfirmationIsClosedOnceWithAcceptClose()
    {
        enterPause();
        openByAlarmAction(ALARM_USER_ACTION_RINSEBACK, GENERIC_CONFIRM_ID_RINSEBACK);
        answer(GENERIC_CONFIRM_ID_RINSEBACK, CONFIRMATION_REQUEST_STATUS_REJECTED);
        QTest::ignoreMessage(QtDebugMsg, "Reject");
        d().tick();
        QCOMPARE(dialog(GENERIC_CONFIRM_ID_RINSEBACK), CONFIRMATION_REQUEST_STATUS_UNUSED);
        QCOMPARE(confirmations(d().tick()),
                 QList<QByteArray>{confirmation(GENERIC_CONFIRM_ID_RINSEBACK, GENERIC_CONFIRM_CMD_ACCEPT_CLOSE)});
        // Minutes later nothing closes it again.
        Messages later;
        for (int minute = 1; minute <= 3; ++minute) {
            _nowMS += 60001;
            later.append(d().ticks(5));
        }
        QVERIFY(confirmations(later).isEmpty());
        QCOMPARE(d().state(), Chart::State::Treatment_Pause);
        QCOMPARE(topAlarm(), ALARM_ID_TD_TREATMENT_STOPPED_BY_USER);
    }

    void unansweredConfirmationTimesOutOnceAfterSixtySeconds()
    {
        enterPause();
        openByAlarmAction(ALARM_USER_ACTION_END_TREATMENT, GENERIC_CONFIRM_ID_TREATMENT_END);
        _nowMS += 60000;
        QVERIFY(confirmations(d().ticks(5)).isEmpty());
        _nowMS += 1;
        QTest::ignoreMessage(QtDebugMsg, "Message Timeout");
        d().tick();
        QCOMPARE(dialog(GENERIC_CONFIRM_ID_TREATMENT_END), CONFIRMATION_REQUEST_STATUS_TIMEOUT);
        QCOMPARE(confirmations(d().tick()),
                 QList<QByteArray>{confirmation(GENERIC_CONFIRM_ID_TREATMENT_END, GENERIC_CONFIRM_CMD_TIMEOUT_CLOSE)});
        Messages later;
        for (int minute = 1; minute <= 3; ++minute) {
            _nowMS += 60001;
            later.append(d().ticks(5));
        }
        QVERIFY(confirmations(later).isEmpty());

        // A late "yes" finds no open dialog and does nothing.
        QTest::ignoreMessage(QtDebugMsg, "Confirm dropped 2 1");
        answer(GENERIC_CONFIRM_ID_TREATMENT_END, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        QVERIFY(confirmations(d().ticks(10)).isEmpty());
        QCOMPARE(d().state(), Chart::State::Treatment_Pause);
        QCOMPARE(dialog(GENERIC_CONFIRM_ID_TREATMENT_END), CONFIRMATION_REQUEST_STATUS_TIMEOUT);
    }

    void timeOutIsMeasuredOnTheControllerClock()
    {
        // However the wall clock is set meanwhile, only the controller's own
        // clock counts: 59 s on it keep the dialog open.
        enterPause();
        openByAlarmAction(ALARM_USER_ACTION_RINSEBACK, GENERIC_CONFIRM_ID_RINSEBACK);
        _nowMS += 59000;
        QVERIFY(confirmations(d().ticks(50)).isEmpty());
        QCOMPARE(dialog(GENERIC_CONFIRM_ID_RINSEBACK), CONFIRMATION_REQUEST_STATUS_PENDING);
        answer(GENERIC_CONFIRM_ID_RINSEBACK, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        d().ticks(2);
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
    }

    void answerToADialogNeverOpenedIsDropped()
    {
        enterPause();
        QTest::ignoreMessage(QtDebugMsg, "Confirm dropped 3 1");
        answer(GENERIC_CONFIRM_ID_RINSEBACK, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        const Messages sent = d().ticks(10);
        QVERIFY(confirmations(sent).isEmpty());
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());
        QCOMPARE(d().state(), Chart::State::Treatment_Pause);
    }

    void repeatedAnswerActsOnce()
    {
        enterPause();
        openByAlarmAction(ALARM_USER_ACTION_TEMPOARY_BREAK, GENERIC_CONFIRM_ID_TEMPORARY_BREAK);
        answer(GENERIC_CONFIRM_ID_TEMPORARY_BREAK, CONFIRMATION_REQUEST_STATUS_REJECTED);
        d().tick();
        QTest::ignoreMessage(QtDebugMsg, "Confirm dropped 4 1");
        answer(GENERIC_CONFIRM_ID_TEMPORARY_BREAK, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        const Messages sent = d().ticks(10);
        QCOMPARE(confirmations(sent),
                 QList<QByteArray>{confirmation(GENERIC_CONFIRM_ID_TEMPORARY_BREAK, GENERIC_CONFIRM_CMD_ACCEPT_CLOSE)});
        QCOMPARE(d().state(), Chart::State::Treatment_Pause);
    }

    void answerThatIsNoAnswerLeavesTheDialogOpen()
    {
        enterPause();
        openByAlarmAction(ALARM_USER_ACTION_RINSEBACK, GENERIC_CONFIRM_ID_RINSEBACK);
        answer(GENERIC_CONFIRM_ID_RINSEBACK, CONFIRMATION_REQUEST_STATUS_UNUSED);
        d().confirmationResult(GENERIC_CONFIRM_ID_RINSEBACK, 77);
        d().ticks(3);
        QCOMPARE(dialog(GENERIC_CONFIRM_ID_RINSEBACK), CONFIRMATION_REQUEST_STATUS_PENDING);
        _nowMS += 60001;
        QCOMPARE(confirmations(d().ticks(2)),
                 QList<QByteArray>{confirmation(GENERIC_CONFIRM_ID_RINSEBACK, GENERIC_CONFIRM_CMD_TIMEOUT_CLOSE)});
    }

    void treatmentEndConfirmationIsTakenInTreatmentEnd()
    {
        QVERIFY(d().enterByDemoMenu(CMD_END_TX, Chart::State::Treatment_End));
        QCOMPARE(topAlarm(), ALARM_ID_TD_END_OF_TREATMENT);
        openByAlarmAction(ALARM_USER_ACTION_END_TREATMENT, GENERIC_CONFIRM_ID_TREATMENT_END);
        answer(GENERIC_CONFIRM_ID_TREATMENT_END, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        d().tick();
        QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
        QCOMPARE(confirmations(d().tick()),
                 QList<QByteArray>{confirmation(GENERIC_CONFIRM_ID_TREATMENT_END, GENERIC_CONFIRM_CMD_ACCEPT_CLOSE)});
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
        // The acceptance is spent: rinseback is not skipped.
        d().ticks(50);
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
    }

    void acceptedRinsebackConfirmationInTreatmentEndGoesToRinseback()
    {
        QVERIFY(d().enterByDemoMenu(CMD_END_TX, Chart::State::Treatment_End));
        openByAlarmAction(ALARM_USER_ACTION_RINSEBACK, GENERIC_CONFIRM_ID_RINSEBACK);
        answer(GENERIC_CONFIRM_ID_RINSEBACK, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        d().tick();
        d().tick();
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
        d().ticks(50);
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
    }

    void leavingAStateClosesAndForgetsItsDialogs()
    {
        enterPause();
        openByAlarmAction(ALARM_USER_ACTION_END_TREATMENT, GENERIC_CONFIRM_ID_TREATMENT_END);
        openByAlarmAction(ALARM_USER_ACTION_RINSEBACK, GENERIC_CONFIRM_ID_RINSEBACK);
        answer(GENERIC_CONFIRM_ID_RINSEBACK, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        d().tick();
        // Leaving the pause closes the treatment-end dialog still open.
        const Messages sent = d().ticks(2);
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
        QCOMPARE(
            confirmations(sent),
            (QList<QByteArray>{confirmation(GENERIC_CONFIRM_ID_RINSEBACK, GENERIC_CONFIRM_CMD_ACCEPT_CLOSE),
                               confirmation(GENERIC_CONFIRM_ID_TREATMENT_END, GENERIC_CONFIRM_CMD_TIMEOUT_CLOSE)}));
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());

        // A "yes" to the pause's treatment-end dialog cannot end the
        // treatment from rinseback.
        QTest::ignoreMessage(QtDebugMsg, "Confirm dropped 2 1");
        answer(GENERIC_CONFIRM_ID_TREATMENT_END, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        d().ticks(20);
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
    }

    void resumeLeavesThePauseAndItsDialogBehind()
    {
        enterPause();
        openByAlarmAction(ALARM_USER_ACTION_TEMPOARY_BREAK, GENERIC_CONFIRM_ID_TEMPORARY_BREAK);
        alarmAction(ALARM_USER_ACTION_RESUME);
        d().tick();
        const Messages sent = d().ticks(2);
        QCOMPARE(d().state(), Chart::State::Treatment);
        QCOMPARE(confirmations(sent), QList<QByteArray>{confirmation(GENERIC_CONFIRM_ID_TEMPORARY_BREAK,
                                                                     GENERIC_CONFIRM_CMD_TIMEOUT_CLOSE)});
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());
    }
};

void TestAlarms::walkSequenceUntilLowVenous()
{
    QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
    const Treatment_Params &params = d().controller().treatmentParams();
    // A prescription edit that changes only the acid concentrate.
    QByteArray edit =
        SimulatorDriver::u32(params.bloodFlowRateMLPM) + SimulatorDriver::u32(params.dialysateFlowRateMLPM) +
        SimulatorDriver::f32(params.dialysateTemperatureC) + SimulatorDriver::u32(params.acidConcentrate + 1) +
        SimulatorDriver::f32(params.acidKConcentrateConversionFactor) + SimulatorDriver::u32(params.bicarbobateMEQL) +
        SimulatorDriver::u32(params.treatmentModality) + SimulatorDriver::u32(params.hepatitisBStatus) +
        SimulatorDriver::u32(params.sodiumMEQL) + SimulatorDriver::u32(params.bicarbobateMEQL);
    d().request(Can::ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST, edit);

    // Treatment: the acid alarm at once, and the pause it causes.
    d().tick();
    QCOMPARE(topAlarm(), ALARM_ID_DD_REPLACE_ACID_CONCENTRATE);
    QCOMPARE(status().bicartAction, DRY_BICART_ACTION_DRAIN);
    QCOMPARE(sequence(), SEQ_ALARM_PROPORTIONING_ACID_IN_PROG);
    QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
    d().ticks(5);
    QCOMPARE(topAlarm(), ALARM_ID_DD_REPLACE_ACID_CONCENTRATE);

    // The user clears it; a resume cannot leave while the cartridge is not
    // done. Ten seconds of proportioning follow.
    alarmAction(ALARM_USER_ACTION_RESUME);
    d().tick();
    QCOMPARE(topAlarm(), ALARM_ID_TD_DIALYSATE_PROPORTIONING_IN_PROGRESS);
    QCOMPARE(ticksSinceMark(), 0u);
    tickUntilSequenceMark(99);
    QCOMPARE(topAlarm(), ALARM_ID_TD_DIALYSATE_PROPORTIONING_IN_PROGRESS);
    d().tick();
    QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
    QCOMPARE(sequence(), SEQ_ALARM_DRY_BICARB_CARTRIDGE);
    QCOMPARE(d().state(), Chart::State::Treatment_Pause);

    // The cartridge runs low, then its drain screen.
    d().tick();
    QCOMPARE(topAlarm(), ALARM_ID_DD_BICARBONATE_CARTRIDGE_LOW_LEVEL);
    d().tick();
    QCOMPARE(sequence(), SEQ_ALARM_PROCESS_DRAIN_SCREEN);
    QCOMPARE(status().bicartDrainInProgress, 1u);
    alarmAction(ALARM_USER_ACTION_ACK);
    const Messages draining = d().ticks(20);
    QCOMPARE(sequence(), SEQ_ALARM_PROCESS_DRAIN_SCREEN);
    QVERIFY(!SimulatorDriver::withId(draining, Can::ID_TD_DRY_BICART_DISCONNECT_DATA).isEmpty());
    d().request(Can::ID_UI_DRY_BICART_DISCONNECT_RQST, SimulatorDriver::u32(DRY_BICART_ACTION_DONE));
    d().tick();
    QCOMPARE(topAlarm(), ALARM_ID_DD_REPLACE_BICARB_CARTRIDGE);
    QCOMPARE(sequence(), SEQ_ALARM_TRIGGER_RPLC_BICARB);
    QCOMPARE(SimulatorDriver::withId(d().tick(), Can::ID_TD_DRY_BICART_DISCONNECT_RESP).size(), 1);

    // The user's resume clears the replace alarm; the sequence keeps the
    // pause for its last proportioning, then resumes the treatment.
    alarmAction(ALARM_USER_ACTION_RESUME);
    d().tick();
    QCOMPARE(topAlarm(), ALARM_ID_TD_DIALYSATE_PROPORTIONING_IN_PROGRESS);
    QCOMPARE(sequence(), SEQ_ALARM_PROPORTIONING_BICARB_IN_PROG);
    QCOMPARE(ticksSinceMark(), 0u);
    d().ticks(5);
    QCOMPARE(d().state(), Chart::State::Treatment_Pause);
    tickUntilSequenceMark(99);
    QCOMPARE(topAlarm(), ALARM_ID_TD_DIALYSATE_PROPORTIONING_IN_PROGRESS);
    d().tick();
    QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
    QCOMPARE(sequence(), SEQ_ALARM_LOW_VENOUS);
    QCOMPARE(ticksSinceMark(), 0u);
    QCOMPARE(d().controller().treatmentSubStates().dialysisSubState, DIALYSIS_UF_STATE);
    QVERIFY(d().tickUntilState(Chart::State::Treatment));
}

QTEST_GUILESS_MAIN(TestAlarms)
#include "tst_alarms.moc"
