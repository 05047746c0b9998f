#include "canbus/TransmitQueue.h"

#include <limits>

#include "storage/Logger.h"

namespace Can {

namespace {
// The drop counter starts over here rather than wrapping through the maximum.
constexpr quint32 kDropCounterLast = 4294967294u;
constexpr qint64 kNsPerMs = 1000000;
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

qint64 TransmitQueue::sinceOffer(qint64 nowNs) const
{
    return _offered ? nowNs - _lastOfferNs : std::numeric_limits<qint64>::max();
}

bool TransmitQueue::offer(qint64 nowNs, bool keepAwake, Frame &frame)
{
    if (_inFlight != eInFlight_None && sinceOffer(nowNs) >= _confirmTimeout * kNsPerMs) {
        _inFlight = eInFlight_None;
        ++_timeouts;
    }
    if (sinceOffer(nowNs) < _interval * kNsPerMs || !takeNext(frame, keepAwake))
        return false;
    _offered = true;
    _lastOfferNs = nowNs;
    return true;
}

void TransmitQueue::written(qint64 nowNs)
{
    if (_offered && nowNs > _lastOfferNs)
        _lastOfferNs = nowNs;
}

int TransmitQueue::msUntilNext(qint64 nowNs, bool keepAwake) const
{
    qint64 waitNs = 0;
    if (_inFlight != eInFlight_None)
        waitNs = _confirmTimeout * kNsPerMs - sinceOffer(nowNs);
    else if (!_txFrameList.isEmpty() || keepAwake)
        waitNs = _interval * kNsPerMs - sinceOffer(nowNs);
    else
        return -1;
    // Rounded up: a timer never fires early, so the frame is then due.
    return waitNs <= 0 ? 0 : int((waitNs + kNsPerMs - 1) / kNsPerMs);
}

int TransmitQueue::msUntilAppendedGoes(qint64 nowNs) const
{
    const qint64 pacedNs = qMax(qint64(0), _interval * kNsPerMs - sinceOffer(nowNs));
    const int waiting = _txFrameList.size() - (_inFlight == eInFlight_Head ? 1 : 0);
    return int(pacedNs / kNsPerMs + _interval * waiting);
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
