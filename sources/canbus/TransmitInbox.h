#pragma once

#include <QMutex>
#include <QVector>

#include "MessageGlobals.h"

namespace Can {

// Messages handed from the dispatcher's thread to the frame interface's.
//
// A queued call per message would wake the CAN-frame thread once per message,
// although while its pacing timer runs it wakes anyway, at the next step, and
// a message handed over in between could not go sooner than that step: the
// frames before it come first and the 7 ms hold the rest back. So a push wakes
// the receiver only when no step is coming; otherwise the message waits here
// for the step, which takes it before offering a frame. What goes on the bus,
// and when, is the same.
class TransmitInbox
{
public:
    struct Message {
        Can_Id can_Id = eChlid_NONE;
        FrameList frames;
    };

    // Any thread. True when the caller must wake the receiver, whose next
    // step then takes this message; false when a step is coming anyway.
    bool push(Can_Id can_Id, const FrameList &frames);

    // The receiver's thread: every message pushed so far, oldest first.
    QVector<Message> take();

    // The receiver's thread, at the end of a step: whether its timer will run
    // another step. False, and nothing changes, when messages came after the
    // last take(): the step must take them first.
    bool settle(bool stepComing);

private:
    QMutex _mutex;
    QVector<Message> _messages;
    bool _stepComing = false; // a wake is posted or the pacing timer runs
};

} // namespace Can
