#pragma once

#include <QObject>
#include <QString>

#include <vector>

class QSocketNotifier;

// The bus of LocalCanDevice: a Unix-domain socket of packets, one frame
// each, on which whatever one node writes reaches every other node at once,
// as on a CAN bus. It lives in the process that hosts it, on that thread's
// event loop, and never looks into the frames. The kernel stamps each frame
// when its node writes it, so the server can tell when frames were written
// however late it gets to them.
class LocalCanServer : public QObject
{
    Q_OBJECT

public:
    using Node = quint64; // numbered from 1 in the order the nodes joined

    explicit LocalCanServer(QObject *parent = nullptr);
    ~LocalCanServer() override;

    // Listens on path (which must not exist yet). On failure error says why.
    bool listen(const QString &path, QString &error);
    void close();

    int nodes() const { return int(_nodes.size()); }
    quint64 forwarded() const { return _forwarded; }
    // Frames a node could not take because its receive queue was full; a
    // real bus has no such loss, so a measurement with drops is suspect.
    quint64 dropped() const { return _dropped; }
    // The node that joined last; 0 before any.
    Node lastNode() const { return _lastNode; }

signals:
    // A node wrote a frame at writtenNs (CLOCK_REALTIME, nanoseconds).
    void didCarry(LocalCanServer::Node node, qint64 writtenNs);

private:
    struct Connection {
        Node node = 0;
        int socket = -1;
        QSocketNotifier *notifier = nullptr;
    };

    void onConnection();
    void onReadable(const Connection &from);
    void forward(int from, const char *packet, int size);
    void removeNode(int socket);

    QString _path;
    int _listener = -1;
    QSocketNotifier *_listenNotifier = nullptr;
    std::vector<Connection> _nodes;
    Node _lastNode = 0;
    quint64 _forwarded = 0;
    quint64 _dropped = 0;
};
