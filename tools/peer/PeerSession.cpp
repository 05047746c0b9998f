#include "peer/PeerSession.h"

#include <QDeadlineTimer>
#include <QEventLoop>

#include "canbus/MessageBuilder.h"

namespace {
constexpr int kOpenTimeoutMs = 5000;
// The virtual bus's server learns a new node's interface from its first
// line; frames written before that could be lost.
constexpr int kSettleMs = 100;
} // namespace

PeerSession::PeerSession(QObject *parent)
    : QObject(parent)
{
    connect(&_bus, &PeerBus::frameReceived, this, &PeerSession::onFrame);
    connect(&_checkInTimer, &QTimer::timeout, this, &PeerSession::checkIn);
}

bool PeerSession::open(const QString &plugin, const QString &interface, QString &error)
{
    if (!_bus.open(plugin, interface, kOpenTimeoutMs, error))
        return false;
    waitFor([] { return false; }, kSettleMs);
    return true;
}

Sequence PeerSession::nextSequence()
{
    // Like the service's counters: 1 to 32767, then 1 again.
    _sequence = _sequence >= 32767 ? Sequence(1) : Sequence(_sequence + 1);
    return _sequence;
}

Sequence PeerSession::send(quint16 id, const QByteArray &payload, bool requestAck)
{
    const Sequence counter = nextSequence();
    const Sequence sequence = requestAck ? Sequence(-counter) : counter;
    return sendWithSequence(id, payload, sequence) ? sequence : Sequence(0);
}

bool PeerSession::sendWithSequence(quint16 id, const QByteArray &payload, Sequence sequence)
{
    Can::MessageBuilder builder;
    FrameList frames;
    builder.buildFrames(id, payload, frames, sequence);
    for (const QByteArray &frame : frames)
        if (!_bus.write(Can::eChlid_UI_TD, frame))
            return false;
    return true;
}

void PeerSession::onFrame(const RawFrame &frame)
{
    emit frameReceived(frame);
    for (const ReceivedMessage &message : _assembler.take(frame)) {
        if (isAcknowledgement(message))
            _acknowledged.insert(message.sequence);
        if (_keepHistory)
            _history.append(message);
        emit messageReceived(message);
    }
}

bool PeerSession::isAcknowledgement(const ReceivedMessage &message)
{
    return message.status == ReceivedMessage::Complete && message.channel == Can::eChlid_TD_UI &&
           message.id == Can::ID_ACK_MESSAGE_THAT_REQUIRES_ACK;
}

int PeerSession::find(int from, const Match &match) const
{
    for (int i = qMax(0, from); i < _history.size(); ++i)
        if (_history.at(i).status == ReceivedMessage::Complete && match(_history.at(i)))
            return i;
    return -1;
}

bool PeerSession::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    if (_stopped)
        return false;
    if (condition())
        return true;
    QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    bool met = false;
    // A condition may itself wait (and so run this loop's timer again from
    // its own loop); it is never re-entered.
    bool checking = false;
    const auto check = [&] {
        if (checking)
            return;
        checking = true;
        if (_stopped || deadline.hasExpired()) {
            loop.quit();
        } else if (condition()) {
            met = true;
            loop.quit();
        }
        checking = false;
    };
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, check);
    const QMetaObject::Connection onMessage = connect(this, &PeerSession::messageReceived, &loop, check);
    poll.start(5);
    loop.exec();
    disconnect(onMessage);
    return met && !_stopped;
}

int PeerSession::waitForMessage(int from, const Match &match, int timeoutMs)
{
    int found = -1;
    waitFor(
        [&] {
            found = find(from, match);
            return found >= 0;
        },
        timeoutMs);
    return found;
}

bool PeerSession::isAcknowledged(Sequence sent) const
{
    return sent < 0 && _acknowledged.contains(Sequence(-sent));
}

bool PeerSession::waitForAcknowledgement(Sequence sent, int timeoutMs)
{
    return waitFor([&] { return isAcknowledged(sent); }, timeoutMs);
}

void PeerSession::checkIn()
{
    const Sequence sequence = send(Can::ID_UI_CHECK_IN, QByteArray(), true);
    if (sequence != 0) {
        _checkIns.append({sequence, PeerBus::nowUs()});
        emit checkInSent(sequence);
    }
}

void PeerSession::startCheckIns(int intervalMs)
{
    checkIn();
    _checkInTimer.start(intervalMs);
}

void PeerSession::stopCheckIns()
{
    _checkInTimer.stop();
}

int PeerSession::checkInsUnanswered(int graceMs) const
{
    const qint64 before = PeerBus::nowUs() - qint64(graceMs) * 1000;
    int count = 0;
    for (const CheckIn &checkIn : _checkIns)
        if (checkIn.sentUs < before && !isAcknowledged(checkIn.sequence))
            ++count;
    return count;
}
