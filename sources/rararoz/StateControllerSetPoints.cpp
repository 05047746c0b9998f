#include "rararoz/StateController.h"

#include <algorithm>
#include <cmath>

#include "rararoz/NumericGuards.h"
#include "rararoz/PayloadReader.h"
#include "rararoz/TreatmentLimits.h"

// Set points, prescription edits, parameter ranges and the dialysate unit's
// broadcasts. Every edit is accepted as it comes, with no range check; only
// a temperature or factor that is not a number is not taken, so that none
// reaches a broadcast.

using NumericGuards::finiteOrZero;

namespace {

constexpr int kPrescriptionEditFields = 10;
constexpr quint32 kLastMaxUFVolumeMin = kMaxTreatmentDurationMin - 1;

// The next float field, stored when it is a number. Like every field a
// short payload does not carry, a field that cannot be read leaves its
// target as it is.
void readFiniteF32(const PayloadReader &reader, int &position, float &target)
{
    float value = target;
    if (reader.readF32(position, value) && std::isfinite(value))
        target = value;
}

// The next U32 field into target; true when it was read and differs.
bool readChangedU32(const PayloadReader &reader, int &position, quint32 &target)
{
    quint32 value = target;
    const bool isChanged = reader.readU32(position, value) && value != target;
    target = value;
    return isChanged;
}

} // namespace

void StateController::handleTreatmentPrescriptionEditRequestMessage()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST);
    if (!request)
        return;
    applyPrescriptionEdit(PayloadReader(*request));
    QVariantList response{int(Can::ID_TD_TREATMENT_SET_POINTS_CHANGE_RESP), int(Can::eChlid_TD_UI), int(1)};
    for (int field = 0; field < kPrescriptionEditFields; ++field)
        response.append(int(REQUEST_REJECT_REASON_NONE));
    queueSend(response);
}

void StateController::applyPrescriptionEdit(const PayloadReader &reader)
{
    Treatment_Params &params = _treatmentParams;
    int position = 0;
    reader.readU32(position, params.bloodFlowRateMLPM);
    reader.readU32(position, params.dialysateFlowRateMLPM);
    readFiniteF32(reader, position, params.dialysateTemperatureC);
    // A new acid concentrate has to be put in place: the replacement alarms
    // follow.
    if (readChangedU32(reader, position, params.acidConcentrate))
        _treatmentStatus.txPauseSeqAlarmState = SEQ_ALARM_TRIGGER_RPLC_ACID;
    readFiniteF32(reader, position, params.acidKConcentrateConversionFactor);
    reader.readU32(position, params.bicarbobateMEQL);
    if (readChangedU32(reader, position, params.treatmentModality))
        raiseAlarm(ALARM_ID_TD_TREATMENT_MODALITY_CHANGE);
    reader.readU32(position, params.hepatitisBStatus);
    reader.readU32(position, params.sodiumMEQL);
    // The edit carries the bicarbonate twice; the later one holds.
    reader.readU32(position, params.bicarbobateMEQL);
}

void StateController::handleSetPointBloodFlowChange(quint32 &bloodFlowMLPM, bool &hasBloodFlowChanged)
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST);
    if (!request)
        return;
    bloodFlowMLPM = PayloadReader(*request).u32(0);
    handleUIResponseMessage(Can::ID_TD_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RESP, 1);
    hasBloodFlowChanged = true;
    handleTreatmentSetpointsBroadcastData(bloodFlowMLPM, _treatmentParams.dialysateFlowRateMLPM,
                                          _treatmentParams.dialysateTemperatureC, BC_IMMEDIATELY);
}

void StateController::handleSetPointDialysateFlowChange()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST);
    if (!request)
        return;
    _treatmentParams.dialysateFlowRateMLPM = PayloadReader(*request).u32(0);
    handleUIResponseMessage(Can::ID_TD_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RESP, 1);
    broadcastPrescribedSetPointsAtOnce();
}

void StateController::handleSetPointDialysateTemperatureChange()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST);
    if (!request)
        return;
    const float temperatureC = PayloadReader(*request).f32(0);
    if (std::isfinite(temperatureC))
        _treatmentParams.dialysateTemperatureC = temperatureC;
    handleUIResponseMessage(Can::ID_TD_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RESP, 1);
    broadcastPrescribedSetPointsAtOnce();
}

void StateController::broadcastPrescribedSetPointsAtOnce()
{
    handleTreatmentSetpointsBroadcastData(_treatmentParams.bloodFlowRateMLPM, _treatmentParams.dialysateFlowRateMLPM,
                                          _treatmentParams.dialysateTemperatureC, BC_IMMEDIATELY);
}

void StateController::handleTreatmentSetpointsBroadcastData(quint32 bloodFlowMLPM, quint32 dialFlowMLPM,
                                                            float dialTempC, Broadcast_Type BCType)
{
    if (!_gates.setPoints.isDue(BCType))
        return;
    queueBroadcast({int(Can::ID_TD_TREATMENT_SET_POINTS), int(Can::eChlid_TD_Sync), bloodFlowMLPM, dialFlowMLPM,
                    finiteOrZero(dialTempC)});
}

void StateController::handleTreatmentSettingBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.paramRanges.isDue(BCType))
        return;
    const quint32 elapsedMin = quint32(float(_treatmentStatus.treatmentElapsedTimeMS) / 60000.0f);
    const quint32 minDurationMin = std::max(elapsedMin + 2, kMinTreatmentDurationMin);
    const quint32 maxDurationMin = std::max(minDurationMin, kMaxTreatmentDurationMin);
    const float minUFVolume = 0.0f;
    // A bound whose time has run out is 0, not a wrapped-around difference.
    const quint32 leftMin = NumericGuards::flooredDifference(_treatmentParams.treatmentDurationMin, elapsedMin);
    const float byDuration = float(0.0 + double(float(leftMin)) * kMaxUFRateMLPM);
    const float byMaxDuration = _treatmentStatus.presUFRateMLPM > 0.0f
                                    ? float(NumericGuards::flooredDifference(kLastMaxUFVolumeMin, elapsedMin)) + 0.0f
                                    : 0.0f;
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
