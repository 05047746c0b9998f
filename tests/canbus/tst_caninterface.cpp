#include <QCanBus>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

#include "StderrCapture.h"
#include "CanInterface.h"
#include "CommandLine.h"
#include "LogSpy.h"
#include "Threads.h"

using namespace Can;

// A CAN interface whose plug-in does not exist: start-up fails, the service
// stays idle on the main thread and every write fails but is counted. Also
// the console trace format and the device-error throttling.
class TestCanInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // Start-up without a device
    void initWithMissingPluginFailsAndLogsStatus();
    void secondInitRefusedAndCreatesNoDevice();
    void transmitWithoutDeviceCountedAsFailed();

    // Device errors
    void identicalErrorsLoggedOncePer100000();
    void errorsOfOtherKindsCountedNotLogged();
    void errorsWithoutDeviceStartNoRetry();

    // Console trace
    void consoleOutSwitchLogged();
    void formatFrame_data();
    void formatFrame();
    void formatErrorFrameUsesInterpretation();
    void traceWrittenToStandardError();

private:
    LogSpy _log;
    int _factoryCalls = 0;
};

namespace {

const QString kPlugin = QStringLiteral("rararoz-nosuchplugin");
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

void TestCanInterface::initTestCase()
{
    Threads::registerTypes();
    gCanPlugin = kPlugin;
    gActiveCANBus = QStringLiteral("can0");
    // Count the devices asked for; the real QCanBus still makes them.
    CanInterface::setDeviceFactory([this](const QString &plugin, const QString &name, QString *error) {
        ++_factoryCalls;
        return QCanBus::instance()->createDevice(plugin, name, error);
    });
}

void TestCanInterface::init()
{
    _log.clear();
}

void TestCanInterface::initWithMissingPluginFailsAndLogsStatus()
{
    CanInterface &service = CanInterface::I();
    QString expectedError;
    QVERIFY(!QCanBus::instance()->createDevice(kPlugin, QStringLiteral("can0"), &expectedError));
    QVERIFY(!expectedError.isEmpty());

    QThread thread;
    QVERIFY(!service.init(thread));

    const QString expected = QStringLiteral("Device Creation '%1[can0]', %2").arg(kPlugin, expectedError);
    QCOMPARE(service.status(), expected);
    QCOMPARE(_log.contents(), QStringList{expected});
    QCOMPARE(_log.lines().at(0).type, Storage::Logger::eLogDebug);
    QCOMPARE(_log.lines().at(0).timestamp, true);
    QCOMPARE(_factoryCalls, 1);
    QVERIFY(!service.hasDevice());
    // No device: the service is not moved and the thread not started.
    QCOMPARE(service.thread(), QThread::currentThread());
    QVERIFY(!thread.isRunning());
    QVERIFY(!service.isRetrying());
}

void TestCanInterface::secondInitRefusedAndCreatesNoDevice()
{
    CanInterface &service = CanInterface::I();
    const QString status = service.status();
    QVERIFY(!service.init());
    QThread thread;
    QVERIFY(!service.init(thread));
    QCOMPARE(_factoryCalls, 1);
    QVERIFY(!service.hasDevice());
    QVERIFY(!thread.isRunning());
    QCOMPARE(service.status(), status);
    QVERIFY(_log.contents().isEmpty());
}

void TestCanInterface::transmitWithoutDeviceCountedAsFailed()
{
    CanInterface &service = CanInterface::I();
    QSignalSpy results(&service, &CanInterface::didFrameTransmit);
    QSignalSpy written(&service, &CanInterface::didFrameWritten);
    const FrameCount before = service.txFrameCount();
    for (int i = 0; i < 3; ++i)
        service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, char(i))));
    QCOMPARE(service.txFrameCount(), before + 3);
    QCOMPARE(results.count(), 3);
    for (const QList<QVariant> &result : results)
        QCOMPARE(result.at(0).toBool(), false);
    QCOMPARE(written.count(), 0);
    QCOMPARE(service.rxFrameCount(), FrameCount(0));
}

void TestCanInterface::identicalErrorsLoggedOncePer100000()
{
    CanInterface &service = CanInterface::I();
    QCOMPARE(service.erFrameCount(), FrameCount(0));
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

void TestCanInterface::errorsOfOtherKindsCountedNotLogged()
{
    CanInterface &service = CanInterface::I();
    QSignalSpy errors(&service, &CanInterface::didFrameError);
    const FrameCount before = service.erFrameCount();
    service.onFrameError(QCanBusDevice::TimeoutError);
    service.onFrameError(QCanBusDevice::OperationError);
    service.onFrameError(QCanBusDevice::NoError);
    QCOMPARE(service.erFrameCount(), before + 3);
    QCOMPARE(errors.count(), 3);
    QVERIFY(_log.contents().isEmpty());
}

void TestCanInterface::errorsWithoutDeviceStartNoRetry()
{
    // Only a bus that was up is reopened; an idle service stays idle.
    CanInterface &service = CanInterface::I();
    service.onFrameError(QCanBusDevice::ConnectionError);
    service.onDeviceStateChange(QCanBusDevice::UnconnectedState);
    QVERIFY(!service.isRetrying());
    QVERIFY(!service.isBusLost());
    QCOMPARE(_log.count(QStringLiteral("CAN bus lost")), 0);
    service.reconnect();
    QCOMPARE(_factoryCalls, 1);
    QCOMPARE(service.reconnectAttempts(), 0u);

    service.quitDevice(); // nothing to close
    QVERIFY(!service.status().startsWith(QStringLiteral("Disconnected")));
}

void TestCanInterface::consoleOutSwitchLogged()
{
    CanInterface &service = CanInterface::I();
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
    CanInterface &service = CanInterface::I();
    const FrameCount count = service.txFrameCount() + 1;
    service.enableConsoleOut(true);
    QByteArray text;
    {
        StderrCapture capture;
        service.onFrameTransmit(stamped(0x040, bytes({0xA5, 0x02}), 0, 0));
        text = capture.take();
    }
    service.enableConsoleOut(false);
    const QString expected = QStringLiteral("Tx:%1          0.0000   ---  64 %2.02\n").arg(count).arg(kYellowA5);
    QCOMPARE(QString::fromUtf8(text), expected);
}

QTEST_GUILESS_MAIN(TestCanInterface)
#include "tst_caninterface.moc"
