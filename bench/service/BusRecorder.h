#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QVector>

#include "GapMeter.h"
#include "MessageGlobals.h"

class PeerSession;
struct RawFrame;
struct ReceivedMessage;

// Watches the service's side of the bus from the UI board's: the gaps
// between the frames the service sends and how long each acknowledgement
// takes. Times are taken on the monotonic clock when a frame reaches this
// process, so they include the bus's delivery, not only the service's pace:
// a frame delivered late followed by one on time shows a gap shorter than
// the service left. Where the bus can tell when the service wrote each
// frame (the local bus), those gaps are kept too.
class BusRecorder : public QObject
{
    Q_OBJECT

public:
    static constexpr double kPacingMs = 7.0; // the service's promised least gap

    struct Result {
        GapMeter received;           // frames from the service, as they arrived here
        GapMeter written;            // the same, as the service wrote them (local bus only)
        int requests = 0;            // acknowledgement requests written while recording
        QVector<double> latenciesMs; // acknowledgements received while recording
    };

    explicit BusRecorder(PeerSession &session, QObject *parent = nullptr);

    // A request asking for an acknowledgement was just written with this
    // (negative) sequence. Requests are noted whether or not recording is on,
    // so that late acknowledgements still find their request.
    void onRequestSent(Sequence sequence);
    // The service wrote a frame at this time (any clock, nanoseconds).
    void onServiceWrite(qint64 timeNs);

    void start();
    void stop();
    const Result &result() const { return _result; }

private:
    void onFrame(const RawFrame &frame);
    void onMessage(const ReceivedMessage &message);

    bool _recording = false;
    qint64 _lastFrameNs = -1;
    QHash<Sequence, QList<qint64>> _pending; // by the sequence the acknowledgement carries, oldest first
    Result _result;
};
