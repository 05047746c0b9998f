#include "LocalCanDevice.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// One frame on the local bus, one packet each, laid out like SocketCAN's
// classic frame (native byte order: the bus never leaves the machine).
struct Record {
    quint32 id = 0;    // bit 31: extended identifier
    quint8 length = 0; // payload bytes, 0 to 8
    quint8 flags = 0;  // bit 0: remote request
    quint8 reserved[2] = {};
    quint8 data[8] = {};
};
static_assert(sizeof(Record) == 16, "one record is one SocketCAN-sized frame");

constexpr quint32 kExtended = 0x80000000u;
constexpr quint8 kRemote = 0x01;
constexpr int kMaxPayload = 8;

bool toRecord(const QCanBusFrame &frame, Record &record)
{
    const bool remote = frame.frameType() == QCanBusFrame::RemoteRequestFrame;
    if (!frame.isValid() || frame.hasFlexibleDataRateFormat() || frame.payload().size() > kMaxPayload ||
        (frame.frameType() != QCanBusFrame::DataFrame && !remote))
        return false;
    record.id = frame.frameId() | (frame.hasExtendedFrameFormat() ? kExtended : 0u);
    record.length = quint8(frame.payload().size());
    record.flags = remote ? kRemote : 0;
    std::memcpy(record.data, frame.payload().constData(), record.length);
    return true;
}

bool fromRecord(const Record &record, QCanBusFrame &frame)
{
    if (record.length > kMaxPayload)
        return false;
    frame.setFrameId(record.id & ~kExtended);
    frame.setExtendedFrameFormat((record.id & kExtended) != 0);
    frame.setPayload(QByteArray(reinterpret_cast<const char *>(record.data), record.length));
    if (record.flags & kRemote)
        frame.setFrameType(QCanBusFrame::RemoteRequestFrame);
    // Like SocketCAN's stamp: the wall-clock time of reception.
    using namespace std::chrono;
    const qint64 us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    frame.setTimeStamp(QCanBusFrame::TimeStamp::fromMicroSeconds(us));
    return frame.isValid();
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

LocalCanDevice::LocalCanDevice(const QString &interfaceName, QObject *parent)
    : QCanBusDevice(parent)
    , _path(socketPath(interfaceName))
{
}

LocalCanDevice::~LocalCanDevice()
{
    closeSocket();
}

QString LocalCanDevice::socketPath(const QString &interfaceName)
{
    if (interfaceName.startsWith(QLatin1Char('/')))
        return interfaceName;
    const QString folder = qEnvironmentVariable(kFolderVariable);
    if (folder.isEmpty() || interfaceName.isEmpty() || interfaceName.contains(QLatin1Char('/')))
        return QString();
    return QDir(folder).filePath(interfaceName);
}

bool LocalCanDevice::open()
{
    const QByteArray path = QFile::encodeName(_path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path) {
        setError(tr("No usable bus socket path '%1'").arg(_path), ConnectionError);
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    _socket = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (_socket < 0 || ::connect(_socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        setError(tr("Cannot reach the bus at %1: %2").arg(_path, errnoText()), ConnectionError);
        closeSocket();
        return false;
    }
    _notifier = new QSocketNotifier(_socket, QSocketNotifier::Read, this);
    connect(_notifier, &QSocketNotifier::activated, this, &LocalCanDevice::onReadable);
    setState(ConnectedState);
    return true;
}

void LocalCanDevice::close()
{
    closeSocket();
    setState(UnconnectedState);
}

void LocalCanDevice::closeSocket()
{
    delete _notifier;
    _notifier = nullptr;
    if (_socket >= 0)
        ::close(_socket);
    _socket = -1;
}

void LocalCanDevice::lose(const QString &why)
{
    setError(why, ConnectionError);
    closeSocket();
    setState(UnconnectedState);
}

bool LocalCanDevice::writeFrame(const QCanBusFrame &frame)
{
    if (state() != ConnectedState) {
        setError(tr("Cannot write a frame: the device is not connected"), OperationError);
        return false;
    }
    Record record;
    if (!toRecord(frame, record)) {
        setError(tr("Cannot write the frame: classic frames of up to 8 bytes only"), WriteError);
        return false;
    }
    if (::send(_socket, &record, sizeof record, MSG_DONTWAIT | MSG_NOSIGNAL) != ssize_t(sizeof record)) {
        setError(errnoText(), WriteError);
        return false;
    }
    emit framesWritten(1);
    return true;
}

void LocalCanDevice::onReadable()
{
    // As Qt's SocketCAN device reads its raw socket: one frame per read, read
    // until none is left, and what was read is reported together. On a
    // lightly loaded bus that is one frame, and one wake-up, per frame.
    QVector<QCanBusFrame> frames;
    for (;;) {
        Record record;
        const ssize_t got = ::recv(_socket, &record, sizeof record, MSG_DONTWAIT);
        if (got == ssize_t(sizeof record)) {
            QCanBusFrame frame;
            if (fromRecord(record, frame))
                frames.append(frame);
            else
                setError(tr("Invalid frame on the bus"), ReadError);
            continue;
        }
        if (got == 0)
            lose(tr("The bus server closed the connection"));
        else if (got > 0)
            setError(tr("Incomplete frame of %1 bytes on the bus").arg(got), ReadError);
        else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            lose(errnoText());
        break;
    }
    if (!frames.isEmpty())
        enqueueReceivedFrames(frames);
}

QString LocalCanDevice::interpretErrorFrame(const QCanBusFrame &errorFrame)
{
    Q_UNUSED(errorFrame) // the local bus has no error frames
    return QString();
}
