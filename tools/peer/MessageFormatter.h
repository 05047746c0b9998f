#pragma once

#include <QString>

#include "peer/MessageDefinitions.h"
#include "peer/RawFrame.h"
#include "peer/ReceivedMessage.h"

// The monitor's text: one line per message, and the candump log form of a
// frame for the raw trace.
class MessageFormatter
{
public:
    explicit MessageFormatter(const MessageDefinitions &definitions)
        : _definitions(definitions)
    {
    }

    // time, channel, sender->receiver, sequence, identifier and name, then
    // the payload field by field; CRC failures and broken frames say so.
    QString line(const ReceivedMessage &message) const;

    // "(1700000000.123456) can0 041#A50C001000008500"
    static QString candump(const RawFrame &frame, const QString &interface);

    // Local time of day "HH:mm:ss.zzz"; dashes for a time not known.
    static QString timeOfDay(qint64 timeUs);
    static QString idText(quint16 id);

private:
    const MessageDefinitions &_definitions;
};
