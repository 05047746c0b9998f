#include <QRegularExpression>
#include <QtTest>

#include <csignal>

#include "canbus/MessageBuilder.h"
#include "common/PeerProcess.h"
#include "peer/PeerSession.h"
#include "common/ServiceProcess.h"

// The real service and the real rararoz-peer tool on the virtual bus: the
// whole walkthrough, the send and monitor commands, and the sequence numbers
// of everything the service sent meanwhile, seen by a listening node of this
// test.
class TestPeerWalkthrough : public QObject
{
    Q_OBJECT

    ServiceProcess _service;
    PeerSession _listener;

    static bool isFromService(const ReceivedMessage &m)
    {
        return m.channel == Can::eChlid_TD_Alarm || m.channel == Can::eChlid_TD_UI ||
               m.channel == Can::eChlid_TD_Sync || m.channel == Can::eChlid_DD_Sync;
    }

    QList<ReceivedMessage> uiMessagesSince(int mark) const
    {
        QList<ReceivedMessage> result;
        for (int i = mark; i < _listener.history().size(); ++i)
            if (_listener.history().at(i).channel == Can::eChlid_UI_TD)
                result << _listener.history().at(i);
        return result;
    }

private slots:
    void initTestCase()
    {
        QString error;
        // This node opens the bus first, so the bus lives as long as the test.
        QVERIFY2(_listener.open(QStringLiteral("virtualcan"), QStringLiteral("can0"), error), qPrintable(error));
        QVERIFY(_service.start());
        QVERIFY(_service.waitForLog("log", "POST,UI,The configuration file 'Unhandled.conf' successfully loaded,"));
    }

    void cleanupTestCase()
    {
        const int code = _service.stop(SIGTERM);
        QVERIFY2(code == 0, qPrintable(_service.output().right(3000)));
        // The walkthrough's requests reached the simulator by their definitions.
        const QString log = _service.logText("log");
        QVERIFY(log.contains("4500,UI,~Initiate Treatment,1"));
        QVERIFY(log.contains("3f00,UI,~Treatment Parameters To Validate,1,0,0,400,500,180"));
    }

    void walkthroughPasses()
    {
        PeerProcess peer;
        const int code = peer.run({"walkthrough"}, 240000);
        const QString output = peer.out() + peer.err();
        QVERIFY2(code == 0, qPrintable(output));
        const QStringList lines = peer.outLines();
        QVERIFY(lines.first().startsWith("Walkthrough on can0 (virtualcan): "));
        QVERIFY(lines.last().startsWith("Walkthrough passed: "));
        // One line per step, each with its answer.
        const QRegularExpression step(QStringLiteral("^\\[ ?\\d+/\\d+\\] .+ \\.\\.\\. OK \\(\\d+\\.\\d s\\): .+"));
        int steps = 0;
        for (const QString &line : lines)
            if (step.match(line).hasMatch())
                ++steps;
        QCOMPARE(steps, lines.size() - 2);
        QVERIFY(steps >= 30);
        QVERIFY(output.contains("ID_TD_RESP_INITIATE_TREATMENT accepted=1 rejectReason=0"));
        QVERIFY(output.contains("ID_TD_OP_MODE_DATA mode=6 (post-treatment)"));
    }

    // What the service sent during the walkthrough: ordinary messages count
    // 1, 2, 3, ... and each acknowledgement takes one number of the count;
    // negative UI sequences and only those were acknowledged, once each.
    void sequenceNumbering()
    {
        const QList<ReceivedMessage> &history = _listener.history();
        QVERIFY(history.size() > 1000);
        Sequence previous = 0;
        int acknowledgementsSince = 0;
        int ordinary = 0;
        QSet<Sequence> acknowledged;
        for (const ReceivedMessage &m : history) {
            QCOMPARE(m.status, ReceivedMessage::Complete);
            if (!isFromService(m))
                continue;
            if (PeerSession::isAcknowledgement(m)) {
                QVERIFY2(!acknowledged.contains(m.sequence), qPrintable(QString::number(m.sequence)));
                acknowledged.insert(m.sequence);
                ++acknowledgementsSince;
                continue;
            }
            if (previous != 0)
                QVERIFY2(m.sequence == previous + 1 + acknowledgementsSince,
                         qPrintable(QStringLiteral("%1 after %2 and %3 acknowledgements")
                                        .arg(m.sequence)
                                        .arg(previous)
                                        .arg(acknowledgementsSince)));
            else
                QCOMPARE(m.sequence, Sequence(1 + acknowledgementsSince)); // the first message the service sent
            previous = m.sequence;
            acknowledgementsSince = 0;
            ++ordinary;
        }
        QVERIFY(ordinary > 500);

        int requested = 0;
        for (const ReceivedMessage &m : uiMessagesSince(0)) {
            if (m.sequence < 0) {
                ++requested;
                QVERIFY2(acknowledged.contains(Sequence(-m.sequence)), qPrintable(QString::number(m.sequence)));
            }
        }
        // The listener's own check-ins are not on its list, the tool's are.
        QVERIFY(requested >= 60);
        QVERIFY(acknowledged.size() >= requested);
    }

    void sendPrintsAcknowledgementAndResponse()
    {
        PeerProcess peer;
        const int code = peer.run({"send", "ID_INITIATE_TREATMENT", "0"});
        QVERIFY2(code == 0, qPrintable(peer.out() + peer.err()));
        const QStringList lines = peer.outLines();
        QCOMPARE(lines.size(), 3);
        QVERIFY2(QRegularExpression("^sent +\\S+  041  UI->TD   seq +-1  4500 ID_INITIATE_TREATMENT  request=0$")
                     .match(lines.at(0))
                     .hasMatch(),
                 qPrintable(lines.at(0)));
        QVERIFY2(QRegularExpression(
                     "^ack +\\S+  040  TD->UI   seq +1  FFFF ID_ACK_MESSAGE_THAT_REQUIRES_ACK  \\(\\d+ ms\\)$")
                     .match(lines.at(1))
                     .hasMatch(),
                 qPrintable(lines.at(1)));
        QVERIFY2(lines.at(2).startsWith("response ") &&
                     lines.at(2).contains("4600 ID_TD_RESP_INITIATE_TREATMENT  accepted=1 rejectReason=0  ("),
                 qPrintable(lines.at(2)));
    }

    void sendWithoutResponseWaitsForTheAcknowledgement()
    {
        PeerProcess peer;
        QCOMPARE(peer.run({"send", "0x1000"}), 0);
        QCOMPARE(peer.outLines().size(), 2);
        QVERIFY(peer.outLines().at(1).startsWith("ack "));
    }

    void sendFailsWithoutResponse()
    {
        // Standby keeps a water sample request for later: no response now.
        PeerProcess peer;
        QCOMPARE(peer.run({"send", "ID_UI_WATER_SAMPLE_RESULT_RQST", "result=25.5", "--timeout", "700"}), 1);
        QVERIFY(peer.out().contains("ack "));
        QCOMPARE(peer.err().trimmed(),
                 QStringLiteral("rararoz-peer: no response ID_TD_WATER_SAMPLE_RESULT_RESP within 700 ms"));
    }

    void badValueSendsNothing()
    {
        const int mark = _listener.mark();
        PeerProcess peer;
        QCOMPARE(peer.run({"send", "ID_UI_DURATION_CONFIRM_RQST", "240", "-0x1", "0.5"}), 2);
        QVERIFY2(peer.err().startsWith("rararoz-peer: Unknown option"), qPrintable(peer.err()));
        QCOMPARE(peer.run({"send", "ID_UI_DURATION_CONFIRM_RQST", "240", "heparinDurationMin=-1", "0.5"}), 2);
        QCOMPARE(peer.err().trimmed().split('\n').last(),
                 QStringLiteral("rararoz-peer: field 'heparinDurationMin' of ID_UI_DURATION_CONFIRM_RQST: '-1' is not "
                                "an integer from 0 to 4294967295 (U32); nothing sent"));
        PeerProcess unknown;
        QCOMPARE(unknown.run({"send", "ID_NO_SUCH_THING"}), 2);
        QVERIFY(unknown.err().startsWith("rararoz-peer: unknown message 'ID_NO_SUCH_THING'"));
        QTest::qWait(300);
        QVERIFY(uiMessagesSince(mark).isEmpty());
        QVERIFY(peer.out().isEmpty());
    }

    void monitorDecodesAndShowsBrokenMessages()
    {
        PeerProcess monitor;
        monitor.start({"monitor", "--duration", "3"});
        QVERIFY(monitor.waitForOutput("Monitoring can0", 10000));
        QTest::qWait(200);
        // A message with a wrong CRC and a frame that opens nothing.
        Can::MessageBuilder builder;
        FrameList frames;
        builder.buildFrames(Can::ID_INITIATE_TREATMENT, QByteArray::fromHex("01000000"), frames, 44);
        frames[1][2] = char(frames[1][2] ^ 0x01);
        for (const QByteArray &frame : frames)
            QVERIFY(_listener.bus().write(Can::eChlid_UI_TD, frame));
        QVERIFY(_listener.bus().write(Can::eChlid_UI_TD, QByteArray::fromHex("0102030405060708")));
        QCOMPARE(monitor.wait(10000), 0);
        const QString out = monitor.out();
        QVERIFY2(QRegularExpression("\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  100  TD->all  seq +\\d+  1200 ID_TD_OP_MODE_DATA  "
                                    "mode=3 subMode=0\n")
                     .match(out)
                     .hasMatch(),
                 qPrintable(out));
        QVERIFY(out.contains("001  TD->all  seq "));
        QVERIFY(out.contains("0100 ID_ALARM_STATUS_DATA  priority=0 alarmId=0 reserved=0 property=0"));
        QVERIFY2(out.contains("041  UI->TD   seq     44  4500 ID_INITIATE_TREATMENT  CRC ERROR expected "),
                 qPrintable(out));
        QVERIFY(out.contains("041  UI->TD   BROKEN frame without sync byte: 01 02 03 04 05 06 07 08"));
        QVERIFY(monitor.err().contains("Monitoring can0 (virtualcan) with "));
    }

    void monitorRawIsCandumpLog()
    {
        PeerProcess monitor;
        QCOMPARE(monitor.run({"monitor", "--raw", "--duration", "1.5"}, 10000), 0);
        const QRegularExpression log(QStringLiteral("^\\(\\d{10}\\.\\d{6}\\) can0 [0-9A-F]{3}#([0-9A-F]{2}){0,8}$"));
        const QStringList lines = monitor.outLines();
        QVERIFY(lines.size() > 5);
        for (const QString &line : lines)
            QVERIFY2(log.match(line).hasMatch(), qPrintable(line));
        QVERIFY(monitor.out().contains(" can0 100#A5"));
    }

    void monitorFilters()
    {
        PeerProcess only;
        QCOMPARE(only.run({"monitor", "--only", "ID_TD_OP_MODE_DATA", "--duration", "2.2"}, 10000), 0);
        QVERIFY(only.outLines().size() >= 2);
        for (const QString &line : only.outLines())
            QVERIFY2(line.contains("1200 ID_TD_OP_MODE_DATA  mode=3"), qPrintable(line));

        PeerProcess except;
        QCOMPARE(except.run({"monitor", "--except", "*ALARM*,1200", "--duration", "1.5"}, 10000), 0);
        QVERIFY(!except.out().contains("ID_ALARM_STATUS_DATA"));
        QVERIFY(!except.out().contains("ID_TD_OP_MODE_DATA"));

        PeerProcess bad;
        QCOMPARE(bad.run({"monitor", "--only", "NOTHING_LIKE_THIS"}), 2);
        QCOMPARE(bad.err().trimmed(), QStringLiteral("rararoz-peer: no message is named 'NOTHING_LIKE_THIS'"));
    }
};

QTEST_GUILESS_MAIN(TestPeerWalkthrough)
#include "tst_peer_walkthrough.moc"
