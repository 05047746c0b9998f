#include "canbus/MessageBuilder.h"

#include <QDebug>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "storage/Logger.h"
#include "utility/crc.h"
#include "utility/format.h"
#include "utility/types.h"

namespace Can {

namespace {

// CRC failures over the whole process lifetime, whichever builder saw them.
std::atomic<quint64> crcErrorCount{0};

constexpr int kHeaderSize = eLenSyncByte + eLenHeaderInfo; // sync, sequence, id, length

} // namespace

MessageBuilder::MessageBuilder(QObject *parent)
    : QObject(parent)
{
}

bool MessageBuilder::buildFrames(quint16 actionId, const QByteArray &data, FrameList &frames, Sequence sequence)
{
    const int length = qMin(data.size(), int(eLenMaxData));
    const int total = kHeaderSize + length + 1; // + CRC
    const int frameCount = (total + eLenCanFrame - 1) / eLenCanFrame;

    // The whole message, already padded with zeros to a whole number of frames.
    QByteArray message(frameCount * eLenCanFrame, '\0');
    char *out = message.data();
    const auto sequenceBits = static_cast<quint16>(sequence);
    out[0] = static_cast<char>(ePayload_Sync);
    out[1] = static_cast<char>(sequenceBits & 0xFF); // sequence: low byte first
    out[2] = static_cast<char>(sequenceBits >> 8);
    out[3] = static_cast<char>(actionId >> 8); // identifier: high byte first
    out[4] = static_cast<char>(actionId & 0xFF);
    out[5] = static_cast<char>(length);
    if (length)
        std::memcpy(out + kHeaderSize, data.constData(), static_cast<size_t>(length));
    // The sync byte is not covered by the CRC.
    out[kHeaderSize + length] = static_cast<char>(crc8(out + eLenSyncByte, eLenHeaderInfo + length));

    frames.reserve(frames.size() + frameCount);
    for (int i = 0; i < frameCount; ++i)
        frames.append(QByteArray(out + i * eLenCanFrame, eLenCanFrame));
    return true;
}

bool MessageBuilder::buildMessage(const QByteArray &frame, Can::Message &message, Can_Id channel)
{
    // A classic CAN frame carries 8 bytes; anything beyond that from a
    // misbehaving device is not part of the protocol and is ignored.
    const int size = qMin(frame.size(), int(eLenCanFrame));
    const char *bytes = frame.constData();

    if (message.data.isEmpty()) {
        if (size < eLenSyncByte || static_cast<quint8>(bytes[0]) != ePayload_Sync) {
            LOG_DEBUG(QStringLiteral("Expected Header, got frame without Sync byte"));
            // Shown even with tracing off, a lost sync is worth seeing; but
            // not a flood of garbage frame by frame.
            if (_rejectedShown.allow())
                printFrame(bytes, size, channel, FrameKind::Payload, _rejectedShown.held());
            return false;
        }
        if (_enableConsoleOut)
            printFrame(bytes, size, channel, FrameKind::Header);
        if (size < kHeaderSize) {
            LOG_DEBUG(QStringLiteral("Incorrect Message Header"));
            return false;
        }

        message.can_id = channel;
        message.head = QByteArray(bytes + eLenSyncByte, eLenHeaderInfo);
        int index = eLenSyncByte;
        Types::S16 sequence;
        sequence.value = 0;
        Types::getValue(frame, index, sequence);
        message.sequence = sequence.value;
        message.actionId = (static_cast<quint8>(bytes[3]) << 8) | static_cast<quint8>(bytes[4]);
        message.length = static_cast<quint8>(bytes[5]) + 1; // + CRC

        // Short messages end inside this frame; take only what belongs to them
        // so that the padding is never taken as data.
        const int take = qMin(message.length, size - kHeaderSize);
        message.data.clear();
        message.data.reserve(message.length);
        message.data.append(bytes + kHeaderSize, take);
        message.initialized = true;
    } else {
        if (_enableConsoleOut)
            printFrame(bytes, size, channel, FrameKind::Payload);
        // A continuation frame is payload whatever its first byte; the rest
        // past the message's end is padding.
        const int missing = message.length - message.data.size();
        if (missing > 0)
            message.data.append(bytes, qMin(missing, size));
    }

    if (!message.isComplete())
        return true;
    return checkCrc(message);
}

void MessageBuilder::enableConsoleOut(bool enable)
{
    if (_enableConsoleOut == enable)
        return;
    _enableConsoleOut = enable;
    LOG_DEBUG(enable ? QStringLiteral("Console out MessageBuilder enabled")
                     : QStringLiteral("Console out MessageBuilder disabled"));
}

bool MessageBuilder::checkCrc(const Can::Message &message) const
{
    if (_enableConsoleOut)
        qDebug(" ");

    const QByteArray &data = message.data;
    const int payloadSize = data.size() - 1;
    const auto received = static_cast<quint8>(data.at(payloadSize));
    const quint8 computed = crc8(data.constData(), payloadSize, crc8(message.head.constData(), message.head.size()));
    if (computed == received)
        return true;

    const quint64 count = ++crcErrorCount;
    LOG_DEBUG(QStringLiteral("%1 - CRC error, expected %2 but got %3 : %4")
                  .arg(QString::number(count), Format::toHexString(computed, true, eLenCRCDigits),
                       Format::toHexString(received, true, eLenCRCDigits), Format::toHexString(data)));
    return false;
}

void MessageBuilder::printFrame(const char *bytes, int size, Can_Id channel, FrameKind kind, quint64 heldBack)
{
    static constexpr char kHexLower[] = "0123456789abcdef";
    static constexpr char kGreen[] = "\033[32m";
    static constexpr char kYellow[] = "\033[33m";
    static constexpr char kCyan[] = "\033[36m";
    static constexpr char kReset[] = "\033[0m";

    QByteArray line = Format::toHexString(channel, false, eLenChannelDigits).toLatin1();
    line.reserve(line.size() + 3 + size * 16 + 1);
    line.append("   ");
    for (int i = 0; i < size; ++i) {
        if (i)
            line.append('.');
        const bool cyan = kind == FrameKind::Payload || i > eLenSequence;
        line.append(cyan ? kCyan : i == 0 ? kGreen : kYellow);
        const auto byte = static_cast<quint8>(bytes[i]);
        line.append(kHexLower[byte >> 4]);
        line.append(kHexLower[byte & 0x0F]);
        if (cyan)
            line.append(kReset);
    }
    if (heldBack > 0)
        line.append(QStringLiteral(" (%1 more not shown)").arg(heldBack).toLatin1());
    line.append('\n');
    // One write per line so that lines from several threads do not interleave.
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

} // namespace Can
