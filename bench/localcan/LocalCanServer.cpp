#include "LocalCanServer.h"

#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <ctime>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Larger than any frame the devices write, so nothing is ever cut short.
constexpr int kMaxPacket = 64;
// A node's queue of frames not yet read: several seconds of a saturated bus,
// so a reader that stalls for a moment loses nothing (capped by the kernel's
// net.core.wmem_max).
constexpr int kSendBuffer = 4 * 1024 * 1024;

} // namespace

LocalCanServer::LocalCanServer(QObject *parent)
    : QObject(parent)
{
}

LocalCanServer::~LocalCanServer()
{
    close();
}

bool LocalCanServer::listen(const QString &path, QString &error)
{
    close();
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || size_t(name.size()) >= sizeof address.sun_path) {
        error = QStringLiteral("unusable socket path '%1'").arg(path);
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));

    _listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (_listener < 0 || ::bind(_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(_listener, 8) != 0) {
        error = QStringLiteral("cannot listen on %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (_listener >= 0)
            ::close(_listener);
        _listener = -1;
        return false;
    }
    _path = path;
    _listenNotifier = new QSocketNotifier(_listener, QSocketNotifier::Read, this);
    connect(_listenNotifier, &QSocketNotifier::activated, this, &LocalCanServer::onConnection);
    return true;
}

void LocalCanServer::close()
{
    while (!_nodes.empty())
        removeNode(_nodes.back().socket);
    delete _listenNotifier;
    _listenNotifier = nullptr;
    if (_listener >= 0) {
        ::close(_listener);
        ::unlink(QFile::encodeName(_path).constData());
    }
    _listener = -1;
}

void LocalCanServer::onConnection()
{
    const int socket = ::accept4(_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (socket < 0)
        return;
    constexpr int kOn = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
    ::setsockopt(socket, SOL_SOCKET, SO_TIMESTAMPNS, &kOn, sizeof kOn);
    const Connection connection{++_lastNode, socket, new QSocketNotifier(socket, QSocketNotifier::Read, this)};
    connect(connection.notifier, &QSocketNotifier::activated, this, [this, connection] { onReadable(connection); });
    _nodes.push_back(connection);
}

void LocalCanServer::onReadable(const Connection &from)
{
    char packet[kMaxPacket];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    for (;;) {
        iovec data{packet, sizeof packet};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(from.socket, &message, MSG_DONTWAIT);
        if (got > 0) {
            forward(from.socket, packet, int(got));
            const cmsghdr *stamp = CMSG_FIRSTHDR(&message);
            if (stamp && stamp->cmsg_level == SOL_SOCKET && stamp->cmsg_type == SCM_TIMESTAMPNS) {
                timespec written;
                std::memcpy(&written, CMSG_DATA(stamp), sizeof written);
                emit didCarry(from.node, qint64(written.tv_sec) * 1000000000 + written.tv_nsec);
            }
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            removeNode(from.socket); // the node left the bus
        return;
    }
}

void LocalCanServer::forward(int from, const char *packet, int size)
{
    for (const Connection &node : _nodes) {
        if (node.socket == from)
            continue;
        if (::send(node.socket, packet, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL) == size)
            ++_forwarded;
        else
            ++_dropped;
    }
}

void LocalCanServer::removeNode(int socket)
{
    const auto it =
        std::find_if(_nodes.begin(), _nodes.end(), [socket](const Connection &n) { return n.socket == socket; });
    if (it == _nodes.end())
        return;
    // This may run inside the notifier's own signal: let it go later.
    it->notifier->setEnabled(false);
    it->notifier->deleteLater();
    ::close(it->socket);
    _nodes.erase(it);
}
