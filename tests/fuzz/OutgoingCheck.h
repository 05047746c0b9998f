#pragma once

#include <QString>
#include <QVariantList>

#include "peer/MessageDefinitions.h"
#include "MessageGlobals.h"

// What every message this system puts on the bus must look like, checked
// the way a UI board reads it: one home for the fuzz targets and the soak.
// Each check returns what is wrong, or an empty text.
class OutgoingCheck
{
public:
    // Reads the shipped definitions the peer tool decodes with.
    bool load(QString &error);
    // Loaded once for a fuzz target; a target that cannot load it stops.
    static const OutgoingCheck &shipped();

    // An outgoing action list [identifier, channel, values...]: identifier
    // and channel of the vocabulary, the payload as long as the definition's
    // type list, every field decoding, and no NaN or infinity in an F32.
    QString messageProblem(const QVariantList &actions) const;
    // The same for a message as it arrives: identifier, channel and payload.
    QString payloadProblem(int id, int channel, const QByteArray &payload) const;

    // The frames of one message as they leave: 8 bytes each, reassembling
    // into exactly one message with a good CRC. message receives it.
    static QString framesProblem(Can::Can_Id channel, const FrameList &frames, Can::Message *message = nullptr);

    // The payload of a complete message, without its CRC byte.
    static QByteArray payloadOf(const Can::Message &message) { return message.data.left(message.data.size() - 1); }
    // Whether a complete message's last byte is the CRC of its header and
    // payload, and its length byte matches its data.
    static bool crcIsGood(Sequence sequence, quint16 id, const QByteArray &dataWithCrc);

    const MessageDefinitions &definitions() const { return _definitions; }

private:
    MessageDefinitions _definitions;
};
