#include <QtTest>

#include <QFile>
#include <QXmlStreamReader>

#include "SimulatorTest.h"
#include "StateController.h"
#include "TalvoRarArozXMLStates.h"

// The treatment chart and the demo menu: the chart's document, the Standby
// reset, the two-hop jumps of the demo menu, the stop command, and the rule
// that a step which took a demo-menu command keeps its exit.

namespace {

using Messages = SimulatorDriver::Messages;

struct Transition {
    QString source;
    QString event;
    QString target;
    QString type;
    bool operator==(const Transition &other) const
    {
        return source == other.source && event == other.event && target == other.target && type == other.type;
    }
};

// The states seen after each of count ticks, repeats folded.
QStringList statesVisited(SimulatorDriver &driver, int count)
{
    QStringList visited;
    for (int i = 0; i < count; ++i) {
        driver.tick();
        if (visited.isEmpty() || visited.last() != driver.state())
            visited << driver.state();
    }
    return visited;
}

} // namespace

class TestStateChart : public SimulatorTest
{
    Q_OBJECT

private:
    // From a demo-menu jump (two hours of 240 minutes elapsed) to the last
    // tick before the elapsed whole seconds pass the prescribed ones: two
    // simulated hours, 72 000 ticks.
    void runUntilTheLastSecondOfTreatment()
    {
        while (status().treatmentElapsedTimeMS < 14400900u && d().state() == QLatin1String("Treatment"))
            d().tick();
        QCOMPARE(status().treatmentElapsedTimeMS, 14400900u);
        QCOMPARE(d().state(), QStringLiteral("Treatment"));
        QCOMPARE(status().isTreatmentComplete, false);
    }

private slots:
    void chartDocumentHasTheStatesAndTransitions()
    {
        QFile file(QStringLiteral(RARAROZ_SOURCE_DIR "/sources/rararoz/TalvoRarArozXMLStates.scxml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QStringList states;
        QList<Transition> transitions;
        QString rootName;
        QString rootDataModel;
        QString statesInitial;
        QStringList stack;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement()) {
                const QXmlStreamAttributes attributes = xml.attributes();
                if (xml.name() == QLatin1String("scxml")) {
                    rootName = attributes.value(QLatin1String("name")).toString();
                    rootDataModel = attributes.value(QLatin1String("datamodel")).toString();
                } else if (xml.name() == QLatin1String("state")) {
                    const QString id = attributes.value(QLatin1String("id")).toString();
                    if (id == QLatin1String("States"))
                        statesInitial = attributes.value(QLatin1String("initial")).toString();
                    else
                        states << id;
                    stack << id;
                } else if (xml.name() == QLatin1String("transition")) {
                    QVERIFY(!attributes.hasAttribute(QLatin1String("cond")));
                    transitions << Transition{stack.last(), attributes.value(QLatin1String("event")).toString(),
                                              attributes.value(QLatin1String("target")).toString(),
                                              attributes.value(QLatin1String("type")).toString()};
                } else {
                    QFAIL(qPrintable(QStringLiteral("unexpected element ") + xml.name().toString()));
                }
            } else if (xml.isEndElement() && xml.name() == QLatin1String("state")) {
                stack.removeLast();
            }
        }
        QVERIFY(!xml.hasError());
        QCOMPARE(rootName, QStringLiteral("rararozXMLStates"));
        QCOMPARE(rootDataModel, QStringLiteral("null"));
        QCOMPARE(statesInitial, QStringLiteral("Standby"));
        QCOMPARE(states, (QStringList{"Standby", "Pre_Tx", "Blood_Prime", "Treatment", "Treatment_End",
                                      "Treatment_Pause", "Treatment_Rinseback", "Treatment_Recirculate", "Post_Tx"}));
        const QList<Transition> expected{
            {"States", "T_Back_2_SB", "Standby", "internal"},
            {"Standby", "T_SB_2_Pretx", "Pre_Tx", "internal"},
            {"Standby", "TimeoutEvent", "Standby", "internal"},
            {"Standby", "T_SB_2_BP", "Blood_Prime", "external"},
            {"Standby", "T_SB_2_Tx", "Treatment", "external"},
            {"Standby", "T_SB_2_TE", "Treatment_End", "external"},
            {"Standby", "T_SB_2_RB", "Treatment_Rinseback", "external"},
            {"Standby", "T_SB_2_RC", "Treatment_Recirculate", "external"},
            {"Standby", "T_SB_2_Posttx", "Post_Tx", "external"},
            {"Pre_Tx", "TimeoutEvent", "Pre_Tx", "internal"},
            {"Pre_Tx", "T_Pretx_2_BP", "Blood_Prime", "internal"},
            {"Blood_Prime", "TimeoutEvent", "Blood_Prime", "internal"},
            {"Blood_Prime", "T_BP_2_Tx", "Treatment", "external"},
            {"Treatment", "TimeoutEvent", "Treatment", "internal"},
            {"Treatment", "T_Tx_2_TE", "Treatment_End", "external"},
            {"Treatment", "T_Tx_2_TP", "Treatment_Pause", "external"},
            {"Treatment_End", "TimeoutEvent", "Treatment_End", "internal"},
            {"Treatment_End", "T_TE_2_RB", "Treatment_Rinseback", "external"},
            {"Treatment_Pause", "TimeoutEvent", "Treatment_Pause", "internal"},
            {"Treatment_Pause", "T_TP_2_Tx", "Treatment", "external"},
            {"Treatment_Pause", "T_TP_2_TE", "Treatment_End", "external"},
            {"Treatment_Pause", "T_TP_2_RB", "Treatment_Rinseback", "external"},
            {"Treatment_Rinseback", "TimeoutEvent", "Treatment_Rinseback", "internal"},
            {"Treatment_Rinseback", "T_RB_2_RC", "Treatment_Recirculate", "external"},
            {"Treatment_Rinseback", "T_RB_2_Posttx", "Post_Tx", "external"},
            {"Treatment_Recirculate", "TimeoutEvent", "Treatment_Recirculate", "internal"},
            {"Treatment_Recirculate", "T_RC_2_BP", "Blood_Prime", "external"},
            {"Treatment_Recirculate", "T_RC_2_Posttx", "Post_Tx", "external"},
            {"Post_Tx", "TimeoutEvent", "Post_Tx", "internal"},
        };
        QCOMPARE(transitions.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QVERIFY2(transitions.at(i) == expected.at(i), qPrintable(QString::number(i)));
    }

    void compiledChartKnowsTheStatesInDocumentOrder()
    {
        rararozXMLStates chart;
        QCOMPARE(chart.stateNames(false),
                 (QStringList{"States", "Standby", "Pre_Tx", "Blood_Prime", "Treatment", "Treatment_End",
                              "Treatment_Pause", "Treatment_Rinseback", "Treatment_Recirculate", "Post_Tx"}));
    }

    void standbyEntryResetsTheSimulation()
    {
        d().tick();
        const Treatment_Params &params = d().controller().treatmentParams();
        QCOMPARE(params.finalConfirmation, true);
        QCOMPARE(params.treatmentModality, 0u);
        QCOMPARE(params.bloodFlowRateMLPM, 400u);
        QCOMPARE(params.dialysateFlowRateMLPM, 350u);
        QCOMPARE(params.treatmentDurationMin, 240u);
        QCOMPARE(params.fluidBlousVolumeML, 100u);
        QCOMPARE(params.bloodPressureIntervalMin, 1800000u);
        QCOMPARE(params.rinsebackVolumeML, 300u);
        QCOMPARE(params.dialysateTemperatureC, 37.0f);
        QCOMPARE(params.ufVolumeL, 2.0f);

        QCOMPARE(status().hasTxParamsBeenInitialized, false);
        QCOMPARE(status().requestTreatmentReset, true);
        QCOMPARE(status().isBloodPumpRunning, false);
        QCOMPARE(status().treatmentElapsedTimeMS, 7200000u);
        QCOMPARE(status().isTreatmentComplete, false);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_NO_ALARM);
        QCOMPARE(status().activeAlarmProperty, quint16(0));
        QCOMPARE(status().txPauseSeqAlarmState, SEQ_ALARM_NO_ALARM);
        QCOMPARE(status().hasRecircBeenRequested, false);
        QCOMPARE(status().bicartAction, DRY_BICART_ACTION_DONE);
        QCOMPARE(status().bicartShowDialog, 1u);
        QCOMPARE(status().bicartTotal, 100u);
        QCOMPARE(status().bicartProgress, 0.0f);
        QCOMPARE(status().bicartDrainInProgress, 1u);
        QCOMPARE(status().bicartDepresInProgress, 0u);
        QCOMPARE(d().controller().treatmentSubStates().txState, TREAT_START_STATE);

        const Pressure_Vars &pressure = d().controller().pressureVars();
        QCOMPARE(pressure.presLimitState, PRESSURE_LIMITS_STATE_OFF);
        QCOMPARE(pressure.presStabilizeTimePeriod, USE_NORMAL_STABILIZATION_PERIOD);
        QCOMPARE(pressure.arterialMinLimitMMHG, -300);
        QCOMPARE(pressure.arterialMaxLimitMMHG, 100);
        QCOMPARE(pressure.venousMinLimitMMHG, 20);
        QCOMPARE(pressure.venousMaxLimitMMHG, 400);
        QCOMPARE(pressure.tmpMinLimitMMHG, 0.0f);
        QCOMPARE(pressure.tmpMaxLimitMMHG, 100.0f);
        QCOMPARE(pressure.arterialPresLimitWindowMMHG, 50);
        QCOMPARE(pressure.venousPresLowLimitWindowMMHG, 35);
        QCOMPARE(pressure.venousPresHighLimitWindowMMHG, 50);
        QCOMPARE(pressure.tmpPresLimitWindowMMHG, 20);

        const Treatment_HDF_vars &hdf = d().controller().treatmentHDFVars();
        QCOMPARE(hdf.hdfControlState, TD_HDF_PAUSED);
        QCOMPARE(hdf.hdfMaxFiltrationFraction, 0.35f);
        QCOMPARE(hdf.hdfCurrentRateMLPM, 50.0f);
        QCOMPARE(hdf.hdfIsRequested, true);
    }

    void standbyEntryUndoesWhatTheTreatmentChanged()
    {
        QVERIFY(d().enterByDemoMenu(CMD_PRE_TX, QStringLiteral("Pre_Tx")));
        QByteArray prescription;
        for (int field = 0; field < 25; ++field)
            prescription += field < 17 ? SimulatorDriver::u32(7) : SimulatorDriver::f32(7.0f);
        d().request(Can::ID_UI_TREATMENT_PARAMS_TO_VALIDATE, prescription);
        d().confirmationResult(GENERIC_CONFIRM_ID_RINSEBACK, CONFIRMATION_REQUEST_STATUS_REJECTED);
        d().tick();
        QCOMPARE(d().controller().treatmentParams().bloodFlowRateMLPM, 7u);
        QCOMPARE(status().hasTxParamsBeenInitialized, true);
        // An answer to no open dialog opens none.
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());

        d().demoMenu(CMD_STAND_BY);
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        QVERIFY(d().tickUntilState(QStringLiteral("Standby")));
        QCOMPARE(d().controller().treatmentParams().bloodFlowRateMLPM, 400u);
        QCOMPARE(d().controller().treatmentParams().dialysateTemperatureC, 37.0f);
        QCOMPARE(status().hasTxParamsBeenInitialized, false);
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());
        // Fields without a reset value keep theirs.
        QCOMPARE(d().controller().treatmentParams().hdfDilution, 7u);
        QCOMPARE(d().controller().treatmentParams().heparinBolusVolumeML, 7.0f);
    }

    void demoMenuJumpsIntoEachStateAndBack_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("submitLine");
        QTest::addColumn<QString>("entryLine");
        QTest::addColumn<QString>("exitLine");
        QTest::addColumn<int>("mode");
        QTest::newRow("Pre_Tx") << int(CMD_PRE_TX) << "Pre_Tx"
                                << "Submit event T_SB_2_Pretx 4"
                                << "PreTx on entry"
                                << "PreTx in exit" << int(Can::MODE_PRET);
        QTest::newRow("Blood_Prime") << int(CMD_BLOOD_PRIME) << "Blood_Prime"
                                     << "Submit event T_SB_2_BP 5"
                                     << "Blood prime on entry"
                                     << "Blood prime on exit" << int(Can::MODE_TREA);
        QTest::newRow("Treatment") << int(CMD_MAIN_TX) << "Treatment"
                                   << "Submit event T_SB_2_Tx 5"
                                   << "Tx on entry"
                                   << "Tx  in exit" << int(Can::MODE_TREA);
        QTest::newRow("Treatment_Rinseback") << int(CMD_RINSEBACK) << "Treatment_Rinseback"
                                             << "Submit event T_SB_2_RB 5"
                                             << "Tx rinseback on entry"
                                             << "Tx rinseback in exit" << int(Can::MODE_TREA);
        QTest::newRow("Treatment_Recirculate") << int(CMD_RICIRCULATE) << "Treatment_Recirculate"
                                               << "Submit event T_SB_2_RC 5"
                                               << "Tx recirc on entry"
                                               << "Tx recirc in exit" << int(Can::MODE_TREA);
        QTest::newRow("Treatment_End") << int(CMD_END_TX) << "Treatment_End"
                                       << "Submit event T_SB_2_TE 5"
                                       << "Tx End on entry"
                                       << "Tx in exit" << int(Can::MODE_TREA);
        QTest::newRow("Post_Tx") << int(CMD_POST_TX) << "Post_Tx"
                                 << "Submit event T_SB_2_Posttx 6"
                                 << "Post Tx on entry"
                                 << "Post Tx on exit" << int(Can::MODE_POST);
    }

    void demoMenuJumpsIntoEachStateAndBack()
    {
        QFETCH(int, command);
        QFETCH(QString, state);
        QFETCH(QString, submitLine);
        QFETCH(QString, entryLine);
        QFETCH(QString, exitLine);
        QFETCH(int, mode);

        d().ticks(3);
        // From Standby the command is carried out by Standby's next step,
        // which announces the row's operation mode at once.
        d().demoMenu(command);
        QTest::ignoreMessage(QtDebugMsg, qPrintable(submitLine));
        QTest::ignoreMessage(QtDebugMsg, "Standby in exit");
        QTest::ignoreMessage(QtDebugMsg, qPrintable(entryLine));
        d().tick();
        QCOMPARE(d().state(), QStringLiteral("Standby"));
        const Messages announced = SimulatorDriver::withId(d().tick(), Can::ID_TD_OP_MODE_DATA);
        QCOMPARE(d().state(), state);
        QVERIFY(!announced.isEmpty());
        QCOMPARE(SimulatorDriver::payloadBytes(announced.first()), encodedPayload({mode, 0u}));
        QCOMPARE(status().userCmd, CMD_NONE);
        d().ticks(5);
        QCOMPARE(d().state(), state);

        // Back: the state is left on the tick after the command, and Standby
        // is entered with its reset.
        d().demoMenu(CMD_STAND_BY);
        QTest::ignoreMessage(QtDebugMsg, qPrintable(exitLine));
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        d().tick();
        QCOMPARE(d().state(), state);
        d().tick();
        QCOMPARE(d().state(), QStringLiteral("Standby"));
        QCOMPARE(status().treatmentElapsedTimeMS, 7200000u);
        // CMD_STAND_BY has no jump of its own from Standby.
        QCOMPARE(statesVisited(d(), 20), QStringList{"Standby"});
    }

    void demoMenuJumpsBetweenStatesThroughStandby_data()
    {
        QTest::addColumn<int>("fromCommand");
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("toCommand");
        QTest::addColumn<QString>("to");
        QTest::newRow("Pre_Tx to Treatment") << int(CMD_MAIN_TX) << "Treatment" << int(CMD_PRE_TX) << "Pre_Tx";
        QTest::newRow("Treatment to Post_Tx") << int(CMD_MAIN_TX) << "Treatment" << int(CMD_POST_TX) << "Post_Tx";
        QTest::newRow("Post_Tx to Blood_Prime")
            << int(CMD_POST_TX) << "Post_Tx" << int(CMD_BLOOD_PRIME) << "Blood_Prime";
        QTest::newRow("Blood_Prime to Treatment_End")
            << int(CMD_BLOOD_PRIME) << "Blood_Prime" << int(CMD_END_TX) << "Treatment_End";
        QTest::newRow("Treatment_End to Treatment_Rinseback")
            << int(CMD_END_TX) << "Treatment_End" << int(CMD_RINSEBACK) << "Treatment_Rinseback";
        QTest::newRow("Treatment_Rinseback to Treatment_Recirculate")
            << int(CMD_RINSEBACK) << "Treatment_Rinseback" << int(CMD_RICIRCULATE) << "Treatment_Recirculate";
        QTest::newRow("Treatment_Recirculate to Treatment")
            << int(CMD_RICIRCULATE) << "Treatment_Recirculate" << int(CMD_MAIN_TX) << "Treatment";
        QTest::newRow("Treatment to Treatment") << int(CMD_MAIN_TX) << "Treatment" << int(CMD_MAIN_TX) << "Treatment";
    }

    void demoMenuJumpsBetweenStatesThroughStandby()
    {
        QFETCH(int, fromCommand);
        QFETCH(QString, from);
        QFETCH(int, toCommand);
        QFETCH(QString, to);
        QVERIFY(d().enterByDemoMenu(User_Command_ID(fromCommand), from));
        d().demoMenu(toCommand);
        // Command taken, state left, Standby's step takes the row, target.
        QStringList perTick;
        for (int i = 0; i < 4; ++i) {
            d().tick();
            perTick << d().state();
        }
        QCOMPARE(perTick, (QStringList{from, QStringLiteral("Standby"), QStringLiteral("Standby"), to}));
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void demoMenuCommandInStandbyReentersStandby()
    {
        d().ticks(3);
        d().confirmationResult(GENERIC_CONFIRM_ID_RINSEBACK, CONFIRMATION_REQUEST_STATUS_ACCEPTED);
        d().tick();
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());
        d().demoMenu(CMD_STAND_BY);
        d().tick();
        QTest::ignoreMessage(QtDebugMsg, "Standby in exit");
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        const Messages sent = d().tick();
        QCOMPARE(d().state(), QStringLiteral("Standby"));
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());
        // The entry announces Standby at once.
        const Messages announced = SimulatorDriver::withId(d().tick(), Can::ID_TD_OP_MODE_DATA);
        QCOMPARE(announced.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(announced.first()), encodedPayload({int(Can::MODE_STAN), 0u}));
        Q_UNUSED(sent)
    }

    void txStopInTreatmentTurnsIntoAPause()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, QStringLiteral("Treatment")));
        d().demoMenu(CMD_TX_STOP);
        QTest::ignoreMessage(QtDebugMsg, "Tx  in exit");
        QTest::ignoreMessage(QtDebugMsg, "Tx pause on entry");
        QCOMPARE(statesVisited(d(), 3), (QStringList{"Treatment", "Treatment_Pause"}));
        QCOMPARE(status().userCmd, CMD_NONE);
        QCOMPARE(status().requestTreatmentReset, false);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_TD_TREATMENT_STOPPED_BY_USER);
        QCOMPARE(status().activeAlarmProperty, quint16(6));
        QCOMPARE(d().controller().treatmentSubStates().txState, TREAT_PAUSED_STATE);

        // The alarm status shows the stop: high priority, alarm 96, property 6.
        Messages alarms;
        for (int i = 0; i < 3; ++i)
            alarms.append(SimulatorDriver::withId(d().tick(), Can::ID_ALARM_STATUS_DATA));
        QCOMPARE(alarms.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(alarms.first()), encodedPayload({3u, 96, 0u, 6}));
        QCOMPARE(statesVisited(d(), 30), QStringList{"Treatment_Pause"});

        // The pause is left for Standby by the demo menu like any state.
        d().demoMenu(CMD_STAND_BY);
        QTest::ignoreMessage(QtDebugMsg, "Tx pasue in exit");
        QVERIFY(d().tickUntilState(QStringLiteral("Standby"), 3));
    }

    void txStopElsewhereDoesNotExist_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("state");
        QTest::newRow("Standby") << int(CMD_STAND_BY) << "Standby";
        QTest::newRow("Pre_Tx") << int(CMD_PRE_TX) << "Pre_Tx";
        QTest::newRow("Blood_Prime") << int(CMD_BLOOD_PRIME) << "Blood_Prime";
        QTest::newRow("Treatment_End") << int(CMD_END_TX) << "Treatment_End";
        QTest::newRow("Post_Tx") << int(CMD_POST_TX) << "Post_Tx";
    }

    void txStopElsewhereDoesNotExist()
    {
        QFETCH(int, command);
        QFETCH(QString, state);
        if (command == CMD_STAND_BY)
            d().ticks(3);
        else
            QVERIFY(d().enterByDemoMenu(User_Command_ID(command), state));
        d().demoMenu(CMD_TX_STOP);
        QTest::ignoreMessage(QtDebugMsg, "Cmd does not exist 6");
        const QStringList visited = statesVisited(d(), 30);
        QCOMPARE(visited.last(), QStringLiteral("Standby"));
        QVERIFY(!visited.contains(QStringLiteral("Treatment_Pause")));
        QCOMPARE(status().userCmd, CMD_NONE);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_NO_ALARM);
    }

    void commandsWithoutARowAreDropped_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("9") << 9;
        QTest::newRow("11") << 11;
        QTest::newRow("disinfection") << int(CMD_DISINFECTION);
    }

    void commandsWithoutARowAreDropped()
    {
        QFETCH(int, command);
        d().ticks(2);
        d().demoMenu(command);
        QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Cmd does not exist %1").arg(command)));
        QCOMPARE(statesVisited(d(), 20), QStringList{"Standby"});
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void alarmCommandsAreNeitherTakenNorCleared_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("high") << int(CMD_HIGH_PRIO_ALARM);
        QTest::newRow("medium") << int(CMD_MEDIUM_PRIO_ALARM);
        QTest::newRow("low") << int(CMD_LOW_PRIO_ALARM);
    }

    void alarmCommandsAreNeitherTakenNorCleared()
    {
        QFETCH(int, command);
        QVERIFY(d().enterByDemoMenu(CMD_PRE_TX, QStringLiteral("Pre_Tx")));
        d().demoMenu(command);
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        const QStringList visited = statesVisited(d(), 30);
        QCOMPARE(visited, (QStringList{"Pre_Tx", "Standby"}));
        QCOMPARE(int(status().userCmd), command);

        // In Standby the command re-enters Standby and stays.
        d().demoMenu(command);
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        d().ticks(2);
        QCOMPARE(statesVisited(d(), 30), QStringList{"Standby"});
        QCOMPARE(int(status().userCmd), command);

        // The next command replaces it.
        d().demoMenu(CMD_PRE_TX);
        QVERIFY(d().tickUntilState(QStringLiteral("Pre_Tx"), 3));
    }

    void commandsOutOfRangeAreHarmless_data()
    {
        QTest::addColumn<qint32>("command");
        QTest::newRow("none") << qint32(CMD_NONE);
        QTest::newRow("16") << qint32(NUM_OF_USER_CMDS);
        QTest::newRow("1000") << qint32(1000);
        QTest::newRow("largest") << qint32(0x7FFFFFFF);
        QTest::newRow("smallest") << qint32(-0x7FFFFFFF - 1);
    }

    void commandsOutOfRangeAreHarmless()
    {
        QFETCH(qint32, command);
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, QStringLiteral("Treatment")));
        d().demoMenu(command);
        QCOMPARE(statesVisited(d(), 20), (QStringList{"Treatment", "Standby"}));
        QCOMPARE(int(status().userCmd), int(command));
    }

    void jumpIntoTreatmentStartsWithTwoHoursElapsed()
    {
        d().ticks(2);
        d().demoMenu(CMD_MAIN_TX);
        d().tick();
        d().tick();
        QCOMPARE(d().state(), QStringLiteral("Treatment"));
        // The entry advanced the clock once and sent the time at once.
        QCOMPARE(status().treatmentElapsedTimeMS, 7200100u);
        const Messages time = SimulatorDriver::withId(d().tick(), Can::ID_TD_TREATMENT_TIME_DATA);
        QCOMPARE(time.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(time.first()), encodedPayload({14400u, 7200u, 7200u}));
    }

    void treatmentEndsOnceThePrescribedTimeIsExceeded()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, QStringLiteral("Treatment")));
        runUntilTheLastSecondOfTreatment();
        if (QTest::currentTestFailed())
            return;
        // The step that passes 240 minutes by a whole second ends it.
        QCOMPARE(statesVisited(d(), 3), (QStringList{"Treatment", "Treatment_End"}));
        QCOMPARE(status().isTreatmentComplete, true);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_TD_END_OF_TREATMENT);
        QCOMPARE(status().activeAlarmProperty, quint16(248));
    }

    // A step that took a demo-menu command keeps its exit --------------

    void demoMenuExitIsNotOverriddenByTheEndOfTreatment()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, QStringLiteral("Treatment")));
        runUntilTheLastSecondOfTreatment();
        if (QTest::currentTestFailed())
            return;
        d().demoMenu(CMD_PRE_TX);
        QCOMPARE(statesVisited(d(), 5), (QStringList{"Treatment", "Standby", "Pre_Tx"}));
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void demoMenuExitIsNotOverriddenByAPausingAlarm()
    {
        // On its own, an alarm that pauses moves Treatment to the pause ...
        SimulatorDriver alone;
        QVERIFY(alone.enterByDemoMenu(CMD_MAIN_TX, QStringLiteral("Treatment")));
        alone.controller().triggerAnAlarm(ALARM_ID_TD_VENOUS_PRESSURE_LOW, -999);
        QCOMPARE(statesVisited(alone, 3), (QStringList{"Treatment", "Treatment_Pause"}));

        // ... but not when the same step took a demo-menu command: the
        // command is carried out and nothing is left behind.
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, QStringLiteral("Treatment")));
        d().controller().triggerAnAlarm(ALARM_ID_TD_VENOUS_PRESSURE_LOW, -999);
        d().demoMenu(CMD_PRE_TX);
        QCOMPARE(statesVisited(d(), 6), (QStringList{"Treatment", "Standby", "Pre_Tx"}));
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void txStopKeepsItsTurnIntoThePause()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, QStringLiteral("Treatment")));
        d().controller().triggerAnAlarm(ALARM_ID_TD_VENOUS_PRESSURE_LOW, -999);
        d().demoMenu(CMD_TX_STOP);
        QCOMPARE(statesVisited(d(), 5), (QStringList{"Treatment", "Treatment_Pause"}));
        QCOMPARE(status().activeTopAlarm, ALARM_ID_TD_TREATMENT_STOPPED_BY_USER);
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void demoMenuCommandTakenByThePostTxEntryIsCarriedOut()
    {
        d().ticks(2);
        d().demoMenu(CMD_POST_TX);
        d().tick();
        QCOMPARE(d().state(), QStringLiteral("Standby"));
        // The next command arrives while Standby is being left: Post_Tx's
        // entry takes it, and Post_Tx is left again for it.
        d().demoMenu(CMD_PRE_TX);
        QTest::ignoreMessage(QtDebugMsg, "Post Tx on entry");
        QTest::ignoreMessage(QtDebugMsg, "Post Tx on exit");
        QCOMPARE(statesVisited(d(), 6), (QStringList{"Post_Tx", "Standby", "Pre_Tx"}));
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void stepExitKeepsTheDemoMenuDecision()
    {
        State_Status stateStatus = STATE_ON_ACTION;
        QString event;
        StepExit exit(stateStatus, event);
        exit.leave(QStringLiteral("T_Tx_2_TE"));
        QCOMPARE(stateStatus, STATE_ON_EXIT);
        exit.stay();
        QCOMPARE(stateStatus, STATE_ON_ACTION);
        exit.leaveForDemoMenu(QStringLiteral("T_Back_2_SB"));
        exit.leave(QStringLiteral("T_Tx_2_TP"));
        exit.setEvent(QStringLiteral("T_TP_2_RB"));
        exit.stay();
        QCOMPARE(stateStatus, STATE_ON_EXIT);
        QCOMPARE(event, QStringLiteral("T_Back_2_SB"));
        QVERIFY(exit.isFixedByDemoMenu());
        // Standby carries the command out by redirecting the exit.
        exit.leaveForDemoMenu(QStringLiteral("T_SB_2_Pretx"));
        QCOMPARE(event, QStringLiteral("T_SB_2_Pretx"));

        // A new step starts free.
        StepExit next(stateStatus, event);
        next.stay();
        QCOMPARE(stateStatus, STATE_ON_ACTION);
    }
};

QTEST_GUILESS_MAIN(TestStateChart)
#include "tst_statechart.moc"
