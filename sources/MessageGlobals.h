#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>

// The vocabulary of the CAN bus shared by the whole CAN stack, the application
// hub and the simulator: channels, senders, message identifiers, frame-format
// constants and the record a received message is assembled in.

// Signed message sequence number; negative on a received message means the
// sender asks for an acknowledgement.
typedef qint16 Sequence;
// CAN frame payloads of one message, first frame first.
typedef QList<QByteArray> FrameList;
typedef quint64 FrameCount;

namespace Can {
Q_NAMESPACE

// Channel (standard 11-bit CAN identifier). eChlid_<sender>_<receiver> is the
// channel that sender talks to that receiver on; the Alarm/Sync ones are the
// sender's alarm and broadcast channels.
enum Can_Id : quint16 {
    eChlid_TD_Alarm = 0x001,
    eChlid_DD_Alarm = 0x002,
    eChlid_FP_Alarm = 0x003,
    eChlid_UI_Alarm = 0x004,

    eChlid_TD_DD = 0x010,
    eChlid_DD_TD = 0x011,
    eChlid_FP_DD = 0x020,
    eChlid_DD_FP = 0x021,
    eChlid_TD_UI = 0x040,
    eChlid_UI_TD = 0x041,

    eChlid_TD_Sync = 0x100,
    eChlid_DD_Sync = 0x101,
    eChlid_DD_UI = eChlid_DD_Sync,
    eChlid_FP_Sync = 0x102,
    eChlid_FP_UI = eChlid_FP_Sync,
    eChlid_UI_Sync = 0x103,
    eChlid_UI_DD = eChlid_UI_Sync,

    eOrvane_TD = 0x400,
    eTD_Orvane = 0x401,
    eOrvane_DD = 0x402,
    eDD_Orvane = 0x403,
    eOrvane_FP = 0x404,
    eFP_Orvane = 0x405,
    eOrvane_UI = 0x406,
    eUI_Orvane = 0x407,

    // Also the lowest-priority identifier, used for keep-awake frames.
    eChlid_NONE = 0x7FF,
    eChlid_LOWEST = eChlid_NONE,
};
Q_ENUM_NS(Can_Id)

enum Can_Source {
    eCan_Unknown = -1,
    eCan_TD = 0,
    eCan_DD = 1,
    eCan_FP = 2,
    eCan_OV = 3,
    eCan_UI = 4,
};
Q_ENUM_NS(Can_Source)

enum Payload_Data : quint8 {
    ePayload_None = 0x00,
    ePayload_Sync = 0xA5, // opens the first frame of every message
};

enum Frame_Data {
    eLenCanFrame = 8,
    eLenHeaderInfo = 5,    // after the sync byte: sequence, identifier, length
    eLenMaxHeaderData = 3, // largest expected length taken from the first frame by count
    eLenMaxData = 255,
    eLenSyncByte = 1,
    eLenSequence = 2,
    eLenActionId = 2,
    eLenLength = 1,
    eLenCRCDigits = 2,
    eLenChannelDigits = 3,
    eLenMessageIDDigits = 4,
};

enum TD_OP_MODE {
    MODE_FAUL = 0,
    MODE_SERV = 1,
    MODE_INIT = 2,
    MODE_STAN = 3,
    MODE_PRET = 4,
    MODE_TREA = 5,
    MODE_POST = 6,
    MODE_UPDT = 7,
    MODE_NLEG = 8,
};
Q_ENUM_NS(TD_OP_MODE)

enum Message_ID_Enum : quint16 {
    ID_NONE = 0x0000,
    ID_ALARM_STATUS_DATA = 0x0100,
    ID_ALARM_CLEARED = 0x0300,
    ID_UI_ALARM_USER_ACTION_REQUEST = 0x0600,
    ID_UI_CHECK_IN = 0x1000,
    ID_TD_OP_MODE_DATA = 0x1200,
    ID_DD_CONDUCTIVITY_DATA = 0x1F00,
    ID_TD_PRESSURE_DATA = 0x2400,
    ID_DD_GEN_DIALYSATE_MODE_DATA = 0x2F00,
    ID_TD_TREATMENT_TIME_DATA = 0x3B00,
    ID_TD_TREATMENT_STATE_DATA = 0x3C00,
    ID_TD_FLUID_BOLUS_DATA = 0x3D00,
    ID_TD_ULTRAFILTRATION_DATA = 0x3E00,
    ID_UI_TREATMENT_PARAMS_TO_VALIDATE = 0x3F00,
    ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE = 0x4000,
    ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST = 0x4100,
    ID_TD_TREATMENT_UF_VOLUME_VALIDATE_RESP = 0x4200,
    ID_TD_TREATMENT_PARAM_RANGES_DATA = 0x4300,
    ID_INITIATE_TREATMENT = 0x4500,
    ID_TD_RESP_INITIATE_TREATMENT = 0x4600,
    ID_UI_UF_PAUSE_RESUME_RQST = 0x4700,
    ID_TD_UF_PAUSE_RESUME_RESP = 0x4800,
    ID_TD_TREATMENT_SET_POINTS = 0x4F00,
    ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST = 0x5500,
    ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP = 0x5600,
    ID_TD_TREATMENT_PAUSED_TIMER_DATA = 0x5B00,
    ID_UI_FLUID_BOLUS_RQST = 0x5F00,
    ID_TD_FLUID_BOLUS_RESP = 0x6000,
    ID_UI_BLOOD_PRESSURE_RQST = 0x6300,
    ID_TD_BLOOD_PRESSURE_READING_RESP = 0x6400,
    ID_TD_BLOOD_PRESSURE_DATA = 0x6500,
    ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST = 0x6600,
    ID_TD_ULTRAFILTRATION_CHANGE_CONFIRM_RESP = 0x6700,
    ID_UI_PRESSURE_LIMITS_CHANGE_RQST = 0x7200,
    ID_TD_PRESSURE_LIMITS_CHANGE_RESP = 0x7300,
    ID_UI_BOLUS_VOLUME_CHANGE_RQST = 0x7400,
    ID_TD_BOLUS_VOLUME_CHANGE_RESP = 0x7500,
    ID_UI_DURATION_VALIDATE_RQST = 0x7600,
    ID_TD_DURATION_VALIDATE_RESP = 0x7700,
    ID_UI_DURATION_CONFIRM_RQST = 0x7800,
    ID_TD_DURATION_CONFIRM_RESP = 0x7900,
    ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST = 0x7A00,
    ID_TD_TREATMENT_SET_POINTS_CHANGE_RESP = 0x7B00,
    ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST = 0x7C00,
    ID_TD_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RESP = 0x7D00,
    ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST = 0x7E00,
    ID_TD_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RESP = 0x7F00,
    ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST = 0x8000,
    ID_TD_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RESP = 0x8100,
    ID_TD_END_TREATMENT_RQST = 0x8D00,
    ID_TD_END_TREATMENT_RESP = 0x8E00,
    ID_TD_RINSEBACK_DATA = 0x8F00,
    ID_UI_RINSEBACK_CMD_RQST = 0x9000,
    ID_TD_RINSEBACK_CMD_RESP = 0x9100,
    ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST = 0x9200,
    ID_TD_ADJUST_DISPOSSABLES_CONFIRM_RESP = 0x9300,
    ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST = 0x9400,
    ID_TD_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RESP = 0x9500,
    ID_TD_BLOOD_PRIME_PROGRESS_DATA = 0x9700,
    ID_UI_BLOOD_PRIME_CMD_RQST = 0x9800,
    ID_TD_BLOOD_PRIME_CMD_RESP = 0x9900,
    ID_UI_ADJUST_START_TREATMENT_RQST = 0xA100,
    ID_TD_ADJUST_START_TREATMENT_RESP = 0xA200,
    ID_UI_WATER_SAMPLE_RESULT_RQST = 0xA300,
    ID_UI_PRESSURE_LIMIT_WIDEN_RQST = 0xA400,
    ID_TD_PRESSURE_LIMIT_WIDEN_RESP = 0xA500,
    ID_UI_RECIRCULATE_RQST = 0xA600,
    ID_TD_RECIRCULATE_RESP = 0xA700,
    ID_TD_RECIRCULATE_DATA = 0xA800,
    ID_TD_WATER_SAMPLE_RESULT_RESP = 0xAB00,
    ID_TD_UI_GENERIC_CONFIRMATION_RQST = 0xB500,
    ID_UI_CONFIRMATION_RESULT_RESP = 0xB600,
    ID_UI_VITALS_ADJUSTMENT_RQST = 0xB800,
    ID_TD_VITALS_ADJUSTMENT_RESP = 0xB900,
    ID_TD_HEMODIAFILTRATION_DATA = 0xBC00,
    ID_UI_PAUSE_SUB_FLOW_RQST = 0xBD00,
    ID_TD_PAUSE_SUB_FLOW_RESP = 0xBE00,
    ID_UI_HDF_ADJUSTMENT_RQST = 0xC100,
    ID_TD_HDF_ADJUSTMENT_RESP = 0xC200,
    ID_TD_DRY_BICART_DISCONNECT_DATA = 0xC400,
    ID_UI_DRY_BICART_DISCONNECT_RQST = 0xC500,
    ID_TD_DRY_BICART_DISCONNECT_RESP = 0xC600,
    ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST = 0xD600,
    ID_TD_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RESP = 0xD700,
    ID_ACK_MESSAGE_THAT_REQUIRES_ACK = 0xFFFF,
};
Q_ENUM_NS(Message_ID_Enum)

// The dispatcher's name for the acknowledgement message; kept out of the
// enumeration so that its meta-enum lists each identifier once.
constexpr Message_ID_Enum ID_Acknow = ID_ACK_MESSAGE_THAT_REQUIRES_ACK;

// One message being assembled from the frames received on one channel.
struct Message {
    Can_Id can_id = eChlid_NONE;
    Sequence sequence = 0;
    qint32 actionId = 0;
    // Bytes still to be collected in data in total: payload length + 1 (CRC).
    qint32 length = 0;
    // The header bytes after the sync byte, kept for the CRC check.
    QByteArray head;
    // Payload collected so far; once complete its last byte is the CRC.
    QByteArray data;
    bool initialized = false;

    bool isEmpty() const { return !initialized || data.isEmpty(); }
    bool isComplete() const { return !isEmpty() && data.size() == length; }
};

} // namespace Can

Q_DECLARE_METATYPE(Can::Can_Id)
Q_DECLARE_METATYPE(FrameList)
Q_DECLARE_METATYPE(Can::Message)
