#pragma once

#include <QObject>

#include "MessageGlobals.h"

namespace Can {
namespace Private {

// One sent message still waiting for its acknowledgement: re-sends its frames
// once a second and gives up after the last re-send.
class AcknowModel : public QObject
{
    Q_OBJECT

public:
    AcknowModel(Can_Id channel, Sequence sequence, const FrameList &frames, QObject *parent = nullptr);

    // Starts the re-send timer.
    void start();
    // One timer period: re-send while retries are left, else report the
    // failure (once) and stop. Public so the schedule can be driven without
    // waiting real seconds.
    void tick();

    Sequence sequence() const { return _sequence; }

signals:
    void didFramesTransmit(Can_Id channel, Sequence sequence, const FrameList &frames);
    void didFailedTransmit(Sequence sequence);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void stop();

    const int _interval = 1000;
    int _timerId = 0;
    quint8 _retry = 5;
    Can_Id _can_Id = eChlid_NONE;
    Sequence _sequence = 0;
    FrameList _frameList;
    bool _failed = false;
};

} // namespace Private
} // namespace Can
