#include "BusRecorder.h"

#include "peer/PeerSession.h"
#include "ProcessSnapshot.h"

BusRecorder::BusRecorder(PeerSession &session, QObject *parent)
    : QObject(parent)
{
    connect(&session, &PeerSession::frameReceived, this, &BusRecorder::onFrame);
    connect(&session, &PeerSession::messageReceived, this, &BusRecorder::onMessage);
}

void BusRecorder::onRequestSent(Sequence sequence)
{
    if (sequence >= 0)
        return;
    _pending[Sequence(-sequence)].append(ProcessSnapshot::monotonicNow());
    if (_recording)
        ++_result.requests;
}

void BusRecorder::start()
{
    _result = Result();
    _recording = true;
}

void BusRecorder::stop()
{
    _recording = false;
}

void BusRecorder::onFrame(const RawFrame &frame)
{
    Q_UNUSED(frame) // every frame on the bus that reaches this node is the service's
    _lastFrameNs = ProcessSnapshot::monotonicNow();
    if (_recording)
        _result.received.add(_lastFrameNs);
}

void BusRecorder::onServiceWrite(qint64 timeNs)
{
    if (_recording)
        _result.written.add(timeNs);
}

void BusRecorder::onMessage(const ReceivedMessage &message)
{
    // An acknowledgement is one frame, so it arrived with the last frame.
    if (!PeerSession::isAcknowledgement(message))
        return;
    const auto it = _pending.find(message.sequence);
    if (it == _pending.end() || it->isEmpty())
        return;
    const qint64 sentNs = it->takeFirst();
    if (it->isEmpty())
        _pending.erase(it);
    if (_recording)
        _result.latenciesMs.append(double(_lastFrameNs - sentNs) / 1e6);
}
