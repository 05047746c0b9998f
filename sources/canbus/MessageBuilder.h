#pragma once

#include <QObject>

#include "MessageGlobals.h"
#include "utility/RateLimit.h"

namespace Can {

// Cuts an outgoing message into 8-byte CAN frames and puts a received message
// back together frame by frame, checking its CRC. The assembly state lives in
// the caller's Can::Message, one per channel, so one builder serves every
// channel.
class MessageBuilder : public QObject
{
    Q_OBJECT

public:
    explicit MessageBuilder(QObject *parent = nullptr);

    // Appends the frames of one message to frames. Payload bytes beyond the
    // most one message can carry are dropped.
    bool buildFrames(quint16 actionId, const QByteArray &data, FrameList &frames, Sequence sequence);

    // Takes one received frame into message. Returns false when the frame
    // cannot open a message or the completed message fails its CRC; the
    // caller then discards the record.
    bool buildMessage(const QByteArray &frame, Can::Message &message, Can_Id channel);

    void enableConsoleOut(bool enable);

    // Lines a second at most on the console for frames and messages thrown
    // away; the service log keeps its line for each.
    static constexpr int kConsoleLinesPerSecond = 10;

private:
    enum class FrameKind { Header, Payload };

    bool checkCrc(const Can::Message &message) const;
    static void printFrame(const char *bytes, int size, Can_Id channel, FrameKind kind, quint64 heldBack = 0);

    bool _enableConsoleOut = false;
    RateLimit _rejectedShown{kConsoleLinesPerSecond};
};

} // namespace Can
