#include "peer/MessageFormatter.h"

#include <QDateTime>

#include "peer/ChannelNames.h"
#include "peer/PayloadCodec.h"
#include "utility/format.h"

QString MessageFormatter::timeOfDay(qint64 timeUs)
{
    if (timeUs < 0)
        return QStringLiteral("--:--:--.---");
    return QDateTime::fromMSecsSinceEpoch(timeUs / 1000).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString MessageFormatter::idText(quint16 id)
{
    return Format::toHexString(id, false, Can::eLenMessageIDDigits);
}

QString MessageFormatter::line(const ReceivedMessage &message) const
{
    const QString head = QStringLiteral("%1  %2  %3")
                             .arg(timeOfDay(message.timeUs), Format::toHexString(quint16(message.channel), false, 3),
                                  ChannelNames::route(message.channel).leftJustified(7));
    const auto frameBytes = [&message] {
        QStringList frames;
        for (const RawFrame &frame : message.frames)
            frames << Format::toHexString(frame.data, ' ');
        return frames.join(QStringLiteral(" | "));
    };

    switch (message.status) {
    case ReceivedMessage::NoSync:
        return head + QStringLiteral("  BROKEN frame without sync byte: ") + frameBytes();
    case ReceivedMessage::ShortFrame:
        return head + QStringLiteral("  BROKEN short frame (%1 bytes): ").arg(message.frames.value(0).data.size()) +
               frameBytes();
    case ReceivedMessage::Complete:
    case ReceivedMessage::CrcError:
        break;
    }

    const MessageDefinition *definition = _definitions.find(message.id);
    QString text = head + QStringLiteral("  seq %1  %2 %3")
                              .arg(message.sequence, 6)
                              .arg(idText(message.id), definition ? definition->name : QStringLiteral("(unknown)"));
    if (message.status == ReceivedMessage::CrcError)
        return text +
               QStringLiteral("  CRC ERROR expected %1 got %2, payload %3")
                   .arg(Format::toHexString(message.expectedCrc, true, 2),
                        Format::toHexString(message.receivedCrc, true, 2),
                        message.payload.isEmpty() ? QStringLiteral("empty") : Format::toHexString(message.payload));
    if (definition) {
        const QString fields = PayloadCodec::text(PayloadCodec::decode(*definition, message.payload));
        if (!fields.isEmpty())
            text += QStringLiteral("  ") + fields;
    } else if (!message.payload.isEmpty()) {
        text += QStringLiteral("  payload ") + Format::toHexString(message.payload);
    }
    return text;
}

QString MessageFormatter::candump(const RawFrame &frame, const QString &interface)
{
    const qint64 seconds = frame.timeUs / 1000000;
    const qint64 micros = frame.timeUs % 1000000;
    // Standard identifiers take three digits, extended ones eight.
    const int digits = frame.channel > 0x7FF ? 8 : 3;
    return QStringLiteral("(%1.%2) %3 %4#%5")
        .arg(seconds)
        .arg(micros, 6, 10, QLatin1Char('0'))
        .arg(interface, QString::number(frame.channel, 16).toUpper().rightJustified(digits, QLatin1Char('0')),
             QString::fromLatin1(frame.data.toHex().toUpper()));
}
