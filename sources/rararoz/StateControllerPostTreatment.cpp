#include "rararoz/StateController.h"

#include "rararoz/ChartNames.h"
#include "rararoz/PayloadReader.h"

// Patient disconnection, disposables removal and the dry bicarbonate
// cartridge's drain or depressurisation.

namespace {
// Progress per call while a drain or depressurisation runs, in percent.
constexpr float kBicartProgressStep = 0.005f * 100.0f;
constexpr float kBicartProgressDone = 100.0f;
} // namespace

void StateController::handlePatientDisconnectRequestMessage()
{
    if (_treatmentRcvdMessages.take(Can::ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST))
        handleUIResponseMessage(Can::ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP, 1);
}

void StateController::handleRemoveDisposablesRequestMessage()
{
    if (_treatmentRcvdMessages.take(Can::ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST))
        handleUIResponseMessage(Can::ID_TD_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RESP, 1);
}

void StateController::handleDryBicartActionRequest()
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_DRY_BICART_DISCONNECT_RQST);
    if (!request)
        return;
    Treatment_Status_Vars &status = _treatmentStatus;
    status.bicartAction = Dry_Bicart_Action(PayloadReader(*request).u32(0));
    switch (status.bicartAction) {
    case DRY_BICART_ACTION_DRAIN:
        status.bicartDrainInProgress = 1;
        status.bicartProgress = 0.0f;
        status.bicartShowDialog = 1;
        break;
    case DRY_BICART_ACTION_DEPRESSURIZE:
        status.bicartDepresInProgress = 1;
        status.bicartProgress = 0.0f;
        status.bicartShowDialog = 1;
        break;
    case DRY_BICART_ACTION_CANCEL:
        status.bicartDrainInProgress = 0;
        status.bicartDepresInProgress = 0;
        status.bicartProgress = 0.0f;
        status.bicartShowDialog = 1;
        break;
    default:
        status.bicartShowDialog = 0;
        break;
    }
    handleDryBicartBroadcastData(BC_IMMEDIATELY);
    handleUIResponseMessage(Can::ID_TD_DRY_BICART_DISCONNECT_RESP, 1);
}

void StateController::handleDryBicartBroadcastData(Broadcast_Type BCType)
{
    Treatment_Status_Vars &status = _treatmentStatus;
    if (status.bicartDrainInProgress == 1 || status.bicartDepresInProgress == 1)
        status.bicartProgress = qMin(status.bicartProgress + kBicartProgressStep, kBicartProgressDone);
    if (status.bicartProgress >= kBicartProgressDone) {
        status.bicartDrainInProgress = 0;
        status.bicartDepresInProgress = 0;
    }
    if (!_gates.dryBicart.isDue(BCType))
        return;
    // Post_Tx never shows the cartridge dialog.
    if (getActiveStateName() == Chart::State::Post_Tx)
        status.bicartShowDialog = 0;
    queueBroadcast({int(Can::ID_TD_DRY_BICART_DISCONNECT_DATA), int(Can::eChlid_TD_Sync), status.bicartShowDialog,
                    status.bicartTotal, quint32(status.bicartProgress), status.bicartDrainInProgress,
                    status.bicartDepresInProgress});
}
