#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>

#include "common/PeerProcess.h"
#include "peer/PeerSession.h"
#include "common/ServiceProcess.h"

// rararoz-peer run against the real service on the virtual bus: a scenario
// that passes, one that fails with what was expected and what came, one
// with a mistake that sends nothing, each with its JUnit report; and the
// shipped scenario of alarms, rejections and a confirmation time-out.
class TestPeerScenarios : public QObject
{
    Q_OBJECT

    ServiceProcess _service;
    PeerSession _listener;
    QTemporaryDir _dir;

    QString write(const QString &name, const QString &text)
    {
        QFile file(_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(text.toUtf8());
        return file.fileName();
    }

    // The report as lines: the suites' counts, then each failure with its
    // text.
    static QStringList report(const QString &fileName)
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return {QStringLiteral("no report")};
        QXmlStreamReader xml(&file);
        QStringList lines;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            if (xml.name() == QLatin1String("testsuites"))
                lines << QStringLiteral("tests=%1 failures=%2 skipped=%3")
                             .arg(a.value("tests"), a.value("failures"), a.value("skipped"));
            else if (xml.name() == QLatin1String("failure"))
                lines << a.value("message").toString() + QStringLiteral(" | ") + xml.readElementText();
        }
        if (xml.hasError())
            lines << xml.errorString();
        return lines;
    }

    int sentByTheToolSince(int mark) const
    {
        int count = 0;
        for (int i = mark; i < _listener.history().size(); ++i)
            count += _listener.history().at(i).channel == Can::eChlid_UI_TD ? 1 : 0;
        return count;
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

    void cleanupTestCase() { QCOMPARE(_service.stop(SIGTERM), 0); }

    void runs_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines"); // fragments of the output's lines, in order
        QTest::addColumn<QStringList>("junit");

        QTest::newRow("passes")
            << "step Reset\n    demo standby\n"
               "step Initiate, keeping the answer\n"
               "    send ID_INITIATE_TREATMENT request=1\n    reply accepted=1 as initiated\n"
               "    await ID_TD_OP_MODE_DATA mode=4 within 3s\n"
               "wait 300ms\n"
               "step Back to Standby\n    demo standby\n    show ID_TD_OP_MODE_DATA mode subMode\n"
            << QStringList{} << 0
            << QStringList{"on can0 (virtualcan): 6 steps",
                           "[1/6] Join the bus",
                           "[2/6] Reset ... OK",
                           "[3/6] Initiate, keeping the answer ... OK (",
                           "ID_TD_RESP_INITIATE_TREATMENT accepted=1; ID_TD_OP_MODE_DATA mode=4 (pre-treatment)",
                           "[4/6] wait 300ms ... OK (0.3 s): waited 0.3 s",
                           "[5/6] Back to Standby ... OK (",
                           "ID_TD_OP_MODE_DATA mode=3 (standby); ID_TD_OP_MODE_DATA mode=3 subMode=0",
                           "[6/6] Every check-in acknowledged ... OK",
                           "passed: 6 steps in "}
            << QStringList{"tests=6 failures=0 skipped=0"};

        QTest::newRow("fails, going on")
            << "step Reset\n    demo standby\n"
               "step Initiate, expecting a rejection\n    send ID_INITIATE_TREATMENT 1\n    reply accepted=0\n"
               "step A mode that never comes\n    await ID_TD_OP_MODE_DATA mode=7 within 1s\n"
               "step Back to Standby\n    demo standby\n"
            << QStringList{"--keep-going"} << 1
            << QStringList{"[2/6] Reset ... OK",
                           "[3/6] Initiate, expecting a rejection ... FAILED (",
                           "unexpected ID_TD_RESP_INITIATE_TREATMENT accepted=1 rejectReason=0, expected accepted=0",
                           "[4/6] A mode that never comes ... FAILED (1.0 s): no ID_TD_OP_MODE_DATA with mode=7 "
                           "within 1.0 s (last seen mode=4 subMode=0)",
                           "[5/6] Back to Standby ... OK",
                           "FAILED after ",
                           ": Initiate, expecting a rejection, A mode that never comes"}
            << QStringList{"tests=6 failures=2 skipped=0",
                           "unexpected ID_TD_RESP_INITIATE_TREATMENT accepted=1 rejectReason=0, expected accepted=0 | "
                           "expected: accepted=0\nreceived: accepted=1 rejectReason=0\n",
                           "no ID_TD_OP_MODE_DATA with mode=7 within 1.0 s (last seen mode=4 subMode=0) | "
                           "expected: ID_TD_OP_MODE_DATA mode=7 within 1.0 s\n"
                           "received: ID_TD_OP_MODE_DATA mode=4 subMode=0\n"};

        // Standby announces itself every second: one comes in the time.
        QTest::newRow("stops at the first failure")
            << "demo standby\nawait ID_TD_OP_MODE_DATA mode=6 within 1500ms\ndemo standby\n"
            << QStringList{} << 1
            << QStringList{"[3/5] await ID_TD_OP_MODE_DATA mode=6 within 1500ms ... FAILED (1.5 s): no "
                           "ID_TD_OP_MODE_DATA with mode=6 (post-treatment) within 1.5 s (last seen mode=3 subMode=0)",
                           "FAILED after "}
            << QStringList{"tests=5 failures=1 skipped=2",
                           "no ID_TD_OP_MODE_DATA with mode=6 (post-treatment) within 1.5 s (last seen mode=3 "
                           "subMode=0) | expected: ID_TD_OP_MODE_DATA mode=6 (post-treatment) within 1.5 s\n"
                           "received: ID_TD_OP_MODE_DATA mode=3 subMode=0\n"};
    }

    void runs()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, junit);
        const QString file = write(QStringLiteral("%1.scenario").arg(QTest::currentDataTag()), scenario);
        const QString xml = _dir.filePath(QStringLiteral("%1.xml").arg(QTest::currentDataTag()));
        PeerProcess peer;
        QCOMPARE(peer.run(QStringList{"run", file, "--junit", xml} + options, 60000), status);
        const QString out = peer.out();
        int from = 0;
        for (const QString &fragment : lines) {
            const int at = out.indexOf(fragment, from);
            QVERIFY2(at >= 0, qPrintable(QStringLiteral("'%1' not in order in:\n%2").arg(fragment, out)));
            from = at + fragment.size();
        }
        QVERIFY(peer.outLines().first().startsWith(QStringLiteral("Scenario %1 on can0").arg(file)));
        QCOMPARE(report(xml), junit);
    }

    void checksBeforeSending()
    {
        const int mark = _listener.mark();
        const QString good = write(QStringLiteral("good.scenario"), QStringLiteral("demo standby\n"));
        const QString bad = write(QStringLiteral("bad.scenario"),
                                  QStringLiteral("send ID_INITIATE_TREATMENT 1\nawait ID_TD_OP_MODE_DATA mode=x\n"));
        PeerProcess peer;
        QCOMPARE(peer.run({"run", good, bad}), 2);
        QCOMPARE(peer.err().split('\n', Qt::SkipEmptyParts),
                 (QStringList{bad + ":2: 'x' in 'mode=x' is not a number",
                              "rararoz-peer: 1 problem(s) in the scenarios; nothing sent"}));
        QVERIFY(peer.out().isEmpty());
        QTest::qWait(300);
        QCOMPARE(sentByTheToolSince(mark), 0);
    }

    // A little over a minute: the confirmation time-out is the service's own.
    void shippedAlarmScenarioPasses()
    {
        const QString xml = _dir.filePath(QStringLiteral("alarms.xml"));
        PeerProcess peer;
        const int code = peer.run(
            {"run", QStringLiteral(RARAROZ_SOURCE_DIR "/config/Scenarios/alarms.scenario"), "--junit", xml}, 150000);
        QVERIFY2(code == 0, qPrintable(peer.out() + peer.err()));
        QVERIFY(peer.out().contains("ID_TD_DURATION_VALIDATE_RESP accepted=0 rejectReason=6"));
        QVERIFY(peer.out().contains("ID_ALARM_STATUS_DATA alarmId=96 priority=3"));
        QVERIFY(peer.out().contains("ID_TD_UI_GENERIC_CONFIRMATION_RQST confirmId=4 command=1"));
        QCOMPARE(report(xml), QStringList{"tests=11 failures=0 skipped=0"});
    }
};

QTEST_GUILESS_MAIN(TestPeerScenarios)
#include "tst_peer_scenarios.moc"
