#include "FloodLoad.h"

#include <QCoreApplication>

#include <cerrno>
#include <ctime>

#include "BusRecorder.h"
#include "peer/PeerSession.h"
#include "ProcessSnapshot.h"

namespace {

// A process on a busy machine often wakes a little late; frames that late
// still go (back to back), later ones are given up.
constexpr qint64 kMostLateNs = 2000000;

void sleepUntil(qint64 monotonicNs)
{
    timespec due{};
    due.tv_sec = time_t(monotonicNs / 1000000000);
    due.tv_nsec = long(monotonicNs % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
    }
}

} // namespace

FloodLoad::FloodLoad(PeerSession &session, BusRecorder &recorder, int framesPerSecond)
    : _session(session)
    , _recorder(recorder)
    , _intervalNs(1000000000 / framesPerSecond)
{
}

void FloodLoad::run(int ms)
{
    const qint64 endNs = ProcessSnapshot::monotonicNow() + qint64(ms) * 1000000;
    if (_nextNs < 0)
        _nextNs = ProcessSnapshot::monotonicNow();
    while (_nextNs < endNs) {
        sleepUntil(_nextNs);
        const qint64 now = ProcessSnapshot::monotonicNow();
        if (now - _nextNs > kMostLateNs) {
            const qint64 behind = (now - _nextNs) / _intervalNs;
            _skipped += behind;
            _nextNs += behind * _intervalNs;
        }
        sendOne();
        _nextNs += _intervalNs;
        // Delivering one frame takes the bus a few turns of this process's
        // event loop (written, read by the server, forwarded, flushed).
        for (int turn = 0; turn < 3; ++turn)
            QCoreApplication::processEvents();
    }
}

void FloodLoad::sendOne()
{
    if (_sent++ % 2 == 0) {
        _session.bus().write(Can::eChlid_UI_TD, garbage());
        return;
    }
    _recorder.onRequestSent(_session.send(Can::ID_UI_CHECK_IN, QByteArray(), true));
}

QByteArray FloodLoad::garbage()
{
    QByteArray frame(int(Can::eLenCanFrame), '\0');
    for (char &byte : frame)
        byte = char(_random.bounded(256));
    if (quint8(frame.at(0)) == Can::ePayload_Sync)
        frame[0] = char(Can::ePayload_Sync ^ 0xFF); // no sync byte: it cannot open a message
    return frame;
}
