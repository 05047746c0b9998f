#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QTimerEvent>
#include <QVector>

#include <functional>
#include <utility>

// Hands items from any thread to one receiving object's thread in batches.
//
// A queued signal per item wakes the receiving thread once per item: once per
// CAN frame, once per log line. Here an item after a quiet spell is delivered
// at once. A delivery that comes soon after the one before means items
// keep coming: from then on they wait for the window's end and go together,
// until a window passes without any. Under load the receiving thread wakes at
// most once per window and an item waits at most one window; a lone item costs
// one wake-up, with no second one to close a window nobody used.
template <typename T> class CoalescingQueue
{
public:
    using Deliver = std::function<void(const QVector<T> &)>;

    // receiver: the object whose thread the items are delivered on (the
    // queue's timer is its child, so it follows the receiver between threads).
    CoalescingQueue(QObject *receiver, int windowMs, Deliver deliver)
        : _waker(new Waker(receiver, [this] { deliverPending(); }))
        , _windowMs(windowMs)
        , _deliver(std::move(deliver))
    {
        _sinceDelivery.start();
    }
    ~CoalescingQueue() { delete _waker.data(); }
    CoalescingQueue(const CoalescingQueue &) = delete;
    CoalescingQueue &operator=(const CoalescingQueue &) = delete;

    // Any thread.
    void push(T item)
    {
        QMutexLocker lock(&_mutex);
        _pending.append(std::move(item));
        if (_scheduled)
            return;
        _scheduled = true;
        QMetaObject::invokeMethod(
            _waker.data(), [this] { deliverPending(); }, Qt::QueuedConnection);
    }

    // The receiver's thread: delivers everything pending now; when items
    // keep coming, holds what comes next for one window. With nothing pending
    // the window closes.
    void deliverPending()
    {
        QVector<T> items;
        {
            QMutexLocker lock(&_mutex);
            items.swap(_pending);
            if (items.isEmpty()) {
                _scheduled = false;
                _waker->stop();
                return;
            }
        }
        _deliver(items);
        // The window's own deliveries come one window apart: still busy.
        const bool busy = _sinceDelivery.restart() < 2 * _windowMs;
        QMutexLocker lock(&_mutex);
        // Items pushed during the delivery found a delivery scheduled: the
        // window takes them.
        if (busy || !_pending.isEmpty()) {
            _waker->start(_windowMs);
        } else {
            _scheduled = false;
            _waker->stop();
        }
    }

    // The receiver's thread: delivers until nothing is pending, also what the
    // deliveries themselves push (a shutdown must not leave anything behind).
    void deliverAll()
    {
        while (hasPending())
            deliverPending();
    }

    bool hasPending()
    {
        QMutexLocker lock(&_mutex);
        return !_pending.isEmpty();
    }

private:
    class Waker : public QObject
    {
    public:
        Waker(QObject *receiver, std::function<void()> onTimeout)
            : QObject(receiver)
            , _onTimeout(std::move(onTimeout))
        {
        }
        // Repeats while items keep coming; started once, not per delivery.
        void start(int ms)
        {
            if (!_timer.isActive())
                _timer.start(ms, Qt::PreciseTimer, this);
        }
        void stop() { _timer.stop(); }

    protected:
        void timerEvent(QTimerEvent *event) override
        {
            if (event->timerId() == _timer.timerId())
                _onTimeout();
        }

    private:
        QBasicTimer _timer;
        std::function<void()> _onTimeout;
    };

    QPointer<Waker> _waker;
    const int _windowMs;
    QElapsedTimer _sinceDelivery; // the receiver's thread only
    const Deliver _deliver;
    QMutex _mutex;
    QVector<T> _pending;
    bool _scheduled = false; // a delivery is posted or a window is open
};
