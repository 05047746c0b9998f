#include "rararoz/StateController.h"

#include "rararoz/PayloadReader.h"
#include "rararoz/RinsebackActions.h"
#include "rararoz/TickTime.h"
#include "rararoz/UserActionVerdict.h"

// Rinseback: the patient's blood returned at the end of a treatment, at a
// flow the user may change, with a further small volume on request.

namespace {

constexpr quint32 kRinsebackStartFlowMLPM = 200;
constexpr quint32 kRinsebackTimeoutS = 300;
constexpr quint64 kRinsebackTimeoutMS = quint64(kRinsebackTimeoutS) * 1000;
constexpr float kAdditionalVolumeML = 50.0f;
constexpr quint64 kAdditionalRunMS = 25000;
// mL/min over one tick.
constexpr double kTicksPerMinute = 600.0;

} // namespace

void StateController::initializeRinseback()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    status.rinsebackFlowMLPM = kRinsebackStartFlowMLPM;
    status.rinsebackAccumVolML = 0.0f;
    status.rinsebackAdditionalVolML = float(_treatmentParams.rinsebackVolumeML);
    status.isRinsebackComplete = false;
    status.rinsebackTimerCounter = 0;
    status.rinsebackAdditionalTimerCounter = 0;
    status.isBloodPumpRunning = true;
}

void StateController::handleRinsebackRequestMessage()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_RINSEBACK_CMD_RQST);
    if (!request)
        return;
    const auto action = Requested_Rinseback_User_Actions(PayloadReader(*request).u32(0));
    const UserActionVerdict verdict =
        UserActionVerdict::unlessAlarmActive(_treatmentStatus.activeTopAlarm, [this, action] {
            if (action != REQUESTED_USER_ACTION_RINSEBACK_END_TREATMENT)
                return RinsebackActions::carryOut(action, _treatmentStatus, _treatmentSubStates.rinsebackState);
            openUIConfirmation(GENERIC_CONFIRM_ID_TREATMENT_END);
            return UserActionVerdict::accepted();
        });
    handleUIResponseMessage(Can::ID_TD_RINSEBACK_CMD_RESP, verdict.acceptance(), verdict.reasons());
}

void StateController::handleRinsebackDelivery()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    ++status.rinsebackTimerCounter;
    const auto volumePerTickML = float(status.rinsebackFlowMLPM / kTicksPerMinute);
    Rinseback_States &state = _treatmentSubStates.rinsebackState;
    switch (state) {
    case RINSEBACK_RUN_STATE:
        status.rinsebackAccumVolML += volumePerTickML;
        status.rinsebackTimerCounter = 0;
        if (isRinsebackVolumeReached())
            state = RINSEBACK_STOP_STATE;
        break;
    case RINSEBACK_RUN_ADDITIONAL_STATE:
        handleRinsebackAdditionalDelivery(volumePerTickML);
        break;
    case RINSEBACK_STOP_STATE:
        // An additional run may follow at any time once the volume is in,
        // and during the first minutes after any stop.
        if (TickTime::ms(status.rinsebackTimerCounter) < kRinsebackTimeoutMS || isRinsebackVolumeReached()) {
            status.rinsebackAdditionalTimerCounter = 0;
            status.rinsebackAdditionalVolML = 0.0f;
        }
        break;
    case RINSEBACK_STOP_INIT_STATE:
    case RINSEBACK_PAUSED_STATE:
    case RINSEBACK_RECONNECT_PATIENT_STATE:
        break;
    }
}

void StateController::handleRinsebackAdditionalDelivery(float volumePerTickML)
{
    Treatment_Status_Vars &status = _treatmentStatus;
    ++status.rinsebackAdditionalTimerCounter;
    status.rinsebackTimerCounter = 0;
    status.rinsebackAccumVolML += volumePerTickML;
    status.rinsebackAdditionalVolML += volumePerTickML;
    if (status.rinsebackAdditionalVolML >= kAdditionalVolumeML ||
        TickTime::ms(status.rinsebackAdditionalTimerCounter) > kAdditionalRunMS)
        _treatmentSubStates.rinsebackState = RINSEBACK_STOP_STATE;
}

bool StateController::isRinsebackVolumeReached() const
{
    return double(_treatmentStatus.rinsebackAccumVolML) >= double(_treatmentParams.rinsebackVolumeML);
}

void StateController::handleRinsebackBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.rinseback.isDue(BCType))
        return;
    const Treatment_Status_Vars &status = _treatmentStatus;
    const quint64 stoppedMS = TickTime::ms(status.rinsebackTimerCounter);
    quint32 timeoutS = kRinsebackTimeoutS;
    quint32 countdownS = stoppedMS <= kRinsebackTimeoutMS ? quint32((kRinsebackTimeoutMS - stoppedMS) / 1000) : 0;
    if (status.isRinsebackComplete || status.rinsebackTimerCounter == 0) {
        timeoutS = 0;
        countdownS = 0;
    }
    queueBroadcast({int(Can::ID_TD_RINSEBACK_DATA), int(Can::eChlid_TD_Sync), status.rinsebackAdditionalVolML,
                    status.rinsebackAccumVolML, status.rinsebackFlowMLPM, timeoutS, countdownS,
                    quint32(status.isRinsebackComplete ? 1 : 0), quint32(1)});
}
