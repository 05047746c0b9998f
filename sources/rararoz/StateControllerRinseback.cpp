#include "StateController.h"

// Rinseback. The start values and the broadcast are simulated; the
// rinseback requests and the delivery are not yet.

namespace {
constexpr quint32 kRinsebackStartFlowMLPM = 200;
constexpr quint32 kRinsebackTimeoutS = 300;
constexpr quint32 kRinsebackTimeoutMS = kRinsebackTimeoutS * 1000;
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

void StateController::handleRinsebackRequestMessage() {}

void StateController::handleRinsebackDelivery() {}

void StateController::handleRinsebackBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.rinseback.isDue(BCType))
        return;
    const Treatment_Status_Vars &status = _treatmentStatus;
    const quint32 stoppedMS = status.rinsebackTimerCounter * kTickMS;
    quint32 timeoutS = kRinsebackTimeoutS;
    quint32 countdownS = stoppedMS <= kRinsebackTimeoutMS ? (kRinsebackTimeoutMS - stoppedMS) / 1000 : 0;
    if (status.isRinsebackComplete || status.rinsebackTimerCounter == 0) {
        timeoutS = 0;
        countdownS = 0;
    }
    queueBroadcast({int(Can::ID_TD_RINSEBACK_DATA), int(Can::eChlid_TD_Sync), status.rinsebackAdditionalVolML,
                    status.rinsebackAccumVolML, status.rinsebackFlowMLPM, timeoutS, countdownS,
                    quint32(status.isRinsebackComplete ? 1 : 0), quint32(1)});
}
