#include <QtTest>

#include <cmath>
#include <limits>

#include "rararoz/ChartNames.h"
#include "rararoz/RinsebackActions.h"
#include "rararoz/TreatmentEndEvent.h"
#include "rararoz/TreatmentTimeRules.h"

// The treatment's rules on their own, one case a row: the rinseback user
// actions, the UF rate asked by a UF volume or duration change with its
// limits, the confirmation's match, and where an accepted end of treatment
// leads.

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

QString answerOf(const UserActionVerdict &verdict)
{
    return QStringLiteral("%1/%2").arg(verdict.acceptance()).arg(verdict.reasons().value(0).toInt());
}

QString rejected(Reject_Reasons reason)
{
    return QStringLiteral("0/%1").arg(int(reason));
}

const QString kAccepted = QStringLiteral("1/0");
const QString kPassedOver = QStringLiteral("0/0");
const QString kOutOfRange = rejected(REQUEST_REJECT_REASON_PARAM_OUT_OF_RANGE);
const QString kWrongState = rejected(REQUEST_REJECT_REASON_ACTION_DISABLED_IN_CURRENT_STATE);
const QString kCompleted = rejected(REQUEST_REJECT_REASON_TREATMENT_IS_COMPLETED);

} // namespace

class TestTreatmentRules : public QObject
{
    Q_OBJECT

private slots:
    void rinsebackActions_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("state");
        QTest::addColumn<quint32>("flowMLPM");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("stateAfter");
        QTest::addColumn<quint32>("flowAfter");
        QTest::addColumn<bool>("recirculation");

        const int start = REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_START;
        const int increase = REQUESTED_USER_ACTION_RINSEBACK_INCREASE_RATE;
        const int decrease = REQUESTED_USER_ACTION_RINSEBACK_DECREASE_RATE;
        const int pause = REQUESTED_USER_ACTION_RINSEBACK_PAUSE;
        const int resume = REQUESTED_USER_ACTION_RINSEBACK_RESUME;
        const int additional = REQUESTED_USER_ACTION_RINSEBACK_ADDITIONAL;
        const int recirculate = REQUESTED_USER_ACTION_RINSEBACK_CONFIRM_RECIRCULATE;
        const int initial = RINSEBACK_STOP_INIT_STATE;
        const int run = RINSEBACK_RUN_STATE;
        const int paused = RINSEBACK_PAUSED_STATE;
        const int stop = RINSEBACK_STOP_STATE;
        const int runAdditional = RINSEBACK_RUN_ADDITIONAL_STATE;

        QTest::newRow("start") << start << initial << 200u << false << kAccepted << run << 200u << false;
        QTest::newRow("start while running") << start << run << 200u << false << kWrongState << run << 200u << false;
        QTest::newRow("increase") << increase << run << 200u << false << kAccepted << run << 210u << false;
        QTest::newRow("increase to 500") << increase << run << 490u << false << kAccepted << run << 500u << false;
        QTest::newRow("increase past 500") << increase << run << 500u << false << kOutOfRange << run << 500u << false;
        QTest::newRow("decrease to 100") << decrease << run << 110u << false << kAccepted << run << 100u << false;
        QTest::newRow("decrease past 100") << decrease << run << 100u << false << kOutOfRange << run << 100u << false;
        QTest::newRow("increase before the start")
            << increase << initial << 200u << false << kWrongState << initial << 200u << false;
        QTest::newRow("decrease while paused")
            << decrease << paused << 500u << false << kWrongState << paused << 500u << false;
        // Out of range is told before a wrong state.
        QTest::newRow("increase past 500 while paused")
            << increase << paused << 500u << false << kOutOfRange << paused << 500u << false;
        QTest::newRow("pause") << pause << run << 200u << false << kAccepted << paused << 200u << false;
        QTest::newRow("pause while paused")
            << pause << paused << 200u << false << kWrongState << paused << 200u << false;
        QTest::newRow("resume") << resume << paused << 200u << false << kAccepted << run << 200u << false;
        QTest::newRow("resume while running") << resume << run << 200u << false << kWrongState << run << 200u << false;
        QTest::newRow("additional") << additional << stop << 200u << false << kAccepted << runAdditional << 200u
                                    << false;
        QTest::newRow("additional before the start")
            << additional << initial << 200u << false << kWrongState << initial << 200u << false;
        QTest::newRow("recirculate") << recirculate << stop << 200u << false << kAccepted << stop << 200u << true;
        QTest::newRow("recirculate while running")
            << recirculate << run << 200u << false << kWrongState << run << 200u << false;
        QTest::newRow("recirculate, complete")
            << recirculate << stop << 200u << true << kCompleted << stop << 200u << false;
        // A complete treatment is told before a wrong state.
        QTest::newRow("recirculate while running, complete")
            << recirculate << run << 200u << true << kCompleted << run << 200u << false;
        QTest::newRow("back to treatment") << int(REQUESTED_USER_ACTION_RINSEBACK_BACK_TO_TREATMENT) << initial << 200u
                                           << false << kPassedOver << initial << 200u << false;
        QTest::newRow("end treatment, not carried out here")
            << int(REQUESTED_USER_ACTION_RINSEBACK_END_TREATMENT) << run << 200u << false << kPassedOver << run << 200u
            << false;
        QTest::newRow("unknown 9") << 9 << run << 200u << false << kPassedOver << run << 200u << false;
        QTest::newRow("unknown 0xFFFFFFFF") << -1 << run << 200u << false << kPassedOver << run << 200u << false;
    }

    void rinsebackActions()
    {
        QFETCH(int, action);
        QFETCH(int, state);
        QFETCH(quint32, flowMLPM);
        QFETCH(bool, complete);
        QFETCH(QString, answer);
        QFETCH(int, stateAfter);
        QFETCH(quint32, flowAfter);
        QFETCH(bool, recirculation);
        Treatment_Status_Vars status;
        status.rinsebackFlowMLPM = flowMLPM;
        status.isTreatmentComplete = complete;
        auto rinseback = Rinseback_States(state);
        const UserActionVerdict verdict =
            RinsebackActions::carryOut(Requested_Rinseback_User_Actions(action), status, rinseback);
        QCOMPARE(answerOf(verdict), answer);
        QCOMPARE(int(rinseback), stateAfter);
        QCOMPARE(status.rinsebackFlowMLPM, flowAfter);
        QCOMPARE(status.hasRecircBeenRequested, recirculation);
    }

    // 240 minutes prescribed.
    void ufVolumeChange_data()
    {
        QTest::addColumn<float>("elapsedMin");
        QTest::addColumn<float>("removedML");
        QTest::addColumn<float>("volumeL");
        QTest::addColumn<int>("reason");
        QTest::addColumn<float>("rateLHR"); // where the change comes that far
        const int none = REQUEST_REJECT_REASON_NONE;
        const int volume = REQUEST_REJECT_REASON_UF_VOLUME_OUT_OF_RANGE;
        const int time = REQUEST_REJECT_REASON_TREATMENT_TIME_LESS_THAN_CURRENT;
        const int rate = REQUEST_REJECT_REASON_UF_RATE_OUT_OF_RANGE;
        QTest::newRow("1.5 L more in 2 h") << 120.0f << 1000.0f << 2.5f << none << 0.75f;
        QTest::newRow("4 L more in 2 h: 2 L/h") << 120.0f << 1000.0f << 5.0f << none << 2.0f;
        QTest::newRow("7 L more in 2 h") << 120.0f << 1000.0f << 8.0f << rate << 3.5f;
        QTest::newRow("8 L from the start") << 0.0f << 0.0f << 8.0f << none << 2.0f;
        QTest::newRow("above 8 L") << 120.0f << 1000.0f << 8.01f << volume << 0.0f;
        QTest::newRow("negative") << 120.0f << 1000.0f << -0.5f << volume << 0.0f;
        QTest::newRow("less than removed") << 120.0f << 1000.0f << 0.5f << volume << 0.0f;
        QTest::newRow("equal to removed") << 120.0f << 1000.0f << 1.0f << volume << 0.0f;
        QTest::newRow("NaN") << 120.0f << 1000.0f << kNaN << volume << 0.0f;
        QTest::newRow("infinity") << 120.0f << 1000.0f << kInfinity << volume << 0.0f;
        QTest::newRow("minus infinity") << 120.0f << 1000.0f << -kInfinity << volume << 0.0f;
        QTest::newRow("no time left") << 240.0f << 1000.0f << 2.0f << time << 0.0f;
        QTest::newRow("past the prescribed time") << 241.0f << 1000.0f << 2.0f << time << 0.0f;
    }

    void ufVolumeChange()
    {
        QFETCH(float, elapsedMin);
        QFETCH(float, removedML);
        QFETCH(float, volumeL);
        QFETCH(int, reason);
        QFETCH(float, rateLHR);
        const TreatmentTimeRules::UFRate rate = TreatmentTimeRules::forUFVolume({elapsedMin, removedML, 240u}, volumeL);
        QCOMPARE(int(rate.reason), reason);
        QCOMPARE(rate.isKnown(), rateLHR > 0.0f);
        QVERIFY2(qAbs(rate.rateLHR - rateLHR) < 1e-5f, qPrintable(QString::number(double(rate.rateLHR))));
    }

    // 2 L prescribed: two hours gone with 1 L removed, or a fresh start
    // with nothing removed.
    void durationChange_data()
    {
        QTest::addColumn<float>("elapsedMin");
        QTest::addColumn<float>("removedML");
        QTest::addColumn<quint32>("durationMin");
        QTest::addColumn<int>("reason");
        QTest::addColumn<float>("rateLHR");
        const int none = REQUEST_REJECT_REASON_NONE;
        const int range = REQUEST_REJECT_REASON_TREATMENT_TIME_OUT_OF_RANGE;
        const int time = REQUEST_REJECT_REASON_TREATMENT_TIME_LESS_THAN_CURRENT;
        const int rate = REQUEST_REJECT_REASON_UF_RATE_OUT_OF_RANGE;
        QTest::newRow("fresh, 60: 2 L/h") << 0.0f << 0.0f << 60u << none << 2.0f;
        QTest::newRow("fresh, 120") << 0.0f << 0.0f << 120u << none << 1.0f;
        QTest::newRow("fresh, 480") << 0.0f << 0.0f << 480u << none << 0.25f;
        QTest::newRow("59") << 0.0f << 0.0f << 59u << range << 0.0f;
        QTest::newRow("481") << 0.0f << 0.0f << 481u << range << 0.0f;
        QTest::newRow("0") << 0.0f << 0.0f << 0u << range << 0.0f;
        QTest::newRow("huge") << 0.0f << 0.0f << 0xFFFFFFFFu << range << 0.0f;
        QTest::newRow("the elapsed time") << 120.0f << 1000.0f << 120u << time << 0.0f;
        QTest::newRow("before the elapsed time") << 120.0f << 1000.0f << 100u << time << 0.0f;
        QTest::newRow("60, two hours gone") << 120.0f << 1000.0f << 60u << time << 0.0f;
        QTest::newRow("longer") << 120.0f << 1000.0f << 480u << none << 1.0f / 6.0f;
        QTest::newRow("more removed than prescribed") << 120.0f << 3000.0f << 240u << none << 0.0f;
        QTest::newRow("a litre in a minute") << 120.0f << 1000.0f << 121u << rate << 60.0f;
    }

    void durationChange()
    {
        QFETCH(float, elapsedMin);
        QFETCH(float, removedML);
        QFETCH(quint32, durationMin);
        QFETCH(int, reason);
        QFETCH(float, rateLHR);
        const TreatmentTimeRules::UFRate rate =
            TreatmentTimeRules::forDuration({elapsedMin, removedML, 240u}, 2.0f, durationMin);
        QCOMPARE(int(rate.reason), reason);
        QVERIFY2(qAbs(rate.rateLHR - rateLHR) < 1e-5f, qPrintable(QString::number(double(rate.rateLHR))));
        // The prescribed volume is echoed whenever the rate is known.
        QCOMPARE(rate.ufVolumeL, rate.isKnown() ? 2.0f : 0.0f);
    }

    // The UI echoes the validated rate rounded to two decimals, as an F32.
    void rateConfirmation_data()
    {
        QTest::addColumn<float>("requestedLHR");
        QTest::addColumn<float>("validatedLHR");
        QTest::addColumn<bool>("matches");
        QTest::newRow("rounded") << 1.23f << 1.2345f << true;
        QTest::newRow("not rounded") << 1.2345f << 1.2345f << false;
        QTest::newRow("rounded the wrong way") << 1.24f << 1.2345f << false;
        QTest::newRow("half a cent rounds up") << 0.13f << 0.125f << true;
        QTest::newRow("zero") << 0.0f << 0.0f << true;
        QTest::newRow("NaN") << kNaN << 1.2345f << false;
        QTest::newRow("NaN validated") << 0.0f << kNaN << true;
        QTest::newRow("a rate too large to round") << 0.0f << 3e38f << true;
    }

    void rateConfirmation()
    {
        QFETCH(float, requestedLHR);
        QFETCH(float, validatedLHR);
        QFETCH(bool, matches);
        float difference = -1.0f;
        QCOMPARE(TreatmentTimeRules::rateMatches(requestedLHR, validatedLHR, difference), matches);
    }

    void volumeConfirmation_data()
    {
        QTest::addColumn<float>("requestedL");
        QTest::addColumn<float>("validatedL");
        QTest::addColumn<bool>("matches");
        QTest::newRow("same") << 2.5f << 2.5f << true;
        QTest::newRow("a centilitre off") << 2.51f << 2.5f << false;
        QTest::newRow("the next float") << std::nextafter(2.5f, 3.0f) << 2.5f << false;
        QTest::newRow("NaN") << kNaN << kNaN << false;
    }

    void volumeConfirmation()
    {
        QFETCH(float, requestedL);
        QFETCH(float, validatedL);
        QFETCH(bool, matches);
        QCOMPARE(TreatmentTimeRules::volumeMatches(requestedL, validatedL), matches);
    }

    void endOfTreatmentEvent_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("event");
        using namespace Chart;
        QTest::newRow("pause") << QString(State::Treatment_Pause) << QString(Event::T_TP_2_RB);
        QTest::newRow("end") << QString(State::Treatment_End) << QString(Event::T_TE_2_RB);
        QTest::newRow("rinseback") << QString(State::Treatment_Rinseback) << QString(Event::T_RB_2_Posttx);
        QTest::newRow("recirculation") << QString(State::Treatment_Recirculate) << QString(Event::T_RC_2_Posttx);
        QTest::newRow("treatment") << QString(State::Treatment) << QString();
        QTest::newRow("blood prime") << QString(State::Blood_Prime) << QString();
        QTest::newRow("standby") << QString(State::Standby) << QString();
        QTest::newRow("post-treatment") << QString(State::Post_Tx) << QString();
        QTest::newRow("no state") << QString() << QString();
    }

    void endOfTreatmentEvent()
    {
        QFETCH(QString, state);
        QFETCH(QString, event);
        QCOMPARE(treatmentEndEvent(state), event);
    }
};

QTEST_GUILESS_MAIN(TestTreatmentRules)
#include "tst_treatmentrules.moc"
