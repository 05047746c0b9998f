#include <QtTest>

#include <csignal>
#include <cstring>
#include <functional>

#include "BusClient.h"
#include "RarArozDefines.h"
#include "ReceivedRequests.h"
#include "ServiceProcess.h"

// The real service on the virtual bus answers every request the simulator
// takes, each in a state that serves it; the demo menu moves it from state
// to state.

namespace {

using namespace Can;

constexpr int kWait = 15000; // ms; generous, the machine may be busy

QByteArray u32(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

QByteArray f32(float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return u32(bits);
}

QByteArray prescription()
{
    // Modality, dilution and acid concentrate 0: later set-point and HDF
    // requests resend them unchanged and so raise no alarm.
    QByteArray bytes;
    for (quint32 value : {1u, 0u, 0u, 400u, 350u, 240u, 0u, 0u, 0u, 0u, 0u, 0u, 100u, 1800000u, 300u, 0u, 0u})
        bytes += u32(value);
    for (float value : {0.0f, 0.0f, 0.0f, 37.0f, 0.0f, 0.0f, 0.0f, 2.0f})
        bytes += f32(value);
    return bytes;
}

QByteArray setPoints()
{
    return u32(400) + u32(350) + f32(37.0f) + u32(0) + f32(0.0f) + u32(0) + u32(0) + u32(0) + u32(0) + u32(0);
}

// One request, the state that serves it, and the message that shows it
// was served.
struct Case {
    Message_ID_Enum request;
    QByteArray payload;
    quint16 answer;
    Can_Id answerChannel = eChlid_TD_UI;
};

struct Stage {
    User_Command_ID command;
    TD_OP_MODE mode;
    QList<Case> cases;
};

QList<Stage> stages()
{
    const QByteArray none;
    return {
        {CMD_STAND_BY,
         MODE_STAN,
         {{ID_UI_CHECK_IN, none, ID_Acknow},
          // A cancel: the simulator stays in Standby.
          {ID_INITIATE_TREATMENT, u32(0), ID_TD_RESP_INITIATE_TREATMENT}}},
        {CMD_PRE_TX,
         MODE_PRET,
         {{ID_UI_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RQST, none, ID_TD_SETUP_TUBING_SET_CONNECTIONS_CONFIRM_RESP},
          {ID_UI_WATER_SAMPLE_RESULT_RQST, f32(0.5f), ID_TD_WATER_SAMPLE_RESULT_RESP},
          {ID_UI_ADJUST_DISPOSABLES_CONFIRM_RQST, none, ID_TD_ADJUST_DISPOSSABLES_CONFIRM_RESP},
          {ID_UI_TREATMENT_PARAMS_TO_VALIDATE, prescription(), ID_TD_RESP_TREATMENT_PARAMS_TO_VALIDATE},
          // On to Blood_Prime.
          {ID_UI_ADJUST_START_TREATMENT_RQST, none, ID_TD_ADJUST_START_TREATMENT_RESP}}},
        {CMD_BLOOD_PRIME, MODE_TREA, {{ID_UI_BLOOD_PRIME_CMD_RQST, u32(1), ID_TD_BLOOD_PRIME_CMD_RESP}}},
        {CMD_MAIN_TX,
         MODE_TREA,
         {{ID_UI_TREATMENT_UF_VOLUME_VALIDATE_RQST, f32(2.5f), ID_TD_TREATMENT_UF_VOLUME_VALIDATE_RESP},
          {ID_UI_ULTRAFILTRATION_CHANGE_CONFIRM_RQST, f32(2.5f) + f32(0.5f), ID_TD_ULTRAFILTRATION_CHANGE_CONFIRM_RESP},
          {ID_UI_UF_PAUSE_RESUME_RQST, u32(1), ID_TD_UF_PAUSE_RESUME_RESP},
          {ID_UI_FLUID_BOLUS_RQST, u32(0), ID_TD_FLUID_BOLUS_RESP},
          {ID_UI_BOLUS_VOLUME_CHANGE_RQST, u32(100), ID_TD_BOLUS_VOLUME_CHANGE_RESP},
          {ID_UI_PRESSURE_LIMITS_CHANGE_RQST, u32(50) + u32(50) + u32(35) + u32(20), ID_TD_PRESSURE_LIMITS_CHANGE_RESP},
          {ID_UI_PRESSURE_LIMIT_WIDEN_RQST, none, ID_TD_PRESSURE_LIMIT_WIDEN_RESP},
          {ID_UI_DURATION_VALIDATE_RQST, u32(300), ID_TD_DURATION_VALIDATE_RESP},
          {ID_UI_DURATION_CONFIRM_RQST, u32(300) + u32(0) + f32(0.5f), ID_TD_DURATION_CONFIRM_RESP},
          {ID_UI_TREATMENT_SET_POINTS_CHANGE_RQST, setPoints(), ID_TD_TREATMENT_SET_POINTS_CHANGE_RESP},
          {ID_UI_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RQST, u32(400), ID_TD_TREATMENT_SET_POINT_BLOOD_FLOW_CHANGE_RESP},
          {ID_UI_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RQST, u32(350),
           ID_TD_TREATMENT_SET_POINT_DIALYSATE_FLOW_CHANGE_RESP},
          {ID_UI_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RQST, f32(37.0f),
           ID_TD_TREATMENT_SET_POINT_DIALYSATE_TEMP_CHANGE_RESP},
          {ID_UI_VITALS_ADJUSTMENT_RQST, QByteArray(16, '\0') + u32(30), ID_TD_VITALS_ADJUSTMENT_RESP},
          {ID_UI_BLOOD_PRESSURE_RQST, none, ID_TD_BLOOD_PRESSURE_READING_RESP},
          {ID_UI_PAUSE_SUB_FLOW_RQST, u32(1), ID_TD_PAUSE_SUB_FLOW_RESP},
          {ID_UI_HDF_ADJUSTMENT_RQST, u32(0) + f32(1.0f), ID_TD_HDF_ADJUSTMENT_RESP}}},
        {CMD_RINSEBACK, MODE_TREA, {{ID_UI_RINSEBACK_CMD_RQST, u32(0), ID_TD_RINSEBACK_CMD_RESP}}},
        {CMD_RICIRCULATE, MODE_TREA, {{ID_UI_RECIRCULATE_RQST, u32(4), ID_TD_RECIRCULATE_RESP}}},
        {CMD_END_TX,
         MODE_TREA,
         {// The end-of-treatment alarm's rinseback action opens a confirmation.
          {ID_UI_ALARM_USER_ACTION_REQUEST, u32(1), ID_TD_UI_GENERIC_CONFIRMATION_RQST},
          // On to Treatment_Rinseback.
          {ID_TD_END_TREATMENT_RQST, none, ID_TD_END_TREATMENT_RESP}}},
        {CMD_POST_TX,
         MODE_POST,
         {{ID_UI_PATIENT_DISCONNECT_CONFIRM_RQST, none, ID_TD_PATIENT_DISCONNECT_CONFIRM_RESP},
          {ID_UI_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RQST, none, ID_TD_ADJUST_DISPOSABLES_REMOVAL_CONFIRM_RESP},
          {ID_UI_DRY_BICART_DISCONNECT_RQST, u32(3), ID_TD_DRY_BICART_DISCONNECT_RESP}}},
    };
}

// The message identifier of a frame that opens a message, or -1.
int openedMessage(const QCanBusFrame &frame)
{
    const QByteArray bytes = frame.payload();
    if (bytes.size() < 6 || quint8(bytes.at(0)) != ePayload_Sync)
        return -1;
    return (quint8(bytes.at(3)) << 8) | quint8(bytes.at(4));
}

bool waitForMessage(BusClient &bus, Can_Id channel, quint16 id, const std::function<bool(const QByteArray &)> &match)
{
    QDeadlineTimer deadline(kWait);
    while (!deadline.hasExpired()) {
        for (const QCanBusFrame &frame : bus.frames(channel))
            if (openedMessage(frame) == id && match(frame.payload()))
                return true;
        QTest::qWait(20);
    }
    return false;
}

} // namespace

class TestEveryRequest : public QObject
{
    Q_OBJECT

private:
    Sequence _sequence = 1;

    // The demo menu's jump: a confirmation result of 99 and the command.
    // It passes through Standby, which announces itself, and the target's
    // operation mode follows; the target then has time for its entry.
    bool jump(BusClient &bus, const Stage &stage)
    {
        bus.clear();
        if (!bus.sendMessage(eChlid_UI_TD, ID_UI_CONFIRMATION_RESULT_RESP, _sequence++, u32(99) + u32(stage.command)))
            return false;
        QDeadlineTimer deadline(kWait);
        while (!deadline.hasExpired()) {
            if (modeAfterStandby(bus, stage.mode)) {
                QTest::qWait(600);
                return true;
            }
            QTest::qWait(20);
        }
        return false;
    }

    static bool modeAfterStandby(const BusClient &bus, TD_OP_MODE mode)
    {
        bool standby = false;
        for (const QCanBusFrame &frame : bus.frames(eChlid_TD_Sync)) {
            if (openedMessage(frame) != ID_TD_OP_MODE_DATA)
                continue;
            const QByteArray announced = frame.payload().mid(6, 2);
            if (standby && announced == u32(quint32(mode)).left(2))
                return true;
            standby = standby || announced == u32(quint32(MODE_STAN)).left(2);
        }
        return false;
    }

    bool serve(BusClient &bus, const Case &c)
    {
        bus.clear();
        // The check-in asks for an acknowledgement with a negative sequence.
        const Sequence sequence = c.request == ID_UI_CHECK_IN ? Sequence(-_sequence++) : _sequence++;
        if (!bus.sendMessage(eChlid_UI_TD, quint16(c.request), sequence, c.payload))
            return false;
        return waitForMessage(bus, c.answerChannel, c.answer, [](const QByteArray &) { return true; });
    }

private slots:
    void everyRequestIsAnswered()
    {
        // Every request the simulator takes has its case.
        QSet<int> covered{int(ID_UI_CONFIRMATION_RESULT_RESP)};
        for (const Stage &stage : stages())
            for (const Case &c : stage.cases)
                covered << int(c.request);
        for (const ReceivedRequests::Request &request : ReceivedRequests::requests())
            QVERIFY2(covered.contains(int(request.id)), qPrintable(QString::number(request.id, 16)));

        ServiceProcess service;
        QVERIFY(service.start());
        BusClient bus;
        QVERIFY(bus.connectBus());
        QVERIFY(waitForMessage(bus, eChlid_TD_Sync, ID_TD_OP_MODE_DATA, [](const QByteArray &) { return true; }));

        for (const Stage &stage : stages()) {
            // The confirmation result carries every jump.
            QVERIFY2(jump(bus, stage), qPrintable(QStringLiteral("jump %1").arg(int(stage.command))));
            for (const Case &c : stage.cases)
                QVERIFY2(serve(bus, c), qPrintable(QStringLiteral("request %1 in stage %2")
                                                       .arg(QString::number(c.request, 16))
                                                       .arg(int(stage.command))));
        }
        QCOMPARE(service.stop(SIGTERM), 0);
    }
};

QTEST_GUILESS_MAIN(TestEveryRequest)
#include "tst_every_request.moc"
