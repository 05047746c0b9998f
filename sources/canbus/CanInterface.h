#pragma once

#include <QBasicTimer>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>

#include <functional>

#include "MessageGlobals.h"
#include "Singleton.h"

class QThread;

namespace Can {

// Owns the one CAN bus device of the process: reads every frame and hands it
// on, writes the frames the frame interface gives it, counts frames and
// errors, and can trace every frame on the console.
//
// A bus that was up and then went away (the network interface dropped, the
// virtual bus server stopped) is reopened about once a second until it is
// back; a bus that could not be opened at start-up is not retried.
//
// On a busy bus SocketCAN wakes this thread once per frame. Like a network
// card's interrupt coalescing, the device's read notifier then rests for
// _readRestMs after each read, and the frames that came meanwhile are read
// in one go; a frame after a quiet spell is read at once. While this system's
// own transmit queue is long, nothing read could be answered sooner than the
// queue allows: the rest then lasts as long as that costs no answer any time,
// up to _readRestMaxMs.
class CanInterface : public QObject
{
    Q_OBJECT
    RARAROZ_SINGLETON_TESTABLE(CanInterface)

public:
    // How a device is made: plug-in, interface name, error text out.
    using DeviceFactory =
        std::function<QCanBusDevice *(const QString &plugin, const QString &interfaceName, QString *errorText)>;

    ~CanInterface() override;

    bool init();
    bool init(QThread &thread);
    QString status() const { return _canStatus; }
    void enableConsoleOut(bool enable);
    // Closes and deletes the device; does nothing when there is none, so the
    // call after the event loop is harmless once quit() has closed it.
    void quitDevice();

    // Test seam: devices come from factory instead of QCanBus; an empty
    // factory restores QCanBus.
    static void setDeviceFactory(DeviceFactory factory);

    // One console trace line (no newline): prefix, time stamp, flags,
    // identifier and data. errorText is the device's reading of an error frame.
    static QString formatFrame(const QString &prefix, const QCanBusFrame &frame, const QString &errorText = QString());

    FrameCount rxFrameCount() const { return _rxFrameCount; }
    FrameCount txFrameCount() const { return _txFrameCount; }
    FrameCount erFrameCount() const { return _erFrameCount; }
    bool hasDevice() const { return _canDevice != nullptr; }
    const QCanBusDevice *device() const { return _canDevice; }
    bool isBusLost() const { return _busLost; }
    bool isRetrying() const { return _retryTimer.isActive(); }
    bool isReadingResting() const { return _readRestTimer.isActive(); }
    // Milliseconds reading may rest without delaying anything sent (the frame
    // interface's transmit queue tells); called on this service's thread.
    using ReadRestBudget = std::function<int()>;
    void setReadRestBudget(ReadRestBudget budget) { _readRestBudget = std::move(budget); }
    quint64 readRests() const { return _readRests; }
    // Whether reading rests after a read that came this long after the one
    // before: on a busy bus, but not while frames that waited are read.
    static bool restsAfterRead(qint64 sinceLastReadNs);
    quint32 reconnectAttempts() const { return _reconnectAttempts; }

signals:
    void didFrameReceive(const QCanBusFrame &frame);
    void didFrameWritten(qint64 framesCount);
    void didFrameTransmit(bool ok);
    void didFrameError(const QString &status);
    // The bus is open: at start-up, or again after a loss.
    void didBusConnected();
    // The bus went away; the retry runs until didBusConnected.
    void didBusLost();

public slots:
    void quit();
    void onFrameTransmit(const QCanBusFrame &frame);
    void onFrameReceive();
    void onFrameError(QCanBusDevice::CanBusError error);
    void onFrameWritten(qint64 framesCount);
    void onDeviceStateChange(QCanBusDevice::CanBusDeviceState state);
    // One attempt to reopen a lost bus; the retry timer calls it.
    void reconnect();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void initThread(QThread &thread);
    void quitThread();
    QCanBusDevice *createDevice(QString *errorText) const;
    void configureDevice();
    bool openBus();
    bool initDevice();
    bool testDevice();
    void connectDevice();
    void deleteDevice();
    void busLost();
    void busRecovered();
    void status(const QString &description, const QString &error = QString());
    void consoleOut(const QCanBusFrame &frame, const QString &prefix);
    void findReadNotifier();
    void restReading();

    QString _canType;
    QString _canInterface;
    const int _canBitRate = 250000;
    const bool _canFDKey = false;
    QCanBusDevice *_canDevice = nullptr; // a child, so it follows the service to its thread
    QString _canStatus;
    bool _enableConsoleOut = false;

    QBasicTimer _retryTimer;
    const int _retryInterval = 1000; // ms
    bool _busLost = false;
    quint32 _reconnectAttempts = 0;

    static constexpr int _readRestMs = 2;
    // Longest rest, however long the transmit queue: what the simulator is
    // asked still reaches it this soon.
    static constexpr int _readRestMaxMs = 20;
    ReadRestBudget _readRestBudget;
    // Reads closer together than this mean a busy bus...
    static constexpr qint64 _busyReadsNs = 5000000;
    // ...and closer than this, frames that waited being read one after the
    // other (a plug-in may report one per notification): no rest then.
    static constexpr qint64 _backlogReadsNs = 200000;
    QPointer<QSocketNotifier> _readNotifier; // the device's own, where it has one
    QBasicTimer _readRestTimer;
    QElapsedTimer _readClock;
    qint64 _lastReadNs = -_busyReadsNs;
    quint64 _readRests = 0;

    QThread *_thread = nullptr;
    bool _init = false;

    FrameCount _rxFrameCount = 0;
    FrameCount _txFrameCount = 0;
    FrameCount _erFrameCount = 0;
};

} // namespace Can
