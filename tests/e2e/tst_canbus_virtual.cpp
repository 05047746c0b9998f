#include <QCanBus>
#include <QCanBusDevice>
#include <QLoggingCategory>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

#include <cstdio>
#include <memory>

#include "canbus/CanInterface.h"
#include "CommandLine.h"
#include "canbus/FrameInterface.h"
#include "storage/Logger.h"
#include "common/ServiceProcess.h"
#include "Threads.h"

using namespace Can;

// The CAN device and the frame interface on their worker thread, over Qt's
// "virtualcan" plug-in: frames both ways, and a bus server that goes away and
// comes back.
//
// The virtual bus is a TCP server that the first process opening a
// "virtualcan" device on a port starts inside itself, one per process. To be
// able to take the bus away, the server runs in a child process (this same
// program, started with --bus-server PORT), and this process first pins its
// own server to another port with an anchor device, so that the service's
// reconnection attempts cannot quietly start a server here.

namespace {

const char kServerOption[] = "--bus-server";
constexpr int kWait = 15000; // ms; generous, the machine may be busy

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString busUrl(quint16 port, const char *name)
{
    return QStringLiteral("tcp://127.0.0.1:%1/%2").arg(port).arg(QLatin1String(name));
}

// The child: holds the bus server on the port until it is killed.
int runBusServer(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const quint16 port = quint16(QByteArray(argv[2]).toUInt());
    QString error;
    std::unique_ptr<QCanBusDevice> device(
        QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), busUrl(port, "can1"), &error));
    if (!device)
        return 1;
    QObject::connect(device.get(), &QCanBusDevice::stateChanged, [](QCanBusDevice::CanBusDeviceState state) {
        if (state == QCanBusDevice::ConnectedState) {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
        }
    });
    if (!device->connectDevice())
        return 1;
    return app.exec();
}

// Runs f on the CAN services' thread and returns its result.
template <typename F> auto onService(F f) -> decltype(f())
{
    decltype(f()) result{};
    QObject *service = &CanInterface::I();
    if (service->thread() == QThread::currentThread())
        return f();
    QMetaObject::invokeMethod(
        service, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

} // namespace

class TestCanBusVirtual : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void servicesShareTheFrameThread();
    void frameFromPeerReachesDispatcherSide();
    void unexpectedChannelFromPeerLoggedNotPassed();
    void queuedFramesReachPeerOnceAndInOrder();
    void busLossAndRecovery();

private:
    bool startServer();
    void stopServer();
    bool connectPeer();
    void queueFrames(int count, int first);
    QList<QByteArray> peerMessages() const;
    int logCount(const QString &fragment) const;

    quint16 _busPort = 0;
    QProcess _server;
    std::unique_ptr<QCanBusDevice> _anchor;
    std::unique_ptr<QCanBusDevice> _peer;
    QList<QCanBusFrame> _peerFrames;
    QList<QPair<Can_Id, QByteArray>> _dispatched;
    QStringList _log;
};

bool TestCanBusVirtual::startServer()
{
    ServiceProcess::emulate(_server, QCoreApplication::applicationFilePath(),
                            {QString::fromLatin1(kServerOption), QString::number(_busPort)});
    _server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    _server.start();
    if (!_server.waitForStarted(kWait))
        return false;
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    while (!output.contains("ready") && timer.elapsed() < kWait) {
        if (!_server.waitForReadyRead(1000) && _server.state() != QProcess::Running)
            return false;
        output += _server.readAllStandardOutput();
    }
    return output.contains("ready");
}

void TestCanBusVirtual::stopServer()
{
    if (_server.state() == QProcess::NotRunning)
        return;
    _server.kill();
    _server.waitForFinished(kWait);
}

bool TestCanBusVirtual::connectPeer()
{
    QString error;
    _peer.reset(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), busUrl(_busPort, "can0"), &error));
    if (!_peer)
        return false;
    QCanBusDevice *peer = _peer.get();
    connect(peer, &QCanBusDevice::framesReceived, this, [this, peer] {
        while (peer->framesAvailable())
            _peerFrames.append(peer->readFrame());
    });
    if (!peer->connectDevice())
        return false;
    if (!QTest::qWaitFor([peer] { return peer->state() == QCanBusDevice::ConnectedState; }, kWait))
        return false;
    // The server learns the peer's interface from its first line; let it.
    QTest::qWait(100);
    return true;
}

void TestCanBusVirtual::queueFrames(int count, int first)
{
    for (int i = first; i < first + count; ++i) {
        QByteArray payload(8, '\0');
        payload[0] = char(quint8(i));
        payload[1] = char(quint8(i >> 8));
        QMetaObject::invokeMethod(
            &FrameInterface::I(), [payload] { FrameInterface::I().onFrameTransmit(eChlid_TD_UI, {payload}); },
            Qt::QueuedConnection);
    }
}

QList<QByteArray> TestCanBusVirtual::peerMessages() const
{
    QList<QByteArray> messages;
    for (const QCanBusFrame &frame : _peerFrames)
        if (frame.frameId() == eChlid_TD_UI)
            messages.append(frame.payload());
    return messages;
}

int TestCanBusVirtual::logCount(const QString &fragment) const
{
    int n = 0;
    for (const QString &line : _log)
        if (line.contains(fragment))
            ++n;
    return n;
}

void TestCanBusVirtual::initTestCase()
{
    Threads::registerTypes();
    // Lines come from the CAN thread; take them in on this one.
    connect(&Storage::Logger::I(), &Storage::Logger::didLog, this,
            [this](const QString &content, Storage::Logger::LogType, bool) { _log.append(content); });
    connect(&FrameInterface::I(), &FrameInterface::didFrameReceive, this,
            [this](Can_Id channel, const QByteArray &payload) {
                // Only the peer's requests; whatever else the bus carries is not ours to count.
                if (channel == eChlid_UI_TD)
                    _dispatched.append({channel, payload});
            });

    // Pin this process's own bus server to a port nobody else uses.
    const quint16 anchorPort = freePort();
    QString error;
    _anchor.reset(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), busUrl(anchorPort, "can1"), &error));
    QVERIFY2(_anchor, qPrintable(error));
    QVERIFY(_anchor->connectDevice());
    QTRY_COMPARE_WITH_TIMEOUT(_anchor->state(), QCanBusDevice::ConnectedState, kWait);

    _busPort = freePort();
    QVERIFY(_busPort != anchorPort);
    QVERIFY(startServer());

    gCanPlugin = QStringLiteral("virtualcan");
    gActiveCANBus = busUrl(_busPort, "can0");
    gSendEmptyKeepAwake = true; // keep-awake frames mingle with the messages

    QVERIFY(CanInterface::I().init(Threads::_CanFrame_Thread));
    QVERIFY(FrameInterface::I().init(Threads::_CanFrame_Thread));
    const QString initialized =
        QStringLiteral("UI,Can::CanInterface Initialized,Connected 'virtualcan[%1]', ").arg(gActiveCANBus);
    QTRY_VERIFY_WITH_TIMEOUT(_log.contains(initialized), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(
        onService([] { return CanInterface::I().device()->state() == QCanBusDevice::ConnectedState; }), kWait);
    QVERIFY(connectPeer());
}

void TestCanBusVirtual::cleanupTestCase()
{
    // What the application's aboutToQuit does: each service's quit on its
    // own thread, the device closed there.
    CanInterface &device = CanInterface::I();
    const int lost = logCount(QStringLiteral("CAN bus lost"));
    if (FrameInterface::I().thread() != QThread::currentThread())
        QMetaObject::invokeMethod(
            &FrameInterface::I(), [] { FrameInterface::I().quit(); }, Qt::BlockingQueuedConnection);
    if (device.thread() != QThread::currentThread())
        QMetaObject::invokeMethod(
            &device, [&device] { device.quit(); }, Qt::BlockingQueuedConnection);
    QCOMPARE(device.thread(), QThread::currentThread());
    QCOMPARE(FrameInterface::I().thread(), QThread::currentThread());
    QVERIFY(!device.hasDevice());
    QVERIFY(!device.isRetrying());
    const QString disconnected = QStringLiteral("Disconnected 'virtualcan[%1]', ").arg(gActiveCANBus);
    QCOMPARE(device.status(), disconnected);

    device.quitDevice(); // the call after the event loop: nothing left to do
    QCOMPARE(device.status(), disconnected);
    Threads::quitThread(Threads::_CanFrame_Thread);
    QCoreApplication::processEvents();
    QCOMPARE(logCount(QStringLiteral("CAN bus lost")), lost); // closing is not a loss

    _peer.reset();
    stopServer();
    _anchor.reset();
}

void TestCanBusVirtual::servicesShareTheFrameThread()
{
    QThread *thread = &Threads::_CanFrame_Thread;
    QVERIFY(thread->isRunning());
    QCOMPARE(CanInterface::I().thread(), thread);
    QCOMPARE(FrameInterface::I().thread(), thread);
    QCOMPARE(thread->objectName(), QStringLiteral("Can::FrameInterface_Thread"));
    // The device is the service's child and went with it.
    QCOMPARE(onService([] { return CanInterface::I().device()->thread(); }), thread);
}

void TestCanBusVirtual::frameFromPeerReachesDispatcherSide()
{
    _dispatched.clear();
    const QByteArray payload = QByteArray::fromHex("a5ffff00100100cd");
    QVERIFY(_peer->writeFrame(QCanBusFrame(eChlid_UI_TD, payload)));
    QTRY_COMPARE_WITH_TIMEOUT(_dispatched.size(), 1, kWait);
    QCOMPARE(_dispatched.first().first, eChlid_UI_TD);
    QCOMPARE(_dispatched.first().second, payload);
    QVERIFY(onService([] { return CanInterface::I().rxFrameCount(); }) >= 1u);
}

void TestCanBusVirtual::unexpectedChannelFromPeerLoggedNotPassed()
{
    _dispatched.clear();
    QVERIFY(_peer->writeFrame(QCanBusFrame(eChlid_FP_Sync, QByteArray::fromHex("0102"))));
    QVERIFY(_peer->writeFrame(QCanBusFrame(eChlid_UI_TD, QByteArray::fromHex("03"))));
    QTRY_COMPARE_WITH_TIMEOUT(_dispatched.size(), 1, kWait); // frames keep their order
    QCOMPARE(_dispatched.first().second, QByteArray::fromHex("03"));
    QVERIFY(_log.contains(QStringLiteral("Unexpected Channel\r\n102 -- 01 02")));
}

void TestCanBusVirtual::queuedFramesReachPeerOnceAndInOrder()
{
    _peerFrames.clear();
    queueFrames(60, 0);
    QTRY_COMPARE_WITH_TIMEOUT(peerMessages().size(), 60, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(onService([] { return FrameInterface::I().queue().isEmpty(); }), kWait);
    const QList<QByteArray> messages = peerMessages();
    for (int i = 0; i < messages.size(); ++i)
        QCOMPARE(int(quint8(messages.at(i).at(0))) | int(quint8(messages.at(i).at(1))) << 8, i);

    // Keep-awake frames go out too once the queue is empty, empty, on the
    // lowest-priority channel (waited for: a slow run may not have one yet).
    const auto keepAwake = [this] {
        int count = 0;
        for (const QCanBusFrame &frame : _peerFrames)
            if (frame.frameId() == eChlid_LOWEST && frame.payload().isEmpty())
                ++count;
        return count;
    };
    QTRY_VERIFY_WITH_TIMEOUT(keepAwake() > 0, kWait);
    QCOMPARE(onService([] { return FrameInterface::I().queue().timeouts(); }), quint64(0));
}

void TestCanBusVirtual::busLossAndRecovery()
{
    _peer.reset();
    stopServer();
    QTRY_COMPARE_WITH_TIMEOUT(logCount(QStringLiteral("CAN bus lost: ")), 1, kWait);
    QVERIFY(logCount(QStringLiteral("CAN bus lost: Connection 'virtualcan[%1]', ").arg(gActiveCANBus)) == 1);

    // Frames wait in the bounded queue while the bus is away.
    queueFrames(20, 1000);
    const quint32 attempts = onService([] { return CanInterface::I().reconnectAttempts(); });
    QTRY_VERIFY_WITH_TIMEOUT(onService([] { return CanInterface::I().reconnectAttempts(); }) >= attempts + 3, kWait);
    QCOMPARE(logCount(QStringLiteral("CAN bus lost")), 1); // once, not per attempt
    QCOMPARE(logCount(QStringLiteral("CAN bus recovered")), 0);
    QVERIFY(onService([] { return CanInterface::I().isBusLost(); }));
    QCOMPARE(onService([] { return FrameInterface::I().queue().size(); }), 20);

    QVERIFY(startServer());
    QTRY_COMPARE_WITH_TIMEOUT(logCount(QStringLiteral("CAN bus recovered: ")), 1, kWait);
    QVERIFY(_log.contains(QStringLiteral("CAN bus recovered: Connected 'virtualcan[%1]', ").arg(gActiveCANBus)));
    QCOMPARE(logCount(QStringLiteral("CAN bus lost")), 1);
    QVERIFY(!onService([] { return CanInterface::I().isRetrying(); }));
    // What waited goes out once the bus is back.
    QTRY_VERIFY_WITH_TIMEOUT(onService([] { return FrameInterface::I().queue().isEmpty(); }), kWait);

    // Traffic flows both ways again.
    QVERIFY(connectPeer());
    _dispatched.clear();
    _peerFrames.clear();
    QVERIFY(_peer->writeFrame(QCanBusFrame(eChlid_UI_TD, QByteArray::fromHex("a5"))));
    QTRY_COMPARE_WITH_TIMEOUT(_dispatched.size(), 1, kWait);
    queueFrames(5, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(peerMessages().size(), 5, kWait);
}

int main(int argc, char **argv)
{
    // The plug-in tells of every socket it opens; only its warnings matter here.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.virtualcan.info=false"));
    if (argc == 3 && qstrcmp(argv[1], kServerOption) == 0)
        return runBusServer(argc, argv);
    QCoreApplication app(argc, argv);
    TestCanBusVirtual test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_canbus_virtual.moc"
