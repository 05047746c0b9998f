#include "canbus/AcknowModel.h"

#include <QTimerEvent>

namespace Can {
namespace Private {

AcknowModel::AcknowModel(Can_Id channel, Sequence sequence, const FrameList &frames, QObject *parent)
    : QObject(parent)
    , _can_Id(channel)
    , _sequence(sequence)
    , _frameList(frames)
{
}

void AcknowModel::start()
{
    if (_timerId == 0 && !_failed)
        _timerId = startTimer(_interval, Qt::CoarseTimer);
}

void AcknowModel::stop()
{
    if (_timerId != 0) {
        killTimer(_timerId);
        _timerId = 0;
    }
}

void AcknowModel::tick()
{
    // After giving up the entry only waits for its deletion; the retry count
    // must not wrap round into another 255 re-sends.
    if (_failed)
        return;
    if (_retry != 0) {
        --_retry;
        emit didFramesTransmit(_can_Id, _sequence, _frameList);
        return;
    }
    _failed = true;
    stop();
    emit didFailedTransmit(_sequence);
}

void AcknowModel::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == _timerId)
        tick();
    else
        QObject::timerEvent(event);
}

} // namespace Private
} // namespace Can
