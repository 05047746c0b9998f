#include <QtTest>

#include <csignal>

#include "BusClient.h"
#include "ServiceProcess.h"

// The real service on the virtual bus, seen from the UI board's side.
class tst_Protocol : public QObject
{
    Q_OBJECT

    ServiceProcess _service;
    BusClient _ui;

private slots:
    void initTestCase()
    {
        QVERIFY(_ui.connectBus());
        QVERIFY(_service.start({"-l"}));
        QVERIFY(_service.waitForLog("service", "Can::MessageDispatcher Initialized"));
        // The configuration is loaded once the self test has passed.
        QVERIFY(_service.waitForLog("log", "POST,UI,The configuration file 'Unhandled.conf' successfully loaded,"));
    }

    void cleanupTestCase()
    {
        const int code = _service.stop(SIGTERM);
        QVERIFY2(code == 0, qPrintable(_service.output().right(3000)));
    }

    // The service joins the bus a moment after it starts; like the UI
    // board, check in until the first acknowledgement arrives.
    void joinsTheBus()
    {
        bool acknowledged = false;
        for (int i = 0; i < 50 && !acknowledged; ++i) {
            QVERIFY(_ui.sendMessage(0x041, 0x1000, -1));
            acknowledged = QTest::qWaitFor([this] { return !_ui.frames(0x040).isEmpty(); }, 200);
        }
        QVERIFY(acknowledged);
    }

    void checkInIsAcknowledged()
    {
        _ui.clear();
        QVERIFY(_ui.sendMessage(0x041, 0x1000, -5));
        QVERIFY(_ui.waitForFrame(0x040, QByteArray::fromHex("a50500ffff000600")));
        QVERIFY(_service.waitForLog("log", "    ,UI,Ack Req, Sq:-5, ID:0x1000"));
        QVERIFY(_service.waitForLog("log", "    ,UI,Ack Bak, Sq:5, Dst:TD"));
        QVERIFY(_service.waitForLog("log", "1000,UI,~UI Check In"));
    }

    void positiveSequenceAndBrokenCrcAreNotAcknowledged()
    {
        _ui.clear();
        QVERIFY(_ui.sendMessage(0x041, 0x1000, 6));
        QByteArray broken = QByteArray::fromHex("a5f9ff1000000000"); // sequence -7, wrong CRC
        QVERIFY(_ui.sendFrame(0x041, broken));
        // A later good request proves the two above were handled first.
        QVERIFY(_ui.sendMessage(0x041, 0x1000, -8));
        QTRY_VERIFY_WITH_TIMEOUT(!_ui.frames(0x040).isEmpty(), 5000);
        for (const QCanBusFrame &frame : _ui.frames(0x040)) {
            const QByteArray p = frame.payload();
            QCOMPARE(p.mid(3, 2), QByteArray::fromHex("ffff"));
            QCOMPARE(p.mid(1, 2), QByteArray::fromHex("0800")); // only sequence 8 is answered
        }
        QVERIFY(_service.waitForLog("service", "CRC error"));
    }

    void definedRequestIsDecodedByName()
    {
        QVERIFY(_ui.sendMessage(0x041, 0xA300, 11, QByteArray::fromHex("0000c841")));
        QVERIFY(_service.waitForLog("log", "a300,UI,~Water Sample Result Request,25"));
        QVERIFY(_service.waitForOutput("Message a300,UI,~Water Sample Result Request,25"));
    }
};

QTEST_GUILESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
