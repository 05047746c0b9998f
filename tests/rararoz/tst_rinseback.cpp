#include <QtTest>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// Rinseback: its start values, every user action with its reject reasons,
// the delivery tick by tick, and the broadcast with its countdown.

namespace {

using Messages = SimulatorDriver::Messages;

enum Action : quint32 {
    ConfirmStart = REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_START,
    Increase = REQUESTED_USER_ACTION_RINSEBACK_INCREASE_RATE,
    Decrease = REQUESTED_USER_ACTION_RINSEBACK_DECREASE_RATE,
    Pause = REQUESTED_USER_ACTION_RINSEBACK_PAUSE,
    Resume = REQUESTED_USER_ACTION_RINSEBACK_RESUME,
    Additional = REQUESTED_USER_ACTION_RINSEBACK_ADDITIONAL,
    Recirculate = REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_RECIRCULATE,
    EndTreatment = REQUESTED_USER_ACTION_RINSEBACK_END_TREATMENT,
    BackToTreatment = REQUESTED_USER_ACTION_RINSEBACK_BACK_TO_TREATMENT,
};

const QString kAccepted = QStringLiteral("1/0");
const QString kPassedOver = QStringLiteral("0/0");
const QString kWrongState = QStringLiteral("0/%1").arg(int(REQUEST_REJECT_REASON_ACTION_DISABLED_IN_CURRENT_STATE));
const QString kAlarmActive = QStringLiteral("0/%1").arg(int(REQUEST_REJECT_REASON_ALARM_IS_ACTIVE));
const QString kCompleted = QStringLiteral("0/%1").arg(int(REQUEST_REJECT_REASON_TREATMENT_IS_COMPLETED));

struct Broadcast {
    float additionalML = -1, accumML = -1;
    quint32 flowMLPM = 0, timeoutS = 0, countdownS = 0, complete = 0, last = 0;
};

Broadcast decode(const QVariantList &message)
{
    using D = SimulatorDriver;
    return {D::field(message, 0).toFloat(), D::field(message, 1).toFloat(), D::field(message, 2).toUInt(),
            D::field(message, 3).toUInt(),  D::field(message, 4).toUInt(),  D::field(message, 5).toUInt(),
            D::field(message, 6).toUInt()};
}

} // namespace

class TestRinseback : public SimulatorTest
{
    Q_OBJECT

private:
    Rinseback_States rinsebackState() const { return d().controller().treatmentSubStates().rinsebackState; }

    // Sends one action and returns its answer; the request is served on the
    // next tick and answered on the one after.
    QString act(quint32 action, Messages *sent = nullptr)
    {
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, SimulatorDriver::u32(action));
        const Messages messages = d().ticks(2);
        if (sent)
            *sent = messages;
        const Messages answers = SimulatorDriver::withId(messages, Can::ID_TD_RINSEBACK_CMD_RESP);
        if (answers.size() == 1 && SimulatorDriver::payloadBytes(answers.first()).size() != 8)
            return QStringLiteral("payload of %1 bytes").arg(SimulatorDriver::payloadBytes(answers.first()).size());
        return SimulatorDriver::answerOf(messages, Can::ID_TD_RINSEBACK_CMD_RESP);
    }

    void enterRinseback() { QVERIFY(d().enterByDemoMenu(CMD_RINSEBACK, Chart::State::Treatment_Rinseback)); }

    void runToStop()
    {
        QCOMPARE(act(ConfirmStart), kAccepted);
        QVERIFY(d().tickUntil([&] { return rinsebackState() == RINSEBACK_STOP_STATE; }, 4000));
    }

private slots:

    void entryInitialisesAndBroadcasts()
    {
        d().tick();
        d().demoMenu(CMD_RINSEBACK);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Rinseback));
        QCOMPARE(rinsebackState(), RINSEBACK_STOP_INIT_STATE);
        QCOMPARE(status().rinsebackFlowMLPM, 200u);
        QCOMPARE(status().rinsebackAccumVolML, 0.0f);
        QCOMPARE(status().rinsebackAdditionalVolML, 300.0f);
        QCOMPARE(status().isRinsebackComplete, false);
        QCOMPARE(status().rinsebackTimerCounter, 0u);
        QCOMPARE(status().rinsebackAdditionalTimerCounter, 0u);
        QCOMPARE(status().isBloodPumpRunning, true);
        const Messages sent = SimulatorDriver::withId(d().tick(), Can::ID_TD_RINSEBACK_DATA);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().at(1).toInt(), int(Can::eChlid_TD_Sync));
        QCOMPARE(SimulatorDriver::payloadBytes(sent.first()), encodedPayload({300.0f, 0.0f, 200u, 0u, 0u, 0u, 1u}));
    }

    void startPauseAndResumeOnlyWhereAllowed()
    {
        enterRinseback();
        QCOMPARE(act(Pause), kWrongState);
        QCOMPARE(act(Resume), kWrongState);
        QCOMPARE(act(Additional), kWrongState);
        QCOMPARE(act(Recirculate), kWrongState);
        QCOMPARE(act(ConfirmStart), kAccepted);
        QCOMPARE(rinsebackState(), RINSEBACK_RUN_STATE);
        QCOMPARE(act(ConfirmStart), kWrongState);
        QCOMPARE(act(Resume), kWrongState);
        QCOMPARE(act(Pause), kAccepted);
        QCOMPARE(rinsebackState(), RINSEBACK_PAUSED_STATE);
        QCOMPARE(act(Pause), kWrongState);
        const float paused = status().rinsebackAccumVolML;
        d().ticks(50);
        QCOMPARE(status().rinsebackAccumVolML, paused);
        QCOMPARE(act(Resume), kAccepted);
        QCOMPARE(rinsebackState(), RINSEBACK_RUN_STATE);
    }

    void alarmActiveRejectsEveryAction()
    {
        enterRinseback();
        QCOMPARE(act(ConfirmStart), kAccepted);
        d().controller().triggerAnAlarm(ALARM_ID_TD_END_OF_TREATMENT, -999);
        for (quint32 action : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 99u}) {
            Messages sent;
            QCOMPARE(act(action, &sent), kAlarmActive);
            QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST).size(), 0);
        }
        QCOMPARE(rinsebackState(), RINSEBACK_RUN_STATE);
        QCOMPARE(status().rinsebackFlowMLPM, 200u);
        // Once cleared, the actions are taken again.
        d().controller().triggerAnAlarm(ALARM_ID_NO_ALARM, -999);
        QCOMPARE(act(Increase), kAccepted);
    }

    void backToTreatmentAndUnknownActionsAreAnsweredZeroZero()
    {
        enterRinseback();
        QCOMPARE(act(BackToTreatment), kPassedOver);
        QCOMPARE(act(9), kPassedOver);
        QCOMPARE(act(0xFFFFFFFFu), kPassedOver);
        QCOMPARE(act(0x80000000u), kPassedOver);
        QCOMPARE(rinsebackState(), RINSEBACK_STOP_INIT_STATE);
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
    }

    void endTreatmentOpensTheConfirmation()
    {
        enterRinseback();
        Messages sent;
        QCOMPARE(act(EndTreatment, &sent), kAccepted);
        const Messages requests = SimulatorDriver::withId(sent, Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().at(1).toInt(), int(Can::eChlid_TD_UI));
        QCOMPARE(SimulatorDriver::payloadBytes(requests.first()),
                 encodedPayload({int(GENERIC_CONFIRM_ID_TREATMENT_END), int(GENERIC_CONFIRM_CMD_REQUEST_OPEN),
                                 int(REQUEST_REJECT_REASON_NONE), 0.0f, 0.0f, 0.0f, 0.0f}));
        QCOMPARE(d().controller().uiConfirmMessages().value(GENERIC_CONFIRM_ID_TREATMENT_END).confirmStatus,
                 CONFIRMATION_REQUEST_STATUS_PENDING);
        QCOMPARE(rinsebackState(), RINSEBACK_STOP_INIT_STATE);
    }

    void runReachesStopAfterAbout900Ticks()
    {
        enterRinseback();
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, SimulatorDriver::u32(ConfirmStart));
        d().tick();
        QCOMPARE(rinsebackState(), RINSEBACK_RUN_STATE);
        // 300 mL at 200 mL/min: a third of a millilitre a tick.
        int ticks = 1;
        QVERIFY(d().tickUntil(
            [&] {
                ++ticks;
                return rinsebackState() == RINSEBACK_STOP_STATE;
            },
            1000));
        QVERIFY2(ticks >= 899 && ticks <= 902, qPrintable(QString::number(ticks)));
        QVERIFY(status().rinsebackAccumVolML >= 300.0f);
        QVERIFY(status().rinsebackAccumVolML < 300.5f);
        QCOMPARE(status().isRinsebackComplete, false);
    }

    void additionalRunStopsAtFiftyMillilitres()
    {
        enterRinseback();
        runToStop();
        d().tick();
        // Ready for an additional run.
        QCOMPARE(status().rinsebackAdditionalVolML, 0.0f);
        const float main = status().rinsebackAccumVolML;
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, SimulatorDriver::u32(Additional));
        d().tick();
        QCOMPARE(rinsebackState(), RINSEBACK_RUN_ADDITIONAL_STATE);
        int ticks = 1;
        QVERIFY(d().tickUntil(
            [&] {
                ++ticks;
                return rinsebackState() == RINSEBACK_STOP_STATE;
            },
            400));
        QVERIFY2(ticks >= 149 && ticks <= 152, qPrintable(QString::number(ticks)));
        QVERIFY(status().rinsebackAdditionalVolML >= 50.0f);
        QVERIFY(status().rinsebackAdditionalVolML < 50.5f);
        QCOMPARE(status().rinsebackAdditionalTimerCounter, quint32(ticks));
        QVERIFY(qAbs(status().rinsebackAccumVolML - main - status().rinsebackAdditionalVolML) < 0.01f);
        // The next stopped tick makes ready for another.
        d().tick();
        QCOMPARE(status().rinsebackAdditionalVolML, 0.0f);
        QCOMPARE(status().rinsebackAdditionalTimerCounter, 0u);
        QCOMPARE(act(Additional), kAccepted);
    }

    void additionalRunAtHundredStopsAfterTwentyFiveSeconds()
    {
        enterRinseback();
        QCOMPARE(act(ConfirmStart), kAccepted);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(act(Decrease), kAccepted);
        QCOMPARE(status().rinsebackFlowMLPM, 100u);
        QVERIFY(d().tickUntil([&] { return rinsebackState() == RINSEBACK_STOP_STATE; }, 4000));
        d().tick();
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, SimulatorDriver::u32(Additional));
        d().tick();
        QCOMPARE(rinsebackState(), RINSEBACK_RUN_ADDITIONAL_STATE);
        QVERIFY(d().tickUntil([&] { return rinsebackState() == RINSEBACK_STOP_STATE; }, 400));
        QCOMPARE(status().rinsebackAdditionalTimerCounter, 251u);
        QVERIFY(qAbs(status().rinsebackAdditionalVolML - 41.8f) < 0.05f);
    }

    void recirculationOnlyFromStopAndNotWhenComplete()
    {
        enterRinseback();
        QCOMPARE(act(ConfirmStart), kAccepted);
        QCOMPARE(act(Recirculate), kWrongState);
        QVERIFY(d().tickUntil([&] { return rinsebackState() == RINSEBACK_STOP_STATE; }, 1000));
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, SimulatorDriver::u32(Recirculate));
        d().tick();
        QVERIFY(status().hasRecircBeenRequested);
        const Messages answers = SimulatorDriver::withId(d().tick(), Can::ID_TD_RINSEBACK_CMD_RESP);
        QCOMPARE(answers.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(answers.first()), encodedPayload({1u, 0}));
        QCOMPARE(d().state(), Chart::State::Treatment_Recirculate);
    }

    void recirculationRefusedOnceTheTreatmentIsComplete()
    {
        // From Treatment_End, where the treatment is complete.
        QVERIFY(d().enterByDemoMenu(CMD_END_TX, Chart::State::Treatment_End));
        d().requestWithoutPayload(Can::ID_TD_END_TREATMENT_RQST);
        QVERIFY(d().tickUntilState(Chart::State::Treatment_Rinseback));
        d().tick();
        QVERIFY(status().isTreatmentComplete);
        // The end-of-treatment alarm still shows; it is cleared first.
        QCOMPARE(act(Recirculate), kAlarmActive);
        d().controller().triggerAnAlarm(ALARM_ID_NO_ALARM, -999);
        QCOMPARE(act(Recirculate), kCompleted);
        runToStop();
        QCOMPARE(act(Recirculate), kCompleted);
        QVERIFY(!status().hasRecircBeenRequested);
        d().ticks(5);
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
    }

    void repeatedActionsInOneTickServeTheLast()
    {
        enterRinseback();
        QCOMPARE(act(ConfirmStart), kAccepted);
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, SimulatorDriver::u32(Increase));
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, SimulatorDriver::u32(Pause));
        const Messages sent = d().ticks(2);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_RINSEBACK_CMD_RESP).size(), 1);
        QCOMPARE(status().rinsebackFlowMLPM, 200u);
        QCOMPARE(rinsebackState(), RINSEBACK_PAUSED_STATE);
    }

    void shortActionReadsAsZero()
    {
        enterRinseback();
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, QByteArray(2, '\x05'));
        const Messages sent = d().ticks(2);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_RINSEBACK_CMD_RESP).size(), 1);
        QCOMPARE(rinsebackState(), RINSEBACK_RUN_STATE);
    }

    void actionWaitsForRinseback()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().request(Can::ID_UI_RINSEBACK_CMD_RQST, SimulatorDriver::u32(ConfirmStart));
        QCOMPARE(SimulatorDriver::withId(d().ticks(5), Can::ID_TD_RINSEBACK_CMD_RESP).size(), 0);
        QVERIFY(d().enterByDemoMenu(CMD_RINSEBACK, Chart::State::Treatment_Rinseback));
        // Served on the first step.
        QCOMPARE(rinsebackState(), RINSEBACK_RUN_STATE);
    }

    void broadcastShowsTheCountdownWhileStopped()
    {
        enterRinseback();
        // Running: no countdown.
        QCOMPARE(act(ConfirmStart), kAccepted);
        Messages sent;
        d().tickUntil([] { return false; }, 30, &sent);
        for (const QVariantList &message : SimulatorDriver::withId(sent, Can::ID_TD_RINSEBACK_DATA)) {
            const Broadcast b = decode(message);
            QCOMPARE(b.timeoutS, 0u);
            QCOMPARE(b.countdownS, 0u);
            QCOMPARE(b.flowMLPM, 200u);
            QCOMPARE(b.last, 1u);
        }
        // Stopped: 300 s counted down, then 0 with the timeout still shown.
        QVERIFY(d().tickUntil([&] { return rinsebackState() == RINSEBACK_STOP_STATE; }, 1000));
        // What the stopping tick queued goes out on the next one.
        d().tick();
        sent.clear();
        d().tickUntil([] { return false; }, 3100, &sent);
        const Messages broadcasts = SimulatorDriver::withId(sent, Can::ID_TD_RINSEBACK_DATA);
        QVERIFY(broadcasts.size() >= 309);
        quint32 previous = 301;
        for (const QVariantList &message : broadcasts) {
            const Broadcast b = decode(message);
            QCOMPARE(b.timeoutS, 300u);
            QVERIFY(b.countdownS < previous || b.countdownS == 0);
            previous = b.countdownS;
            QCOMPARE(b.complete, 0u);
        }
        QVERIFY(decode(broadcasts.first()).countdownS >= 298);
        QCOMPARE(decode(broadcasts.last()).countdownS, 0u);
    }

    void broadcastOncePerSecond()
    {
        enterRinseback();
        QList<int> at;
        for (int i = 0; i < 40; ++i)
            if (SimulatorDriver::indexOf(d().tick(), Can::ID_TD_RINSEBACK_DATA) >= 0)
                at << d().tickCount();
        QCOMPARE(at.size(), 4);
        for (int i = 1; i < at.size(); ++i)
            QCOMPARE(at.at(i) - at.at(i - 1), 10);
    }
};

QTEST_GUILESS_MAIN(TestRinseback)
#include "tst_rinseback.moc"
