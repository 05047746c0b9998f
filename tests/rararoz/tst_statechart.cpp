#include <QtTest>

#include "rararoz/ChartNames.h"
#include "common/SimulatorTest.h"
#include "rararoz/StateController.h"
#include "TalvoRarArozXMLStates.h"

// The treatment chart and the demo menu: the Standby reset, the two-hop
// jumps of the demo menu, the stop command, and the rule that a step which
// took a demo-menu command keeps its exit.

namespace {

using Messages = SimulatorDriver::Messages;

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
        while (status().treatmentElapsedTimeMS < 14400900u && d().state() == Chart::State::Treatment)
            d().tick();
        QCOMPARE(status().treatmentElapsedTimeMS, 14400900u);
        QCOMPARE(d().state(), Chart::State::Treatment);
        QCOMPARE(status().isTreatmentComplete, false);
    }

private slots:
    void compiledChartKnowsTheStatesInDocumentOrder()
    {
        // The names the controller uses are the chart's: a misspelt one would
        // be a state never entered.
        using namespace Chart::State;
        rararozXMLStates chart;
        QCOMPARE(chart.stateNames(false),
                 (QStringList{"States", Standby, Pre_Tx, Blood_Prime, Treatment, Treatment_End, Treatment_Pause,
                              Treatment_Rinseback, Treatment_Recirculate, Post_Tx}));
    }

    void standbyEntryUndoesWhatTheTreatmentChanged()
    {
        QVERIFY(d().enterByDemoMenu(CMD_PRE_TX, Chart::State::Pre_Tx));
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
        QVERIFY(d().tickUntilState(Chart::State::Standby));
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
        QTest::newRow("Pre_Tx") << int(CMD_PRE_TX) << QString(Chart::State::Pre_Tx) << "Submit event T_SB_2_Pretx 4"
                                << "PreTx on entry"
                                << "PreTx in exit" << int(Can::MODE_PRET);
        QTest::newRow("Blood_Prime") << int(CMD_BLOOD_PRIME) << QString(Chart::State::Blood_Prime)
                                     << "Submit event T_SB_2_BP 5"
                                     << "Blood prime on entry"
                                     << "Blood prime on exit" << int(Can::MODE_TREA);
        QTest::newRow("Treatment") << int(CMD_MAIN_TX) << QString(Chart::State::Treatment) << "Submit event T_SB_2_Tx 5"
                                   << "Tx on entry"
                                   << "Tx  in exit" << int(Can::MODE_TREA);
        QTest::newRow("Treatment_Rinseback")
            << int(CMD_RINSEBACK) << QString(Chart::State::Treatment_Rinseback) << "Submit event T_SB_2_RB 5"
            << "Tx rinseback on entry"
            << "Tx rinseback in exit" << int(Can::MODE_TREA);
        QTest::newRow("Treatment_Recirculate")
            << int(CMD_RICIRCULATE) << QString(Chart::State::Treatment_Recirculate) << "Submit event T_SB_2_RC 5"
            << "Tx recirc on entry"
            << "Tx recirc in exit" << int(Can::MODE_TREA);
        QTest::newRow("Treatment_End") << int(CMD_END_TX) << QString(Chart::State::Treatment_End)
                                       << "Submit event T_SB_2_TE 5"
                                       << "Tx End on entry"
                                       << "Tx in exit" << int(Can::MODE_TREA);
        QTest::newRow("Post_Tx") << int(CMD_POST_TX) << QString(Chart::State::Post_Tx) << "Submit event T_SB_2_Posttx 6"
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
        QCOMPARE(d().state(), Chart::State::Standby);
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
        QCOMPARE(d().state(), Chart::State::Standby);
        QCOMPARE(status().treatmentElapsedTimeMS, 7200000u);
        // CMD_STAND_BY has no jump of its own from Standby.
        QCOMPARE(statesVisited(d(), 20), QStringList{Chart::State::Standby});
    }

    void demoMenuJumpsBetweenStatesThroughStandby_data()
    {
        QTest::addColumn<int>("fromCommand");
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("toCommand");
        QTest::addColumn<QString>("to");
        QTest::newRow("Pre_Tx to Treatment")
            << int(CMD_MAIN_TX) << QString(Chart::State::Treatment) << int(CMD_PRE_TX) << QString(Chart::State::Pre_Tx);
        QTest::newRow("Treatment to Post_Tx") << int(CMD_MAIN_TX) << QString(Chart::State::Treatment)
                                              << int(CMD_POST_TX) << QString(Chart::State::Post_Tx);
        QTest::newRow("Post_Tx to Blood_Prime") << int(CMD_POST_TX) << QString(Chart::State::Post_Tx)
                                                << int(CMD_BLOOD_PRIME) << QString(Chart::State::Blood_Prime);
        QTest::newRow("Blood_Prime to Treatment_End") << int(CMD_BLOOD_PRIME) << QString(Chart::State::Blood_Prime)
                                                      << int(CMD_END_TX) << QString(Chart::State::Treatment_End);
        QTest::newRow("Treatment_End to Treatment_Rinseback")
            << int(CMD_END_TX) << QString(Chart::State::Treatment_End) << int(CMD_RINSEBACK)
            << QString(Chart::State::Treatment_Rinseback);
        QTest::newRow("Treatment_Rinseback to Treatment_Recirculate")
            << int(CMD_RINSEBACK) << QString(Chart::State::Treatment_Rinseback) << int(CMD_RICIRCULATE)
            << QString(Chart::State::Treatment_Recirculate);
        QTest::newRow("Treatment_Recirculate to Treatment")
            << int(CMD_RICIRCULATE) << QString(Chart::State::Treatment_Recirculate) << int(CMD_MAIN_TX)
            << QString(Chart::State::Treatment);
        QTest::newRow("Treatment to Treatment") << int(CMD_MAIN_TX) << QString(Chart::State::Treatment)
                                                << int(CMD_MAIN_TX) << QString(Chart::State::Treatment);
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
        QCOMPARE(perTick, (QStringList{from, Chart::State::Standby, Chart::State::Standby, to}));
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
        QCOMPARE(d().state(), Chart::State::Standby);
        QVERIFY(d().controller().uiConfirmMessages().isEmpty());
        // The entry announces Standby at once.
        const Messages announced = SimulatorDriver::withId(d().tick(), Can::ID_TD_OP_MODE_DATA);
        QCOMPARE(announced.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(announced.first()), encodedPayload({int(Can::MODE_STAN), 0u}));
        Q_UNUSED(sent)
    }

    void txStopInTreatmentTurnsIntoAPause()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().demoMenu(CMD_TX_STOP);
        QTest::ignoreMessage(QtDebugMsg, "Tx  in exit");
        QTest::ignoreMessage(QtDebugMsg, "Tx pause on entry");
        QCOMPARE(statesVisited(d(), 3), (QStringList{Chart::State::Treatment, Chart::State::Treatment_Pause}));
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
        QCOMPARE(statesVisited(d(), 30), QStringList{Chart::State::Treatment_Pause});

        // The pause is left for Standby by the demo menu like any state.
        d().demoMenu(CMD_STAND_BY);
        QTest::ignoreMessage(QtDebugMsg, "Tx pasue in exit");
        QVERIFY(d().tickUntilState(Chart::State::Standby, 3));
    }

    void txStopElsewhereDoesNotExist_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("state");
        QTest::newRow("Standby") << int(CMD_STAND_BY) << QString(Chart::State::Standby);
        QTest::newRow("Pre_Tx") << int(CMD_PRE_TX) << QString(Chart::State::Pre_Tx);
        QTest::newRow("Blood_Prime") << int(CMD_BLOOD_PRIME) << QString(Chart::State::Blood_Prime);
        QTest::newRow("Treatment_End") << int(CMD_END_TX) << QString(Chart::State::Treatment_End);
        QTest::newRow("Post_Tx") << int(CMD_POST_TX) << QString(Chart::State::Post_Tx);
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
        QCOMPARE(visited.last(), Chart::State::Standby);
        QVERIFY(!visited.contains(Chart::State::Treatment_Pause));
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
        QCOMPARE(statesVisited(d(), 20), QStringList{Chart::State::Standby});
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
        QVERIFY(d().enterByDemoMenu(CMD_PRE_TX, Chart::State::Pre_Tx));
        d().demoMenu(command);
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        const QStringList visited = statesVisited(d(), 30);
        QCOMPARE(visited, (QStringList{Chart::State::Pre_Tx, Chart::State::Standby}));
        QCOMPARE(int(status().userCmd), command);

        // In Standby the command re-enters Standby and stays.
        d().demoMenu(command);
        QTest::ignoreMessage(QtDebugMsg, "Standby on entry");
        d().ticks(2);
        QCOMPARE(statesVisited(d(), 30), QStringList{Chart::State::Standby});
        QCOMPARE(int(status().userCmd), command);

        // The next command replaces it.
        d().demoMenu(CMD_PRE_TX);
        QVERIFY(d().tickUntilState(Chart::State::Pre_Tx, 3));
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
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().demoMenu(command);
        QCOMPARE(statesVisited(d(), 20), (QStringList{Chart::State::Treatment, Chart::State::Standby}));
        QCOMPARE(int(status().userCmd), int(command));
    }

    void jumpIntoTreatmentStartsWithTwoHoursElapsed()
    {
        d().ticks(2);
        d().demoMenu(CMD_MAIN_TX);
        d().tick();
        d().tick();
        QCOMPARE(d().state(), Chart::State::Treatment);
        // The entry advanced the clock once and sent the time at once.
        QCOMPARE(status().treatmentElapsedTimeMS, 7200100u);
        const Messages time = SimulatorDriver::withId(d().tick(), Can::ID_TD_TREATMENT_TIME_DATA);
        QCOMPARE(time.size(), 1);
        QCOMPARE(SimulatorDriver::payloadBytes(time.first()), encodedPayload({14400u, 7200u, 7200u}));
    }

    void treatmentEndsOnceThePrescribedTimeIsExceeded()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        runUntilTheLastSecondOfTreatment();
        if (QTest::currentTestFailed())
            return;
        // The step that passes 240 minutes by a whole second ends it.
        QCOMPARE(statesVisited(d(), 3), (QStringList{Chart::State::Treatment, Chart::State::Treatment_End}));
        QCOMPARE(status().isTreatmentComplete, true);
        QCOMPARE(status().activeTopAlarm, ALARM_ID_TD_END_OF_TREATMENT);
        QCOMPARE(status().activeAlarmProperty, quint16(248));
    }

    // A step that took a demo-menu command keeps its exit --------------

    void demoMenuExitIsNotOverriddenByTheEndOfTreatment()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        runUntilTheLastSecondOfTreatment();
        if (QTest::currentTestFailed())
            return;
        d().demoMenu(CMD_PRE_TX);
        QCOMPARE(statesVisited(d(), 5),
                 (QStringList{Chart::State::Treatment, Chart::State::Standby, Chart::State::Pre_Tx}));
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void demoMenuExitIsNotOverriddenByAPausingAlarm()
    {
        // On its own, an alarm that pauses moves Treatment to the pause ...
        SimulatorDriver alone;
        QVERIFY(alone.enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        alone.controller().triggerAnAlarm(ALARM_ID_TD_VENOUS_PRESSURE_LOW, -999);
        QCOMPARE(statesVisited(alone, 3), (QStringList{Chart::State::Treatment, Chart::State::Treatment_Pause}));

        // ... but not when the same step took a demo-menu command: the
        // command is carried out and nothing is left behind.
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().controller().triggerAnAlarm(ALARM_ID_TD_VENOUS_PRESSURE_LOW, -999);
        d().demoMenu(CMD_PRE_TX);
        QCOMPARE(statesVisited(d(), 6),
                 (QStringList{Chart::State::Treatment, Chart::State::Standby, Chart::State::Pre_Tx}));
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void txStopKeepsItsTurnIntoThePause()
    {
        QVERIFY(d().enterByDemoMenu(CMD_MAIN_TX, Chart::State::Treatment));
        d().controller().triggerAnAlarm(ALARM_ID_TD_VENOUS_PRESSURE_LOW, -999);
        d().demoMenu(CMD_TX_STOP);
        QCOMPARE(statesVisited(d(), 5), (QStringList{Chart::State::Treatment, Chart::State::Treatment_Pause}));
        QCOMPARE(status().activeTopAlarm, ALARM_ID_TD_TREATMENT_STOPPED_BY_USER);
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void demoMenuCommandTakenByThePostTxEntryIsCarriedOut()
    {
        d().ticks(2);
        d().demoMenu(CMD_POST_TX);
        d().tick();
        QCOMPARE(d().state(), Chart::State::Standby);
        // The next command arrives while Standby is being left: Post_Tx's
        // entry takes it, and Post_Tx is left again for it.
        d().demoMenu(CMD_PRE_TX);
        QTest::ignoreMessage(QtDebugMsg, "Post Tx on entry");
        QTest::ignoreMessage(QtDebugMsg, "Post Tx on exit");
        QCOMPARE(statesVisited(d(), 6),
                 (QStringList{Chart::State::Post_Tx, Chart::State::Standby, Chart::State::Pre_Tx}));
        QCOMPARE(status().userCmd, CMD_NONE);
    }

    void stepExitKeepsTheDemoMenuDecision()
    {
        State_Status stateStatus = STATE_ON_ACTION;
        QString event;
        StepExit exit(stateStatus, event);
        exit.leave(Chart::Event::T_Tx_2_TE);
        QCOMPARE(stateStatus, STATE_ON_EXIT);
        exit.stay();
        QCOMPARE(stateStatus, STATE_ON_ACTION);
        exit.leaveForDemoMenu(Chart::Event::T_Back_2_SB);
        exit.leave(Chart::Event::T_Tx_2_TP);
        exit.setEvent(Chart::Event::T_TP_2_RB);
        exit.stay();
        QCOMPARE(stateStatus, STATE_ON_EXIT);
        QCOMPARE(event, Chart::Event::T_Back_2_SB);
        QVERIFY(exit.isFixedByDemoMenu());
        // Standby carries the command out by redirecting the exit.
        exit.leaveForDemoMenu(Chart::Event::T_SB_2_Pretx);
        QCOMPARE(event, Chart::Event::T_SB_2_Pretx);

        // A new step starts free.
        StepExit next(stateStatus, event);
        next.stay();
        QCOMPARE(stateStatus, STATE_ON_ACTION);
    }
};

QTEST_GUILESS_MAIN(TestStateChart)
#include "tst_statechart.moc"
