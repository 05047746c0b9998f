#pragma once

#include <QStringList>

#include "MessageDefinitions.h"
#include "PayloadCodec.h"
#include "PeerSession.h"

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

    // The payload of the message named, from "field=value" texts; empty with
    // the error in error when the name or a value is wrong.
    QByteArray payload(const QString &message, const QStringList &values, QString &error) const
    {
        QByteArray bytes;
        const MessageDefinition *definition = _definitions.lookup(message);
        if (!definition)
            error = QStringLiteral("no message %1").arg(message);
        else
            PayloadCodec::encode(*definition, values, bytes, error);
        return bytes;
    }

    // Sends the message named; its sequence number, or 0 when it could not
    // be built or written.
    Sequence send(const QString &message, const QStringList &values, bool requestAck = false)
    {
        QString error;
        const QByteArray bytes = payload(message, values, error);
        const MessageDefinition *definition = _definitions.lookup(message);
        if (!definition || !error.isEmpty())
            return 0;
        return _session.send(definition->id, bytes, requestAck);
    }

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
};
