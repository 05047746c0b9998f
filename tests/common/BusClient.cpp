#include "BusClient.h"

#include <QCanBus>
#include <QDeadlineTimer>
#include <QTest>

#include "MessageBuilder.h"

BusClient::BusClient(const QString &interface)
    : _interface(interface)
{
}

bool BusClient::connectBus()
{
    QString error;
    _device.reset(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), _interface, &error));
    if (!_device)
        return false;
    connect(_device.get(), &QCanBusDevice::framesReceived, this, &BusClient::onFramesReceived);
    if (!_device->connectDevice())
        return false;
    QDeadlineTimer deadline(5000);
    while (_device->state() != QCanBusDevice::ConnectedState && !deadline.hasExpired())
        QTest::qWait(10);
    return _device->state() == QCanBusDevice::ConnectedState;
}

bool BusClient::sendFrame(quint32 id, const QByteArray &payload)
{
    return _device && _device->writeFrame(QCanBusFrame(id, payload));
}

bool BusClient::sendMessage(quint32 channel, quint16 messageId, Sequence sequence, const QByteArray &payload)
{
    Can::MessageBuilder builder;
    FrameList frameList;
    builder.buildFrames(messageId, payload, frameList, sequence);
    for (const QByteArray &frame : frameList)
        if (!sendFrame(channel, frame))
            return false;
    return true;
}

QList<QCanBusFrame> BusClient::frames(quint32 channel) const
{
    QList<QCanBusFrame> result;
    for (const QCanBusFrame &frame : _frames)
        if (channel == 0xFFFFFFFF || frame.frameId() == channel)
            result << frame;
    return result;
}

bool BusClient::waitForFrame(quint32 channel, const QByteArray &payload, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (const QCanBusFrame &frame : _frames)
            if (frame.frameId() == channel && frame.payload() == payload)
                return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
}

void BusClient::onFramesReceived()
{
    while (_device->framesAvailable())
        _frames << _device->readFrame();
}
