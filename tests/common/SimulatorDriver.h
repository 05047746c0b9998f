#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QVariantList>

#include <memory>

#include "MessageGlobals.h"
#include "RarArozDefines.h"

class StateController;

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
    // Takes the chart from Standby into the demo menu's target of command
    // and runs that state's first step.
    bool enterByDemoMenu(User_Command_ID command, const QString &state);

    // Incoming requests: [ID, sequence, payload].
    void receive(const QVariantList &list);
    void request(Can::Message_ID_Enum id, const QByteArray &payload, int sequence = 0);
    void requestWithoutPayload(Can::Message_ID_Enum id, int sequence = 0);
    void demoMenu(qint32 command);
    void confirmationResult(quint32 first, quint32 second);

    // Payload fields as the UI encodes them.
    static QByteArray u32(quint32 value);
    static QByteArray f32(float value);
    // The payload bytes an outgoing action list is sent with.
    static QByteArray payloadBytes(const QVariantList &message);
    static Messages withId(const Messages &messages, Can::Message_ID_Enum id);
    static int indexOf(const Messages &messages, Can::Message_ID_Enum id);

private:
    std::unique_ptr<StateController> _controller;
    Messages _sent;
    int _tickCount = 0;
};

// The payload bytes of values encoded as an outgoing action list encodes
// them, for comparing with payloadBytes().
QByteArray encodedPayload(const QVariantList &values);
