#pragma once

#include <QCanBusDevice>
#include <QString>

class QSocketNotifier;

// A CAN device on a LocalCanServer bus. It reads as Qt's SocketCAN device
// reads a raw socket: one frame per read, until none is left, all reported
// with one framesReceived; on a lightly loaded bus every frame wakes the
// reading thread once. Each write goes out at once and is confirmed with
// framesWritten(1) before writeFrame returns. Classic data frames only.
//
// The interface name leads to the server's socket: an absolute path, or a
// name (the service accepts only "can..." names) in the folder that the
// environment variable RARAROZ_LOCALCAN_DIR gives.
class LocalCanDevice : public QCanBusDevice
{
    Q_OBJECT

public:
    static constexpr const char *kFolderVariable = "RARAROZ_LOCALCAN_DIR";

    explicit LocalCanDevice(const QString &interfaceName, QObject *parent = nullptr);
    ~LocalCanDevice() override;

    bool writeFrame(const QCanBusFrame &frame) override;
    QString interpretErrorFrame(const QCanBusFrame &errorFrame) override;

    // The socket an interface name leads to; empty when it leads nowhere.
    static QString socketPath(const QString &interfaceName);

protected:
    bool open() override;
    void close() override;

private:
    void onReadable();
    void closeSocket();
    void lose(const QString &why);

    QString _path;
    int _socket = -1;
    QSocketNotifier *_notifier = nullptr; // a child, so it follows the device's thread
};
