#include "rararoz/StateController.h"

#include <QDebug>

#include "rararoz/NumericGuards.h"
#include "rararoz/PayloadReader.h"

// Standby's reset, the demo menu, the UI's check-in and the water sample.

namespace {
// First field of a confirmation result that carries a demo-menu command
// instead of a confirmation answer.
constexpr quint32 kDemoMenuMarker = 99;
} // namespace

bool StateController::handleRarArozMenuRequestMessage()
{
    const PayloadReader result(_treatmentRcvdMessages.peek(Can::ID_UI_CONFIRMATION_RESULT_RESP));
    const quint32 first = result.u32(0);
    if (first == kDemoMenuMarker) {
        _treatmentStatus.userCmd = User_Command_ID(result.u32(4));
        _treatmentRcvdMessages.clear(Can::ID_UI_CONFIRMATION_RESULT_RESP);
        return true;
    }
    if (first <= quint32(GENERIC_CONFIRM_ID_TEMPORARY_BREAK)) {
        const auto confirmID = Generic_Confirm_Id(first);
        takeUIConfirmAnswer(confirmID, Confirmation_Status(result.u32(4)));
        _treatmentRcvdMessages.clear(Can::ID_UI_CONFIRMATION_RESULT_RESP);
        return false;
    }
    // Neither: left parked until another confirmation result replaces it.
    return false;
}

void StateController::handleBackToStandbyEvent(StepExit &exit)
{
    if (!_treatmentRcvdMessages.isParked(Can::ID_UI_CONFIRMATION_RESULT_RESP))
        return;
    if (!handleRarArozMenuRequestMessage())
        return;
    exit.leaveForDemoMenu(_transitionEventsFromStandby.value(CMD_STAND_BY).event);
    _treatmentRcvdMessages.clear(Can::ID_UI_CONFIRMATION_RESULT_RESP);
}

void StateController::handleUICheckInMessage()
{
    // The check-in frame is acknowledged by the CAN stack; the simulator
    // only takes the check-in out of the way.
    _treatmentRcvdMessages.take(Can::ID_UI_CHECK_IN);
}

void StateController::initializeRarArozVariables()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    status.hasTxParamsBeenInitialized = false;
    status.stateTransitionEvent.clear();
    status.requestTreatmentReset = true;
    status.isBloodPumpRunning = false;
    status.treatmentElapsedTimeMS = 7200000;
    status.isTreatmentComplete = false;
    status.accumFluidBolusDeliveredML = 0.0f;
    status.totalFluidBolusDeliveredML = 0.0f;
    status.ufVolDeliveredL = 0.0f;
    // A change validated for one treatment is never confirmed into the next.
    status.validateUFVolReceived = false;
    status.validateUFVolGoalL = 0.0f;
    status.validateUFRateLHR = 0.0f;
    status.validateTxDurReceived = false;
    status.validateTxDurMin = 0;
    status.validateHepDurMin = 0;
    status.activeTopAlarm = ALARM_ID_NO_ALARM;
    status.activeAlarmProperty = _alarmTriggerSpecs.value(ALARM_ID_NO_ALARM).property;
    status.triggerAlarmTimeoutCtr = 0;
    status.txPauseSeqAlarmState = SEQ_ALARM_NO_ALARM;
    status.txPauseBloodSittingCounter = 0;
    status.hasRecircBeenRequested = false;
    status.bicartAction = DRY_BICART_ACTION_DONE;
    status.bicartShowDialog = 1;
    status.bicartTotal = 100;
    status.bicartProgress = 0.0f;
    status.bicartDrainInProgress = 1;
    status.bicartDepresInProgress = 0;

    _treatmentSubStates.txState = TREAT_START_STATE;
    _treatmentSubStates.fluidBolusState = FLUID_BOLUS_IDLE_STATE;
    _treatmentSubStates.rinsebackState = RINSEBACK_STOP_INIT_STATE;

    Pressure_Vars &pressure = _pressureVars;
    pressure.presLimitState = PRESSURE_LIMITS_STATE_OFF;
    pressure.presStabilizeTimePeriod = USE_NORMAL_STABILIZATION_PERIOD;
    for (int i = 0; i < kPressureRingSize; ++i) {
        pressure.arterialRawMMHG[i] = 0.0f;
        pressure.venousRawMMHG[i] = 0.0f;
        pressure.tmpRawMMHG[i] = 0.0f;
    }
    pressure.arterialIndex = 0;
    pressure.arterialRunningSumMMHG = 0.0f;
    pressure.arterialMinLimitMMHG = -300;
    pressure.arterialMaxLimitMMHG = 100;
    pressure.arterialPresLimitWindowMMHG = 50;
    pressure.venousIndex = 0;
    pressure.venousRunningSumMMHG = 0.0f;
    pressure.venousMinLimitMMHG = 20;
    pressure.venousMaxLimitMMHG = 400;
    pressure.venousPresLowLimitWindowMMHG = 35;
    pressure.venousPresHighLimitWindowMMHG = 50;
    pressure.tmpIndex = 0;
    pressure.tmpRunningSumMMHG = 0.0f;
    pressure.tmpMinLimitMMHG = 0.0f;
    pressure.tmpMaxLimitMMHG = 100.0f;
    pressure.tmpPresLimitWindowMMHG = 20;

    _uiConfirmMessages.clear();
}

void StateController::handleTDWaterSampleResultRequest()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_WATER_SAMPLE_RESULT_RQST);
    if (!request)
        return;
    // The result is echoed; a non-finite one goes back as 0.
    const float result = NumericGuards::finiteOrZero(PayloadReader(*request).f32(0));
    handleUIResponseMessage(Can::ID_TD_WATER_SAMPLE_RESULT_RESP, 1, {int(REQUEST_REJECT_REASON_NONE), result});
}
