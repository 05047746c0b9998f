#include <QtTest>

#include <memory>

#include "rararoz/ChartNames.h"
#include "common/SimulatorDriver.h"
#include "rararoz/SimulatorTrace.h"
#include "common/StderrCapture.h"

// The simulator's trace lines on the console as the service prints them:
// through Qt's default handler, word for word as they have always been, and
// silenced by a logging rule for their category alone.
class TestSimulatorTrace : public QObject
{
    Q_OBJECT

    // What the service prints to the console while the demo menu takes the
    // chart from Standby to pre-treatment, under the given logging rules.
    static QStringList consoleLines(const QString &rules)
    {
        SimulatorDriver driver;
        QLoggingCategory::setFilterRules(rules);
        const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
        installSimulatorTraceFormat();
        StderrCapture console;
        driver.demoMenu(CMD_PRE_TX);
        const bool entered = driver.tickUntilState(Chart::State::Pre_Tx);
        const QString text = console.text();
        qInstallMessageHandler(testHandler);
        QLoggingCategory::setFilterRules(QString());
        return entered ? text.split(QLatin1Char('\n')) : QStringList{QStringLiteral("(Pre_Tx not reached)")};
    }

private slots:
    void traceLines_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("printed");
        QTest::newRow("default, submit") << QString() << "Submit event T_SB_2_Pretx 4" << true;
        QTest::newRow("default, exit") << QString() << "Standby in exit" << true;
        QTest::newRow("default, entry") << QString() << "PreTx on entry" << true;
        QTest::newRow("silenced") << "rararoz.simulator.debug=false"
                                  << "PreTx on entry" << false;
        QTest::newRow("another category silenced") << "rararoz.other.debug=false"
                                                   << "PreTx on entry" << true;
    }

    void traceLines()
    {
        QFETCH(QString, rules);
        QFETCH(QString, line);
        QFETCH(bool, printed);
        const QStringList lines = consoleLines(rules);
        QCOMPARE(lines.contains(line), printed);
        QVERIFY2(lines.filter(QStringLiteral("rararoz.simulator")).isEmpty(), qPrintable(lines.join('|')));
    }

    // Lines of other categories keep Qt's format, their category's name first.
    void otherCategoriesKeepTheirName()
    {
        const QLoggingCategory other("rararoz.other");
        const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
        installSimulatorTraceFormat();
        StderrCapture console;
        qCDebug(other).noquote() << "Standby on entry";
        qCDebug(simulatorTrace).noquote() << "Standby on entry";
        const QString text = console.text();
        qInstallMessageHandler(testHandler);
        QCOMPARE(text, QStringLiteral("rararoz.other: Standby on entry\nStandby on entry\n"));
    }
};

QTEST_GUILESS_MAIN(TestSimulatorTrace)
#include "tst_simulatortrace.moc"
