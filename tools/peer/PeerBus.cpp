#include "peer/PeerBus.h"

#include <QCanBus>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>

PeerBus::PeerBus(QObject *parent)
    : QObject(parent)
{
}

PeerBus::~PeerBus()
{
    close();
}

qint64 PeerBus::nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

bool PeerBus::open(const QString &plugin, const QString &interface, int timeoutMs, QString &error)
{
    close();
    if (!QCanBus::instance()->plugins().contains(plugin)) {
        error = QStringLiteral("no CAN bus plug-in '%1' (available: %2)")
                    .arg(plugin, QCanBus::instance()->plugins().join(QStringLiteral(", ")));
        return false;
    }
    QString why;
    _device.reset(QCanBus::instance()->createDevice(plugin, interface, &why));
    if (!_device) {
        error = QStringLiteral("cannot create CAN interface %1 with plug-in %2: %3").arg(interface, plugin, why);
        return false;
    }
    _interface = interface;
    connect(_device.get(), &QCanBusDevice::framesReceived, this, &PeerBus::onFramesReceived);
    if (!_device->connectDevice()) {
        error = QStringLiteral("cannot open CAN interface %1 with plug-in %2: %3")
                    .arg(interface, plugin, _device->errorString());
        _device.reset();
        return false;
    }

    // Some plug-ins connect asynchronously; wait for them, serving events.
    QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (_device->state() == QCanBusDevice::ConnectedState || _device->state() == QCanBusDevice::UnconnectedState ||
            deadline.hasExpired())
            loop.quit();
    });
    poll.start(5);
    if (_device->state() != QCanBusDevice::ConnectedState)
        loop.exec();
    if (_device->state() != QCanBusDevice::ConnectedState) {
        const QString reason =
            _device->errorString().isEmpty() ? QStringLiteral("not connected in time") : _device->errorString();
        error = QStringLiteral("cannot open CAN interface %1 with plug-in %2: %3").arg(interface, plugin, reason);
        _device.reset();
        return false;
    }
    connect(_device.get(), &QCanBusDevice::errorOccurred, this, &PeerBus::onError);
    return true;
}

void PeerBus::close()
{
    if (!_device)
        return;
    disconnect(_device.get(), nullptr, this, nullptr);
    if (_device->state() != QCanBusDevice::UnconnectedState)
        _device->disconnectDevice();
    _device.reset();
}

bool PeerBus::isOpen() const
{
    return _device && _device->state() == QCanBusDevice::ConnectedState;
}

bool PeerBus::write(quint32 channel, const QByteArray &data)
{
    if (!isOpen())
        return false;
    QCanBusFrame frame(channel, data);
    return _device->writeFrame(frame);
}

void PeerBus::onFramesReceived()
{
    while (_device && _device->framesAvailable()) {
        const QCanBusFrame frame = _device->readFrame();
        if (!frame.isValid() || frame.frameType() != QCanBusFrame::DataFrame)
            continue;
        emit frameReceived(RawFrame{nowUs(), frame.frameId(), frame.payload()});
    }
}

void PeerBus::onError(QCanBusDevice::CanBusError error)
{
    // Write and read hiccups are reported by the operations themselves; only
    // losing the connection ends a session.
    if (error == QCanBusDevice::ConnectionError)
        emit failed(_device ? _device->errorString() : QStringLiteral("connection lost"));
}
