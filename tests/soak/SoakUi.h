#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <QSet>
#include <QString>

#include <functional>

#include "peer/MessageDefinitions.h"
#include "MessageGlobals.h"

// The UI board of the soak, seeded: mostly it behaves like the real UI
// (checks in every second, walks through treatments, answers confirmations),
// sometimes it does not (requests in the wrong state, repeated requests,
// garbage frames, minutes of silence, demo-menu jumps). It tells what it
// sends through a sink and learns from the messages it receives; it checks
// that no request is answered twice and every acknowledgement it asks for
// comes once and in time.
class SoakUi
{
public:
    // A message the UI sends (id != 0), or a raw frame (id == 0).
    struct Outgoing {
        quint32 channel = 0;
        quint16 id = 0;
        Sequence sequence = 0;
        QByteArray bytes; // payload, or the raw frame's bytes
    };
    using Sink = std::function<void(const Outgoing &)>;
    using Fail = std::function<void(const QString &)>;

    SoakUi(quint64 seed, const MessageDefinitions &definitions, Sink sink, Fail fail);

    // One 100 ms tick of the UI; state is the chart's active state.
    void tick(qint64 tick, const QString &state);
    // A message from the service, on the UI's channel or a broadcast one.
    void receive(qint64 tick, quint16 id, Sequence sequence, const QByteArray &payload);

    quint64 requestsSent() const { return _requests; }
    quint64 responsesReceived() const { return _responses; }
    quint64 misbehaviours() const { return _misbehaviours; }
    int pendingAcknowledgements() const { return _pendingAcks.size(); }

private:
    struct PendingAck {
        qint64 tick;
        bool certain; // false while garbage may still be taking our frames
    };

    void behave(const QString &state);
    void misbehave();
    void send(const char *name, const QString &values);
    void sendBytes(quint16 id, const QByteArray &payload);
    void demoMenu(int command);
    Sequence nextSequence();
    int chance(int percentTimesTen); // true with that per-mille chance
    QString prescription();

    QRandomGenerator _random;
    const MessageDefinitions &_definitions;
    Sink _sink;
    Fail _fail;

    qint64 _tick = 0;
    qint64 _silentUntil = -1;
    int _uncertainFrames = 0; // frames after garbage that it may swallow
    Sequence _sequence = 0;
    QString _lastState;
    int _step = 0; // progress within the current state
    Outgoing _lastRequest;
    QHash<Sequence, PendingAck> _pendingAcks;
    QSet<quint16> _responseIds;            // identifiers that answer a request
    QHash<quint16, int> _awaited;          // responses still due, per response id
    QHash<int, qint64> _openConfirmations; // confirmation id -> answer tick
    int _rinsebackState = 0;
    int _recircState = 0;
    QList<quint32> _durationAnswer; // duration, heparin duration; UF rate below
    float _durationRate = 0.0f;
    quint64 _requests = 0;
    quint64 _responses = 0;
    quint64 _misbehaviours = 0;
};
