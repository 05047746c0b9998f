#pragma once

#include <QByteArray>
#include <QList>

#include "MessageGlobals.h"
#include "peer/RawFrame.h"

// What became of a run of frames on one channel: a complete message, one
// that failed its CRC, or a frame that cannot belong to any message.
struct ReceivedMessage {
    enum Status {
        Complete,
        CrcError,
        NoSync,     // a frame that should open a message has no sync byte
        ShortFrame, // fewer than 8 bytes, which the protocol never sends
    };

    Status status = Complete;
    qint64 timeUs = 0; // arrival of the last frame
    quint32 channel = 0;
    Sequence sequence = 0;
    quint16 id = 0;
    QByteArray payload; // without the CRC byte
    quint8 receivedCrc = 0;
    quint8 expectedCrc = 0;
    QList<RawFrame> frames;

    bool isMessage() const { return status == Complete || status == CrcError; }
};
