#include "rararoz/StateController.h"

#include "rararoz/BloodPrimeRamp.h"
#include "rararoz/PayloadReader.h"

// Blood prime and fluid bolus. Every request here is accepted.

namespace {

constexpr quint32 kResumeCommand = 1;
constexpr quint32 kStartCommand = 1;

// Blood primed in one 100 ms tick per mL/min of flow (1/600), in double
// precision; the bolus uses the single-precision figure.
constexpr double kBloodPrimeMLPerTick = 0.0016666666666666668;
constexpr float kBolusMLPerTick = 0.0016666667f;

// A paused blood prime may wait 300 s; the countdown stops at 1.
constexpr quint32 kPauseAllowanceS = 300;
constexpr quint32 kLastCountedPauseMS = kPauseAllowanceS * 1000 - 1;

// The ramp moves, and a running prime is reported, once a second.
constexpr quint32 kTicksPerSecond = 10;

} // namespace

float StateController::handleBloodPrimeGetRampStepML() const
{
    return BloodPrimeRamp::stepMLPM(_treatmentParams.bloodFlowRateMLPM);
}

void StateController::handleBloodPrimePauseResume(bool &resume)
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_BLOOD_PRIME_CMD_RQST);
    if (!request)
        return;
    handleUIResponseMessage(Can::ID_TD_BLOOD_PRIME_CMD_RESP, 1);
    resume = PayloadReader(*request).u32(0) == kResumeCommand;
    _treatmentSubStates.bloodPrimeState = resume ? BLOOD_PRIME_RUN_STATE : BLOOD_PRIME_PAUSED_STATE;
    handleTreatmentStatesBroadcastData(BC_IMMEDIATELY);
}

void StateController::handleBloodPrimeVolML(bool resume, float rampStepML, bool hasFlowChangeRequested,
                                            quint32 &currBloodFlowMLPM, float &accumBloodVolML)
{
    _treatmentStatus.isBloodPumpRunning = true;
    if (!resume) {
        holdBloodPrime(accumBloodVolML);
        return;
    }
    Blood_Prime_Vars &prime = _bloodPrimeVars;
    accumBloodVolML = float(double(accumBloodVolML) + double(currBloodFlowMLPM) * kBloodPrimeMLPerTick);
    if (++prime.controlCounter % kTicksPerSecond != 0)
        return;
    // A flow set by the user ends the ramp.
    if (!hasFlowChangeRequested)
        currBloodFlowMLPM =
            BloodPrimeRamp::nextFlowMLPM(currBloodFlowMLPM, rampStepML, _treatmentParams.bloodFlowRateMLPM);
    prime.primeTimeoutS = 0;
    prime.pauseCountDownS = 0;
    prime.elapsedTimeSincePauseS = 0;
    handleBloodPrimeBroadcastData(accumBloodVolML, 0, 0, BC_IMMEDIATELY);
}

void StateController::holdBloodPrime(float accumBloodVolML)
{
    Blood_Prime_Vars &prime = _bloodPrimeVars;
    prime.elapsedTimeSincePauseS += kTickMS;
    prime.primeTimeoutS = kPauseAllowanceS;
    if (prime.elapsedTimeSincePauseS <= kLastCountedPauseMS)
        prime.pauseCountDownS = kPauseAllowanceS - prime.elapsedTimeSincePauseS / 1000;
    handleBloodPrimeBroadcastData(accumBloodVolML, prime.primeTimeoutS, prime.pauseCountDownS, BC_DELAYED);
    _treatmentStatus.isBloodPumpRunning = false;
}

void StateController::handleBloodPrimeBroadcastData(float volumeML, quint32 primeTimeoutS, quint32 countDownS,
                                                    Broadcast_Type BCType)
{
    if (!_gates.bloodPrime.isDue(BCType))
        return;
    queueBroadcast({int(Can::ID_TD_BLOOD_PRIME_PROGRESS_DATA), int(Can::eChlid_TD_Sync), float(kBloodPrimeTargetML),
                    volumeML, primeTimeoutS, countDownS});
}

// Fluid bolus -----------------------------------------------------------

void StateController::handleFluidBolusRequestMessage()
{
    if (const auto request = _treatmentRcvdMessages.take(Can::ID_UI_FLUID_BOLUS_RQST)) {
        if (PayloadReader(*request).u32(0) == kStartCommand)
            startFluidBolus();
        else
            stopFluidBolus();
        handleUIResponseMessage(Can::ID_TD_FLUID_BOLUS_RESP, 1,
                                {quint32(REQUEST_REJECT_REASON_NONE), _treatmentParams.fluidBlousVolumeML});
    }
    if (const auto request = _treatmentRcvdMessages.take(Can::ID_UI_BOLUS_VOLUME_CHANGE_RQST)) {
        // Also the volume of a bolus already running.
        _treatmentParams.fluidBlousVolumeML = PayloadReader(*request).u32(0);
        handleUIResponseMessage(Can::ID_TD_BOLUS_VOLUME_CHANGE_RESP, 1);
    }
}

void StateController::startFluidBolus()
{
    handleSignalInitiatePressureStabilization(USE_NORMAL_STABILIZATION_PERIOD);
    Treatment_Sub_State_Vars &sub = _treatmentSubStates;
    // A start while a bolus runs goes on from the volume delivered so far;
    // the sub-state to return to is the one from before the first start.
    if (sub.fluidBolusState == FLUID_BOLUS_IDLE_STATE) {
        sub.prevDialysisSubState = sub.dialysisSubState;
        sub.dialysisSubState = DIALYSIS_UF_PAUSED_STATE;
    }
    sub.fluidBolusState = FLUID_BOLUS_SALINE_IN_PROGRESS_STATE;
}

void StateController::stopFluidBolus()
{
    // Every stop command restarts the stabilisation; with no bolus running
    // there is nothing to stop or restore.
    handleSignalInitiatePressureStabilization(USE_NORMAL_STABILIZATION_PERIOD);
    if (_treatmentSubStates.fluidBolusState != FLUID_BOLUS_IDLE_STATE)
        finishFluidBolus();
}

void StateController::finishFluidBolus()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    _treatmentSubStates.fluidBolusState = FLUID_BOLUS_IDLE_STATE;
    _treatmentSubStates.dialysisSubState = _treatmentSubStates.prevDialysisSubState;
    status.totalFluidBolusDeliveredML += status.accumFluidBolusDeliveredML;
    status.accumFluidBolusDeliveredML = 0.0f;
}

void StateController::setDialysisSubState(Dialysis_States subState)
{
    Treatment_Sub_State_Vars &sub = _treatmentSubStates;
    if (sub.fluidBolusState == FLUID_BOLUS_IDLE_STATE)
        sub.dialysisSubState = subState;
    else
        sub.prevDialysisSubState = subState;
}

void StateController::handleFluidBolusFluidDelivery(quint32 flowMLPM)
{
    if (_treatmentSubStates.fluidBolusState != FLUID_BOLUS_SALINE_IN_PROGRESS_STATE)
        return;
    Treatment_Status_Vars &status = _treatmentStatus;
    status.accumFluidBolusDeliveredML += float(flowMLPM) * kBolusMLPerTick;
    if (status.accumFluidBolusDeliveredML < float(_treatmentParams.fluidBlousVolumeML))
        return;
    finishFluidBolus();
    handleFluidBolusBroadcastData(BC_IMMEDIATELY);
}

void StateController::handleFluidBolusBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.fluidBolus.isDue(BCType))
        return;
    queueBroadcast({int(Can::ID_TD_FLUID_BOLUS_DATA), int(Can::eChlid_TD_Sync), _treatmentParams.fluidBlousVolumeML,
                    _treatmentStatus.accumFluidBolusDeliveredML, _treatmentStatus.totalFluidBolusDeliveredML, int(1)});
}
