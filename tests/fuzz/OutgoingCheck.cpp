#include "fuzz/OutgoingCheck.h"

#include "fuzz/FuzzInput.h"

#include <QMetaEnum>
#include <QtNumeric>

#include "canbus/MessageBuilder.h"
#include "peer/PayloadCodec.h"
#include "utility/crc.h"
#include "utility/format.h"

bool OutgoingCheck::load(QString &error)
{
    return _definitions.load(QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Peer.conf"), error);
}

const OutgoingCheck &OutgoingCheck::shipped()
{
    static const OutgoingCheck check = [] {
        OutgoingCheck loaded;
        QString error;
        if (!loaded.load(error))
            fuzzFail(error);
        return loaded;
    }();
    return check;
}

QString OutgoingCheck::messageProblem(const QVariantList &actions) const
{
    if (actions.size() < 2)
        return QStringLiteral("%1 elements, no identifier and channel").arg(actions.size());
    QByteArray payload;
    for (int i = 2; i < actions.size(); ++i)
        payload.append(Format::fromVariant(actions.at(i)));
    return payloadProblem(actions.at(0).toInt(), actions.at(1).toInt(), payload);
}

QString OutgoingCheck::payloadProblem(int id, int channel, const QByteArray &payload) const
{
    if (!QMetaEnum::fromType<Can::Message_ID_Enum>().valueToKey(id))
        return QStringLiteral("identifier %1 is not of the vocabulary").arg(id, 0, 16);
    if (!QMetaEnum::fromType<Can::Can_Id>().valueToKey(channel))
        return QStringLiteral("channel %1 is not of the vocabulary").arg(channel, 0, 16);
    const MessageDefinition *definition = _definitions.find(quint16(id));
    if (!definition)
        return QStringLiteral("identifier %1 has no definition").arg(id, 0, 16);

    // Named only for a problem: most messages have none, and the check runs on
    // every message of every tick.
    const auto what = [&] { return QStringLiteral("%1 (%2): ").arg(definition->name).arg(id, 0, 16); };
    if (payload.size() != definition->payloadSize())
        return what() + QStringLiteral("%1 payload bytes, the definition has %2")
                            .arg(payload.size())
                            .arg(definition->payloadSize());
    const DecodedPayload decoded = PayloadCodec::decode(*definition, payload);
    if (decoded.isShort || !decoded.extra.isEmpty() || decoded.values.size() != definition->fields.size())
        return what() + QStringLiteral("does not decode field by field");
    for (int i = 0; i < decoded.values.size(); ++i) {
        const QVariant &value = decoded.values.at(i);
        if (definition->fields.at(i).type.kind() == FieldType::F32 && !qIsFinite(value.toDouble()))
            return what() + definition->fields.at(i).name + QStringLiteral(" is ") + value.toString();
    }
    return {};
}

QString OutgoingCheck::framesProblem(Can::Can_Id channel, const FrameList &frames, Can::Message *message)
{
    if (frames.isEmpty())
        return QStringLiteral("no frames");
    Can::MessageBuilder builder;
    Can::Message assembled;
    for (int i = 0; i < frames.size(); ++i) {
        if (frames.at(i).size() != Can::eLenCanFrame)
            return QStringLiteral("frame %1 has %2 bytes").arg(i).arg(frames.at(i).size());
        if (assembled.isComplete())
            return QStringLiteral("frames after the message's end");
        if (!builder.buildMessage(frames.at(i), assembled, channel))
            return QStringLiteral("frame %1 breaks the message (sync or CRC)").arg(i);
    }
    if (!assembled.isComplete())
        return QStringLiteral("message incomplete after %1 frames").arg(frames.size());
    if (!crcIsGood(assembled.sequence, quint16(assembled.actionId), assembled.data))
        return QStringLiteral("bad CRC");
    if (message)
        *message = assembled;
    return {};
}

bool OutgoingCheck::crcIsGood(Sequence sequence, quint16 id, const QByteArray &dataWithCrc)
{
    const int length = dataWithCrc.size() - 1;
    if (length < 0 || length > Can::eLenMaxData)
        return false;
    const auto bits = static_cast<quint16>(sequence);
    const char head[] = {char(bits & 0xFF), char(bits >> 8), char(id >> 8), char(id & 0xFF), char(quint8(length))};
    const quint8 crc = crc8(dataWithCrc.constData(), length, crc8(head, int(sizeof head)));
    return crc == quint8(dataWithCrc.at(length));
}
