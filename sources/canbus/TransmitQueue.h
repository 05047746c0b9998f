#pragma once

#include <QByteArray>
#include <QList>

#include "MessageGlobals.h"

namespace Can {

// The outgoing frames waiting for the bus, head first, and the pacing that
// hands them to the device one at a time.
//
// At most one frame is with the device at a time. The device's write
// confirmation carries no identity, so the queue remembers what it offered:
// a confirmation releases the queue head only when the head is what was
// offered, never when a keep-awake frame was. Without that, the confirmation
// of a keep-awake frame would remove a message frame that was queued behind
// it before that frame was ever sent.
//
// Pacing is measured on a monotonic clock from the last offer, not counted in
// timer ticks: no two offers are ever closer than _interval, whenever the
// caller's timer happens to fire, and with nothing to send the caller's timer
// can stop altogether.
class TransmitQueue
{
public:
    struct Frame {
        Can_Id can_Id = eChlid_NONE;
        QByteArray data;
    };

    enum InFlight {
        eInFlight_None,      // nothing awaits a confirmation
        eInFlight_Head,      // the queue head was offered
        eInFlight_KeepAwake, // an empty keep-awake frame was offered
    };

    static constexpr quint16 _txFrameList_Max = 4000; // most frames in the queue
    static constexpr qint64 _interval = 7;            // ms at least between two offers
    // Milliseconds after an offer with no confirmation before the frame is
    // offered again: a device that drops a confirmation must not stall the queue.
    static constexpr qint64 _confirmTimeout = 100;
    // Dropped frames are logged on drop 1, 61, 121, ...
    static constexpr quint32 _dropLogEvery = 60;

    // Appends one message's frames at the tail, all of them or none. A
    // message cut short would take the messages after it down too: the UI
    // board would take their frames as the rest of it. So a message that
    // does not fit is dropped whole, each of its frames counted by the
    // throttled "Transmit buffer overflow" rule, and false is returned.
    bool append(Can_Id can_Id, const FrameList &frames);

    // The frame to offer at nowNs (a monotonic clock in ns), when one may go:
    // at least _interval after the last offer and nothing awaiting its
    // confirmation (an offer unconfirmed for _confirmTimeout is given up).
    bool offer(qint64 nowNs, bool keepAwake, Frame &frame);

    // The offered frame went to the device, which returned at nowNs: the
    // next offer is measured from here, so a write held up after its offer
    // still comes no closer than _interval before the next one.
    void written(qint64 nowNs);

    // Whole milliseconds from nowNs until offer() may have something to do:
    // 0 for now, -1 for never (nothing queued, nothing in flight and no
    // keep-awake), when the caller's timer can stop.
    int msUntilNext(qint64 nowNs, bool keepAwake) const;

    // Whole milliseconds from nowNs before a frame appended now could be
    // offered at the earliest: the pacing's wait after the last offer, then
    // one _interval for each frame waiting ahead of it (rounded down).
    int msUntilAppendedGoes(qint64 nowNs) const;

    // The frame to offer, without regard to time: the head, else, with
    // keepAwake, an empty frame on the lowest-priority channel. The frame is
    // then in flight until confirmed. False when nothing is to be offered:
    // the queue is empty (without keepAwake) or the last offer is still
    // awaiting its confirmation.
    bool takeNext(Frame &frame, bool keepAwake);

    // The device wrote frames. Releases the one frame in flight whatever the
    // count; with nothing in flight (stale or duplicate) it changes nothing.
    void confirm(qint64 count);

    // Result of handing the offered frame to the device. A failed write will
    // never be confirmed, so the frame is offered again at the next step.
    void writeResult(bool ok);

    // The offered frame can never be sent: take it out of the queue so it
    // does not block the frames behind it.
    void discardInFlight();

    int size() const { return _txFrameList.size(); }
    bool isEmpty() const { return _txFrameList.isEmpty(); }
    const QList<Frame> &frames() const { return _txFrameList; }
    InFlight inFlight() const { return _inFlight; }
    quint32 dropCounter() const { return _dropCounter; }
    quint64 timeouts() const { return _timeouts; }

private:
    void countDrop();
    qint64 sinceOffer(qint64 nowNs) const;

    QList<Frame> _txFrameList;
    quint32 _dropCounter = 0;
    InFlight _inFlight = eInFlight_None;
    bool _offered = false;   // any offer made yet
    qint64 _lastOfferNs = 0; // when the last offer was made
    quint64 _timeouts = 0;
};

} // namespace Can
