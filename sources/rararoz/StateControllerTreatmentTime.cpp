#include "StateController.h"

// Treatment time, ultrafiltration and the treatment states broadcast. The
// ultrafiltration and duration requests and the ultrafiltration broadcast
// are not simulated yet.

void StateController::initializeTreatmentTimeAndUltrafiltration()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    if (status.hasTxParamsBeenInitialized)
        status.treatmentElapsedTimeMS = 0;
    const float durationMin = float(_treatmentParams.treatmentDurationMin);
    status.presUFRateMLPM = _treatmentParams.ufVolumeL * 1000.0f / durationMin;
    // What the prescribed rate would have removed in the time elapsed.
    status.ufVolDeliveredL =
        _treatmentParams.ufVolumeL / (durationMin / 60.0f) / 3600000.0f * float(status.treatmentElapsedTimeMS);
}

void StateController::handleUltrafiltrationPauseResume() {}

void StateController::handleUltrafiltrationVolumeChangeValidation() {}

void StateController::handleUltrafiltrationVolumeChangeConfirm() {}

void StateController::handleTreatmentTimeChangeValidation() {}

void StateController::handleTreatmentTimeChangeConfirm() {}

void StateController::handleTreatmentTimeProcessAndBroadcastData(Broadcast_Type BCType)
{
    // The clock stands still while a bolus runs.
    if (_treatmentSubStates.fluidBolusState == FLUID_BOLUS_IDLE_STATE)
        _treatmentStatus.treatmentElapsedTimeMS += kTickMS;
    if (!_gates.treatmentTime.isDue(BCType))
        return;
    const quint32 prescribedS = _treatmentParams.treatmentDurationMin * 60;
    const quint32 elapsedS = _treatmentStatus.treatmentElapsedTimeMS / 1000;
    const quint32 remainingS = prescribedS - elapsedS;
    queueBroadcast({int(Can::ID_TD_TREATMENT_TIME_DATA), int(Can::eChlid_TD_Sync), prescribedS, elapsedS, remainingS});
}

void StateController::handleUltrafiltrationBroadcastData(Broadcast_Type /*BCType*/) {}

void StateController::handleTreatmentStatesBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.treatmentStates.isDue(BCType))
        return;
    const Treatment_Sub_State_Vars &sub = _treatmentSubStates;
    queueBroadcast({int(Can::ID_TD_TREATMENT_STATE_DATA), int(Can::eChlid_TD_Sync), int(sub.txState),
                    int(sub.bloodPrimeState), int(sub.dialysisSubState), int(0), int(0), int(sub.rinsebackState),
                    int(sub.recircState), int(sub.txEndState), int(sub.fluidBolusState), int(0)});
}
