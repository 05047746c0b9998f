#pragma once

#include <QByteArray>
#include <QMetaType>

// One CAN frame as it came off the bus, with the time it arrived.
struct RawFrame {
    qint64 timeUs = 0; // microseconds since the epoch; -1 when a trace has none
    quint32 channel = 0;
    QByteArray data;
};

Q_DECLARE_METATYPE(RawFrame)
