#include <QtTest>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// Recirculation with its warning and time-out, the treatment pause's
// countdown, and treatment end: the request on to rinseback and the
// ten-minute alarm.

namespace {

using Messages = SimulatorDriver::Messages;

enum Action : quint32 {
    Reconnect = REQUESTED_USER_ACTION_TX_RECIRC_RECONNECT,
    ConfirmReconnect = REQUESTED_USER_ACTION_TX_RECIRC_CONFIRM_RECONNECT,
    ResumeRecirc = REQUESTED_USER_ACTION_TX_RECIRC_RESUME_RC,
    EndTreatment = REQUESTED_USER_ACTION_TX_RECIRC_END_TREATMENT,
    ConfirmDisconnect = REQUESTED_USER_ACTION_TX_RECIRC_CONFIRM_DISCONNECT,
};

constexpr int kTicksPerSecond = 10;

} // namespace

class TestRecirculation : public SimulatorTest
{
    Q_OBJECT

private:
    Recirculate_States recircState() const { return d().controller().treatmentSubStates().recircState; }
    Alarm_List topAlarm() const { return status().activeTopAlarm; }

    // Sends one action; its answer as "accepted/reason".
    QString act(quint32 action, Messages *sent = nullptr)
    {
        d().request(Can::ID_UI_RECIRCULATE_RQST, SimulatorDriver::u32(action));
        const Messages messages = d().ticks(2);
        if (sent)
            *sent = messages;
        return SimulatorDriver::answerOf(messages, Can::ID_TD_RECIRCULATE_RESP);
    }

    void enterRecirculation() { QVERIFY(d().enterByDemoMenu(CMD_RICIRCULATE, Chart::State::Treatment_Recirculate)); }

    void enterPause()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().demoMenu(CMD_TX_STOP);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Pause));
    }

private slots:

    void entryInitialisesAndBroadcasts()
    {
        d().tick();
        d().demoMenu(CMD_RICIRCULATE);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Recirculate));
        QCOMPARE(recircState(), TREATMENT_RECIRC_DISCONNECT_PATIENT_STATE);
        QCOMPARE(status().recircTimerCounter, 0u);
        QCOMPARE(status().recircTimeoutS, 1800u);
        QCOMPARE(status().hasResumeTxBeenRequested, false);
        QCOMPARE(status().hasRecircWarnAlarmBeenTrig, false);
        QCOMPARE(status().hasRecircTimeoutAlarmBeenTrig, false);
        QCOMPARE(status().isBloodPumpRunning, true);
        const Messages sent = SimulatorDriver::withId(d().tick(), Can::ID_TD_RECIRCULATE_DATA);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().at(1).toInt(), int(Can::eChlid_TD_Sync));
        QCOMPARE(SimulatorDriver::payloadBytes(sent.first()), encodedPayload({1800u}));
    }

    void recirculationServesTheRinsebacksRequest()
    {
        QVERIFY(d().enterByDemoMenu(CMD_RINSEBACK, Chart::State::Treatment_Rinseback));
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, SimulatorDriver::u32(REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_START));
        QVERIFY(d().tickUntil(
            [&] { return d().controller().treatmentSubStates().rinsebackState == RINSEBACK_STOP_STATE; }, 1000));
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST,
                    SimulatorDriver::u32(REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_RECIRCULATE));
        d().tick();
        QVERIFY(status().hasRecircBeenRequested);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Recirculate));
        // Taken: a later rinseback of the treatment is not sent on at once.
        QVERIFY(!status().hasRecircBeenRequested);
    }

    void disconnectReconnectAndConfirmGoBackToBloodPrime()
    {
        enterRecirculation();
        QCOMPARE(act(ConfirmDisconnect), QStringLiteral("1/0"));
        QCOMPARE(recircState(), TREATMENT_RECIRC_RECIRC_STATE);
        QCOMPARE(act(Reconnect), QStringLiteral("1/0"));
        QCOMPARE(recircState(), TREATMENT_RECIRC_RECONNECT_PATIENT_STATE);
        d().request(Can::ID_UI_RECIRCULATE_RQST, SimulatorDriver::u32(ConfirmReconnect));
        d().tick();
        QVERIFY(status().hasResumeTxBeenRequested);
        QCOMPARE(recircState(), TREATMENT_RECIRC_RECONNECT_PATIENT_STATE);
        // Answered, and on to Blood_Prime, on the next tick.
        const Messages answers = SimulatorDriver::withId(d().tick(), Can::ID_TD_RECIRCULATE_RESP);
        QCOMPARE(answers.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(answers.first()), encodedPayload({1u, 0}));
        QCOMPARE(d().state(), Chart::State::Blood_Prime);
    }

    void actionsOutOfTurnAreRejected()
    {
        enterRecirculation();
        const QString wrongState =
            QStringLiteral("0/%1").arg(int(REQUEST_REJECT_REASON_ACTION_DISABLED_IN_CURRENT_STATE));
        // Reconnecting before the patient was disconnected.
        QCOMPARE(act(Reconnect), wrongState);
        QCOMPARE(act(ConfirmReconnect), wrongState);
        QCOMPARE(act(ResumeRecirc), wrongState);
        QCOMPARE(recircState(), TREATMENT_RECIRC_DISCONNECT_PATIENT_STATE);
        QCOMPARE(act(ConfirmDisconnect), QStringLiteral("1/0"));
        QCOMPARE(act(ConfirmDisconnect), wrongState);
        QCOMPARE(act(ConfirmReconnect), wrongState);
        // Nothing leads into the stopped state, so resuming is never allowed.
        QCOMPARE(act(ResumeRecirc), wrongState);
        QVERIFY(!status().hasResumeTxBeenRequested);
        QCOMPARE(d().state(), Chart::State::Treatment_Recirculate);
    }

    void unknownActionsAreAnsweredZeroZero()
    {
        enterRecirculation();
        QCOMPARE(act(5), QStringLiteral("0/0"));
        QCOMPARE(act(0xFFFFFFFFu), QStringLiteral("0/0"));
        QCOMPARE(recircState(), TREATMENT_RECIRC_DISCONNECT_PATIENT_STATE);
    }

    void endTreatmentOpensTheConfirmation()
    {
        enterRecirculation();
        Messages sent;
        QCOMPARE(act(EndTreatment, &sent), QStringLiteral("1/0"));
        const Messages requests = SimulatorDriver::withId(sent, Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(requests.first()),
                 encodedPayload({int(GENERIC_CONFIRM_ID_TREATMENT_END), int(GENERIC_CONFIRM_CMD_REQUEST_OPEN),
                                 int(REQUEST_REJECT_REASON_NONE), 0.0f, 0.0f, 0.0f, 0.0f}));

        // Accepted, it ends the treatment: post-treatment announces itself.
        d().confirmationResult(GENERIC_CONFIRM_ID_TREATMENT_END, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        const QByteArray postTreatment = encodedPayload({int(Can::MODE_POST), 0u});
        Messages after;
        QVERIFY(d().tickUntil(
            [&] {
                for (const QVariantList &mode : SimulatorDriver::withId(after, Can::ID_TD_OP_MODE_DATA))
                    if (SimulatorDriver::payloadBytes(mode) == postTreatment)
                        return true;
                return false;
            },
            30, &after));
    }

    void alarmActiveRejectsEveryAction()
    {
        enterRecirculation();
        d().controller().triggerAnAlarm(ALARM_ID_TD_RECIRC_TIMEOUT_WARNING, -999);
        const QString alarmActive = QStringLiteral("0/%1").arg(int(REQUEST_REJECT_REASON_ALARM_IS_ACTIVE));
        for (quint32 action : {0u, 1u, 2u, 3u, 4u, 9u}) {
            Messages sent;
            QCOMPARE(act(action, &sent), alarmActive);
            QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST).size(), 0);
        }
        QCOMPARE(recircState(), TREATMENT_RECIRC_DISCONNECT_PATIENT_STATE);
    }

    void warningAndTimeoutAlarmsWhileRecirculating()
    {
        enterRecirculation();
        d().request(Can::ID_UI_RECIRCULATE_RQST, SimulatorDriver::u32(ConfirmDisconnect));
        // The warning comes at 1200 s after the entry.
        QVERIFY(d().tickUntil([&] { return topAlarm() == ALARM_ID_TD_RECIRC_TIMEOUT_WARNING; }, 13000));
        QCOMPARE(status().recircTimerCounter, 1200u * kTicksPerSecond);
        QVERIFY(status().hasRecircWarnAlarmBeenTrig);
        QVERIFY(!status().hasRecircTimeoutAlarmBeenTrig);
        QCOMPARE(status().activeAlarmProperty, quint16(112));
        // Cleared by the user, raised again on the next tick.
        d().controller().triggerAnAlarm(ALARM_ID_NO_ALARM, -999);
        d().tick();
        QCOMPARE(topAlarm(), ALARM_ID_TD_RECIRC_TIMEOUT_WARNING);

        // The time-out at 1800 s.
        QVERIFY(d().tickUntil([&] { return topAlarm() == ALARM_ID_TD_RECIRC_TIMEOUT; }, 7000));
        QCOMPARE(status().recircTimerCounter, 1800u * kTicksPerSecond);
        QVERIFY(status().hasRecircTimeoutAlarmBeenTrig);
        QCOMPARE(status().activeAlarmProperty, quint16(26));
        // From then on both are raised on every tick, the time-out last.
        Messages sent;
        d().tickUntil([] { return false; }, 30, &sent);
        QCOMPARE(topAlarm(), ALARM_ID_TD_RECIRC_TIMEOUT);
        const Messages broadcasts = SimulatorDriver::withId(sent, Can::ID_TD_RECIRCULATE_DATA);
        QCOMPARE(broadcasts.size(), 3);
        for (const QVariantList &message : broadcasts)
            QCOMPARE(SimulatorDriver::payloadBytes(message), encodedPayload({0u}));
        const Messages alarms = SimulatorDriver::withId(sent, Can::ID_ALARM_STATUS_DATA);
        QVERIFY(!alarms.isEmpty());
        QCOMPARE(SimulatorDriver::payloadBytes(alarms.last()),
                 encodedPayload({quint32(ALARM_PRIORITY_HIGH), int(ALARM_ID_TD_RECIRC_TIMEOUT), 0u, 26}));
        QCOMPARE(d().state(), Chart::State::Treatment_Recirculate);
    }

    void noTimeoutAlarmsBeforeTheDisconnection()
    {
        enterRecirculation();
        d().ticks(1900 * kTicksPerSecond);
        QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
        QVERIFY(!status().hasRecircWarnAlarmBeenTrig);
        // Disconnected at last: the time counted since the entry applies at once.
        d().request(Can::ID_UI_RECIRCULATE_RQST, SimulatorDriver::u32(ConfirmDisconnect));
        d().tick();
        QCOMPARE(topAlarm(), ALARM_ID_TD_RECIRC_TIMEOUT);
    }

    void broadcastCountsDownOncePerSecond()
    {
        enterRecirculation();
        Messages sent;
        d().tickUntil([] { return false; }, 1800 * kTicksPerSecond + 50, &sent);
        const Messages broadcasts = SimulatorDriver::withId(sent, Can::ID_TD_RECIRCULATE_DATA);
        QVERIFY(broadcasts.size() >= 1800);
        quint32 previous = 1801;
        for (const QVariantList &message : broadcasts) {
            const quint32 remaining = SimulatorDriver::field(message, 0).toUInt();
            QVERIFY(remaining == previous - 1 || (remaining == 0 && previous == 0));
            previous = remaining;
        }
        QCOMPARE(previous, 0u);
    }

    void pauseBroadcastCountsTheBloodSittingTime()
    {
        enterPause();
        Messages sent;
        d().tickUntil([] { return false; }, 3100, &sent);
        const Messages broadcasts = SimulatorDriver::withId(sent, Can::ID_TD_TREATMENT_PAUSED_TIMER_DATA);
        QVERIFY(broadcasts.size() >= 300);
        QCOMPARE(broadcasts.first().at(1).toInt(), int(Can::eChlid_TD_Sync));
        // The counter has counted at least one tick by the first broadcast,
        // so the first remaining time is 299 s: (3000 - n) / 10 with n of 1 to 10.
        QCOMPARE(SimulatorDriver::payloadBytes(broadcasts.first()), encodedPayload({300u, 299u}));
        quint32 previous = 300;
        for (const QVariantList &message : broadcasts) {
            QCOMPARE(SimulatorDriver::field(message, 0).toUInt(), 300u);
            const quint32 remaining = SimulatorDriver::field(message, 1).toUInt();
            QVERIFY(remaining == previous - 1 || (remaining == 0 && previous == 0));
            previous = remaining;
        }
        QCOMPARE(SimulatorDriver::payloadBytes(broadcasts.last()), encodedPayload({300u, 0u}));
    }

    void treatmentEndRequestGoesOnToRinseback()
    {
        QVERIFY(d().enterByDemoMenu(CMD_END_TX, Chart::State::Treatment_End));
        d().requestWithoutPayload(Can::ID_TD_END_TREATMENT_RQST);
        d().tick();
        const Messages sent = d().tick();
        const Messages answers = SimulatorDriver::withId(sent, Can::ID_TD_END_TREATMENT_RESP);
        QCOMPARE(answers.size(), 1);
        QCOMPARE(answers.first().at(1).toInt(), int(Can::eChlid_TD_UI));
        QCOMPARE(SimulatorDriver::payloadBytes(answers.first()), encodedPayload({1u, 0}));
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
    }

    void treatmentEndRequestWaitsForTreatmentEnd()
    {
        QVERIFY(d().enterByDemoMenu(CMD_RINSEBACK, Chart::State::Treatment_Rinseback));
        d().requestWithoutPayload(Can::ID_TD_END_TREATMENT_RQST);
        QCOMPARE(SimulatorDriver::withId(d().ticks(5), Can::ID_TD_END_TREATMENT_RESP).size(), 0);
        QVERIFY(d().controller().receivedRequests().isParked(Can::ID_TD_END_TREATMENT_RQST));
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
    }

    void endOfTreatmentTimeoutExactlyOnceAfterTenMinutes()
    {
        d().tick();
        d().demoMenu(CMD_END_TX);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_End));
        const quint32 entry = d().controller().elapsedTimeCtr();
        QCOMPARE(status().treatmentEndTimeoutAlarmCtr, entry);
        QCOMPARE(topAlarm(), ALARM_ID_TD_END_OF_TREATMENT);
        QVERIFY(d().tickUntil([&] { return topAlarm() == ALARM_ID_TD_END_OF_TREATMENT_TIMEOUT; }, 7000));
        QCOMPARE(d().controller().elapsedTimeCtr() - entry, 6000u);
        QCOMPARE(status().activeAlarmProperty, quint16(108));
        // Cleared, it does not come back.
        d().controller().triggerAnAlarm(ALARM_ID_NO_ALARM, -999);
        d().ticks(6000);
        QCOMPARE(topAlarm(), ALARM_ID_NO_ALARM);
        QCOMPARE(d().state(), Chart::State::Treatment_End);
    }
};

QTEST_GUILESS_MAIN(TestRecirculation)
#include "tst_recirculation.moc"
