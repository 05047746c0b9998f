#include "canbus/FrameInterface.h"

#include <QThread>
#include <QTimerEvent>

#include <utility>

#include "canbus/CanInterface.h"
#include "CommandLine.h"
#include "storage/Logger.h"
#include "Threads.h"

namespace Can {

FrameInterface::FrameInterface(QObject *parent)
    : QObject(parent)
{
    _monotonic.start();
}

FrameInterface::~FrameInterface() = default;

bool FrameInterface::init()
{
    if (_init)
        return false;
    _init = true;

    CanInterface &device = CanInterface::I();
    connect(&device, &CanInterface::didFrameReceive, this, &FrameInterface::onFrameReceive);
    connect(&device, &CanInterface::didFrameWritten, this, &FrameInterface::onFrameWritten);
    connect(this, &FrameInterface::didFrameTransmit, &device, &CanInterface::onFrameTransmit);
    // Without the write result a failed write would hold the head until the
    // confirmation time-out instead of the next 7 ms step.
    connect(&device, &CanInterface::didFrameTransmit, this, &FrameInterface::onFrameTransmitResult);
    // The device shares this thread, so it may ask the queue directly.
    device.setReadRestBudget([this] { return msAnswerMayWait(nowNs()); });

    pace(); // with keep-awake on there is something to send from the start
    LOG_DEBUG(QStringLiteral("%1 Initialized").arg(QString::fromLatin1(metaObject()->className())));
    return true;
}

bool FrameInterface::init(QThread &thread)
{
    if (!init())
        return false;
    initThread(thread);
    return true;
}

void FrameInterface::initThread(QThread &thread)
{
    Threads::initThread(*this, thread, _thread);
}

void FrameInterface::quit()
{
    // Nothing is to be sent once shutdown has begun; the CAN device is closed
    // next, on this same thread.
    _stopped = true;
    _timer.stop();
    quitThread();
}

void FrameInterface::quitThread()
{
    Threads::returnToMainThread(*this, _thread);
}

void FrameInterface::onFrameReceive(const QCanBusFrame &frame)
{
    // A misbehaving plug-in may hand over more than 8 bytes; the payload goes
    // on as it is and the message framing reads only the first 8.
    if (!_channelFilter.acceptFormat(frame))
        return;
    const QByteArray payload = frame.payload();
    if (_channelFilter.accept(frame.frameId(), payload))
        passOn(static_cast<Can_Id>(frame.frameId()), payload);
}

void FrameInterface::passOn(Can_Id can_Id, const QByteArray &payload)
{
    // Behind a long transmit queue nothing said in answer could leave sooner
    // than a later step allows: the frame goes on at the next pacing step with
    // those that came meanwhile, and the dispatcher wakes once per step
    // rather than once per read. Once one is held, the rest queue behind it.
    if (_heldFrames.isEmpty() && !holdsReceived()) {
        emit didFrameReceive(can_Id, payload);
        return;
    }
    _heldFrames.append({can_Id, payload});
}

int FrameInterface::msAnswerMayWait(qint64 nowNs) const
{
    return _txQueue.msUntilAppendedGoes(nowNs) - _handOffMs;
}

bool FrameInterface::holdsReceived() const
{
    if (!_timer.isActive())
        return false;
    const qint64 now = nowNs();
    return msAnswerMayWait(now) >= _txQueue.msUntilNext(now, gSendEmptyKeepAwake);
}

void FrameInterface::passOnHeld()
{
    const QVector<Received> held = std::exchange(_heldFrames, {});
    for (const Received &frame : held)
        emit didFrameReceive(frame.can_Id, frame.payload);
}

void FrameInterface::onFrameTransmit(Can_Id can_Id, const FrameList &frames)
{
    const bool wake = _inbox.push(can_Id, frames);
    if (QThread::currentThread() == thread())
        pace();
    else if (wake)
        QMetaObject::invokeMethod(
            this, [this] { pace(); }, Qt::QueuedConnection);
}

void FrameInterface::appendHandedOver()
{
    const QVector<TransmitInbox::Message> messages = _inbox.take();
    for (const TransmitInbox::Message &message : messages)
        _txQueue.append(message.can_Id, message.frames);
}

void FrameInterface::onFrameWritten(qint64 framesCount)
{
    _txQueue.confirm(framesCount);
    pace();
}

void FrameInterface::onFrameTransmitResult(bool ok)
{
    _txQueue.writeResult(ok);
    if (!ok)
        pace();
}

void FrameInterface::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == _timer.timerId()) {
        passOnHeld();
        pace();
    } else {
        QObject::timerEvent(event);
    }
}

qint64 FrameInterface::nowNs() const
{
    return _clock ? _clock() : _monotonic.nsecsElapsed();
}

void FrameInterface::pace()
{
    if (_stopped)
        return;
    int waitMs = -1;
    do {
        appendHandedOver();
        trnsmtHead();
        // After the offer: the device may have confirmed it already.
        waitMs = _txQueue.msUntilNext(nowNs(), gSendEmptyKeepAwake);
    } while (!_inbox.settle(waitMs >= 0));
    if (waitMs < 0)
        _timer.stop();
    else
        _timer.start(waitMs, Qt::PreciseTimer, this);
    // The step they waited for may have moved, or the queue run dry.
    if (!_heldFrames.isEmpty() && !holdsReceived())
        passOnHeld();
}

void FrameInterface::trnsmtHead()
{
    Frame frame;
    if (!_txQueue.offer(nowNs(), gSendEmptyKeepAwake, frame))
        return;
    // The frame is marked in flight before it goes out: on the same thread
    // the device confirms it before transmitFrame returns.
    if (!transmitFrame(frame.can_Id, frame.data))
        _txQueue.discardInFlight();
    _txQueue.written(nowNs());
}

bool FrameInterface::transmitFrame(Can_Id can_Id, const QByteArray &data)
{
    QCanBusFrame frame(QCanBusFrame::DataFrame);
    frame.setFrameId(can_Id);
    if (data.length() > eLenCanFrame) {
        LOG_DEBUG(QStringLiteral("Payload cannot be larger than %1 bytes").arg(int(eLenCanFrame)));
        return false;
    }
    frame.setPayload(data);
    emit didFrameTransmit(frame);
    return true;
}

} // namespace Can
