#include "StateController.h"

// Recirculation, treatment pause and treatment end. The start values and
// the broadcasts are simulated; the requests and the time-out alarms are
// not yet.

namespace {
constexpr quint32 kRecircTimeoutS = 1800;
constexpr quint32 kPauseTimeoutS = 300;
// Ticks the blood may stand still in a pause.
constexpr quint32 kPauseTicks = 3000;
} // namespace

void StateController::initializeRecirc()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    status.recircTimerCounter = 0;
    status.recircTimeoutS = kRecircTimeoutS;
    status.hasResumeTxBeenRequested = false;
    status.hasRecircWarnAlarmBeenTrig = false;
    status.hasRecircTimeoutAlarmBeenTrig = false;
    status.isBloodPumpRunning = true;
}

void StateController::handleRecircRequestMessage() {}

void StateController::handleRecircTimeout() {}

void StateController::handleRecircBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.recirculation.isDue(BCType))
        return;
    const quint32 elapsedS = _treatmentStatus.recircTimerCounter * kTickMS / 1000;
    const quint32 timeoutS = _treatmentStatus.recircTimeoutS;
    const quint32 remainingS = elapsedS < timeoutS ? timeoutS - elapsedS : 0;
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

void StateController::handleTreatmentEndRequestMessage(StepExit & /*exit*/) {}

void StateController::handleTreatmentEndTimeout() {}
