#pragma once

#include <QVector>

// The gaps between consecutive events on one clock.
class GapMeter
{
public:
    void add(qint64 timeNs)
    {
        if (_lastNs >= 0)
            _gapsMs.append(double(timeNs - _lastNs) / 1e6);
        _lastNs = timeNs;
    }

    const QVector<double> &gapsMs() const { return _gapsMs; }

private:
    qint64 _lastNs = -1;
    QVector<double> _gapsMs;
};
