#include <QCanBus>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include "CanInterface.h"
#include "CommandLine.h"
#include "LogSpy.h"
#include "Threads.h"

using namespace Can;

// A CAN interface on a network interface that does not exist: the plug-in
// makes the device, opening it fails, the device is deleted and the service
// stays idle. A process has one CAN interface, hence a program of its own.
class TestCanInterfaceConnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void missingInterfaceFailsConnection();
    void transmitAfterFailureCountedAsFailed();
    void noRetryAfterStartUpFailure();

private:
    LogSpy _log;
    QList<QPointer<QCanBusDevice>> _devices;
    int _made = 0;
};

void TestCanInterfaceConnect::initTestCase()
{
    Threads::registerTypes();
    gCanPlugin = QStringLiteral("socketcan");
    gActiveCANBus = QStringLiteral("rararoz9");
    CanInterface::setDeviceFactory([this](const QString &plugin, const QString &name, QString *error) {
        QCanBusDevice *device = QCanBus::instance()->createDevice(plugin, name, error);
        _devices.append(device);
        if (device)
            ++_made;
        return device;
    });
}

void TestCanInterfaceConnect::missingInterfaceFailsConnection()
{
    CanInterface &service = CanInterface::I();
    QThread thread;
    QVERIFY(!service.init(thread));

    QCOMPARE(_devices.size(), 1);
    QCOMPARE(_made, 1); // the plug-in made the device; opening it failed
    const QString prefix = QStringLiteral("Connection 'socketcan[rararoz9]', ");
    QVERIFY2(service.status().startsWith(prefix), qPrintable(service.status()));
    QVERIFY2(service.status().size() > prefix.size(), "the device's error text follows");
    QCOMPARE(_log.contents(), QStringList{service.status()});
    QVERIFY(_devices.first().isNull()); // deleted on the failure
    QVERIFY(!service.hasDevice());
    QCOMPARE(service.thread(), QThread::currentThread());
    QVERIFY(!thread.isRunning());
    QVERIFY(!service.init());
    QCOMPARE(_devices.size(), 1);
}

void TestCanInterfaceConnect::transmitAfterFailureCountedAsFailed()
{
    CanInterface &service = CanInterface::I();
    QSignalSpy results(&service, &CanInterface::didFrameTransmit);
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\0')));
    service.onFrameTransmit(QCanBusFrame(0x040, QByteArray(8, '\1')));
    QCOMPARE(service.txFrameCount(), FrameCount(2));
    QCOMPARE(results.count(), 2);
    QCOMPARE(results.at(0).at(0).toBool(), false);
    QCOMPARE(results.at(1).at(0).toBool(), false);
}

void TestCanInterfaceConnect::noRetryAfterStartUpFailure()
{
    CanInterface &service = CanInterface::I();
    QVERIFY(!service.isRetrying());
    QTest::qWait(50);
    QCOMPARE(_devices.size(), 1);
}

QTEST_GUILESS_MAIN(TestCanInterfaceConnect)
#include "tst_caninterface_connect.moc"
