#include "TransmitQueue.h"

#include "Logger.h"

namespace Can {

namespace {
// The drop counter starts over here rather than wrapping through the maximum.
constexpr quint32 kDropCounterLast = 4294967294u;
} // namespace

bool TransmitQueue::append(Can_Id can_Id, const FrameList &frames)
{
    if (_txFrameList.size() + frames.size() <= _txFrameList_Max) {
        for (const QByteArray &data : frames)
            _txFrameList.append(Frame{can_Id, data});
        return true;
    }
    for (int i = 0; i < frames.size(); ++i)
        countDrop();
    return false;
}

void TransmitQueue::countDrop()
{
    if (_dropCounter % _dropLogEvery == 0)
        LOG_DEBUG(QStringLiteral("Transmit buffer overflow of %1").arg(_txFrameList_Max));
    if (_dropCounter >= kDropCounterLast)
        _dropCounter = 0;
    else
        ++_dropCounter;
}

bool TransmitQueue::tick()
{
    if (_inFlight != eInFlight_None && ++_inFlightTicks >= _confirmTimeout) {
        _inFlight = eInFlight_None;
        ++_timeouts;
    }
    if (++_tickCounter != _interval)
        return false;
    _tickCounter = 0;
    return true;
}

bool TransmitQueue::takeNext(Frame &frame, bool keepAwake)
{
    if (_inFlight != eInFlight_None)
        return false;
    if (!_txFrameList.isEmpty()) {
        frame = _txFrameList.first();
        _inFlight = eInFlight_Head;
    } else if (keepAwake) {
        frame = Frame{eChlid_LOWEST, QByteArray()};
        _inFlight = eInFlight_KeepAwake;
    } else {
        return false;
    }
    _inFlightTicks = 0;
    return true;
}

void TransmitQueue::confirm(qint64 count)
{
    Q_UNUSED(count) // one frame is offered at a time, so one is released
    if (_inFlight == eInFlight_Head && !_txFrameList.isEmpty())
        _txFrameList.removeFirst();
    _inFlight = eInFlight_None;
}

void TransmitQueue::writeResult(bool ok)
{
    if (!ok)
        _inFlight = eInFlight_None;
}

void TransmitQueue::discardInFlight()
{
    if (_inFlight == eInFlight_Head && !_txFrameList.isEmpty())
        _txFrameList.removeFirst();
    _inFlight = eInFlight_None;
}

} // namespace Can
