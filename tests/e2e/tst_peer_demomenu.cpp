#include <QScopeGuard>
#include <QtTest>

#include <csignal>

#include "common/ServiceProcess.h"
#include "common/UiBoard.h"
#include "utility/types.h"

// Every demo-menu jump of the real service reaches its state, as the
// operation-mode and treatment-state broadcasts show it, and stays there.
class TestPeerDemoMenu : public QObject
{
    Q_OBJECT

    ServiceProcess _service;
    UiBoard _ui;
    int _mode = 3; // the operation mode the last jump reached

    static constexpr int kDemoMenu = 99;

    static QByteArray demoCommand(quint32 command)
    {
        QByteArray payload;
        Types::U32 value;
        value.value = kDemoMenu;
        Types::setValue(value, payload);
        value.value = command;
        Types::setValue(value, payload);
        return payload;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(_ui.open(error), qPrintable(error));
        QVERIFY(_service.start());
        QVERIFY(_service.waitForLog("log", "POST,UI,The configuration file 'Unhandled.conf' successfully loaded,"));
        // Once the service answers, keep checking in as the UI board does.
        QVERIFY(_ui.waitForService());
        _ui.session().startCheckIns(1000);
    }

    void cleanupTestCase()
    {
        _ui.session().stopCheckIns();
        QCOMPARE(_service.stop(SIGTERM), 0);
    }

    void jump_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("txState");   // -1: the state has no treatment state of its own
        QTest::addColumn<bool>("periodic"); // the state repeats its operation mode every second
        // In this order: the stop row needs the treatment before it.
        QTest::newRow("pre-treatment") << 1 << 4 << -1 << false;
        QTest::newRow("blood prime") << 2 << 5 << 1 << false;
        QTest::newRow("treatment") << 3 << 5 << 2 << true;
        QTest::newRow("treatment stop: pause") << 6 << 5 << 3 << true;
        QTest::newRow("rinseback") << 4 << 5 << 4 << true;
        QTest::newRow("recirculation") << 5 << 5 << 5 << true;
        QTest::newRow("treatment end") << 7 << 5 << 6 << true;
        QTest::newRow("post-treatment") << 8 << 6 << -1 << true;
        QTest::newRow("standby") << 0 << 3 << 0 << true;
    }

    void jump()
    {
        QFETCH(int, command);
        QFETCH(int, mode);
        QFETCH(int, txState);
        QFETCH(bool, periodic);
        const int mark = _ui.mark();
        const auto remember = qScopeGuard([this, mode] { _mode = mode; });
        QVERIFY(_ui.sendAcknowledged(Can::ID_UI_CONFIRMATION_RESULT_RESP, demoCommand(quint32(command))));

        int at = -1;
        if (command == 6) {
            // The stop command leaves the treatment for its pause, not for
            // Standby, with the alarm that says why.
            at = _ui.waitFor(mark, Can::ID_TD_TREATMENT_STATE_DATA, QStringLiteral("txState"), txState);
            QVERIFY2(at >= 0, "no pause");
            QVERIFY(_ui.waitFor(mark, Can::ID_ALARM_STATUS_DATA, QStringLiteral("alarmId"), 96) >= 0);
        } else {
            // Every other jump from another state passes through Standby,
            // whose entry says so; in Standby the command is taken at once.
            at = mark;
            if (_mode != 3 || command == 0) {
                at = _ui.waitFor(mark, Can::ID_TD_OP_MODE_DATA, QStringLiteral("mode"), 3);
                QVERIFY2(at >= 0, "no Standby on the way");
            }
            if (mode != 3) {
                at = _ui.waitFor(at + 1, Can::ID_TD_OP_MODE_DATA, QStringLiteral("mode"), mode);
                QVERIFY2(at >= 0,
                         qPrintable(QStringLiteral("no mode %1; last %2")
                                        .arg(mode)
                                        .arg(_ui.last(mark, Can::ID_TD_OP_MODE_DATA, QStringLiteral("mode")))));
            }
            if (txState >= 0) {
                at = _ui.waitFor(at + 1, Can::ID_TD_TREATMENT_STATE_DATA, QStringLiteral("txState"), txState);
                QVERIFY2(at >= 0, qPrintable(QStringLiteral("no treatment state %1; last %2")
                                                 .arg(txState)
                                                 .arg(_ui.last(mark, Can::ID_TD_TREATMENT_STATE_DATA,
                                                               QStringLiteral("txState")))));
            }
        }

        // And stays: the state's own broadcasts go on saying the same. (The
        // entry's own announcement may still be on its way at first.)
        QTest::qWait(300);
        const int settled = _ui.mark();
        QTest::qWait(1300);
        if (periodic) {
            QVERIFY(_ui.waitFor(settled, Can::ID_TD_OP_MODE_DATA, QStringLiteral("mode"), mode, 1000) >= 0);
            QCOMPARE(_ui.last(settled, Can::ID_TD_OP_MODE_DATA, QStringLiteral("mode")), mode);
        } else {
            // Pre-treatment and blood prime announce their mode on entry only;
            // a fall back to Standby would announce itself.
            QCOMPARE(_ui.last(settled, Can::ID_TD_OP_MODE_DATA, QStringLiteral("mode")), -1);
        }
        if (txState >= 0 && command != 0)
            QCOMPARE(_ui.last(at, Can::ID_TD_TREATMENT_STATE_DATA, QStringLiteral("txState")), txState);
    }

    void checkInsWereAnswered()
    {
        QVERIFY(_ui.session().checkInsSent() >= 10);
        QCOMPARE(_ui.session().checkInsUnanswered(2000), 0);
    }
};

QTEST_GUILESS_MAIN(TestPeerDemoMenu)
#include "tst_peer_demomenu.moc"
