#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>

#include "peer/MessageAssembler.h"
#include "peer/PeerBus.h"
#include "peer/ReceivedMessage.h"

// The UI board's side of a conversation with the service: sends messages on
// the UI's channel with the UI's own sequence numbers, assembles everything
// that arrives, remembers it in order, and tracks acknowledgements.
class PeerSession : public QObject
{
    Q_OBJECT

public:
    using Match = std::function<bool(const ReceivedMessage &)>;

    explicit PeerSession(QObject *parent = nullptr);

    bool open(const QString &plugin, const QString &interface, QString &error);
    PeerBus &bus() { return _bus; }

    // Sends one message on the UI-to-TD channel and returns its sequence
    // number, negative when an acknowledgement is requested. 0 when the
    // frames could not be written.
    Sequence send(quint16 id, const QByteArray &payload, bool requestAck);
    // The same with a sequence number of the caller's own, outside the
    // session's count (a test that checks the bytes an answer carries).
    bool sendWithSequence(quint16 id, const QByteArray &payload, Sequence sequence);

    // Received messages are kept for the waits below unless switched off
    // (the monitor keeps nothing, so it can run for days).
    void setKeepHistory(bool keep) { _keepHistory = keep; }
    const QList<ReceivedMessage> &history() const { return _history; }
    int mark() const { return _history.size(); }

    // Index of the first complete message from index from on that matches;
    // -1 when none.
    int find(int from, const Match &match) const;
    // Runs the event loop until condition holds or the time is up; false
    // when it did not hold, or when stop() was called.
    bool waitFor(const std::function<bool()> &condition, int timeoutMs);
    int waitForMessage(int from, const Match &match, int timeoutMs);

    // An acknowledgement for a message sent with sequence -n carries n.
    bool isAcknowledged(Sequence sent) const;
    bool waitForAcknowledgement(Sequence sent, int timeoutMs);

    // Checks in now and then every interval with acknowledgement-requesting
    // sequences, as the UI board does, until stopped.
    void startCheckIns(int intervalMs);
    void checkIn();
    void stopCheckIns();
    int checkInsSent() const { return _checkIns.size(); }
    // Check-ins older than graceMs that are still not acknowledged.
    int checkInsUnanswered(int graceMs) const;
    // Counts check-ins afresh from now on (those sent before the service
    // joined the bus are never answered).
    void forgetCheckIns() { _checkIns.clear(); }

    // Ends every wait at once (Ctrl-C).
    void stop() { _stopped = true; }
    bool isStopped() const { return _stopped; }

    static bool isAcknowledgement(const ReceivedMessage &message);

signals:
    void frameReceived(const RawFrame &frame);
    void messageReceived(const ReceivedMessage &message);
    void checkInSent(Sequence sequence);

private:
    void onFrame(const RawFrame &frame);
    Sequence nextSequence();

    struct CheckIn {
        Sequence sequence;
        qint64 sentUs;
    };

    PeerBus _bus;
    MessageAssembler _assembler;
    QList<ReceivedMessage> _history;
    QSet<Sequence> _acknowledged;
    QList<CheckIn> _checkIns;
    QTimer _checkInTimer;
    Sequence _sequence = 0;
    bool _keepHistory = true;
    bool _stopped = false;
};
