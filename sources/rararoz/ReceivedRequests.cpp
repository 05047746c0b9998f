#include "rararoz/ReceivedRequests.h"

#include <QDebug>

#include "rararoz/SimulatorTrace.h"

namespace {

using namespace Can;

const ReceivedRequests::Request kRequests[] = {
    // Requests that carry fields, with the payload bytes their handlers read.
    {ID_UI_ALARM_USER_ACTION_REQUEST, ReceivedRequests::WithFields, 4},
    {ID_UI_TREATMENT_PARAMS_TO_VALIDATE, ReceivedRequests::WithFields, 100},
    {ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST, ReceivedRequests::WithFields, 4},
    {ID_INITIATE_TREATMENT, ReceivedRequests::WithFields, 4},
    {ID_UI_UF_PAUSE_RESUME_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_FLUID_BOLUS_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST, ReceivedRequests::WithFields, 8},
    {ID_UI_PRESSURE_LIMITS_CHANGE_RQST, ReceivedRequests::WithFields, 16},
    {ID_UI_BOLUS_VOLUME_CHANGE_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_DURATION_VALIDATE_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_DURATION_CONFIRM_RQST, ReceivedRequests::WithFields, 12},
    {ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST, ReceivedRequests::WithFields, 40},
    {ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_RINSEBACK_CMD_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_BLOOD_PRIME_CMD_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_WATER_SAMPLE_RESULT_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_RECIRCULATE_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_CONFIRMATION_RESULT_RESP, ReceivedRequests::WithFields, 8},
    {ID_UI_VITALS_ADJUSTMENT_RQST, ReceivedRequests::WithFields, 20},
    {ID_UI_PAUSE_SUB_FLOW_RQST, ReceivedRequests::WithFields, 4},
    {ID_UI_HDF_ADJUSTMENT_RQST, ReceivedRequests::WithFields, 8},
    {ID_UI_DRY_BICART_DISCONNECT_RQST, ReceivedRequests::WithFields, 4},
    // Requests that carry none.
    {ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST, ReceivedRequests::WithoutFields, 0},
    {ID_UI_BLOOD_PRESSURE_RQST, ReceivedRequests::WithoutFields, 0},
    {ID_TD_END_TREATMENT_RQST, ReceivedRequests::WithoutFields, 0},
    {ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST, ReceivedRequests::WithoutFields, 0},
    {ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST, ReceivedRequests::WithoutFields, 0},
    {ID_UI_ADJUST_START_TREATMENT_RQST, ReceivedRequests::WithoutFields, 0},
    {ID_UI_PRESSURE_LIMIT_WIDEN_RQST, ReceivedRequests::WithoutFields, 0},
    {ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST, ReceivedRequests::WithoutFields, 0},
    // The check-in parks its sequence number.
    {ID_UI_CHECK_IN, ReceivedRequests::CheckIn, 0},
};

const ReceivedRequests::Request *find(quint32 id)
{
    for (const ReceivedRequests::Request &request : kRequests)
        if (request.id == id)
            return &request;
    return nullptr;
}

constexpr int kPayloadElement = 2;
constexpr int kSequenceElement = 1;

} // namespace

void ReceivedRequests::receive(const QVariantList &message)
{
    if (message.isEmpty())
        return;
    const Request *request = find(message.first().toUInt());
    if (!request)
        return;
    const auto id = quint16(request->id);
    switch (request->kind) {
    case WithFields:
        if (message.size() <= kPayloadElement) {
            qCDebug(simulatorTrace).noquote() << "Msg with incomplete payload" << message;
            return;
        }
        _parked.insert(id, message.at(kPayloadElement));
        break;
    case WithoutFields:
        _parked.insert(id, QVariant(0));
        break;
    case CheckIn:
        if (message.size() <= kSequenceElement) {
            qCDebug(simulatorTrace).noquote() << "Msg with incomplete payload (sequence)" << message;
            return;
        }
        _parked.insert(id, message.at(kSequenceElement));
        break;
    }
}

QList<ReceivedRequests::Request> ReceivedRequests::requests()
{
    return QList<Request>(std::begin(kRequests), std::end(kRequests));
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
