#pragma once

#include <QCanBusDevice>
#include <QObject>

#include <memory>

#include "peer/RawFrame.h"

// The tool's node on the CAN bus, through any Qt CAN bus plug-in.
class PeerBus : public QObject
{
    Q_OBJECT

public:
    explicit PeerBus(QObject *parent = nullptr);
    ~PeerBus() override;

    // Opens the interface and waits until the device is connected. On
    // failure error is one line saying why.
    bool open(const QString &plugin, const QString &interface, int timeoutMs, QString &error);
    void close();
    bool isOpen() const;

    bool write(quint32 channel, const QByteArray &data);
    QString interface() const { return _interface; }

    static qint64 nowUs();

signals:
    void frameReceived(const RawFrame &frame);
    // The device failed after it was open (the bus went away).
    void failed(const QString &error);

private:
    void onFramesReceived();
    void onError(QCanBusDevice::CanBusError error);

    std::unique_ptr<QCanBusDevice> _device;
    QString _interface;
};
