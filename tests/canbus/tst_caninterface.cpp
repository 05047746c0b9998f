#include <QCanBus>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <sys/socket.h>
#include <unistd.h>

#include "canbus/CanInterface.h"
#include "CommandLine.h"
#include "common/LogSpy.h"
#include "common/StderrCapture.h"
#include "Threads.h"

using namespace Can;

// The CAN interface: start-up with and without a device, frames both ways,
// device errors, a bus that goes away and comes back, shutdown, and the
// console trace. Every test function has a fresh service of its own and
// sets up what it needs, so none depends on the ones before it.

namespace {

// A CAN device whose every move the test makes: whether it opens, whether
// it connects at once or later, what it receives, when its bus goes away.
class FakeCanDevice : public QCanBusDevice
{
public:
    enum Open { eOpenAtOnce, eOpenLater, eOpenFails };

    explicit FakeCanDevice(Open open)
        : _open(open)
    {
        // Frames fed to the socket are read as SocketCAN reads them: one per
        // notification of a socket of the device's own.
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, _socket) != 0)
            return;
        auto *notifier = new QSocketNotifier(_socket[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char bytes[8];
            const ssize_t size = ::read(_socket[0], bytes, sizeof bytes);
            if (size > 0)
                enqueueReceivedFrames({QCanBusFrame(0x041, QByteArray(bytes, int(size)))});
        });
    }
    ~FakeCanDevice() override
    {
        for (int fd : _socket)
            if (fd >= 0)
                ::close(fd);
    }
    void feed(char byte) { QCOMPARE(::write(_socket[1], &byte, 1), ssize_t(1)); }

    bool writeFrame(const QCanBusFrame &frame) override
    {
        if (state() != ConnectedState || !writeOk)
            return false;
        written.append(frame);
        emit framesWritten(1);
        return true;
    }
    QString interpretErrorFrame(const QCanBusFrame &) override { return QStringLiteral("fake bus error"); }

    void receive(const QVector<QCanBusFrame> &frames) { enqueueReceivedFrames(frames); }
    void raise(const QString &text, CanBusError error) { setError(text, error); }
    void finishConnect() { setState(ConnectedState); }
    void drop() { setState(UnconnectedState); }

    bool writeOk = true;
    QVector<QCanBusFrame> written;

protected:
    bool open() override
    {
        switch (_open) {
        case eOpenAtOnce:
            setState(ConnectedState);
            return true;
        case eOpenLater:
            return true; // stays connecting until finishConnect()
        case eOpenFails:
            setError(QStringLiteral("Open failed"), ConnectionError);
            return false;
        }
        return false;
    }
    void close() override { setState(UnconnectedState); }

private:
    Open _open;
    int _socket[2] = {-1, -1};
};

// What the next devices asked for will be: a fake device of a kind, one
// Qt's own plug-ins make, or none (creation failure).
struct DevicePlan {
    enum Step { eNone, eAtOnce, eLater, eFails, eQCanBus };
    QList<Step> steps;
    QList<QPointer<QCanBusDevice>> made;
    int calls = 0;
    int devices = 0; // made, whether or not they are still there

    QCanBusDevice *create(const QString &plugin, const QString &name, QString *error)
    {
        ++calls;
        const Step step = steps.isEmpty() ? eNone : steps.takeFirst();
        QCanBusDevice *device = nullptr;
        if (step == eQCanBus)
            device = QCanBus::instance()->createDevice(plugin, name, error);
        else if (step == eNone)
            *error = QStringLiteral("No such plugin: '%1'").arg(plugin);
        else
            device = new FakeCanDevice(step == eAtOnce  ? FakeCanDevice::eOpenAtOnce
                                       : step == eLater ? FakeCanDevice::eOpenLater
                                                        : FakeCanDevice::eOpenFails);
        made.append(device);
        devices += device ? 1 : 0;
        return device;
    }
    FakeCanDevice *last() const { return dynamic_cast<FakeCanDevice *>(made.last().data()); }
};

const QString kConnected = QStringLiteral("Connected 'fake[can0]', ");
const QString kNoPlugin = QStringLiteral("rararoz-nosuchplugin");
const QString kYellowA5 = QStringLiteral("\033[1;33mA5\033[0m");

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(quint8(value)));
    return result;
}

QCanBusFrame stamped(quint32 id, const QByteArray &payload, qint64 seconds, qint64 micro)
{
    QCanBusFrame frame(id, payload);
    frame.setTimeStamp(QCanBusFrame::TimeStamp(seconds, micro));
    return frame;
}

} // namespace

class TestCanInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Start-up
    void initConnectsAndLogs();
    void deviceIsConfiguredAndOwned();
    void secondInitRefusedAndCreatesNoDevice();
    void failedStartUpLeavesTheServiceIdle_data();
    void failedStartUpLeavesTheServiceIdle();
    void secondInitAfterFailureRefused();
    void transmitWithoutDeviceCountedAsFailed();

    // Frames
    void everyReceivedFrameHandedOn();
    void busyBusReadsRestAndLoseNothing();
    void whenReadingRests_data();
    void whenReadingRests();
    void transmitReportsResultAndConfirmation();

    // Device errors
    void identicalErrorsLoggedOncePer100000();
    void identicalErrorsWithoutDeviceLoggedOncePer100000();
    void changingErrorTextLoggedEachTime();
    void errorsOfOtherKindsCountedNotLogged();
    void errorsWithoutDeviceStartNoRetry();

    // Bus lost and back
    void busLossLoggedOnce();
    void retriesStayQuietUntilOneWorks();
    void writesFailAndAreCountedWhileLost();
    void connectionErrorIsALossAndRecoveryCanComeLater();
    void retryTimerReopensTheBus();

    // Shutdown
    void quitClosesDeviceAndStopsRetrying();
    void secondQuitDeviceDoesNothing();

    // Console trace
    void consoleOutSwitchLogged();
    void formatFrame_data();
    void formatFrame();
    void formatErrorFrameUsesInterpretation();
    void traceWrittenToStandardError();
    void traceOfBothDirections();

private:
    FakeCanDevice *device() const { return _plan.last(); }
    // Starts the service on a fake device that connects at once; the log
    // is cleared after.
    void start();
    // Starts the service where no plug-in of the name exists.
    void startWithoutPlugin();

    LogSpy _log;
    DevicePlan _plan;
    std::unique_ptr<CanInterface> _service;
};

void TestCanInterface::initTestCase()
{
    Threads::registerTypes();
    CanInterface::setDeviceFactory([this](const QString &plugin, const QString &name, QString *error) {
        return _plan.create(plugin, name, error);
    });
}

void TestCanInterface::init()
{
    gCanPlugin = QStringLiteral("fake");
    gActiveCANBus = QStringLiteral("can0");
    _plan = DevicePlan();
    _service = std::make_unique<CanInterface>();
    _log.clear();
}

void TestCanInterface::cleanup()
{
    _service.reset();
}

void TestCanInterface::start()
{
    _plan.steps = {DevicePlan::eAtOnce};
    QVERIFY(_service->init());
    _log.clear();
}

void TestCanInterface::startWithoutPlugin()
{
    gCanPlugin = kNoPlugin;
    _plan.steps = {DevicePlan::eQCanBus};
    QThread thread;
    QVERIFY(!_service->init(thread));
    _log.clear();
}

// Start-up ---------------------------------------------------------------

void TestCanInterface::initConnectsAndLogs()
{
    _plan.steps = {DevicePlan::eAtOnce};
    CanInterface &service = *_service;
    QVERIFY(service.init());
    QCOMPARE(service.status(), kConnected);
    QCOMPARE(_log.contents(), QStringList{QStringLiteral("UI,Can::CanInterface Initialized,") + kConnected});
    QCOMPARE(_log.lines().at(0).type, Storage::Logger::eLogDebug);
    QVERIFY(service.hasDevice());
    QCOMPARE(service.device(), device());
    QVERIFY(!service.isBusLost());
}

void TestCanInterface::deviceIsConfiguredAndOwned()
{
    start();
    // A child of the service, so it moves to the service's thread with it.
    QCOMPARE(device()->parent(), _service.get());
    QCOMPARE(device()->configurationParameter(QCanBusDevice::CanFdKey), QVariant(false));
    QCOMPARE(device()->configurationParameter(QCanBusDevice::BitRateKey), QVariant(250000));
    QCOMPARE(device()->configurationKeys(), (QVector<int>{QCanBusDevice::CanFdKey, QCanBusDevice::BitRateKey}));
}

void TestCanInterface::secondInitRefusedAndCreatesNoDevice()
{
    start();
    CanInterface &service = *_service;
    QVERIFY(!service.init());
    QThread thread;
    QVERIFY(!service.init(thread));
    QVERIFY(!thread.isRunning());
    QCOMPARE(service.thread(), QThread::currentThread());
    QCOMPARE(_plan.calls, 1);
    QCOMPARE(service.device(), device());
    QVERIFY(_log.contents().isEmpty());
}

void TestCanInterface::failedStartUpLeavesTheServiceIdle_data()
{
    QTest::addColumn<QString>("plugin");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<QString>("statusPrefix");
    QTest::addColumn<bool>("made"); // the plug-in made the device; opening it failed
    QTest::newRow("no such plug-in") << kNoPlugin << QStringLiteral("can0")
                                     << QStringLiteral("Device Creation 'rararoz-nosuchplugin[can0]', ") << false;
    QTest::newRow("no such network interface") << QStringLiteral("socketcan") << QStringLiteral("rararoz9")
                                               << QStringLiteral("Connection 'socketcan[rararoz9]', ") << true;
}

void TestCanInterface::failedStartUpLeavesTheServiceIdle()
{
    QFETCH(QString, plugin);
    QFETCH(QString, interface);
    QFETCH(QString, statusPrefix);
    QFETCH(bool, made);
    gCanPlugin = plugin;
    gActiveCANBus = interface;
    _plan.steps = {DevicePlan::eQCanBus};
    CanInterface &service = *_service;
    QThread thread;
    QVERIFY(!service.init(thread));

    QCOMPARE(_plan.calls, 1);
    QCOMPARE(_plan.devices, made ? 1 : 0);
    QVERIFY(_plan.made.first().isNull()); // none, or deleted on the failure
    QVERIFY2(service.status().startsWith(statusPrefix), qPrintable(service.status()));
    QVERIFY2(service.status().size() > statusPrefix.size(), "the plug-in's error text follows");
    if (!made) {
        // The plug-in loader's own words.
        QString expectedError;
        QVERIFY(!QCanBus::instance()->createDevice(plugin, interface, &expectedError));
        QCOMPARE(service.status(), statusPrefix + expectedError);
    }
    QCOMPARE(_log.contents(), QStringList{service.status()});
    QCOMPARE(_log.lines().at(0).type, Storage::Logger::eLogDebug);
    QCOMPARE(_log.lines().at(0).timestamp, true);
    QVERIFY(!service.hasDevice());
    // No device: the service is not moved and the thread not started.
    QCOMPARE(service.thread(), QThread::currentThread());
    QVERIFY(!thread.isRunning());
    // A bus that was never up is not retried.
    QVERIFY(!service.isRetrying());
    QTest::qWait(50);
    QCOMPARE(_plan.calls, 1);
}

void TestCanInterface::secondInitAfterFailureRefused()
{
    startWithoutPlugin();
    CanInterface &service = *_service;
    const QString status = service.status();
    QVERIFY(!service.init());
    QThread thread;
    QVERIFY(!service.init(thread));
    QCOMPARE(_plan.calls, 1);
    QVERIFY(!service.hasDevice());
    QVERIFY(!thread.isRunning());
    QCOMPARE(service.status(), status);
    QVERIFY(_log.contents().isEmpty());
}

void TestCanInterface::transmitWithoutDeviceCountedAsFailed()
{
    startWithoutPlugin();
    CanInterface &service = *_service;
    QSignalSpy results(&service, &CanInterface::didFrameTransmit);
    QSignalSpy written(&service, &CanInterface::didFrameWritten);
    for (int i = 0; i < 3; ++i)
        service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, char(i))));
    QCOMPARE(service.txFrameCount(), FrameCount(3));
    QCOMPARE(results.count(), 3);
    for (const QList<QVariant> &result : results)
        QCOMPARE(result.at(0).toBool(), false);
    QCOMPARE(written.count(), 0);
    QCOMPARE(service.rxFrameCount(), FrameCount(0));
}

// Frames -----------------------------------------------------------------

void TestCanInterface::everyReceivedFrameHandedOn()
{
    start();
    CanInterface &service = *_service;
    QList<QCanBusFrame> received;
    connect(&service, &CanInterface::didFrameReceive, this, [&](const QCanBusFrame &frame) { received.append(frame); });
    const QVector<QCanBusFrame> frames{QCanBusFrame(0x041, QByteArray(8, '\1')),
                                       QCanBusFrame(0x041, QByteArray(8, '\2')),
                                       QCanBusFrame(0x102, QByteArray(3, '\3'))};
    device()->receive(frames);

    QCOMPARE(received.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(received.at(i).frameId(), frames.at(i).frameId());
        QCOMPARE(received.at(i).payload(), frames.at(i).payload());
    }
    QCOMPARE(service.rxFrameCount(), FrameCount(3));
    QVERIFY(!device()->framesAvailable());
}

void TestCanInterface::busyBusReadsRestAndLoseNothing()
{
    start();
    CanInterface &service = *_service;
    QByteArray received;
    connect(&service, &CanInterface::didFrameReceive, this,
            [&](const QCanBusFrame &frame) { received += frame.payload(); });
    QTest::qWait(20); // a quiet spell: the next frame is read at once, with no rest after
    device()->feed('a');
    QCoreApplication::processEvents();
    QCOMPARE(received, QByteArray("a"));
    QVERIFY(!service.isReadingResting());
    // A second frame soon after is a busy bus: the reading rests, and what
    // comes meanwhile is read after, all of it, in order.
    const quint64 rests = service.readRests();
    QTest::qSleep(1);
    device()->feed('b');
    QCoreApplication::processEvents();
    QCOMPARE(received, QByteArray("ab"));
    QVERIFY(service.isReadingResting());
    for (char byte : QByteArray("cdef"))
        device()->feed(byte);
    QTRY_COMPARE(received, QByteArray("abcdef"));
    QVERIFY(service.readRests() > rests);
    QCOMPARE(service.rxFrameCount(), FrameCount(6));
}

void TestCanInterface::whenReadingRests_data()
{
    QTest::addColumn<qint64>("sinceLastReadUs");
    QTest::addColumn<bool>("rests");
    QTest::newRow("frames that waited, read one after the other") << qint64(50) << false;
    QTest::newRow("a busy bus: 2,000 frames a second") << qint64(500) << true;
    QTest::newRow("a busy bus: 4.9 ms") << qint64(4900) << true;
    QTest::newRow("after a quiet spell") << qint64(6000) << false;
}

void TestCanInterface::whenReadingRests()
{
    QFETCH(qint64, sinceLastReadUs);
    QFETCH(bool, rests);
    QCOMPARE(CanInterface::restsAfterRead(sinceLastReadUs * 1000), rests);
}

void TestCanInterface::transmitReportsResultAndConfirmation()
{
    start();
    CanInterface &service = *_service;
    QSignalSpy results(&service, &CanInterface::didFrameTransmit);
    QSignalSpy written(&service, &CanInterface::didFrameWritten);

    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\7')));
    QCOMPARE(results.count(), 1);
    QCOMPARE(results.at(0).at(0).toBool(), true);
    QCOMPARE(written.count(), 1);
    QCOMPARE(written.at(0).at(0).toLongLong(), 1LL);
    QCOMPARE(device()->written.size(), 1);
    QCOMPARE(device()->written.at(0).payload(), QByteArray(8, '\7'));

    device()->writeOk = false;
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\10')));
    device()->writeOk = true;
    QCOMPARE(results.count(), 2);
    QCOMPARE(results.at(1).at(0).toBool(), false);
    QCOMPARE(written.count(), 1);
    QCOMPARE(service.txFrameCount(), FrameCount(2)); // counted whatever the result
}

// Device errors ----------------------------------------------------------

void TestCanInterface::identicalErrorsLoggedOncePer100000()
{
    start();
    CanInterface &service = *_service;
    QSignalSpy errors(&service, &CanInterface::didFrameError);
    for (int i = 0; i < 100000; ++i)
        device()->raise(QStringLiteral("Read failed"), QCanBusDevice::ReadError);
    QCOMPARE(_log.contents(), (QStringList{QStringLiteral("1 - Read failed"), QStringLiteral("100000 - Read failed")}));
    QCOMPARE(service.erFrameCount(), FrameCount(100000));
    QCOMPARE(errors.count(), 100000);
    QCOMPARE(errors.last().at(0).toString(), QStringLiteral("Read failed"));
    QCOMPARE(service.status(), QStringLiteral("Read failed"));
    QVERIFY(!service.isBusLost()); // a read error is not a lost bus
}

void TestCanInterface::identicalErrorsWithoutDeviceLoggedOncePer100000()
{
    startWithoutPlugin();
    CanInterface &service = *_service;
    QSignalSpy errors(&service, &CanInterface::didFrameError);
    for (int i = 0; i < 100000; ++i)
        service.onFrameError(QCanBusDevice::ReadError);
    // Without a device the error text is empty; it differs from the start-up
    // status once, then repeats until the 100000th.
    QCOMPARE(_log.contents(), (QStringList{QStringLiteral("1 - "), QStringLiteral("100000 - ")}));
    QCOMPARE(service.erFrameCount(), FrameCount(100000));
    QCOMPARE(errors.count(), 100000);
    QCOMPARE(errors.last().at(0).toString(), QString());
}

void TestCanInterface::changingErrorTextLoggedEachTime()
{
    start();
    device()->raise(QStringLiteral("Write failed"), QCanBusDevice::WriteError);
    device()->raise(QStringLiteral("Read failed"), QCanBusDevice::ReadError);
    device()->raise(QStringLiteral("Read failed"), QCanBusDevice::ReadError);
    device()->raise(QStringLiteral("Bad setting"), QCanBusDevice::ConfigurationError);
    device()->raise(QStringLiteral("Timed out"), QCanBusDevice::TimeoutError); // not a logged kind
    QCOMPARE(_log.contents(), (QStringList{QStringLiteral("1 - Write failed"), QStringLiteral("2 - Read failed"),
                                           QStringLiteral("4 - Bad setting")}));
    QCOMPARE(_service->erFrameCount(), FrameCount(5));
}

void TestCanInterface::errorsOfOtherKindsCountedNotLogged()
{
    startWithoutPlugin();
    CanInterface &service = *_service;
    QSignalSpy errors(&service, &CanInterface::didFrameError);
    service.onFrameError(QCanBusDevice::TimeoutError);
    service.onFrameError(QCanBusDevice::OperationError);
    service.onFrameError(QCanBusDevice::NoError);
    QCOMPARE(service.erFrameCount(), FrameCount(3));
    QCOMPARE(errors.count(), 3);
    QVERIFY(_log.contents().isEmpty());
}

void TestCanInterface::errorsWithoutDeviceStartNoRetry()
{
    // Only a bus that was up is reopened; an idle service stays idle.
    startWithoutPlugin();
    CanInterface &service = *_service;
    service.onFrameError(QCanBusDevice::ConnectionError);
    service.onDeviceStateChange(QCanBusDevice::UnconnectedState);
    QVERIFY(!service.isRetrying());
    QVERIFY(!service.isBusLost());
    QCOMPARE(_log.count(QStringLiteral("CAN bus lost")), 0);
    service.reconnect();
    QCOMPARE(_plan.calls, 1);
    QCOMPARE(service.reconnectAttempts(), 0u);

    service.quitDevice(); // nothing to close
    QVERIFY(!service.status().startsWith(QStringLiteral("Disconnected")));
}

// Bus lost and back ------------------------------------------------------

void TestCanInterface::busLossLoggedOnce()
{
    start();
    CanInterface &service = *_service;
    device()->drop(); // e.g. the interface went down
    QVERIFY(service.isBusLost());
    QVERIFY(service.isRetrying());
    QCOMPARE(_log.count(QStringLiteral("CAN bus lost: ")), 1);
    QVERIFY2(_log.contents().first().startsWith(QStringLiteral("CAN bus lost: Connection 'fake[can0]', ")),
             qPrintable(_log.contents().first()));

    device()->drop();
    service.onDeviceStateChange(QCanBusDevice::UnconnectedState);
    QCOMPARE(_log.count(QStringLiteral("CAN bus lost")), 1);
    QVERIFY(service.hasDevice()); // the old device goes at the first retry
}

void TestCanInterface::retriesStayQuietUntilOneWorks()
{
    start();
    CanInterface &service = *_service;
    QPointer<FakeCanDevice> lost = device();
    device()->drop();
    _log.clear();
    _plan.steps = {DevicePlan::eNone, DevicePlan::eFails, DevicePlan::eLater, DevicePlan::eNone, DevicePlan::eAtOnce};

    service.reconnect(); // creation fails
    QVERIFY(lost.isNull());
    QVERIFY(!service.hasDevice());
    service.reconnect(); // opening fails
    QVERIFY(_plan.made.last().isNull());
    QVERIFY(!service.hasDevice());
    service.reconnect(); // opens but never connects
    QVERIFY(service.hasDevice());
    QPointer<FakeCanDevice> stuck = device();
    QVERIFY(service.isBusLost());
    service.reconnect(); // a stuck device is replaced; creation fails again
    QVERIFY(stuck.isNull());
    QVERIFY(!service.hasDevice());
    QVERIFY(_log.contents().isEmpty()); // quiet so far

    service.reconnect(); // works
    QCOMPARE(_plan.calls, 1 + 5);
    QCOMPARE(service.reconnectAttempts(), 5u);
    QVERIFY(service.hasDevice());
    QVERIFY(!service.isBusLost());
    QVERIFY(!service.isRetrying());
    QCOMPARE(service.status(), kConnected);
    QCOMPARE(_log.contents(), QStringList{QStringLiteral("CAN bus recovered: ") + kConnected});
    QCOMPARE(device()->parent(), &service);
    QCOMPARE(device()->configurationParameter(QCanBusDevice::BitRateKey), QVariant(250000));

    // The new device is fully wired.
    QSignalSpy received(&service, &CanInterface::didFrameReceive);
    device()->receive({QCanBusFrame(0x041, QByteArray(8, '\0'))});
    QCOMPARE(received.count(), 1);
    QSignalSpy results(&service, &CanInterface::didFrameTransmit);
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\0')));
    QCOMPARE(results.at(0).at(0).toBool(), true);

    service.reconnect(); // not lost: does nothing
    QCOMPARE(_plan.calls, 1 + 5);
}

void TestCanInterface::writesFailAndAreCountedWhileLost()
{
    start();
    CanInterface &service = *_service;
    device()->drop();
    _plan.steps = {DevicePlan::eNone};
    service.reconnect();
    QVERIFY(!service.hasDevice());

    QSignalSpy results(&service, &CanInterface::didFrameTransmit);
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\0')));
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\0')));
    QCOMPARE(service.txFrameCount(), FrameCount(2));
    QCOMPARE(results.count(), 2);
    QCOMPARE(results.at(0).at(0).toBool(), false);
    QCOMPARE(results.at(1).at(0).toBool(), false);

    _plan.steps = {DevicePlan::eAtOnce};
    service.reconnect();
    QVERIFY(!service.isBusLost());
    QCOMPARE(_log.count(QStringLiteral("CAN bus lost")), 1);
    QCOMPARE(_log.count(QStringLiteral("CAN bus recovered")), 1);
}

void TestCanInterface::connectionErrorIsALossAndRecoveryCanComeLater()
{
    start();
    CanInterface &service = *_service;
    device()->raise(QStringLiteral("Interface down"), QCanBusDevice::ConnectionError);
    QVERIFY(service.isBusLost());
    QCOMPARE(_log.contents(), (QStringList{QStringLiteral("1 - Interface down"),
                                           QStringLiteral("CAN bus lost: Connection 'fake[can0]', Interface down")}));

    // Connects a while after opening, as a bus reached over a socket does.
    _plan.steps = {DevicePlan::eLater};
    service.reconnect();
    QVERIFY(service.isBusLost());
    QCOMPARE(_log.contents().size(), 2);
    device()->finishConnect();
    QVERIFY(!service.isBusLost());
    QVERIFY(!service.isRetrying());
    QCOMPARE(_log.contents().size(), 3);
    QCOMPARE(_log.contents().at(2), QStringLiteral("CAN bus recovered: ") + kConnected);
}

void TestCanInterface::retryTimerReopensTheBus()
{
    start();
    CanInterface &service = *_service;
    _plan.steps = {DevicePlan::eNone, DevicePlan::eAtOnce};
    device()->drop();
    QVERIFY(service.isRetrying());
    // About once a second: the first attempt fails, the second works.
    QTRY_VERIFY_WITH_TIMEOUT(!service.isBusLost(), 10000);
    QVERIFY(_plan.steps.isEmpty());
    QCOMPARE(_log.count(QStringLiteral("CAN bus lost")), 1);
    QCOMPARE(_log.count(QStringLiteral("CAN bus recovered")), 1);
    QVERIFY(!service.isRetrying());
}

// Shutdown ---------------------------------------------------------------

void TestCanInterface::quitClosesDeviceAndStopsRetrying()
{
    start();
    CanInterface &service = *_service;
    QPointer<FakeCanDevice> open = device();
    device()->drop();
    QVERIFY(service.isRetrying());
    _log.clear();

    const int calls = _plan.calls;
    service.quit(); // never moved to a thread: stays where it is
    QVERIFY(open.isNull());
    QVERIFY(!service.hasDevice());
    QVERIFY(!service.isRetrying());
    QVERIFY(!service.isBusLost());
    QCOMPARE(service.status(), QStringLiteral("Disconnected 'fake[can0]', "));
    QVERIFY(_log.contents().isEmpty());
    QTest::qWait(1200); // no retry comes
    QCOMPARE(_plan.calls, calls);
}

void TestCanInterface::secondQuitDeviceDoesNothing()
{
    start();
    CanInterface &service = *_service;
    service.quit();
    _log.clear();
    service.quitDevice();
    QCOMPARE(service.status(), QStringLiteral("Disconnected 'fake[can0]', "));
    QSignalSpy results(&service, &CanInterface::didFrameTransmit);
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\0')));
    QCOMPARE(results.at(0).at(0).toBool(), false);
    QVERIFY(_log.contents().isEmpty());
}

// Console trace ----------------------------------------------------------

void TestCanInterface::consoleOutSwitchLogged()
{
    CanInterface &service = *_service;
    service.enableConsoleOut(true);
    service.enableConsoleOut(true);
    service.enableConsoleOut(false);
    service.enableConsoleOut(false);
    QCOMPARE(_log.contents(), (QStringList{QStringLiteral("Console out CanInterface enabled"),
                                           QStringLiteral("Console out CanInterface disabled")}));
}

void TestCanInterface::formatFrame_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<quint32>("id");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<qint64>("micro");
    QTest::addColumn<QString>("flags"); // B, E and L set on the frame
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QStringLiteral("Rx:1") << 0x041u << bytes({0x01, 0x0b, 0xff}) << qint64(12)
                           << qint64(345678) << QString() << QStringLiteral("Rx:1         12.3456   ---  65 01.0b.ff");
    QTest::newRow("sync byte first") << QStringLiteral("Tx:7") << 0x040u << bytes({0xA5, 0x01, 0x00}) << qint64(0)
                                     << qint64(0) << QString()
                                     << QStringLiteral("Tx:7          0.0000   ---  64 %1.01.00").arg(kYellowA5);
    QTest::newRow("A5 in the middle and at the end")
        << QStringLiteral("Rx:2") << 0x100u << bytes({0x00, 0xA5, 0x10, 0xA5}) << qint64(5) << qint64(99) << QString()
        << QStringLiteral("Rx:2          5.0000   ---  256 00.%1.10.%1").arg(kYellowA5);
    QTest::newRow("only A5 bytes") << QStringLiteral("Rx:3") << 0x7FFu << bytes({0xA5, 0xA5}) << qint64(1)
                                   << qint64(100) << QString()
                                   << QStringLiteral("Rx:3          1.0001   ---  2047 %1.%1").arg(kYellowA5);
    QTest::newRow("a and 5 in neighbouring bytes are not A5")
        << QStringLiteral("Rx:4") << 0x041u << bytes({0x0a, 0x5a, 0xa0, 0x05}) << qint64(1) << qint64(0) << QString()
        << QStringLiteral("Rx:4          1.0000   ---  65 0a.5a.a0.05");
    QTest::newRow("empty payload") << QStringLiteral("Tx:42") << 0x7FFu << QByteArray() << qint64(0) << qint64(0)
                                   << QString() << QStringLiteral("Tx:42          0.0000   ---  2047 ");
    QTest::newRow("wide seconds") << QStringLiteral("Rx:5") << 0x001u << bytes({1}) << qint64(1234567890)
                                  << qint64(999999) << QString() << QStringLiteral("Rx:5 1234567890.9999   ---  1 01");
    QTest::newRow("seconds wider than the field")
        << QStringLiteral("Rx:6") << 0x001u << bytes({1}) << qint64(12345678901LL) << qint64(50) << QString()
        << QStringLiteral("Rx:6 12345678901.0000   ---  1 01");
    QTest::newRow("bit-rate switch") << QStringLiteral("Rx:8") << 0x041u << bytes({1}) << qint64(3) << qint64(200)
                                     << QStringLiteral("B") << QStringLiteral("Rx:8          3.0002   B--  65 01");
    QTest::newRow("bit-rate switch and error state")
        << QStringLiteral("Rx:9") << 0x041u << bytes({1}) << qint64(3) << qint64(200) << QStringLiteral("BE")
        << QStringLiteral("Rx:9          3.0002   BE-  65 01");
    QTest::newRow("all flags") << QStringLiteral("Rx:10") << 0x041u << bytes({1}) << qint64(3) << qint64(200)
                               << QStringLiteral("BEL") << QStringLiteral("Rx:10          3.0002   BEL  65 01");
    QTest::newRow("local echo") << QStringLiteral("Tx:1") << 0x041u << bytes({1}) << qint64(3) << qint64(200)
                                << QStringLiteral("L") << QStringLiteral("Tx:1          3.0002   --L  65 01");
}

void TestCanInterface::formatFrame()
{
    QFETCH(QString, prefix);
    QFETCH(quint32, id);
    QFETCH(QByteArray, payload);
    QFETCH(qint64, seconds);
    QFETCH(qint64, micro);
    QFETCH(QString, flags);
    QFETCH(QString, expected);

    QCanBusFrame frame = stamped(id, payload, seconds, micro);
    if (flags.contains(QLatin1Char('B'))) {
        frame.setFlexibleDataRateFormat(true);
        frame.setBitrateSwitch(true);
    }
    if (flags.contains(QLatin1Char('E'))) {
        frame.setFlexibleDataRateFormat(true);
        frame.setErrorStateIndicator(true);
    }
    if (flags.contains(QLatin1Char('L')))
        frame.setLocalEcho(true);
    QCOMPARE(CanInterface::formatFrame(prefix, frame), expected);
}

void TestCanInterface::formatErrorFrameUsesInterpretation()
{
    QCanBusFrame frame(QCanBusFrame::ErrorFrame);
    frame.setError(QCanBusFrame::BusOffError);
    frame.setTimeStamp(QCanBusFrame::TimeStamp(2, 0));
    const QString text = CanInterface::formatFrame(QStringLiteral("Rx:1"), frame, QStringLiteral("Bus off"));
    QCOMPARE(text, QStringLiteral("Rx:1          2.0000   ---  %1 Bus off").arg(frame.frameId()));
}

void TestCanInterface::traceWrittenToStandardError()
{
    startWithoutPlugin();
    CanInterface &service = *_service;
    service.enableConsoleOut(true);
    QByteArray text;
    {
        StderrCapture capture;
        service.onFrameTransmit(stamped(0x040, bytes({0xA5, 0x02}), 0, 0));
        text = capture.take();
    }
    service.enableConsoleOut(false);
    const QString expected = QStringLiteral("Tx:1          0.0000   ---  64 %1.02\n").arg(kYellowA5);
    QCOMPARE(QString::fromUtf8(text), expected);
}

void TestCanInterface::traceOfBothDirections()
{
    start();
    CanInterface &service = *_service;
    service.enableConsoleOut(true);
    QByteArray trace;
    {
        StderrCapture capture;
        device()->receive({stamped(0x041, bytes({0x01, 0x02}), 7, 0)});
        QCanBusFrame error(QCanBusFrame::ErrorFrame);
        error.setError(QCanBusFrame::BusOffError);
        device()->receive({error});
        service.onFrameTransmit(QCanBusFrame(0x040, bytes({0x03})));
        trace = capture.take();
    }
    service.enableConsoleOut(false);

    const QList<QByteArray> lines = trace.split('\n');
    QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last newline
    QCOMPARE(lines.at(0), QByteArray("Rx:1          7.0000   ---  65 01.02"));
    QVERIFY2(lines.at(1).startsWith("Rx:2 ") && lines.at(1).endsWith(" fake bus error"), lines.at(1).constData());
    QVERIFY2(lines.at(2).startsWith("Tx:1 ") && lines.at(2).endsWith("  ---  64 03"), lines.at(2).constData());
    QVERIFY(lines.at(3).isEmpty());
}

QTEST_GUILESS_MAIN(TestCanInterface)
#include "tst_caninterface.moc"
