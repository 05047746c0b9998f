#include "peer/MessageAssembler.h"

#include "utility/crc.h"

QList<ReceivedMessage> MessageAssembler::take(const RawFrame &frame)
{
    ReceivedMessage result;
    result.timeUs = frame.timeUs;
    result.channel = frame.channel;

    // The protocol only ever sends whole 8-byte frames; a shorter one is
    // reported and leaves the message in assembly alone, as in the service.
    if (frame.data.size() < Can::eLenCanFrame) {
        result.status = ReceivedMessage::ShortFrame;
        result.frames << frame;
        return {result};
    }

    Assembly &assembly = _inProgress[frame.channel];
    // Checked here as well as in the builder only so that the builder's
    // console print of such frames is not triggered: the tool reports them
    // itself.
    if (assembly.message.data.isEmpty() && quint8(frame.data.at(0)) != Can::ePayload_Sync) {
        _inProgress.remove(frame.channel);
        result.status = ReceivedMessage::NoSync;
        result.frames << frame;
        return {result};
    }

    assembly.frames << frame;
    const auto channel = static_cast<Can::Can_Id>(frame.channel);
    const bool ok = _builder.buildMessage(frame.data, assembly.message, channel);
    if (ok && !assembly.message.isComplete())
        return {};

    const Can::Message message = assembly.message;
    result.frames = assembly.frames;
    _inProgress.remove(frame.channel);

    result.sequence = message.sequence;
    result.id = quint16(message.actionId);
    result.payload = message.data.left(message.data.size() - 1);
    result.receivedCrc = quint8(message.data.isEmpty() ? 0 : message.data.back());
    result.expectedCrc = crc8(message.head + result.payload);
    if (ok)
        result.status = ReceivedMessage::Complete;
    else
        result.status = message.isComplete() ? ReceivedMessage::CrcError : ReceivedMessage::NoSync;
    return {result};
}
