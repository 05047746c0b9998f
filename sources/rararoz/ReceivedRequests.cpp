#include "ReceivedRequests.h"

#include <QDebug>

namespace {

using namespace Can;

bool carriesFields(quint32 id)
{
    switch (id) {
    case ID_UI_ALARM_USER_ACTION_REQUEST:
    case ID_UI_TREATMENT_PARAMS_TO_VALIDATE:
    case ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST:
    case ID_INITIATE_TREATMENT:
    case ID_UI_UF_PAUSE_RESUME_RQST:
    case ID_UI_FLUID_BOLUS_RQST:
    case ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST:
    case ID_UI_PRESSURE_LIMITS_CHANGE_RQST:
    case ID_UI_BOLUS_VOLUME_CHANGE_RQST:
    case ID_UI_DURATION_VALIDATE_RQST:
    case ID_UI_DURATION_CONFIRM_RQST:
    case ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST:
    case ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST:
    case ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST:
    case ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST:
    case ID_UI_RINSEBACK_CMD_RQST:
    case ID_UI_BLOOD_PRIME_CMD_RQST:
    case ID_UI_WATER_SAMPLE_RESULT_RQST:
    case ID_UI_RECIRCULATE_RQST:
    case ID_UI_CONFIRMATION_RESULT_RESP:
    case ID_UI_VITALS_ADJUSTMENT_RQST:
    case ID_UI_PAUSE_SUB_FLOW_RQST:
    case ID_UI_HDF_ADJUSTMENT_RQST:
    case ID_UI_DRY_BICART_DISCONNECT_RQST:
        return true;
    default:
        return false;
    }
}

bool carriesNoFields(quint32 id)
{
    switch (id) {
    case ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST:
    case ID_UI_BLOOD_PRESSURE_RQST:
    case ID_TD_END_TREATMENT_RQST:
    case ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST:
    case ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST:
    case ID_UI_ADJUST_START_TREATMENT_RQST:
    case ID_UI_PRESSURE_LIMIT_WIDEN_RQST:
    case ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST:
        return true;
    default:
        return false;
    }
}

constexpr int kPayloadElement = 2;
constexpr int kSequenceElement = 1;

} // namespace

void ReceivedRequests::receive(const QVariantList &message)
{
    if (message.isEmpty())
        return;
    const quint32 id = message.first().toUInt();
    if (carriesFields(id)) {
        if (message.size() <= kPayloadElement) {
            qDebug().noquote() << "Msg with incomplete payload" << message;
            return;
        }
        _parked.insert(quint16(id), message.at(kPayloadElement));
    } else if (carriesNoFields(id)) {
        _parked.insert(quint16(id), QVariant(0));
    } else if (id == ID_UI_CHECK_IN) {
        if (message.size() <= kSequenceElement) {
            qDebug().noquote() << "Msg with incomplete payload (sequence)" << message;
            return;
        }
        _parked.insert(quint16(id), message.at(kSequenceElement));
    }
}

bool ReceivedRequests::isParked(Can::Message_ID_Enum id) const
{
    return !peek(id).isNull();
}

QVariant ReceivedRequests::peek(Can::Message_ID_Enum id) const
{
    return _parked.value(quint16(id));
}

std::optional<QVariant> ReceivedRequests::take(Can::Message_ID_Enum id)
{
    const auto it = _parked.find(quint16(id));
    if (it == _parked.end() || it->isNull())
        return std::nullopt;
    QVariant value = *it;
    _parked.erase(it);
    return value;
}

void ReceivedRequests::clear(Can::Message_ID_Enum id)
{
    _parked.remove(quint16(id));
}
