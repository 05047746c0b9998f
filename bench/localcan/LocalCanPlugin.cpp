#include "LocalCanPlugin.h"

#include "LocalCanDevice.h"

QList<QCanBusDeviceInfo> LocalCanPlugin::availableDevices(QString *errorMessage) const
{
    Q_UNUSED(errorMessage)
    return {};
}

QCanBusDevice *LocalCanPlugin::createDevice(const QString &interfaceName, QString *errorMessage) const
{
    if (LocalCanDevice::socketPath(interfaceName).isEmpty()) {
        if (errorMessage)
            *errorMessage = QStringLiteral("no bus for '%1': give the server's socket path, or a name and %2")
                                .arg(interfaceName, QLatin1String(LocalCanDevice::kFolderVariable));
        return nullptr;
    }
    return new LocalCanDevice(interfaceName);
}
