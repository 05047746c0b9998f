#include "rararoz/StateController.h"

#include <QDebug>

#include "rararoz/NumericGuards.h"
#include "rararoz/PayloadReader.h"
#include "rararoz/SimulatorTrace.h"
#include "rararoz/TreatmentTimeRules.h"

// Treatment time, ultrafiltration (UF) and the treatment states broadcast.
// A UF volume or duration change is validated first and takes effect only
// when the UI confirms exactly what was validated.

using NumericGuards::finiteOrZero;
using TreatmentTimeRules::rateLHRFromMLPM;
using TreatmentTimeRules::rateMatches;
using TreatmentTimeRules::rateMLPMFromLHR;
using TreatmentTimeRules::roundedToCents;
using TreatmentTimeRules::volumeMatches;

namespace {

constexpr quint32 kUFPauseCommand = 0;
constexpr float kMSPerMinute = 60000.0f;
constexpr float kMSPerHour = 3600000.0f;

} // namespace

void StateController::initializeTreatmentTimeAndUltrafiltration()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    if (status.hasTxParamsBeenInitialized)
        status.treatmentElapsedTimeMS = 0;
    // A treatment without a duration removes nothing.
    const float durationMin = float(_treatmentParams.treatmentDurationMin);
    const float ufVolumeL = _treatmentParams.ufVolumeL;
    if (_treatmentParams.treatmentDurationMin == 0) {
        status.presUFRateMLPM = 0.0f;
        status.ufVolDeliveredL = 0.0f;
        return;
    }
    status.presUFRateMLPM = finiteOrZero(ufVolumeL * 1000.0f / durationMin);
    // What the prescribed rate would have removed in the time elapsed.
    status.ufVolDeliveredL =
        finiteOrZero(ufVolumeL / (durationMin / 60.0f) / kMSPerHour * float(status.treatmentElapsedTimeMS));
}

void StateController::respondWithReason(Can::Message_ID_Enum msgID, Reject_Reasons reason, const QVariantList &fields)
{
    const quint32 accepted = reason == REQUEST_REJECT_REASON_NONE ? 1 : 0;
    handleUIResponseMessage(msgID, accepted, QVariantList{int(reason)} + fields);
}

// UF pause and resume ----------------------------------------------------

void StateController::handleUltrafiltrationPauseResume()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_UF_PAUSE_RESUME_RQST);
    if (!request)
        return;
    if (_treatmentSubStates.txState != TREAT_DIALYSIS_STATE) {
        respondWithReason(Can::ID_TD_UF_PAUSE_RESUME_RESP, REQUEST_REJECT_REASON_INVALID_TREATMENT_STATE);
        return;
    }
    const bool pause = PayloadReader(*request).u32(0) == kUFPauseCommand;
    setDialysisSubState(pause ? DIALYSIS_UF_PAUSED_STATE : DIALYSIS_UF_STATE);
    respondWithReason(Can::ID_TD_UF_PAUSE_RESUME_RESP, REQUEST_REJECT_REASON_NONE);
}

// UF volume change -------------------------------------------------------

float StateController::elapsedTreatmentMin() const
{
    return float(_treatmentStatus.treatmentElapsedTimeMS) / kMSPerMinute;
}

float StateController::removedUFVolumeML() const
{
    return _treatmentStatus.ufVolDeliveredL * 1000.0f;
}

void StateController::handleUltrafiltrationVolumeChangeValidation()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST);
    if (!request)
        return;
    const float volumeL = PayloadReader(*request).f32(0);
    float rateLHR = 0.0f;
    const Reject_Reasons reason = validateUFVolume(volumeL, rateLHR);
    if (reason == REQUEST_REJECT_REASON_NONE) {
        _treatmentStatus.validateUFVolReceived = true;
        _treatmentStatus.validateUFVolGoalL = volumeL;
        _treatmentStatus.validateUFRateLHR = rateLHR;
    }
    respondWithReason(Can::ID_TD_TREATMENT_UF_VOLUME_VALIDATE_RESP, reason,
                      {finiteOrZero(volumeL), finiteOrZero(rateLHR)});
}

Reject_Reasons StateController::validateUFVolume(float volumeL, float &rateLHR) const
{
    const TreatmentTimeRules::Progress progress{elapsedTreatmentMin(), removedUFVolumeML(),
                                                _treatmentParams.treatmentDurationMin};
    qCDebug(simulatorTrace).noquote() << "UF CLAC" << progress.elapsedMin << progress.removedML << progress.durationMin
                                      << volumeL << volumeL * 1000.0f;
    const TreatmentTimeRules::UFRate rate = TreatmentTimeRules::forUFVolume(progress, volumeL);
    if (rate.isKnown()) {
        rateLHR = rate.rateLHR;
        qCDebug(simulatorTrace).noquote() << "UF" << volumeL * 1000.0f - progress.removedML
                                          << float(progress.durationMin) - progress.elapsedMin << rate.rateMLPM;
    }
    return rate.reason;
}

void StateController::handleUltrafiltrationVolumeChangeConfirm()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST);
    if (!request)
        return;
    const PayloadReader reader(*request);
    const float volumeL = reader.f32(0);
    const float rateLHR = reader.f32(4);
    Treatment_Status_Vars &status = _treatmentStatus;
    float rateDifference = 0.0f;
    const bool isVolumeMatching = volumeMatches(volumeL, status.validateUFVolGoalL);
    const bool isRateMatching = rateMatches(rateLHR, status.validateUFRateLHR, rateDifference);
    qCDebug(simulatorTrace).noquote() << "UF CONFI" << roundedToCents(status.validateUFRateLHR) << volumeL << rateLHR
                                      << isVolumeMatching << isRateMatching << rateDifference;
    Reject_Reasons reason = REQUEST_REJECT_REASON_NONE;
    if (!status.validateUFVolReceived)
        reason = REQUEST_REJECT_REASON_CONFIRMATION_NOT_EXPECTED;
    else if (!isVolumeMatching || !isRateMatching)
        reason = REQUEST_REJECT_REASON_CONFIRMATION_MISMATCH;
    else
        applyUFVolumeChange();
    respondWithReason(Can::ID_TD_ULTRAFILTRATION_CHANGE_CONFIRM_RESP, reason);
}

void StateController::applyUFVolumeChange()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    _treatmentParams.ufVolumeL = status.validateUFVolGoalL;
    status.presUFRateMLPM = rateMLPMFromLHR(status.validateUFRateLHR);
    status.validateUFRateLHR = 0.0f;
    status.validateUFVolGoalL = 0.0f;
    status.validateUFVolReceived = false;
}

// Treatment duration change ----------------------------------------------

void StateController::handleTreatmentTimeChangeValidation()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_DURATION_VALIDATE_RQST);
    if (!request)
        return;
    const quint32 durationMin = PayloadReader(*request).u32(0);
    Duration_Change change;
    const Reject_Reasons reason = validateTreatmentDuration(durationMin, change);
    if (reason == REQUEST_REJECT_REASON_NONE) {
        _treatmentStatus.validateTxDurReceived = true;
        _treatmentStatus.validateTxDurMin = durationMin;
        _treatmentStatus.validateHepDurMin = change.heparinMin;
        _treatmentStatus.validateUFRateLHR = change.rateLHR;
    }
    respondWithReason(Can::ID_TD_DURATION_VALIDATE_RESP, reason,
                      {durationMin, change.heparinMin, finiteOrZero(change.ufVolumeL), finiteOrZero(change.rateLHR)});
}

Reject_Reasons StateController::validateTreatmentDuration(quint32 durationMin, Duration_Change &change) const
{
    const TreatmentTimeRules::Progress progress{elapsedTreatmentMin(), removedUFVolumeML(),
                                                _treatmentParams.treatmentDurationMin};
    const float ufVolumeML = _treatmentParams.ufVolumeL * 1000.0f;
    qCDebug(simulatorTrace).noquote() << "Tx Dur1" << ufVolumeML << progress.elapsedMin << progress.removedML
                                      << ufVolumeML - progress.removedML << durationMin;
    const TreatmentTimeRules::UFRate rate =
        TreatmentTimeRules::forDuration(progress, _treatmentParams.ufVolumeL, durationMin);
    if (rate.isKnown()) {
        change.ufVolumeL = rate.ufVolumeL;
        change.rateLHR = rate.rateLHR;
    }
    if (rate.reason != REQUEST_REJECT_REASON_NONE)
        return rate.reason;
    change.heparinMin = heparinDurationFor(durationMin);
    qCDebug(simulatorTrace).noquote() << "Tx Dur2" << durationMin << change.heparinMin << change.rateLHR;
    return REQUEST_REJECT_REASON_NONE;
}

quint32 StateController::heparinDurationFor(quint32 durationMin) const
{
    // The heparin-free end of the treatment keeps its length.
    const quint32 currentMin = _treatmentParams.treatmentDurationMin;
    const quint32 heparinMin = _treatmentParams.heparinDeliveryDurationMin;
    quint32 withoutHeparinMin = 0;
    if (currentMin > heparinMin) {
        withoutHeparinMin = currentMin - heparinMin;
        qCDebug(simulatorTrace).noquote() << "Here" << currentMin << heparinMin;
    }
    const quint32 newHeparinMin = NumericGuards::flooredDifference(durationMin, withoutHeparinMin);
    qCDebug(simulatorTrace).noquote() << "Hep time" << newHeparinMin;
    return newHeparinMin;
}

void StateController::handleTreatmentTimeChangeConfirm()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_DURATION_CONFIRM_RQST);
    if (!request)
        return;
    const PayloadReader reader(*request);
    const quint32 durationMin = reader.u32(0);
    const quint32 heparinMin = reader.u32(4);
    const float rateLHR = reader.f32(8);
    const Treatment_Status_Vars &status = _treatmentStatus;
    float rateDifference = 0.0f;
    const bool isMatching = durationMin == status.validateTxDurMin && heparinMin == status.validateHepDurMin &&
                            rateMatches(rateLHR, status.validateUFRateLHR, rateDifference);
    qCDebug(simulatorTrace).noquote() << "Tx Dur Confirm" << durationMin << heparinMin << rateLHR << isMatching
                                      << rateDifference;
    Reject_Reasons reason = REQUEST_REJECT_REASON_NONE;
    if (!status.validateTxDurReceived)
        reason = REQUEST_REJECT_REASON_CONFIRMATION_NOT_EXPECTED;
    else if (!isMatching)
        reason = REQUEST_REJECT_REASON_CONFIRMATION_MISMATCH;
    else
        applyTreatmentDurationChange();
    respondWithReason(Can::ID_TD_DURATION_CONFIRM_RESP, reason);
}

void StateController::applyTreatmentDurationChange()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    _treatmentParams.treatmentDurationMin = status.validateTxDurMin;
    _treatmentParams.heparinDeliveryDurationMin = status.validateHepDurMin;
    status.presUFRateMLPM = rateMLPMFromLHR(status.validateUFRateLHR);
    status.validateTxDurReceived = false;
    status.validateHepDurMin = 0;
    status.validateTxDurMin = 0;
    status.validateUFRateLHR = 0.0f;
}

// Broadcasts -------------------------------------------------------------

void StateController::handleTreatmentTimeProcessAndBroadcastData(Broadcast_Type BCType)
{
    // The clock stands still while a bolus runs.
    if (_treatmentSubStates.fluidBolusState == FLUID_BOLUS_IDLE_STATE)
        _treatmentStatus.treatmentElapsedTimeMS += kTickMS;
    if (!_gates.treatmentTime.isDue(BCType))
        return;
    const quint64 prescribedS = prescribedTreatmentS();
    const quint64 elapsedS = _treatmentStatus.treatmentElapsedTimeMS / 1000;
    // In the last second of a treatment the elapsed time can pass the
    // prescribed time: nothing remains then.
    const quint64 remainingS = prescribedS > elapsedS ? prescribedS - elapsedS : 0;
    using NumericGuards::saturatedToU32;
    queueBroadcast({int(Can::ID_TD_TREATMENT_TIME_DATA), int(Can::eChlid_TD_Sync), saturatedToU32(prescribedS),
                    saturatedToU32(elapsedS), saturatedToU32(remainingS)});
}

quint64 StateController::prescribedTreatmentS() const
{
    // In 64 bits: minutes times 60 wraps a 32-bit count from 71,582,789 min.
    return quint64(_treatmentParams.treatmentDurationMin) * 60;
}

void StateController::handleUltrafiltrationBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.ultrafiltration.isDue(BCType))
        return;
    Treatment_Status_Vars &status = _treatmentStatus;
    const float rateLHR = rateLHRFromMLPM(status.presUFRateMLPM);
    // One second's worth is removed with every broadcast.
    if (_treatmentSubStates.dialysisSubState == DIALYSIS_UF_STATE)
        status.ufVolDeliveredL = finiteOrZero(status.ufVolDeliveredL + rateLHR / kMSPerHour * 1000.0f);
    queueBroadcast({int(Can::ID_TD_ULTRAFILTRATION_DATA), int(Can::eChlid_TD_Sync),
                    finiteOrZero(_treatmentParams.ufVolumeL), finiteOrZero(rateLHR), status.ufVolDeliveredL,
                    quint32(_treatmentSubStates.dialysisSubState)});
}

void StateController::handleTreatmentStatesBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.treatmentStates.isDue(BCType))
        return;
    const Treatment_Sub_State_Vars &sub = _treatmentSubStates;
    queueBroadcast({int(Can::ID_TD_TREATMENT_STATE_DATA), int(Can::eChlid_TD_Sync), int(sub.txState),
                    int(sub.bloodPrimeState), int(sub.dialysisSubState), int(0), int(0), int(sub.rinsebackState),
                    int(sub.recircState), int(sub.txEndState), int(sub.fluidBolusState), int(0)});
}
