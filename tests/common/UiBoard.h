#pragma once

#include <QStringList>

#include "peer/MessageDefinitions.h"
#include "peer/PayloadCodec.h"
#include "peer/PeerSession.h"

// The UI board's side of the bus for the end-to-end tests: the peer tool's
// session sends and collects, its message definitions build payloads and
// read fields by name. Header-only: only the tests linked to the tool's
// library include it.
class UiBoard
{
public:
    static constexpr int kWait = 10000; // ms; generous, the machine may be busy

    // Reads the shipped definitions and joins the virtual bus.
    bool open(QString &error)
    {
        return _definitions.load(QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Peer.conf"), error) &&
               _session.open(QStringLiteral("virtualcan"), QStringLiteral("can0"), error);
    }

    PeerSession &session() { return _session; }
    const PeerSession &session() const { return _session; }
    const MessageDefinitions &definitions() const { return _definitions; }
    int mark() const { return _session.mark(); }

    // The service joins the bus a moment after it starts: checks in until it
    // answers, then forgets the check-ins sent before it was there.
    bool waitForService()
    {
        _session.startCheckIns(200);
        const bool answered =
            _session.waitFor([this] { return _session.checkInsSent() > _session.checkInsUnanswered(0); }, kWait);
        _session.stopCheckIns();
        _session.forgetCheckIns();
        return answered;
    }

    // Sends the message named, its fields given as "field=value" texts; its
    // sequence number, or 0 when it could not be built or written (error()
    // says why).
    Sequence send(const QString &message, const QStringList &values, bool requestAck = false)
    {
        _error.clear();
        QByteArray payload;
        const MessageDefinition *definition = _definitions.lookup(message);
        if (!definition) {
            _error = QStringLiteral("no message %1").arg(message);
            return 0;
        }
        if (!PayloadCodec::encode(*definition, values, payload, _error))
            return 0;
        const Sequence sequence = _session.send(definition->id, payload, requestAck);
        if (sequence == 0)
            _error = QStringLiteral("%1 could not be written").arg(message);
        return sequence;
    }
    QString error() const { return _error; }

    bool sendAcknowledged(quint16 id, const QByteArray &payload)
    {
        const Sequence sequence = _session.send(id, payload, true);
        return sequence != 0 && _session.waitForAcknowledgement(sequence, kWait);
    }

    DecodedPayload decode(const ReceivedMessage &m) const
    {
        const MessageDefinition *definition = _definitions.find(m.id);
        return definition ? PayloadCodec::decode(*definition, m.payload) : DecodedPayload();
    }

    // Index of the first message with this identifier from from on whose
    // field has the value; -1 when none comes in time.
    int waitFor(int from, quint16 id, const QString &field, int value, int timeoutMs = kWait)
    {
        return _session.waitForMessage(
            from,
            [&](const ReceivedMessage &m) {
                if (m.id != id)
                    return false;
                const DecodedPayload decoded = decode(m);
                return decoded.has(field) && decoded.value(field).toInt() == value;
            },
            timeoutMs);
    }

    // Index of the first message with this identifier on the channel from
    // from on; -1 when none comes in time.
    int waitFor(int from, quint32 channel, quint16 id, int timeoutMs = kWait)
    {
        return _session.waitForMessage(
            from, [&](const ReceivedMessage &m) { return m.channel == channel && m.id == id; }, timeoutMs);
    }

    // The value of the field in the last message with the identifier; -1
    // when there is none from from on.
    int last(int from, quint16 id, const QString &field) const
    {
        for (int i = _session.history().size() - 1; i >= from; --i)
            if (_session.history().at(i).id == id)
                return decode(_session.history().at(i)).value(field).toInt();
        return -1;
    }

private:
    PeerSession _session;
    MessageDefinitions _definitions;
    QString _error;
};
