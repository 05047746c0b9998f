#include "StateController.h"

#include <QDebug>

#include <algorithm>

// Hemodiafiltration. The start values, the rate check and the broadcast are
// simulated; the substitution controller and its requests are not yet.

namespace {
constexpr float kHDFStartRateMLPM = 50.0f;
constexpr float kHDFMaxRateMLPM = 200.0f;
constexpr float kHDFMaxFiltrationFraction = 0.35f;
constexpr float kHDFFixedRateField = 5.2f;
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
    const float maxRate = std::min(hdf.hdfMaxFiltrationFraction * float(_treatmentParams.bloodFlowRateMLPM) -
                                       _treatmentStatus.presUFRateMLPM,
                                   kHDFMaxRateMLPM);
    const float rate = proposedRateMLPM < hdf.hdfCurrentRateMLPM ? maxRate : hdf.hdfCurrentRateMLPM;
    qDebug().noquote() << "HDF rate" << maxRate << rate;
    return rate;
}

void StateController::handleHDFTreatment() {}

void StateController::handleHDFBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.hdf.isDue(BCType))
        return;
    const Treatment_HDF_vars &hdf = _treatmentHDFVars;
    const quint32 automatic = hdf.hdfManualRateMLPM > 0.0f ? 0 : 1;
    queueBroadcast({int(Can::ID_TD_HEMODIAFILTRATION_DATA), int(Can::eChlid_TD_Sync), int(hdf.hdfControlState),
                    automatic, hdf.hdfManualRateMLPM, kHDFFixedRateField, hdf.hdfCurrentRateMLPM, kHDFFixedRateField,
                    _treatmentParams.hdfSubstitutionFluidVolumeL, hdf.hdfCurrentVolumeML / 1000.0f,
                    quint32(hdf.hdfIsRequested ? 1 : 0)});
}

void StateController::handleHDFAdjustmentRequestMessage() {}

void StateController::hadnleHDFPauseResumeRequestMessage() {}
