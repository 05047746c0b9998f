#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QVariantList>

#include "utility/CoalescingQueue.h"
#include "canbus/MessageBuilder.h"
#include "MessageGlobals.h"
#include "canbus/MessageInterpreter.h"
#include "Singleton.h"

class QThread;

namespace Can {

// Turns received frames into messages and outgoing action lists into frames.
// Inbound it assembles one message per channel, answers acknowledgement
// requests, records acknowledgements and hands every complete message to the
// interpreter; outbound it stamps each list with the next sequence number and
// queues its frames on the frame interface. Runs on the CAN-frame thread with
// the frame interface.
class MessageDispatcher : public QObject
{
    Q_OBJECT
    RARAROZ_SINGLETON(MessageDispatcher)

public:
    bool init();
    bool init(QThread &thread);
    void enableConsoleOut(bool enable);

    // Encodes, frames and queues one outgoing action list [identifier,
    // channel, values...] under sequence, or under the next counter value
    // when sequence is 0. A list that cannot be sent is dropped and logged.
    bool actionTransmit(const QVariantList &actions, Sequence sequence);

    // Bytes held for the message in assembly on channel, for checks that
    // whatever arrives cannot make them grow past one message.
    int assemblyBytes(Can_Id channel) const;
    int assemblyChannels() const { return _messageList.size(); }

signals:
    // The frames of one outgoing message, first frame first: the frame
    // interface queues a message whole or not at all.
    void didFrameTransmit(Can_Id channel, const FrameList &frames);
    void didAcknowReceive(Sequence sequence);
    void didAcknowTransmit(Can_Id channel, Sequence sequence, const FrameList &frames);
    void didFailedTransmit(Sequence sequence);
    void didUnhandledMsgDispatcher(const QVariantList &actions);
    void didActionReceive(const QVariantList &actions);

public slots:
    void quit();
    void onActionTransmit(const QVariantList &actions);
    void onFrameReceive(Can_Id channel, const QByteArray &frame);
    void onFramesTransmit(Can_Id channel, Sequence sequence, const FrameList &frames);
    void onFailedTransmit(Sequence sequence);
    void onSettingsDone();
    void doUnhandledMsgReady(const QVariantList &actions);

private:
    void initThread(QThread &thread);
    void quitThread();
    void interpret(const Can::Message &message);
    static bool needsAcknow(Can_Id channel);
    static Sequence nextSequence(Sequence &counter);

    // Received frames reach this thread in batches rather than each waking
    // it; a frame waits at most this long here, and at most the CAN
    // interface's read rest before: an acknowledgement is 5 ms late at most.
    struct ReceivedFrame {
        Can_Id channel;
        QByteArray frame;
    };
    static constexpr int _frameBatchWindowMs = 3;
    CoalescingQueue<ReceivedFrame> _receivedFrames;

    // Per channel the message in assembly. The list holds at most one record;
    // a finished or broken record is reset in place rather than removed, so a
    // busy channel does not allocate a list node per message.
    QHash<Can_Id, QList<Can::Message>> _messageList;
    Sequence _txSequence = 0;
    Sequence _rxSequence = 0;
    MessageBuilder _builder;
    RateLimit _brokenShown{MessageBuilder::kConsoleLinesPerSecond};
    MessageInterpreter _interpreter;
    QThread *_thread = nullptr;
    bool _init = false;
};

} // namespace Can
