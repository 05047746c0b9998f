#include "canbus/CanInterface.h"

#include <QCanBus>
#include <QTimerEvent>

#include <cstdio>

#include "CommandLine.h"
#include "storage/Logger.h"
#include "Threads.h"
#include "utility/types.h"

namespace Can {

namespace {

// Repeated identical device errors are logged once per this many errors.
constexpr FrameCount kErrorLogEvery = 100000;

CanInterface::DeviceFactory &deviceFactory()
{
    static CanInterface::DeviceFactory factory;
    return factory;
}

} // namespace

CanInterface::CanInterface(QObject *parent)
    : QObject(parent)
{
    _readClock.start();
}

CanInterface::~CanInterface() = default;

void CanInterface::setDeviceFactory(DeviceFactory factory)
{
    deviceFactory() = std::move(factory);
}

bool CanInterface::init()
{
    if (_init)
        return false;
    _init = true;
    return openBus();
}

bool CanInterface::openBus()
{
    // The options are final by now; read them here rather than at first use
    // of I(), which may come earlier.
    _canType = gCanPlugin;
    _canInterface = gActiveCANBus;

    if (!initDevice())
        return false;
    if (!testDevice())
        return false;

    connectDevice();
    status(QStringLiteral("Connected"));
    LOG_DEBUG(
        QStringLiteral("UI,%1,%2")
            .arg(QStringLiteral("%1 Initialized").arg(QString::fromLatin1(metaObject()->className())), _canStatus));
    emit didBusConnected();
    return true;
}

bool CanInterface::init(QThread &thread)
{
    if (_init)
        return false;
    _init = true;
    // A plug-in may give its device helper objects (sockets) that are not its
    // children, and those stay on the thread that opened the device. So the
    // device is made and opened on the CAN thread itself, where it is used and
    // closed. Without a bus the service goes back to the main thread.
    const bool wasRunning = thread.isRunning();
    initThread(thread);
    bool opened = false;
    QMetaObject::invokeMethod(
        this,
        [this, &opened] {
            opened = openBus();
            if (!opened) {
                Threads::returnToMainThread(*this, _thread);
                _thread = nullptr;
            }
        },
        Qt::BlockingQueuedConnection);
    if (!opened && !wasRunning)
        Threads::quitThread(thread); // started only for the attempt
    return opened;
}

void CanInterface::initThread(QThread &thread)
{
    Threads::initThread(*this, thread, _thread);
}

void CanInterface::quit()
{
    // The device and its sockets belong to this thread: close them here,
    // before the service goes back to the main thread.
    quitDevice();
    quitThread();
}

void CanInterface::quitThread()
{
    Threads::returnToMainThread(*this, _thread);
}

QCanBusDevice *CanInterface::createDevice(QString *errorText) const
{
    const DeviceFactory &factory = deviceFactory();
    if (factory)
        return factory(_canType, _canInterface, errorText);
    return QCanBus::instance()->createDevice(_canType, _canInterface, errorText);
}

void CanInterface::configureDevice()
{
    _canDevice->setParent(this);
    _canDevice->setConfigurationParameter(QCanBusDevice::CanFdKey, _canFDKey);
    _canDevice->setConfigurationParameter(QCanBusDevice::BitRateKey, _canBitRate);
}

bool CanInterface::initDevice()
{
    QString errorText;
    _canDevice = createDevice(&errorText);
    if (!_canDevice) {
        status(tr("Device Creation"), errorText);
        LOG_DEBUG(_canStatus);
        return false;
    }
    configureDevice();
    return true;
}

bool CanInterface::testDevice()
{
    if (_canDevice->connectDevice())
        return true;
    status(tr("Connection"));
    LOG_DEBUG(_canStatus);
    delete _canDevice;
    _canDevice = nullptr;
    return false;
}

void CanInterface::connectDevice()
{
    connect(_canDevice, &QCanBusDevice::framesReceived, this, &CanInterface::onFrameReceive);
    connect(_canDevice, &QCanBusDevice::errorOccurred, this, &CanInterface::onFrameError);
    connect(_canDevice, &QCanBusDevice::framesWritten, this, &CanInterface::onFrameWritten);
    connect(_canDevice, &QCanBusDevice::stateChanged, this, &CanInterface::onDeviceStateChange);
    findReadNotifier();
}

void CanInterface::findReadNotifier()
{
    // A plug-in that reads through a socket notifier of its own (SocketCAN's
    // does) lets reads be coalesced; any other is read as it reports frames.
    _readNotifier.clear();
    const auto notifiers = _canDevice->findChildren<QSocketNotifier *>(QString(), Qt::FindDirectChildrenOnly);
    for (QSocketNotifier *notifier : notifiers)
        if (notifier->type() == QSocketNotifier::Read)
            _readNotifier = notifier;
}

bool CanInterface::restsAfterRead(qint64 sinceLastReadNs)
{
    return sinceLastReadNs >= _backlogReadsNs && sinceLastReadNs < _busyReadsNs;
}

void CanInterface::restReading()
{
    const qint64 now = _readClock.nsecsElapsed();
    const qint64 sinceLast = now - _lastReadNs;
    _lastReadNs = now;
    if (!restsAfterRead(sinceLast) || !_readNotifier || !_readNotifier->isEnabled())
        return;
    _readNotifier->setEnabled(false);
    const int budgetMs = _readRestBudget ? _readRestBudget() : 0;
    _readRestTimer.start(qBound(_readRestMs, budgetMs, _readRestMaxMs), Qt::PreciseTimer, this);
    ++_readRests;
}

void CanInterface::deleteDevice()
{
    if (!_canDevice)
        return;
    // Cut the device off first: its own closing must not read as a lost bus.
    _canDevice->disconnect(this);
    if (_canDevice->state() != QCanBusDevice::UnconnectedState && _canDevice->state() != QCanBusDevice::ClosingState)
        _canDevice->disconnectDevice();
    delete _canDevice;
    _canDevice = nullptr;
}

void CanInterface::quitDevice()
{
    _retryTimer.stop();
    _busLost = false;
    if (!_canDevice)
        return;
    deleteDevice();
    status(tr("Disconnected"));
}

void CanInterface::status(const QString &description, const QString &error)
{
    _canStatus = QStringLiteral("%1 '%2[%3]', %4")
                     .arg(description, _canType, _canInterface, _canDevice ? _canDevice->errorString() + error : error);
}

void CanInterface::enableConsoleOut(bool enable)
{
    if (_enableConsoleOut == enable)
        return;
    _enableConsoleOut = enable;
    LOG_DEBUG(enable ? QStringLiteral("Console out CanInterface enabled")
                     : QStringLiteral("Console out CanInterface disabled"));
}

void CanInterface::onFrameReceive()
{
    while (_canDevice && _canDevice->framesAvailable()) {
        const QCanBusFrame frame = _canDevice->readFrame();
        Types::safeIncrement(_rxFrameCount);
        if (_enableConsoleOut)
            consoleOut(frame, QStringLiteral("Rx:%1").arg(_rxFrameCount));
        emit didFrameReceive(frame);
    }
    restReading();
}

void CanInterface::onFrameTransmit(const QCanBusFrame &frame)
{
    // While the bus is lost the device cannot write; do not ask it, some
    // plug-ins complain on every attempt.
    const bool ok = _canDevice && !_busLost && _canDevice->writeFrame(frame);
    Types::safeIncrement(_txFrameCount);
    if (_enableConsoleOut)
        consoleOut(frame, QStringLiteral("Tx:%1").arg(_txFrameCount));
    emit didFrameTransmit(ok);
}

void CanInterface::onFrameError(QCanBusDevice::CanBusError error)
{
    Types::safeIncrement(_erFrameCount);
    switch (error) {
    case QCanBusDevice::ReadError:
    case QCanBusDevice::WriteError:
    case QCanBusDevice::ConnectionError:
    case QCanBusDevice::ConfigurationError:
    case QCanBusDevice::UnknownError: {
        const QString text = _canDevice ? _canDevice->errorString() : QString();
        if (text != _canStatus || _erFrameCount % kErrorLogEvery == 0) {
            _canStatus = text;
            LOG_DEBUG(QStringLiteral("%1 - %2").arg(_erFrameCount).arg(text));
        }
        break;
    }
    default:
        break;
    }
    if (error == QCanBusDevice::ConnectionError)
        busLost();
    emit didFrameError(_canStatus);
}

void CanInterface::onFrameWritten(qint64 framesCount)
{
    emit didFrameWritten(framesCount);
}

void CanInterface::onDeviceStateChange(QCanBusDevice::CanBusDeviceState state)
{
    switch (state) {
    case QCanBusDevice::UnconnectedState:
        busLost();
        break;
    case QCanBusDevice::ConnectedState:
        if (_busLost)
            busRecovered();
        break;
    default:
        break;
    }
}

void CanInterface::busLost()
{
    // Said once per loss; the retries that follow stay quiet until one works.
    // Without a device there was no bus to lose (start-up failure stays idle).
    if (_busLost || !_canDevice)
        return;
    _busLost = true;
    status(tr("Connection"));
    LOG_DEBUG(QStringLiteral("CAN bus lost: %1").arg(_canStatus));
    _retryTimer.start(_retryInterval, this);
    emit didBusLost();
}

void CanInterface::busRecovered()
{
    _busLost = false;
    _retryTimer.stop();
    status(QStringLiteral("Connected"));
    LOG_DEBUG(QStringLiteral("CAN bus recovered: %1").arg(_canStatus));
    emit didBusConnected();
}

void CanInterface::reconnect()
{
    if (!_busLost) {
        _retryTimer.stop();
        return;
    }
    Types::safeIncrement(_reconnectAttempts);

    // A device that lost its bus is not reused: some plug-ins never leave a
    // failed state, and a fresh device starts from a known one.
    deleteDevice();
    QString errorText;
    _canDevice = createDevice(&errorText);
    if (!_canDevice)
        return;
    configureDevice();
    if (!_canDevice->connectDevice()) {
        deleteDevice();
        return;
    }
    connectDevice();
    // Plug-ins that connect at once report no state change after connectDevice.
    if (_canDevice->state() == QCanBusDevice::ConnectedState)
        busRecovered();
}

void CanInterface::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == _retryTimer.timerId()) {
        reconnect();
    } else if (event->timerId() == _readRestTimer.timerId()) {
        _readRestTimer.stop();
        // What waited is read next, one frame after the other: counted from
        // here, none of those reads rests again.
        _lastReadNs = _readClock.nsecsElapsed();
        if (_readNotifier)
            _readNotifier->setEnabled(true);
    } else {
        QObject::timerEvent(event);
    }
}

QString CanInterface::formatFrame(const QString &prefix, const QCanBusFrame &frame, const QString &errorText)
{
    const QCanBusFrame::TimeStamp stamp = frame.timeStamp();
    const QString time =
        QStringLiteral("%1.%2 ").arg(stamp.seconds(), 10).arg(stamp.microSeconds() / 100, 4, 10, QLatin1Char('0'));

    QString flags = QStringLiteral(" --- ");
    if (frame.hasBitrateSwitch())
        flags[1] = QLatin1Char('B');
    if (frame.hasErrorStateIndicator())
        flags[2] = QLatin1Char('E');
    if (frame.hasLocalEcho())
        flags[3] = QLatin1Char('L');

    QString data;
    if (frame.frameType() == QCanBusFrame::ErrorFrame) {
        data = errorText;
    } else {
        // Every 0xA5 byte stands out, not only the sync byte of a header.
        data = QString::fromLatin1(frame.payload().toHex('.'));
        data.replace(QLatin1String("a5"), QLatin1String("\033[1;33mA5\033[0m"));
    }

    return QStringList{prefix, time, flags, QString::number(frame.frameId()), data}.join(QLatin1Char(' '));
}

void CanInterface::consoleOut(const QCanBusFrame &frame, const QString &prefix)
{
    QString errorText;
    if (frame.frameType() == QCanBusFrame::ErrorFrame && _canDevice)
        errorText = _canDevice->interpretErrorFrame(frame);
    const QByteArray line = formatFrame(prefix, frame, errorText).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace Can
