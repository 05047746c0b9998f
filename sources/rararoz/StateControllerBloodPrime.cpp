#include "StateController.h"

// Blood prime and fluid bolus. The request handlers and the per-tick
// delivery are not simulated yet: they leave their requests parked.

namespace {
constexpr qint64 kRampStartFlowMLPM = 250;
constexpr float kRampSteps = 60.0f;
} // namespace

float StateController::handleBloodPrimeGetRampStepML() const
{
    const qint64 difference = qint64(_treatmentParams.bloodFlowRateMLPM) - kRampStartFlowMLPM;
    float steps = float(kBloodPrimeTargetML / (double(difference) + kBloodPrimeTargetML) / 250.0 / 2.0 * 60.0);
    if (steps < kRampSteps)
        steps = kRampSteps;
    return float(difference) / steps;
}

void StateController::handleBloodPrimePauseResume(bool & /*resume*/) {}

void StateController::handleBloodPrimeVolML(bool /*resume*/, float /*rampStepML*/, bool /*hasFlowChangeRequested*/,
                                            quint32 & /*currBloodFlowMLPM*/, float & /*accumBloodVolML*/)
{
}

void StateController::handleBloodPrimeBroadcastData(float volumeML, quint32 primeTimeoutS, quint32 countDownS,
                                                    Broadcast_Type BCType)
{
    if (!_gates.bloodPrime.isDue(BCType))
        return;
    queueBroadcast({int(Can::ID_TD_BLOOD_PRIME_PROGRESS_DATA), int(Can::eChlid_TD_Sync), float(kBloodPrimeTargetML),
                    volumeML, primeTimeoutS, countDownS});
}

void StateController::handleFluidBolusRequestMessage() {}

void StateController::handleFluidBolusFluidDelivery(quint32 /*flowMLPM*/) {}

void StateController::handleFluidBolusBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.fluidBolus.isDue(BCType))
        return;
    queueBroadcast({int(Can::ID_TD_FLUID_BOLUS_DATA), int(Can::eChlid_TD_Sync), _treatmentParams.fluidBlousVolumeML,
                    _treatmentStatus.accumFluidBolusDeliveredML, _treatmentStatus.totalFluidBolusDeliveredML, int(1)});
}
