#include "rararoz/StateController.h"

#include "rararoz/ChartNames.h"
#include "rararoz/PayloadReader.h"
#include "rararoz/TickTime.h"
#include "rararoz/UserActionVerdict.h"

// Recirculation with its warning and time-out, the countdown of a
// treatment pause, and treatment end: the way on to rinseback and the
// alarm when the patient has waited ten minutes.

namespace {

constexpr quint32 kRecircTimeoutS = 1800;
// The warning comes this long before the time-out.
constexpr quint64 kRecircWarningLeadS = 600;
constexpr quint32 kPauseTimeoutS = 300;
// Ticks the blood may stand still in a pause.
constexpr quint32 kPauseTicks = 3000;
constexpr quint64 kTreatmentEndTimeoutMS = 600000;

// Every action but ending the treatment, which opens a confirmation.
UserActionVerdict carryOut(Requested_Treatment_Recirc_User_Actions action, Recirculate_States &state,
                           bool &hasResumeTxBeenRequested)
{
    using Verdict = UserActionVerdict;
    switch (action) {
    case REQUESTED_USER_ACTION_TX_RECIRC_RECONNECT:
        return Verdict::move(state, TREATMENT_RECIRC_RECIRC_STATE, TREATMENT_RECIRC_RECONNECT_PATIENT_STATE);
    case REQUESTED_USER_ACTION_TX_RECIRC_CONFIRM_RECONNECT:
        if (state != TREATMENT_RECIRC_RECONNECT_PATIENT_STATE)
            return Verdict::rejected(REQUEST_REJECT_REASON_ACTION_DISABLED_IN_CURRENT_STATE);
        hasResumeTxBeenRequested = true;
        return Verdict::accepted();
    case REQUESTED_USER_ACTION_TX_RECIRC_RESUME_RC:
        return Verdict::move(state, TREATMENT_RECIRC_STOPPED_STATE, TREATMENT_RECIRC_RECIRC_STATE);
    case REQUESTED_USER_ACTION_TX_RECIRC_CONFIRM_DISCONNECT:
        return Verdict::move(state, TREATMENT_RECIRC_DISCONNECT_PATIENT_STATE, TREATMENT_RECIRC_RECIRC_STATE);
    case REQUESTED_USER_ACTION_TX_RECIRC_END_TREATMENT:
        break;
    }
    return Verdict::passedOver();
}

} // namespace

void StateController::initializeRecirc()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    // Recirculation has begun: the rinseback's request is served, so a
    // later rinseback of the same treatment stays a rinseback.
    status.hasRecircBeenRequested = false;
    status.recircTimerCounter = 0;
    status.recircTimeoutS = kRecircTimeoutS;
    status.hasResumeTxBeenRequested = false;
    status.hasRecircWarnAlarmBeenTrig = false;
    status.hasRecircTimeoutAlarmBeenTrig = false;
    status.isBloodPumpRunning = true;
}

void StateController::handleRecircRequestMessage()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_RECIRCULATE_RQST);
    if (!request)
        return;
    const auto action = Requested_Treatment_Recirc_User_Actions(PayloadReader(*request).u32(0));
    const UserActionVerdict verdict =
        UserActionVerdict::unlessAlarmActive(_treatmentStatus.activeTopAlarm, [this, action] {
            if (action != REQUESTED_USER_ACTION_TX_RECIRC_END_TREATMENT)
                return carryOut(action, _treatmentSubStates.recircState, _treatmentStatus.hasResumeTxBeenRequested);
            openUIConfirmation(GENERIC_CONFIRM_ID_TREATMENT_END);
            return UserActionVerdict::accepted();
        });
    handleUIResponseMessage(Can::ID_TD_RECIRCULATE_RESP, verdict.acceptance(), verdict.reasons());
}

void StateController::handleRecircTimeout()
{
    if (_treatmentSubStates.recircState != TREATMENT_RECIRC_RECIRC_STATE)
        return;
    Treatment_Status_Vars &status = _treatmentStatus;
    const quint64 elapsed = TickTime::seconds(status.recircTimerCounter);
    const quint64 timeoutS = status.recircTimeoutS;
    // Raised again on every tick while its condition holds, so an alarm
    // the user cleared comes straight back.
    if (elapsed + kRecircWarningLeadS >= timeoutS && status.activeTopAlarm != ALARM_ID_TD_RECIRC_TIMEOUT_WARNING) {
        status.hasRecircWarnAlarmBeenTrig = true;
        raiseAlarm(ALARM_ID_TD_RECIRC_TIMEOUT_WARNING);
    }
    if (elapsed >= timeoutS && status.activeTopAlarm != ALARM_ID_TD_RECIRC_TIMEOUT) {
        status.hasRecircTimeoutAlarmBeenTrig = true;
        raiseAlarm(ALARM_ID_TD_RECIRC_TIMEOUT);
    }
}

void StateController::handleRecircBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.recirculation.isDue(BCType))
        return;
    const quint64 elapsed = TickTime::seconds(_treatmentStatus.recircTimerCounter);
    const quint32 timeoutS = _treatmentStatus.recircTimeoutS;
    const quint32 remainingS = elapsed < timeoutS ? quint32(timeoutS - elapsed) : 0;
    queueBroadcast({int(Can::ID_TD_RECIRCULATE_DATA), int(Can::eChlid_TD_Sync), remainingS});
}

void StateController::handleTreatmentPauseBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.treatmentPause.isDue(BCType))
        return;
    const quint32 sitting = _treatmentStatus.txPauseBloodSittingCounter;
    const quint32 remainingS = sitting < kPauseTicks ? (kPauseTicks - sitting) / 10 : 0;
    queueBroadcast({int(Can::ID_TD_TREATMENT_PAUSED_TIMER_DATA), int(Can::eChlid_TD_Sync), kPauseTimeoutS, remainingS});
}

void StateController::handleTreatmentEndRequestMessage(StepExit &exit)
{
    if (!_treatmentRcvdMessages.take(Can::ID_TD_END_TREATMENT_RQST))
        return;
    exit.leave(Chart::Event::T_TE_2_RB);
    handleUIResponseMessage(Can::ID_TD_END_TREATMENT_RESP, 1);
}

void StateController::handleTreatmentEndTimeout()
{
    // The tick counter may wrap: the difference still counts the ticks.
    const quint32 ticksSinceEntry = _elapsedTimeCtr - _treatmentStatus.treatmentEndTimeoutAlarmCtr;
    // Equality, so the alarm comes once per stay.
    if (TickTime::ms(ticksSinceEntry) == kTreatmentEndTimeoutMS)
        raiseAlarm(ALARM_ID_TD_END_OF_TREATMENT_TIMEOUT);
}
