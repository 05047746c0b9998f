#include "rararoz/StateController.h"

#include <QDebug>

#include "rararoz/NumericGuards.h"
#include "rararoz/PayloadReader.h"
#include "rararoz/SimulatorTrace.h"

// Hemodiafiltration: substitution fluid at a rate bounded by a fraction of
// the blood flow, added every 40 running ticks until the prescribed volume
// is delivered, with the user's adjustment and pause/resume requests.

namespace {

constexpr float kHDFStartRateMLPM = 50.0f;
constexpr float kHDFMaxRateMLPM = 200.0f;
constexpr float kHDFMaxFiltrationFraction = 0.35f;
constexpr float kHDFFixedRateField = 5.2f;
// Volume steps come every 40 running ticks, each worth 40 ticks of flow.
constexpr quint32 kHDFControlTicks = 40;
constexpr float kHDFStepMinutes = 0.6666667f;
constexpr double kHDFManualRateEpsilon = 1e-8;

// The highest substitution rate allowed: never negative, so a low blood
// flow with a high UF rate stops the substitution instead of reversing it,
// and never beyond the cap. A rate that is not a number allows nothing.
float boundedRate(float rateMLPM)
{
    if (!(rateMLPM > 0.0f))
        return 0.0f;
    return rateMLPM > kHDFMaxRateMLPM ? kHDFMaxRateMLPM : rateMLPM;
}

} // namespace

void StateController::initializeTreatmentHDFVariables()
{
    Treatment_HDF_vars &hdf = _treatmentHDFVars;
    hdf.hdfManualRateMLPM = 0.0f;
    hdf.hdfCurrentVolumeML = 0.0f;
    hdf.hdfControlState = TD_HDF_PAUSED;
    hdf.hdfMaxFiltrationFraction = kHDFMaxFiltrationFraction;
    hdf.hdfCurrentRateMLPM = kHDFStartRateMLPM;
    hdf.hdfControlTimeCtr = 0;
    hdf.hdfHasMaxVolumeBeenReached = false;
    hdf.hdfIsRequested = true;
}

float StateController::handleHDFCheckRate(float proposedRateMLPM, bool initRate)
{
    Treatment_HDF_vars &hdf = _treatmentHDFVars;
    if (initRate)
        hdf.hdfCurrentRateMLPM = kHDFStartRateMLPM;
    const float maxRate = boundedRate(hdf.hdfMaxFiltrationFraction * float(_treatmentParams.bloodFlowRateMLPM) -
                                      _treatmentStatus.presUFRateMLPM);
    const float rate = proposedRateMLPM < hdf.hdfCurrentRateMLPM ? maxRate : hdf.hdfCurrentRateMLPM;
    qCDebug(simulatorTrace).noquote() << "HDF rate" << maxRate << rate;
    return rate;
}

void StateController::handleHDFTreatment()
{
    if (_treatmentParams.treatmentModality != TREATMENT_MODALITY_HDF_ONLINE_FLUID)
        return;
    Treatment_HDF_vars &hdf = _treatmentHDFVars;
    switch (hdf.hdfControlState) {
    case TD_HDF_PAUSED:
        if (!hdf.hdfHasMaxVolumeBeenReached && hdf.hdfIsRequested) {
            hdf.hdfControlState = TD_HDF_RUNNING;
            hdf.hdfCurrentRateMLPM = handleHDFCheckRate(hdf.hdfCurrentRateMLPM, true);
        }
        break;
    case TD_HDF_RUNNING:
        handleHDFRunningStep();
        break;
    }
}

void StateController::handleHDFRunningStep()
{
    Treatment_HDF_vars &hdf = _treatmentHDFVars;
    if (!hdf.hdfIsRequested) {
        // The rate is recomputed from scratch at the next start.
        hdf.hdfCurrentRateMLPM = 0.0f;
        hdf.hdfControlState = TD_HDF_PAUSED;
        qCDebug(simulatorTrace).noquote() << "Pause";
        return;
    }
    ++hdf.hdfControlTimeCtr;
    if (hdf.hdfControlTimeCtr % kHDFControlTicks != 0)
        return;
    if (double(hdf.hdfManualRateMLPM) <= kHDFManualRateEpsilon)
        hdf.hdfCurrentRateMLPM = handleHDFCheckRate(hdf.hdfCurrentRateMLPM, false);
    hdf.hdfCurrentVolumeML += hdf.hdfCurrentRateMLPM * kHDFStepMinutes;
    qCDebug(simulatorTrace).noquote() << "ALL" << int(hdf.hdfControlState) << hdf.hdfCurrentVolumeML
                                      << hdf.hdfHasMaxVolumeBeenReached << hdf.hdfIsRequested << kHDFControlTicks;
    if (hdf.hdfCurrentVolumeML > _treatmentParams.hdfSubstitutionFluidVolumeL * 1000.0f) {
        qCDebug(simulatorTrace).noquote() << "volume HDF";
        hdf.hdfHasMaxVolumeBeenReached = true;
        hdf.hdfCurrentRateMLPM = 0.0f;
        hdf.hdfControlState = TD_HDF_PAUSED;
    }
}

void StateController::handleHDFBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.hdf.isDue(BCType))
        return;
    const Treatment_HDF_vars &hdf = _treatmentHDFVars;
    const quint32 automatic = hdf.hdfManualRateMLPM > 0.0f ? 0 : 1;
    // The prescription may carry a volume that is not a number; the
    // broadcast shows none then.
    const float volumeL = NumericGuards::finiteOrZero(_treatmentParams.hdfSubstitutionFluidVolumeL);
    queueBroadcast({int(Can::ID_TD_HEMODIAFILTRATION_DATA), int(Can::eChlid_TD_Sync), int(hdf.hdfControlState),
                    automatic, hdf.hdfManualRateMLPM, kHDFFixedRateField, hdf.hdfCurrentRateMLPM, kHDFFixedRateField,
                    volumeL, hdf.hdfCurrentVolumeML / 1000.0f, quint32(hdf.hdfIsRequested ? 1 : 0)});
}

void StateController::handleHDFAdjustmentRequestMessage()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_HDF_ADJUSTMENT_RQST);
    if (!request)
        return;
    const PayloadReader fields(*request);
    const quint32 dilution = fields.u32(0);
    const float volumeL = fields.f32(4);
    // A volume that is not a finite number would never be reached, nor be
    // shown; the prescribed one stays.
    if (qIsFinite(volumeL))
        _treatmentParams.hdfSubstitutionFluidVolumeL = volumeL;
    if (dilution != _treatmentParams.hdfDilution)
        raiseAlarm(ALARM_ID_TD_HDF_SUBMODE_CHANGE);
    _treatmentParams.hdfDilution = dilution;
    handleUIResponseMessage(Can::ID_TD_HDF_ADJUSTMENT_RESP, 1, {int(REQUEST_REJECT_REASON_NONE), int(0)});
}

void StateController::hadnleHDFPauseResumeRequestMessage()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_PAUSE_SUB_FLOW_RQST);
    if (!request)
        return;
    _treatmentHDFVars.hdfIsRequested = PayloadReader(*request).u32(0) != 0;
    handleUIResponseMessage(Can::ID_TD_PAUSE_SUB_FLOW_RESP, 1);
}
