#pragma once

#include <QStringList>

#include "peer/DecodedPayload.h"
#include "peer/MessageDefinition.h"

// Turns payload bytes into named, typed values and command-line values into
// payload bytes, both along a message definition.
class PayloadCodec
{
public:
    static DecodedPayload decode(const MessageDefinition &definition, const QByteArray &payload);

    // "name=value name=value" for the monitor; "?" for a field the payload
    // is too short for, and the bytes beyond the definition in hexadecimal.
    static QString text(const DecodedPayload &decoded);

    // Builds the payload from values given in field order ("value") or by
    // name ("field=value"), which may be mixed; every field needs exactly one
    // value. On any problem the payload stays empty and error names the
    // field and what it accepts.
    static bool encode(const MessageDefinition &definition, const QStringList &values, QByteArray &payload,
                       QString &error);
};
