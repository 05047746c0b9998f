#include "rararoz/StateController.h"

#include <algorithm>

#include "rararoz/PayloadReader.h"
#include "rararoz/PressureRing.h"
#include "rararoz/TickTime.h"

// Arterial, venous and transmembrane pressures: a raw sample a tick between
// the current limits, averaged over ten samples, and the limits that start
// wide, settle while the pressures stabilise and then close around the
// stable pressures.

namespace {

constexpr qint32 kArterialFloorMMHG = -300;
constexpr qint32 kArterialCeilingMMHG = 100;
constexpr qint32 kVenousFloorMMHG = 20;
constexpr qint32 kVenousCeilingMMHG = 400;
constexpr float kTmpFloorMMHG = 0.0f;
constexpr float kTmpCeilingMMHG = 100.0f;

constexpr quint64 kNormalStabilizationMS = 60000;
constexpr quint64 kShortStabilizationMS = 10000;
// A short stabilisation never cuts a running one that has come this far.
constexpr quint64 kShortRestartAfterMS = 50000;
// How long the stable pressures hold before they are latched again.
constexpr quint64 kStableRefreshMS = 900000;

PressureRing arterialRing(Pressure_Vars &p)
{
    return {p.arterialRawMMHG, p.arterialIndex, p.arterialRunningSumMMHG};
}

PressureRing venousRing(Pressure_Vars &p)
{
    return {p.venousRawMMHG, p.venousIndex, p.venousRunningSumMMHG};
}

PressureRing tmpRing(Pressure_Vars &p)
{
    return {p.tmpRawMMHG, p.tmpIndex, p.tmpRunningSumMMHG};
}

bool isDialysisOrPaused(Treatment_States state)
{
    return state == TREAT_DIALYSIS_STATE || state == TREAT_PAUSED_STATE;
}

} // namespace

void StateController::handlePressureLimitState()
{
    Pressure_Vars &p = _pressureVars;
    const Treatment_States txState = _treatmentSubStates.txState;
    switch (p.presLimitState) {
    case PRESSURE_LIMITS_STATE_OFF:
        if (txState > TREAT_START_STATE && txState != TREAT_RECIRC_STATE)
            p.presLimitState = PRESSURE_LIMITS_STATE_IDLE;
        break;
    case PRESSURE_LIMITS_STATE_IDLE:
        p.presLimitState = PRESSURE_LIMITS_STATE_WIDE;
        break;
    case PRESSURE_LIMITS_STATE_WIDE:
        handlePressureLimitStateWide();
        break;
    case PRESSURE_LIMITS_STATE_STABILIZATION:
    case PRESSURE_LIMITS_STATE_STABLE:
        handlePressureLimitStateSettling();
        break;
    }
}

void StateController::handlePressureLimitStateWide()
{
    Pressure_Vars &p = _pressureVars;
    const Treatment_States txState = _treatmentSubStates.txState;
    if (!_treatmentStatus.isBloodPumpRunning) {
        p.presLimitState = PRESSURE_LIMITS_STATE_IDLE;
    } else if (isDialysisOrPaused(txState)) {
        p.presStabilizationTimerCtr = 0;
        p.presStabilizeTimePeriod = USE_NORMAL_STABILIZATION_PERIOD;
        p.presLimitState = PRESSURE_LIMITS_STATE_STABILIZATION;
    } else if (txState == TREAT_RECIRC_STATE) {
        p.presLimitState = PRESSURE_LIMITS_STATE_OFF;
    }
}

void StateController::handlePressureLimitStateSettling()
{
    Pressure_Vars &p = _pressureVars;
    const bool stabilizing = p.presLimitState == PRESSURE_LIMITS_STATE_STABILIZATION;
    if (stabilizing)
        p.presStabilizeTimeoutMS =
            quint32(p.presStabilizeTimePeriod == USE_SHORT_STABILIZATION_PERIOD ? kShortStabilizationMS
                                                                                : kNormalStabilizationMS);
    ++p.presStabilizationTimerCtr;
    if (!_treatmentStatus.isBloodPumpRunning) {
        p.presLimitState = PRESSURE_LIMITS_STATE_IDLE;
        return;
    }
    if (!isDialysisOrPaused(_treatmentSubStates.txState)) {
        p.presLimitState = PRESSURE_LIMITS_STATE_WIDE;
        return;
    }
    const quint64 periodMS = stabilizing ? quint64(p.presStabilizeTimeoutMS) : kStableRefreshMS;
    if (TickTime::ms(p.presStabilizationTimerCtr) < periodMS)
        return;
    // The end of a stabilisation closes the limits; the end of a stable
    // phase latches afresh and stabilises again.
    handleUpdatePressureLimitWindows();
    p.presStabilizationTimerCtr = 0;
    p.presStabilizeTimePeriod = stabilizing ? USE_NORMAL_STABILIZATION_PERIOD : STABILIZATION_PERIOD_OFF;
    p.presLimitState = stabilizing ? PRESSURE_LIMITS_STATE_STABLE : PRESSURE_LIMITS_STATE_STABILIZATION;
}

void StateController::handleUpdatePressureLimitWindows()
{
    Pressure_Vars &p = _pressureVars;
    p.arterialStableMMHG = PressureLimits::latch(double(p.arterialFilteredMMHG));
    p.venousStableMMHG = PressureLimits::latch(double(p.venousFilteredMMHG));
    p.tmpStableMMHG = PressureLimits::latch(double(p.tmpFilteredMMHG));
}

void StateController::handleDeterminePressureLimits()
{
    Pressure_Vars &p = _pressureVars;
    if (p.presLimitState != PRESSURE_LIMITS_STATE_STABLE) {
        p.arterialMinLimitMMHG = kArterialFloorMMHG;
        p.arterialMaxLimitMMHG = kArterialCeilingMMHG;
        p.venousMinLimitMMHG = kVenousFloorMMHG;
        p.venousMaxLimitMMHG = kVenousCeilingMMHG;
        p.tmpMinLimitMMHG = kTmpFloorMMHG;
        p.tmpMaxLimitMMHG = kTmpCeilingMMHG;
        return;
    }
    using namespace PressureLimits;
    const qint64 arterialHalf = half(p.arterialPresLimitWindowMMHG);
    p.arterialMinLimitMMHG = lower(p.arterialStableMMHG, arterialHalf, kArterialFloorMMHG);
    p.arterialMaxLimitMMHG = upper(p.arterialStableMMHG, arterialHalf, kArterialCeilingMMHG);
    // The venous limits enclose the stable venous pressure: the low window
    // below it, the high window above it.
    p.venousMinLimitMMHG = lower(p.venousStableMMHG, p.venousPresLowLimitWindowMMHG, kVenousFloorMMHG);
    p.venousMaxLimitMMHG = upper(p.venousStableMMHG, p.venousPresHighLimitWindowMMHG, kVenousCeilingMMHG);
    const qint64 tmpHalf = half(p.tmpPresLimitWindowMMHG);
    p.tmpMinLimitMMHG = std::max(float(qint64(p.tmpStableMMHG) - tmpHalf), kTmpFloorMMHG);
    p.tmpMaxLimitMMHG = std::min(float(qint64(p.tmpStableMMHG) + tmpHalf), kTmpCeilingMMHG);
}

void StateController::handleSignalInitiatePressureStabilization(Pressure_Stabilization_Periods period)
{
    Pressure_Vars &p = _pressureVars;
    if (p.presLimitState == PRESSURE_LIMITS_STATE_STABILIZATION) {
        if (period == USE_SHORT_STABILIZATION_PERIOD &&
            TickTime::ms(p.presStabilizationTimerCtr) <= kShortRestartAfterMS)
            return;
    } else if (p.presLimitState != PRESSURE_LIMITS_STATE_STABLE) {
        return;
    }
    p.presStabilizeTimePeriod = period;
    p.presLimitState = PRESSURE_LIMITS_STATE_STABILIZATION;
    p.presStabilizationTimerCtr = 0;
}

void StateController::handleWidenPressureLimitsMessage()
{
    if (!_treatmentRcvdMessages.take(Can::ID_UI_PRESSURE_LIMIT_WIDEN_RQST))
        return;
    handleSignalInitiatePressureStabilization(USE_NORMAL_STABILIZATION_PERIOD);
    handleUIResponseMessage(Can::ID_TD_PRESSURE_LIMIT_WIDEN_RESP, 1);
}

void StateController::handlePressureLimitsChangeRequest()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_PRESSURE_LIMITS_CHANGE_RQST);
    if (!request)
        return;
    const PayloadReader fields(*request);
    Pressure_Vars &p = _pressureVars;
    // Taken as they come; the limit arithmetic copes with any window.
    p.arterialPresLimitWindowMMHG = qint32(fields.u32(0));
    p.venousPresHighLimitWindowMMHG = qint32(fields.u32(4));
    p.venousPresLowLimitWindowMMHG = qint32(fields.u32(8));
    p.tmpPresLimitWindowMMHG = qint32(fields.u32(12));
    handleUpdatePressureLimitWindows();
    handleUIResponseMessage(Can::ID_TD_PRESSURE_LIMITS_CHANGE_RESP, 1,
                            {int(REQUEST_REJECT_REASON_NONE), int(0), int(0), int(0)});
}

void StateController::handleTDPressureBroadcastData(Broadcast_Type BCType)
{
    Pressure_Vars &p = _pressureVars;
    using PressureLimits::sampleBetween;
    arterialRing(p).add(
        float(sampleBetween(_randNumGenerator.generateDouble(), p.arterialMinLimitMMHG, p.arterialMaxLimitMMHG)));
    venousRing(p).add(
        float(sampleBetween(_randNumGenerator.generateDouble(), p.venousMinLimitMMHG, p.venousMaxLimitMMHG)));
    const float tmpSpan = p.tmpMaxLimitMMHG - p.tmpMinLimitMMHG;
    tmpRing(p).add(float(_randNumGenerator.generateDouble() * double(tmpSpan) + double(p.tmpMinLimitMMHG)));

    if (!_gates.pressure.isDue(BCType))
        return;
    p.arterialFilteredMMHG = arterialRing(p).average();
    p.venousFilteredMMHG = venousRing(p).average();
    p.tmpFilteredMMHG = tmpRing(p).average();
    queueBroadcast({int(Can::ID_TD_PRESSURE_DATA), int(Can::eChlid_TD_Sync), p.arterialFilteredMMHG,
                    p.venousFilteredMMHG, int(p.presLimitState), p.arterialMinLimitMMHG, p.arterialMaxLimitMMHG,
                    p.venousMinLimitMMHG, p.venousMaxLimitMMHG, 0.0f, 0.0f, p.tmpFilteredMMHG, 0.0f, p.tmpMinLimitMMHG,
                    p.tmpMaxLimitMMHG, 14.2f});
}
