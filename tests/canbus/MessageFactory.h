#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "model/settings/MSettings.h"
#include "canbus/MessageBuilder.h"
#include "MessageGlobals.h"
#include "utility/crc.h"

// Builders of received messages and frames for the CAN stack's tests.
namespace MessageFactory {

// The header bytes after the sync byte: sequence (low first), identifier
// (high first), payload length.
inline QByteArray head(Sequence sequence, quint16 id, int length)
{
    const auto bits = static_cast<quint16>(sequence);
    QByteArray bytes;
    bytes.append(char(bits & 0xFF));
    bytes.append(char(bits >> 8));
    bytes.append(char(id >> 8));
    bytes.append(char(id & 0xFF));
    bytes.append(char(quint8(length)));
    return bytes;
}

inline quint8 crcOf(Sequence sequence, quint16 id, const QByteArray &payload)
{
    return crc8(head(sequence, id, payload.size()) + payload);
}

// What a complete message's data holds: the payload and its CRC byte.
inline QByteArray dataOf(Sequence sequence, quint16 id, const QByteArray &payload)
{
    return payload + char(crcOf(sequence, id, payload));
}

// A complete, correct message as the dispatcher hands it to the interpreter.
inline Can::Message message(Can::Can_Id channel, Sequence sequence, quint16 id, const QByteArray &payload)
{
    Can::Message result;
    result.can_id = channel;
    result.sequence = sequence;
    result.actionId = id;
    result.length = payload.size() + 1;
    result.head = head(sequence, id, payload.size());
    result.data = dataOf(sequence, id, payload);
    result.initialized = true;
    return result;
}

inline FrameList frames(quint16 id, Sequence sequence, const QByteArray &payload = QByteArray())
{
    Can::MessageBuilder builder;
    FrameList result;
    builder.buildFrames(id, payload, result, sequence);
    return result;
}

// Defines one message in "Messages/Unhandled": its name, then its field tags.
inline void define(const QString &group, const QStringList &texts)
{
    for (const QString &text : texts)
        Storage::MSettings::I().add(QStringLiteral("Messages/Unhandled"), group, text, QVariant(), true);
}

} // namespace MessageFactory
