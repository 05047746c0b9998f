#include <QtTest>

#include <functional>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// A whole treatment, unattended: the simulator driven tick by tick with the
// requests a UI sends, from Standby through pre-treatment, blood prime, a
// treatment shortened on the way, a stop with rinseback, recirculation and
// back, the end of the treatment, rinseback again, the confirmed end,
// post-treatment, and the demo menu back to Standby.
//
// Recirculation comes before the end of the treatment: once the treatment
// is complete, rinseback refuses to recirculate (the test checks that too).

namespace {

using Messages = SimulatorDriver::Messages;
using D = SimulatorDriver;

// A treatment of 90 minutes: long enough for its ticks, short enough to
// run in a moment.
constexpr quint32 kShortenedMin = 90;
constexpr int kTicksPerMinute = 600;

// A payload field of the last message of id, or -1 when none was sent.
qint64 lastField(const Messages &messages, Can::Message_ID_Enum id, int index)
{
    const Messages found = D::withId(messages, id);
    return found.isEmpty() ? -1 : qint64(D::field(found.last(), index).toLongLong());
}

float lastFloat(const Messages &messages, Can::Message_ID_Enum id, int index)
{
    const Messages found = D::withId(messages, id);
    return found.isEmpty() ? -1.0f : D::field(found.last(), index).toFloat();
}

} // namespace

class TestWholeTreatment : public SimulatorTest
{
    Q_OBJECT

private:
    const Treatment_Sub_State_Vars &sub() const { return d().controller().treatmentSubStates(); }

    // A request as the UI sends it; the messages of the two ticks that serve
    // and answer it.
    Messages send(Can::Message_ID_Enum id, const QByteArray &payload = QByteArray("", 0))
    {
        d().request(id, payload);
        return d().ticks(2);
    }
    Messages sendWithoutPayload(Can::Message_ID_Enum id)
    {
        d().requestWithoutPayload(id);
        return d().ticks(2);
    }
    Messages rinsebackAction(quint32 action) { return send(Can::ID_UI_RINSEBACK_CMD_RQST, D::u32(action)); }
    Messages recircAction(quint32 action) { return send(Can::ID_UI_RECIRCULATE_RQST, D::u32(action)); }
    Messages alarmAction(quint32 action) { return send(Can::ID_UI_ALARM_USER_ACTION_REQUEST, D::u32(action)); }

    // Ticks until the chart is in state; everything sent meanwhile.
    Messages until(const QString &state, int limit, bool *reached)
    {
        Messages sent;
        *reached = d().tickUntil([&] { return d().state() == state; }, limit, &sent);
        return sent;
    }

    static QString confirmation(const Messages &messages)
    {
        const Messages requests = D::withId(messages, Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST);
        if (requests.size() != 1)
            return QStringLiteral("%1 requests").arg(requests.size());
        return QStringLiteral("%1/%2")
            .arg(D::field(requests.first(), 0).toInt())
            .arg(D::field(requests.first(), 1).toInt());
    }

    void standbyToPreTreatment()
    {
        Messages sent = d().ticks(12);
        QCOMPARE(d().state(), Chart::State::Standby);
        QCOMPARE(lastField(sent, Can::ID_TD_OP_MODE_DATA, 0), qint64(Can::MODE_STAN));

        d().request(Can::ID_INITIATE_TREATMENT, D::u32(1));
        bool reached = false;
        sent = until(Chart::State::Pre_Tx, 5, &reached);
        QVERIFY(reached);
        sent += d().tick();
        QCOMPARE(D::answerOf(sent, Can::ID_TD_RESP_INITIATE_TREATMENT), QStringLiteral("1/0"));
        QCOMPARE(lastField(sent, Can::ID_TD_OP_MODE_DATA, 0), qint64(Can::MODE_PRET));
    }

    void preTreatment()
    {
        QCOMPARE(D::answerOf(sendWithoutPayload(Can::ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST),
                             Can::ID_TD_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RESP),
                 QStringLiteral("1/0"));
        QCOMPARE(
            D::answerOf(send(Can::ID_UI_WATER_SAMPLE_RESULT_RQST, D::f32(0.5f)), Can::ID_TD_WATER_SAMPLE_RESULT_RESP),
            QStringLiteral("1/0"));

        Prescription prescription;
        prescription.durationMin = 240;
        prescription.ufVolumeL = 2.0f;
        const Messages validated = send(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, prescription.bytes());
        const Messages answers = D::withId(validated, Can::ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE);
        QCOMPARE(answers.size(), 1);
        QCOMPARE(D::payloadBytes(answers.first()), D::u32(1) + QByteArray(25 * 4, '\0'));
        QVERIFY(status().hasTxParamsBeenInitialized);

        QCOMPARE(D::answerOf(sendWithoutPayload(Can::ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST),
                             Can::ID_TD_ADJUST_DISPOSSABLES_CONFIRM_RESP),
                 QStringLiteral("1/0"));
        const Messages reading = sendWithoutPayload(Can::ID_UI_BLOOD_PRESSURE_RQST);
        QCOMPARE(D::answerOf(reading, Can::ID_TD_BLOOD_PRESSURE_READING_RESP), QStringLiteral("1/0"));
        QCOMPARE(D::withId(reading, Can::ID_TD_BLOOD_PRESSURE_DATA).size(), 1);
        QCOMPARE(d().state(), Chart::State::Pre_Tx);

        d().requestWithoutPayload(Can::ID_UI_ADJUST_START_TREATMENT_RQST);
        bool reached = false;
        Messages sent = until(Chart::State::Blood_Prime, 5, &reached);
        QVERIFY(reached);
        sent += d().tick();
        QCOMPARE(D::answerOf(sent, Can::ID_TD_ADJUST_START_TREATMENT_RESP), QStringLiteral("1/0"));
        QCOMPARE(lastField(sent, Can::ID_TD_OP_MODE_DATA, 0), qint64(Can::MODE_TREA));
    }

    void bloodPrime(bool first)
    {
        QCOMPARE(d().state(), Chart::State::Blood_Prime);
        QCOMPARE(sub().txState, TREAT_BLOOD_PRIME_STATE);
        bool reached = false;
        Messages sent = until(Chart::State::Treatment, 2000, &reached);
        QVERIFY(reached);
        // The prime volume grew to just above its target, once a second.
        const Messages progress = D::withId(sent, Can::ID_TD_BLOOD_PRIME_PROGRESS_DATA);
        QVERIFY(progress.size() >= 15);
        float previous = -1.0f;
        for (const QVariantList &message : progress) {
            QCOMPARE(D::field(message, 0).toFloat(), 146.6f);
            QVERIFY(D::field(message, 1).toFloat() >= previous);
            previous = D::field(message, 1).toFloat();
        }
        QVERIFY(double(previous) > 146.6);
        // The pressure limits stay wide while priming.
        QCOMPARE(lastField(sent, Can::ID_TD_PRESSURE_DATA, 2), qint64(PRESSURE_LIMITS_STATE_WIDE));
        sent = d().ticks(12);
        QCOMPARE(sub().txState, TREAT_DIALYSIS_STATE);
        QCOMPARE(lastField(sent, Can::ID_TD_TREATMENT_STATE_DATA, 0), qint64(TREAT_DIALYSIS_STATE));
        QCOMPARE(lastField(sent, Can::ID_TD_OP_MODE_DATA, 0), qint64(Can::MODE_TREA));
        if (first)
            QVERIFY(lastField(sent, Can::ID_TD_TREATMENT_TIME_DATA, 1) <= 2);
        else
            QVERIFY(lastField(sent, Can::ID_TD_TREATMENT_TIME_DATA, 1) > 60);
    }

    void shortenTheTreatment()
    {
        // A minute in, the pressure limits have closed.
        Messages sent = d().ticks(kTicksPerMinute + 20);
        QCOMPARE(lastField(sent, Can::ID_TD_PRESSURE_DATA, 2), qint64(PRESSURE_LIMITS_STATE_STABLE));
        QCOMPARE(lastField(sent, Can::ID_TD_TREATMENT_TIME_DATA, 0), qint64(240 * 60));

        const Messages validated = send(Can::ID_UI_DURATION_VALIDATE_RQST, D::u32(kShortenedMin));
        const Messages answers = D::withId(validated, Can::ID_TD_DURATION_VALIDATE_RESP);
        QCOMPARE(answers.size(), 1);
        const QVariantList &answer = answers.first();
        QCOMPARE(D::field(answer, 0).toUInt(), 1u);
        QCOMPARE(D::field(answer, 1).toInt(), 0);
        QCOMPARE(D::field(answer, 2).toUInt(), kShortenedMin);
        const quint32 heparinMin = D::field(answer, 3).toUInt();
        QCOMPARE(D::field(answer, 4).toFloat(), 2.0f);
        const float rateLHR = D::field(answer, 5).toFloat();
        QVERIFY(rateLHR > 1.3f && rateLHR < 1.4f);

        // Sent back as the UI shows it, to two decimals.
        const float shownRate = float(qRound(double(rateLHR) * 100.0) / 100.0);
        const QByteArray confirm = D::u32(kShortenedMin) + D::u32(heparinMin) + D::f32(shownRate);
        QCOMPARE(D::answerOf(send(Can::ID_UI_DURATION_CONFIRM_RQST, confirm), Can::ID_TD_DURATION_CONFIRM_RESP),
                 QStringLiteral("1/0"));
        QCOMPARE(d().controller().treatmentParams().treatmentDurationMin, kShortenedMin);
        sent = d().ticks(12);
        QCOMPARE(lastField(sent, Can::ID_TD_TREATMENT_TIME_DATA, 0), qint64(kShortenedMin * 60));
    }

    void stopToRinseback()
    {
        // The user stops the treatment from the menu: paused, with its alarm.
        d().demoMenu(CMD_TX_STOP);
        bool reached = false;
        Messages sent = until(Chart::State::Treatment_Pause, 5, &reached);
        QVERIFY(reached);
        sent += d().ticks(12);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_TD_TREATMENT_STOPPED_BY_USER);
        QCOMPARE(lastField(sent, Can::ID_ALARM_STATUS_DATA, 1), qint64(ALARM_ID_TD_TREATMENT_STOPPED_BY_USER));
        QCOMPARE(lastField(sent, Can::ID_TD_TREATMENT_STATE_DATA, 0), qint64(TREAT_PAUSED_STATE));
        QCOMPARE(lastField(sent, Can::ID_TD_TREATMENT_PAUSED_TIMER_DATA, 0), qint64(300));

        // The alarm's rinseback action, confirmed.
        QCOMPARE(
            confirmation(alarmAction(ALARM_USER_ACTION_RINSEBACK)),
            QStringLiteral("%1/%2").arg(int(GENERIC_CONFIRM_ID_RINSEBACK)).arg(int(GENERIC_CONFIRM_CMD_REQUEST_OPEN)));
        d().confirmationResult(GENERIC_CONFIRM_ID_RINSEBACK, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        sent = until(Chart::State::Treatment_Rinseback, 5, &reached);
        QVERIFY(reached);
        sent += d().tick();
        QCOMPARE(
            confirmation(sent),
            QStringLiteral("%1/%2").arg(int(GENERIC_CONFIRM_ID_RINSEBACK)).arg(int(GENERIC_CONFIRM_CMD_ACCEPT_CLOSE)));
        QCOMPARE(status().activeTopAlarm, ALARM_ID_NO_ALARM);
        QVERIFY(!status().isTreatmentComplete);
    }

    // Rinseback from the start to the stop after the prescribed volume.
    void rinsebackRun()
    {
        QCOMPARE(d().state(), Chart::State::Treatment_Rinseback);
        QCOMPARE(sub().rinsebackState, RINSEBACK_STOP_INIT_STATE);
        QCOMPARE(
            D::answerOf(rinsebackAction(REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_START), Can::ID_TD_RINSEBACK_CMD_RESP),
            QStringLiteral("1/0"));
        Messages sent;
        QVERIFY(d().tickUntil([&] { return sub().rinsebackState == RINSEBACK_STOP_STATE; }, 1000, &sent));
        QVERIFY(lastFloat(sent, Can::ID_TD_RINSEBACK_DATA, 1) > 290.0f);
        QCOMPARE(lastField(sent, Can::ID_TD_RINSEBACK_DATA, 2), qint64(200));
        QCOMPARE(lastField(sent, Can::ID_TD_TREATMENT_STATE_DATA, 0), qint64(TREAT_RINSEBACK_STATE));
        sent = d().ticks(30);
        QVERIFY(lastField(sent, Can::ID_TD_RINSEBACK_DATA, 4) >= 296);
        QCOMPARE(lastField(sent, Can::ID_TD_RINSEBACK_DATA, 3), qint64(300));
    }

    void recirculationAndBack()
    {
        QCOMPARE(D::answerOf(rinsebackAction(REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_RECIRCULATE),
                             Can::ID_TD_RINSEBACK_CMD_RESP),
                 QStringLiteral("1/0"));
        bool reached = false;
        Messages sent = until(Chart::State::Treatment_Recirculate, 5, &reached);
        QVERIFY(reached);
        sent += d().ticks(12);
        QCOMPARE(lastField(sent, Can::ID_TD_TREATMENT_STATE_DATA, 0), qint64(TREAT_RECIRC_STATE));
        QVERIFY(lastField(sent, Can::ID_TD_RECIRCULATE_DATA, 0) >= 1799);

        const QString accepted = QStringLiteral("1/0");
        QCOMPARE(
            D::answerOf(recircAction(REQUESTED_USER_ACTION_TX_RECIRC_CONFIRM_DISCONNECT), Can::ID_TD_RECIRCULATE_RESP),
            accepted);
        d().ticks(5 * kTicksPerMinute);
        QCOMPARE(D::answerOf(recircAction(REQUESTED_USER_ACTION_TX_RECIRC_RECONNECT), Can::ID_TD_RECIRCULATE_RESP),
                 accepted);
        d().request(Can::ID_UI_RECIRCULATE_RQST, D::u32(REQUESTED_USER_ACTION_TX_RECIRC_CONFIRM_RECONNECT));
        sent = until(Chart::State::Blood_Prime, 5, &reached);
        QVERIFY(reached);
        sent += d().tick();
        QCOMPARE(D::answerOf(sent, Can::ID_TD_RECIRCULATE_RESP), accepted);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_NO_ALARM);
    }

    void treatmentToItsEnd()
    {
        bool reached = false;
        Messages sent = until(Chart::State::Treatment_End, int(kShortenedMin) * kTicksPerMinute, &reached);
        QVERIFY(reached);
        QCOMPARE(lastField(sent, Can::ID_TD_TREATMENT_TIME_DATA, 0), qint64(kShortenedMin * 60));
        QVERIFY(lastField(sent, Can::ID_TD_TREATMENT_TIME_DATA, 1) >= qint64(kShortenedMin * 60) - 1);
        sent = d().ticks(12);
        QVERIFY(status().isTreatmentComplete);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_TD_END_OF_TREATMENT);
        QCOMPARE(lastField(sent, Can::ID_ALARM_STATUS_DATA, 0), qint64(ALARM_PRIORITY_LOW));
        QCOMPARE(lastField(sent, Can::ID_ALARM_STATUS_DATA, 1), qint64(ALARM_ID_TD_END_OF_TREATMENT));
        QCOMPARE(lastField(sent, Can::ID_TD_TREATMENT_STATE_DATA, 0), qint64(TREAT_END_STATE));

        // Acknowledged, and on to rinseback.
        alarmAction(ALARM_USER_ACTION_ACK);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_NO_ALARM);
        d().requestWithoutPayload(Can::ID_TD_END_TREATMENT_RQST);
        sent = until(Chart::State::Treatment_Rinseback, 5, &reached);
        QVERIFY(reached);
        QCOMPARE(D::answerOf(sent, Can::ID_TD_END_TREATMENT_RESP), QStringLiteral("1/0"));
    }

    void confirmedEndToPostTreatment()
    {
        // A complete treatment does not recirculate.
        QCOMPARE(D::answerOf(rinsebackAction(REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_RECIRCULATE),
                             Can::ID_TD_RINSEBACK_CMD_RESP),
                 QStringLiteral("0/%1").arg(int(REQUEST_REJECT_REASON_TREATMENT_IS_COMPLETED)));
        const Messages ended = rinsebackAction(REQUESTED_USER_ACTION_RINSEBACK_END_TREATMENT);
        QCOMPARE(D::answerOf(ended, Can::ID_TD_RINSEBACK_CMD_RESP), QStringLiteral("1/0"));
        QCOMPARE(confirmation(ended), QStringLiteral("%1/%2")
                                          .arg(int(GENERIC_CONFIRM_ID_TREATMENT_END))
                                          .arg(int(GENERIC_CONFIRM_CMD_REQUEST_OPEN)));
        d().confirmationResult(GENERIC_CONFIRM_ID_TREATMENT_END, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        bool reached = false;
        Messages sent = until(Chart::State::Post_Tx, 5, &reached);
        QVERIFY(reached);
        sent += d().ticks(12);
        QCOMPARE(confirmation(sent), QStringLiteral("%1/%2")
                                         .arg(int(GENERIC_CONFIRM_ID_TREATMENT_END))
                                         .arg(int(GENERIC_CONFIRM_CMD_ACCEPT_CLOSE)));
        QCOMPARE(lastField(sent, Can::ID_TD_OP_MODE_DATA, 0), qint64(Can::MODE_POST));
    }

    void postTreatmentToStandby()
    {
        QCOMPARE(D::answerOf(sendWithoutPayload(Can::ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST),
                             Can::ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP),
                 QStringLiteral("1/0"));
        QCOMPARE(D::answerOf(sendWithoutPayload(Can::ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST),
                             Can::ID_TD_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RESP),
                 QStringLiteral("1/0"));
        d().demoMenu(CMD_STAND_BY);
        bool reached = false;
        Messages sent = until(Chart::State::Standby, 5, &reached);
        QVERIFY(reached);
        sent += d().ticks(12);
        QCOMPARE(lastField(sent, Can::ID_TD_OP_MODE_DATA, 0), qint64(Can::MODE_STAN));
        QCOMPARE(status().isTreatmentComplete, false);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_NO_ALARM);
    }

    void prepare() override
    {
        // A clock that stands still: no confirmation times out however the
        // machine's time runs.
        d().controller().setClock([] { return qint64(1000000); });
    }

private slots:
    void wholeTreatmentUnattended()
    {
        const QList<std::function<void()>> steps{[this] { standbyToPreTreatment(); },
                                                 [this] { preTreatment(); },
                                                 [this] { bloodPrime(true); },
                                                 [this] { shortenTheTreatment(); },
                                                 [this] { stopToRinseback(); },
                                                 [this] { rinsebackRun(); },
                                                 [this] { recirculationAndBack(); },
                                                 [this] { bloodPrime(false); },
                                                 [this] { treatmentToItsEnd(); },
                                                 [this] { rinsebackRun(); },
                                                 [this] { confirmedEndToPostTreatment(); },
                                                 [this] { postTreatmentToStandby(); }};
        for (const auto &step : steps) {
            step();
            if (QTest::currentTestFailed())
                return;
        }
    }
};

QTEST_GUILESS_MAIN(TestWholeTreatment)
#include "tst_wholetreatment.moc"
