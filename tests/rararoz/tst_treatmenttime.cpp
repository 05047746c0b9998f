#include <QtTest>

#include <limits>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"

// The treatment clock, ultrafiltration with its pause, the validate-then-
// confirm changes of the UF volume and of the treatment duration, and the
// time, UF and parameter-ranges broadcasts.

namespace {

using Messages = SimulatorDriver::Messages;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

Prescription prescription(quint32 durationMin, float ufVolumeL, quint32 heparinMin)
{
    Prescription prescribed;
    prescribed.durationMin = durationMin;
    prescribed.heparinDurationMin = heparinMin;
    prescribed.ufVolumeL = ufVolumeL;
    return prescribed;
}

double rounded(float rateLHR)
{
    return qRound(double(rateLHR) * 100.0) / 100.0;
}

} // namespace

class TestTreatmentTime : public SimulatorTest
{
    Q_OBJECT

private:
    // Into Treatment by the demo menu: 2 of 240 hours elapsed, 1 of 2 L
    // removed.
    void enterByJump() { QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment)); }
    void enterWith(const Prescription &prescribed) { QVERIFY(d().startTreatment(prescribed)); }

    // The payload values of the one response id sent over the next two
    // ticks (the request is served by the first, answered by the second).
    QVariantList answer(Can::Message_ID_Enum id)
    {
        const Messages sent = SimulatorDriver::withId(d().ticks(2), id);
        if (sent.size() != 1)
            return {QStringLiteral("%1 responses").arg(sent.size())};
        return sent.first().mid(2);
    }
    QVariantList validateUF(float volumeL)
    {
        d().request(Can::ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST, SimulatorDriver::f32(volumeL));
        return answer(Can::ID_TD_TREATMENT_UF_VOLUME_VALIDATE_RESP);
    }
    QVariantList confirmUF(float volumeL, float rateLHR)
    {
        d().request(Can::ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST,
                    SimulatorDriver::f32(volumeL) + SimulatorDriver::f32(rateLHR));
        return answer(Can::ID_TD_ULTRAFILTRATION_CHANGE_CONFIRM_RESP);
    }
    QVariantList validateDuration(quint32 durationMin)
    {
        d().request(Can::ID_UI_DURATION_VALIDATE_RQST, SimulatorDriver::u32(durationMin));
        return answer(Can::ID_TD_DURATION_VALIDATE_RESP);
    }
    QVariantList confirmDuration(quint32 durationMin, quint32 heparinMin, float rateLHR)
    {
        d().request(Can::ID_UI_DURATION_CONFIRM_RQST, SimulatorDriver::u32(durationMin) +
                                                          SimulatorDriver::u32(heparinMin) +
                                                          SimulatorDriver::f32(rateLHR));
        return answer(Can::ID_TD_DURATION_CONFIRM_RESP);
    }
    // Validates and confirms a duration the way the UI does it.
    void changeDuration(quint32 durationMin)
    {
        const QVariantList validated = validateDuration(durationMin);
        QCOMPARE(validated.value(0).toUInt(), 1u);
        const QVariantList confirmed =
            confirmDuration(durationMin, validated.value(3).toUInt(), float(rounded(validated.value(5).toFloat())));
        QCOMPARE(confirmed, (QVariantList{1u, 0}));
        QCOMPARE(params().treatmentDurationMin, durationMin);
    }

private slots:

    // Clock and broadcasts ------------------------------------------------

    void ultrafiltrationRemovesOneSecondPerBroadcast()
    {
        enterByJump();
        // 2 L over 240 min: 8.33 mL/min, 0.5 L/h.
        QCOMPARE(status().presUFRateMLPM, 2000.0f / 240.0f);
        const float rateLHR = status().presUFRateMLPM * 60.0f / 1000.0f;
        QByteArray expected;
        int broadcasts = 0;
        for (int i = 0; i < 40; ++i) {
            const float before = status().ufVolDeliveredL;
            const Messages sent = SimulatorDriver::withId(d().tick(), Can::ID_TD_ULTRAFILTRATION_DATA);
            QCOMPARE(sent.size(), expected.isEmpty() ? 0 : 1);
            if (!expected.isEmpty())
                QCOMPARE(SimulatorDriver::payloadBytes(sent.first()), expected);
            expected.clear();
            const float after = status().ufVolDeliveredL;
            if (after == before)
                continue;
            ++broadcasts;
            QCOMPARE(after, before + rateLHR / 3600000.0f * 1000.0f);
            expected = encodedPayload({2.0f, rateLHR, after, 0u});
        }
        QCOMPARE(broadcasts, 4);
    }

    void ultrafiltrationPauseStopsTheRemoval()
    {
        enterByJump();
        d().request(Can::ID_UI_UF_PAUSE_RESUME_RQST, SimulatorDriver::u32(0));
        QCOMPARE(answer(Can::ID_TD_UF_PAUSE_RESUME_RESP), (QVariantList{1u, 0}));
        QCOMPARE(d().controller().treatmentSubStates().dialysisSubState, DIALYSIS_UF_PAUSED_STATE);
        const float removed = status().ufVolDeliveredL;
        const Messages paused = SimulatorDriver::withId(d().ticks(30), Can::ID_TD_ULTRAFILTRATION_DATA);
        QCOMPARE(status().ufVolDeliveredL, removed);
        QCOMPARE(SimulatorDriver::field(paused.last(), 3).toUInt(), 1u);

        d().request(Can::ID_UI_UF_PAUSE_RESUME_RQST, SimulatorDriver::u32(7));
        QCOMPARE(answer(Can::ID_TD_UF_PAUSE_RESUME_RESP), (QVariantList{1u, 0}));
        d().ticks(20);
        QVERIFY(status().ufVolDeliveredL > removed);
    }

    void parameterRangesAfterTwoHours()
    {
        enterByJump();
        const Messages ranges = SimulatorDriver::withId(d().ticks(10), Can::ID_TD_TREATMENT_PARAM_RANGES_DATA);
        QCOMPARE(ranges.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(ranges.first()), encodedPayload({122u, 480u, 0.0f, 4000.0f, 50, 600}));
    }

    void zeroDurationGivesNoRateAndNothingNotANumber()
    {
        Messages sent;
        QVERIFY(d().startTreatment(prescription(0, 2.0f, 0), &sent));
        QCOMPARE(status().presUFRateMLPM, 0.0f);
        QCOMPARE(status().ufVolDeliveredL, 0.0f);
        // The entry's time is sent before the clock restarts: 2 h of none.
        const Messages time = SimulatorDriver::withId(sent, Can::ID_TD_TREATMENT_TIME_DATA);
        QCOMPARE(time.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(time.first()), encodedPayload({0u, 7200u, 0u}));

        // Elapsed time already reaches the duration.
        QCOMPARE(validateUF(1.0f), (QVariantList{0u, 7, 1.0f, 0.0f}));
        d().tickUntil([this] { return d().state() != Chart::State::Treatment; }, 20, &sent);
        sent.append(d().ticks(30));
        QCOMPARE(d().state(), Chart::State::Treatment_End);
        QVERIFY(SimulatorDriver::floatsAreFinite(sent));
        for (const QVariantList &message : SimulatorDriver::withId(sent, Can::ID_TD_ULTRAFILTRATION_DATA))
            QCOMPARE(SimulatorDriver::field(message, 1).toFloat(), 0.0f);
    }

    void absurdPrescribedVolumesReachNoBroadcast_data()
    {
        QTest::addColumn<float>("ufVolumeL");
        QTest::newRow("NaN") << kNaN;
        QTest::newRow("infinity") << kInfinity;
        QTest::newRow("huge") << 3e38f;
        QTest::newRow("negative") << -5.0f;
    }

    void absurdPrescribedVolumesReachNoBroadcast()
    {
        QFETCH(float, ufVolumeL);
        Messages sent;
        QVERIFY(d().startTreatment(prescription(240, ufVolumeL, 0), &sent));
        validateUF(1.0f);
        validateDuration(200);
        sent.append(d().ticks(60));
        QVERIFY(SimulatorDriver::floatsAreFinite(sent));
        QVERIFY(qIsFinite(status().presUFRateMLPM));
        QVERIFY(qIsFinite(status().ufVolDeliveredL));
    }

    void lastSecondOfALongTreatmentShowsNothingRemainingAndNoWrappedRange()
    {
        enterByJump();
        changeDuration(480);
        // Put a time broadcast on the tick whose step ends the treatment:
        // a bolus stops the clock for the ticks it takes, not the counter.
        // The broadcast sent on a tick was queued by the step before.
        quint32 queuedAtMS = 0;
        while (queuedAtMS == 0) {
            if (!SimulatorDriver::withId(d().tick(), Can::ID_TD_TREATMENT_TIME_DATA).isEmpty())
                queuedAtMS = status().treatmentElapsedTimeMS - 100;
        }
        const quint32 frozenTicks = (queuedAtMS / 100) % 10;
        if (frozenTicks > 0) {
            d().request(Can::ID_UI_FLUID_BOLUS_RQST, SimulatorDriver::u32(1));
            d().ticks(int(frozenTicks));
            d().request(Can::ID_UI_FLUID_BOLUS_RQST, SimulatorDriver::u32(0));
        }

        QVariantList lastTime;
        QVariantList lastRange;
        while (d().state() == Chart::State::Treatment) {
            for (const QVariantList &message : d().tick()) {
                if (message.first().toInt() == int(Can::ID_TD_TREATMENT_TIME_DATA))
                    lastTime = message.mid(2);
                else if (message.first().toInt() == int(Can::ID_TD_TREATMENT_PARAM_RANGES_DATA))
                    lastRange = message.mid(2);
            }
        }
        for (const QVariantList &message : d().tick()) {
            if (message.first().toInt() == int(Can::ID_TD_TREATMENT_TIME_DATA))
                lastTime = message.mid(2);
        }
        QCOMPARE(d().state(), Chart::State::Treatment_End);
        // One second past the prescribed 8 hours.
        QCOMPARE(lastTime, (QVariantList{28800u, 28801u, 0u}));
        QCOMPARE(lastRange, (QVariantList{482u, 482u, 0.0f, 0.0f, 50, 600}));
    }

    void longestPrescriptionNeitherWrapsNorEnds()
    {
        // 4,294,967,295 min is 257,698,037,700 s: on the wire the field's
        // maximum, and the treatment simply runs.
        enterWith(prescription(std::numeric_limits<quint32>::max(), 2.0f, 0));
        const Messages times = SimulatorDriver::withId(d().ticks(600), Can::ID_TD_TREATMENT_TIME_DATA);
        QVERIFY(times.size() >= 59);
        for (const QVariantList &time : times) {
            QCOMPARE(SimulatorDriver::field(time, 0).toUInt(), std::numeric_limits<quint32>::max());
            QCOMPARE(SimulatorDriver::field(time, 2).toUInt(), std::numeric_limits<quint32>::max());
        }
        QCOMPARE(SimulatorDriver::field(times.last(), 1).toUInt(), 59u);
        QCOMPARE(d().state(), Chart::State::Treatment);
    }

    // UF volume change ----------------------------------------------------

    void ufVolumeValidationRejects_data()
    {
        QTest::addColumn<float>("volumeL");
        QTest::addColumn<int>("reason");
        QTest::addColumn<float>("echoedL");
        QTest::newRow("above 8 L") << 8.01f << 11 << 8.01f;
        QTest::newRow("negative") << -0.5f << 11 << -0.5f;
        QTest::newRow("less than removed") << 0.5f << 11 << 0.5f;
        QTest::newRow("NaN") << kNaN << 11 << 0.0f;
        QTest::newRow("infinity") << kInfinity << 11 << 0.0f;
        QTest::newRow("minus infinity") << -kInfinity << 11 << 0.0f;
    }

    void ufVolumeValidationRejects()
    {
        QFETCH(float, volumeL);
        QFETCH(int, reason);
        QFETCH(float, echoedL);
        enterByJump();
        QCOMPARE(validateUF(volumeL), (QVariantList{0u, reason, echoedL, 0.0f}));
        QCOMPARE(status().validateUFVolReceived, false);
    }

    void ufVolumeOfEightLitresIsAllowedWithinTwoLitresAnHour()
    {
        enterByJump();
        changeDuration(480);
        const QVariantList answered = validateUF(8.0f);
        QCOMPARE(answered.mid(0, 3), (QVariantList{1u, 0, 8.0f}));
        QVERIFY(answered.value(3).toFloat() <= 2.0f);
        QCOMPARE(status().validateUFVolReceived, true);
        QCOMPARE(status().validateUFVolGoalL, 8.0f);
    }

    void ufConfirmationTakesTheRateRoundedToTwoDecimals()
    {
        enterByJump();
        // A volume whose rate comes out at 1.2345 L/h.
        const double elapsedMin = (status().treatmentElapsedTimeMS + 100) / 60000.0;
        const double removedML = double(status().ufVolDeliveredL) * 1000.0;
        const float volumeL = float((removedML + 1.2345 / 0.06 * (240.0 - elapsedMin)) / 1000.0);
        QCOMPARE(validateUF(volumeL).value(0).toUInt(), 1u);
        QVERIFY(qAbs(status().validateUFRateLHR - 1.2345f) < 1e-4f);

        // The unrounded rate is not what the UI sends back.
        QCOMPARE(confirmUF(volumeL, status().validateUFRateLHR), (QVariantList{0u, 59}));
        QCOMPARE(confirmUF(volumeL, 1.24f), (QVariantList{0u, 59}));
        QCOMPARE(confirmUF(volumeL + 0.01f, 1.23f), (QVariantList{0u, 59}));
        QCOMPARE(confirmUF(kNaN, kNaN), (QVariantList{0u, 59}));
        const float validatedLHR = status().validateUFRateLHR;
        // 1.23f is 1.9e-8 away from 1.23: compared in single precision.
        QCOMPARE(confirmUF(volumeL, 1.23f), (QVariantList{1u, 0}));
        QCOMPARE(params().ufVolumeL, volumeL);
        QCOMPARE(status().presUFRateMLPM, validatedLHR * 1000.0f / 60.0f);
        QCOMPARE(status().validateUFVolReceived, false);
        QCOMPARE(confirmUF(volumeL, 1.23f), (QVariantList{0u, 58}));
    }

    void ufConfirmationWithoutValidationIsNotExpected()
    {
        enterByJump();
        QCOMPARE(confirmUF(0.0f, 0.0f), (QVariantList{0u, 58}));
        d().request(Can::ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST, QByteArray(""));
        QCOMPARE(answer(Can::ID_TD_ULTRAFILTRATION_CHANGE_CONFIRM_RESP), (QVariantList{0u, 58}));
    }

    void durationValidationOverwritesThePendingUFRate()
    {
        enterByJump();
        QCOMPARE(validateUF(2.5f).value(0).toUInt(), 1u);
        const float ufRate = float(rounded(status().validateUFRateLHR));
        const QVariantList duration = validateDuration(480);
        QCOMPARE(duration.value(0).toUInt(), 1u);
        QCOMPARE(confirmUF(2.5f, ufRate), (QVariantList{0u, 59}));
        QCOMPARE(confirmUF(2.5f, float(rounded(duration.value(5).toFloat()))), (QVariantList{1u, 0}));
    }

    // A validation left unconfirmed belongs to its treatment: after Standby
    // and a new treatment, confirming it is not expected.
    void pendingValidationEndsWithItsTreatment_data()
    {
        QTest::addColumn<bool>("duration"); // else the UF volume
        QTest::newRow("UF volume") << false;
        QTest::newRow("duration") << true;
    }

    void pendingValidationEndsWithItsTreatment()
    {
        QFETCH(bool, duration);
        enterByJump();
        const QVariantList validated = duration ? validateDuration(300) : validateUF(2.5f);
        QCOMPARE(validated.value(0).toUInt(), 1u);
        d().demoMenu(CMD_STAND_BY);
        QVERIFY(d().tickUntilState(Chart::State::Standby));
        enterByJump();
        const float rateLHR = float(rounded(validated.value(duration ? 5 : 3).toFloat()));
        const QVariantList confirmed =
            duration ? confirmDuration(300, validated.value(3).toUInt(), rateLHR) : confirmUF(2.5f, rateLHR);
        QCOMPARE(confirmed, (QVariantList{0u, 58}));
        QCOMPARE(params().treatmentDurationMin, 240u);
        QCOMPARE(params().ufVolumeL, 2.0f);
    }

    // Treatment duration change -------------------------------------------

    void durationValidationRejects_data()
    {
        QTest::addColumn<quint32>("durationMin");
        QTest::addColumn<int>("reason");
        QTest::newRow("59") << 59u << 6;
        QTest::newRow("481") << 481u << 6;
        QTest::newRow("0") << 0u << 6;
        QTest::newRow("huge") << 0xFFFFFFFFu << 6;
        // 60 passes the range check; two hours have gone already.
        QTest::newRow("60") << 60u << 7;
        QTest::newRow("elapsed later than new") << 100u << 7;
        QTest::newRow("elapsed minute") << 120u << 7;
    }

    void durationValidationRejects()
    {
        QFETCH(quint32, durationMin);
        QFETCH(int, reason);
        enterByJump();
        QCOMPARE(validateDuration(durationMin), (QVariantList{0u, reason, durationMin, 0u, 0.0f, 0.0f}));
        QCOMPARE(status().validateTxDurReceived, false);
    }

    void heparinKeepsItsHeparinFreeEnd_data()
    {
        QTest::addColumn<quint32>("heparinMin");
        QTest::addColumn<quint32>("durationMin");
        QTest::addColumn<quint32>("newHeparinMin");
        QTest::newRow("longer") << 180u << 300u << 240u;
        QTest::newRow("shorter") << 180u << 100u << 40u;
        QTest::newRow("no heparin") << 0u << 200u << 0u;
        QTest::newRow("heparin past the end") << 300u << 100u << 100u;
    }

    void heparinKeepsItsHeparinFreeEnd()
    {
        QFETCH(quint32, heparinMin);
        QFETCH(quint32, durationMin);
        QFETCH(quint32, newHeparinMin);
        enterWith(prescription(240, 1.0f, heparinMin));
        const QVariantList answered = validateDuration(durationMin);
        QCOMPARE(answered.mid(0, 5), (QVariantList{1u, 0, durationMin, newHeparinMin, 1.0f}));
        QCOMPARE(status().validateHepDurMin, newHeparinMin);
    }

    void durationConfirmationAppliesTheValidatedChange()
    {
        enterByJump();
        QCOMPARE(confirmDuration(480, 240, 0.0f), (QVariantList{0u, 58}));
        const QVariantList validated = validateDuration(480);
        QCOMPARE(validated.mid(0, 5), (QVariantList{1u, 0, 480u, 240u, 2.0f}));
        const float rateLHR = validated.value(5).toFloat();
        const float echoed = float(rounded(rateLHR));
        QCOMPARE(confirmDuration(479, 240, echoed), (QVariantList{0u, 59}));
        QCOMPARE(confirmDuration(480, 239, echoed), (QVariantList{0u, 59}));
        QCOMPARE(confirmDuration(480, 240, echoed + 0.01f), (QVariantList{0u, 59}));
        QCOMPARE(confirmDuration(480, 240, echoed), (QVariantList{1u, 0}));
        QCOMPARE(params().treatmentDurationMin, 480u);
        QCOMPARE(params().heparinDeliveryDurationMin, 240u);
        QCOMPARE(status().presUFRateMLPM, rateLHR * 1000.0f / 60.0f);
        QCOMPARE(status().validateTxDurReceived, false);
        QCOMPARE(confirmDuration(480, 240, echoed), (QVariantList{0u, 58}));

        // The time broadcast shows the new duration.
        const Messages time = SimulatorDriver::withId(d().ticks(10), Can::ID_TD_TREATMENT_TIME_DATA);
        QCOMPARE(time.size(), 1);
        QCOMPARE(SimulatorDriver::field(time.first(), 0).toUInt(), 28800u);
    }

    void shortAndEmptyChangeRequestsAreAnswered()
    {
        enterByJump();
        Messages sent;
        for (const QByteArray &payload : {QByteArray(""), QByteArray(3, '\xFF')}) {
            d().request(Can::ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST, payload);
            d().request(Can::ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST, payload);
            d().request(Can::ID_UI_DURATION_VALIDATE_RQST, payload);
            d().request(Can::ID_UI_DURATION_CONFIRM_RQST, payload);
            d().request(Can::ID_UI_UF_PAUSE_RESUME_RQST, payload);
            sent.append(d().ticks(2));
        }
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_TREATMENT_UF_VOLUME_VALIDATE_RESP).size(), 2);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_ULTRAFILTRATION_CHANGE_CONFIRM_RESP).size(), 2);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_DURATION_VALIDATE_RESP).size(), 2);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_DURATION_CONFIRM_RESP).size(), 2);
        QCOMPARE(SimulatorDriver::withId(sent, Can::ID_TD_UF_PAUSE_RESUME_RESP).size(), 2);
        // A volume or duration of 0 is not a change.
        QCOMPARE(
            SimulatorDriver::field(SimulatorDriver::withId(sent, Can::ID_TD_DURATION_VALIDATE_RESP).first(), 1).toInt(),
            6);
        QVERIFY(SimulatorDriver::floatsAreFinite(sent));
    }
};

QTEST_GUILESS_MAIN(TestTreatmentTime)
#include "tst_treatmenttime.moc"
