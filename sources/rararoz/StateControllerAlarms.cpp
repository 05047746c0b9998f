#include "rararoz/StateController.h"

#include <QDebug>

#include <algorithm>

#include "rararoz/ChartNames.h"
#include "rararoz/PayloadReader.h"
#include "rararoz/SimulatorTrace.h"
#include "rararoz/TreatmentEndEvent.h"

// The top alarm, its status message, the user's alarm actions, the scripted
// chemical-replacement alarms and the generic confirmation dialogs.

namespace {

// Property value that selects the alarm's default property.
constexpr qint16 kDefaultAlarmProperty = -999;
constexpr qint64 kConfirmationTimeoutMS = 60000;
constexpr int kConfirmationZeroFields = 4;

// A proportioning alarm of the chemical-replacement sequence lasts 10 s;
// the low venous pressure comes exactly 3 min after the treatment resumed.
constexpr quint64 kProportioningTicks = 100;
constexpr quint64 kLowVenousTicks = 1800;

quint64 ticksSince(quint32 mark, quint32 now)
{
    return quint32(now - mark);
}

// What the user can answer to an open dialog; anything else is no answer.
bool isAnswer(Confirmation_Status answer)
{
    return answer == CONFIRMATION_REQUEST_STATUS_REJECTED || answer == CONFIRMATION_REQUEST_STATUS_ACCEPTED ||
           answer == CONFIRMATION_REQUEST_STATUS_TIMEOUT;
}

} // namespace

// Alarms ---------------------------------------------------------------

void StateController::triggerAnAlarm(Alarm_List alarmID, qint16 alarmProperty)
{
    const auto row = _alarmTriggerSpecs.constFind(alarmID);
    if (row == _alarmTriggerSpecs.constEnd())
        return;
    _treatmentStatus.activeTopAlarm = alarmID;
    _treatmentStatus.activeAlarmProperty =
        alarmProperty == kDefaultAlarmProperty ? row->property : quint16(alarmProperty);
}

void StateController::raiseAlarm(Alarm_List alarmID)
{
    triggerAnAlarm(alarmID, kDefaultAlarmProperty);
}

void StateController::clearAlarm()
{
    triggerAnAlarm(ALARM_ID_NO_ALARM, kDefaultAlarmProperty);
}

void StateController::handleAlarmStatusBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.alarmStatus.isDue(BCType))
        return;
    const auto row = _alarmTriggerSpecs.constFind(_treatmentStatus.activeTopAlarm);
    if (row == _alarmTriggerSpecs.constEnd())
        return;
    queueSend({int(Can::ID_ALARM_STATUS_DATA), int(Can::eChlid_TD_Alarm), quint32(row->priority),
               int(_treatmentStatus.activeTopAlarm), quint32(0), int(_treatmentStatus.activeAlarmProperty)});
}

void StateController::handleAlarmUserAction(StepExit &exit, bool isFromTxPause)
{
    const auto request = _treatmentRcvdMessages.take(Can::ID_UI_ALARM_USER_ACTION_REQUEST);
    if (!request)
        return;
    switch (Alarm_User_Actions(PayloadReader(*request).u32(0))) {
    case ALARM_USER_ACTION_RESUME:
        resumeFromAlarm(exit, isFromTxPause);
        break;
    case ALARM_USER_ACTION_RINSEBACK:
        openUIConfirmation(GENERIC_CONFIRM_ID_RINSEBACK);
        break;
    case ALARM_USER_ACTION_END_TREATMENT:
        openUIConfirmation(GENERIC_CONFIRM_ID_TREATMENT_END);
        exit.setEvent(Chart::Event::T_TP_2_RB);
        break;
    case ALARM_USER_ACTION_ACK:
        clearAlarm();
        break;
    case ALARM_USER_ACTION_TEMPOARY_BREAK:
        openUIConfirmation(GENERIC_CONFIRM_ID_TEMPORARY_BREAK);
        break;
    default:
        // An action the simulator does not know is consumed without effect.
        break;
    }
}

void StateController::resumeFromAlarm(StepExit &exit, bool isFromTxPause)
{
    // The treatment resumes only from a pause, and not while the dry
    // bicarbonate cartridge is being handled.
    if (isFromTxPause && _treatmentStatus.bicartAction == DRY_BICART_ACTION_DONE) {
        setDialysisSubState(DIALYSIS_UF_STATE);
        _treatmentSubStates.txState = TREAT_DIALYSIS_STATE;
        exit.leave(Chart::Event::T_TP_2_Tx);
    }
    clearAlarm();
}

void StateController::handleTriggeredAlarmsToTxPause(StepExit &exit)
{
    const Alarm_List alarm = _treatmentStatus.activeTopAlarm;
    if (alarm == ALARM_ID_NO_ALARM || !_alarmTriggerSpecs.value(alarm).pausesTreatment)
        return;
    exit.leave(Chart::Event::T_Tx_2_TP);
    _treatmentStatus.requestTreatmentReset = false;
}

// Chemical-replacement sequence ----------------------------------------
//
// An acid concentrate change starts it. Each of its alarms pauses the
// treatment; the user clears the replacement alarms, the sequence clears
// its proportioning alarms itself and finally resumes the treatment.

void StateController::handleChemsReplacementAlarmsSequence(StepExit &exit)
{
    switch (_treatmentStatus.txPauseSeqAlarmState) {
    case SEQ_ALARM_NO_ALARM:
        break;
    case SEQ_ALARM_TRIGGER_RPLC_ACID:
        seqTriggerReplaceAcid();
        break;
    case SEQ_ALARM_PROPORTIONING_ACID_IN_PROG:
        seqProportioningAcid(exit);
        break;
    case SEQ_ALARM_DRY_BICARB_CARTRIDGE:
        seqDryBicarbCartridge(exit);
        break;
    case SEQ_ALARM_PROCESS_DRAIN_SCREEN:
        seqProcessDrainScreen(exit);
        break;
    case SEQ_ALARM_TRIGGER_RPLC_BICARB:
        seqTriggerReplaceBicarb(exit);
        break;
    case SEQ_ALARM_PROPORTIONING_BICARB_IN_PROG:
        seqProportioningBicarb(exit);
        break;
    case SEQ_ALARM_LOW_VENOUS:
        seqLowVenous();
        break;
    }
}

bool StateController::hasSequenceMarkPassed(quint64 ticks) const
{
    return ticksSince(_treatmentStatus.triggerAlarmTimeoutCtr, _elapsedTimeCtr) >= ticks;
}

void StateController::seqTriggerReplaceAcid()
{
    Treatment_Status_Vars &status = _treatmentStatus;
    if (status.activeTopAlarm != ALARM_ID_NO_ALARM)
        return;
    raiseAlarm(ALARM_ID_DD_REPLACE_ACID_CONCENTRATE);
    status.bicartAction = DRY_BICART_ACTION_DRAIN;
    status.bicartDrainInProgress = 1;
    status.txPauseSeqAlarmState = SEQ_ALARM_PROPORTIONING_ACID_IN_PROG;
}

void StateController::seqProportioningAcid(StepExit &exit)
{
    Treatment_Status_Vars &status = _treatmentStatus;
    if (status.activeTopAlarm == ALARM_ID_DD_REPLACE_ACID_CONCENTRATE)
        return;
    if (status.activeTopAlarm == ALARM_ID_NO_ALARM) {
        status.triggerAlarmTimeoutCtr = _elapsedTimeCtr;
        raiseAlarm(ALARM_ID_TD_DIALYSATE_PROPORTIONING_IN_PROGRESS);
    }
    if (!hasSequenceMarkPassed(kProportioningTicks))
        return;
    clearAlarm();
    exit.stay();
    status.txPauseSeqAlarmState = SEQ_ALARM_DRY_BICARB_CARTRIDGE;
}

void StateController::seqDryBicarbCartridge(StepExit &exit)
{
    Treatment_Status_Vars &status = _treatmentStatus;
    if (status.activeTopAlarm != ALARM_ID_DD_BICARBONATE_CARTRIDGE_LOW_LEVEL) {
        raiseAlarm(ALARM_ID_DD_BICARBONATE_CARTRIDGE_LOW_LEVEL);
        return;
    }
    status.bicartDrainInProgress = 1;
    status.bicartProgress = 0.0f;
    exit.stay();
    status.txPauseSeqAlarmState = SEQ_ALARM_PROCESS_DRAIN_SCREEN;
}

void StateController::seqProcessDrainScreen(StepExit &exit)
{
    Treatment_Status_Vars &status = _treatmentStatus;
    if (status.activeTopAlarm == ALARM_ID_DD_BICARBONATE_CARTRIDGE_LOW_LEVEL)
        return;
    handleDryBicartBroadcastData(BC_DELAYED);
    handleDryBicartActionRequest();
    if (status.bicartAction != DRY_BICART_ACTION_DONE)
        return;
    raiseAlarm(ALARM_ID_DD_REPLACE_BICARB_CARTRIDGE);
    exit.stay();
    status.txPauseSeqAlarmState = SEQ_ALARM_TRIGGER_RPLC_BICARB;
}

void StateController::seqTriggerReplaceBicarb(StepExit &exit)
{
    Treatment_Status_Vars &status = _treatmentStatus;
    if (status.activeTopAlarm == ALARM_ID_DD_REPLACE_BICARB_CARTRIDGE)
        return;
    raiseAlarm(ALARM_ID_TD_DIALYSATE_PROPORTIONING_IN_PROGRESS);
    status.triggerAlarmTimeoutCtr = _elapsedTimeCtr;
    exit.stay();
    status.txPauseSeqAlarmState = SEQ_ALARM_PROPORTIONING_BICARB_IN_PROG;
}

void StateController::seqProportioningBicarb(StepExit &exit)
{
    Treatment_Status_Vars &status = _treatmentStatus;
    if (!hasSequenceMarkPassed(kProportioningTicks))
        return;
    clearAlarm();
    status.triggerAlarmTimeoutCtr = _elapsedTimeCtr;
    setDialysisSubState(DIALYSIS_UF_STATE);
    _treatmentSubStates.txState = TREAT_DIALYSIS_STATE;
    exit.leave(Chart::Event::T_TP_2_Tx);
    status.txPauseSeqAlarmState = SEQ_ALARM_LOW_VENOUS;
}

void StateController::seqLowVenous()
{
    // Only on the very tick: a tick on which no step runs misses it.
    Treatment_Status_Vars &status = _treatmentStatus;
    if (ticksSince(status.triggerAlarmTimeoutCtr, _elapsedTimeCtr) != kLowVenousTicks)
        return;
    raiseAlarm(ALARM_ID_TD_VENOUS_PRESSURE_LOW);
    status.triggerAlarmTimeoutCtr = _elapsedTimeCtr;
    status.txPauseSeqAlarmState = SEQ_ALARM_NO_ALARM;
}

// Generic confirmation dialogs -----------------------------------------
//
// A dialog is pending from its request until the user's answer has been
// acted on or it has timed out; only a pending dialog takes an answer or
// times out, so each dialog is closed once.

void StateController::handleSendUIConfirmationMessage(Generic_Confirm_Id confirmID, Generic_Confirm_Command confirmCmd,
                                                      Reject_Reasons rejectReason)
{
    qCDebug(simulatorTrace).noquote() << "Sneding" << int(confirmID);
    if (confirmCmd == GENERIC_CONFIRM_CMD_REQUEST_OPEN) {
        Generic_Msg_Status &confirmation = _uiConfirmMessages[confirmID];
        confirmation.startTimeMS = currentTimeMS();
        confirmation.confirmStatus = CONFIRMATION_REQUEST_STATUS_PENDING;
    } else if (confirmCmd == GENERIC_CONFIRM_CMD_TIMEOUT_CLOSE) {
        const auto confirmation = _uiConfirmMessages.find(confirmID);
        if (confirmation != _uiConfirmMessages.end())
            confirmation->confirmStatus = CONFIRMATION_REQUEST_STATUS_TIMEOUT;
    }
    QVariantList request{int(Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST), int(Can::eChlid_TD_UI), int(confirmID),
                         int(confirmCmd), int(rejectReason)};
    for (int field = 0; field < kConfirmationZeroFields; ++field)
        request.append(0.0f);
    queueSend(request);
}

void StateController::openUIConfirmation(Generic_Confirm_Id confirmID)
{
    handleSendUIConfirmationMessage(confirmID, GENERIC_CONFIRM_CMD_REQUEST_OPEN, REQUEST_REJECT_REASON_NONE);
}

bool StateController::hasUIConfirmMessageTimedout(Generic_Confirm_Id confirmID) const
{
    const auto confirmation = _uiConfirmMessages.constFind(confirmID);
    return confirmation != _uiConfirmMessages.constEnd() &&
           confirmation->confirmStatus == CONFIRMATION_REQUEST_STATUS_PENDING &&
           currentTimeMS() - confirmation->startTimeMS > kConfirmationTimeoutMS;
}

void StateController::takeUIConfirmAnswer(Generic_Confirm_Id confirmID, Confirmation_Status answer)
{
    const auto confirmation = _uiConfirmMessages.find(confirmID);
    if (confirmation == _uiConfirmMessages.end() ||
        confirmation->confirmStatus != CONFIRMATION_REQUEST_STATUS_PENDING || !isAnswer(answer)) {
        // A stray, repeated or late answer must never act.
        qCDebug(simulatorTrace).noquote() << "Confirm dropped" << int(confirmID) << int(answer);
        return;
    }
    confirmation->confirmStatus = answer;
    qCDebug(simulatorTrace).noquote() << "New Message Confirm" << int(confirmID) << int(answer);
}

void StateController::handleUIConfirmMessage(Generic_Confirm_Id confirmID, StepExit &exit)
{
    const auto confirmation = _uiConfirmMessages.constFind(confirmID);
    if (confirmation == _uiConfirmMessages.constEnd())
        return;
    if (hasUIConfirmMessageTimedout(confirmID)) {
        handleSendUIConfirmationMessage(confirmID, GENERIC_CONFIRM_CMD_TIMEOUT_CLOSE, REQUEST_REJECT_REASON_NONE);
        qCDebug(simulatorTrace).noquote() << "Message Timeout";
        return;
    }
    const Confirmation_Status status = confirmation->confirmStatus;
    if (status == CONFIRMATION_REQUEST_STATUS_REJECTED) {
        closeRejectedUIConfirmation(confirmID);
        return;
    }
    if (status != CONFIRMATION_REQUEST_STATUS_ACCEPTED)
        return;
    if (confirmID == GENERIC_CONFIRM_ID_TREATMENT_END)
        actOnTreatmentEndConfirmation(exit);
    else if (confirmID == GENERIC_CONFIRM_ID_RINSEBACK || confirmID == GENERIC_CONFIRM_ID_TEMPORARY_BREAK)
        actOnRinsebackConfirmation(confirmID, exit);
}

void StateController::closeRejectedUIConfirmation(Generic_Confirm_Id confirmID)
{
    // The UI closes a rejected dialog on the accept-close command.
    _uiConfirmMessages[confirmID].confirmStatus = CONFIRMATION_REQUEST_STATUS_UNUSED;
    handleSendUIConfirmationMessage(confirmID, GENERIC_CONFIRM_CMD_ACCEPT_CLOSE, REQUEST_REJECT_REASON_NONE);
    qCDebug(simulatorTrace).noquote() << "Reject";
}

void StateController::actOnTreatmentEndConfirmation(StepExit &exit)
{
    const QString state = getActiveStateName();
    const QString event = treatmentEndEvent(state);
    if (!event.isEmpty())
        exit.setEvent(event);
    _uiConfirmMessages[GENERIC_CONFIRM_ID_TREATMENT_END].confirmStatus = CONFIRMATION_REQUEST_STATUS_UNUSED;
    exit.leave(_treatmentStatus.stateTransitionEvent);
    qCDebug(simulatorTrace).noquote() << "Event" << state << event << _rarAroz.activeStateNames();
    handleSendUIConfirmationMessage(GENERIC_CONFIRM_ID_TREATMENT_END, GENERIC_CONFIRM_CMD_ACCEPT_CLOSE,
                                    REQUEST_REJECT_REASON_NONE);
    clearAlarm();
}

void StateController::actOnRinsebackConfirmation(Generic_Confirm_Id confirmID, StepExit &exit)
{
    handleSendUIConfirmationMessage(confirmID, GENERIC_CONFIRM_CMD_ACCEPT_CLOSE, REQUEST_REJECT_REASON_NONE);
    // Rinseback is reached from the end of the treatment as from a pause.
    const bool fromTreatmentEnd = getActiveStateName() == Chart::State::Treatment_End;
    _uiConfirmMessages[confirmID].confirmStatus = CONFIRMATION_REQUEST_STATUS_UNUSED;
    exit.leave(fromTreatmentEnd ? Chart::Event::T_TE_2_RB : Chart::Event::T_TP_2_RB);
    clearAlarm();
}

void StateController::closeUIConfirmMessagesOnStateExit()
{
    // The dialogs belong to the state that opened them: one still open is
    // closed, and no answer can act in a later state.
    QList<Generic_Confirm_Id> open;
    for (auto it = _uiConfirmMessages.cbegin(); it != _uiConfirmMessages.cend(); ++it)
        if (it->confirmStatus == CONFIRMATION_REQUEST_STATUS_PENDING)
            open.append(it.key());
    std::sort(open.begin(), open.end());
    for (Generic_Confirm_Id confirmID : open)
        handleSendUIConfirmationMessage(confirmID, GENERIC_CONFIRM_CMD_TIMEOUT_CLOSE, REQUEST_REJECT_REASON_NONE);
    _uiConfirmMessages.clear();
}
