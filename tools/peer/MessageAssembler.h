#pragma once

#include <QHash>
#include <QList>

#include "canbus/MessageBuilder.h"
#include "peer/ReceivedMessage.h"

// Puts messages back together from the frames of every channel with the
// system's own framing code, keeping one message in assembly per channel
// as the service does, and reports each message or broken frame once.
class MessageAssembler
{
public:
    // Takes one frame; returns what it completed or broke (nothing while a
    // message is still being assembled). Never fails on garbage.
    QList<ReceivedMessage> take(const RawFrame &frame);

    // Frames taken so far that belong to no finished message yet.
    int pendingChannels() const { return _inProgress.size(); }

private:
    struct Assembly {
        Can::Message message;
        QList<RawFrame> frames;
    };

    Can::MessageBuilder _builder;
    QHash<quint32, Assembly> _inProgress;
};
