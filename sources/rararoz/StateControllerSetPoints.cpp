#include "StateController.h"

#include <algorithm>

// Set points, parameter ranges and the dialysate unit's broadcasts. The
// prescription edit and set-point change requests are not simulated yet.

namespace {
constexpr double kMaxUFRateMLPM = 33.333333333333336;
constexpr quint32 kMinDurationMin = 60;
constexpr quint32 kMaxDurationMin = 480;
} // namespace

void StateController::handleTreatmentPrescriptionEditRequestMessage() {}

void StateController::handleSetPointBloodFlowChange(quint32 & /*bloodFlowMLPM*/, bool & /*hasBloodFlowChanged*/) {}

void StateController::handleSetPointDialysateFlowChange() {}

void StateController::handleSetPointDialysateTemperatureChange() {}

void StateController::handleTreatmentSetpointsBroadcastData(quint32 bloodFlowMLPM, quint32 dialFlowMLPM,
                                                            float dialTempC, Broadcast_Type BCType)
{
    if (!_gates.setPoints.isDue(BCType))
        return;
    queueBroadcast(
        {int(Can::ID_TD_TREATMENT_SET_POINTS), int(Can::eChlid_TD_Sync), bloodFlowMLPM, dialFlowMLPM, dialTempC});
}

void StateController::handleTreatmentSettingBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.paramRanges.isDue(BCType))
        return;
    const quint32 elapsedMin = quint32(float(_treatmentStatus.treatmentElapsedTimeMS) / 60000.0f);
    const quint32 minDurationMin = std::max(elapsedMin + 2, kMinDurationMin);
    const quint32 maxDurationMin = std::max(minDurationMin, kMaxDurationMin);
    const float minUFVolume = 0.0f;
    // Both differences are unsigned: past the prescribed time they wrap.
    const float byDuration =
        float(0.0 + double(float(_treatmentParams.treatmentDurationMin - elapsedMin)) * kMaxUFRateMLPM);
    const float byMaxDuration =
        _treatmentStatus.presUFRateMLPM > 0.0f ? float(quint32(kMaxDurationMin - 1) - elapsedMin) + 0.0f : 0.0f;
    const float maxUFVolume = std::max(byDuration, byMaxDuration);
    queueBroadcast({int(Can::ID_TD_TREATMENT_PARAM_RANGES_DATA), int(Can::eChlid_TD_Sync), minDurationMin,
                    maxDurationMin, minUFVolume, maxUFVolume, int(50), int(600)});
}

void StateController::handleDDGenDialysateModeBroadcastData(Broadcast_Type BCType, bool isDialysateBypass)
{
    if (!_gates.dialysateMode.isDue(BCType))
        return;
    const bool bypass = !isDialysateBypass && _treatmentSubStates.fluidBolusState == FLUID_BOLUS_IDLE_STATE;
    queueBroadcast({int(Can::ID_DD_GEN_DIALYSATE_MODE_DATA), int(Can::eChlid_DD_Sync), quint32(1), quint32(1),
                    quint32(bypass ? 1 : 0), 150.2f});
}

void StateController::handleDDConductivityBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.conductivity.isDue(BCType))
        return;
    queueBroadcast({int(Can::ID_DD_CONDUCTIVITY_DATA), int(Can::eChlid_DD_Sync), 0.0f, 250.63f, 0.0f, 0.0f, 0.0f});
}
