#include <QtTest>

#include <csignal>

#include "ServiceProcess.h"

// The real service as a process: command line, logs, shutdown.
class tst_Service : public QObject
{
    Q_OBJECT

private slots:
    void help()
    {
        QString out;
        QCOMPARE(ServiceProcess::run({"--help"}, &out), 0);
        QVERIFY(out.contains("RarAroz"));
        const QStringList ordered = {"-c, --canOut", "-m, --msgOut", "-l, --logOut", "-0, --enable-keep-awake",
                                     "-i, --fake-interval <interval>", "-f, --fake-message <data>",
                                     "-b, --fake-message-seq-at-begin", "-u, --disable-unhandled-report",
                                     "-d, --disable-orvane-unhandled", "-q, --disable-timeout",
                                     "-a, --disable-alarm-no-minimize", "-S, --disable-sd-card-fail-log-stop",
                                     "-C, --disable-cloudsync-fail-stop", "-k, --disable-check-in-log",
                                     "-K, --disable-acknow-log", "-D, --enable-dry-demo",
                                     "-A, --active-can-bus <CANBus>", "-E, --enable-manufacturing",
                                     "-R, --use-root-home", "-U, --enable-update-mode", "-x, --use-log-long-name",
                                     "-y, --use-log-cloud-upload", "-z, --use-log-compression",
                                     "-L, --use-log-unhandled-only", "--can-plugin <plugin>",
                                     "--settings-path <folder>", "--log-path <folder>"};
        int at = 0;
        for (const QString &option : ordered) {
            const int found = out.indexOf(option, at);
            QVERIFY2(found >= 0, qPrintable(option));
            at = found;
        }
        QVERIFY(out.contains("Show the Can Frame Output"));
        QVERIFY(out.simplified().contains("Sets the Active CANBus [Shall start with 'can' or 'vcan]"));
    }

    void version()
    {
        QString out;
        QCOMPARE(ServiceProcess::run({"--version"}, &out), 0);
        const QString last = out.trimmed().split('\n').last();
        QVERIFY2(QRegularExpression("^RarAroz (.+-)?08121702-\\d+$").match(last).hasMatch(), qPrintable(out));
    }

    void startsAndStopsOnSigterm()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        QVERIFY(service.waitForLog("service", "MainTimer Initialized"));
        QVERIFY(service.waitForLog("service", "ApplicationPOST Done"));
        QCOMPARE(service.stop(SIGTERM), 0);
        QVERIFY(service.output().contains("Application terminated by SIGTERM"));

        const QString date = QDate::currentDate().toString("yyyy_MM_dd");
        QVERIFY(QFile::exists(service.logPath() + "/log/" + date + "_rararoz.log"));
        QVERIFY(QFile::exists(service.logPath() + "/service/" + date + "_rararoz.err"));
        QVERIFY(service.logText("log").startsWith("TimeStamp,ID,SubSys,Name,1,"));
        QVERIFY(service.logText("service").startsWith("TimeStamp,Description\r\n"));
        QVERIFY(service.logText("service").contains(",Application RarAroz Started\r\n"));
    }

    void stopsOnSigint()
    {
        ServiceProcess service;
        QVERIFY(service.start());
        QVERIFY(service.waitForLog("service", "ApplicationPOST Done"));
        QCOMPARE(service.stop(SIGINT), 0);
        QVERIFY(service.output().contains("Application terminated by SIGINT"));
    }

    void reportsToSystemd_data()
    {
        QTest::addColumn<QString>("watchdogPid");
        QTest::addColumn<bool>("keepAlive");
        QTest::newRow("watchdog on this process") << QString() << true;
        QTest::newRow("watchdog on another process") << "1" << false;
    }

    void reportsToSystemd()
    {
        QFETCH(QString, watchdogPid);
        QFETCH(bool, keepAlive);
        // Under 2 s, so the 1 s main tick would be too slow for it.
        const qint64 watchdogMs = 600;
        QProcessEnvironment variables;
        variables.insert("WATCHDOG_USEC", QString::number(watchdogMs * 1000));
        if (!watchdogPid.isEmpty())
            variables.insert("WATCHDOG_PID", watchdogPid);
        ServiceProcess service;
        QVERIFY(service.listenAsSystemd(variables));
        QVERIFY(service.start());
        QVERIFY(service.waitForNotification("READY=1"));
        QVERIFY(service.waitForNotification("STATUS=Standby"));
        QTest::qWait(int(4 * watchdogMs)); // the chart ticks in Standby meanwhile
        QCOMPARE(service.stop(SIGTERM), 0);

        QList<qint64> keepAlives;
        QByteArrayList messages;
        for (const ServiceProcess::Notification &notification : service.notifications()) {
            messages << notification.message;
            if (notification.message == "WATCHDOG=1" && messages.contains("READY=1"))
                keepAlives << notification.atMs;
        }
        QCOMPARE(messages.count("STATUS=Standby"), 1); // said once, not every tick
        QCOMPARE(messages.last(), QByteArray("STOPPING=1"));
        if (!keepAlive) {
            QVERIFY(!messages.contains("WATCHDOG=1"));
            return;
        }
        // One every half watchdog time: about eight in the wait.
        QVERIFY2(keepAlives.size() >= 5 && keepAlives.size() <= 12, qPrintable(QString::number(keepAlives.size())));
        for (int i = 1; i < keepAlives.size(); ++i)
            QVERIFY2(keepAlives[i] - keepAlives[i - 1] < watchdogMs, qPrintable(QString::number(i)));
    }

    void badCommandLineStillStarts_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "Unknown option 'bogus'.";
        QTest::newRow("missing value") << QStringList{"-i"} << "Missing value after '-i'.";
    }

    void badCommandLineStillStarts()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        ServiceProcess service;
        QVERIFY(service.start(arguments));
        QVERIFY(service.waitForOutput("Command Line Parser failed !!!"));
        QVERIFY(service.waitForOutput("POST DONE"));
        QCOMPARE(service.stop(SIGTERM), 0);
        // A failed parse leaves every option at its default, the log folder
        // included: the line lands in the standard service log.
        QFile log("/tmp/service/" + QDate::currentDate().toString("yyyy_MM_dd") + "_rararoz.err");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(log.readAll()).contains("Command-line arguments process failed:" + error));
    }

    void invalidValuesIgnored()
    {
        ServiceProcess service;
        QVERIFY(service.start({"-A", "eth0", "-i", "abc"}));
        QVERIFY(service.waitForOutput("CAN int can0"));
        QVERIFY(service.waitForLog("service", "ApplicationPOST Done"));
        QVERIFY(!service.output().contains("TEST MODE"));
        QCOMPARE(service.stop(SIGTERM), 0);
    }

    void testModeBanner()
    {
        ServiceProcess service;
        QVERIFY(service.start({"-i", "200"}));
        QVERIFY(service.waitForOutput("APPLICATION RUNNING IN THE TEST MODE"));
        QVERIFY(service.waitForLog("log", "  ~~ !!!!! APPLICATION RUNNING IN THE TEST MODE !!!!! ~~ "));
        QCOMPARE(service.stop(SIGTERM), 0);
    }

    void unwritableLogFolderKeepsRunning()
    {
        // A log folder that cannot be made: the standard-error line, and the
        // service runs on and still stops cleanly.
        QTemporaryDir dir;
        QFile blocker(dir.filePath("blocked"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        ServiceProcess service;
        service.setArguments({"--log-path", dir.filePath("blocked"), "--can-plugin", "virtualcan"});
        service.process().start();
        QVERIFY(service.process().waitForStarted());
        QVERIFY(service.waitForOutput("Cannot create folder " + dir.filePath("blocked") + "/log/"));
        QVERIFY(service.waitForOutput("POST DONE"));
        // Lines are never written anywhere else, such as the working folder.
        QVERIFY(service.waitForOutput("Cannot open file for write (" + dir.filePath("blocked") + "/service/"));
        QCOMPARE(service.stop(SIGTERM), 0);
    }
};

QTEST_GUILESS_MAIN(tst_Service)
#include "tst_service.moc"
