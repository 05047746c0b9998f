#pragma once

#include <QBasicTimer>
#include <QByteArray>
#include <QCanBusFrame>
#include <QElapsedTimer>
#include <QObject>
#include <QVector>

#include <functional>

#include "canbus/ChannelFilter.h"
#include "MessageGlobals.h"
#include "Singleton.h"
#include "canbus/TransmitInbox.h"
#include "canbus/TransmitQueue.h"

class QThread;

namespace Can {

// Stands between the CAN device and the message dispatcher. Inbound it passes
// on the frames of the channels this system listens to and logs unexpected
// ones; outbound it queues frames and hands the device one at most every
// 7 ms, each released by the device's write confirmation, so the UI board is
// never flooded. Its timer runs only while there is something to send (or
// keep-awake is on): an idle service does not wake for it. While the queue is
// long, received frames are passed on at its steps, in order, which delays no
// answer: none could leave before the frames already queued.
class FrameInterface : public QObject
{
    Q_OBJECT
    RARAROZ_SINGLETON(FrameInterface)

public:
    using Frame = TransmitQueue::Frame;
    using ChannelGroup = ChannelFilter::ChannelGroup;

    ~FrameInterface() override;

    bool init();
    bool init(QThread &thread);

    static ChannelGroup checkChannel(quint32 channel, bool *ok = nullptr, bool *debug = nullptr)
    {
        return ChannelFilter::checkChannel(channel, ok, debug);
    }

    // Offers the next frame if one is due and sets the timer for the next
    // step, or stops it when nothing waits; the timer calls it, tests may too.
    void pace();
    bool isPacing() const { return _timer.isActive(); }

    // Test seam: where the monotonic time (ns) comes from; empty: the clock.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { _clock = std::move(clock); }

    const TransmitQueue &queue() const { return _txQueue; }

signals:
    void didFrameReceive(Can::Can_Id can_Id, const QByteArray &payload);
    void didFrameTransmit(const QCanBusFrame &frame);

public slots:
    void quit();
    void onFrameReceive(const QCanBusFrame &frame);
    void onFrameWritten(qint64 framesCount);
    // The frames of one message, queued whole or dropped whole. Any thread:
    // from another it wakes this one only when no pacing step is coming.
    void onFrameTransmit(Can::Can_Id can_Id, const FrameList &frames);
    // The device's result for the frame last handed to it.
    void onFrameTransmitResult(bool ok);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void initThread(QThread &thread);
    void quitThread();
    void appendHandedOver();
    void passOn(Can_Id can_Id, const QByteArray &payload);
    // How long the answer to a frame received at nowNs may be delayed before
    // it reaches the transmit queue and still leave no later.
    int msAnswerMayWait(qint64 nowNs) const;
    bool holdsReceived() const;
    void passOnHeld();
    void trnsmtHead();
    bool transmitFrame(Can_Id can_Id, const QByteArray &data);
    qint64 nowNs() const;

    // What a received frame's answer may spend between the read and the
    // transmit queue: the dispatcher's batching and the two hand-offs.
    static constexpr int _handOffMs = 5;

    struct Received {
        Can_Id can_Id;
        QByteArray payload;
    };
    QVector<Received> _heldFrames; // received, waiting for the next step

    TransmitInbox _inbox;
    TransmitQueue _txQueue;
    ChannelFilter _channelFilter;
    QBasicTimer _timer;
    QElapsedTimer _monotonic;
    Clock _clock;
    bool _stopped = false; // shutdown has begun: nothing more is sent

    QThread *_thread = nullptr;
    bool _init = false;
};

} // namespace Can
