#include "rararoz/StateController.h"

#include <QDebug>

#include "rararoz/PayloadReader.h"
#include "rararoz/SimulatorTrace.h"

// The prescription, the initiation of a treatment and the tubing set.

namespace {

constexpr int kPrescriptionFields = 25;

// Reads the next field into target; a field beyond a short payload cannot
// be read and leaves target as it is, so no other field's value lands in it.
void readField(const PayloadReader &reader, int &position, quint32 &target)
{
    reader.readU32(position, target);
}

void readField(const PayloadReader &reader, int &position, float &target)
{
    reader.readF32(position, target);
}

void readField(const PayloadReader &reader, int &position, bool &target)
{
    quint32 value = 0;
    if (reader.readU32(position, value))
        target = value != 0;
}

} // namespace

void StateController::setTreatmentParametersFromUI(const QVariant &payload)
{
    const PayloadReader reader(payload);
    Treatment_Params &params = _treatmentParams;
    int position = 0;
    readField(reader, position, params.finalConfirmation);
    readField(reader, position, params.treatmentModality);
    readField(reader, position, params.hdfDilution);
    readField(reader, position, params.bloodFlowRateMLPM);
    readField(reader, position, params.dialysateFlowRateMLPM);
    readField(reader, position, params.treatmentDurationMin);
    readField(reader, position, params.heparinDeliveryDurationMin);
    readField(reader, position, params.heparinType);
    readField(reader, position, params.dryBicarbCartSize);
    readField(reader, position, params.sodiumMEQL);
    readField(reader, position, params.bicarbobateMEQL);
    readField(reader, position, params.dialyzerType);
    readField(reader, position, params.fluidBlousVolumeML);
    readField(reader, position, params.bloodPressureIntervalMin);
    readField(reader, position, params.rinsebackVolumeML);
    readField(reader, position, params.hepatitisBStatus);
    readField(reader, position, params.acidConcentrate);
    readField(reader, position, params.hdfSubstitutionFluidVolumeL);
    readField(reader, position, params.heparinBolusVolumeML);
    readField(reader, position, params.heparinDeliveryRateMLHR);
    readField(reader, position, params.dialysateTemperatureC);
    readField(reader, position, params.acidKConcentrateConversionFactor);
    readField(reader, position, params.ufPreWeightKG);
    readField(reader, position, params.ufEstimatedTargetWeightKG);
    readField(reader, position, params.ufVolumeL);

    // Every prescription is accepted as it comes: one zero reject reason
    // per field, whatever was read.
    QVariantList response{int(Can::ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE), int(Can::eChlid_TD_UI), int(1)};
    for (int field = 0; field < kPrescriptionFields; ++field)
        response.append(int(REQUEST_REJECT_REASON_NONE));
    _treatmentStatus.hasTxParamsBeenInitialized = true;
    queueSend(response);
}

void StateController::handleInitiateTreatmentRequestMessage(StepExit &exit)
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_INITIATE_TREATMENT);
    if (!request)
        return;
    const quint32 value = PayloadReader(*request).u32(0);
    const User_Command_ID row = value == 1 ? CMD_PRE_TX : CMD_STAND_BY;
    handleUIResponseMessage(Can::ID_TD_RESP_INITIATE_TREATMENT, 1);
    exit.leave(_transitionEventsFromStandby.value(row).event);
}

void StateController::handleSetupTubingSetConnectionsRequestMessage()
{
    if (!_treatmentRcvdMessages.take(Can::ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST))
        return;
    qCDebug(simulatorTrace).noquote() << "D6";
    handleUIResponseMessage(Can::ID_TD_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RESP, 1);
}

void StateController::initializeTreatmentParametersToDefault()
{
    Treatment_Params &params = _treatmentParams;
    params.finalConfirmation = true;
    params.treatmentModality = TREATMENT_MODALITY_HD_SALINE_FLUID;
    params.bloodFlowRateMLPM = 400;
    params.dialysateFlowRateMLPM = 350;
    params.treatmentDurationMin = 240;
    params.fluidBlousVolumeML = 100;
    params.bloodPressureIntervalMin = 1800000;
    params.rinsebackVolumeML = 300;
    params.dialysateTemperatureC = 37.0f;
    params.ufVolumeL = 2.0f;
}
