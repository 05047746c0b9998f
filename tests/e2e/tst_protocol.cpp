#include <QtTest>

#include <csignal>

#include "common/ServiceProcess.h"
#include "common/UiBoard.h"

// The real service on the virtual bus, seen from the UI board's side.
class TestProtocol : public QObject
{
    Q_OBJECT

    ServiceProcess _service;
    UiBoard _ui;

    // The raw frames of every message from from on, on the TD-to-UI channel.
    QList<QByteArray> framesToUi(int from) const
    {
        QList<QByteArray> frames;
        const QList<ReceivedMessage> &history = _ui.session().history();
        for (int i = from; i < history.size(); ++i)
            if (history.at(i).channel == Can::eChlid_TD_UI)
                for (const RawFrame &frame : history.at(i).frames)
                    frames << frame.data;
        return frames;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(_ui.open(error), qPrintable(error));
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
    void joinsTheBus() { QVERIFY(_ui.waitForService()); }

    void checkInIsAcknowledged()
    {
        const int mark = _ui.mark();
        QVERIFY(_ui.session().sendWithSequence(Can::ID_UI_CHECK_IN, {}, -5));
        QVERIFY(_ui.session().waitFor(
            [&] { return framesToUi(mark).contains(QByteArray::fromHex("a50500ffff000600")); }, UiBoard::kWait));
        QVERIFY(_service.waitForLog("log", "    ,UI,Ack Req, Sq:-5, ID:0x1000"));
        QVERIFY(_service.waitForLog("log", "    ,UI,Ack Bak, Sq:5, Dst:TD"));
        QVERIFY(_service.waitForLog("log", "1000,UI,~UI Check In"));
    }

    void positiveSequenceAndBrokenCrcAreNotAcknowledged()
    {
        const int mark = _ui.mark();
        QVERIFY(_ui.session().sendWithSequence(Can::ID_UI_CHECK_IN, {}, 6));
        QByteArray broken = QByteArray::fromHex("a5f9ff1000000000"); // sequence -7, wrong CRC
        QVERIFY(_ui.session().bus().write(Can::eChlid_UI_TD, broken));
        // A later good request proves the two above were handled first.
        QVERIFY(_ui.session().sendWithSequence(Can::ID_UI_CHECK_IN, {}, -8));
        QVERIFY(_ui.session().waitFor([&] { return !framesToUi(mark).isEmpty(); }, 5000));
        for (const QByteArray &p : framesToUi(mark)) {
            QCOMPARE(p.mid(3, 2), QByteArray::fromHex("ffff"));
            QCOMPARE(p.mid(1, 2), QByteArray::fromHex("0800")); // only sequence 8 is answered
        }
        QVERIFY(_service.waitForLog("service", "CRC error"));
    }

    void definedRequestIsDecodedByName()
    {
        QVERIFY2(_ui.send(QStringLiteral("ID_UI_WATER_SAMPLE_RESULT_RQST"), {QStringLiteral("result=25")}) != 0,
                 qPrintable(_ui.error()));
        QVERIFY(_service.waitForLog("log", "a300,UI,~Water Sample Result Request,25"));
        QVERIFY(_service.waitForOutput("Message a300,UI,~Water Sample Result Request,25"));
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
