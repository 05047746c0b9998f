#include <QXmlStreamReader>
#include <QtTest>

#include "peer/JUnitReport.h"
#include "MessageGlobals.h"
#include "peer/MessageDefinitions.h"
#include "peer/PayloadCodec.h"
#include "peer/ScenarioChecker.h"
#include "peer/ScenarioChecks.h"
#include "peer/ScenarioParser.h"

// Scenario files: what the parser reads, what the checker finds wrong
// against the shipped definitions, conditions and kept values held against
// real payloads, and the JUnit report of a run.
class TestScenario : public QObject
{
    Q_OBJECT

    MessageDefinitions _definitions;

    // The steps read, one line each: "title: verb message values|checks".
    static QString outline(const Scenario &scenario)
    {
        static const char *verbs[] = {"send", "await", "wait", "demo", "show"};
        QStringList steps;
        for (const ScenarioStep &step : scenario.steps) {
            QStringList actions;
            for (const ScenarioAction &a : step.actions) {
                QStringList checks;
                for (const ScenarioCheck &check : a.checks)
                    checks << check.text();
                actions << QStringLiteral("%1 %2 %3|%4%5%6")
                               .arg(QLatin1String(verbs[a.kind]), a.message, a.values.join(' '), checks.join(' '),
                                    a.timeMs ? QStringLiteral(" %1ms").arg(a.timeMs) : QString(),
                                    a.bindAs.isEmpty() ? QString() : QStringLiteral(" as ") + a.bindAs);
            }
            steps << QStringLiteral("%1@%2: %3").arg(step.title).arg(step.line).arg(actions.join(QStringLiteral("; ")));
        }
        return steps.join('\n');
    }

    QStringList problems(const QString &text)
    {
        Scenario scenario;
        QStringList found;
        ScenarioParser::parse(text, QStringLiteral("t.scenario"), scenario, found);
        ScenarioChecker(_definitions).check(scenario, found);
        return found;
    }

    DecodedPayload decoded(quint16 id, const char *hex) const
    {
        return PayloadCodec::decode(*_definitions.find(id), QByteArray::fromHex(hex));
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(_definitions.load(QStringLiteral(RARAROZ_SOURCE_DIR "/config/Messages/Peer.conf"), error),
                 qPrintable(error));
    }

    void parses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("steps");
        QTest::newRow("block") << "# comment\nstep Initiate  # not the title\n  send ID_INITIATE_TREATMENT 1\n"
                                  "  await ID_TD_OP_MODE_DATA mode=4 subMode!=7 within 2.5s\n"
                               << "Initiate@2: send ID_INITIATE_TREATMENT 1|; await ID_TD_OP_MODE_DATA |mode=4 "
                                  "subMode!=7 2500ms";
        QTest::newRow("one-line steps") << "wait 500ms\ndemo stop\n\nshow 1200 mode subMode\n"
                                        << "wait 500ms@1: wait  | 500ms\ndemo stop@2: demo  stop|\nshow 1200 mode "
                                           "subMode@4: show 1200 mode subMode|";
        QTest::newRow("reply and continuation")
            << "step V\n\tsend 7600 \\\n  durationMin=240\n\treply accepted=1 rejectReason>=0 as d\n"
               "\tsend 7800 ${d.durationMin} ${d.heparinDurationMin} ${d.ufRateLHR:.2}\n"
            << "V@1: send 7600 durationMin=240|accepted=1 rejectReason>=0 as d; "
               "send 7800 ${d.durationMin} ${d.heparinDurationMin} ${d.ufRateLHR:.2}|";
        QTest::newRow("every other field") << "step P\n  await 4000 accepted=1 *=0 within 2min as v\n"
                                           << "P@1: await 4000 |accepted=1 *=0 120000ms as v";
    }

    void parses()
    {
        QFETCH(QString, text);
        QFETCH(QString, steps);
        Scenario scenario;
        QStringList found;
        QVERIFY2(ScenarioParser::parse(text, QStringLiteral("t"), scenario, found), qPrintable(found.join('\n')));
        QCOMPARE(outline(scenario), steps);
        QVERIFY2(ScenarioChecker(_definitions).check(scenario, found), qPrintable(found.join('\n')));
    }

    void problems_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("problem");
        QTest::newRow("unknown action") << "step A\n  sned 4500 1\n"
                                        << "t.scenario:2: unknown action 'sned' (step, send, reply, await, wait, "
                                           "demo, show)\nt.scenario:1: the step has no actions (indent them under "
                                           "its step line)";
        QTest::newRow("no title") << "step\n  wait 1s"
                                  << "t.scenario:1: a step needs a title";
        QTest::newRow("indented outside a step") << "  wait 1s"
                                                 << "t.scenario:1: an indented action belongs under a step line";
        QTest::newRow("reply without send") << "step A\n  wait 1s\n  reply accepted=1"
                                            << "t.scenario:3: a reply belongs right after its send";
        QTest::newRow("reply to no response") << "send ID_UI_CHECK_IN\nreply accepted=1"
                                              << "t.scenario:2: ID_UI_CHECK_IN has no response to check";
        QTest::newRow("unknown message") << "await ID_NOTHING mode=1"
                                         << "t.scenario:1: unknown message 'ID_NOTHING' (not in " RARAROZ_SOURCE_DIR
                                            "/config/Messages/Peer.conf)";
        QTest::newRow("unknown field") << "await ID_TD_OP_MODE_DATA mod=3"
                                       << "t.scenario:1: ID_TD_OP_MODE_DATA has no field 'mod'";
        QTest::newRow("reply field") << "send 4500 1\nreply accepted=1 reason=0"
                                     << "t.scenario:2: ID_TD_RESP_INITIATE_TREATMENT has no field 'reason'";
        QTest::newRow("value out of its type") << "send ID_UI_ALARM_USER_ACTION_REQUEST -1"
                                               << "t.scenario:1: field 'action' of ID_UI_ALARM_USER_ACTION_REQUEST: "
                                                  "'-1' is not an integer from 0 to 4294967295 (U32)";
        QTest::newRow("too many values") << "send ID_INITIATE_TREATMENT 1 2"
                                         << "t.scenario:1: ID_INITIATE_TREATMENT takes 1 value; '2' is one too many";
        QTest::newRow("missing value") << "send 7800 240 180"
                                       << "t.scenario:1: field 'ufRateLHR' (F32) of ID_UI_DURATION_CONFIRM_RQST has "
                                          "no value";
        QTest::newRow("condition out of its type") << "await ID_TD_OP_MODE_DATA subMode=-1"
                                                   << "t.scenario:1: field 'subMode' of ID_TD_OP_MODE_DATA: '-1' is "
                                                      "not an integer from 0 to 4294967295 (U32)";
        QTest::newRow("no number") << "await ID_TD_OP_MODE_DATA mode=standby"
                                   << "t.scenario:1: 'standby' in 'mode=standby' is not a number";
        QTest::newRow("no condition") << "await ID_TD_OP_MODE_DATA mode"
                                      << "t.scenario:1: 'mode' is no condition (field=value, field>=value, ...)";
        QTest::newRow("bad time") << "await ID_TD_OP_MODE_DATA within 5"
                                  << "t.scenario:1: '5' is no time (500ms, 5s, 2min)";
        QTest::newRow("wait without time") << "wait"
                                           << "t.scenario:1: wait takes one time (500ms, 5s, 2min)";
        QTest::newRow("unknown demo command") << "demo dialysis"
                                              << "t.scenario:1: unknown demo-menu command 'dialysis' (standby, "
                                                 "pre-treatment, blood-prime, treatment, rinseback, recirculation, "
                                                 "stop, treatment-end, post-treatment)";
        QTest::newRow("used before kept") << "send 7800 ${d.durationMin} 1 2\nsend 7600 240\nreply as d"
                                          << "t.scenario:1: ${d.durationMin}: nothing is kept as 'd' before this line";
        QTest::newRow("kept without the field") << "await ID_TD_OP_MODE_DATA as m\nsend 4500 ${m.txState}"
                                                << "t.scenario:2: ID_TD_OP_MODE_DATA has no field 'txState'";
        QTest::newRow("malformed reference") << "send 4500 ${m.mode"
                                             << "t.scenario:1: '${m.mode' holds a malformed reference "
                                                "(${name.field} or ${name.field:.2})";
        QTest::newRow("show without fields") << "show ID_TD_OP_MODE_DATA"
                                             << "t.scenario:1: show needs the fields to note";
        QTest::newRow("nothing") << "# only a comment\n"
                                 << "t.scenario:1: the scenario has no steps";
    }

    void problems()
    {
        QFETCH(QString, text);
        QFETCH(QString, problem);
        QCOMPARE(problems(text).join('\n'), problem);
    }

    void shippedScenariosAreClean_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("steps");
        QTest::newRow("demo") << "demo.scenario" << 33;
        QTest::newRow("alarms") << "alarms.scenario" << 9;
    }

    void shippedScenariosAreClean()
    {
        QFETCH(QString, file);
        QFETCH(int, steps);
        Scenario scenario;
        QStringList found;
        QVERIFY2(ScenarioChecker(_definitions)
                     .load(QStringLiteral(RARAROZ_SOURCE_DIR "/config/Scenarios/") + file, scenario, found),
                 qPrintable(found.join('\n')));
        QCOMPARE(scenario.steps.size(), steps);
    }

    void conditions_data()
    {
        QTest::addColumn<quint16>("id");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("conditions");
        QTest::addColumn<bool>("holds");
        QTest::addColumn<QString>("expected");
        const quint16 mode = Can::ID_TD_OP_MODE_DATA;
        const quint16 setPoints = Can::ID_TD_TREATMENT_SET_POINTS;
        QTest::newRow("equal") << mode << QByteArray("0400000000000000") << "mode=4" << true
                               << "mode=4 (pre-treatment)";
        QTest::newRow("not equal") << mode << QByteArray("0400000000000000") << "mode!=4" << false
                                   << "mode!=4 (pre-treatment)";
        QTest::newRow("signed") << mode << QByteArray("ffffffff00000000") << "mode<0" << true << "mode<0";
        QTest::newRow("hexadecimal") << mode << QByteArray("0300000010000000") << "subMode=0x10" << true
                                     << "subMode=16";
        // 450, 500, 36.5 and 36.6 as F32: the float of the expected value counts.
        QTest::newRow("float") << setPoints << QByteArray("c2010000f401000000001242") << "dialysateTemperatureC=36.5"
                               << true << "dialysateTemperatureC=36.5";
        QTest::newRow("float not exact") << setPoints << QByteArray("c2010000f401000066661242")
                                         << "dialysateTemperatureC=36.6" << true << "dialysateTemperatureC=36.6";
        QTest::newRow("bounds") << setPoints << QByteArray("c2010000f401000000001242")
                                << "bloodFlowMLPM>=450 dialysateFlowMLPM<=500 dialysateFlowMLPM>499" << true
                                << "bloodFlowMLPM>=450 dialysateFlowMLPM<=500 dialysateFlowMLPM>499";
        QTest::newRow("every other field")
            << quint16(Can::ID_TD_RESP_INITIATE_TREATMENT) << QByteArray("0100000000000000") << "accepted=1 *=0" << true
            << "accepted=1 all others=0";
        QTest::newRow("every other field fails")
            << quint16(Can::ID_TD_RESP_INITIATE_TREATMENT) << QByteArray("0100000004000000") << "accepted=1 *=0"
            << false << "accepted=1 all others=0";
        QTest::newRow("payload too short") << mode << QByteArray("03000000") << "subMode=0" << false << "subMode=0";
    }

    void conditions()
    {
        QFETCH(quint16, id);
        QFETCH(QByteArray, payload);
        QFETCH(QString, conditions);
        QFETCH(bool, holds);
        QFETCH(QString, expected);
        QList<ScenarioCheck> list;
        for (const QString &text : conditions.split(' ')) {
            ScenarioCheck check;
            QVERIFY(ScenarioCheck::parse(text, check));
            list << check;
        }
        ScenarioChecks checks;
        QString error;
        QVERIFY2(checks.set(list, ScenarioBindings(), error), qPrintable(error));
        QCOMPARE(checks.matches(PayloadCodec::decode(*_definitions.find(id), QByteArray::fromHex(payload))), holds);
        QCOMPARE(checks.expected(), expected);
    }

    void keptValues_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("resolved");
        QTest::newRow("integer") << "${d.durationMin}"
                                 << "240";
        QTest::newRow("field=") << "heparinDurationMin=${d.heparinDurationMin}"
                                << "heparinDurationMin=180";
        // 0.4999 L/h as the service may compute it, and as the UI shows it.
        QTest::newRow("float") << "${d.ufRateLHR}"
                               << "0.4999";
        QTest::newRow("two decimals") << "${d.ufRateLHR:.2}"
                                      << "0.50";
        QTest::newRow("unknown name") << "${e.durationMin}"
                                      << "error: ${e.durationMin} has no value: nothing was "
                                         "kept as 'e' with that field";
        QTest::newRow("unknown field") << "${d.rate}"
                                       << "error: ${d.rate} has no value: nothing was kept as 'd' "
                                          "with that field";
    }

    void keptValues()
    {
        QFETCH(QString, value);
        QFETCH(QString, resolved);
        ScenarioBindings bindings;
        // accepted 1, reason 0, 240 min, 180 min, 2.0 L, 0.4999 L/h
        bindings.keep(QStringLiteral("d"),
                      decoded(Can::ID_TD_DURATION_VALIDATE_RESP, "0100000000000000f0000000b400000000000040e5f2ff3e"));
        QString result;
        QString error;
        const bool ok = bindings.resolve(value, result, error);
        QCOMPARE(ok ? result : QStringLiteral("error: ") + error, resolved);
    }

    void junitReport()
    {
        ScenarioResult result;
        result.name = QStringLiteral("/x/alarms.scenario");
        result.ms = 2500;
        result.steps = {{QStringLiteral("Join"), 0, StepResult::Passed, 1200, QStringLiteral("ack 1"), {}, {}, {}},
                        {QStringLiteral("Initiate <it>"),
                         4,
                         StepResult::Failed,
                         1300,
                         {},
                         QStringLiteral("unexpected ID_TD_RESP_INITIATE_TREATMENT accepted=0 rejectReason=4"),
                         QStringLiteral("accepted=1 rejectReason=0"),
                         QStringLiteral("accepted=0 rejectReason=4")},
                        {QStringLiteral("Every check-in acknowledged"), 0, StepResult::Skipped, 0, {}, {}, {}, {}}};
        QXmlStreamReader xml(JUnitReport::xml({result}));
        QStringList seen;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            if (xml.name() == QLatin1String("testsuites"))
                seen << QStringLiteral("suites tests=%1 failures=%2 skipped=%3")
                            .arg(a.value("tests"), a.value("failures"), a.value("skipped"));
            else if (xml.name() == QLatin1String("testsuite"))
                seen << QStringLiteral("suite %1 time=%2").arg(a.value("name"), a.value("time"));
            else if (xml.name() == QLatin1String("testcase"))
                seen << QStringLiteral("case %1 (%2) line=%3").arg(a.value("name"), a.value("time"), a.value("line"));
            else if (xml.name() == QLatin1String("failure"))
                seen << QStringLiteral("failure %1: %2").arg(a.value("message"), xml.readElementText());
            else if (xml.name() == QLatin1String("skipped") || xml.name() == QLatin1String("system-out"))
                seen << xml.name().toString();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(seen, (QStringList{"suites tests=3 failures=1 skipped=1", "suite alarms time=2.500",
                                    "case 01 Join (1.200) line=", "system-out", "case 02 Initiate <it> (1.300) line=4",
                                    "failure unexpected ID_TD_RESP_INITIATE_TREATMENT accepted=0 rejectReason=4: "
                                    "expected: accepted=1 rejectReason=0\nreceived: accepted=0 rejectReason=4\n",
                                    "case 03 Every check-in acknowledged (0.000) line=", "skipped"}));
    }
};

QTEST_GUILESS_MAIN(TestScenario)
#include "tst_scenario.moc"
