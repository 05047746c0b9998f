#include <QPointer>
#include <QTemporaryFile>
#include <QSignalSpy>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <sys/socket.h>
#include <unistd.h>

#include "CanInterface.h"
#include "CommandLine.h"
#include "LogSpy.h"
#include "Threads.h"

using namespace Can;

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

// What the next devices asked for will be: a fake device of a kind, or none
// (creation failure).
struct DevicePlan {
    enum Step { eNone, eAtOnce, eLater, eFails };
    QList<Step> steps;
    QList<QPointer<FakeCanDevice>> made;
    int calls = 0;

    QCanBusDevice *create(const QString &plugin, QString *error)
    {
        ++calls;
        const Step step = steps.isEmpty() ? eNone : steps.takeFirst();
        if (step == eNone) {
            *error = QStringLiteral("No such plugin: '%1'").arg(plugin);
            made.append(nullptr);
            return nullptr;
        }
        auto *device = new FakeCanDevice(step == eAtOnce  ? FakeCanDevice::eOpenAtOnce
                                         : step == eLater ? FakeCanDevice::eOpenLater
                                                          : FakeCanDevice::eOpenFails);
        made.append(device);
        return device;
    }
    FakeCanDevice *last() const { return made.last().data(); }
};

const QString kConnected = QStringLiteral("Connected 'fake[can0]', ");

} // namespace

// The CAN interface with a device that works: start-up, frames both ways,
// device errors, and a bus that goes away and comes back.
class TestCanInterfaceDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // Start-up
    void initConnectsAndLogs();
    void deviceIsConfiguredAndOwned();
    void secondInitRefusedAndCreatesNoDevice();

    // Frames
    void everyReceivedFrameHandedOn();
    void busyBusReadsRestAndLoseNothing();
    void whenReadingRests_data();
    void whenReadingRests();
    void transmitReportsResultAndConfirmation();
    void traceOfBothDirections();

    // Device errors
    void identicalErrorsLoggedOncePer100000();
    void changingErrorTextLoggedEachTime();

    // Bus lost and back
    void busLossLoggedOnce();
    void retriesStayQuietUntilOneWorks();
    void writesFailAndAreCountedWhileLost();
    void connectionErrorIsALossAndRecoveryCanComeLater();
    void retryTimerReopensTheBus();

    // Shutdown
    void quitClosesDeviceAndStopsRetrying();
    void secondQuitDeviceDoesNothing();

private:
    FakeCanDevice *device() const { return _plan.last(); }
    QByteArray captureTrace(const std::function<void()> &action);

    LogSpy _log;
    DevicePlan _plan;
};

void TestCanInterfaceDevice::initTestCase()
{
    Threads::registerTypes();
    gCanPlugin = QStringLiteral("fake");
    gActiveCANBus = QStringLiteral("can0");
    CanInterface::setDeviceFactory(
        [this](const QString &plugin, const QString &, QString *error) { return _plan.create(plugin, error); });
}

void TestCanInterfaceDevice::init()
{
    _log.clear();
}

void TestCanInterfaceDevice::initConnectsAndLogs()
{
    _plan.steps = {DevicePlan::eAtOnce};
    CanInterface &service = CanInterface::I();
    QVERIFY(service.init());
    QCOMPARE(service.status(), kConnected);
    QCOMPARE(_log.contents(), QStringList{QStringLiteral("UI,Can::CanInterface Initialized,") + kConnected});
    QCOMPARE(_log.lines().at(0).type, Storage::Logger::eLogDebug);
    QVERIFY(service.hasDevice());
    QCOMPARE(service.device(), device());
    QVERIFY(!service.isBusLost());
}

void TestCanInterfaceDevice::deviceIsConfiguredAndOwned()
{
    // A child of the service, so it moves to the service's thread with it.
    QCOMPARE(device()->parent(), &CanInterface::I());
    QCOMPARE(device()->configurationParameter(QCanBusDevice::CanFdKey), QVariant(false));
    QCOMPARE(device()->configurationParameter(QCanBusDevice::BitRateKey), QVariant(250000));
    QCOMPARE(device()->configurationKeys(), (QVector<int>{QCanBusDevice::CanFdKey, QCanBusDevice::BitRateKey}));
}

void TestCanInterfaceDevice::secondInitRefusedAndCreatesNoDevice()
{
    CanInterface &service = CanInterface::I();
    QVERIFY(!service.init());
    QThread thread;
    QVERIFY(!service.init(thread));
    QVERIFY(!thread.isRunning());
    QCOMPARE(service.thread(), QThread::currentThread());
    QCOMPARE(_plan.calls, 1);
    QCOMPARE(service.device(), device());
    QVERIFY(_log.contents().isEmpty());
}

void TestCanInterfaceDevice::everyReceivedFrameHandedOn()
{
    CanInterface &service = CanInterface::I();
    QList<QCanBusFrame> received;
    QMetaObject::Connection connection = connect(&service, &CanInterface::didFrameReceive, this,
                                                 [&](const QCanBusFrame &frame) { received.append(frame); });
    const QVector<QCanBusFrame> frames{QCanBusFrame(0x041, QByteArray(8, '\1')),
                                       QCanBusFrame(0x041, QByteArray(8, '\2')),
                                       QCanBusFrame(0x102, QByteArray(3, '\3'))};
    device()->receive(frames);
    disconnect(connection);

    QCOMPARE(received.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(received.at(i).frameId(), frames.at(i).frameId());
        QCOMPARE(received.at(i).payload(), frames.at(i).payload());
    }
    QCOMPARE(service.rxFrameCount(), FrameCount(3));
    QVERIFY(!device()->framesAvailable());
}

void TestCanInterfaceDevice::busyBusReadsRestAndLoseNothing()
{
    CanInterface &service = CanInterface::I();
    QByteArray received;
    QMetaObject::Connection connection = connect(&service, &CanInterface::didFrameReceive, this,
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
    disconnect(connection);
    QCOMPARE(service.rxFrameCount(), FrameCount(3 + 6));
}

void TestCanInterfaceDevice::whenReadingRests_data()
{
    QTest::addColumn<qint64>("sinceLastReadUs");
    QTest::addColumn<bool>("rests");
    QTest::newRow("frames that waited, read one after the other") << qint64(50) << false;
    QTest::newRow("a busy bus: 2,000 frames a second") << qint64(500) << true;
    QTest::newRow("a busy bus: 4.9 ms") << qint64(4900) << true;
    QTest::newRow("after a quiet spell") << qint64(6000) << false;
}

void TestCanInterfaceDevice::whenReadingRests()
{
    QFETCH(qint64, sinceLastReadUs);
    QFETCH(bool, rests);
    QCOMPARE(CanInterface::restsAfterRead(sinceLastReadUs * 1000), rests);
}

void TestCanInterfaceDevice::transmitReportsResultAndConfirmation()
{
    CanInterface &service = CanInterface::I();
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

QByteArray TestCanInterfaceDevice::captureTrace(const std::function<void()> &action)
{
    QTemporaryFile file;
    if (!file.open())
        return QByteArray();
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    action();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

void TestCanInterfaceDevice::traceOfBothDirections()
{
    CanInterface &service = CanInterface::I();
    service.enableConsoleOut(true);
    const QByteArray trace = captureTrace([&] {
        QCanBusFrame frame(0x041, QByteArray("\x01\x02", 2));
        frame.setTimeStamp(QCanBusFrame::TimeStamp(7, 0));
        device()->receive({frame});
        QCanBusFrame error(QCanBusFrame::ErrorFrame);
        error.setError(QCanBusFrame::BusOffError);
        device()->receive({error});
        service.onFrameTransmit(QCanBusFrame(0x040, QByteArray("\x03", 1)));
    });
    service.enableConsoleOut(false);

    const QList<QByteArray> lines = trace.split('\n');
    QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last newline
    QCOMPARE(lines.at(0), QByteArray("Rx:10          7.0000   ---  65 01.02"));
    QVERIFY2(lines.at(1).startsWith("Rx:11 ") && lines.at(1).endsWith(" fake bus error"), lines.at(1).constData());
    QVERIFY2(lines.at(2).startsWith("Tx:3 ") && lines.at(2).endsWith("  ---  64 03"), lines.at(2).constData());
    QVERIFY(lines.at(3).isEmpty());
}

void TestCanInterfaceDevice::identicalErrorsLoggedOncePer100000()
{
    CanInterface &service = CanInterface::I();
    QCOMPARE(service.erFrameCount(), FrameCount(0));
    QSignalSpy errors(&service, &CanInterface::didFrameError);
    for (int i = 0; i < 100000; ++i)
        device()->raise(QStringLiteral("Read failed"), QCanBusDevice::ReadError);
    QCOMPARE(_log.contents(), (QStringList{QStringLiteral("1 - Read failed"), QStringLiteral("100000 - Read failed")}));
    QCOMPARE(errors.count(), 100000);
    QCOMPARE(errors.last().at(0).toString(), QStringLiteral("Read failed"));
    QCOMPARE(service.status(), QStringLiteral("Read failed"));
    QVERIFY(!service.isBusLost()); // a read error is not a lost bus
}

void TestCanInterfaceDevice::changingErrorTextLoggedEachTime()
{
    device()->raise(QStringLiteral("Write failed"), QCanBusDevice::WriteError);
    device()->raise(QStringLiteral("Read failed"), QCanBusDevice::ReadError);
    device()->raise(QStringLiteral("Read failed"), QCanBusDevice::ReadError);
    device()->raise(QStringLiteral("Bad setting"), QCanBusDevice::ConfigurationError);
    device()->raise(QStringLiteral("Timed out"), QCanBusDevice::TimeoutError); // not a logged kind
    QCOMPARE(_log.contents(),
             (QStringList{QStringLiteral("100001 - Write failed"), QStringLiteral("100002 - Read failed"),
                          QStringLiteral("100004 - Bad setting")}));
}

void TestCanInterfaceDevice::busLossLoggedOnce()
{
    CanInterface &service = CanInterface::I();
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

void TestCanInterfaceDevice::retriesStayQuietUntilOneWorks()
{
    CanInterface &service = CanInterface::I();
    QPointer<FakeCanDevice> lost = device();
    _plan.steps = {DevicePlan::eNone, DevicePlan::eFails, DevicePlan::eLater, DevicePlan::eNone, DevicePlan::eAtOnce};
    const int callsBefore = _plan.calls;
    const quint32 attemptsBefore = service.reconnectAttempts();

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
    QCOMPARE(_plan.calls, callsBefore + 5);
    QCOMPARE(service.reconnectAttempts(), attemptsBefore + 5);
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
    QCOMPARE(_plan.calls, callsBefore + 5);
}

void TestCanInterfaceDevice::writesFailAndAreCountedWhileLost()
{
    CanInterface &service = CanInterface::I();
    device()->drop();
    _plan.steps = {DevicePlan::eNone};
    service.reconnect();
    QVERIFY(!service.hasDevice());

    QSignalSpy results(&service, &CanInterface::didFrameTransmit);
    const FrameCount before = service.txFrameCount();
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\0')));
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\0')));
    QCOMPARE(service.txFrameCount(), before + 2);
    QCOMPARE(results.count(), 2);
    QCOMPARE(results.at(0).at(0).toBool(), false);
    QCOMPARE(results.at(1).at(0).toBool(), false);

    _plan.steps = {DevicePlan::eAtOnce};
    service.reconnect();
    QVERIFY(!service.isBusLost());
    QCOMPARE(_log.count(QStringLiteral("CAN bus lost")), 1);
    QCOMPARE(_log.count(QStringLiteral("CAN bus recovered")), 1);
}

void TestCanInterfaceDevice::connectionErrorIsALossAndRecoveryCanComeLater()
{
    CanInterface &service = CanInterface::I();
    device()->raise(QStringLiteral("Interface down"), QCanBusDevice::ConnectionError);
    QVERIFY(service.isBusLost());
    QCOMPARE(_log.contents().size(), 2);
    QVERIFY(_log.contents().at(0).endsWith(QStringLiteral(" - Interface down")));
    QCOMPARE(_log.contents().at(1), QStringLiteral("CAN bus lost: Connection 'fake[can0]', Interface down"));

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

void TestCanInterfaceDevice::retryTimerReopensTheBus()
{
    CanInterface &service = CanInterface::I();
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

void TestCanInterfaceDevice::quitClosesDeviceAndStopsRetrying()
{
    CanInterface &service = CanInterface::I();
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

void TestCanInterfaceDevice::secondQuitDeviceDoesNothing()
{
    CanInterface &service = CanInterface::I();
    service.quitDevice();
    QCOMPARE(service.status(), QStringLiteral("Disconnected 'fake[can0]', "));
    QSignalSpy results(&service, &CanInterface::didFrameTransmit);
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\0')));
    QCOMPARE(results.at(0).at(0).toBool(), false);
    QVERIFY(_log.contents().isEmpty());
}

QTEST_GUILESS_MAIN(TestCanInterfaceDevice)
#include "tst_caninterface_device.moc"
