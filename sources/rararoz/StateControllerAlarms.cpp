#include "StateController.h"

#include <QDebug>

// The top alarm, its status message and the generic confirmation dialogs.

namespace {
// Property value that selects the alarm's default property.
constexpr qint16 kDefaultAlarmProperty = -999;
constexpr qint64 kConfirmationTimeoutMS = 60000;
constexpr int kConfirmationZeroFields = 4;
} // namespace

void StateController::triggerAnAlarm(Alarm_List alarmID, qint16 alarmProperty)
{
    const auto spec = _alarmTriggerSpecs.constFind(alarmID);
    if (spec == _alarmTriggerSpecs.constEnd())
        return;
    _treatmentStatus.activeTopAlarm = alarmID;
    _treatmentStatus.activeAlarmProperty =
        alarmProperty == kDefaultAlarmProperty ? spec->property : quint16(alarmProperty);
}

void StateController::handleAlarmStatusBroadcastData(Broadcast_Type BCType)
{
    if (!_gates.alarmStatus.isDue(BCType))
        return;
    const auto spec = _alarmTriggerSpecs.constFind(_treatmentStatus.activeTopAlarm);
    if (spec == _alarmTriggerSpecs.constEnd())
        return;
    queueSend({int(Can::ID_ALARM_STATUS_DATA), int(Can::eChlid_TD_Alarm), quint32(spec->priority),
               int(_treatmentStatus.activeTopAlarm), quint32(0), int(_treatmentStatus.activeAlarmProperty)});
}

void StateController::handleAlarmUserAction(StepExit & /*exit*/, bool /*isFromTxPause*/) {}

void StateController::handleTriggeredAlarmsToTxPause(StepExit &exit)
{
    const Alarm_List alarm = _treatmentStatus.activeTopAlarm;
    if (alarm == ALARM_ID_NO_ALARM || !_alarmTriggerSpecs.value(alarm).pausesTreatment)
        return;
    exit.leave(QStringLiteral("T_Tx_2_TP"));
    _treatmentStatus.requestTreatmentReset = false;
}

void StateController::handleChemsReplacementAlarmsSequence(StepExit & /*exit*/) {}

void StateController::handleSendUIConfirmationMessage(Generic_Confirm_Id confirmID, Generic_Confirm_Command confirmCmd,
                                                      Reject_Reasons rejectReason)
{
    qDebug().noquote() << "Sneding" << int(confirmID);
    Generic_Msg_Status &confirmation = _uiConfirmMessages[confirmID];
    confirmation.startTimeMS = currentTimeMS();
    confirmation.confirmStatus = CONFIRMATION_REQUEST_STATUS_PENDING;
    QVariantList request{int(Can::ID_TD_UI_GENERIC_CONFIRMATION_RQST), int(Can::eChlid_TD_UI), int(confirmID),
                         int(confirmCmd), int(rejectReason)};
    for (int field = 0; field < kConfirmationZeroFields; ++field)
        request.append(0.0f);
    queueSend(request);
}

bool StateController::hasUIConfirmMessageTimedout(Generic_Confirm_Id confirmID) const
{
    return currentTimeMS() - _uiConfirmMessages.value(confirmID).startTimeMS > kConfirmationTimeoutMS;
}

void StateController::handleUIConfirmMessage(Generic_Confirm_Id /*confirmID*/, StepExit & /*exit*/) {}
