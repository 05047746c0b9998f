#pragma once

#include <QByteArray>
#include <QRandomGenerator>

class BusRecorder;
class PeerSession;

// A saturated bus seen from the service: frames from the UI board at an
// even pace, every other one a check-in asking for an acknowledgement and the
// rest garbage on the UI's channel that cannot open a message. Each frame
// is written at its due time (sleeping in between, never in bursts); between
// frames the event loop runs so the bus and the recorder keep up.
class FloodLoad
{
public:
    FloodLoad(PeerSession &session, BusRecorder &recorder, int framesPerSecond);

    // Sends for this long, keeping the pace of earlier calls.
    void run(int ms);

    qint64 sent() const { return _sent; }
    // Frames given up because this process fell too far behind; the pace
    // then resumes from now instead of catching up in a long burst.
    qint64 skipped() const { return _skipped; }

private:
    void sendOne();
    QByteArray garbage();

    PeerSession &_session;
    BusRecorder &_recorder;
    const qint64 _intervalNs;
    qint64 _nextNs = -1;
    qint64 _sent = 0;
    qint64 _skipped = 0;
    QRandomGenerator _random{20261208};
};
