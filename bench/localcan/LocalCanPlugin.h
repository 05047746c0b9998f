#pragma once

#include <QCanBusFactoryV2>
#include <QObject>

// The "localcan" CAN bus plug-in: devices on a LocalCanServer bus, for
// machines without SocketCAN. Found by Qt in <plug-in folder>/canbus/.
//
// Qt 5.15's loader picks CAN bus plug-ins by the first interface's
// identifier; the factory it then asks for is the V2 one.
class LocalCanPlugin : public QObject, public QCanBusFactoryV2
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QCanBusFactory" FILE "localcan.json")
    Q_INTERFACES(QCanBusFactoryV2)

public:
    // The buses are whatever servers run; none is listed.
    QList<QCanBusDeviceInfo> availableDevices(QString *errorMessage) const override;
    QCanBusDevice *createDevice(const QString &interfaceName, QString *errorMessage) const override;
};
