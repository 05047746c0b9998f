#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QVariantList>

#include <functional>
#include <memory>

#include "MessageGlobals.h"
#include "rararoz/RarArozDefines.h"

class StateController;

// A prescription as the UI sends it for validation: the fields a test may
// set, the others zero.
struct Prescription {
    quint32 modality = TREATMENT_MODALITY_HD_SALINE_FLUID;
    quint32 hdfDilution = 0;
    quint32 bloodFlowMLPM = 400;
    quint32 dialysateFlowMLPM = 350;
    quint32 durationMin = 240;
    quint32 heparinDurationMin = 0;
    quint32 rinsebackVolumeML = 300;
    float substitutionVolumeL = 0.0f;
    float dialysateTemperatureC = 37.0f;
    float ufVolumeL = 2.0f;

    QByteArray bytes() const;
};

// Drives a fresh simulator tick by tick, with no timer and no CAN stack:
// requests go straight into the controller as incoming action lists, and
// what the controller hands to the application controller is recorded per
// tick.
class SimulatorDriver : public QObject
{
    Q_OBJECT
public:
    using Messages = QList<QVariantList>;

    SimulatorDriver();
    ~SimulatorDriver() override;

    StateController &controller() { return *_controller; }
    const StateController &controller() const { return *_controller; }

    // Runs one tick and returns the action lists sent during it.
    Messages tick();
    // Runs count ticks and returns everything sent during them.
    Messages ticks(int count);
    // Ticks run so far.
    int tickCount() const { return _tickCount; }
    QString state() const;
    // Ticks until the chart is in state, at most limit ticks.
    bool tickUntilState(const QString &state, int limit = 20);
    // Ticks until condition holds after a tick, at most limit ticks; the
    // messages sent meanwhile are appended to sent when given.
    bool tickUntil(const std::function<bool()> &condition, int limit, Messages *sent = nullptr);
    // Takes the chart from Standby into the demo menu's target of command
    // and runs that state's first step.
    bool enterByDemoMenu(User_Command_ID command, const QString &state);
    // From Standby as the UI starts a treatment: initiation, the
    // prescription, the start, and the blood prime until Treatment has run
    // its first step. What Treatment's entry queued is appended to sent
    // when given.
    bool startTreatment(const Prescription &prescription, Messages *sent = nullptr);

    // Incoming requests: [ID, sequence, payload].
    void receive(const QVariantList &list);
    void request(Can::Message_ID_Enum id, const QByteArray &payload, int sequence = 0);
    void requestWithoutPayload(Can::Message_ID_Enum id, int sequence = 0);
    void demoMenu(qint32 command);
    void confirmationResult(quint32 first, quint32 second);

    // Payload fields as the UI encodes them.
    // Data rows "command"/"state" for every state a demo-menu command reaches
    // besides Standby.
    static void addDemoMenuStateRows();

    static QByteArray u32(quint32 value);
    static QByteArray f32(float value);
    // The payload bytes an outgoing action list is sent with.
    static QByteArray payloadBytes(const QVariantList &message);
    static Messages withId(const Messages &messages, Can::Message_ID_Enum id);
    static int indexOf(const Messages &messages, Can::Message_ID_Enum id);
    // Whether no float value of any message is NaN or infinite.
    static bool floatsAreFinite(const Messages &messages);
    // Payload value index (0 for the first) of an outgoing action list.
    static QVariant field(const QVariantList &message, int index);
    // The one response of id among messages as "accepted/reason", or how
    // many there were when not exactly one.
    static QString answerOf(const Messages &messages, Can::Message_ID_Enum id);

private:
    std::unique_ptr<StateController> _controller;
    Messages _sent;
    int _tickCount = 0;
};

// The payload bytes of values encoded as an outgoing action list encodes
// them, for comparing with payloadBytes().
QByteArray encodedPayload(const QVariantList &values);
