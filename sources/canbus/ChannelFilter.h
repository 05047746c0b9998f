#pragma once

#include <QByteArray>
#include <QCanBusFrame>
#include <QHash>
#include <QString>

namespace Can {

// Sorts received frames by channel: which channels this system listens to,
// which it knows but ignores, and which are unexpected. Unexpected and debug
// channels are logged, throttled per channel so a chatty bus cannot flood
// the service log.
class ChannelFilter
{
public:
    enum ChannelGroup {
        eChannel_Unknown = 0,
        eChannel_Ignores = 1,
        eChannel_Listens = 2,
        eChannel_Outputs = 3,
    };

    // A channel's line is logged for its first frame, then once per this many
    // further frames with the count so far.
    static constexpr quint32 _logEvery = 1000;
    // Most channels whose counts are kept; a bus spraying identifiers cannot
    // make the table grow without bound.
    static constexpr int _countsMax = 2048;

    // ok: whether the channel is expected at all; debug: whether it is a
    // test-tool channel turned off by the "disable-orvane-unhandled" option.
    static ChannelGroup checkChannel(quint32 channel, bool *ok = nullptr, bool *debug = nullptr);

    // Logs what the channel calls for and tells whether the frame is to be
    // passed on. The payload is taken as it is, whatever its length.
    bool accept(quint32 channel, const QByteArray &payload);

    // Only standard-format data frames are frames of this protocol: a remote
    // request, an extended identifier (0x041 there is not channel 0x041) or
    // an error frame is counted and ignored, with one throttled line.
    bool acceptFormat(const QCanBusFrame &frame);
    quint64 otherFormatCount() const { return _otherFormats; }

    // The text after the line's title: channel in 3 upper-case hex digits,
    // " -- " and the payload bytes in lower-case hex separated by blanks.
    static QString frameText(quint32 channel, const QByteArray &payload);

    quint64 count(quint32 channel) const { return _counts.value(channel); }

private:
    void log(const QString &title, quint32 channel, const QByteArray &payload, quint64 count) const;
    // Logs the line for a thing's first frame, then for every _logEvery-th
    // with the count so far.
    void log(QString line, quint64 count) const;

    QHash<quint32, quint64> _counts; // frames seen per logged channel
    quint64 _otherFormats = 0;       // frames not in the standard data format
};

} // namespace Can
