#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// Lets through at most a given number of occurrences of something per second
// of a monotonic clock and counts the rest. Garbage on the bus must not turn
// into a flood of console lines: on the board the console is the journal.
class RateLimit
{
public:
    explicit RateLimit(int perSecond)
        : _perSecond(perSecond)
    {
        _clock.start();
    }

    // Whether this occurrence may be shown. When it may, held() tells how
    // many were held back since the last one shown.
    bool allow()
    {
        const qint64 second = _clock.elapsed() / 1000;
        if (second != _second) {
            _second = second;
            _shownThisSecond = 0;
        }
        if (_shownThisSecond >= _perSecond) {
            ++_heldSinceShown;
            return false;
        }
        ++_shownThisSecond;
        _held = _heldSinceShown;
        _heldSinceShown = 0;
        return true;
    }
    quint64 held() const { return _held; }

private:
    QElapsedTimer _clock;
    const int _perSecond;
    qint64 _second = -1;
    int _shownThisSecond = 0;
    quint64 _heldSinceShown = 0;
    quint64 _held = 0;
};
